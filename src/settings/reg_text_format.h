#pragma once

// The text of the settings file, in the form of a registry export, read into keys and values
// and written back; no file I/O here.
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CURRENT_USER\Software\Veltrosyn\Ivrak\Hoplantern]
//   "Window position"=hex:10,00,00,00,20,00,00,00,30,01,00,00,40,01,00,00
//
//   [HKEY_CURRENT_USER\Software\Veltrosyn\Hoplantern\Options]
//   "Retries"=dword:00000003
//
// Key paths (below HKEY_CURRENT_USER, segments joined by single backslashes) and value names
// compare case-insensitively, as the registry's do, and keep the spelling under which they
// were first created.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace hl {

// Value types, numbered as the registry numbers them.
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;

struct RegValue {
    std::uint32_t type = kRegBinary;
    QByteArray data;
};

struct RegKey {
    struct Named {
        QString name; // empty for the key's default value
        RegValue value;
    };
    QString path;
    std::vector<Named> values; // in the order they were first set

    const RegValue* Find(const QString& name) const;
    // Returns whether that changed anything. An existing name keeps its first spelling.
    bool Set(const QString& name, const RegValue& value);
};

struct RegHive {
    // Every key, including each one above a key that holds values. A deque, so that a key
    // stays where it is while more are added.
    std::deque<RegKey> keys;
    // False when the text held something that was not understood: writing the keys back
    // would lose that.
    bool fullyUnderstood = true;

    const RegKey* Find(const QString& path) const;
    // The key, created with every missing key above it. A new key takes the spelling of the
    // existing keys above it, as a key in the registry would.
    RegKey& Ensure(const QStringList& segments);
};

// Whether text fits on one line of the UTF-8 file and reads back the same: no control
// character, and no half of a UTF-16 surrogate pair.
bool CanBeWritten(QStringView text);

// The segments of a key path, leaving out empty ones (a trailing or doubled backslash);
// nothing when no key is named or the path cannot be written.
std::optional<QStringList> SplitKeyPath(const QString& keyPath);

// Lenient: every line that is understood counts, whatever else the text holds.
RegHive ParseRegText(const QByteArray& bytes);
// UTF-8, parents before children and siblings in alphabetical order, as an export lists them.
QByteArray WriteRegText(const RegHive& hive);

} // namespace hl

#pragma once

// A per-user store that stands in for HKEY_CURRENT_USER: one text file in the form of a
// registry export (reg_text_format.h), holding keys (nested by backslashes) and typed values.
//
// The store keeps nothing in memory: every query reads the file, and every change re-reads
// it, changes one thing and replaces the file atomically under a lock, so that two running
// instances never corrupt it and the last one to write wins. Failures are reported by
// return value only.

#include "reg_text_format.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace hl {

class RegistryStore {
public:
    // The application profile lives below this key; each profile section is a key under it.
    static constexpr char kProfileRoot[] = "software\\Veltrosyn\\Hoplantern";
    // Files larger than this are not ours: they are not parsed, and no change may grow one past it.
    static constexpr qint64 kMaxFileSize = 1 << 20;

    // $XDG_CONFIG_HOME/Veltrosyn/Hoplantern.reg, with ~/.config when the variable is unset.
    static QString DefaultFilePath();

    explicit RegistryStore(QString filePath = DefaultFilePath());

    const QString& FilePath() const { return m_filePath; }

    // Key paths are relative to HKEY_CURRENT_USER; empty segments (a trailing or doubled
    // backslash) are ignored, so "A\B\" and "a\b" name the same key.
    std::optional<RegValue> QueryValue(const QString& keyPath, const QString& name) const;
    bool KeyExists(const QString& keyPath) const;

    // Both create the key and any missing keys above it.
    bool SetValue(const QString& keyPath, const QString& name, std::uint32_t type, const QByteArray& data);
    bool CreateKey(const QString& keyPath);

    // The application profile, as the framework's pair of the same names behaves: the read
    // creates the section key when it is missing, and returns the stored value only when it
    // is exactly four bytes long (little-endian, whatever its type); otherwise def.
    int GetProfileInt(const QString& section, const QString& entry, int def);
    bool WriteProfileInt(const QString& section, const QString& entry, int value);

private:
    QString m_filePath;
};

} // namespace hl

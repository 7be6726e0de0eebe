#include "registry_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringList>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hl {
namespace {

constexpr char kRootName[] = "HKEY_CURRENT_USER";
constexpr char kHeader[] = "Windows Registry Editor Version 5.00";
constexpr char kOldHeader[] = "REGEDIT4";

// ---------------------------------------------------------------- the file in memory

struct NamedValue {
    QString name;
    RegValue value;
};

struct Key {
    QString path;  // segments joined by single backslashes, spelt as first created
    std::vector<NamedValue> values;
};

struct Hive {
    std::vector<Key> keys;  // every key, including each one above a key that holds values
    // False when the file held something that was not understood (or could not be parsed at
    // all): rewriting it would lose that, so a copy of it is kept before the first change.
    bool clean = true;

    Key* Find(const QString& path)
    {
        for (Key& key : keys) {
            if (QString::compare(key.path, path, Qt::CaseInsensitive) == 0)
                return &key;
        }
        return nullptr;
    }

    // Returns the index of the key, creating it and every missing key above it. A new key
    // takes the spelling of the existing keys above it, as a key in the registry would.
    std::size_t Ensure(const QStringList& segments)
    {
        QString path;
        std::size_t index = 0;
        for (const QString& segment : segments) {
            const QString wanted = path.isEmpty() ? segment : path + u'\\' + segment;
            if (Key* key = Find(wanted)) {
                index = static_cast<std::size_t>(key - keys.data());
            } else {
                keys.push_back({wanted, {}});
                index = keys.size() - 1;
            }
            path = keys[index].path;
        }
        return index;
    }
};

NamedValue* FindValue(Key& key, const QString& name)
{
    for (NamedValue& value : key.values) {
        if (QString::compare(value.name, name, Qt::CaseInsensitive) == 0)
            return &value;
    }
    return nullptr;
}

// A name that cannot be written on one line of the UTF-8 file and read back the same: it
// holds a control character, or half of a UTF-16 surrogate pair.
bool CannotBeWritten(QStringView text)
{
    return !text.isValidUtf16() || std::any_of(text.begin(), text.end(), [](QChar c) {
               return c.unicode() < 0x20 || c.unicode() == 0x7f;
           });
}

// Splits a key path into its segments; nothing when no key is named or a segment could not
// be written on one line of the file.
std::optional<QStringList> SplitKeyPath(const QString& keyPath)
{
    QStringList segments = keyPath.split(u'\\', Qt::SkipEmptyParts);
    if (segments.isEmpty() || CannotBeWritten(keyPath))
        return std::nullopt;
    return segments;
}

// ---------------------------------------------------------------- parsing

int HexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

std::optional<std::uint32_t> ParseHexNumber(QStringView text)
{
    if (text.isEmpty() || text.size() > 8)
        return std::nullopt;
    std::uint32_t number = 0;
    for (QChar c : text) {
        const int digit = HexDigit(c);
        if (digit < 0)
            return std::nullopt;
        number = number << 4 | static_cast<std::uint32_t>(digit);
    }
    return number;
}

// "10,00,ff": exactly two digits per byte, as the file is written; anything shorter is more
// likely a cut-off line than a deliberate value.
std::optional<QByteArray> ParseHexBytes(QStringView text)
{
    QByteArray bytes;
    if (text.trimmed().isEmpty())
        return bytes;
    for (QStringView piece : text.split(u',')) {
        piece = piece.trimmed();
        if (piece.size() != 2)
            return std::nullopt;
        const int high = HexDigit(piece[0]);
        const int low = HexDigit(piece[1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        bytes.append(static_cast<char>(high << 4 | low));
    }
    return bytes;
}

// A value name in quotes, with \\ and \" as the only escapes; pos is left after the quotes.
std::optional<QString> ParseQuoted(QStringView line, qsizetype& pos)
{
    QString text;
    for (++pos; pos < line.size(); ++pos) {
        QChar c = line[pos];
        if (c == u'"') {
            ++pos;
            return text;
        }
        if (c == u'\\') {
            if (++pos == line.size() || (line[pos] != u'\\' && line[pos] != u'"'))
                return std::nullopt;
            c = line[pos];
        }
        text.append(c);
    }
    return std::nullopt;
}

bool ParseValueLine(QStringView line, NamedValue& out)
{
    qsizetype pos = 0;
    if (line.startsWith(u'@')) {
        out.name.clear();  // the key's default value
        pos = 1;
    } else if (line.startsWith(u'"')) {
        std::optional<QString> name = ParseQuoted(line, pos);
        if (!name || CannotBeWritten(*name))
            return false;
        out.name = *name;
    } else {
        return false;
    }
    QStringView rest = line.mid(pos).trimmed();
    if (!rest.startsWith(u'='))
        return false;
    rest = rest.mid(1).trimmed();

    if (rest.startsWith(u"dword:", Qt::CaseInsensitive)) {
        const QStringView digits = rest.mid(6);
        const std::optional<std::uint32_t> number = ParseHexNumber(digits);
        if (!number || digits.size() != 8)
            return false;
        out.value.type = kRegDword;
        out.value.data.resize(4);
        qToLittleEndian(*number, out.value.data.data());
        return true;
    }
    std::uint32_t type = kRegBinary;
    if (rest.startsWith(u"hex(", Qt::CaseInsensitive)) {
        const qsizetype close = rest.indexOf(u')');
        const std::optional<std::uint32_t> number =
            close < 0 ? std::nullopt : ParseHexNumber(rest.mid(4, close - 4));
        if (!number)
            return false;
        type = *number;
        rest = rest.mid(close + 1);
    } else if (rest.startsWith(u"hex", Qt::CaseInsensitive)) {
        rest = rest.mid(3);
    } else {
        return false;  // strings, deletions ("=-") and anything else this program never writes
    }
    if (!rest.startsWith(u':'))
        return false;
    std::optional<QByteArray> bytes = ParseHexBytes(rest.mid(1));
    if (!bytes)
        return false;
    out.value.type = type;
    out.value.data = *bytes;
    return true;
}

// A section line names a key below HKEY_CURRENT_USER; nothing for any other line.
std::optional<QStringList> ParseSectionLine(QStringView line)
{
    if (!line.startsWith(u'[') || !line.endsWith(u']'))
        return std::nullopt;
    const QStringView inner = line.mid(1, line.size() - 2);
    const qsizetype rootLength = qsizetype(sizeof kRootName) - 1;
    if (!inner.startsWith(QLatin1String(kRootName), Qt::CaseInsensitive) ||
        inner.size() <= rootLength || inner[rootLength] != u'\\')
        return std::nullopt;
    return SplitKeyPath(inner.mid(rootLength + 1).toString());
}

QString Decode(const QByteArray& bytes, bool& clean)
{
    // The registry editor exports UTF-16 with a byte-order mark; this program writes UTF-8.
    const bool utf16 = bytes.startsWith("\xff\xfe");
    QStringDecoder decoder(utf16 ? QStringDecoder::Utf16LE : QStringDecoder::Utf8);
    QByteArrayView view(bytes);
    if (utf16)
        view = view.sliced(2);
    else if (view.startsWith("\xef\xbb\xbf"))
        view = view.sliced(3);
    QString text = decoder(view);
    // The UTF-16 decoder passes an unpaired surrogate through without an error; the file
    // did not decode cleanly all the same.
    if (decoder.hasError() || !text.isValidUtf16())
        clean = false;
    return text;
}

// Lenient: every line that is understood counts, whatever else the file holds. A line that
// is not understood is skipped and marks the file as not clean.
Hive Parse(const QByteArray& bytes)
{
    Hive hive;
    const QString text = Decode(bytes, hive.clean);
    QList<QStringView> lines = QStringView(text).split(u'\n');
    // Every line this program writes ends with a newline; a last line without one is what is
    // left of a cut-off file, and may hold half a value.
    if (!lines.isEmpty() && !lines.constLast().trimmed().isEmpty())
        hive.clean = false;
    lines.removeLast();

    std::optional<std::size_t> current;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString line = lines[i].trimmed().toString();
        if (line.isEmpty() || line.startsWith(u';') || line == QLatin1String(kHeader) ||
            line == QLatin1String(kOldHeader))
            continue;
        if (line.startsWith(u'[')) {
            const std::optional<QStringList> segments = ParseSectionLine(line);
            current = segments ? std::optional(hive.Ensure(*segments)) : std::nullopt;
            if (!segments)
                hive.clean = false;
            continue;
        }
        if (line.startsWith(u'"') || line.startsWith(u'@')) {
            // Long binary values may be wrapped, each line but the last ending in a backslash.
            while (line.endsWith(u'\\') && i + 1 < lines.size()) {
                line.chop(1);
                line += lines[++i].trimmed();
            }
        }
        NamedValue parsed;
        if (!current || !ParseValueLine(line, parsed)) {
            hive.clean = false;
            continue;
        }
        Key& key = hive.keys[*current];
        if (NamedValue* existing = FindValue(key, parsed.name))
            existing->value = parsed.value;
        else
            key.values.push_back(std::move(parsed));
    }
    return hive;
}

// ---------------------------------------------------------------- writing the text

QString QuoteName(const QString& name)
{
    if (name.isEmpty())
        return QStringLiteral("@");
    QString quoted = name;
    quoted.replace(u'\\', QLatin1String("\\\\")).replace(u'"', QLatin1String("\\\""));
    return u'"' + quoted + u'"';
}

QString FormatValue(const RegValue& value)
{
    if (value.type == kRegDword && value.data.size() == 4) {
        const auto number = qFromLittleEndian<std::uint32_t>(value.data.constData());
        return QStringLiteral("dword:%1").arg(number, 8, 16, QLatin1Char('0'));
    }
    QString text = value.type == kRegBinary ? QStringLiteral("hex:")
                                            : QStringLiteral("hex(%1):").arg(value.type, 0, 16);
    text += QString::fromLatin1(value.data.toHex(','));
    return text;
}

// Parents before children and siblings in alphabetical order, as a registry export lists them.
bool PathLess(const Key* a, const Key* b)
{
    const QStringList left = a->path.split(u'\\');
    const QStringList right = b->path.split(u'\\');
    for (qsizetype i = 0; i < std::min(left.size(), right.size()); ++i) {
        if (const int order = QString::compare(left[i], right[i], Qt::CaseInsensitive))
            return order < 0;
    }
    return left.size() < right.size();
}

QByteArray Serialize(const Hive& hive)
{
    std::vector<const Key*> keys;
    for (const Key& key : hive.keys)
        keys.push_back(&key);
    std::sort(keys.begin(), keys.end(), PathLess);

    QString text = QLatin1String(kHeader) + u'\n';
    for (const Key* key : keys) {
        text += QLatin1String("\n[") + QLatin1String(kRootName) + u'\\' + key->path +
                QLatin1String("]\n");
        for (const NamedValue& value : key->values)
            text += QuoteName(value.name) + u'=' + FormatValue(value.value) + u'\n';
    }
    return text.toUtf8();
}

// ---------------------------------------------------------------- the file on disk

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

enum class FileState { Absent, Read, Unusable };

struct Snapshot {
    FileState state = FileState::Absent;
    Hive hive;
    mode_t mode = 0600;
};

Snapshot ReadFile(const QString& path)
{
    Snapshot snapshot;
    // Non-blocking, so that a FIFO put in the file's place cannot hang the program.
    FileDescriptor fd(::open(QFile::encodeName(path).constData(),
                             O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    struct stat info {};
    if (fd.get() < 0) {
        snapshot.state = errno == ENOENT || errno == ENOTDIR ? FileState::Absent
                                                             : FileState::Unusable;
        return snapshot;
    }
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        snapshot.state = FileState::Unusable;
        return snapshot;
    }
    snapshot.mode = info.st_mode & 07777;

    QByteArray bytes;
    char chunk[64 * 1024];
    while (bytes.size() <= RegistryStore::kMaxFileSize) {
        const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            snapshot.state = FileState::Unusable;
            return snapshot;
        }
        if (n == 0)
            break;
        bytes.append(chunk, n);
    }
    snapshot.state = FileState::Read;
    if (bytes.size() > RegistryStore::kMaxFileSize)
        snapshot.hive.clean = false;  // not ours, and not to be half-read
    else
        snapshot.hive = Parse(bytes);
    return snapshot;
}

// Keeps the file that is about to be replaced beside it, under the first free name of
// "<file>.damaged", "<file>.damaged.1", ... so that an earlier copy is never overwritten.
bool KeepDamagedCopy(const QString& path)
{
    const QByteArray source = QFile::encodeName(path);
    for (int i = 0; i < 100; ++i) {
        QString copy = path + QStringLiteral(".damaged");
        if (i > 0)
            copy += u'.' + QString::number(i);
        if (::link(source.constData(), QFile::encodeName(copy).constData()) == 0)
            return true;
        if (errno == EEXIST)
            continue;
        // A file system without hard links: copy the bytes instead.
        if (QFile::copy(path, copy))
            return true;
        if (!QFileInfo::exists(copy))
            return false;
    }
    return false;
}

bool WriteAll(int fd, const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done,
                                  static_cast<std::size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// Readers see either the old file or the new one, never a half-written one, and after a
// crash the file is one or the other as well.
bool ReplaceFile(const QString& path, const QByteArray& bytes, mode_t mode)
{
    const QFileInfo info(path);
    QByteArray temporary =
        QFile::encodeName(info.absolutePath() + QLatin1String("/.") + info.fileName() +
                          QLatin1String(".XXXXXX"));
    FileDescriptor fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (fd.get() < 0)
        return false;
    bool written = WriteAll(fd.get(), bytes) && ::fchmod(fd.get(), mode) == 0 &&
                   ::fsync(fd.get()) == 0;
    written = ::close(fd.release()) == 0 && written;
    if (!written || ::rename(temporary.constData(), QFile::encodeName(path).constData()) != 0) {
        ::unlink(temporary.constData());
        return false;
    }
    // Makes the rename itself durable. Some file systems refuse to sync a folder; the new
    // file is in place all the same.
    FileDescriptor folder(::open(QFile::encodeName(info.absolutePath()).constData(),
                                 O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() >= 0)
        ::fsync(folder.get());
    return true;
}

enum class Edit { Unchanged, Changed };

// One change under the lock: read the file as it is now, apply the edit, and write the result.
template <typename EditFunction>
bool ModifyFile(const QString& filePath, EditFunction edit)
{
    QString path = filePath;
    const QFileInfo link(filePath);
    // A settings file that is a symbolic link (kept with other dotfiles) stays one: the file
    // it points to is replaced.
    if (link.isSymLink() && !link.canonicalFilePath().isEmpty())
        path = link.canonicalFilePath();
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;

    // The lock lives in a file of its own, because the settings file is replaced by each write
    // and a lock on it would be a lock on a file that is about to disappear.
    FileDescriptor lock(::open(QFile::encodeName(filePath + QLatin1String(".lock")).constData(),
                               O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600));
    if (lock.get() < 0)
        return false;
    int locked;
    do {
        locked = ::flock(lock.get(), LOCK_EX);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0)
        return false;

    Snapshot snapshot = ReadFile(path);
    if (snapshot.state == FileState::Unusable)
        return false;  // there is something there that cannot be read, so it cannot be kept
    if (edit(snapshot.hive) == Edit::Unchanged)
        return true;
    const QByteArray bytes = Serialize(snapshot.hive);
    if (bytes.size() > RegistryStore::kMaxFileSize)
        return false;  // the file could not be read back
    if (snapshot.state == FileState::Read && !snapshot.hive.clean && !KeepDamagedCopy(path))
        return false;
    return ReplaceFile(path, bytes, snapshot.mode);
}

QString ProfileSection(const QString& section)
{
    return QLatin1String(RegistryStore::kProfileRoot) + u'\\' + section;
}

}  // namespace

QString RegistryStore::DefaultFilePath()
{
    // Relative values of the variable are to be ignored, as if it were unset.
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QLatin1String("/.config");
    return base + QLatin1String("/Veltrosyn/Hoplantern.reg");
}

RegistryStore::RegistryStore(QString filePath) : m_filePath(std::move(filePath)) {}

std::optional<RegValue> RegistryStore::QueryValue(const QString& keyPath,
                                                  const QString& name) const
{
    const std::optional<QStringList> segments = SplitKeyPath(keyPath);
    if (!segments)
        return std::nullopt;
    Snapshot snapshot = ReadFile(m_filePath);
    Key* key = snapshot.hive.Find(segments->join(u'\\'));
    NamedValue* value = key ? FindValue(*key, name) : nullptr;
    if (!value)
        return std::nullopt;
    return value->value;
}

bool RegistryStore::KeyExists(const QString& keyPath) const
{
    const std::optional<QStringList> segments = SplitKeyPath(keyPath);
    return segments && ReadFile(m_filePath).hive.Find(segments->join(u'\\')) != nullptr;
}

bool RegistryStore::SetValue(const QString& keyPath, const QString& name, std::uint32_t type,
                             const QByteArray& data)
{
    const std::optional<QStringList> segments = SplitKeyPath(keyPath);
    if (!segments || CannotBeWritten(name))
        return false;
    return ModifyFile(m_filePath, [&](Hive& hive) {
        Key& key = hive.keys[hive.Ensure(*segments)];
        if (NamedValue* existing = FindValue(key, name)) {
            if (existing->value.type == type && existing->value.data == data)
                return Edit::Unchanged;
            existing->value = {type, data};  // the name keeps its first spelling
        } else {
            key.values.push_back({name, {type, data}});
        }
        return Edit::Changed;
    });
}

bool RegistryStore::CreateKey(const QString& keyPath)
{
    const std::optional<QStringList> segments = SplitKeyPath(keyPath);
    if (!segments)
        return false;
    return ModifyFile(m_filePath, [&](Hive& hive) {
        const std::size_t before = hive.keys.size();
        hive.Ensure(*segments);
        return hive.keys.size() == before ? Edit::Unchanged : Edit::Changed;
    });
}

int RegistryStore::GetProfileInt(const QString& section, const QString& entry, int def)
{
    const QString key = ProfileSection(section);
    CreateKey(key);  // a section that cannot be created is simply read as it is
    const std::optional<RegValue> value = QueryValue(key, entry);
    if (!value || value->data.size() != 4)
        return def;
    return qFromLittleEndian<qint32>(value->data.constData());
}

bool RegistryStore::WriteProfileInt(const QString& section, const QString& entry, int value)
{
    QByteArray data(4, Qt::Uninitialized);
    qToLittleEndian<qint32>(value, data.data());
    return SetValue(ProfileSection(section), entry, kRegDword, data);
}

}  // namespace hl

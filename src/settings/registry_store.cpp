#include "registry_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>
#include <QtEndian>

#include <chrono>
#include <utility>

namespace hl {
namespace {

using namespace std::chrono_literals;

// One change holds the lock for the time it takes to read and write at most a megabyte. A
// lock of a process that has ended is taken over at once; this is for one that hangs, or
// runs on another machine sharing the home folder.
constexpr std::chrono::milliseconds kStaleLockTime = 10s;

enum class FileState { Absent, Read, Unusable };

struct Snapshot {
    FileState state = FileState::Absent;
    RegHive hive;
};

Snapshot ReadFile(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return {};
    // Only a regular file is opened: a FIFO in its place would hang the program, and a
    // device such as /dev/zero would never end.
    QFile file(path);
    if (!info.isFile() || !file.open(QIODevice::ReadOnly))
        return { FileState::Unusable, {} };
    const QByteArray bytes = file.read(RegistryStore::kMaxFileSize + 1);
    if (file.error() != QFileDevice::NoError)
        return { FileState::Unusable, {} };
    Snapshot snapshot { FileState::Read, {} };
    if (bytes.size() > RegistryStore::kMaxFileSize)
        snapshot.hive.fullyUnderstood = false; // not ours, and not to be half-read
    else
        snapshot.hive = ParseRegText(bytes);
    return snapshot;
}

// Keeps the file that is about to be replaced beside it, under the first free name of
// "<file>.damaged", "<file>.damaged.1", ... so that an earlier copy is never overwritten.
bool KeepDamagedCopy(const QString& path)
{
    for (int i = 0; i < 100; ++i) {
        const QString copy = path + QLatin1String(".damaged") + (i > 0 ? u'.' + QString::number(i) : QString());
        if (!QFile::exists(copy))
            return QFile::copy(path, copy);
    }
    return false;
}

// One change under the lock: read the file as it is now, let edit change the keys (it
// returns whether it did), and replace the file with the result. Readers see either the
// old file or the new one, never a half-written one, and so does a crash.
template <typename Edit> bool ModifyFile(const QString& path, Edit edit)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    // The lock is a file of its own, because the settings file is replaced by each change.
    QLockFile lock(path + QLatin1String(".lock"));
    lock.setStaleLockTime(kStaleLockTime);
    if (!lock.lock())
        return false;

    Snapshot snapshot = ReadFile(path);
    if (snapshot.state == FileState::Unusable)
        return false; // there is something there that cannot be read, so it cannot be kept
    if (!edit(snapshot.hive))
        return true;
    const QByteArray bytes = WriteRegText(snapshot.hive);
    if (bytes.size() > RegistryStore::kMaxFileSize)
        return false; // the file could not be read back
    // A settings file that is a symbolic link (kept with other dotfiles) stays one: the save
    // file replaces the file it points to, and the damaged copy goes beside that.
    if (snapshot.state == FileState::Read && !snapshot.hive.fullyUnderstood
        && !KeepDamagedCopy(QFileInfo(path).canonicalFilePath()))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // A replaced file keeps its permissions; a new one is the user's alone.
    if (snapshot.state == FileState::Absent)
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return file.write(bytes) == bytes.size() && file.commit();
}

QString ProfileSection(const QString& section)
{
    return QLatin1String(RegistryStore::kProfileRoot) + u'\\' + section;
}

} // namespace

QString RegistryStore::DefaultFilePath()
{
    // Relative values of the variable are to be ignored, as if it were unset.
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QLatin1String("/.config");
    return base + QLatin1String("/Veltrosyn/Hoplantern.reg");
}

RegistryStore::RegistryStore(QString filePath)
    : m_filePath(std::move(filePath))
{
}

std::optional<RegValue> RegistryStore::QueryValue(const QString& keyPath, const QString& name) const
{
    const std::optional<QStringList> segments = SplitKeyPath(keyPath);
    if (!segments)
        return std::nullopt;
    const RegHive hive = ReadFile(m_filePath).hive;
    const RegKey* key = hive.Find(segments->join(u'\\'));
    const RegValue* value = key ? key->Find(name) : nullptr;
    return value ? std::optional(*value) : std::nullopt;
}

bool RegistryStore::KeyExists(const QString& keyPath) const
{
    const std::optional<QStringList> segments = SplitKeyPath(keyPath);
    return segments && ReadFile(m_filePath).hive.Find(segments->join(u'\\'));
}

bool RegistryStore::SetValue(const QString& keyPath, const QString& name, std::uint32_t type, const QByteArray& data)
{
    const std::optional<QStringList> segments = SplitKeyPath(keyPath);
    if (!segments || !CanBeWritten(name))
        return false;
    return ModifyFile(m_filePath, [&](RegHive& hive) { return hive.Ensure(*segments).Set(name, { type, data }); });
}

bool RegistryStore::CreateKey(const QString& keyPath)
{
    const std::optional<QStringList> segments = SplitKeyPath(keyPath);
    if (!segments)
        return false;
    return ModifyFile(m_filePath, [&](RegHive& hive) {
        const std::size_t before = hive.keys.size();
        hive.Ensure(*segments);
        return hive.keys.size() != before;
    });
}

int RegistryStore::GetProfileInt(const QString& section, const QString& entry, int def)
{
    const QString key = ProfileSection(section);
    CreateKey(key); // a section that cannot be created is simply read as it is
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

} // namespace hl

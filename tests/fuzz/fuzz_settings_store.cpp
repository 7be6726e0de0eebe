// The settings file reader, fed any file a user, another program or a crash could leave
// in the settings file's place. The store's own source is compiled into this target, so
// that its parser and writer can be checked directly, besides the public calls that read
// and change the file on disk.
//
// Properties: whatever the file holds, reading it never crashes; every value read from
// it can be queried; a file the reader fully understood is written back to the same
// keys and values; and a change never loses anything: every value that was there before
// is still there afterwards, and a file that was not fully understood is kept beside it
// byte for byte.
#include "../../src/settings/registry_store.cpp"

#include "fuzz_check.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <memory>

namespace {

std::unique_ptr<QTemporaryDir> g_dir;

const hl::Key* FindKey(const hl::Hive& hive, const QString& path)
{
    for (const hl::Key& key : hive.keys) {
        if (QString::compare(key.path, path, Qt::CaseInsensitive) == 0)
            return &key;
    }
    return nullptr;
}

const hl::NamedValue* FindNamed(const hl::Key& key, const QString& name)
{
    for (const hl::NamedValue& value : key.values) {
        if (QString::compare(value.name, name, Qt::CaseInsensitive) == 0)
            return &value;
    }
    return nullptr;
}

bool SameHive(const hl::Hive& a, const hl::Hive& b)
{
    if (a.keys.size() != b.keys.size())
        return false;
    for (const hl::Key& key : a.keys) {
        const hl::Key* other = FindKey(b, key.path);
        if (!other || other->path != key.path || other->values.size() != key.values.size())
            return false;
        for (size_t i = 0; i < key.values.size(); ++i) {
            const hl::NamedValue& x = key.values[i];
            const hl::NamedValue& y = other->values[i];
            if (x.name != y.name || x.value.type != y.value.type || x.value.data != y.value.data)
                return false;
        }
    }
    return true;
}

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void CheckParser(const hl::Hive& hive)
{
    const QByteArray written = hl::Serialize(hive);
    const hl::Hive reread = hl::Parse(written);
    // What this program writes, it reads back completely, whatever it had read before.
    FUZZ_CHECK(reread.clean);
    FUZZ_CHECK(hl::Serialize(reread) == written);
    // A file that was read completely is written back with the same keys and values;
    // one that was not is kept as it was before it is replaced (checked below).
    if (hive.clean)
        FUZZ_CHECK(SameHive(reread, hive));
}

// The same file through the store's public calls, on disk.
void CheckStore(const QByteArray& bytes, const hl::Hive& hive)
{
    const QString path = g_dir->filePath(QStringLiteral("Hoplantern.reg"));
    {
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        FUZZ_CHECK(file.write(bytes) == bytes.size());
    }
    hl::RegistryStore store(path);
    for (const hl::Key& key : hive.keys) {
        FUZZ_CHECK(store.KeyExists(key.path));
        for (const hl::NamedValue& value : key.values) {
            const std::optional<hl::RegValue> got = store.QueryValue(key.path, value.name);
            FUZZ_CHECK(got && got->type == value.value.type && got->data == value.value.data);
        }
    }

    // One change, as the window makes when it is closed. It leaves the file as it is
    // when the value is stored already.
    const QString options = QStringLiteral("software\\Veltrosyn\\Hoplantern\\Options");
    const hl::Key* section = FindKey(hive, options);
    const hl::NamedValue* old = section ? FindNamed(*section, QStringLiteral("Retries")) : nullptr;
    const bool changes = !old || old->value.type != hl::kRegDword || old->value.data != QByteArray("\x07\0\0\0", 4);
    FUZZ_CHECK(store.WriteProfileInt(QStringLiteral("Options"), QStringLiteral("Retries"), 7));
    FUZZ_CHECK(store.GetProfileInt(QStringLiteral("Options"), QStringLiteral("Retries"), 3) == 7);
    for (const hl::Key& key : hive.keys) {
        FUZZ_CHECK(store.KeyExists(key.path));
        for (const hl::NamedValue& value : key.values) {
            if (QString::compare(key.path, options, Qt::CaseInsensitive) == 0
                && QString::compare(value.name, QStringLiteral("Retries"), Qt::CaseInsensitive) == 0)
                continue;
            const std::optional<hl::RegValue> got = store.QueryValue(key.path, value.name);
            FUZZ_CHECK(got && got->type == value.value.type && got->data == value.value.data);
        }
    }
    const QString damaged = path + QStringLiteral(".damaged");
    FUZZ_CHECK(QFile::exists(damaged) == (changes && !hive.clean));
    if (changes && !hive.clean)
        FUZZ_CHECK(ReadAll(damaged) == bytes);
    QFile::remove(damaged);
    QFile::remove(path);
    QFile::remove(path + QStringLiteral(".lock"));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication app(*argc, *argv);
    // Every input is written to disk and changed once; in memory where the system has a
    // file system there, as the writes are synced.
    const QString shm = QStringLiteral("/dev/shm");
    g_dir = QFileInfo(shm).isWritable() ? std::make_unique<QTemporaryDir>(shm + QStringLiteral("/hoplantern-fuzz-XXXXXX"))
                                        : std::make_unique<QTemporaryDir>();
    FUZZ_CHECK(g_dir->isValid());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const hl::Hive hive = hl::Parse(bytes);
    CheckParser(hive);
    CheckStore(bytes, hive);
    return 0;
}

// The settings file reader, fed any file a user, another program or a crash could leave
// in the settings file's place: the text format directly, and the store's public calls on
// the same bytes on disk.
//
// Properties: whatever the file holds, reading it never crashes; what the writer writes,
// the parser reads back completely and writes again byte for byte; a file the parser fully
// understood is written back to the same keys and values; every value read can be queried
// through the store; and a change never loses anything: every value that was there before
// is still there afterwards, and a file that was not fully understood is kept beside it
// byte for byte.
#include "settings/registry_store.h"

#include "fuzz_check.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <memory>

namespace {

std::unique_ptr<QTemporaryDir> g_dir;

const QString kOptions = QStringLiteral("software\\Veltrosyn\\Hoplantern\\Options");
const QString kRetries = QStringLiteral("Retries");

bool SameValue(const hl::RegValue* a, const hl::RegValue& b)
{
    return a && a->type == b.type && a->data == b.data;
}

// The same keys, spelt the same, with the same values in the same order.
bool SameHive(const hl::RegHive& a, const hl::RegHive& b)
{
    if (a.keys.size() != b.keys.size())
        return false;
    for (const hl::RegKey& key : a.keys) {
        const hl::RegKey* other = b.Find(key.path);
        if (!other || other->path != key.path || other->values.size() != key.values.size())
            return false;
        for (size_t i = 0; i < key.values.size(); ++i) {
            if (other->values[i].name != key.values[i].name || !SameValue(&other->values[i].value, key.values[i].value))
                return false;
        }
    }
    return true;
}

void CheckText(const hl::RegHive& hive)
{
    const QByteArray written = hl::WriteRegText(hive);
    const hl::RegHive reread = hl::ParseRegText(written);
    FUZZ_CHECK(reread.fullyUnderstood);
    FUZZ_CHECK(hl::WriteRegText(reread) == written);
    if (hive.fullyUnderstood)
        FUZZ_CHECK(SameHive(reread, hive));
}

// Every value of hive can be queried through the store, but for the one skipped.
void CheckQueries(
    const hl::RegistryStore& store, const hl::RegHive& hive, const QString& skipKey = {}, const QString& skipName = {})
{
    for (const hl::RegKey& key : hive.keys) {
        FUZZ_CHECK(store.KeyExists(key.path));
        const bool inSkipped = QString::compare(key.path, skipKey, Qt::CaseInsensitive) == 0;
        for (const hl::RegKey::Named& named : key.values) {
            if (inSkipped && QString::compare(named.name, skipName, Qt::CaseInsensitive) == 0)
                continue;
            const std::optional<hl::RegValue> got = store.QueryValue(key.path, named.name);
            FUZZ_CHECK(got && SameValue(&*got, named.value));
        }
    }
}

void CheckStore(const QByteArray& bytes, const hl::RegHive& hive)
{
    const QString path = g_dir->filePath(QStringLiteral("Hoplantern.reg"));
    {
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        FUZZ_CHECK(file.write(bytes) == bytes.size());
    }
    hl::RegistryStore store(path);
    CheckQueries(store, hive);

    // One change, as the window makes when it is closed. It leaves the file as it is when
    // the value is stored already.
    const hl::RegKey* section = hive.Find(kOptions);
    const bool changes
        = !SameValue(section ? section->Find(kRetries) : nullptr, { hl::kRegDword, QByteArray("\x07\0\0\0", 4) });
    FUZZ_CHECK(store.WriteProfileInt(QStringLiteral("Options"), kRetries, 7));
    FUZZ_CHECK(store.GetProfileInt(QStringLiteral("Options"), kRetries, 3) == 7);
    CheckQueries(store, hive, kOptions, kRetries);

    const QString damaged = path + QStringLiteral(".damaged");
    const bool kept = changes && !hive.fullyUnderstood;
    FUZZ_CHECK(QFile::exists(damaged) == kept);
    if (kept) {
        QFile copy(damaged);
        FUZZ_CHECK(copy.open(QIODevice::ReadOnly) && copy.readAll() == bytes);
    }
    QFile::remove(damaged);
    QFile::remove(path);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication app(*argc, *argv);
    // Every input is written to disk and changed once; in memory where the system has a
    // file system there, as the writes are synced.
    const QString shm = QStringLiteral("/dev/shm");
    g_dir = QFileInfo(shm).isWritable()
        ? std::make_unique<QTemporaryDir>(shm + QStringLiteral("/hoplantern-fuzz-XXXXXX"))
        : std::make_unique<QTemporaryDir>();
    FUZZ_CHECK(g_dir->isValid());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const hl::RegHive hive = hl::ParseRegText(bytes);
    CheckText(hive);
    CheckStore(bytes, hive);
    return 0;
}

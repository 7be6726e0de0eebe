#include "settings/settings_ops.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <memory>

#include <sys/stat.h>

using namespace hl;

namespace {

const QString kProgram = QString::fromLatin1(kProgramKey);
const QString kOptions = QStringLiteral("software\\Veltrosyn\\Hoplantern\\Options");
const QString kConcurrentKey = QStringLiteral("Software\\Concurrency");
constexpr int kValuesPerWriter = 200;
const QByteArray kGood = "[HKEY_CURRENT_USER\\Software\\Veltrosyn\\Hoplantern\\Options]\n"
                         "\"Retries\"=dword:00000009\n";
// What LoadAll gives from an empty store: the three options, the rectangle, the order.
const QList<int> kDefaults { 3, 16, 3000, 10, 20, 30, 40, 0, 1, 2, 3, 4, 0, 0, 0, 0, 0 };

QByteArray Read(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void Write(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

// A file as the registry editor exports it: UTF-16, little-endian, with a byte-order mark.
QByteArray Utf16(const QString& text)
{
    return "\xff\xfe" + QByteArray(QStringEncoder(QStringEncoder::Utf16LE).encode(text));
}

// Everything the window loads, in its order, over the rectangle {10,20,30,40} and the
// column order 0 to 4: the three options, the rectangle's sides, then the ten entries.
QList<int> LoadAll(RegistryStore& store)
{
    int tries = 0, hops = 0, timeout = 0;
    WindowRect rect { 10, 20, 30, 40 };
    int order[kColumnOrderEntries] = { 0, 1, 2, 3, 4 };
    LoadWindowPosition(store, rect);
    LoadOptions(store, tries, hops, timeout);
    LoadColumnOrder(store, order);
    return QList<int> { tries, hops, timeout, rect.left, rect.top, rect.right, rect.bottom }
    + QList<int>(std::begin(order), std::end(order));
}

// A child process: writes its own values one change at a time.
int WriteValues(const QString& path, const QString& prefix)
{
    RegistryStore store(path);
    for (int i = 0; i < kValuesPerWriter; ++i) {
        if (!store.SetValue(kConcurrentKey, prefix + QString::number(i), kRegBinary, QByteArray::number(i)))
            return 1;
    }
    return 0;
}

} // namespace

class SettingsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_path;

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_path = m_dir->filePath(QStringLiteral("config/Veltrosyn/Hoplantern.reg"));
    }

    void windowValuesComeBackThroughALinkedFile()
    {
        // Kept with other dotfiles: the link stays a link.
        const QString target = m_dir->filePath(QStringLiteral("dotfiles/Hoplantern.reg"));
        Write(target, "");
        QVERIFY(QDir().mkpath(QFileInfo(m_path).absolutePath()) && QFile::link(target, m_path));
        RegistryStore store(m_path);
        QVERIFY(SaveWindowPosition(store, { -1200, 40, -300, 700 }));
        const int dragged[kColumnOrderEntries] = { 3, 0, 1, 2, 4 };
        QVERIFY(SaveColumnOrder(store, dragged));
        RegistryStore reopened(m_path);
        QCOMPARE(LoadAll(reopened).mid(3), QList<int>({ -1200, 40, -300, 700, 3, 0, 1, 2, 4, 0, 0, 0, 0, 0 }));
        QVERIFY(QFileInfo(m_path).isSymLink());
        QVERIFY(Read(target).contains("\"Window position\"=hex:50,fb,ff,ff,28,00"));
    }

    void defaultPathFollowsXdgConfigHome()
    {
        const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", "/srv/conf");
        const QString set = RegistryStore::DefaultFilePath();
        qputenv("XDG_CONFIG_HOME", "relative/conf"); // not absolute: to be ignored
        const QString relative = RegistryStore::DefaultFilePath();
        qputenv("XDG_CONFIG_HOME", saved);
        QCOMPARE(set, QStringLiteral("/srv/conf/Veltrosyn/Hoplantern.reg"));
        QCOMPARE(relative, QDir::homePath() + "/.config/Veltrosyn/Hoplantern.reg");
    }

    void columnOrderMustBeAPermutation()
    {
        int order[kColumnOrderEntries] = { 3, 0, 1, 2, 4, 9, 9 };
        QVERIFY(IsColumnPermutation(order));
        for (int bad : { -1, 0, 5 }) { // 0 twice
            order[0] = bad;
            QVERIFY(!IsColumnPermutation(order));
        }
    }

    // What the window loads from a file (or from none), and the file after it saved options.
    void fileIsReadAndRewritten_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: no file
        QTest::addColumn<QList<int>>("loaded"); // as LoadAll gives them
        QTest::addColumn<bool>("damaged"); // kept as .damaged before the first change
        QTest::addColumn<QByteArray>("kept"); // what the rewritten file holds
        const QList<int> rect = kDefaults.mid(3, 4), order = kDefaults.mid(7);
        const QList<int> tries9 = QList<int> { 9, 16, 3000 } + rect + order;
        const QByteArray program = "[HKEY_CURRENT_USER\\Software\\Veltrosyn\\Ivrak\\Hoplantern]\n";
        const QByteArray saved = "\"Retries\"=dword:00000005\n\"Hop number\"=dword:00000006\n"
                                 "\"Timeout\"=dword:00000007\n\n";
        const QByteArray defaultRect = "\"Window position\"=hex:0a,00,00,00,14,00,00,00,1e,00,00,00,28,00,00,00\n";
        const QByteArray defaultOrder = "\"Column order\"=hex:00,00,00,00,01,00,00,00,02,00,00,00,"
                                        "03,00,00,00,04,00,00,00,"
            + QByteArray("00,").repeated(19) + "00\n";
        // The binary defaults are written by the load; "Software" is created first, by the
        // program key, and keeps that spelling.
        QTest::newRow("first run") << QByteArray() << kDefaults << false
                                   << "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software]\n\n"
                                      "[HKEY_CURRENT_USER\\Software\\Veltrosyn]\n\n"
                                      "[HKEY_CURRENT_USER\\Software\\Veltrosyn\\Hoplantern]\n\n"
                                      "[HKEY_CURRENT_USER\\Software\\Veltrosyn\\Hoplantern\\Options]\n"
                + saved + "[HKEY_CURRENT_USER\\Software\\Veltrosyn\\Ivrak]\n\n" + program + defaultRect + defaultOrder;
        // As a registry export writes it: CRLF, a wrapped binary value, other spellings.
        QTest::newRow("keys and names in any case")
            << QByteArray("Windows Registry Editor Version 5.00\r\n\r\n"
                          "[HKEY_CURRENT_USER\\SOFTWARE\\veltrosyn\\IVRAK\\hoplantern\\]\r\n"
                          "\"WINDOW POSITION\"=hex:01,00,00,00,02,00,00,00,\\\r\n"
                          "  03,00,00,00,04,00,00,00\r\n"
                          "\"say \\\"hi\\\" \\\\ [there]\"=hex:01\r\n\r\n"
                          "[hkey_current_user\\SOFTWARE\\veltrosyn\\Hoplantern\\OPTIONS]\r\n"
                          "\"retries\"=dword:00000007\r\n")
            << QList<int> { 7, 16, 3000, 1, 2, 3, 4 } + order << false
            << "[HKEY_CURRENT_USER\\SOFTWARE\\veltrosyn\\Hoplantern\\OPTIONS]\n\"r" + saved.mid(2)
                + "[HKEY_CURRENT_USER\\SOFTWARE\\veltrosyn\\IVRAK]\n\n"
                  "[HKEY_CURRENT_USER\\SOFTWARE\\veltrosyn\\IVRAK\\hoplantern]\n"
                  "\"WINDOW POSITION\"=hex:01,00,00,00,02,00,00,00,03,00,00,00,04,00,00,00\n"
                  "\"say \\\"hi\\\" \\\\ [there]\"=hex:01\n"
                + defaultOrder;
        const QString name = QStringLiteral("Zeit \u00fcber \U0001F680");
        QTest::newRow("registry editor export") << Utf16(
            "Windows Registry Editor Version 5.00\r\n\r\n" + QString::fromUtf8(kGood) + '"' + name + "\"=hex:01\r\n")
                                                << tries9 << false << '"' + name.toUtf8() + "\"=hex:01\n";
        // Four bytes count whatever their type; values of other types survive a rewrite.
        QTest::newRow("profile values must be four bytes")
            << QByteArray("[HKEY_CURRENT_USER\\Software\\Veltrosyn\\Hoplantern\\Options]\n"
                          "\"Retries\"=hex:05,00\n\"Hop number\"=hex:1e,00,00,00\n"
                          "\"Timeout\"=hex(b):10,27,00,00,00,00,00,00\n"
                          "\"Limit\"=hex(b):10,27,00,00,00,00,00,00\n")
            << QList<int> { 3, 30, 3000 } + rect + order << false
            << QByteArray("\"Limit\"=hex(b):10,27,00,00,00,00,00,00\n");
        // Binary values of other lengths: what fits is used, and the load replaces only a
        // missing value or one longer than 40 bytes (with the default).
        const QByteArray left = "\"Window position\"=hex:64,00,00,00\n";
        const QByteArray long20 = "\"Window position\"=hex:" + QByteArray("7f,").repeated(19) + "7f\n";
        const QByteArray empty = "\"Window position\"=hex:\n";
        const QByteArray long44 = "\"Column order\"=hex:" + QByteArray("01,").repeated(43) + "01\n";
        const QByteArray two = "\"Column order\"=hex:04,00,00,00,03,00,00,00\n";
        const std::tuple<const char*, QByteArray, QList<int>, QByteArray> lengths[] = {
            { "4-byte position sets only left", left, QList<int> { 100, 20, 30, 40 } + order, left + defaultOrder },
            { "20-byte position is kept but not used", long20, rect + order, long20 + defaultOrder },
            { "empty position changes nothing", empty, rect + order, empty + defaultOrder },
            { "44-byte order is replaced by the default", long44, rect + order, defaultOrder + defaultRect },
            { "8-byte order sets two entries", two, rect + QList<int> { 4, 3 } + order.mid(2), two + defaultRect },
        };
        for (const auto& [row, value, loaded, after] : lengths)
            QTest::newRow(row) << program + value << QList<int> { 3, 16, 3000 } + loaded << false << program + after;
        const std::tuple<const char*, QByteArray, QList<int>> damaged[] = {
            { "not a settings file", "<html>\n{ \"a\": 1 }\n", kDefaults },
            { "oversized", kGood + QByteArray(2 << 20, '\n'), kDefaults },
            { "truncated", // after a whole byte of the last value
                kGood + program + "\"Column order\"=hex:03,00,00,00,00,00", tries9 },
            { "partly damaged", kGood + "\"Hop number\"=dword:zz\n\x01\x02\n", tries9 },
            { "not UTF-8", kGood + "\"caf\xe9\"=dword:00000001\n", tries9 },
            { "value name without its opening quote", kGood + "XRetries\"=dword:00000005\n", tries9 },
            // Half a character in a key name: no UTF-8 file can hold that name.
            { "UTF-16 with an unpaired surrogate",
                Utf16(QString::fromUtf8(kGood) + "[HKEY_CURRENT_USER\\Software\\A" + QChar(0xDE79)
                    + "]\n\"x\"=dword:00000001\n"),
                tries9 },
        };
        for (const auto& [row, content, loaded] : damaged)
            QTest::newRow(row) << content << loaded << true << QByteArray();
    }

    void fileIsReadAndRewritten()
    {
        QFETCH(QByteArray, content);
        QFETCH(QList<int>, loaded);
        QFETCH(bool, damaged);
        QFETCH(QByteArray, kept);
        if (!content.isNull())
            Write(m_path, content);
        // A new file is the user's alone; a rewritten one keeps its permissions.
        const QFile::Permissions permissions = content.isNull()
            ? QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser
            : QFileInfo(m_path).permissions();
        RegistryStore store(m_path);
        QCOMPARE(LoadAll(store), loaded);
        QVERIFY(store.KeyExists(kOptions)); // the load creates the section, but no option
        QCOMPARE(store.QueryValue(kOptions, QStringLiteral("Timeout")).has_value(), content.contains("Timeout"));
        QVERIFY(SaveOptions(store, 5, 6, 7));

        QCOMPARE(Read(m_path + ".damaged"), damaged ? content : QByteArray());
        QVERIFY(!QFile::exists(m_path + ".damaged.1")); // the rewritten file is clean
        QVERIFY(Read(m_path).contains(kept));
        QCOMPARE(QFileInfo(m_path).permissions(), permissions);
        RegistryStore reopened(m_path);
        QCOMPARE(LoadAll(reopened), QList<int>({ 5, 6, 7 }) + loaded.mid(3));

        // Damaged again: an earlier copy stays, the new one goes beside it.
        Write(m_path, "garbage\n");
        QVERIFY(SaveWindowPosition(store, { 1, 1, 1, 1 }));
        QCOMPARE(Read(m_path + (damaged ? ".damaged.1" : ".damaged")), QByteArray("garbage\n"));
        QCOMPARE(Read(m_path + ".damaged"), damaged ? content : QByteArray("garbage\n"));
    }

    void familyAndFlowSitBesideTheOptions_data()
    {
        QTest::addColumn<QByteArray>("options"); // the Options section's values in the file
        QTest::addColumn<int>("family");
        QTest::addColumn<bool>("flow");
        QTest::newRow("a file from before them") << QByteArray("\"Retries\"=dword:00000005\n") << 0 << false;
        QTest::newRow("IPv6, one flow") << QByteArray(
            "\"Address family\"=dword:00000006\n\"Fixed flow\"=dword:00000001\n")
                                        << 6 << true;
        QTest::newRow("IPv4") << QByteArray("\"Address family\"=dword:00000004\n") << 4 << false;
        QTest::newRow("no such family, any flow but 0")
            << QByteArray("\"Address family\"=dword:00000005\n\"Fixed flow\"=dword:00000007\n") << 0 << true;
    }
    void familyAndFlowSitBesideTheOptions()
    {
        QFETCH(QByteArray, options);
        QFETCH(int, family);
        QFETCH(bool, flow);
        Write(m_path, "[HKEY_CURRENT_USER\\Software\\Veltrosyn\\Hoplantern\\Options]\n" + options);
        RegistryStore store(m_path);
        int loadedFamily = -1;
        bool loadedFlow = !flow;
        LoadTraceChoices(store, loadedFamily, loadedFlow);
        QCOMPARE(loadedFamily, family);
        QCOMPARE(loadedFlow, flow);
        QVERIFY(SaveTraceChoices(store, family, flow));
        QVERIFY(Read(m_path).contains("\"Address family\"=dword:0000000" + QByteArray::number(family)
            + "\n\"Fixed flow\"=dword:0000000" + (flow ? "1\n" : "0\n")));
    }

    void unusableStoreGivesDefaultsAndStaysAsItIs_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("FIFO") << "fifo"; // would block a reader that waits for data
        QTest::newRow("link to /dev/zero") << "/dev/zero"; // never ends
        QTest::newRow("folder in the file's place") << "folder";
        QTest::newRow("file in a folder's place") << "blocker"; // fails even for root
    }

    void unusableStoreGivesDefaultsAndStaysAsItIs()
    {
        QFETCH(QString, kind);
        // What stands in the store's way, and where the store is.
        const QString thing = kind == "blocker" ? m_dir->filePath(QStringLiteral("blocker")) : m_path;
        const QString path = kind == "blocker" ? thing + "/Veltrosyn/Hoplantern.reg" : m_path;
        QVERIFY(QDir().mkpath(QFileInfo(m_path).absolutePath()));
        if (kind == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(m_path).constData(), 0600), 0);
        else if (kind == "folder")
            QVERIFY(QDir().mkpath(m_path));
        else if (kind == "blocker")
            Write(thing, "keep me");
        else
            QVERIFY(QFile::link(kind, m_path));
        const auto type = [&] {
            struct stat info { };
            return ::lstat(QFile::encodeName(thing).constData(), &info) == 0 ? info.st_mode & S_IFMT : 0;
        };
        const auto before = type();

        RegistryStore store(path);
        QCOMPARE(LoadAll(store), kDefaults);
        // It cannot be read, so it is not replaced either: it may be someone's on purpose.
        QVERIFY(!SaveOptions(store, 5, 6, 7));
        QVERIFY(!SaveWindowPosition(store, { 5, 6, 7, 8 }));
        QVERIFY(!store.CreateKey(kOptions));
        QCOMPARE(type(), before);
        if (kind == "blocker")
            QCOMPARE(Read(thing), QByteArray("keep me"));
        QVERIFY(!QFile::exists(path + ".damaged"));
    }

    void badArgumentsAreRefusedAndChangeNothing()
    {
        RegistryStore store(m_path);
        QVERIFY(SaveOptions(store, 1, 2, 3));
        const QByteArray before = Read(m_path);
        const QByteArray one(4, 1);
        QVERIFY(!store.SetValue(QString(), QStringLiteral("a"), kRegDword, one));
        QVERIFY(!store.SetValue(QStringLiteral("\\\\"), QStringLiteral("a"), kRegDword, one));
        QVERIFY(!store.SetValue(kOptions, QStringLiteral("two\nlines"), kRegDword, one));
        QVERIFY(!store.CreateKey(QStringLiteral("Software\\new\nline")));
        // Half a UTF-16 character: the UTF-8 file cannot hold it.
        QVERIFY(!store.SetValue(kOptions, QStringLiteral("half ") + QChar(0xD800), kRegDword, one));
        QVERIFY(!store.CreateKey(QStringLiteral("Software\\half ") + QChar(0xDC00)));
        QVERIFY(!store.SetValue(
            kOptions, QStringLiteral("huge"), kRegBinary, QByteArray(RegistryStore::kMaxFileSize, 'x')));
        QCOMPARE(Read(m_path), before);
    }

    void concurrentWritersAllLand()
    {
        QProcess writers[2];
        for (int i = 0; i < 2; ++i)
            writers[i].start(QCoreApplication::applicationFilePath(),
                { QStringLiteral("--write-values"), m_path, QStringLiteral("w%1-").arg(i) });
        for (QProcess& writer : writers) {
            QVERIFY(writer.waitForFinished(-1));
            QCOMPARE(writer.exitStatus(), QProcess::NormalExit);
            QCOMPARE(writer.exitCode(), 0);
        }
        RegistryStore store(m_path);
        for (int w = 0; w < 2; ++w) {
            for (int i = 0; i < kValuesPerWriter; ++i) {
                const QString name = QStringLiteral("w%1-%2").arg(w).arg(i);
                const auto value = store.QueryValue(kConcurrentKey, name);
                QVERIFY2(value && value->data == QByteArray::number(i), qPrintable(name));
            }
        }
        QVERIFY(!QFile::exists(m_path + ".damaged"));
    }
};

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--write-values") == 0)
        return WriteValues(QString::fromLocal8Bit(argv[2]), QString::fromLatin1(argv[3]));
    QCoreApplication app(argc, argv);
    SettingsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_settings.moc"

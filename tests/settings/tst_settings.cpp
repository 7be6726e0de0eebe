#include "settings/settings_ops.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>
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

QByteArray Dword(int value)
{
    QByteArray data(4, Qt::Uninitialized);
    qToLittleEndian<qint32>(value, data.data());
    return data;
}

// A file as the registry editor exports it: UTF-16, little-endian, with a byte-order mark.
QByteArray Utf16(const QString& text)
{
    QByteArray bytes("\xff\xfe");
    for (QChar c : text) {
        bytes.append(char(c.unicode() & 0xff));
        bytes.append(char(c.unicode() >> 8));
    }
    return bytes;
}

// A child process: writes its own values one change at a time.
int WriteValues(const QString& path, const QString& prefix)
{
    RegistryStore store(path);
    for (int i = 0; i < kValuesPerWriter; ++i) {
        if (!store.SetValue(kConcurrentKey, prefix + QString::number(i), kRegDword, Dword(i)))
            return 1;
    }
    return 0;
}

}  // namespace

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

    void firstRunWritesBinaryDefaultsButNoOptions()
    {
        RegistryStore store(m_path);
        WindowRect rect{10, 20, 330, 260};
        int tries = -1, hops = -1, timeout = -1;
        int order[10] = {0, 1, 2, 3, 4};
        LoadWindowPosition(store, rect);
        LoadOptions(store, tries, hops, timeout);
        LoadColumnOrder(store, order);

        QCOMPARE(rect.right, 330);
        QCOMPARE(tries, 3);
        QCOMPARE(hops, 16);
        QCOMPARE(timeout, 3000);
        QCOMPARE(order[4], 4);
        const auto position = store.QueryValue(kProgram, QStringLiteral("Window position"));
        QVERIFY(position);
        QCOMPARE(position->type, kRegBinary);
        QCOMPARE(position->data, QByteArray::fromHex("0a000000140000004a01000004010000"));
        const auto columns = store.QueryValue(kProgram, QStringLiteral("Column order"));
        QVERIFY(columns);
        QCOMPARE(columns->data, QByteArray::fromHex("0000000001000000020000000300000004000000")
                                    + QByteArray(20, '\0'));
        QVERIFY(store.KeyExists(kOptions));
        QVERIFY(!store.QueryValue(kOptions, QStringLiteral("Retries")));
        QVERIFY(!store.QueryValue(kOptions, QStringLiteral("Timeout")));

        QVERIFY(SaveOptions(store, 3, 16, 3000));
        const auto retries = store.QueryValue(kOptions, QStringLiteral("Retries"));
        QVERIFY(retries);
        QCOMPARE(retries->type, kRegDword);
        // "Software" was created first, by the program key, and keeps that spelling.
        const QByteArray text = Read(m_path);
        QVERIFY(text.startsWith("Windows Registry Editor Version 5.00\n"));
        QVERIFY(text.contains("\n[HKEY_CURRENT_USER\\Software\\Veltrosyn\\Ivrak\\Hoplantern]\n"
                              "\"Window position\"=hex:0a,00,00,00,14,00,00,00,4a,01,00,00,"
                              "04,01,00,00\n"));
        QVERIFY(text.contains("\n[HKEY_CURRENT_USER\\Software\\Veltrosyn\\Hoplantern\\Options]\n"
                              "\"Retries\"=dword:00000003\n\"Hop number\"=dword:00000010\n"
                              "\"Timeout\"=dword:00000bb8\n"));
    }

    void savedValuesComeBackInANewInstance()
    {
        RegistryStore first(m_path);
        QVERIFY(SaveOptions(first, 2, 30, 0));
        QVERIFY(SaveWindowPosition(first, {-1200, 40, -300, 700}));
        const int dragged[10] = {3, 0, 1, 2, 4};
        QVERIFY(SaveColumnOrder(first, dragged));
        const QString oddName = QStringLiteral("say \"hi\" \\ [there]");
        QVERIFY(first.SetValue(kProgram, oddName, kRegBinary, QByteArray("\x01", 1)));

        RegistryStore second(m_path);
        int tries = 0, hops = 0, timeout = 0;
        WindowRect rect{0, 0, 100, 100};
        int order[10] = {0, 1, 2, 3, 4};
        LoadOptions(second, tries, hops, timeout);
        LoadWindowPosition(second, rect);
        LoadColumnOrder(second, order);
        QCOMPARE(tries, 2);
        QCOMPARE(hops, 30);
        QCOMPARE(timeout, 0);
        QCOMPARE(rect.left, -1200);
        QCOMPARE(rect.bottom, 700);
        QCOMPARE(order[0], 3);
        QVERIFY(IsColumnPermutation(order));
        QCOMPARE(second.QueryValue(kProgram, oddName)->data, QByteArray("\x01", 1));
    }

    void defaultPathFollowsXdgConfigHome()
    {
        const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", "/srv/conf");
        const QString set = RegistryStore::DefaultFilePath();
        qputenv("XDG_CONFIG_HOME", "relative/conf");  // not absolute: to be ignored
        const QString relative = RegistryStore::DefaultFilePath();
        qputenv("XDG_CONFIG_HOME", saved);
        QCOMPARE(set, QStringLiteral("/srv/conf/Veltrosyn/Hoplantern.reg"));
        QCOMPARE(relative, QDir::homePath() + "/.config/Veltrosyn/Hoplantern.reg");
    }

    void keysAndNamesMatchWhateverTheirCase()
    {
        // As a registry export writes it: CRLF, a wrapped binary value, another spelling.
        Write(m_path, "Windows Registry Editor Version 5.00\r\n\r\n"
                      "[HKEY_CURRENT_USER\\SOFTWARE\\veltrosyn\\IVRAK\\hoplantern\\]\r\n"
                      "\"WINDOW POSITION\"=hex:01,00,00,00,02,00,00,00,\\\r\n"
                      "  03,00,00,00,04,00,00,00\r\n\r\n"
                      "[hkey_current_user\\SOFTWARE\\veltrosyn\\Hoplantern\\OPTIONS]\r\n"
                      "\"retries\"=dword:00000007\r\n");
        RegistryStore store(m_path);
        WindowRect rect{9, 9, 9, 9};
        int tries = 0, hops = 0, timeout = 0;
        LoadWindowPosition(store, rect);
        LoadOptions(store, tries, hops, timeout);
        QCOMPARE(rect.left, 1);
        QCOMPARE(rect.bottom, 4);
        QCOMPARE(tries, 7);
        QVERIFY(store.QueryValue(QStringLiteral("software\\VELTROSYN\\ivrak\\HOPLANTERN"),
                                 QStringLiteral("window position")));

        QVERIFY(SaveWindowPosition(store, {5, 6, 7, 8}));
        const QByteArray text = Read(m_path);
        QVERIFY(text.contains("[HKEY_CURRENT_USER\\SOFTWARE\\veltrosyn\\IVRAK\\hoplantern]\n"
                              "\"WINDOW POSITION\"=hex:05,00"));
        QCOMPARE(text.toLower().count("window position"), 1);
        QVERIFY(!QFile::exists(m_path + ".damaged"));
    }

    void registryEditorExportIsReadAndKeptClean()
    {
        Write(m_path, Utf16(QStringLiteral("Windows Registry Editor Version 5.00\r\n\r\n"
                                           "[HKEY_CURRENT_USER\\Software\\Veltrosyn\\Hoplantern\\Options]\r\n"
                                           "\"Retries\"=dword:00000006\r\n"
                                           "\"Zeit \u00fcber \U0001F680\"=hex:01\r\n")));
        RegistryStore store(m_path);
        int tries = 0, hops = 0, timeout = 0;
        LoadOptions(store, tries, hops, timeout);
        QCOMPARE(tries, 6);
        QVERIFY(SaveOptions(store, 1, 2, 3));
        QVERIFY(!QFile::exists(m_path + ".damaged"));  // every line was understood
        QCOMPARE(store.QueryValue(kOptions, QStringLiteral("Zeit \u00fcber \U0001F680"))->data,
                 QByteArray("\x01", 1));
    }

    void binaryValueLengths_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QByteArray>("loaded");    // the value as the window gets it
        QTest::addColumn<QByteArray>("afterLoad"); // the value in the file after loading
        // The window's default rectangle is {1,2,3,4}; the default order 0 to 4, then zeros.
        const QByteArray rect = QByteArray::fromHex("01000000020000000300000004000000");
        const QByteArray order = QByteArray::fromHex("0000000001000000020000000300000004000000")
                                 + QByteArray(20, '\0');
        const QByteArray four = QByteArray::fromHex("64000000");
        QTest::newRow("4-byte position sets only left")
            << "Window position" << four << four + rect.mid(4) << four;
        QTest::newRow("20-byte position is kept but not used")
            << "Window position" << QByteArray(20, '\x7f') << rect << QByteArray(20, '\x7f');
        QTest::newRow("empty position changes nothing") << "Window position" << QByteArray()
                                                        << rect << QByteArray();
        QTest::newRow("44-byte order is replaced by the default")
            << "Column order" << QByteArray(44, '\x01') << order << order;
        const QByteArray two = QByteArray::fromHex("0400000003000000");
        QTest::newRow("8-byte order sets two entries")
            << "Column order" << two << two + order.mid(8) << two;
    }

    void binaryValueLengths()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, stored);
        QFETCH(QByteArray, loaded);
        QFETCH(QByteArray, afterLoad);
        RegistryStore store(m_path);
        QVERIFY(store.SetValue(kProgram, name, kRegBinary, stored));

        QByteArray result;
        if (name == QLatin1String("Window position")) {
            WindowRect rect{1, 2, 3, 4};
            LoadWindowPosition(store, rect);
            for (qint32 field : {rect.left, rect.top, rect.right, rect.bottom})
                result += Dword(field);
        } else {
            int order[10] = {0, 1, 2, 3, 4};
            LoadColumnOrder(store, order);
            for (int entry : order)
                result += Dword(entry);
            QCOMPARE(IsColumnPermutation(order), loaded == afterLoad);
        }
        QCOMPARE(result, loaded);
        QCOMPARE(store.QueryValue(kProgram, name)->data, afterLoad);
    }

    void profileValuesMustBeFourBytes()
    {
        Write(m_path, "[HKEY_CURRENT_USER\\Software\\Veltrosyn\\Hoplantern\\Options]\n"
                      "\"Retries\"=hex:05,00\n"
                      "\"Hop number\"=hex:1e,00,00,00\n"
                      "\"Timeout\"=hex(b):10,27,00,00,00,00,00,00\n");
        RegistryStore store(m_path);
        int tries = 0, hops = 0, timeout = 0;
        LoadOptions(store, tries, hops, timeout);
        QCOMPARE(tries, 3);
        QCOMPARE(hops, 30);  // four bytes count whatever their type
        QCOMPARE(timeout, 3000);

        // Values of other types survive a rewrite of the file unchanged.
        QVERIFY(store.WriteProfileInt(QStringLiteral("Options"), QStringLiteral("Retries"), 4));
        const auto qword = store.QueryValue(kOptions, QStringLiteral("TIMEOUT"));
        QVERIFY(qword);
        QCOMPARE(qword->type, 0xbu);
        QCOMPARE(qword->data, QByteArray::fromHex("1027000000000000"));
        QCOMPARE(store.GetProfileInt(QStringLiteral("Options"), QStringLiteral("Retries"), 3), 4);
    }

    void damagedFileGivesDefaultsAndIsKept_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("tries");  // what survives of the file
        const QByteArray good =
            "[HKEY_CURRENT_USER\\Software\\Veltrosyn\\Hoplantern\\Options]\n"
            "\"Retries\"=dword:00000009\n";
        QTest::newRow("not a settings file") << QByteArray("<html>\n{ \"a\": 1 }\n") << 3;
        QTest::newRow("binary") << QByteArray("\x7f" "ELF\x02\x01\x01\0\0\0\xff\n\xfe", 14)
                                << 3;
        QTest::newRow("truncated")  // cut after a whole byte of the last value
            << good + "[HKEY_CURRENT_USER\\Software\\Veltrosyn\\Ivrak\\Hoplantern]\n"
                      "\"Column order\"=hex:03,00,00,00,00,00"
            << 9;
        QTest::newRow("partly damaged") << good + "\"Hop number\"=dword:zz\n\x01\x02\n" << 9;
        QTest::newRow("not UTF-8") << good + "\"caf\xe9\"=dword:00000001\n" << 9;
        QTest::newRow("value name without its opening quote") << good + "XRetries\"=dword:00000005\n" << 9;
        QTest::newRow("oversized") << good + QByteArray(2 << 20, '\n') << 3;
        // UTF-16 as the registry editor exports it, with half a character in a key name:
        // no UTF-8 file can hold that name, so the file must be kept before it is rewritten.
        QTest::newRow("UTF-16 with an unpaired surrogate")
            << Utf16(QString::fromUtf8(good) + QStringLiteral("[HKEY_CURRENT_USER\\Software\\A") + QChar(0xDE79)
                     + QStringLiteral("]\n\"x\"=dword:00000001\n"))
            << 9;
    }

    void damagedFileGivesDefaultsAndIsKept()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, tries);
        Write(m_path, content);
        RegistryStore store(m_path);
        int loadedTries = 0, hops = 0, timeout = 0;
        WindowRect rect{1, 2, 3, 4};
        int order[10] = {0, 1, 2, 3, 4};
        LoadOptions(store, loadedTries, hops, timeout);
        LoadWindowPosition(store, rect);
        LoadColumnOrder(store, order);
        QCOMPARE(loadedTries, tries);
        QCOMPARE(hops, 16);
        QCOMPARE(rect.right, 3);
        QCOMPARE(order[1], 1);
        QVERIFY(SaveOptions(store, 5, 6, 7));

        QCOMPARE(Read(m_path + ".damaged"), content);
        QVERIFY(!QFile::exists(m_path + ".damaged.1"));  // the rewritten file is clean
        RegistryStore reopened(m_path);
        LoadOptions(reopened, loadedTries, hops, timeout);
        QCOMPARE(loadedTries, 5);
        QCOMPARE(timeout, 7);
        QCOMPARE(reopened.QueryValue(kProgram, QStringLiteral("Column order"))->data.size(), 40);

        // Damaged a second time: the first copy stays, the new one goes beside it.
        Write(m_path, "garbage\n");
        QVERIFY(SaveWindowPosition(store, rect));
        QCOMPARE(Read(m_path + ".damaged"), content);
        QCOMPARE(Read(m_path + ".damaged.1"), QByteArray("garbage\n"));
    }

    void notAFileGivesDefaultsAndStaysAsItIs_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("FIFO") << "fifo";            // would block a reader that waits for data
        QTest::newRow("link to /dev/zero") << "zero";  // never ends
        QTest::newRow("link to /dev/urandom") << "urandom";
    }

    void notAFileGivesDefaultsAndStaysAsItIs()
    {
        QFETCH(QString, kind);
        QVERIFY(QDir().mkpath(QFileInfo(m_path).absolutePath()));
        const QByteArray path = QFile::encodeName(m_path);
        if (kind == "fifo")
            QCOMPARE(::mkfifo(path.constData(), 0600), 0);
        else
            QVERIFY(QFile::link("/dev/" + kind, m_path));
        RegistryStore store(m_path);
        int tries = 0, hops = 0, timeout = 0;
        WindowRect rect{1, 2, 3, 4};
        LoadOptions(store, tries, hops, timeout);
        LoadWindowPosition(store, rect);
        QCOMPARE(tries, 3);
        QCOMPARE(timeout, 3000);
        QCOMPARE(rect.right, 3);
        // It cannot be read, so it is not replaced either: it may be someone's on purpose.
        QVERIFY(!SaveOptions(store, 5, 6, 7));
        struct stat info{};
        QCOMPARE(::lstat(path.constData(), &info), 0);
        QVERIFY(kind == "fifo" ? S_ISFIFO(info.st_mode) : S_ISLNK(info.st_mode));
        QVERIFY(!QFile::exists(m_path + ".damaged"));
    }

    void storeThatCannotBeWrittenReportsFailure()
    {
        // A regular file where a folder should be: fails even for root.
        const QString blocker = m_dir->filePath(QStringLiteral("blocker"));
        Write(blocker, "keep me");
        RegistryStore blocked(blocker + "/Veltrosyn/Hoplantern.reg");
        QVERIFY(!blocked.SetValue(kProgram, QStringLiteral("Column order"), kRegBinary, "x"));
        QVERIFY(!blocked.CreateKey(kOptions));
        QVERIFY(!SaveOptions(blocked, 1, 2, 3));
        WindowRect rect{1, 2, 3, 4};
        LoadWindowPosition(blocked, rect);
        QCOMPARE(rect.top, 2);
        QCOMPARE(blocked.GetProfileInt(QStringLiteral("Options"), QStringLiteral("Retries"), 3), 3);
        QCOMPARE(Read(blocker), QByteArray("keep me"));

        // A folder in the file's place can be neither read nor replaced.
        QVERIFY(QDir().mkpath(m_path));
        RegistryStore folder(m_path);
        QVERIFY(!SaveWindowPosition(folder, rect));
        QCOMPARE(folder.GetProfileInt(QStringLiteral("Options"), QStringLiteral("Timeout"), 3000),
                 3000);
        QVERIFY(QFileInfo(m_path).isDir());
    }

    void badArgumentsAreRefusedAndChangeNothing()
    {
        RegistryStore store(m_path);
        QVERIFY(SaveOptions(store, 1, 2, 3));
        const QByteArray before = Read(m_path);
        QVERIFY(!store.SetValue(QString(), QStringLiteral("a"), kRegDword, Dword(1)));
        QVERIFY(!store.SetValue(QStringLiteral("\\\\"), QStringLiteral("a"), kRegDword, Dword(1)));
        QVERIFY(!store.SetValue(kOptions, QStringLiteral("two\nlines"), kRegDword, Dword(1)));
        QVERIFY(!store.CreateKey(QStringLiteral("Software\\new\nline")));
        // Half a UTF-16 character: the UTF-8 file cannot hold it.
        QVERIFY(!store.SetValue(kOptions, QStringLiteral("half ") + QChar(0xD800), kRegDword, Dword(1)));
        QVERIFY(!store.CreateKey(QStringLiteral("Software\\half ") + QChar(0xDC00)));
        QVERIFY(!store.SetValue(kOptions, QStringLiteral("huge"), kRegBinary,
                                QByteArray(RegistryStore::kMaxFileSize, 'x')));
        QCOMPARE(Read(m_path), before);
    }

    void concurrentWritersAllLand()
    {
        QProcess writers[2];
        for (int i = 0; i < 2; ++i) {
            const QString prefix = QStringLiteral("w%1-").arg(i);
            writers[i].start(QCoreApplication::applicationFilePath(),
                             {QStringLiteral("--write-values"), m_path, prefix});
        }
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
                QVERIFY2(value && value->data == Dword(i), qPrintable(name));
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

// Start-up: the command-line tail, the socket check before anything else, the
// application's name, and the window run with the command line as its host.
#include "fake_platform.h"
#include "resource.h"
#include "trace_app.h"
#include "trace_dlg.h"
#include "ui_test_support.h"

#include <QLineEdit>

#include <functional>

using namespace Qt::StringLiterals;

namespace {

// Start-up with the fake trace platform, a socket check the test decides, and the main
// window handed to the test instead of (or before) running it.
class TestApp final : public CTraceApp {
public:
    bool socketsWork = true;
    int windowsRun = 0;
    std::function<void(CTraceDlg&)> onWindow;

protected:
    bool AfxSocketInit() override { return socketsWork; }
    TracePlatform CreatePlatform() override
    {
        FakePlatform fake;
        return std::move(fake.platform);
    }
    void RunMainWindow(CTraceDlg& dlg) override
    {
        ++windowsRun;
        if (onWindow)
            onWindow(dlg);
    }

public:
    void RunModal(CTraceDlg& dlg) { CTraceApp::RunMainWindow(dlg); }
};

} // namespace

class TestTraceApp : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<IsolatedSettings> settings;

private slots:
    void initTestCase() { settings = std::make_unique<IsolatedSettings>(); }
    void init()
    {
        settings->clear();
        QCoreApplication::setApplicationName(QString()); // back to the program's file name
    }

    void commandLineTail_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("tail");
        QTest::newRow("none") << QStringList { "hoplantern" } << "";
        QTest::newRow("one host") << QStringList { "/usr/bin/hoplantern", "192.0.2.1" } << "192.0.2.1";
        QTest::newRow("program name with a blank")
            << QStringList { "/opt/hop lantern/hoplantern", "192.0.2.1" } << "192.0.2.1";
        QTest::newRow("two words stay one text")
            << QStringList { "hoplantern", "gw", "example.net" } << "gw example.net";
        QTest::newRow("blanks only") << QStringList { "hoplantern", "   ", "" } << "";
        QTest::newRow("blanks in front skipped") << QStringList { "hoplantern", "   192.0.2.1" } << "192.0.2.1";
        QTest::newRow("empty first argument") << QStringList { "hoplantern", "", "x" } << "x";
        QTest::newRow("trailing blank kept") << QStringList { "hoplantern", "host " } << "host ";
        QTest::newRow("inner blanks kept") << QStringList { "hoplantern", "a  b" } << "a  b";
        QTest::newRow("quotes kept") << QStringList { "hoplantern", "\"quoted\"" } << "\"quoted\"";
    }
    void commandLineTail()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, tail);
        QCOMPARE(CommandLineTail(arguments), tail);
    }

    void socketStartFailureShowsOneMessageAndTouchesNothing()
    {
        const QString programName = QCoreApplication::applicationName();
        QVERIFY(!programName.isEmpty() && programName != u"Hoplantern"_s);
        MessageRecorder messages;
        TestApp app;
        app.socketsWork = false;
        app.m_lpCmdLine = u"192.0.2.1"_s;

        QVERIFY(!app.InitInstance());
        // Shown before the application's name is set.
        QCOMPARE(
            messages.boxes(), QStringList { "Warning | " + programName + " | Windows sockets initialization failed." });
        QCOMPARE(app.windowsRun, 0);
        QCOMPARE(QCoreApplication::applicationName(), programName);
        QVERIFY(!QFile::exists(settings->file()));
    }

    void theWindowGetsTheCommandLineAsItsHost_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("host");
        QTest::newRow("a host: traced at once")
            << QStringList { "hoplantern", "  gw.example ", "x" } << "gw.example  x";
        QTest::newRow("none: no trace") << QStringList { "hoplantern" } << "";
    }
    void theWindowGetsTheCommandLineAsItsHost()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, host);
        MessageRecorder messages;
        TestApp app;
        app.m_lpCmdLine = CommandLineTail(arguments);
        bool checked = false;
        app.onWindow = [&](CTraceDlg& dlg) {
            QCOMPARE(dlg.m_strHost, host);
            QCOMPARE(dlg.m_bAutoTrace, !host.isEmpty());
            QCOMPARE(app.m_pMainWnd, &dlg);
            QCOMPARE(QCoreApplication::applicationName(), u"Hoplantern"_s);
            QCOMPARE(app.m_pszRegistryKey, u"Veltrosyn"_s);
            checked = true;
        };
        QVERIFY(!app.InitInstance());
        QVERIFY(checked);
        QCOMPARE(app.windowsRun, 1);
        QCOMPARE(app.m_pMainWnd, nullptr);
        QVERIFY(messages.messages.empty());
    }

    void aCommandLineHostTracesOnceTheWindowRuns()
    {
        TestApp app;
        app.m_lpCmdLine = CommandLineTail({ "hoplantern", "192.0.2.1" });
        QString hostShown;
        int rowsWhenTracing = -1;
        bool shownWhenTracing = false;
        app.onWindow = [&](CTraceDlg& dlg) {
            QObject::connect(&dlg.engine(), &TraceEngine::statusChanged, &dlg, [&](const QString& status) {
                if (status != u"Tracing..."_s || rowsWhenTracing >= 0)
                    return;
                rowsWhenTracing = dlg.rows().GetItemCount();
                shownWhenTracing = dlg.isVisible();
                hostShown = qobject_cast<QLineEdit*>(dlg.GetDlgItem(IDC_HOST))->text();
                QMetaObject::invokeMethod(&dlg, &CTraceDlg::OnCancel, Qt::QueuedConnection);
            });
            app.RunModal(dlg); // ends when the trace has begun, or the test times out
        };
        QVERIFY(!app.InitInstance());
        QCOMPARE(rowsWhenTracing, 16);
        QVERIFY(shownWhenTracing);
        QCOMPARE(hostShown, u"192.0.2.1"_s);
    }
};

QTEST_MAIN(TestTraceApp)
#include "tst_trace_app.moc"

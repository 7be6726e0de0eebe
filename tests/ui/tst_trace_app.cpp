// Start-up: the command-line tail, the socket check before anything else, the
// application's name, and the window run with the command line as its host.
#include "fake_platform.h"
#include "resource.h"
#include "trace_app.h"
#include "trace_dlg.h"
#include "ui_test_support.h"

#include <QComboBox>
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

    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("action"); // WindowCommandLine::Action
        QTest::addColumn<QString>("host"); // for Run; for Error, part of the message
        QTest::addColumn<int>("family");
        QTest::addColumn<bool>("watch");
        const int run = WindowCommandLine::Run;
        const int error = WindowCommandLine::Error;
        QTest::newRow("none") << QStringList { "hoplantern" } << run << "" << 0 << false;
        QTest::newRow("one host") << QStringList { "/usr/bin/hoplantern", "192.0.2.1" } << run << "192.0.2.1" << 0
                                  << false;
        QTest::newRow("blanks only") << QStringList { "hoplantern", " \t " } << run << "" << 0 << false;
        QTest::newRow("a URL of an IPv6 address")
            << QStringList { "hoplantern", "https://[2001:db8::1]:8443/" } << run << "2001:db8::1" << 0 << false;
        QTest::newRow("an IPv6 address in brackets")
            << QStringList { "hoplantern", "[2001:db8::1]" } << run << "[2001:db8::1]" << 0 << false;
        QTest::newRow("--ipv6 after the host")
            << QStringList { "hoplantern", "h", "--ipv6" } << run << "h" << 6 << false;
        QTest::newRow("-- before a host with a dash")
            << QStringList { "hoplantern", "--", "--help" } << run << "--help" << 0 << false;
        QTest::newRow("-h with a host and an unknown option")
            << QStringList { "hoplantern", "-x", "h", "-h" } << int(WindowCommandLine::Help) << "" << 0 << false;
        QTest::newRow("-V") << QStringList { "hoplantern", "-V" } << int(WindowCommandLine::Version) << "" << 0
                            << false;
        QTest::newRow("unknown option") << QStringList { "hoplantern", "--trace", "h" } << error << "trace" << 0
                                        << false;
        QTest::newRow("both families") << QStringList { "hoplantern", "-46", "h" } << error << "-4 and -6" << 0
                                       << false;
        QTest::newRow("--watch and a host")
            << QStringList { "hoplantern", "--watch", "gw" } << run << "gw" << 0 << true;
        QTest::newRow("--watch without a host")
            << QStringList { "hoplantern", "--watch", " " } << error << "--watch needs a HOST" << 0 << false;
        QTest::newRow("two hosts") << QStringList { "hoplantern", "gw", "example.net" } << error << "one HOST only" << 0
                                   << false;
    }
    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, action);
        QFETCH(QString, host);
        QFETCH(int, family);
        QFETCH(bool, watch);
        const WindowCommandLine line = ParseWindowCommandLine(arguments);
        QCOMPARE(int(line.action), action);
        if (action == WindowCommandLine::Error) {
            QVERIFY2(line.error.contains(host), qPrintable(line.error));
            return;
        }
        QCOMPARE(line.host, host);
        QCOMPARE(int(line.family), family);
        QCOMPARE(line.watch, watch);
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
        QTest::addColumn<int>("family"); // the window's choice for this run; 6 is the saved one
        QTest::newRow("a host: traced at once") << QStringList { "hoplantern", "  gw.example " } << "gw.example" << 6;
        QTest::newRow("none: no trace") << QStringList { "hoplantern" } << "" << 6;
        QTest::newRow("-4 and a URL") << QStringList { "hoplantern", "-4", "http://gw.example/" } << "gw.example" << 4;
    }
    void theWindowGetsTheCommandLineAsItsHost()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, host);
        QFETCH(int, family);
        MessageRecorder messages;
        {
            hl::RegistryStore store;
            hl::SaveTraceChoices(store, 6, false);
        }
        TestApp app;
        const WindowCommandLine line = ParseWindowCommandLine(arguments);
        app.m_lpCmdLine = line.host;
        app.m_family = line.family;
        bool checked = false;
        app.onWindow = [&](CTraceDlg& dlg) {
            QCOMPARE(dlg.m_strHost, host);
            QCOMPARE(dlg.m_bAutoTrace, !host.isEmpty());
            dlg.m_bAutoTrace = false;
            dlg.OnInitDialog();
            QCOMPARE(dlg.m_cbFamily->currentData().toInt(), family);
            dlg.close(); // saves the settings
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
        // -4 or -6 holds for this run only: the saved choice stays.
        hl::RegistryStore store;
        int saved = 0;
        bool fixedFlow = false;
        hl::LoadTraceChoices(store, saved, fixedFlow);
        QCOMPARE(saved, 6);
    }

    void aCommandLineHostTracesOnceTheWindowRuns_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("status"); // once it has begun
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("rows"); // the list's, once it has begun
        QTest::newRow("traced") << QStringList { "hoplantern", "192.0.2.1" } << "Tracing..."
                                << "Trace" << 16;
        QTest::newRow("--watch: watched") << QStringList { "hoplantern", "--watch", "192.0.2.1" } << "Watching..."
                                          << "Stop" << 0;
    }
    void aCommandLineHostTracesOnceTheWindowRuns()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, status);
        QFETCH(QString, button);
        QFETCH(int, rows);
        TestApp app;
        const WindowCommandLine line = ParseWindowCommandLine(arguments);
        app.m_lpCmdLine = line.host;
        app.m_bWatch = line.watch;
        QString hostShown, buttonShown;
        bool shownWhenTracing = false;
        bool flaggedModal = true;
        int rowsWhenTracing = -1;
        app.onWindow = [&](CTraceDlg& dlg) {
            const auto begun = [&](const QString& text) {
                if (text != status || !hostShown.isEmpty())
                    return;
                shownWhenTracing = dlg.isVisible();
                // The main window, not a dialog over one: the window manager is told nothing
                // of modality (its _NET_WM_STATE would say _NET_WM_STATE_MODAL).
                flaggedModal = dlg.isModal() || dlg.windowHandle()->modality() != Qt::NonModal;
                hostShown = qobject_cast<QLineEdit*>(dlg.GetDlgItem(IDC_HOST))->text();
                buttonShown = dlg.m_btnTrace->text();
                rowsWhenTracing = dlg.m_list->model()->rowCount();
                QMetaObject::invokeMethod(&dlg, &CTraceDlg::OnCancel, Qt::QueuedConnection);
            };
            QObject::connect(&dlg.engine(), &TraceEngine::statusChanged, &dlg, begun);
            QObject::connect(&dlg.watch(), &WatchController::statusChanged, &dlg, begun);
            app.RunModal(dlg); // ends when the trace has begun, or the test times out
        };
        QVERIFY(!app.InitInstance());
        QVERIFY(shownWhenTracing);
        QVERIFY(!flaggedModal);
        QCOMPARE(hostShown, u"192.0.2.1"_s);
        QCOMPARE(buttonShown, button);
        QCOMPARE(rowsWhenTracing, rows);
    }
};

QTEST_MAIN(TestTraceApp)
#include "tst_trace_app.moc"

// A real trace through the window, started with the Trace button, along a path of kernel
// routers in network namespaces (a command-line host starts the same trace: tst_trace_app
// has the window trace it as it opens). Run inside the path's source namespace by
// netns_window_test.py, which builds the path and passes it in NETNS_PATH_JSON; anywhere
// else every test here is skipped. The watch runs as root and as nobody, who reads the
// answers from the probe sockets' error queues.
#include "resource.h"
#include "trace_dlg.h"
#include "ui_test_support.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTimer>

#include <unistd.h>

namespace {

struct Hop {
    QString address;
    QString name;
    QString result;
};

// Upper bound on one trace and its lookups, so a broken path fails instead of hanging;
// the test asserts nothing about how long a trace takes.
constexpr int kTraceLimitMs = 120000;

} // namespace

class TestNetnsTrace : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<IsolatedSettings> settings;
    QJsonObject path;
    QList<Hop> expected;

    // Every row of the path: the routers answer "next", the target "complete", and each
    // row carries the name the namespace's hosts file gives its address.
    void compareRows(CTraceDlg& dlg)
    {
        HopRowList& rows = dlg.rows();
        QCOMPARE(rows.GetItemCount(), int(expected.size()));
        for (int i = 0; i < rows.GetItemCount(); ++i) {
            const HopRow* row = rows.GetItemData(i);
            QCOMPARE(QString::fromStdString(row->pszHop), QString::number(i + 1));
            QCOMPARE(QString::fromStdString(row->pszAddress), expected[i].address);
            QCOMPARE(QString::fromStdString(row->pszResult), expected[i].result);
            QCOMPARE(QString::fromStdString(row->pszHost), expected[i].name);
            QVERIFY(!row->pszTime.empty());
        }
        QCOMPARE(dlg.m_stStatus->text(), QStringLiteral("Complete."));
        QCOMPARE(dlg.m_stTarget->text(), path.value("target").toString());
    }

    // The window opened on the real sockets and resolvers, its fields typed in.
    static void open(CTraceDlg& dlg, const QString& host, const QString& hops, const QString& wait = {})
    {
        dlg.OnInitDialog();
        dlg.show();
        qobject_cast<QLineEdit*>(dlg.GetDlgItem(IDC_HOST))->setText(host);
        qobject_cast<QLineEdit*>(dlg.GetDlgItem(IDC_HOPS))->setText(hops);
        if (!wait.isEmpty())
            qobject_cast<QLineEdit*>(dlg.GetDlgItem(IDC_TIMEOUT))->setText(wait);
    }

private slots:
    void initTestCase()
    {
        const QByteArray json = qgetenv("NETNS_PATH_JSON");
        if (json.isEmpty())
            QSKIP("needs a router path: run through tests/ui/netns_window_test.py");
        settings = std::make_unique<IsolatedSettings>();
        QCoreApplication::setApplicationName(QStringLiteral("Hoplantern"));
        path = QJsonDocument::fromJson(json).object();
        for (const QJsonValue r : path.value("routers").toArray()) {
            const QJsonObject router = r.toObject();
            QVERIFY2(!router.value("silent").toBool(), "the window test wants every router to answer");
            expected.push_back({ router.value("address").toString(), router.value("name").toString(), "next" });
        }
        expected.push_back({ path.value("target").toString(), path.value("target_name").toString(), "complete" });
        QVERIFY2(!expected.back().name.isEmpty(), "the path needs names (--names)");
    }

    // By name (the forward lookup reads the source namespace's hosts file), and by
    // address with a wait of 1 ms: then the answers are queued on the socket long before
    // the UI thread gets to them, and must still count before the next round or the end.
    void traceButton_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("wait");
        QTest::newRow("by name") << path.value("target_name").toString() << "1000";
        QTest::newRow("a wait of 1 ms") << path.value("target").toString() << "1";
    }
    void traceButton()
    {
        QFETCH(QString, host);
        QFETCH(QString, wait);
        MessageRecorder messages;
        CTraceDlg dlg;
        open(dlg, host, "8", wait);
        QVERIFY2(messages.messages.empty(), qPrintable(messages.texts().join("; ")));
        QSignalSpy finished(&dlg.engine(), &TraceEngine::traceFinished);
        dlg.m_btnTrace->click();
        QVERIFY(finished.count() == 1 || finished.wait(kTraceLimitMs));
        compareRows(dlg);
    }

    // A name server that takes 2 s: the window goes on answering its events meanwhile,
    // and the trace goes on once the address is known.
    void slowResolver()
    {
        CTraceDlg dlg;
        open(dlg, QStringLiteral("slow.path.test"), "8");
        QElapsedTimer clock;
        qint64 last = 0, longestStall = 0;
        QTimer beat;
        QObject::connect(&beat, &QTimer::timeout, [&] {
            longestStall = std::max(longestStall, clock.elapsed() - last);
            last = clock.elapsed();
        });
        QSignalSpy finished(&dlg.engine(), &TraceEngine::traceFinished);
        clock.start();
        beat.start(5);
        dlg.m_btnTrace->click();
        QVERIFY(finished.count() == 1 || finished.wait(kTraceLimitMs));
        QVERIFY2(clock.elapsed() >= 2000, "the answer came from the slow name server");
        // Well under the 2 s a blocking lookup would freeze it for, with room for a
        // sanitizer build on a busy machine.
        QVERIFY2(longestStall < 250, qPrintable(QStringLiteral("the event loop stalled %1 ms").arg(longestStall)));
        compareRows(dlg);
    }

    // The close box while a one-flow trace is under way: the window, the engine and
    // every socket go without touching one already gone (the sanitizer build checks).
    void closedMidTraceWithOneFlow()
    {
        auto dlg = std::make_unique<CTraceDlg>();
        open(*dlg, path.value("target").toString(), "8");
        dlg->m_chkFixedFlow->setChecked(true);
        dlg->m_btnTrace->click(); // the first round is out, its answers on their way
        QVERIFY(!dlg->engine().done());
        dlg->close();
        dlg.reset();
    }

    // Ten rounds of a watch: the first router answers 20 a minute, so most of its loss is
    // declined (muted, no forward loss); the second answers all, and drops half of what it
    // forwards, which every hop behind it shows as forward loss.
    void watchOfALossyPath()
    {
        CTraceDlg dlg;
        open(dlg, path.value("target").toString(), "8", "1000");
        dlg.m_chkWatch->setChecked(true);
        QSignalSpy rounds(&dlg.watch(), &WatchController::roundFinished);
        dlg.m_btnTrace->click();
        QCOMPARE(dlg.m_btnTrace->text(), QStringLiteral("Stop"));
        QTRY_VERIFY_WITH_TIMEOUT(rounds.count() >= 10, kTraceLimitMs);
        dlg.m_btnTrace->click();
        QVERIFY(!dlg.watch().running());
        const QAbstractItemModel* table = dlg.m_list->model();
        QCOMPARE(table->rowCount(), int(expected.size()));
        const auto cell
            = [&](int row, int column, int role = Qt::DisplayRole) { return table->index(row, column).data(role); };
        for (int i = 0; i < table->rowCount(); ++i) {
            QCOMPARE(cell(i, WC_ADDRESS).toString(), expected[i].address);
            QCOMPARE(cell(i, WC_HOST).toString(), expected[i].name);
            QCOMPARE(cell(i, WC_RESULT).toString(), expected[i].result);
            if (i + 1 == table->rowCount()) // nothing behind the target to tell its loss declined
                QCOMPARE(cell(i, WC_FWD).toString(), cell(i, WC_LOSS).toString());
            const double loss = cell(i, WC_LOSS).toDouble();
            const double forward = cell(i, WC_FWD).toDouble();
            const QString where = QStringLiteral("hop %1: Loss% %2, Fwd% %3").arg(i + 1).arg(loss).arg(forward);
            if (i == 0) { // declined: about two answers in three lost, none of it forward
                QVERIFY2(loss >= 40 && forward == 0 && cell(i, WC_LOSS, kWatchMutedRole).toBool(), qPrintable(where));
            } else if (i == 1) {
                QVERIFY2(loss == 0 && !cell(i, WC_LOSS, kWatchMutedRole).toBool(), qPrintable(where));
            } else { // at 50 %, ten rounds without a loss come once in a thousand runs
                QVERIFY2(loss > 0 && forward > 0, qPrintable(where));
            }
        }

        // Unticked, a trace to another address gets its answers on the sockets the watch
        // used: the second router's own, past the first, which may still be declining.
        dlg.m_chkWatch->setChecked(false);
        qobject_cast<QLineEdit*>(dlg.GetDlgItem(IDC_HOST))->setText(expected[1].address);
        QSignalSpy finished(&dlg.engine(), &TraceEngine::traceFinished);
        dlg.m_btnTrace->click();
        QVERIFY(finished.count() == 1 || finished.wait(kTraceLimitMs));
        const HopRow* second = dlg.rows().GetItemData(1);
        QVERIFY(second);
        QCOMPARE(QString::fromStdString(second->pszAddress), expected[1].address);
        QCOMPARE(QString::fromStdString(second->pszResult), QStringLiteral("complete"));
    }

    // The close box while a one-flow watch has probes in flight: the window, the watch,
    // the engine and every socket go without touching one already gone (the sanitizer
    // build checks).
    void closedMidWatchWithOneFlow()
    {
        auto dlg = std::make_unique<CTraceDlg>();
        open(*dlg, path.value("target").toString(), "8");
        dlg->m_chkFixedFlow->setChecked(true);
        dlg->m_chkWatch->setChecked(true);
        QSignalSpy rounds(&dlg->watch(), &WatchController::roundFinished);
        dlg->m_btnTrace->click();
        QVERIFY(rounds.wait(kTraceLimitMs));
        QVERIFY(dlg->watch().running());
        dlg->close();
        dlg.reset();
    }

    // No route to the address: the status line says so at once.
    void noRoute()
    {
        CTraceDlg dlg;
        open(dlg, QStringLiteral("203.0.113.5"), "16");
        dlg.m_btnTrace->click();
        QVERIFY(dlg.engine().done());
        QCOMPARE(dlg.m_stStatus->text(), QStringLiteral("Network is unreachable"));
    }
};

QTEST_MAIN(TestNetnsTrace)
#include "tst_netns_trace.moc"

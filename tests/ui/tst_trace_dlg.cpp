// The main window on the offscreen platform: built from its template, exchanging its
// fields, its commands, closing with and without saving, its layout on resize, the
// settings surviving a restart, and copying rows. Traces run on the fake platform, so
// nothing leaves the machine; the real path is the namespace test's. Run it through
// ctest, which gives it a 1280 x 800 screen: the offscreen platform's own is 800 wide,
// narrower than the window at 1x, which then opens narrowed to fit the screen and the
// checks of its sizes do not hold.
#include "about_dlg.h"
#include "dialog_builder.h"
#include "dialog_support.h"
#include "fake_platform.h"
#include "hop_chart.h"
#include "host_history.h"
#include "quick_help_dlg.h"
#include "resource.h"
#include "settings/settings_ops.h"
#include "settings/window_state.h"
#include "summary_table.h"
#include "timeline_painter.h"
#include "trace_dlg.h"
#include "ui_test_support.h"
#include "watch_columns.h"
#include "watch_report.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QCompleter>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QSplitter>
#include <QTimer>
#include <QXmlStreamReader>
#include <QtEndian>

#include <climits>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

// A window on the fake platform, with the probe socket kept for looking at.
struct Window {
    FakePlatform fake;
    FakeProbeSocket* probe = fake.probe;
    std::unique_ptr<CTraceDlg> dlg;

    enum Start { Open, Closed, OpenWithoutIcmp };
    // Open: initialised and shown, as a user sees it.
    explicit Window(Start start = Open)
    {
        fake.icmp->createFails = start == OpenWithoutIcmp;
        dlg = std::make_unique<CTraceDlg>(nullptr, std::move(fake.platform));
        if (start != Closed)
            open();
    }
    CTraceDlg* operator->() const { return dlg.get(); }
    QWidget* item(int id) const { return dlg->GetDlgItem(id); }
    QLineEdit* field(int id) const { return qobject_cast<QLineEdit*>(item(id)); }
    QString text(int id) const { return item(id)->property("text").toString(); }
    QHeaderView* header() const { return dlg->m_list->header(); }
    int rows() const { return dlg->rows().GetItemCount(); }
    void open() const
    {
        dlg->OnInitDialog();
        dlg->show();
    }
    void setFields(const QString& hops, const QString& host, const QString& timeout, const QString& tries) const
    {
        field(IDC_HOPS)->setText(hops);
        field(IDC_HOST)->setText(host);
        field(IDC_TIMEOUT)->setText(timeout);
        field(IDC_TRIES)->setText(tries);
    }
};

// Where a control is as the window is built, before any size change.
QRect TemplateRect(int id)
{
    const Window fresh(Window::Closed);
    return fresh.item(id)->geometry();
}

// Every control, and how it follows a change of the window's size on each axis: it
// grows with it (W, H), is moved by it (X, Y), or stays where it is.
enum : unsigned { W = 1, H = 2, X = 4, Y = 8 };
constexpr std::pair<int, unsigned> kControls[] = { { IDC_HOST, W }, { IDC_RESULTS, W | H }, { IDC_STATUS, W | Y },
    { IDC_TRIES, X }, { IDC_TRIES_LABEL, X }, { IDC_HOPS, X }, { IDC_HOPS_LABEL, X }, { IDC_TIMEOUT, X },
    { IDC_MS_LABEL, X }, { IDC_FAMILY, X }, { IDC_FIXED_FLOW, X }, { IDC_WATCH, X }, { IDOK, X }, { IDC_ABOUT, X | Y },
    { IDC_TARGET_LABEL, X | Y }, { IDC_TARGET, X | Y }, { IDC_HOST_BUTTON, 0 }, { IDCANCEL, 0 } };

std::map<int, QRect> Geometries(const Window& w)
{
    std::map<int, QRect> out;
    for (const auto& [id, follow] : kControls)
        out[id] = w.item(id)->geometry();
    return out;
}

std::optional<int> StoredInt(const char* entry)
{
    const auto v = hl::RegistryStore().QueryValue(
        QString::fromLatin1(hl::RegistryStore::kProfileRoot) + u"\\Options"_s, QString::fromLatin1(entry));
    if (!v || v->type != hl::kRegDword || v->data.size() != 4)
        return std::nullopt;
    return qFromLittleEndian<qint32>(v->data.constData());
}

QByteArray StoredBinary(const char* name)
{
    const auto v = hl::RegistryStore().QueryValue(QString::fromLatin1(hl::kProgramKey), QString::fromLatin1(name));
    return v ? v->data : QByteArray();
}

// Right-clicks a row of the list (which selects it, unless it is selected already) and
// picks the command from the menu that opens; returns whether the command was enabled (a
// disabled one is not triggered).
bool ChooseFromRowMenu(const Window& w, int row, HopListView::RowCommand command)
{
    QWidget* viewport = w->m_list->viewport();
    const QPoint at = w->m_list->visualRect(w->m_list->model()->index(row, 0)).center();
    QTest::mousePress(viewport, Qt::RightButton, {}, at);
    QContextMenuEvent click(QContextMenuEvent::Mouse, at, viewport->mapToGlobal(at));
    QCoreApplication::sendEvent(viewport, &click);
    QTest::mouseRelease(viewport, Qt::RightButton, {}, at);
    auto* menu = w->m_list->findChild<QMenu*>();
    if (!menu)
        return false;
    bool enabled = false;
    for (QAction* action : menu->actions()) {
        if (action->data().toInt() == int(command) && (enabled = action->isEnabled()))
            action->trigger();
    }
    delete menu;
    return enabled;
}

// Answers the next file dialog with the path typed (after choosing `filter`, when given);
// `offered`, when given, gets the file it first offered, in the folder it opened in.
void AnswerNextFileDialog(QObject* context, const QString& path, const QString& filter = {}, QString* offered = nullptr)
{
    QTimer::singleShot(0, context, [=] {
        auto* chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!chooser)
            return;
        if (offered)
            *offered = chooser->selectedFiles().value(0);
        if (!filter.isEmpty())
            chooser->selectNameFilter(filter);
        chooser->selectFile(path);
        static_cast<QDialog*>(chooser)->accept(); // public there
    });
}

// A watch of `hops` hops (the last the target) on the fake platform, every probe of `rounds`
// rounds answered a few milliseconds after it left; the round after them is in flight.
void WatchRounds(Window& w, const QString& hops, int rounds)
{
    const uint32_t router = htonl(0xC6120102); // 198.18.1.2
    const uint32_t target = htonl(0xC0000201); // 192.0.2.1
    w.setFields(hops, u"192.0.2.1"_s, u"1000"_s, u"3"_s);
    w->m_chkWatch->setChecked(true);
    w->m_btnTrace->click();
    for (int round = 0; round < rounds; ++round) {
        for (int hop = 1; hop <= hops.toInt(); ++hop) {
            const bool last = hop == hops.toInt();
            w.fake.icmp->QueueWatchAnswer(
                round, hop, target, last ? target : router, last, w.fake.clock->now + 4 * uint32_t(hop));
            w->watch().watch()->OnIcmpRead();
        }
        w.fake.clock->now += 1000;
        w->watch().watch()->OnTimer(IDT_WATCH);
    }
}

enum SavedForm { SavedHtml, SavedCsv, SavedJsonLines };

// Each hop's probes sent, as a saved report gives them, read back as a reader of its form
// would: an XML parser for the HTML, RFC 4180 records for the CSV, a JSON parser for each
// line of the JSON Lines, which are the rounds' and route changes', then one summary.
// `problem` says what did not read back.
QStringList SentPerHop(const QByteArray& bytes, SavedForm form, int rounds, QString* problem)
{
    QStringList sent;
    if (form == SavedHtml) {
        // The summary comes first: its headings, then its rows (no route changed here).
        QXmlStreamReader xml(bytes);
        QStringList cells;
        while (xml.readNext() != QXmlStreamReader::Invalid && !xml.atEnd()) {
            if (xml.isStartElement() && (xml.name() == u"th" || xml.name() == u"td"))
                cells << xml.readElementText();
        }
        const qsizetype snt = cells.indexOf(u"Snt"_s);
        for (qsizetype at = snt + kSummaryColumns; snt >= 0 && at < cells.size(); at += kSummaryColumns)
            sent << cells[at];
        if (xml.hasError())
            *problem = u"HTML line %1: %2"_s.arg(xml.lineNumber()).arg(xml.errorString());
    } else if (form == SavedCsv) {
        const QList<QByteArray> records = bytes.split('\n');
        const QList<QByteArray> heading = records.value(0).trimmed().split(',');
        for (const QByteArray& record : records.mid(1, records.size() - 2))
            sent << QString::fromUtf8(record.split(',').value(heading.indexOf("sent")));
        if (!bytes.endsWith("\r\n"))
            *problem = u"the CSV's last record is not ended"_s;
    } else {
        const QList<QByteArray> lines = bytes.trimmed().split('\n');
        QStringList types;
        for (const QByteArray& line : lines) {
            const QJsonObject object = QJsonDocument::fromJson(line).object();
            types << object.value(u"type"_s).toString();
            for (const QJsonValue& hop : object.value(u"hops"_s).toArray())
                if (types.last() == u"summary"_s)
                    sent << QString::number(hop[u"sent"].toInt());
        }
        if (types != QStringList(rounds, u"round"_s) << u"summary"_s)
            *problem = u"JSON Lines of the types %1"_s.arg(types.join(u' '));
    }
    return sent;
}

// A watch's statistics as hand-fed rounds: ms[h][r] is hop h + 1's round trip in round r in
// milliseconds, or -1 where its probe was lost. Hop h + 1 answers from 198.18.(h+1).2; the
// last hop is the target.
void FeedRounds(PathStats& stats, const QList<QList<double>>& ms)
{
    for (int r = 0; r < ms.front().size(); ++r) {
        for (int h = 0; h < ms.size(); ++h) {
            ProbeOutcome o;
            o.round = r;
            o.ttl = h + 1;
            o.sentUs = int64_t(r) * 1000000;
            stats.Record(o);
            o.status = ms[h][r] < 0 ? ProbeStatus::Lost : ProbeStatus::Answered;
            if (o.status == ProbeStatus::Answered) {
                o.rttUs = ms[h][r] * 1000;
                o.address = NetAddress::FromV4(htonl(0xC6120002 + (uint32_t(h + 1) << 8)));
                o.fromTarget = h == ms.size() - 1;
            }
            stats.Record(o);
        }
        stats.FinishRound(r, int64_t(r) * 1000000);
    }
}

QStringList RowTexts(const QAbstractItemModel& model, int row)
{
    QStringList texts;
    for (int c = 0; c < WC_TIMELINE; ++c)
        texts << model.index(row, c).data().toString();
    return texts;
}

QRect RectOf(const hl::WindowRect& r)
{
    return QRect(QPoint(r.left, r.top), QSize(r.right - r.left, r.bottom - r.top));
}

} // namespace

class TestTraceDlg : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<IsolatedSettings> settings;

private slots:
    void initTestCase()
    {
        settings = std::make_unique<IsolatedSettings>();
        QCoreApplication::setApplicationName(u"Hoplantern"_s);
    }
    void init() { settings->clear(); }

    // ---- Focus, tab order and the list ------------------------------------------------

    void traceHasTheFocusAndTabFollowsTheTemplateOrder()
    {
        Window w;
        QVERIFY(!w.item(IDCANCEL)->isVisible());
        QVERIFY(w.item(IDOK)->isVisible());
        QVERIFY(w->m_btnTrace->isDefault());
        QCOMPARE(w->focusWidget(), w->m_btnTrace);
        // Tab goes through the controls in template order.
        QList<int> order;
        QWidget* at = w->m_btnTrace;
        do {
            const QVariant id = at->property(kControlIdProperty);
            if (id.isValid() && (at->focusPolicy() & Qt::TabFocus) && at->isVisible()) {
                order << id.toInt();
                QVERIFY2(!at->toolTip().isEmpty(), at->objectName().toLatin1()); // what each is for
            }
            at = at->nextInFocusChain();
        } while (at != w->m_btnTrace && order.size() < 50);
        QCOMPARE(order,
            QList<int>({ IDOK, IDC_RESULTS, IDC_HOST, IDC_HOPS, IDC_TIMEOUT, IDC_FAMILY, IDC_FIXED_FLOW, IDC_WATCH,
                IDC_HOST_BUTTON, IDC_TRIES, IDC_ABOUT }));
    }

    void listShowsFiveColumnsDraggableWithSeveralRowsSelectable()
    {
        Window w;
        // The address column and the Target field hold the longest IPv6 address whole.
        for (const QString& widest :
            { u"ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"_s, u"8888:8888:8888:8888:8888:8888:8888:8888"_s }) {
            QVERIFY(w.header()->sectionSize(1) > w->m_list->fontMetrics().horizontalAdvance(widest));
            QVERIFY(w->m_stTarget->width() >= w->m_stTarget->fontMetrics().horizontalAdvance(widest));
        }
        QVERIFY(w.header()->sectionsMovable());
        QCOMPARE(w->m_list->selectionMode(), QAbstractItemView::ExtendedSelection);

        // A new trace keeps the widths and the order the user gave the columns.
        w.header()->moveSection(4, 0);
        w.header()->resizeSection(2, 100); // ("Host name", shown last now, fills the rest)
        w.header()->resizeSection(1, 70);
        w.setFields("5", "192.0.2.1", "3000", "3");
        w->m_btnTrace->click();
        w->m_btnTrace->click(); // the second trace empties the table of the first
        QCOMPARE(w.rows(), 5);
        QCOMPARE(w.header()->logicalIndex(0), 4);
        QCOMPARE(w.header()->sectionSize(2), 100);
        QCOMPARE(w.header()->sectionSize(1), 70);
    }

    // ---- Data exchange ---------------------------------------------------------------

    void integerFields_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<int>("value");
        QTest::newRow("blanks around") << "  42  " << true << 42;
        QTest::newRow("blank inside") << "4 2" << false << 0;
        QTest::newRow("digits then letter") << "12x" << false << 0;
        QTest::newRow("empty") << "" << false << 0;
        QTest::newRow("zero") << "0" << true << 0;
        QTest::newRow("minus zero") << "-0" << false << 0;
        QTest::newRow("negative") << "-5" << true << -5;
        QTest::newRow("plus sign") << "+7" << true << 7;
        QTest::newRow("huge") << "99999999999999999999" << true << INT_MAX;
        QTest::newRow("only the first 31 characters") << QString(29, u' ') + "12345" << true << 12;
    }
    void integerFields()
    {
        QFETCH(QString, text);
        QFETCH(bool, accepted);
        QFETCH(int, value);
        // Every number field reads by the same rules (each field's refusal of letters is
        // exchangeStopsAtTheRejectedField's): the wait time's, the last but one exchanged.
        Window w;
        MessageRecorder messages;
        w->m_nTimeout = 111;
        w.setFields("16", "", text, "3");
        QCOMPARE(w->UpdateData(true), accepted);
        QCOMPARE(w->m_nTimeout, accepted ? value : 111);
        QCOMPARE(w.text(IDC_TIMEOUT), text); // the user's text is not lost
        if (accepted) {
            QVERIFY(messages.messages.empty());
            return;
        }
        QCOMPARE(messages.boxes(), QStringList { "Warning | Hoplantern | Please enter an integer." });
        QCOMPARE(w->focusWidget(), w.field(IDC_TIMEOUT));
        QCOMPARE(w.field(IDC_TIMEOUT)->selectedText(), text);
    }

    void exchangeStopsAtTheRejectedField_data()
    {
        QTest::addColumn<QStringList>("fields"); // hops, host, wait time, tries: the exchange's order
        QTest::addColumn<QList<int>>("numbers"); // hops, wait time, tries afterwards
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("rejected"); // the field that gets the focus; 0 for none
        QTest::newRow("bad hops: nothing taken")
            << QStringList { "many", "example.net", "500", "7" } << QList<int> { 16, 3000, 3 } << "" << IDC_HOPS;
        QTest::newRow("bad wait time: hops and host taken")
            << QStringList { "20", "example.net", "soon", "7" } << QList<int> { 20, 3000, 3 } << "example.net"
            << IDC_TIMEOUT;
        QTest::newRow("bad tries: all before it taken") << QStringList { "20", "example.net", "700", "x" }
                                                        << QList<int> { 20, 700, 3 } << "example.net" << IDC_TRIES;
        QTest::newRow("all good, the host taken whole") << QStringList { "20", " host with blanks ", "700", "2" }
                                                        << QList<int> { 20, 700, 2 } << " host with blanks " << 0;
    }
    void exchangeStopsAtTheRejectedField()
    {
        QFETCH(QStringList, fields);
        QFETCH(QList<int>, numbers);
        QFETCH(QString, host);
        QFETCH(int, rejected);
        Window w;
        MessageRecorder messages;
        w.setFields(fields[0], fields[1], fields[2], fields[3]);
        QCOMPARE(w->UpdateData(true), rejected == 0);
        QCOMPARE(QList<int>({ w->m_nHops, w->m_nTimeout, w->m_nTries }), numbers);
        QCOMPARE(w->m_strHost, host);
        QCOMPARE(messages.messages.size(), size_t(rejected ? 1 : 0));
        if (rejected) { // it has the focus, the text typed in it kept whole and selected
            const QString typed = fields[QList<int> { IDC_HOPS, IDC_HOST, IDC_TIMEOUT, IDC_TRIES }.indexOf(rejected)];
            QCOMPARE(w->focusWidget(), w.field(rejected));
            QCOMPARE(w.field(rejected)->selectedText(), typed);
        }
        // And towards the fields: a member shows as it is, sign and all.
        w->m_nHops = -4;
        w->UpdateData(false);
        QCOMPARE(w.text(IDC_HOPS), u"-4"_s);
    }

    void traceTakesTheFieldsEvenAfterARejectedOne_data()
    {
        QTest::addColumn<int>("enterIn"); // the field Enter is pressed in; 0: the Trace button
        QTest::newRow("Trace button") << 0;
        QTest::newRow("Enter in a number field") << int(IDC_TIMEOUT);
        QTest::newRow("keypad Enter in the host field") << int(IDC_HOST);
    }
    void traceTakesTheFieldsEvenAfterARejectedOne()
    {
        QFETCH(int, enterIn);
        Window w;
        MessageRecorder messages;
        const auto trace = [&] {
            if (enterIn)
                QTest::keyClick(w.field(enterIn), enterIn == IDC_HOST ? Qt::Key_Enter : Qt::Key_Return);
            else
                w->m_btnTrace->click();
        };
        w.setFields("4", "192.0.2.1", "3000", "3");
        trace();
        QCOMPARE(w.rows(), 4);
        QCOMPARE(w->engine().parameters().m_strHost, u"192.0.2.1"_s);
        QCOMPARE(w.text(IDC_STATUS), u"Tracing..."_s);
        QCOMPARE(w.text(IDC_TARGET), u"192.0.2.1"_s);
        QCOMPARE(w.probe->sent.size(), size_t(4));
        QVERIFY(w->isVisible()); // Trace never ends the window

        // A bad hops field: the message, then a trace with the values as they were.
        w.setFields("lots", "198.51.100.7", "3000", "1");
        trace();
        QCOMPARE(messages.texts(), QStringList { "Please enter an integer." });
        QCOMPARE(w->engine().parameters().m_strHost, u"192.0.2.1"_s);
        QCOMPARE(w->engine().parameters().m_nTries, 3);
        QCOMPARE(w.rows(), 4);
        QCOMPARE(w->focusWidget(), w.field(IDC_HOPS));
        QCOMPARE(w.field(IDC_HOPS)->selectedText(), u"lots"_s);
        w.setFields("2", "192.0.2.1", "3000", "3");
        trace();
        QCOMPARE(w.rows(), 2);
    }

    void numberFieldsRefuseTypedNonDigits()
    {
        Window w;
        w.field(IDC_TRIES)->clear();
        QTest::keyClicks(w.field(IDC_TRIES), "4a -2.");
        QCOMPARE(w.text(IDC_TRIES), u"42"_s);
        QTest::keyClicks(w.field(IDC_HOST), "a-1.example");
        QCOMPARE(w.text(IDC_HOST), u"a-1.example"_s);
    }

    // ---- Commands --------------------------------------------------------------------

    void hostButtonPastesOverTheWholeHost()
    {
        Window w;
        QClipboard* clipboard = QGuiApplication::clipboard();
        w.field(IDC_HOST)->setText("typed before");
        w.field(IDC_HOST)->setCursorPosition(3);
        w.field(IDC_TRIES)->setFocus();

        clipboard->setText("example.net");
        w->m_btnHost->click();
        QCOMPARE(w.text(IDC_HOST), u"example.net"_s);
        QCOMPARE(w->focusWidget(), w.field(IDC_TRIES));
        QCOMPARE(w->m_strHost, QString()); // taken at the next exchange only

        clipboard->setText("first.example\nsecond.example");
        w->m_btnHost->click();
        QCOMPARE(w.text(IDC_HOST), u"first.example"_s);

        clipboard->clear();
        w->m_btnHost->click();
        QCOMPARE(w.text(IDC_HOST), u"first.example"_s);
        QCOMPARE(w.field(IDC_HOST)->selectedText(), u"first.example"_s);
    }

    void theHostIsTracedWithoutTheWhiteSpaceAround_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("paste"); // with "Host >" instead of as typed
        QTest::addColumn<QString>("host"); // what the trace takes and the field then shows
        QTest::newRow("pasted with a blank and a line break") << u"192.0.2.1 \n"_s << true << u"192.0.2.1"_s;
        QTest::newRow("typed with tabs and blanks") << u"\t 192.0.2.1  "_s << false << u"192.0.2.1"_s;
        QTest::newRow("a pasted URL") << u"http://192.0.2.1/index.html"_s << true << u"192.0.2.1"_s;
    }
    void theHostIsTracedWithoutTheWhiteSpaceAround()
    {
        QFETCH(QString, text);
        QFETCH(bool, paste);
        QFETCH(QString, host);
        Window w;
        if (paste) {
            QGuiApplication::clipboard()->setText(text);
            w->m_btnHost->click();
        } else {
            w.field(IDC_HOST)->setText(text);
        }
        w->m_btnTrace->click();
        QCOMPARE(w->engine().parameters().m_strHost, host);
        QCOMPARE(w.text(IDC_TARGET), host);
        QCOMPARE(w.text(IDC_HOST), host);
        QCOMPARE(w.probe->sent.size(), size_t(16));
    }

    void aboutButtonOpensTheAboutDialogOverTheWindow()
    {
        Window w;
        QVERIFY(QTest::qWaitForWindowActive(w.dlg.get()));
        MessageRecorder messages;
        // Armed before the click: the About dialog's modal run starts inside it.
        bool sawAbout = false;
        QTimer::singleShot(0, w.dlg.get(), [&] {
            auto* about = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
            sawAbout = about && about->parentWidget() == w.dlg.get();
            if (QWidget* modal = QApplication::activeModalWidget(); modal && modal != w.dlg.get())
                static_cast<QDialog*>(modal)->reject();
        });
        w->m_btnAbout->click();
        QVERIFY(sawAbout);
        QVERIFY(w->isVisible());
        QVERIFY(messages.messages.empty());
    }

    void socketSetUpFailureIsShownAndTheWindowStays()
    {
        MessageRecorder messages;
        Window w(Window::OpenWithoutIcmp);
        QCOMPARE(messages.boxes(), QStringList { "NoIcon | Hoplantern | Cannot open raw socket" });
        QVERIFY(w->isVisible());
        QCOMPARE(w.text(IDC_HOPS), u"16"_s);
    }

    void messageBoxesHaveNoMinimiseOrMaximiseButton()
    {
        Window w;
        Qt::WindowFlags flags;
        QTimer::singleShot(0, w.dlg.get(), [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                flags = box->windowFlags();
                box->accept();
            }
        });
        AfxMessageBox(u"Please enter an integer."_s, QMessageBox::Warning, w.dlg.get());
        QCOMPARE(flags & Qt::WindowType_Mask, Qt::Dialog);
        QCOMPARE(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint), Qt::WindowFlags());
    }

    void ctrlCCopiesSelectedRowsInShownColumnOrder()
    {
        Window w;
        HopRowList& rows = w->rows();
        rows.InsertHopRow("1", "198.18.1.2", "5", "r1.path.test", "next", 0);
        rows.InsertHopRow("2", "198.18.2.2", "7", "r2.path.test", "next", 1);
        rows.InsertHopRow("3", "unknown", "", "", "failed", 2);
        w.header()->moveSection(w.header()->visualIndex(3), 0); // "Host name" first
        QItemSelectionModel* sel = w->m_list->selectionModel();
        sel->select(rows.index(2, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        sel->select(rows.index(0, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);

        QTest::keyClick(w->m_list, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(
            QGuiApplication::clipboard()->text(), u"r1.path.test\t1\t198.18.1.2\t5\tnext\n\t3\tunknown\t\tfailed\n"_s);
    }

    void rowMenuCopies_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<int>("clicked"); // the row right-clicked
        QTest::addColumn<QString>("copied"); // empty: the command is disabled, the clipboard kept
        const QString row1 = u"1\t198.18.1.2\t5\tr1.path.test\tnext\n"_s;
        const QString row2 = u"2\t2001:db8::2\t7\t\tcomplete\n"_s;
        const QString row3 = u"3\tunknown\t\t\tfailed\n"_s;
        const int copyRow = HopListView::CopyRow;
        const int copyAddress = HopListView::CopyAddress;
        QTest::newRow("copy row: the selection, clicked in") << copyRow << QList<int> { 2, 0 } << 0 << row1 + row3;
        QTest::newRow("copy row: the row clicked outside the selection") << copyRow << QList<int> { 0 } << 2 << row3;
        QTest::newRow("copy all: every row") << int(HopListView::CopyAll) << QList<int> {} << 1 << row1 + row2 + row3;
        QTest::newRow("copy address: the answered ones")
            << copyAddress << QList<int> { 0, 1, 2 } << 2 << u"198.18.1.2\n2001:db8::2\n"_s;
        QTest::newRow("copy address of a row that did not answer") << copyAddress << QList<int> {} << 2 << QString();
    }
    void rowMenuCopies()
    {
        QFETCH(int, command);
        QFETCH(QList<int>, selected);
        QFETCH(int, clicked);
        QFETCH(QString, copied);
        Window w;
        HopRowList& rows = w->rows();
        for (const char* hop : { "1", "2", "3" })
            rows.InsertHopRow(hop, "unknown", "", "", "failed", rows.GetItemCount());
        rows.UpdateHopRow({ NetAddress::Parse("198.18.1.2"), "next", false, 0, 5, 5000 }, 0);
        rows.UpdateHopRow(nullptr, nullptr, nullptr, "r1.path.test", nullptr, 0);
        rows.UpdateHopRow({ NetAddress::Parse("2001:db8::2"), "complete", true, 0, 7, 7000 }, 1);
        for (int row : selected)
            w->m_list->selectionModel()->select(
                rows.index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QGuiApplication::clipboard()->setText(u"kept"_s);
        QCOMPARE(ChooseFromRowMenu(w, clicked, HopListView::RowCommand(command)), !copied.isEmpty());
        QCOMPARE(QGuiApplication::clipboard()->text(), copied.isEmpty() ? u"kept"_s : copied);
    }

    void rowMenuCopiesTheWatchsAddresses()
    {
        Window w;
        WatchRounds(w, u"2"_s, 1);
        w->m_list->selectAll();
        QVERIFY(ChooseFromRowMenu(w, 1, HopListView::CopyAddress));
        QCOMPARE(QGuiApplication::clipboard()->text(), u"198.18.1.2\n192.0.2.1\n"_s);
    }

    // The JSON Lines saved from the window are the terminal's stream: a route change right
    // after the line of the round that showed it (here the target answering nearer).
    void watchJsonLinesPutARouteChangeAfterItsRound()
    {
        Window w;
        WatchRounds(w, u"3"_s, 2);
        const uint32_t target = htonl(0xC0000201); // 192.0.2.1
        for (int round = 2; round <= 3; ++round) {
            w.fake.icmp->QueueWatchAnswer(round, 1, target, htonl(0xC6120102), false, w.fake.clock->now + 4);
            for (int hop = 2; hop <= 3; ++hop)
                w.fake.icmp->QueueWatchAnswer(round, hop, target, target, true, w.fake.clock->now + 8);
            w->watch().watch()->OnIcmpRead();
            w.fake.clock->now += 1000;
            w->watch().watch()->OnTimer(IDT_WATCH);
        }
        w->m_btnTrace->click();
        QStringList order;
        for (const QByteArray& line : WatchReport(w->watch(), WatchReportFormat::JsonLines).split('\n')) {
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            if (!o.isEmpty())
                order << o["type"].toString() + (o.contains("round") ? QString::number(o["round"].toInt()) : QString());
        }
        QCOMPARE(order.join(' '), u"round0 round1 round2 route_change2 round3 summary"_s);
    }

    void rowMenuSavesTheTableAsCsv()
    {
        Window w;
        QVERIFY(!w->m_list->CreateRowMenu(w.dlg.get())->actions().last()->isEnabled()); // no rows yet
        w.setFields("2", "192.0.2.1", "3000", "3");
        w->m_btnTrace->click();
        const QString path = QDir(QDir::tempPath()).filePath(u"hoplantern-window-report.csv"_s);
        QFile::remove(path);
        AnswerNextFileDialog(w.dlg.get(), path);
        QVERIFY(ChooseFromRowMenu(w, 0, HopListView::SaveReport));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = file.readAll().split('\n');
        QCOMPARE(lines.value(0), "Hop,IP address,Time,Host name,Result\r");
        QCOMPARE(lines.size(), 4); // heading, two rows, nothing after the last line break
        QVERIFY2(lines.value(1).startsWith("1,"), lines.value(1).constData());
        file.remove();
    }

    // "Save report…" while the list shows a watch, running or after Stop: the watch's report
    // in the form the name typed (or else the filter chosen) asks for, read back with the
    // table's figures. A write that fails says why and loses nothing; the next watch's report
    // replaces it.
    void watchReportSavesInEachForm_data()
    {
        QTest::addColumn<QString>("name"); // typed in the file dialog
        QTest::addColumn<QString>("filter"); // chosen there first; empty: the one offered
        QTest::addColumn<int>("form"); // SavedForm
        QTest::addColumn<bool>("stopped"); // else saved while the watch runs
        QTest::addColumn<bool>("byKey"); // Ctrl+S; else the rows' menu
        const QString offered; // the filter the dialog offers first, HTML
        QTest::newRow("HTML offered; after Stop, the menu") << "a.html" << offered << int(SavedHtml) << true << false;
        QTest::newRow("CSV by its filter; running, Ctrl+S") << "b"
                                                            << "CSV (*.csv)" << int(SavedCsv) << false << true;
        QTest::newRow("JSON Lines; after Stop, Ctrl+S") << "c.jsonl" << offered << int(SavedJsonLines) << true << true;
        QTest::newRow("the extension typed over the filter")
            << "d.csv"
            << "JSON Lines (*.jsonl *.json)" << int(SavedCsv) << false << false;
    }
    void watchReportSavesInEachForm()
    {
        QFETCH(QString, name);
        QFETCH(QString, filter);
        QFETCH(int, form);
        QFETCH(bool, stopped);
        QFETCH(bool, byKey);
        const QDir folder(QDir::tempPath());
        const QString path = folder.filePath(u"hoplantern-window-"_s + name);
        const QString written = QFileInfo(path).suffix().isEmpty() ? path + u".csv"_s : path;
        QFile::remove(written);
        Window w;
        QVERIFY(QTest::qWaitForWindowActive(w.dlg.get()));
        MessageRecorder messages;
        const auto save = [&](const QString& to) {
            w->activateWindow(); // as the desktop does once the file dialog is gone
            (void)QTest::qWaitForWindowActive(w.dlg.get()); // else Ctrl+S saves nothing, as told below
            QString offered;
            AnswerNextFileDialog(w.dlg.get(), to, filter, &offered);
            if (byKey)
                QTest::keyClick(w->m_list, Qt::Key_S, Qt::ControlModifier);
            else
                ChooseFromRowMenu(w, 0, HopListView::SaveReport);
            return offered;
        };
        const auto readBack = [&](int rounds) {
            QFile file(written);
            QString problem;
            QStringList sent, shown;
            if (file.open(QIODevice::ReadOnly))
                sent = SentPerHop(file.readAll(), SavedForm(form), rounds, &problem);
            for (int row = 0; row < w->m_list->model()->rowCount(); ++row)
                shown << w->m_list->model()->index(row, WC_SNT).data().toString();
            return problem.isEmpty() ? sent.join(u' ') + u" / "_s + shown.join(u' ') : problem;
        };

        WatchRounds(w, u"2"_s, 3);
        if (stopped)
            w->m_btnTrace->click();
        // A folder nobody may write to, root included.
        const QString offered = save(u"/proc/hoplantern-report.html"_s);
        QVERIFY2(QRegularExpression(u"/hoplantern-192\\.0\\.2\\.1-\\d{8}-\\d{4}\\.html$"_s).match(offered).hasMatch(),
            qPrintable(offered));
        QVERIFY2(messages.texts().size() == 1 && messages.texts()[0].contains(u"/proc/hoplantern-report.html"_s),
            qPrintable(messages.texts().join(u'\n')));
        save(path);
        QCOMPARE(readBack(3), u"4 4 / 4 4"_s);

        // The next watch's report replaces it; the dialog opens where the last one went.
        if (!stopped)
            w->m_btnTrace->click();
        WatchRounds(w, u"3"_s, 1);
        QFile::remove(written); // no question whether to replace it
        QCOMPARE(QFileInfo(save(path)).absolutePath(), folder.absolutePath());
        QCOMPARE(readBack(1), u"2 2 2 / 2 2 2"_s);
        QCOMPARE(messages.texts().size(), 1);
        QFile::remove(written);
    }

    void f1HelpsAndCtrlQEndsAsTheCloseBox_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<bool>("help"); // the quick help opens over the window; else it ends, saving
        QTest::newRow("F1") << int(Qt::Key_F1) << int(Qt::NoModifier) << true;
        QTest::newRow("Ctrl+Q") << int(Qt::Key_Q) << int(Qt::ControlModifier) << false;
    }
    void f1HelpsAndCtrlQEndsAsTheCloseBox()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(bool, help);
        Window w;
        QVERIFY(QTest::qWaitForWindowActive(w.dlg.get()));
        w.setFields("23", "", "3000", "3");
        bool sawHelp = false;
        QTimer::singleShot(0, w.dlg.get(), [&] {
            auto* dlg = qobject_cast<CQuickHelpDlg*>(QApplication::activeModalWidget());
            sawHelp = dlg && dlg->parentWidget() == w.dlg.get();
            if (dlg)
                dlg->reject();
        });
        QTest::keyClick(w.field(IDC_HOST), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(sawHelp, help);
        QCOMPARE(w->isVisible(), help);
        QCOMPARE(StoredInt("Hop number"), help ? std::nullopt : std::optional<int>(23));
    }

    // ---- Closing and the settings ------------------------------------------------------

    void escEndsWithoutSavingTheCloseBoxSavesAll_data()
    {
        QTest::addColumn<bool>("closeBox"); // else Esc
        QTest::addColumn<QString>("hops"); // the hops field's text at the close
        QTest::addColumn<QList<int>>("saved"); // hops, wait time, tries stored; none for nothing
        QTest::newRow("Esc: nothing saved") << false << "30" << QList<int>();
        QTest::newRow("close box: a restart shows it all") << true << "30" << QList<int> { 30, 1500, 2 };
        QTest::newRow("close box, bad hops: the previous numbers saved") << true << "" << QList<int> { 16, 3000, 3 };
    }
    void escEndsWithoutSavingTheCloseBoxSavesAll()
    {
        QFETCH(bool, closeBox);
        QFETCH(QString, hops);
        QFETCH(QList<int>, saved);
        QRect opened, closedAt;
        {
            Window w;
            MessageRecorder messages;
            opened = RectOf(w->GetWindowRect());
            w.setFields(hops, "not saved", "1500", "2");
            w.header()->moveSection(w.header()->visualIndex(3), 0); // "Host name" leftmost
            w->resize(w->width() + 120, w->height() + 30);
            w->move(40, 50);
            closedAt = RectOf(w->GetWindowRect());
            if (closeBox)
                w->close();
            else
                QTest::keyClick(w.field(IDC_HOST), Qt::Key_Escape);
            QVERIFY(!w->isVisible());
            QCOMPARE(w->result(), int(QDialog::Rejected));
            QCOMPARE(messages.texts(), hops.isEmpty() ? QStringList { "Please enter an integer." } : QStringList());
        }
        const QList<int> stored = { StoredInt("Hop number").value_or(INT_MIN), StoredInt("Timeout").value_or(INT_MIN),
            StoredInt("Retries").value_or(INT_MIN) };
        QCOMPARE(stored, saved.isEmpty() ? QList<int>(3, INT_MIN) : saved);
        const QByteArray order = StoredBinary(hl::kColumnOrderValue);
        QCOMPARE(order.size(), 40);
        QCOMPARE(qFromLittleEndian<qint32>(order.constData()), closeBox ? 3 : 0);
        QCOMPARE(StoredBinary(hl::kWindowPositionValue).size(), 16);

        Window w;
        const QList<int> shown = saved.isEmpty() ? QList<int> { 16, 3000, 3 } : saved;
        QCOMPARE(
            QList<int>({ w.text(IDC_HOPS).toInt(), w.text(IDC_TIMEOUT).toInt(), w.text(IDC_TRIES).toInt() }), shown);
        QCOMPARE(w->m_nTimeout, shown[1]); // the next trace starts from what the window shows
        QCOMPARE(w.text(IDC_HOST), QString());
        QCOMPARE(RectOf(w->GetWindowRect()), closeBox ? closedAt : opened);
        QCOMPARE(w.header()->logicalIndex(0), closeBox ? 3 : 0);
        QCOMPARE(w->m_anColumnOrder[0], closeBox ? 3 : 0);
        // The restored size went through the layout: the list is 120 x 30 pixels larger.
        QCOMPARE(w->m_list->size(), TemplateRect(IDC_RESULTS).size() + (closeBox ? QSize(120, 30) : QSize(0, 0)));
    }

    void familyOneFlowAndWatchExchangeAndSurviveARestart_data()
    {
        QTest::addColumn<int>("index"); // in the family list: Auto, IPv4, IPv6
        QTest::addColumn<bool>("oneFlow");
        QTest::addColumn<bool>("watch");
        QTest::addColumn<int>("family"); // the member's value, also the one stored
        QTest::newRow("Auto, flows free") << 0 << false << false << 0;
        QTest::newRow("IPv4, one flow, watch") << 1 << true << true << 4;
        QTest::newRow("IPv6, watch") << 2 << false << true << 6;
    }
    void familyOneFlowAndWatchExchangeAndSurviveARestart()
    {
        QFETCH(int, index);
        QFETCH(bool, oneFlow);
        QFETCH(bool, watch);
        QFETCH(int, family);
        {
            Window w;
            w->m_cbFamily->setCurrentIndex(index);
            w->m_chkFixedFlow->setChecked(oneFlow);
            w->m_chkWatch->setChecked(watch);
            QVERIFY(w->UpdateData(true));
            QCOMPARE(int(w->m_family), family);
            QCOMPARE(w->m_bFixedFlow, oneFlow);
            QCOMPARE(w->m_bWatch, watch);
            w->close();
        }
        QCOMPARE(StoredInt(hl::kAddressFamilyEntry), family);
        QCOMPARE(StoredInt(hl::kFixedFlowEntry), int(oneFlow));
        QCOMPARE(StoredInt(hl::kWatchEntry), int(watch));
        Window w;
        QCOMPARE(w->m_cbFamily->currentIndex(), index);
        QCOMPARE(w->m_chkFixedFlow->isChecked(), oneFlow);
        QCOMPARE(w->m_chkWatch->isChecked(), watch);
        QCOMPARE(int(w->m_family), family);
    }

    // --watch ticks the box for this run only: the saved choice stays unless changed.
    void watchAskedOnTheCommandLineHoldsForThisRunOnly()
    {
        {
            Window w(Window::Closed);
            w->m_bWatchAsked = true;
            w.open();
            QVERIFY(w->m_chkWatch->isChecked());
            w->close();
        }
        QCOMPARE(StoredInt(hl::kWatchEntry), 0);
    }

    // ---- Watching ----------------------------------------------------------------------

    void traceStartsAWatchAndStopEndsIt_data()
    {
        QTest::addColumn<QString>("stopBy"); // "button", "Enter", or "Esc" (which ends the window instead)
        QTest::newRow("Stop button") << "button";
        QTest::newRow("Enter in the host field") << "Enter";
        QTest::newRow("Esc ends the window and the watch, saving nothing") << "Esc";
        QTest::newRow("the close box ends them, asking nothing, saving all") << "close box";
    }
    void traceStartsAWatchAndStopEndsIt()
    {
        QFETCH(QString, stopBy);
        Window w;
        w.setFields("4", "192.0.2.1", "1000", "3");
        w->m_chkWatch->setChecked(true);
        w->m_btnTrace->click();
        QVERIFY(w->watch().running());
        QCOMPARE(w->m_btnTrace->text(), u"Stop"_s);
        QCOMPARE(w->m_btnTrace->toolTip(), u"Stop watching (Enter)"_s);
        QCOMPARE(w.probe->sent.size(), size_t(4)); // the first round, at once
        QCOMPARE(w.text(IDC_TARGET), u"192.0.2.1"_s);
        // A second later its probes are lost and the next round leaves.
        w.fake.clock->now += 1000;
        w->watch().watch()->OnTimer(IDT_WATCH);
        QCOMPARE(w.probe->sent.size(), size_t(8));
        QCOMPARE(w.text(IDC_STATUS), u"Watching... round 1"_s);
        QAbstractItemModel* shown = w->m_list->model();
        QCOMPARE(shown->rowCount(), 4);
        QCOMPARE(shown->index(3, WC_LOSS).data().toString(), u"100.0"_s);
        QCOMPARE(shown->index(3, WC_RESULT).data().toString(), u"failed"_s);

        if (stopBy == u"Esc"_s || stopBy == u"close box"_s) {
            MessageRecorder messages;
            if (stopBy == u"Esc"_s)
                QTest::keyClick(w.field(IDC_HOST), Qt::Key_Escape);
            else
                w->close();
            QVERIFY(!w->isVisible());
            QVERIFY(!w->watch().running());
            QCOMPARE(messages.texts(), QStringList());
            QCOMPARE(StoredInt(hl::kWatchEntry), stopBy == u"Esc"_s ? std::nullopt : std::optional<int>(1));
            return;
        }
        if (stopBy == u"Enter"_s)
            QTest::keyClick(w.field(IDC_HOST), Qt::Key_Return);
        else
            w->m_btnTrace->click();
        QVERIFY(!w->watch().running());
        QCOMPARE(w->m_btnTrace->text(), u"Trace"_s);
        QVERIFY(w->m_btnTrace->toolTip().startsWith(u"Trace"_s));
        QCOMPARE(w.text(IDC_STATUS), u"Stopped."_s);
        // The window's traces get the ICMP socket back as they had it, no socket of the
        // watch's kept open: the first round's went as it finished, the second's at Stop.
        QVERIFY(!w.fake.icmp->keepsProbeSockets);
        QCOMPARE(
            w.fake.icmp->released, (std::vector<uint16_t> { FakeProbeSocket::PortOf(1), FakeProbeSocket::PortOf(2) }));
        w.fake.clock->now += 5000;
        w->watch().watch()->OnTimer(IDT_WATCH);
        QCOMPARE(w.probe->sent.size(), size_t(8)); // no round after Stop

        // Unticked, Trace traces once again, on the platform the watch used, and the watch's
        // report (its figures, names, times and rounds) is kept as it was, still savable: by
        // its filter (a name in .csv taking the watch's, not the trace's) or by the name typed.
        const QByteArray html = WatchReport(w->watch(), WatchReportFormat::Html);
        const QByteArray csv = WatchReport(w->watch(), WatchReportFormat::Csv);
        w->m_chkWatch->setChecked(false);
        w->m_btnTrace->click();
        QCOMPARE(w.text(IDC_STATUS), u"Tracing..."_s);
        QCOMPARE(w.rows(), 4);
        QCOMPARE(w->m_btnTrace->text(), u"Trace"_s);
        QCOMPARE(w->m_list->model(), &w->rows());
        const QString path = QDir(QDir::tempPath()).filePath(u"hoplantern-last-watch"_s);
        for (const auto& [name, filter, expected] : { std::tuple { u".csv"_s, u"Last watch, CSV (*.csv)"_s, csv },
                 std::tuple { u".html"_s, QString(), html } }) {
            QFile saved(path + name);
            saved.remove(); // else the dialog asks whether to replace it
            AnswerNextFileDialog(w.dlg.get(), path + name, filter);
            QVERIFY(ChooseFromRowMenu(w, 0, HopListView::SaveReport));
            QVERIFY(saved.open(QIODevice::ReadOnly));
            QCOMPARE(saved.readAll(), expected);
            saved.remove();
        }
    }

    // What the statistics columns show of known rounds: the figures as the terminal table
    // gives them, and the Loss% muted exactly where part of it is a router declining.
    void statisticsColumns_data()
    {
        QTest::addColumn<QList<QList<double>>>("ms"); // [hop][round], -1: lost
        QTest::addColumn<int>("row");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<bool>("lossMuted");
        const QList<double> first { 1, 2, 3, 4 };
        const QList<double> halfLost { 5, -1, 5, -1 };
        QTest::newRow("a router's figures") << QList<QList<double>> { first, { 9, 9, 9, 9 } } << 0
                                            << QStringList { "1", "198.18.1.2", "4", "198.18.1.2", "next", "0.0", "0.0",
                                                   "4", "4.0", "2.5", "1.0", "4.0", "1.3", "1.0" }
                                            << false;
        QTest::newRow("a router declining half its answers")
            << QList<QList<double>> { first, halfLost, { 9, 9, 9, 9 } } << 1
            << QStringList { "2", "198.18.2.2", "5", "198.18.2.2", "next", "50.0", "0.0", "4", "5.0", "5.0", "5.0",
                   "5.0", "0.00", "0.00" }
            << true;
        QTest::newRow("loss carried on to the target")
            << QList<QList<double>> { first, halfLost, { 9, -1, 9, -1 } } << 1
            << QStringList { "2", "198.18.2.2", "5", "198.18.2.2", "next", "50.0", "50.0", "4", "5.0", "5.0", "5.0",
                   "5.0", "0.00", "0.00" }
            << false;
        QTest::newRow("the target") << QList<QList<double>> { first, halfLost, { 9, 9, 9, 9 } } << 2
                                    << QStringList { "3", "198.18.3.2", "9", "198.18.3.2", "complete", "0.0", "0.0",
                                           "4", "9.0", "9.0", "9.0", "9.0", "0.00", "0.00" }
                                    << false;
    }
    void statisticsColumns()
    {
        QFETCH(QList<QList<double>>, ms);
        QFETCH(int, row);
        QFETCH(QStringList, texts);
        QFETCH(bool, lossMuted);
        PathStats stats(false);
        FeedRounds(stats, ms);
        WatchTableModel model;
        model.Refresh(stats, {});
        QCOMPARE(model.rowCount(), int(ms.size()));
        QCOMPARE(RowTexts(model, row), texts);
        for (int c = 0; c < WATCH_COLUMN_COUNT; ++c)
            QCOMPARE(model.index(row, c).data(kWatchMutedRole).toBool(), lossMuted && c == WC_LOSS);
    }

    // The Timeline strips of 20 rounds: the first router declines rounds 5 and 7 (the second
    // loses nothing, so none of it carries on), the third loses round 15 and so does the
    // target behind it. Each round is
    // 2 pixels wide; a lost round's mark fills the cell's height, so the bottom pixel row
    // shows it: strong where the loss carries on, muted where the router declined. The median
    // line turns red only for loss that carries on: its most coloured pixel in the round's
    // column tells.
    void timelineStripDrawsLossAsItCarriesOn_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("round");
        QTest::addColumn<QString>("mark"); // "strong", "muted" or "none"
        QTest::addColumn<bool>("redLine");
        QTest::newRow("declined at the first router") << 0 << 5 << "muted" << false;
        QTest::newRow("answered there") << 0 << 6 << "none" << false;
        QTest::newRow("carried on from the third router") << 2 << 15 << "strong" << true;
        QTest::newRow("and at the target") << 3 << 15 << "strong" << true;
        QTest::newRow("the target answering") << 3 << 5 << "none" << false;
    }
    void timelineStripDrawsLossAsItCarriesOn()
    {
        QFETCH(int, row);
        QFETCH(int, round);
        QFETCH(QString, mark);
        QFETCH(bool, redLine);
        QList<QList<double>> ms { QList<double>(20, 1), QList<double>(20, 2), QList<double>(20, 4),
            QList<double>(20, 9) };
        ms[0][5] = ms[0][7] = ms[2][15] = ms[3][15] = -1;
        PathStats stats(false);
        FeedRounds(stats, ms);
        WatchTableModel model;
        model.Refresh(stats, {});
        // One scale for every row: 9 ms, the greatest spread's top, rounded up.
        QCOMPARE(
            model.headerData(WC_TIMELINE, Qt::Horizontal, Qt::DisplayRole).toString(), u"Timeline 0\u201310.0 ms"_s);
        const auto slice = model.index(row, WC_TIMELINE).data(kTimelineRole).value<TimelineSlice>();
        QCOMPARE(slice.points.size(), size_t(kTimelineRounds));
        QImage image(2 * kTimelineRounds, 20, QImage::Format_RGB32);
        image.fill(Qt::white);
        const QPalette palette = QGuiApplication::palette();
        {
            QPainter painter(&image);
            PaintTimeline(painter, QRectF(image.rect()), slice, palette);
        }
        const int x = 2 * (round + kTimelineRounds - 20); // the newest round is the rightmost
        const QColor seen = image.pixelColor(x, image.height() - 1);
        const QColor expected = mark == u"strong"_s ? ForwardLossColor()
            : mark == u"muted"_s                    ? DeclinedLossColor(palette)
                                                    : QColor(Qt::white);
        QCOMPARE(seen.name(), expected.name());
        QVERIFY(ForwardLossColor().name() != DeclinedLossColor(palette).name());
        QColor line = Qt::white;
        for (int y = 0; y < image.height(); ++y) {
            if (image.pixelColor(x + 1, y).hsvSaturationF() > line.hsvSaturationF())
                line = image.pixelColor(x + 1, y);
        }
        QCOMPARE(line.red() > line.green(), redLine);
    }

    // Selecting a hop of the watch's table shows its chart below it, over each range; the
    // splitter's share for the chart is kept for the next run.
    void hopChartShowsTheSelectedHop()
    {
        const auto watchThreeRounds = [](Window& w) {
            WatchRounds(w, u"2"_s, 3);
            w->m_list->setCurrentIndex(w->m_list->model()->index(0, 0));
        };
        {
            Window w;
            QVERIFY(!w->m_chart->isVisible());
            watchThreeRounds(w);
            QVERIFY(w->m_chart->isVisible());
            QCOMPARE(w->m_chart->hop(), 1);
            const TimelineSlice& slice = w->m_chart->slice();
            QCOMPARE(slice.points.size(), size_t(60));
            QCOMPARE(*slice.points.back().medianUs, 4000.0); // the newest round, rightmost
            const QRectF plot = w->m_chart->PlotRect();
            const QString tip = w->m_chart->TextAt(QPoint(int(plot.right()) - 1, int(plot.center().y())));
            QVERIFY2(tip.contains(u"RTT 4.0 ms"_s) && tip.contains(u"198.18.1.2"_s), qPrintable(tip));
            for (const auto& [range, points] :
                { std::pair { HopChart::OneHour, 360 }, { HopChart::OneDay, 1440 }, { HopChart::SevenDays, 672 } }) {
                w->m_chart->SetRange(range);
                QCOMPARE(w->m_chart->slice().points.size(), size_t(points));
            }
            QVERIFY(w->m_chart->slice().points.back().medianUs);
            w->m_splitResults->setSizes({ w->m_splitResults->height() - 90, 90 });
            w->close();
        }
        Window w;
        watchThreeRounds(w);
        QCOMPARE(w->m_splitResults->sizes().value(1), 90);
        // A trace's table has no chart.
        w->m_btnTrace->click(); // Stop
        w->m_chkWatch->setChecked(false);
        w->m_btnTrace->click();
        QVERIFY(!w->m_chart->isVisible());
    }

    void watchColumnsSurviveARestart_data()
    {
        QTest::addColumn<bool>("damaged"); // else arranged by the user before the restart
        QTest::newRow("arranged, hidden, resized") << false;
        QTest::newRow("a damaged value: the defaults") << true;
    }
    void watchColumnsSurviveARestart()
    {
        QFETCH(bool, damaged);
        const auto watch = [](Window& w) {
            w.setFields("3", "192.0.2.1", "1000", "3");
            w->m_chkWatch->setChecked(true);
            w->m_btnTrace->click();
            QCOMPARE(w.header()->count(), int(WATCH_COLUMN_COUNT));
        };
        {
            Window w;
            watch(w);
            QHeaderView* h = w.header();
            QCOMPARE(h->model()->headerData(WC_JTTR, Qt::Horizontal).toString(), u"Jttr"_s);
            h->moveSection(h->visualIndex(WC_HOST), 0);
            h->moveSection(h->visualIndex(WC_AVG), WC_LOSS);
            h->resizeSection(WC_LAST, 77);
            const std::unique_ptr<QMenu> menu = ColumnMenu(*h);
            QCOMPARE(menu->actions().size(), WATCH_COLUMN_COUNT - HOP_COLUMN_COUNT);
            menu->actions().at(WC_JTTR - HOP_COLUMN_COUNT)->trigger();
            QVERIFY(h->isSectionHidden(WC_JTTR));
            w->close();
        }
        if (damaged) {
            hl::RegistryStore store;
            QVERIFY(store.SetValue(
                QString::fromLatin1(hl::kProgramKey), hl::kWatchColumnsValue, hl::kRegBinary, QByteArray(24, '\x05')));
        }
        Window w;
        QCOMPARE(w.header()->count(), HOP_COLUMN_COUNT); // the trace's table until a watch
        QCOMPARE(w.header()->logicalIndex(0), int(WC_HOST));
        watch(w);
        QHeaderView* h = w.header();
        QCOMPARE(h->logicalIndex(0), int(WC_HOST)); // the five as the trace's table has them
        QCOMPARE(h->visualIndex(WC_AVG), damaged ? int(WC_AVG) : int(WC_LOSS));
        QCOMPARE(h->sectionSize(WC_LAST), damaged ? kWatchColumns[WC_LAST - HOP_COLUMN_COUNT].width : 77);
        QCOMPARE(h->isSectionHidden(WC_JTTR), !damaged);
        QCOMPARE(h->isSectionHidden(WC_LOSS), false);
    }

    void damagedSettingsGiveTheDefaults()
    {
        // Readable, but not values this program wrote (an unreadable file is the store's
        // own test: it reads as empty).
        hl::RegistryStore store;
        const QString programKey = QString::fromLatin1(hl::kProgramKey);
        QVERIFY(store.SetValue(programKey, hl::kColumnOrderValue, hl::kRegBinary, QByteArray(40, '\x07')));
        QVERIFY(store.SetValue(programKey, hl::kWindowPositionValue, hl::kRegBinary, QByteArray(41, '\x01')));
        QVERIFY(store.SetValue(
            u"software\\Veltrosyn\\Hoplantern\\Options"_s, "Hop number", hl::kRegBinary, QByteArray("\x05\x00", 2)));
        QVERIFY(store.WriteProfileInt("Options", "Timeout", 0));
        QVERIFY(store.SetValue(programKey, hl::kRecentHostsValue, hl::kRegBinary, QByteArray("a\0\0\0", 4)));
        QVERIFY(store.SetValue(u"software\\Veltrosyn\\Hoplantern\\Options"_s, hl::kWindowMaximizedEntry, hl::kRegBinary,
            QByteArray("\x01", 1)));
        Window w;
        QVERIFY(w->m_hostHistory->hosts().isEmpty());
        QVERIFY(!w->isMaximized());
        QCOMPARE(w.header()->logicalIndex(0), 0);
        QCOMPARE(w.header()->logicalIndex(4), 4);
        QCOMPARE(w.text(IDC_HOPS), u"16"_s);
        QCOMPARE(w.text(IDC_TIMEOUT), u"0"_s); // stored as it is, no range check
        QCOMPARE(w->m_list->size(), TemplateRect(IDC_RESULTS).size());
        QCOMPARE(StoredBinary(hl::kWindowPositionValue).size(), 16); // the over-long value was replaced
    }

    void aMaximisedWindowReopensMaximisedOverItsRectangle_data()
    {
        QTest::addColumn<bool>("maximised");
        QTest::newRow("maximised") << true;
        QTest::newRow("not maximised") << false;
    }
    void aMaximisedWindowReopensMaximisedOverItsRectangle()
    {
        QFETCH(bool, maximised);
        QRect normal;
        int listMargin = 0; // from the list's right edge to the window's
        {
            Window w;
            w->resize(w->width() + 80, w->height() + 20);
            normal = w->frameGeometry();
            listMargin = w->width() - w->m_list->geometry().right();
            if (maximised) {
                w->showMaximized();
                QTRY_COMPARE(w->frameGeometry(), w->screen()->availableGeometry());
            }
            w->close();
        }
        hl::RegistryStore store;
        hl::WindowRect saved {};
        hl::LoadWindowPosition(store, saved);
        QCOMPARE(RectOf(saved), normal); // the rectangle it returns to, not the screen's
        Window w;
        QCOMPARE(w->isMaximized(), maximised);
        if (maximised) {
            QTRY_COMPARE(w->frameGeometry(), w->screen()->availableGeometry());
            QCOMPARE(w->width() - w->m_list->geometry().right(), listMargin); // laid out for that size
            w->showNormal(); // back to the rectangle it had, frame and all
        }
        QTRY_COMPARE(w->frameGeometry(), normal);
    }

    void theHostFieldOffersTheLastTwentyHostsTraced_data()
    {
        QTest::addColumn<QStringList>("traced");
        QTest::addColumn<QStringList>("offered"); // after a restart, top to bottom
        QStringList many, lastTwenty;
        for (int i = 1; i <= 25; ++i)
            many << u"h%1.example"_s.arg(i);
        for (int i = 25; i > 5; --i)
            lastTwenty << u"h%1.example"_s.arg(i);
        QTest::newRow("none traced") << QStringList {} << QStringList {};
        QTest::newRow("newest first") << QStringList { "a.example", "192.0.2.1", "2001:db8::1" }
                                      << QStringList { "2001:db8::1", "192.0.2.1", "a.example" };
        QTest::newRow("traced again: moved up, once, as last typed")
            << QStringList { "gw.example", "192.0.2.1", "GW.Example" } << QStringList { "GW.Example", "192.0.2.1" };
        QTest::newRow("blanks taken off, an empty host not kept")
            << QStringList { " a.example\t", "", "  " } << QStringList { "a.example" };
        QTest::newRow("twenty at most") << many << lastTwenty;
    }
    void theHostFieldOffersTheLastTwentyHostsTraced()
    {
        QFETCH(QStringList, traced);
        QFETCH(QStringList, offered);
        {
            Window w;
            MessageRecorder messages;
            for (const QString& host : traced) {
                w.setFields("1", host, "3000", "3");
                w->m_btnTrace->click();
            }
            QCOMPARE(w->m_hostHistory->hosts(), offered);
            w->close();
        }
        Window w;
        QVERIFY(QTest::qWaitForWindowActive(w.dlg.get()));
        QCOMPARE(w->m_hostHistory->hosts(), offered);
        // The arrow at the field's end drops the whole list down, whatever the field holds.
        w.field(IDC_HOST)->clear();
        QTest::keyClicks(w.field(IDC_HOST), u"h"_s); // typing opens nothing, so Enter traces what was typed
        QCompleter* completer = w->m_hostHistory->completer();
        QVERIFY(!completer->popup()->isVisible());
        QCOMPARE(w->m_hostHistory->dropDownAction()->isVisible(), !offered.isEmpty());
        w->m_hostHistory->dropDownAction()->trigger();
        QCOMPARE(completer->popup()->isVisible(), !offered.isEmpty());
        QCOMPARE(completer->completionCount(), offered.size());
        if (!offered.isEmpty()) { // and picking one puts it in the field
            QAbstractItemView* list = completer->popup();
            list->setCurrentIndex(list->model()->index(int(offered.size()) - 1, 0));
            QTest::keyClick(list, Qt::Key_Return);
            QCOMPARE(w.text(IDC_HOST), offered.last());
            QCOMPARE(w->focusWidget(), w.field(IDC_HOST)); // where Enter traces it
        }
    }

    void noTextIsClipped()
    {
        // Run at twice the scale as well (ui_trace_dlg_2x), where fonts round differently.
        Window w;
        for (const QWidget* control : w->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (!control->isVisible() || !control->property("text").isValid()) // the fields scroll their text
                continue;
            // A check box's text beside its box; a label's inside its frame.
            const QSize needs = qobject_cast<const QCheckBox*>(control) ? control->sizeHint() : TextNeeds(control);
            const QSize has = control->contentsRect().size();
            QVERIFY2(needs.width() <= has.width() && needs.height() <= has.height(),
                qPrintable(control->objectName() + u" needs "_s + QDebug::toString(needs) + u", has "_s
                    + QDebug::toString(has)));
        }
    }

    void theLastColumnShownFillsTheList()
    {
        Window w;
        const auto columnsWidth = [&] { return w.header()->length(); };
        QCOMPARE(columnsWidth(), w->m_list->viewport()->width());
        w->resize(w->width() + 200, w->height());
        QCOMPARE(columnsWidth(), w->m_list->viewport()->width());
        const int resultWidth = w.header()->sectionSize(4);
        w.header()->moveSection(w.header()->visualIndex(2), 4); // "Time" dragged last: it takes the room
        QCOMPARE(columnsWidth(), w->m_list->viewport()->width());
        QVERIFY(w.header()->sectionSize(2) > 65 + 100);
        QVERIFY(w.header()->sectionSize(4) < resultWidth);

        // Through a watch's table and back, the last column keeps the width it was given,
        // not the room it filled: the window narrowed again, the columns still fit.
        w.setFields("3", "192.0.2.1", "1000", "3");
        w->m_chkWatch->setChecked(true);
        w->m_btnTrace->click();
        w->resize(w->width() + 800, w->height()); // wider than all the watch's columns
        QCOMPARE(columnsWidth(), w->m_list->viewport()->width());
        w->m_btnTrace->click(); // Stop
        w->m_chkWatch->setChecked(false);
        w->m_btnTrace->click();
        w->resize(w->width() - 1000, w->height());
        QCOMPARE(columnsWidth(), w->m_list->viewport()->width());
    }

    // ---- Layout on resize --------------------------------------------------------------

    void resizeMovesAndGrowsEachControlByItsAxes_data()
    {
        QTest::addColumn<QSize>("change");
        QTest::newRow("lower by 50 pixels") << QSize(0, -50);
        QTest::newRow("wider and taller") << QSize(60, 25);
    }
    void resizeMovesAndGrowsEachControlByItsAxes()
    {
        QFETCH(QSize, change);
        const int dx = change.width();
        const int dy = change.height();
        Window w;
        const auto before = Geometries(w);
        w->resize(w->size() + change);
        for (const auto& [id, f] : kControls) {
            QCOMPARE(w.item(id)->geometry(),
                before.at(id).adjusted(f & X ? dx : 0, f & Y ? dy : 0, f & (X | W) ? dx : 0, f & (Y | H) ? dy : 0));
        }
        QCOMPARE(w.header()->sectionSize(3), 245);
    }

    void floorsHoldTheMinimumSize()
    {
        Window w;
        const auto start = Geometries(w);
        const QSize startSize = w->size();
        const QSize toFloors(w->m_editHost->width() - 32, w->m_list->height() - 20);

        w->resize(startSize - toFloors); // exactly at both floors: allowed
        QCOMPARE(w->m_editHost->width(), 32);
        QCOMPARE(w->m_list->height(), 20);
        w->resize(1, 1); // past both: held at the floors
        QCOMPARE(w->size(), startSize - toFloors);
        QCOMPARE(w->minimumSize(), w->size());
        QCOMPARE(w->m_editHost->width(), 32);
        QCOMPARE(w->m_list->height(), 20);
        QCOMPARE(w.item(IDOK)->geometry().right(), w->width() - (startSize.width() - start.at(IDOK).right()));

        w->resize(startSize); // and back, with nothing drifting on the way
        QVERIFY(Geometries(w) == start);
    }

    void aRestoredRectangleBelowTheFloorsKeepsThePositionOnThatAxis()
    {
        Window w;
        const QRect before = w->frameGeometry();
        w->MoveWindow({ before.x() + 300, before.y() + 7, before.x() + 310, before.y() + 7 + before.height() + 40 });
        QCOMPARE(w->frameGeometry().x(), before.x()); // too narrow: x kept
        QCOMPARE(w->width(), w->minimumWidth());
        QCOMPARE(w->frameGeometry().y(), before.y() + 7); // height fine: taken as given
        QCOMPARE(w->frameGeometry().height(), before.height() + 40);
        QCOMPARE(w->m_editHost->width(), 32);
        QCOMPARE(w->m_list->height(), TemplateRect(IDC_RESULTS).height() + 40);
    }

    void theWindowOpensOnTheScreenWhole_data()
    {
        // Outer rectangles as saved, relative to the screen's available area.
        QTest::addColumn<QRect>("saved"); // empty: nothing saved
        QTest::addColumn<bool>("kept"); // it fits, so it is taken as saved
        QTest::newRow("nothing saved") << QRect() << true;
        QTest::newRow("fits") << QRect(5, 10, 634, 380) << true;
        QTest::newRow("on a screen to the right that is gone") << QRect(3000, 100, 700, 400) << false;
        QTest::newRow("left of and above the screen") << QRect(-2000, -500, 700, 400) << false;
        QTest::newRow("larger than the screen") << QRect(-10, -10, 4000, 3000) << false;
        QTest::newRow("over the bottom right corner") << QRect(500, 400, 700, 400) << false;
    }
    void theWindowOpensOnTheScreenWhole()
    {
        QFETCH(QRect, saved);
        QFETCH(bool, kept);
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        const QRect rect = saved.translated(area.topLeft());
        if (!saved.isEmpty()) {
            hl::RegistryStore store;
            hl::SaveWindowPosition(store, { rect.left(), rect.top(), rect.right() + 1, rect.bottom() + 1 });
        }
        Window w;
        const QRect shown = w->frameGeometry();
        QVERIFY2(area.contains(shown), qPrintable(QDebug::toString(shown) + u" on "_s + QDebug::toString(area)));
        if (kept && !saved.isEmpty())
            QCOMPARE(shown, rect);
        if (!kept)
            QCOMPARE(shown.size(), rect.size().boundedTo(area.size()));
    }

    void movingAndStateChangesLayNothingOut()
    {
        Window w;
        const auto before = Geometries(w);
        w->move(w->pos() + QPoint(25, 35));
        QVERIFY(Geometries(w) == before);

        const QRect f = w->frameGeometry();
        CTraceDlg::WindowPos minimise { f.x(), f.y(), 160, 30,
            CTraceDlg::SWP_STATECHANGED | CTraceDlg::SWP_NOCOPYBITS };
        w->OnWindowPosChanging(&minimise);
        CTraceDlg::WindowPos noMove { f.x(), f.y(), f.width() + 60, f.height(), CTraceDlg::SWP_NOMOVE };
        w->OnWindowPosChanging(&noMove);
        QVERIFY(Geometries(w) == before);
        QCOMPARE(noMove.cx, f.width() + 60); // nor is any floor applied
    }
};

QTEST_MAIN(TestTraceDlg)
#include "tst_trace_dlg.moc"

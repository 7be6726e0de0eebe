// The main window on the offscreen platform: built from its template, exchanging its
// fields, its commands, closing with and without saving, its layout on resize, the
// settings surviving a restart, and copying rows. Traces run on the fake platform, so
// nothing leaves the machine; the real path is the namespace test's.
#include "dialog_builder.h"
#include "fake_platform.h"
#include "resource.h"
#include "settings/settings_ops.h"
#include "trace_dlg.h"
#include "about_dlg.h"
#include "ui_test_support.h"

#include <QClipboard>
#include <QTimer>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QtEndian>

#include <arpa/inet.h>
#include <climits>
#include <memory>

namespace {

// A window on the fake platform, with the fakes kept for steering.
struct Window {
    FakePlatform fake;
    FakeIcmpSocket* icmp = fake.icmp;
    FakeProbeSocket* probe = fake.probe;
    std::unique_ptr<CTraceDlg> dlg;

    explicit Window(bool icmpFails = false)
    {
        fake.icmp->createFails = icmpFails;
        dlg = std::make_unique<CTraceDlg>(nullptr, std::move(fake.platform));
    }
    CTraceDlg* operator->() const { return dlg.get(); }
    QLineEdit* field(int id) const { return qobject_cast<QLineEdit*>(dlg->GetDlgItem(id)); }
    QWidget* item(int id) const { return dlg->GetDlgItem(id); }
    QHeaderView* header() const { return dlg->m_list->header(); }
    // Initialised and shown, as a user sees it.
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

QRect TemplateRect(const CTraceDlg& dlg, int id)
{
    const res::DialogTemplate* t = res::FindDialogTemplate(IDD_TRACE_DIALOG);
    return MapDialogRect(t->Find(id)->rect, BaseUnitsOf(dlg.font()));
}

constexpr int kAllControls[] = { IDOK, IDC_RESULTS, IDC_HOST, IDC_STATUS, IDC_HOPS, IDC_HOPS_LABEL, IDC_TIMEOUT,
    IDC_MS_LABEL, IDC_HOST_BUTTON, IDC_TARGET, IDC_TARGET_LABEL, IDC_TRIES, IDC_TRIES_LABEL, IDC_ABOUT, IDCANCEL };
constexpr int kTopRow[] = { IDC_TRIES, IDC_TRIES_LABEL, IDC_HOPS, IDC_HOPS_LABEL, IDC_TIMEOUT, IDC_MS_LABEL, IDOK };
constexpr int kBottomRight[] = { IDC_ABOUT, IDC_TARGET_LABEL, IDC_TARGET };

std::map<int, QRect> Geometries(const Window& w)
{
    std::map<int, QRect> out;
    for (int id : kAllControls)
        out[id] = w.item(id)->geometry();
    return out;
}

std::optional<int> StoredInt(const QString& section, const char* entry)
{
    const std::optional<hl::RegValue> v =
        hl::RegistryStore().QueryValue(QString::fromLatin1(hl::RegistryStore::kProfileRoot) + u'\\' + section,
            QString::fromLatin1(entry));
    if (!v || v->type != hl::kRegDword || v->data.size() != 4)
        return std::nullopt;
    return qFromLittleEndian<qint32>(v->data.constData());
}

QByteArray StoredBinary(const char* name)
{
    const auto v = hl::RegistryStore().QueryValue(QString::fromLatin1(hl::kProgramKey), QString::fromLatin1(name));
    return v ? v->data : QByteArray();
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
        QCoreApplication::setApplicationName(QStringLiteral("Hoplantern"));
    }
    void init() { settings->clear(); }

    // ---- The window as the template describes it --------------------------------------

    void everyControlAtItsTemplateRectangle()
    {
        Window w;
        w.open();
        QCOMPARE(w->windowTitle(), QStringLiteral("Veltrosyn hoplantern"));
        const DialogBaseUnits units = BaseUnitsOf(w->font());
        QVERIFY(units.cx > 0 && units.cy > 0);
        QCOMPARE(w->size(), MapDialogRect({ 0, 0, 387, 244 }, units).size());
        for (int id : kAllControls) {
            QVERIFY2(w.item(id), qPrintable(QString::number(id)));
            QCOMPARE(w.item(id)->geometry(), TemplateRect(*w.dlg, id));
        }
        QVERIFY(!w.item(IDCANCEL)->isVisible());
        QVERIFY(w.item(IDOK)->isVisible());
        QCOMPARE(w->m_stStatus->text(), QStringLiteral("Idle"));
        QCOMPARE(w->m_stTarget->text(), QString());
        QCOMPARE(w->m_btnTrace->text(), QStringLiteral("Trace"));
        QCOMPARE(w->m_btnHost->text(), QStringLiteral("Host >"));
        QCOMPARE(w->m_btnAbout->text(), QStringLiteral("About..."));
        QCOMPARE(qobject_cast<QLabel*>(w.item(IDC_TARGET_LABEL))->text(), QStringLiteral("Target:"));
        QCOMPARE(w.field(IDC_TRIES)->text(), QStringLiteral("3"));
        QCOMPARE(w.field(IDC_HOPS)->text(), QStringLiteral("16"));
        QCOMPARE(w.field(IDC_TIMEOUT)->text(), QStringLiteral("3000"));
        QCOMPARE(w.field(IDC_HOST)->text(), QString());
        QVERIFY(w->m_btnTrace->isDefault());
        QCOMPARE(w->focusWidget(), w->m_btnTrace);
    }

    void dialogUnitsMapEdgeByEdgeRounded()
    {
        // 14 * 7 / 4 = 24.5 and 230 * 14 / 8 = 402.5 round up; 385 * 7 / 4 = 673.75 to 674.
        QCOMPARE(MapDialogRect({ 2, 14, 383, 216 }, { 7, 14 }), QRect(QPoint(4, 25), QPoint(673, 402)));
        QCOMPARE(MapDialogRect({ 0, 0, 4, 8 }, { 6, 13 }), QRect(0, 0, 6, 13));
        // Neighbours that share an edge in dialog units share it in pixels.
        const DialogBaseUnits odd { 7, 15 };
        QCOMPARE(MapDialogRect({ 32, 0, 165, 13 }, odd).right() + 1, MapDialogRect({ 197, 0, 1, 13 }, odd).left());
    }

    void tabOrderIsTemplateOrder()
    {
        Window w;
        w.open();
        QList<int> order;
        QWidget* at = w->m_btnTrace;
        do {
            const QVariant id = at->property(kControlIdProperty);
            if (id.isValid() && (at->focusPolicy() & Qt::TabFocus) && at->isVisible())
                order << id.toInt();
            at = at->nextInFocusChain();
        } while (at != w->m_btnTrace && order.size() < 50);
        QCOMPARE(order,
            QList<int>({ IDOK, IDC_RESULTS, IDC_HOST, IDC_HOPS, IDC_TIMEOUT, IDC_HOST_BUTTON, IDC_TRIES, IDC_ABOUT }));
    }

    void listShowsFiveColumnsDraggableWithSeveralRowsSelectable()
    {
        Window w;
        w.open();
        QAbstractItemModel* m = w->m_list->model();
        QHeaderView* h = w.header();
        const QStringList titles = { "Hop", "IP address", "Time", "Host name", "Result" };
        const int widths[] = { 32, 95, 65, 245, 163 };
        const Qt::Alignment aligns[] = { Qt::AlignLeft, Qt::AlignRight, Qt::AlignRight, Qt::AlignRight, Qt::AlignLeft };
        QCOMPARE(h->count(), 5);
        for (int c = 0; c < 5; ++c) {
            QCOMPARE(m->headerData(c, Qt::Horizontal).toString(), titles[c]);
            QCOMPARE(h->sectionSize(c), widths[c]);
            const auto align = m->headerData(c, Qt::Horizontal, Qt::TextAlignmentRole).value<Qt::Alignment>();
            QCOMPARE(align & Qt::AlignHorizontal_Mask, aligns[c]);
        }
        QVERIFY(h->sectionsMovable());
        QCOMPARE(w->m_list->selectionMode(), QAbstractItemView::ExtendedSelection);
        QCOMPARE(w->m_list->selectionBehavior(), QAbstractItemView::SelectRows);
        QVERIFY(!w->m_list->rootIsDecorated());
    }

    void newTraceKeepsColumnWidthsAndOrder()
    {
        Window w;
        w.open();
        w.header()->moveSection(4, 0);
        w.header()->resizeSection(3, 100);
        w.setFields("5", "192.0.2.1", "3000", "3");
        w->m_btnTrace->click();
        w->m_btnTrace->click(); // the second trace empties the table of the first
        QCOMPARE(w->rows().GetItemCount(), 5);
        QCOMPARE(w.header()->logicalIndex(0), 4);
        QCOMPARE(w.header()->sectionSize(3), 100);
        QCOMPARE(w.header()->sectionSize(1), 95);
    }

    // ---- Data exchange ---------------------------------------------------------------

    void integerFields_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<int>("value");
        QTest::newRow("blanks around") << "  42  " << true << 42;
        QTest::newRow("tabs around") << "\t42\t" << true << 42;
        QTest::newRow("blank inside") << "4 2" << false << 0;
        QTest::newRow("letters") << "abc" << false << 0;
        QTest::newRow("digits then letter") << "12x" << false << 0;
        QTest::newRow("empty") << "" << false << 0;
        QTest::newRow("blanks only") << "   " << false << 0;
        QTest::newRow("zero") << "0" << true << 0;
        QTest::newRow("double zero") << "00" << true << 0;
        QTest::newRow("minus zero") << "-0" << false << 0;
        QTest::newRow("plus zero") << "+0" << false << 0;
        QTest::newRow("negative") << "-5" << true << -5;
        QTest::newRow("plus sign") << "+7" << true << 7;
        QTest::newRow("huge") << "99999999999999999999" << true << INT_MAX;
        QTest::newRow("huge negative") << "-99999999999999999999" << true << INT_MIN;
        QTest::newRow("only the first 31 characters") << QString(29, u' ') + "12345" << true << 12;
    }
    void integerFields()
    {
        QFETCH(QString, text);
        QFETCH(bool, accepted);
        QFETCH(int, value);
        // Every number field reads by the same rules; each is tried on its own.
        for (int id : { IDC_HOPS, IDC_TIMEOUT, IDC_TRIES }) {
            Window w;
            w.open();
            MessageRecorder messages;
            w->m_nHops = w->m_nTimeout = w->m_nTries = 111;
            w.setFields("111", "", "111", "111");
            w.field(id)->setText(text);
            int& member = id == IDC_HOPS ? w->m_nHops : id == IDC_TIMEOUT ? w->m_nTimeout : w->m_nTries;

            QCOMPARE(w->UpdateData(true), accepted);
            if (accepted) {
                QCOMPARE(member, value);
                QVERIFY(messages.messages.empty());
                continue;
            }
            QCOMPARE(member, 111);
            QCOMPARE(messages.messages.size(), size_t(1));
            QCOMPARE(messages.messages[0].text, QStringLiteral("Please enter an integer."));
            QCOMPARE(messages.messages[0].caption, QStringLiteral("Hoplantern"));
            QCOMPARE(messages.messages[0].icon, QMessageBox::Warning);
            QCOMPARE(w->focusWidget(), w.field(id));
            QCOMPARE(w.field(id)->selectedText(), text);
            QCOMPARE(w.field(id)->text(), text); // the user's text is not lost
        }
    }

    void exchangeStopsAtTheRejectedField()
    {
        Window w;
        w.open();
        MessageRecorder messages;
        w.setFields("many", "example.net", "500", "7");
        QVERIFY(!w->UpdateData(true));
        QCOMPARE(w->m_nHops, 16);
        QCOMPARE(w->m_strHost, QString());
        QCOMPARE(w->m_nTimeout, 3000);
        QCOMPARE(w->m_nTries, 3);

        // A bad wait time: hops and host, exchanged before it, take their new values.
        w.setFields("20", "example.net", "soon", "7");
        QVERIFY(!w->UpdateData(true));
        QCOMPARE(w->m_nHops, 20);
        QCOMPARE(w->m_strHost, QStringLiteral("example.net"));
        QCOMPARE(w->m_nTimeout, 3000);
        QCOMPARE(w->m_nTries, 3);
        QCOMPARE(messages.messages.size(), size_t(2));
        QCOMPARE(w->focusWidget(), w.field(IDC_TIMEOUT));

        w.setFields("20", " host with blanks ", "700", "2");
        QVERIFY(w->UpdateData(true));
        QCOMPARE(w->m_strHost, QStringLiteral(" host with blanks ")); // the host is taken whole
        QCOMPARE(w->m_nTries, 2);
        w->m_nHops = -4;
        w->UpdateData(false);
        QCOMPARE(w.field(IDC_HOPS)->text(), QStringLiteral("-4"));
    }

    void traceTakesTheFieldsEvenAfterARejectedOne()
    {
        Window w;
        w.open();
        MessageRecorder messages;
        w.setFields("4", "192.0.2.1", "3000", "3");
        w->m_btnTrace->click();
        QCOMPARE(w->rows().GetItemCount(), 4);
        QCOMPARE(w->engine().m_strHost, QStringLiteral("192.0.2.1"));
        QCOMPARE(w->m_stStatus->text(), QStringLiteral("Tracing..."));
        QCOMPARE(w->m_stTarget->text(), QStringLiteral("192.0.2.1"));
        QCOMPARE(w.probe->sent.size(), size_t(4));

        // A bad hops field: the message, then a trace with the values as they were.
        w.setFields("lots", "198.51.100.7", "3000", "1");
        w->m_btnTrace->click();
        QCOMPARE(messages.texts(), QStringList { "Please enter an integer." });
        QCOMPARE(w->engine().m_strHost, QStringLiteral("192.0.2.1"));
        QCOMPARE(w->engine().m_nTries, 3);
        QCOMPARE(w->rows().GetItemCount(), 4);
        QCOMPARE(w->focusWidget(), w.field(IDC_HOPS));
        QCOMPARE(w.field(IDC_HOPS)->selectedText(), QStringLiteral("lots"));
    }

    void enterInAFieldTraces()
    {
        Window w;
        w.open();
        w.setFields("6", "192.0.2.1", "3000", "3");
        QTest::keyClick(w.field(IDC_TIMEOUT), Qt::Key_Return);
        QCOMPARE(w->rows().GetItemCount(), 6);
        QVERIFY(w->isVisible()); // Trace never ends the window
        w.field(IDC_HOPS)->setText("2");
        QTest::keyClick(w.field(IDC_HOST), Qt::Key_Enter);
        QCOMPARE(w->rows().GetItemCount(), 2);
    }

    void numberFieldsRefuseTypedNonDigits()
    {
        Window w;
        w.open();
        QLineEdit* tries = w.field(IDC_TRIES);
        tries->clear();
        QTest::keyClicks(tries, "4a -2.");
        QCOMPARE(tries->text(), QStringLiteral("42"));
        QLineEdit* host = w.field(IDC_HOST);
        QTest::keyClicks(host, "a-1.example");
        QCOMPARE(host->text(), QStringLiteral("a-1.example"));
    }

    // ---- Commands --------------------------------------------------------------------

    void hostButtonPastesOverTheWholeHost()
    {
        Window w;
        w.open();
        QClipboard* clipboard = QGuiApplication::clipboard();
        w.field(IDC_HOST)->setText("typed before");
        w.field(IDC_HOST)->setCursorPosition(3);
        w.field(IDC_TRIES)->setFocus();

        clipboard->setText("example.net");
        w->m_btnHost->click();
        QCOMPARE(w.field(IDC_HOST)->text(), QStringLiteral("example.net"));
        QCOMPARE(w->focusWidget(), w.field(IDC_TRIES));
        QCOMPARE(w->m_strHost, QString()); // taken at the next exchange only

        clipboard->setText("first.example\nsecond.example");
        w->m_btnHost->click();
        QCOMPARE(w.field(IDC_HOST)->text(), QStringLiteral("first.example"));

        clipboard->clear();
        w->m_btnHost->click();
        QCOMPARE(w.field(IDC_HOST)->text(), QStringLiteral("first.example"));
        QCOMPARE(w.field(IDC_HOST)->selectedText(), QStringLiteral("first.example"));
    }

    void anyHostTextEndsInTheFailureText_data()
    {
        QTest::addColumn<QString>("text");  // put into the field
        QTest::addColumn<bool>("paste");    // with Ctrl+V instead of as typed
        QTest::addColumn<QString>("host");  // what the field holds and the trace takes
        QTest::newRow("100000 characters, cut at the field's limit")
            << QString(100000, u'a') << false << QString(32767, u'a');
        QTest::newRow("100000 characters pasted") << QString(100000, u'b') << true << QString(32767, u'b');
        QTest::newRow("non-ASCII") << QStringLiteral("bücher.example") << false << QStringLiteral("bücher.example");
        QTest::newRow("emoji") << QStringLiteral("\U0001F680.example") << true << QStringLiteral("\U0001F680.example");
        QTest::newRow("blanks") << QStringLiteral("   ") << false << QStringLiteral("   ");
        QTest::newRow("line breaks pasted") << QStringLiteral("first.example\r\nsecond.example") << true
                                            << QStringLiteral("first.example\r\nsecond.example");
        const QString withNul = QStringLiteral("a") + QChar(0) + QStringLiteral("b.example");
        QTest::newRow("NUL pasted") << withNul << true << withNul;
    }

    void anyHostTextEndsInTheFailureText()
    {
        QFETCH(QString, text);
        QFETCH(bool, paste);
        QFETCH(QString, host);
        Window w; // its resolver knows no names at all
        w.open();
        MessageRecorder messages;
        QLineEdit* field = w.field(IDC_HOST);
        field->clear();
        if (paste) {
            QGuiApplication::clipboard()->setText(text);
            field->setFocus();
            QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
        } else {
            field->setText(text);
        }
        QCOMPARE(field->text(), host);

        w->m_btnTrace->click();
        QCOMPARE(w->engine().m_strHost, host);
        QCOMPARE(w->m_stStatus->text(), QStringLiteral("Lookup of ") + host + QStringLiteral(" failed dramatically"));
        QCOMPARE(w->m_stTarget->text(), QStringLiteral("unknown"));
        QCOMPARE(w->rows().GetItemCount(), 1);
        QVERIFY(w.probe->sent.empty());
        QVERIFY(messages.messages.empty());
        QCOMPARE(field->text(), host); // the user's text stays as it was

        // The window goes on as before.
        w.setFields("3", "192.0.2.1", "3000", "3");
        w->m_btnTrace->click();
        QCOMPARE(w->rows().GetItemCount(), 3);
        QCOMPARE(w->m_stTarget->text(), QStringLiteral("192.0.2.1"));
    }

    void aboutButtonOpensTheAboutDialogOverTheWindow()
    {
        Window w;
        w.open();
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

    void commandLineHostTracesOnceTheWindowRuns()
    {
        Window w;
        w->m_strHost = QStringLiteral("192.0.2.1");
        w->m_bAutoTrace = true;
        w.open();
        QCOMPARE(w.field(IDC_HOST)->text(), QStringLiteral("192.0.2.1"));
        QCOMPARE(w->rows().GetItemCount(), 0); // posted, not run during initialisation
        QCoreApplication::sendPostedEvents(w.dlg.get(), QEvent::MetaCall);
        QCOMPARE(w->rows().GetItemCount(), 16);
        QCOMPARE(w->m_stTarget->text(), QStringLiteral("192.0.2.1"));

        Window idle;
        idle.open();
        QCoreApplication::sendPostedEvents(idle.dlg.get(), QEvent::MetaCall);
        QCOMPARE(idle->rows().GetItemCount(), 0);
    }

    void socketSetUpFailureIsShownAndTheWindowStays()
    {
        MessageRecorder messages;
        Window w(true);
        w.open();
        QCOMPARE(messages.messages.size(), size_t(1));
        QCOMPARE(messages.messages[0].text, QStringLiteral("Cannot open raw socket"));
        QCOMPARE(messages.messages[0].caption, QStringLiteral("Hoplantern"));
        QCOMPARE(messages.messages[0].icon, QMessageBox::NoIcon);
        QVERIFY(w->isVisible());
        QCOMPARE(w.field(IDC_HOPS)->text(), QStringLiteral("16"));
    }

    void ctrlCCopiesSelectedRowsInShownColumnOrder()
    {
        Window w;
        w.open();
        HopRowList& rows = w->rows();
        rows.InsertHopRow("1", "198.18.1.2", "5", "r1.path.test", "next", 0, 0);
        rows.InsertHopRow("2", "198.18.2.2", "7", "r2.path.test", "next", 0, 1);
        rows.InsertHopRow("3", "unknown", "", "", "failed", 0, 2);
        w.header()->moveSection(w.header()->visualIndex(3), 0); // "Host name" first
        QItemSelectionModel* sel = w->m_list->selectionModel();
        sel->select(rows.index(2, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        sel->select(rows.index(0, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);

        QTest::keyClick(w->m_list, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(),
            QStringLiteral("r1.path.test\t1\t198.18.1.2\t5\tnext\n\t3\tunknown\t\tfailed\n"));
    }

    // ---- Closing and the settings ------------------------------------------------------

    void escEndsWithoutSaving()
    {
        QRect first;
        {
            Window w;
            w.open();
            first = RectOf(w->GetWindowRect());
            w.setFields("30", "", "1000", "5");
            w.header()->moveSection(0, 4);
            w->resize(w->width() + 80, w->height());
            QTest::keyClick(w.field(IDC_HOST), Qt::Key_Escape);
            QVERIFY(!w->isVisible());
            QCOMPARE(w->result(), int(QDialog::Rejected));
        }
        QVERIFY(!StoredInt("Options", "Retries").has_value());
        QVERIFY(!StoredInt("Options", "Hop number").has_value());
        Window again;
        again.open();
        QCOMPARE(again.field(IDC_HOPS)->text(), QStringLiteral("16"));
        QCOMPARE(again.header()->logicalIndex(0), 0);
        QCOMPARE(RectOf(again->GetWindowRect()), first);
    }

    void closeBoxSavesAndARestartShowsItAll()
    {
        QRect closedAt;
        {
            Window w;
            w.open();
            w.setFields("30", "not saved", "1500", "2");
            w.header()->moveSection(w.header()->visualIndex(3), 0); // "Host name" leftmost
            w->resize(w->width() + 120, w->height() + 30);
            w->move(40, 50);
            closedAt = RectOf(w->GetWindowRect());
            w->close();
            QVERIFY(!w->isVisible());
        }
        QCOMPARE(StoredInt("Options", "Retries").value_or(INT_MIN), 2);
        QCOMPARE(StoredInt("Options", "Hop number").value_or(INT_MIN), 30);
        QCOMPARE(StoredInt("Options", "Timeout").value_or(INT_MIN), 1500);
        const QByteArray order = StoredBinary(hl::kColumnOrderValue);
        QCOMPARE(order.size(), 40);
        QCOMPARE(qFromLittleEndian<qint32>(order.constData()), 3);
        QCOMPARE(StoredBinary(hl::kWindowPositionValue).size(), 16);

        Window w;
        w.open();
        QCOMPARE(w.field(IDC_HOPS)->text(), QStringLiteral("30"));
        QCOMPARE(w.field(IDC_TIMEOUT)->text(), QStringLiteral("1500"));
        QCOMPARE(w.field(IDC_TRIES)->text(), QStringLiteral("2"));
        QCOMPARE(w.field(IDC_HOST)->text(), QString());
        QCOMPARE(RectOf(w->GetWindowRect()), closedAt);
        QCOMPARE(w.header()->logicalIndex(0), 3);
        QCOMPARE(w->m_anColumnOrder[0], 3);
        // The restored size went through the layout: the list is 120 x 30 pixels larger.
        QCOMPARE(w->m_list->size(), TemplateRect(*w.dlg, IDC_RESULTS).size() + QSize(120, 30));
        QCOMPARE(w->engine().m_nTimeout, 1500); // the trace reads what the window shows
    }

    void firstRunStoresTheDefaultsAtLoading()
    {
        Window w;
        w.open();
        const QByteArray order = StoredBinary(hl::kColumnOrderValue);
        QCOMPARE(order.size(), 40);
        for (int i = 0; i < 10; ++i)
            QCOMPARE(qFromLittleEndian<qint32>(order.constData() + 4 * i), i < 5 ? i : 0);
        const QByteArray rect = StoredBinary(hl::kWindowPositionValue);
        QCOMPARE(rect.size(), 16);
        QCOMPARE(qFromLittleEndian<qint32>(rect.constData() + 8) - qFromLittleEndian<qint32>(rect.constData()),
            w->frameGeometry().width());
        QVERIFY(!StoredInt("Options", "Retries").has_value()); // numbers only at the first close
    }

    void rejectedFieldAtCloseSavesThePreviousValues()
    {
        {
            Window w;
            w.open();
            MessageRecorder messages;
            w.setFields("", "", "900", "9");
            w->close();
            QCOMPARE(messages.texts(), QStringList { "Please enter an integer." });
        }
        QCOMPARE(StoredInt("Options", "Hop number").value_or(INT_MIN), 16);
        QCOMPARE(StoredInt("Options", "Timeout").value_or(INT_MIN), 3000);
        QCOMPARE(StoredInt("Options", "Retries").value_or(INT_MIN), 3);
    }

    void damagedSettingsGiveTheDefaults()
    {
        QFile file(settings->file());
        QVERIFY(QDir().mkpath(QFileInfo(file).path()));
        QVERIFY(file.open(QIODevice::WriteOnly));
        static const char junk[] = "\x01\xff[[[not a store\n\"Retries\"=dword:zz\n\0\0garbage";
        file.write(junk, sizeof junk - 1);
        file.close();
        {
            Window w;
            w.open();
            QCOMPARE(w.field(IDC_TRIES)->text(), QStringLiteral("3"));
            QCOMPARE(w.field(IDC_HOPS)->text(), QStringLiteral("16"));
            QCOMPARE(w.field(IDC_TIMEOUT)->text(), QStringLiteral("3000"));
            QCOMPARE(w.header()->logicalIndex(0), 0);
            QCOMPARE(w->m_list->size(), TemplateRect(*w.dlg, IDC_RESULTS).size());
        }

        // Readable, but not values this program wrote.
        settings->clear();
        hl::RegistryStore store;
        const QString programKey = QString::fromLatin1(hl::kProgramKey);
        QVERIFY(store.SetValue(programKey, hl::kColumnOrderValue, hl::kRegBinary, QByteArray(40, '\x07')));
        QVERIFY(store.SetValue(programKey, hl::kWindowPositionValue, hl::kRegBinary, QByteArray(41, '\x01')));
        QVERIFY(store.SetValue("software\\Veltrosyn\\Hoplantern\\Options", "Hop number", hl::kRegBinary, QByteArray("\x05\x00", 2)));
        QVERIFY(store.WriteProfileInt("Options", "Timeout", 0));
        Window w;
        w.open();
        QCOMPARE(w.header()->logicalIndex(0), 0);
        QCOMPARE(w.header()->logicalIndex(4), 4);
        QCOMPARE(w.field(IDC_HOPS)->text(), QStringLiteral("16"));
        QCOMPARE(w.field(IDC_TIMEOUT)->text(), QStringLiteral("0")); // stored as it is, no range check
        QCOMPARE(w->m_list->size(), TemplateRect(*w.dlg, IDC_RESULTS).size());
        QCOMPARE(StoredBinary(hl::kWindowPositionValue).size(), 16); // the over-long value was replaced
    }

    // ---- Layout on resize --------------------------------------------------------------

    void widerByHundredPixels()
    {
        Window w;
        w.open();
        const auto before = Geometries(w);
        w->resize(w->width() + 100, w->height());
        const auto after = Geometries(w);
        QCOMPARE(after.at(IDC_HOST), before.at(IDC_HOST).adjusted(0, 0, 100, 0));
        QCOMPARE(after.at(IDC_STATUS), before.at(IDC_STATUS).adjusted(0, 0, 100, 0));
        QCOMPARE(after.at(IDC_RESULTS), before.at(IDC_RESULTS).adjusted(0, 0, 100, 0));
        for (int id : kTopRow)
            QCOMPARE(after.at(id), before.at(id).translated(100, 0));
        for (int id : kBottomRight)
            QCOMPARE(after.at(id), before.at(id).translated(100, 0));
        QCOMPARE(after.at(IDC_HOST_BUTTON), before.at(IDC_HOST_BUTTON));
        QCOMPARE(after.at(IDCANCEL), before.at(IDCANCEL));
        QCOMPARE(w.header()->sectionSize(3), 245);
    }

    void lowerByFiftyPixels()
    {
        Window w;
        w.open();
        const auto before = Geometries(w);
        w->resize(w->width(), w->height() - 50);
        const auto after = Geometries(w);
        QCOMPARE(after.at(IDC_RESULTS), before.at(IDC_RESULTS).adjusted(0, 0, 0, -50));
        QCOMPARE(after.at(IDC_STATUS), before.at(IDC_STATUS).translated(0, -50));
        for (int id : kBottomRight)
            QCOMPARE(after.at(id), before.at(id).translated(0, -50));
        for (int id : kTopRow)
            QCOMPARE(after.at(id), before.at(id));
        QCOMPARE(after.at(IDC_HOST), before.at(IDC_HOST));
    }

    void floorsHoldTheMinimumSize()
    {
        Window w;
        w.open();
        const auto start = Geometries(w);
        const QSize startSize = w->size();
        const int toFloorX = w->m_editHost->width() - 32;
        const int toFloorY = w->m_list->height() - 20;

        w->resize(startSize - QSize(toFloorX, toFloorY)); // exactly at both floors: allowed
        QCOMPARE(w->m_editHost->width(), 32);
        QCOMPARE(w->m_list->height(), 20);
        w->resize(1, 1); // past both: held at the floors
        QCOMPARE(w->size(), startSize - QSize(toFloorX, toFloorY));
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
        w.open();
        const QRect before = w->frameGeometry();
        w->MoveWindow({ before.x() + 300, before.y() + 7, before.x() + 310, before.y() + 7 + before.height() + 40 });
        QCOMPARE(w->frameGeometry().x(), before.x()); // too narrow: x kept
        QCOMPARE(w->width(), w->minimumWidth());
        QCOMPARE(w->frameGeometry().y(), before.y() + 7); // height fine: taken as given
        QCOMPARE(w->frameGeometry().height(), before.height() + 40);
        QCOMPARE(w->m_editHost->width(), 32);
        QCOMPARE(w->m_list->height(), TemplateRect(*w.dlg, IDC_RESULTS).height() + 40);
    }

    void movingAndStateChangesLayNothingOut()
    {
        Window w;
        w.open();
        const auto before = Geometries(w);
        w->move(w->pos() + QPoint(25, 35));
        QVERIFY(Geometries(w) == before);

        const QRect f = w->frameGeometry();
        CTraceDlg::WindowPos minimise { f.x(), f.y(), 160, 30, CTraceDlg::SWP_STATECHANGED | CTraceDlg::SWP_NOCOPYBITS };
        w->OnWindowPosChanging(&minimise);
        CTraceDlg::WindowPos noMove { f.x(), f.y(), f.width() + 60, f.height(), CTraceDlg::SWP_NOMOVE };
        w->OnWindowPosChanging(&noMove);
        QVERIFY(Geometries(w) == before);
        QCOMPARE(noMove.cx, f.width() + 60); // nor is any floor applied
    }
};

QTEST_MAIN(TestTraceDlg)
#include "tst_trace_dlg.moc"

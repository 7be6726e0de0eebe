// The About dialog and the quick help dialog: what they show, where the links lead, how
// they close, and the quick help dialog running over the About dialog.
#include "about_dlg.h"
#include "about_resource.h"
#include "flat_button.h"
#include "quick_help_dlg.h"
#include "resource.h"
#include "url_opener.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

// Records the addresses the dialogs hand to the desktop, for as long as it lives.
struct RecordedOpens {
    QList<QUrl> urls;
    UrlOpener previous;
    RecordedOpens()
    {
        previous = SetUrlOpener([this](const QUrl& url) {
            urls << url;
            return true;
        });
    }
    ~RecordedOpens() { SetUrlOpener(previous); }
};

// Every pixel colour of a link as drawn.
QSet<QRgb> ColoursOf(QWidget* w)
{
    const QImage image = w->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            colours.insert(image.pixel(x, y) & 0xFFFFFF);
    return colours;
}

void ShowModeless(CAboutDlg& dlg)
{
    dlg.OnInitDialog();
    dlg.show();
    dlg.activateWindow();
}

} // namespace

class TestAboutDialogs : public QObject {
    Q_OBJECT

private slots:
    // ---- The About dialog ----

    void iconsLoad()
    {
        CAboutDlg dlg;
        auto* icon = dlg.findChild<QLabel*>(u"IDC_ABOUT_ICON"_s);
        QVERIFY(icon && !icon->pixmap().isNull());
        QVERIFY(!dlg.windowIcon().isNull());
        QVERIFY(!CQuickHelpDlg().windowIcon().isNull());
    }

    void tabOrderAndFocusStartOnOk()
    {
        CAboutDlg dlg;
        ShowModeless(dlg);
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        QVERIFY(dlg.m_btnOK->hasFocus());
        QList<QWidget*> order;
        for (QWidget* w = dlg.m_btnOK; order.size() < 4; w = w->nextInFocusChain()) {
            if (w->focusPolicy() & Qt::TabFocus)
                order << w;
        }
        const QList<QWidget*> expected = { dlg.m_btnOK, dlg.m_btnMailLink, dlg.m_btnWebLink, dlg.m_btnQuickHelp };
        QCOMPARE(order, expected);
    }

    void linksShowTheWholeAddressUnderlinedInBlueUnderAHand()
    {
        CAboutDlg dlg;
        ShowModeless(dlg);
        for (COwnerDrawButton* link : { dlg.m_btnMailLink, dlg.m_btnWebLink }) {
            QVERIFY(link->font().underline());
            QVERIFY(link->width() >= QFontMetrics(link->font()).horizontalAdvance(link->text()));
            QVERIFY(dlg.rect().contains(link->geometry()));
            const QSet<QRgb> colours = ColoursOf(link);
            QVERIFY(colours.contains(CAboutDlg::kLinkColor));
            QVERIFY(!colours.contains(CAboutDlg::kLinkPressedColor));
            link->setDown(true);
            const QSet<QRgb> held = ColoursOf(link);
            QVERIFY(held.contains(CAboutDlg::kLinkPressedColor));
            QVERIFY(!held.contains(CAboutDlg::kLinkColor));
            link->setDown(false);
            // The pointing hand, over the links only.
            QVERIFY(link->testAttribute(Qt::WA_SetCursor));
            QCOMPARE(link->cursor().shape(), Qt::BitmapCursor);
        }
        for (QWidget* other : { static_cast<QWidget*>(dlg.m_btnOK), static_cast<QWidget*>(dlg.m_btnQuickHelp),
                 static_cast<QWidget*>(&dlg) })
            QVERIFY(!other->testAttribute(Qt::WA_SetCursor));
    }

    void linksOpenMailAndWebPage_data()
    {
        QTest::addColumn<bool>("web"); // else the mail link
        QTest::addColumn<bool>("space"); // pressed on the link, reached by Tab; else clicked
        QTest::addColumn<QUrl>("url");
        const QUrl mail(u"mailto:feedback@veltrosyn.example"_s);
        QTest::newRow("mail link clicked") << false << false << mail;
        QTest::newRow("web link clicked") << true << false << QUrl(u"https://veltrosyn.example/hoplantern/"_s);
        QTest::newRow("Space on the mail link, the first Tab stop after OK") << false << true << mail;
    }
    void linksOpenMailAndWebPage()
    {
        QFETCH(bool, web);
        QFETCH(bool, space);
        QFETCH(QUrl, url);
        RecordedOpens opens;
        CAboutDlg dlg;
        ShowModeless(dlg);
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        COwnerDrawButton* link = web ? dlg.m_btnWebLink : dlg.m_btnMailLink;
        if (space) {
            QTest::keyClick(&dlg, Qt::Key_Tab);
            QVERIFY(link->hasFocus());
            QTest::keyClick(link, Qt::Key_Space);
        } else {
            QTest::mouseClick(link, Qt::LeftButton, {}, QPoint(4, 4));
        }
        QCOMPARE(opens.urls, QList<QUrl> { url });
        QVERIFY(dlg.isVisible()); // opening a link leaves the dialog open
    }

    void closing_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("result");
        // "OK" carries the cancel id; Enter elsewhere gives IDOK, which has no button here.
        QTest::newRow("Enter right after opening") << "Enter on OK" << int(QDialog::Rejected);
        QTest::newRow("Enter on a link: IDOK, no link opened") << "Enter on a link" << int(QDialog::Accepted);
        QTest::newRow("OK clicked: closed once the click arrives") << "click OK" << int(QDialog::Rejected);
        QTest::newRow("Esc") << "Esc" << int(QDialog::Rejected);
    }
    void closing()
    {
        QFETCH(QString, how);
        QFETCH(int, result);
        RecordedOpens opens;
        CAboutDlg dlg;
        ShowModeless(dlg);
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        QSignalSpy finished(&dlg, &QDialog::finished);
        if (how == u"Enter on OK") {
            QTest::keyClick(dlg.m_btnOK, Qt::Key_Return);
        } else if (how == u"Enter on a link") {
            dlg.m_btnWebLink->setFocus();
            QTest::keyClick(dlg.m_btnWebLink, Qt::Key_Return);
        } else if (how == u"click OK") {
            QTest::mouseClick(dlg.m_btnOK, Qt::LeftButton);
            QVERIFY(dlg.isVisible()); // the click is still on its way
            QCoreApplication::processEvents();
        } else {
            QTest::keyClick(&dlg, Qt::Key_Escape);
        }
        QVERIFY(!dlg.isVisible());
        QCOMPARE(finished.count(), 1);
        QCOMPARE(dlg.result(), result);
        QVERIFY(opens.urls.isEmpty());
    }

    void quickHelpRunsOverTheAboutDialogAndReturnsToIt()
    {
        CAboutDlg about;
        ShowModeless(about);
        QVERIFY(QTest::qWaitForWindowActive(&about));

        QTest::mouseClick(about.m_btnQuickHelp, Qt::LeftButton);
        // Armed after the click was posted, so it runs inside the quick help dialog's
        // modal run, which the click starts.
        bool sawHelp = false;
        QTimer::singleShot(0, this, [&] {
            auto* help = qobject_cast<CQuickHelpDlg*>(QApplication::activeModalWidget());
            if (!help)
                return;
            sawHelp = help->isVisible() && help->parentWidget() == &about && about.isVisible();
            QTest::mouseClick(help->m_btnDone, Qt::LeftButton);
            QCoreApplication::processEvents();
            if (help->isVisible())
                help->done(-1); // never leave the test hanging in the modal run
        });
        QCoreApplication::processEvents(); // the posted click: the modal run, then back here
        QVERIFY(sawHelp);
        QVERIFY(about.isVisible());
        QVERIFY(!about.findChild<CQuickHelpDlg*>());
    }

    // ---- The quick help dialog ----

    void helpTextLineForLineReadOnlyButSelectable()
    {
        // Lines end in CR LF; the texts themselves are the program's, not copied here.
        const QString text = CQuickHelpDlg::HelpText();
        QVERIFY(text.endsWith(u"\r\n"_s));
        QStringList expected = text.split(u"\r\n"_s);
        QCOMPARE(expected.takeLast(), QString()); // after the last CR LF
        QCOMPARE(expected.size(), 15);
        QVERIFY(!text.contains(QRegularExpression(u"[^\r]\n"_s)));

        // The field shows the same lines, one line each, nothing wrapped.
        CQuickHelpDlg dlg;
        dlg.UpdateData(false);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        auto* edit = qobject_cast<QPlainTextEdit*>(dlg.GetDlgItem(IDC_HELP_TEXT));
        QVERIFY(edit);
        QCOMPARE(edit->lineWrapMode(), QPlainTextEdit::NoWrap);
        QTextBlock block = edit->document()->firstBlock();
        for (int i = 0; i < 15; ++i, block = block.next()) {
            QCOMPARE(block.text(), expected[i]);
            edit->document()->documentLayout()->blockBoundingRect(block); // lays the block out
            QCOMPARE(block.layout()->lineCount(), 1);
        }
        QVERIFY(block.isValid() && block.text().isEmpty() && !block.next().isValid());

        // Read-only, but selectable; Enter in the field neither changes it nor closes the dialog.
        edit->setFocus();
        QTest::keyClicks(edit, u"xyz"_s);
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClick(edit, Qt::Key_Return);
        QVERIFY(dlg.isVisible());
        QCOMPARE(edit->toPlainText(), QString(text).replace(u"\r\n"_s, u"\n"_s));
        QTest::keyClick(edit, Qt::Key_End, Qt::ShiftModifier);
        QCOMPARE(edit->textCursor().selectedText(), expected[0]);

        // And back, unchanged.
        dlg.m_strHelp.clear();
        dlg.UpdateData(true);
        QCOMPARE(dlg.m_strHelp, text);
    }

    void doneHasTheFocusAndEnterCloses()
    {
        CQuickHelpDlg dlg;
        bool doneHadFocus = false;
        QTimer::singleShot(0, this, [&] {
            // Inside the modal run.
            if (QTest::qWaitForWindowActive(&dlg))
                doneHadFocus = dlg.m_btnDone->hasFocus();
            QTest::keyClick(dlg.m_btnDone, Qt::Key_Return);
            if (dlg.isVisible())
                dlg.done(-1); // never leave the test hanging in the modal run
        });
        dlg.DoModal();
        QVERIFY(doneHadFocus);
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
    }
};

QTEST_MAIN(TestAboutDialogs)
#include "tst_about_dialogs.moc"

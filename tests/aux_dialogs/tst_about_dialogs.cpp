// The About dialog and the quick help dialog: what they show, where the links lead, how
// they close, and the quick help dialog running over the About dialog.
#include "about_dlg.h"
#include "about_resource.h"
#include "cursor_table.h"
#include "flat_button.h"
#include "quick_help_dlg.h"
#include "resource.h"
#include "url_opener.h"

#include <QApplication>
#include <QBitmap>
#include <QClipboard>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>
#include <QAbstractTextDocumentLayout>
#include <QTextBlock>
#include <QTimer>

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

QString LabelText(QDialog& dlg, const char* name)
{
    auto* label = dlg.findChild<QLabel*>(QString::fromLatin1(name));
    return label ? label->text() : QStringLiteral("<no label %1>").arg(QString::fromLatin1(name));
}

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

    void aboutShowsNameVersionAndNotice()
    {
        CAboutDlg dlg;
        QCOMPARE(dlg.windowTitle(), QStringLiteral("About Hoplantern"));
        QCOMPARE(LabelText(dlg, "IDC_VERSION"), QStringLiteral("Veltrosyn Hoplantern version 0.2.1"));
        QCOMPARE(LabelText(dlg, "IDC_NOTICE"), QStringLiteral("Copyright 2026 Veltrosyn"));
        QCOMPARE(dlg.m_btnOK->text(), QStringLiteral("OK"));
        QCOMPARE(dlg.m_btnQuickHelp->text(), QStringLiteral("Quick help"));
        QCOMPARE(dlg.m_btnOK->GetDlgCtrlID(), IDCANCEL);
        QCOMPARE(dlg.m_btnQuickHelp->GetDlgCtrlID(), IDC_QUICK_HELP);
        QVERIFY(!dlg.GetDlgItem(IDOK));
        auto* icon = dlg.findChild<QLabel*>(QStringLiteral("IDC_ABOUT_ICON"));
        QVERIFY(icon && !icon->pixmap().isNull());
        const QList<QSize> sizes = dlg.windowIcon().availableSizes();
        QVERIFY(sizes.contains(QSize(32, 32)) && sizes.contains(QSize(16, 16)));
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

    void linksShowTheWholeAddressUnderlinedInBlue()
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
        }
        QCOMPARE(dlg.m_btnMailLink->text(), QStringLiteral("feedback@veltrosyn.example"));
        QCOMPARE(dlg.m_btnWebLink->text(), QStringLiteral("https://veltrosyn.example/hoplantern/"));
    }

    void linksOpenMailAndWebPage()
    {
        RecordedOpens opens;
        CAboutDlg dlg;
        ShowModeless(dlg);
        QTest::mouseClick(dlg.m_btnMailLink, Qt::LeftButton, {}, QPoint(4, 4));
        QTest::mouseClick(dlg.m_btnWebLink, Qt::LeftButton, {}, QPoint(4, 4));
        const QList<QUrl> expected = { QUrl(QStringLiteral("mailto:feedback@veltrosyn.example")),
            QUrl(QStringLiteral("https://veltrosyn.example/hoplantern/")) };
        QCOMPARE(opens.urls, expected);
        QVERIFY(dlg.isVisible()); // opening a link leaves the dialog open
    }

    void spaceOnAFocusedLinkOpensIt()
    {
        RecordedOpens opens;
        CAboutDlg dlg;
        ShowModeless(dlg);
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        QTest::keyClick(&dlg, Qt::Key_Tab);
        QVERIFY(dlg.m_btnMailLink->hasFocus());
        QTest::keyClick(dlg.m_btnMailLink, Qt::Key_Space);
        QCOMPARE(opens.urls, QList<QUrl>{ QUrl(QStringLiteral("mailto:feedback@veltrosyn.example")) });
    }

    void pointingHandOverLinksOnly()
    {
        CAboutDlg dlg;
        for (COwnerDrawButton* link : { dlg.m_btnMailLink, dlg.m_btnWebLink }) {
            QVERIFY(link->testAttribute(Qt::WA_SetCursor));
            QCOMPARE(link->cursor().shape(), Qt::BitmapCursor);
            QCOMPARE(link->cursor().hotSpot(), QPoint(8, 2));
        }
        for (QWidget* other : { static_cast<QWidget*>(dlg.m_btnOK), static_cast<QWidget*>(dlg.m_btnQuickHelp),
                 static_cast<QWidget*>(&dlg) })
            QVERIFY(!other->testAttribute(Qt::WA_SetCursor));

        const QCursor hand = res::LoadCursor(IDC_LINK_HAND);
        const QImage mask = hand.mask().toImage();
        const QImage bits = hand.bitmap().toImage();
        QCOMPARE(mask.size(), QSize(32, 32));
        // The hot spot is an opaque black pixel with nothing opaque above it: the tip.
        const QPoint tip = hand.hotSpot();
        QVERIFY(mask.pixelIndex(tip) != mask.pixelIndex(0, 0));
        QCOMPARE(bits.pixelIndex(tip), bits.pixelIndex(tip.x() + 1, tip.y()));
        for (int y = 0; y < tip.y(); ++y)
            for (int x = 0; x < 32; ++x)
                QCOMPARE(mask.pixelIndex(x, y), mask.pixelIndex(0, 0));
        QCOMPARE(res::LoadCursor(12345).shape(), Qt::ArrowCursor);
    }

    void enterRightAfterOpeningCloses()
    {
        CAboutDlg dlg;
        ShowModeless(dlg);
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        QSignalSpy finished(&dlg, &QDialog::finished);
        QTest::keyClick(dlg.m_btnOK, Qt::Key_Return);
        QCOMPARE(finished.count(), 1);
        QCOMPARE(dlg.result(), int(QDialog::Rejected)); // "OK" carries the cancel id
    }

    void enterOnALinkGivesIdOkAndCloses()
    {
        RecordedOpens opens;
        CAboutDlg dlg;
        ShowModeless(dlg);
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        dlg.m_btnWebLink->setFocus();
        QTest::keyClick(dlg.m_btnWebLink, Qt::Key_Return);
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QVERIFY(opens.urls.isEmpty());
    }

    void okAndEscapeClose()
    {
        {
            CAboutDlg dlg;
            ShowModeless(dlg);
            QTest::mouseClick(dlg.m_btnOK, Qt::LeftButton);
            QVERIFY(dlg.isVisible()); // the click is still on its way
            QCoreApplication::processEvents();
            QVERIFY(!dlg.isVisible());
        }
        {
            CAboutDlg dlg;
            ShowModeless(dlg);
            QVERIFY(QTest::qWaitForWindowActive(&dlg));
            QTest::keyClick(&dlg, Qt::Key_Escape);
            QVERIFY(!dlg.isVisible());
        }
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

    void helpTextLineForLine()
    {
        const QStringList expected = {
            QStringLiteral(" This program is made for quick network route discovery. Unlike standard traceroute, it"),
            QStringLiteral("traces all the way to host at once, therefore saving tenth to hundreds times."),
            QStringLiteral("It also measures the time neccesary for packet to return and looks up all intermediate"),
            QStringLiteral("routers."),
            QStringLiteral(" Unlike the system's own tracert, it is based on UDP protocol, therefore allowing to trace networks"),
            QStringLiteral("where incoming ICMP messages are filtered."),
            QString(),
            QStringLiteral(" Parameters:"),
            QStringLiteral("   tries: maximum retry number if router was not discovered."),
            QStringLiteral("   hops: maximum number of hops to trace."),
            QStringLiteral("   time (ms): maximum time  to wait for router's answer"),
            QString(),
            QStringLiteral("Visit https://veltrosyn.example/hoplantern/ for more info and updates."),
            QStringLiteral("Comments, questions and suggestions, as well as bug reports are greatly appreciated and"),
            QStringLiteral("must be sent to feedback@veltrosyn.example"),
        };
        const QString text = CQuickHelpDlg::HelpText();
        QVERIFY(text.endsWith(QStringLiteral("\r\n")));
        QStringList lines = text.split(QStringLiteral("\r\n"));
        QCOMPARE(lines.takeLast(), QString()); // after the last CR LF
        QCOMPARE(lines.size(), 15);
        for (int i = 0; i < 15; ++i)
            QCOMPARE(lines[i], expected[i]);
        QVERIFY(!text.contains(QRegularExpression(QStringLiteral("[^\r]\n"))));

        // The field shows the same lines, one line each, nothing wrapped.
        CQuickHelpDlg dlg;
        dlg.UpdateData(false);
        dlg.show();
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
        // And back, unchanged.
        dlg.m_strHelp.clear();
        dlg.UpdateData(true);
        QCOMPARE(dlg.m_strHelp, text);
    }

    void helpTextIsReadOnlyButSelectable()
    {
        CQuickHelpDlg dlg;
        dlg.UpdateData(false);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        auto* edit = qobject_cast<QPlainTextEdit*>(dlg.GetDlgItem(IDC_HELP_TEXT));
        edit->setFocus();
        QTest::keyClicks(edit, QStringLiteral("xyz"));
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClick(edit, Qt::Key_Backspace);
        QCOMPARE(edit->toPlainText(), QString(dlg.m_strHelp).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
        QTest::keyClick(edit, Qt::Key_End, Qt::ShiftModifier);
        QVERIFY(edit->textCursor().hasSelection());
        QCOMPARE(edit->textCursor().selectedText(), QStringLiteral(" This program is made for quick network route discovery. Unlike standard traceroute, it"));
        // Enter in the field neither changes it nor closes the dialog.
        QTest::keyClick(edit, Qt::Key_Return);
        QVERIFY(dlg.isVisible());
    }

    void doneHasTheFocusAndEnterCloses()
    {
        CQuickHelpDlg dlg;
        QCOMPARE(dlg.windowTitle(), QStringLiteral("Quick help"));
        QCOMPARE(dlg.m_btnDone->text(), QStringLiteral("Done"));
        QCOMPARE(dlg.m_btnDone->GetDlgCtrlID(), IDCANCEL);
        QVERIFY(!dlg.windowIcon().isNull());
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

// The flat button: its state machine under synthesised mouse and keyboard input, the
// click that reaches the dialog only after the release, the default id that follows the
// focus, and what each state paints.
#include "flat_button.h"

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>

namespace {

constexpr int IDOK = 1;
constexpr int IDC_HOST_BUTTON = 1000;
constexpr int IDC_ABOUT = 33774;

// Colours no two 3-D roles share, so a pixel tells which role painted it.
QPalette DistinctPalette()
{
    QPalette pal;
    pal.setColor(QPalette::Button, QColor(0xc0, 0xc0, 0xc0));
    pal.setColor(QPalette::Window, QColor(0xc0, 0xc0, 0xc0));
    pal.setColor(QPalette::ButtonText, QColor(0x10, 0x10, 0x80));
    pal.setColor(QPalette::Light, QColor(0xff, 0xff, 0xff));
    pal.setColor(QPalette::Midlight, QColor(0xe0, 0xe0, 0xe0));
    pal.setColor(QPalette::Dark, QColor(0x80, 0x80, 0x80));
    pal.setColor(QPalette::Shadow, QColor(0x00, 0x00, 0x00));
    return pal;
}

void SendMouse(QWidget* w, QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons held)
{
    QMouseEvent e(type, QPointF(pos), QPointF(w->mapToGlobal(pos)), button, held, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

void Press(QWidget* w, QPoint pos) { SendMouse(w, QEvent::MouseButtonPress, pos, Qt::LeftButton, Qt::LeftButton); }
void DragTo(QWidget* w, QPoint pos) { SendMouse(w, QEvent::MouseMove, pos, Qt::NoButton, Qt::LeftButton); }
void HoverTo(QWidget* w, QPoint pos) { SendMouse(w, QEvent::MouseMove, pos, Qt::NoButton, Qt::NoButton); }
void Release(QWidget* w, QPoint pos) { SendMouse(w, QEvent::MouseButtonRelease, pos, Qt::LeftButton, Qt::NoButton); }
void DoubleClick(QWidget* w, QPoint pos)
{
    SendMouse(w, QEvent::MouseButtonDblClick, pos, Qt::LeftButton, Qt::LeftButton);
}
void Leave(QWidget* w)
{
    QEvent e(QEvent::Leave);
    QApplication::sendEvent(w, &e);
}

// The smallest rectangle holding every pixel of `color` inside the button's border.
QRect PixelsOf(const QImage& image, const QColor& color)
{
    QRect box;
    for (int y = 3; y < image.height() - 3; ++y) {
        for (int x = 3; x < image.width() - 3; ++x) {
            if (image.pixelColor(x, y) == color)
                box |= QRect(x, y, 1, 1);
        }
    }
    return box;
}

// The mean position of the pixels inside the button's border that are lighter (`sign` 1)
// or darker (`sign` -1) than `face`, each weighted by how much.
QPointF CentreOf(const QImage& image, const QColor& face, int sign)
{
    QPointF sum;
    double total = 0;
    for (int y = 3; y < image.height() - 3; ++y) {
        for (int x = 3; x < image.width() - 3; ++x) {
            const int d = sign * (image.pixelColor(x, y).lightness() - face.lightness());
            if (d > 0) {
                sum += QPointF(x, y) * d;
                total += d;
            }
        }
    }
    return total > 0 ? sum / total : QPointF(-1, -1);
}

// The main window's three buttons and a field, as the dialog manager sees them.
struct Dialog {
    QDialog dialog;
    CFlatButton* trace;
    CFlatButton* host;
    CFlatButton* about;
    QLineEdit* edit;
    CDefaultIdRouter* router;

    Dialog()
    {
        dialog.setPalette(DistinctPalette());
        edit = new QLineEdit(&dialog);
        edit->setGeometry(10, 10, 100, 24);
        trace = Add(IDOK, "Trace", 120);
        host = Add(IDC_HOST_BUTTON, "Host >", 200);
        about = Add(IDC_ABOUT, "About...", 280);
        router = new CDefaultIdRouter(&dialog);
        for (CFlatButton* b : { trace, host, about })
            router->Attach(b);
        dialog.resize(380, 60);
        dialog.show();
        dialog.activateWindow();
    }

    CFlatButton* Add(int id, const char* text, int x)
    {
        auto* b = new CFlatButton(QString::fromLatin1(text), &dialog);
        b->SetDlgCtrlID(id);
        b->setGeometry(x, 10, 70, 26);
        return b;
    }
};

QPoint Inside(QWidget* w) { return w->rect().center(); }
QPoint Outside(QWidget* w) { return { w->width() + 20, w->height() / 2 }; }

} // namespace

class TestFlatButton : public QObject {
    Q_OBJECT

private slots:
    // ---- The mouse ----

    void pressMoveOutReleaseGivesNoCommand()
    {
        Dialog d;
        QSignalSpy clicks(d.host, &QAbstractButton::clicked);
        Press(d.host, Inside(d.host));
        QCOMPARE(d.host->state(), int(CFlatButton::FLAT_PRESSED));
        DragTo(d.host, Outside(d.host));
        QCOMPARE(d.host->state(), int(CFlatButton::FLAT_PRESSED)); // still looks pressed outside
        Release(d.host, Outside(d.host));
        QCOMPARE(d.host->state(), int(CFlatButton::FLAT_NORMAL));
        QCoreApplication::processEvents();
        QCOMPARE(clicks.count(), 0);
    }

    void pressOutInReleaseGivesOneCommandAfterTheRelease()
    {
        Dialog d;
        QSignalSpy clicks(d.host, &QAbstractButton::clicked);
        Press(d.host, Inside(d.host));
        DragTo(d.host, Outside(d.host));
        DragTo(d.host, Inside(d.host));
        Release(d.host, Inside(d.host));
        QCOMPARE(d.host->state(), int(CFlatButton::FLAT_HOVER));
        // Posted: the command is not there while the release is being handled.
        QCOMPARE(clicks.count(), 0);
        QCoreApplication::processEvents();
        QCOMPARE(clicks.count(), 1);
        QCoreApplication::processEvents();
        QCOMPARE(clicks.count(), 1);
    }

    void doubleClickGivesTwoCommands_data()
    {
        QTest::addColumn<bool>("secondPress");
        // The classic order (press, release, double click, release) and the toolkit's,
        // which sends a press before the double click.
        QTest::newRow("double click replaces the press") << false;
        QTest::newRow("press then double click") << true;
    }

    void doubleClickGivesTwoCommands()
    {
        QFETCH(bool, secondPress);
        Dialog d;
        QSignalSpy clicks(d.about, &QAbstractButton::clicked);
        const QPoint p = Inside(d.about);
        Press(d.about, p);
        Release(d.about, p);
        if (secondPress)
            Press(d.about, p);
        DoubleClick(d.about, p);
        QCOMPARE(d.about->state(), int(CFlatButton::FLAT_PRESSED));
        Release(d.about, p);
        QCoreApplication::processEvents();
        QCOMPARE(clicks.count(), 2);
    }

    void hoverComesWithMovesAndGoesWithLeaving()
    {
        Dialog d;
        QSignalSpy clicks(d.about, &QAbstractButton::clicked);
        QCOMPARE(d.about->state(), int(CFlatButton::FLAT_NORMAL));
        HoverTo(d.about, Inside(d.about));
        QCOMPARE(d.about->state(), int(CFlatButton::FLAT_HOVER));
        Leave(d.about);
        QCOMPARE(d.about->state(), int(CFlatButton::FLAT_NORMAL));
        // A release that no press on the button began is no click.
        HoverTo(d.about, Inside(d.about));
        Release(d.about, Inside(d.about));
        QCOMPARE(d.about->state(), int(CFlatButton::FLAT_NORMAL));
        QCoreApplication::processEvents();
        QCOMPARE(clicks.count(), 0);
        // A move without the mouse button does not take the pressed look away.
        Press(d.about, Inside(d.about));
        HoverTo(d.about, Inside(d.about));
        QCOMPARE(d.about->state(), int(CFlatButton::FLAT_PRESSED));
    }

    void clickPostedByADestroyedButtonNeverArrives()
    {
        Dialog d;
        int commands = 0;
        QObject::connect(d.host, &QAbstractButton::clicked, &d.dialog, [&] { ++commands; });
        Press(d.host, Inside(d.host));
        Release(d.host, Inside(d.host));
        delete d.host;
        QCoreApplication::processEvents();
        QCOMPARE(commands, 0);
    }

    // ---- The pushed state and the keyboard ----

    void pushedStateSetFromOutside()
    {
        Dialog d;
        d.trace->SetState(true);
        QCOMPARE(d.trace->state(), int(CFlatButton::FLAT_PRESSED));
        QVERIFY(d.trace->isDown());
        d.trace->SetState(false);
        QCOMPARE(d.trace->state(), int(CFlatButton::FLAT_NORMAL));
        QVERIFY(!d.trace->isDown());
    }

    void spaceBarPushesAndClicks()
    {
        Dialog d;
        QVERIFY(QTest::qWaitForWindowActive(&d.dialog));
        d.about->setFocus();
        QSignalSpy clicks(d.about, &QAbstractButton::clicked);
        QTest::keyPress(d.about, Qt::Key_Space);
        QCOMPARE(d.about->state(), int(CFlatButton::FLAT_PRESSED));
        QTest::keyRelease(d.about, Qt::Key_Space);
        QCOMPARE(d.about->state(), int(CFlatButton::FLAT_NORMAL));
        QCOMPARE(clicks.count(), 1);
    }

    // ---- Focus and the default id ----

    void defaultIdFollowsTheFocus()
    {
        Dialog d;
        QVERIFY(QTest::qWaitForWindowActive(&d.dialog));
        d.edit->setFocus();
        QCOMPARE(d.router->GetDefID(), IDOK);

        d.host->setFocus(Qt::TabFocusReason);
        QCOMPARE(d.router->GetDefID(), IDC_HOST_BUTTON);
        d.host->grab(); // painted with the focus: its frame is on
        QVERIFY(d.host->hasFocusFrame());

        // Pressing another button takes the focus, its frame and the default id with it.
        HoverTo(d.host, Inside(d.host));
        Press(d.about, Inside(d.about));
        QVERIFY(d.about->hasFocus());
        QCOMPARE(d.router->GetDefID(), IDC_ABOUT);
        QCOMPARE(d.host->state(), int(CFlatButton::FLAT_NORMAL));
        QVERIFY(!d.host->hasFocusFrame());
        Release(d.about, Inside(d.about));

        d.edit->setFocus();
        QCOMPARE(d.router->GetDefID(), IDOK);
    }

    void enterGivesTheFocusedButtonsCommandElseTrace()
    {
        Dialog d;
        QVERIFY(QTest::qWaitForWindowActive(&d.dialog));
        QSignalSpy traces(d.trace, &QAbstractButton::clicked);
        QSignalSpy hosts(d.host, &QAbstractButton::clicked);

        d.host->setFocus();
        QTest::keyClick(d.host, Qt::Key_Return);
        QCOMPARE(hosts.count(), 1);
        QCOMPARE(traces.count(), 0);

        d.edit->setFocus();
        QTest::keyClick(d.edit, Qt::Key_Return);
        QCOMPARE(traces.count(), 1);
        QCOMPARE(hosts.count(), 1);
    }

    // ---- Painting ----

    void eachStatePaintsItsEdgeAndFocusFrame()
    {
        Dialog d;
        QVERIFY(QTest::qWaitForWindowActive(&d.dialog));
        const QPalette pal = DistinctPalette();
        CFlatButton* b = d.about;
        const int r = b->width() - 1;
        const int bottom = b->height() - 1;

        b->setFocus();
        QImage focused = b->grab().toImage();
        QVERIFY(b->hasFocusFrame());
        QCOMPARE(focused.pixelColor(3, b->height() / 2), pal.color(QPalette::Dark));
        QCOMPARE(focused.pixelColor(r - 3, 3), pal.color(QPalette::Dark));
        d.edit->setFocus();
        QVERIFY(!b->hasFocusFrame());

        QImage normal = b->grab().toImage();
        QCOMPARE(normal.pixelColor(3, b->height() / 2), pal.color(QPalette::Button));
        // Etched: a groove, dark then light at the top left, light then dark at the bottom right.
        QCOMPARE(normal.pixelColor(0, 0), pal.color(QPalette::Dark));
        QCOMPARE(normal.pixelColor(1, 1), pal.color(QPalette::Light));
        QCOMPARE(normal.pixelColor(r, bottom), pal.color(QPalette::Light));
        QCOMPARE(normal.pixelColor(r - 1, bottom - 1), pal.color(QPalette::Dark));

        HoverTo(b, Inside(b));
        QImage hover = b->grab().toImage();
        // A thin raised border one pixel inside a face-coloured outline.
        QCOMPARE(hover.pixelColor(0, 0), pal.color(QPalette::Button));
        QCOMPARE(hover.pixelColor(r, bottom), pal.color(QPalette::Button));
        QCOMPARE(hover.pixelColor(1, 1), pal.color(QPalette::Light));
        QCOMPARE(hover.pixelColor(r - 1, bottom - 1), pal.color(QPalette::Dark));

        Press(b, Inside(b));
        QImage pressed = b->grab().toImage();
        QCOMPARE(pressed.pixelColor(0, 0), pal.color(QPalette::Dark));
        QCOMPARE(pressed.pixelColor(1, 1), pal.color(QPalette::Shadow));
        QCOMPARE(pressed.pixelColor(r - 1, bottom - 1), pal.color(QPalette::Midlight));
        // The text one pixel right and one pixel down.
        const QColor ink = pal.color(QPalette::ButtonText);
        QCOMPARE(PixelsOf(pressed, ink), PixelsOf(hover, ink).translated(1, 1));
        // No focus frame while pressed, though the press gave the focus.
        QVERIFY(b->hasFocus());
        QCOMPARE(pressed.pixelColor(3, b->height() / 2), pal.color(QPalette::Button));
        Release(b, Outside(b));
    }

    void disabledTextIsEmbossedWithoutFocusFrame()
    {
        Dialog d;
        QVERIFY(QTest::qWaitForWindowActive(&d.dialog));
        const QPalette pal = DistinctPalette();
        d.host->setFocus();
        d.host->setEnabled(false);
        const QImage image = d.host->grab().toImage();
        QCOMPARE(image.pixelColor(0, 0), pal.color(QPalette::Dark));
        QCOMPARE(image.pixelColor(1, 1), pal.color(QPalette::Light));
        QCOMPARE(image.pixelColor(3, d.host->height() / 2), pal.color(QPalette::Button));
        // The light copy peeks out below and to the right of the shadow-coloured text.
        const QPointF shadowText = CentreOf(image, pal.color(QPalette::Button), -1);
        const QPointF lightText = CentreOf(image, pal.color(QPalette::Button), 1);
        QVERIFY(shadowText.x() > 3);
        QVERIFY2(lightText.x() > shadowText.x() + 0.25 && lightText.y() > shadowText.y() + 0.25,
            qPrintable(QStringLiteral("light text at %1,%2; shadow text at %3,%4")
                           .arg(lightText.x()).arg(lightText.y()).arg(shadowText.x()).arg(shadowText.y())));
        QVERIFY(PixelsOf(image, pal.color(QPalette::ButtonText)).isEmpty());
    }
};

QTEST_MAIN(TestFlatButton)
#include "tst_flat_button.moc"

// The flat button: its state machine under synthesised mouse and keyboard input, the
// click that reaches the dialog only after the release, the default id that follows the
// focus, and what each state paints.
#include "flat_button.h"

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

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

QPoint Inside(QWidget* w)
{
    return w->rect().center();
}
QPoint Outside(QWidget* w)
{
    return { w->width() + 20, w->height() / 2 };
}

// One step of a mouse script, as "press in", "drag out" (a move with the button held),
// "hover in" (a move without it), "release out", "double in" (the double-click event) or
// "leave".
void Step(QWidget* w, const QString& step)
{
    if (step == u"leave") {
        QEvent e(QEvent::Leave);
        QApplication::sendEvent(w, &e);
        return;
    }
    const QPointF at = step.endsWith(u"out") ? Outside(w) : Inside(w);
    const auto send = [&](QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons held) {
        QMouseEvent e(type, at, w->mapToGlobal(at), button, held, Qt::NoModifier);
        QApplication::sendEvent(w, &e);
    };
    if (step.startsWith(u"press"))
        send(QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton);
    else if (step.startsWith(u"drag"))
        send(QEvent::MouseMove, Qt::NoButton, Qt::LeftButton);
    else if (step.startsWith(u"hover"))
        send(QEvent::MouseMove, Qt::NoButton, Qt::NoButton);
    else if (step.startsWith(u"release"))
        send(QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton);
    else if (step.startsWith(u"double"))
        send(QEvent::MouseButtonDblClick, Qt::LeftButton, Qt::LeftButton);
    else
        QFAIL(qPrintable(u"no such step: "_s + step));
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

// The main window's three buttons and a field, as the dialog manager sees them.
struct Dialog {
    QDialog dialog;
    QLineEdit* edit = new QLineEdit(&dialog);
    CFlatButton* trace = Add(IDOK, "Trace", 120);
    CFlatButton* host = Add(IDC_HOST_BUTTON, "Host >", 200);
    CFlatButton* about = Add(IDC_ABOUT, "About...", 280);
    CDefaultIdRouter* router = new CDefaultIdRouter(&dialog);

    Dialog()
    {
        dialog.setPalette(DistinctPalette());
        edit->setGeometry(10, 10, 100, 24);
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

} // namespace

class TestFlatButton : public QObject {
    Q_OBJECT

private slots:
    void mouse_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("states"); // after each step: Normal, Hover, Pressed
        QTest::addColumn<int>("clicks"); // the commands that arrive, each after its release
        QTest::newRow("press, move out, release there: no command") << "press in, drag out, release out"
                                                                    << "PPN" << 0;
        QTest::newRow("press, out and in again, release: one command") << "press in, drag out, drag in, release in"
                                                                       << "PPPH" << 1;
        // The classic order (press, release, double click, release) and the toolkit's,
        // which sends a press before the double click.
        QTest::newRow("double click replaces the press: two commands") << "press in, release in, double in, release in"
                                                                       << "PHPH" << 2;
        QTest::newRow("press then double click: two commands")
            << "press in, release in, press in, double in, release in"
            << "PHPPH" << 2;
        QTest::newRow("hover comes with moves and goes with leaving") << "hover in, leave"
                                                                      << "HN" << 0;
        QTest::newRow("a release that no press began is no click") << "hover in, release in"
                                                                   << "HN" << 0;
        QTest::newRow("a move without the button keeps the pressed look") << "press in, hover in"
                                                                          << "PP" << 0;
    }
    void mouse()
    {
        QFETCH(QString, script);
        QFETCH(QString, states);
        QFETCH(int, clicks);
        Dialog d;
        QSignalSpy spy(d.about, &QAbstractButton::clicked);
        const QStringList steps = script.split(u", "_s);
        QCOMPARE(d.about->state(), int(CFlatButton::FLAT_NORMAL));
        QString seen;
        for (const QString& step : steps) {
            Step(d.about, step);
            seen += QChar(u"NPH"[d.about->state()]);
        }
        QCOMPARE(seen, states);
        QCOMPARE(spy.count(), 0); // posted: not there while the release is being handled
        QCoreApplication::processEvents();
        QCOMPARE(spy.count(), clicks);
        QCoreApplication::processEvents();
        QCOMPARE(spy.count(), clicks);
    }

    void clickPostedByADestroyedButtonNeverArrives()
    {
        Dialog d;
        int commands = 0;
        QObject::connect(d.host, &QAbstractButton::clicked, &d.dialog, [&] { ++commands; });
        Step(d.host, u"press in"_s);
        Step(d.host, u"release in"_s);
        delete d.host;
        QCoreApplication::processEvents();
        QCOMPARE(commands, 0);
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

    void defaultIdFollowsTheFocusAndEnterGivesIt()
    {
        Dialog d;
        QVERIFY(QTest::qWaitForWindowActive(&d.dialog));
        QSignalSpy traces(d.trace, &QAbstractButton::clicked);
        QSignalSpy hosts(d.host, &QAbstractButton::clicked);
        d.edit->setFocus();
        QCOMPARE(d.router->GetDefID(), IDOK);

        d.host->setFocus(Qt::TabFocusReason);
        QCOMPARE(d.router->GetDefID(), IDC_HOST_BUTTON);
        d.host->grab(); // painted with the focus: its frame is on
        QVERIFY(d.host->hasFocusFrame());
        QTest::keyClick(d.host, Qt::Key_Return);
        QCOMPARE(hosts.count(), 1);
        QCOMPARE(traces.count(), 0);

        // Pressing another button takes the focus, its frame and the default id with it.
        Step(d.host, u"hover in"_s);
        Step(d.about, u"press in"_s);
        QVERIFY(d.about->hasFocus());
        QCOMPARE(d.router->GetDefID(), IDC_ABOUT);
        QCOMPARE(d.host->state(), int(CFlatButton::FLAT_NORMAL));
        QVERIFY(!d.host->hasFocusFrame());
        Step(d.about, u"release in"_s);

        // Enter in the field: Trace.
        d.edit->setFocus();
        QCOMPARE(d.router->GetDefID(), IDOK);
        QTest::keyClick(d.edit, Qt::Key_Return);
        QCOMPARE(traces.count(), 1);
        QCOMPARE(hosts.count(), 1);
    }

    void eachStatePaintsItsEdgeAndFocusFrame_data()
    {
        QTest::addColumn<QString>("state");
        // The roles of the pixels at the outer and inner top-left corner, the inner and
        // outer bottom-right corner, and where the focus frame runs.
        QTest::addColumn<QList<int>>("roles");
        // Etched: a groove, dark then light at the top left, light then dark at the bottom right.
        QTest::newRow("normal") << "normal"
                                << QList<int> { QPalette::Dark, QPalette::Light, QPalette::Dark, QPalette::Light,
                                       QPalette::Button };
        QTest::newRow("focus") << "focus"
                               << QList<int> { QPalette::Dark, QPalette::Light, QPalette::Dark, QPalette::Light,
                                      QPalette::Dark };
        // A thin raised border one pixel inside a face-coloured outline.
        QTest::newRow("hover") << "hover"
                               << QList<int> { QPalette::Button, QPalette::Light, QPalette::Dark, QPalette::Button,
                                      QPalette::Button };
        // Sunken, and no focus frame while pressed, though the press gave the focus.
        QTest::newRow("pressed") << "pressed"
                                 << QList<int> { QPalette::Dark, QPalette::Shadow, QPalette::Midlight, QPalette::Light,
                                        QPalette::Button };
    }
    void eachStatePaintsItsEdgeAndFocusFrame()
    {
        QFETCH(QString, state);
        QFETCH(QList<int>, roles);
        Dialog d;
        QVERIFY(QTest::qWaitForWindowActive(&d.dialog));
        const QPalette pal = DistinctPalette();
        CFlatButton* b = d.about;
        const int r = b->width() - 1;
        const int bottom = b->height() - 1;
        if (state == u"focus")
            b->setFocus();
        Step(b, u"hover in"_s);
        const QImage hover = b->grab().toImage();
        if (state == u"normal" || state == u"focus")
            Step(b, u"leave"_s);
        if (state == u"pressed")
            Step(b, u"press in"_s);
        const QImage image = b->grab().toImage();
        QCOMPARE(b->hasFocus(), state == u"focus" || state == u"pressed");
        if (state != u"pressed")
            QCOMPARE(b->hasFocusFrame(), state == u"focus");

        QList<QColor> expected, painted;
        for (int role : roles)
            expected << pal.color(QPalette::ColorRole(role));
        for (QPoint p :
            { QPoint(0, 0), QPoint(1, 1), QPoint(r - 1, bottom - 1), QPoint(r, bottom), QPoint(3, b->height() / 2) })
            painted << image.pixelColor(p);
        QCOMPARE(painted, expected);
        if (state == u"focus")
            QCOMPARE(image.pixelColor(r - 3, 3), pal.color(QPalette::Dark));
        // Pressed, the text moves one pixel right and one pixel down.
        const QColor ink = pal.color(QPalette::ButtonText);
        QVERIFY(!PixelsOf(image, ink).isEmpty());
        QCOMPARE(PixelsOf(image, ink), PixelsOf(hover, ink).translated(state == u"pressed" ? QPoint(1, 1) : QPoint()));
        Step(b, u"release out"_s);
    }
};

QTEST_MAIN(TestFlatButton)
#include "tst_flat_button.moc"

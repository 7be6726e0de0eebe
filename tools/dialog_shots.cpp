// Draws every look of the flat button, in a light and a dark desktop palette, and the
// main window, the About and quick help dialogs, into PNG files in the folder given as
// the argument (QT_SCALE_FACTOR=2 shows them as a doubled display does).
//   XDG_CONFIG_HOME=$(mktemp -d) xvfb-run -a build/tools/dialog_shots /tmp/shots
#include "about_dlg.h"
#include "flat_button.h"
#include "quick_help_dlg.h"
#include "trace_dlg.h"

#include <QApplication>
#include <QDir>
#include <QGridLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QTest>

namespace {

QPalette DarkPalette()
{
    QPalette pal(QColor(0x35, 0x37, 0x3b), QColor(0x2b, 0x2d, 0x31));
    pal.setColor(QPalette::WindowText, QColor(0xe6, 0xe6, 0xe6));
    pal.setColor(QPalette::ButtonText, QColor(0xe6, 0xe6, 0xe6));
    pal.setColor(QPalette::Text, QColor(0xe6, 0xe6, 0xe6));
    pal.setColor(QPalette::Base, QColor(0x1f, 0x20, 0x23));
    return pal;
}

void Hover(QWidget* w)
{
    const QPointF p = w->rect().center();
    QMouseEvent e(QEvent::MouseMove, p, w->mapToGlobal(p), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

// Shown and active, so that focus frames show; a window that never becomes active is
// still drawn, only without them.
void ShowActive(QWidget* w)
{
    w->show();
    w->activateWindow();
    if (!QTest::qWaitForWindowActive(w))
        qWarning("%s never became active", w->metaObject()->className());
}

void Save(QWidget* w, const QString& dir, const QString& name)
{
    const QString path = QDir(dir).filePath(name);
    w->grab().save(path);
    qInfo("%s", qPrintable(path));
}

void ButtonStates(const QString& dir, const QString& theme, const QPalette& pal)
{
    QWidget panel;
    panel.setPalette(pal);
    panel.setAutoFillBackground(true);
    auto* grid = new QGridLayout(&panel);
    const char* names[] = { "normal", "hover", "pressed", "focus", "focus + hover", "disabled", "disabled + focus" };
    QList<CFlatButton*> buttons;
    for (int i = 0; i < int(std::size(names)); ++i) {
        grid->addWidget(new QLabel(QString::fromLatin1(names[i])), i, 0);
        auto* b = new CFlatButton(QStringLiteral("&Trace"));
        b->setFixedSize(82, 23);
        grid->addWidget(b, i, 1);
        buttons << b;
    }
    ShowActive(&panel);

    Hover(buttons[1]);
    buttons[2]->SetState(true);
    buttons[3]->setFocus();
    QCoreApplication::processEvents();
    Save(&panel, dir, QStringLiteral("buttons-%1-part1.png").arg(theme));

    buttons[4]->setFocus();
    Hover(buttons[4]);
    Hover(buttons[1]);
    QCoreApplication::processEvents();
    Save(&panel, dir, QStringLiteral("buttons-%1-part2.png").arg(theme));

    buttons[5]->setEnabled(false);
    buttons[6]->setFocus();
    buttons[6]->setEnabled(false);
    QCoreApplication::processEvents();
    Save(&panel, dir, QStringLiteral("buttons-%1-part3.png").arg(theme));
}

void Dialogs(const QString& dir, const QString& theme, const QPalette& pal)
{
    QApplication::setPalette(pal);
    {
        // With rows as long as the columns get: an IPv6 address and a long host name.
        CTraceDlg trace;
        trace.OnInitDialog();
        trace.rows().InsertHopRow("1", "2001:db8:ffff:ffff:ffff:ffff:ffff:ffff", "5", "r1.path.test", "next", 0);
        trace.rows().InsertHopRow("2", "198.18.2.2", "17", "a-long-router-name.far.path.test", "reached", 1);
        ShowActive(&trace);
        QCoreApplication::processEvents();
        Save(&trace, dir, QStringLiteral("trace-%1.png").arg(theme));
    }
    {
        CAboutDlg about;
        about.OnInitDialog();
        ShowActive(&about);
        QCoreApplication::processEvents();
        Save(&about, dir, QStringLiteral("about-%1.png").arg(theme));
        about.m_btnMailLink->setDown(true);
        Hover(about.m_btnQuickHelp);
        QCoreApplication::processEvents();
        Save(&about, dir, QStringLiteral("about-%1-mail-held-help-hover.png").arg(theme));
    }
    {
        CQuickHelpDlg help;
        help.UpdateData(false);
        ShowActive(&help);
        help.m_btnDone->setFocus();
        QCoreApplication::processEvents();
        Save(&help, dir, QStringLiteral("quick-help-%1.png").arg(theme));
    }
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(dir);
    const QPalette light = QApplication::palette();
    ButtonStates(dir, QStringLiteral("light"), light);
    ButtonStates(dir, QStringLiteral("dark"), DarkPalette());
    Dialogs(dir, QStringLiteral("light"), light);
    Dialogs(dir, QStringLiteral("dark"), DarkPalette());
    return 0;
}

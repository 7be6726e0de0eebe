// The main window's keys beside Enter (Trace) and Esc (end without saving): F1 for the
// quick help, Ctrl+S to save a report and Ctrl+Q to end the program.
#include "quick_help_dlg.h"
#include "trace_dlg.h"

#include <QShortcut>

void CTraceDlg::SetUpShortcuts()
{
    // Window-wide: they work whichever control has the focus.
    connect(new QShortcut(QKeySequence::HelpContents, this), &QShortcut::activated, this, &CTraceDlg::OnHelp);
    connect(new QShortcut(QKeySequence::Save, this), &QShortcut::activated, this, &CTraceDlg::OnSaveReport);
    connect(
        new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), this), &QShortcut::activated, this, &CTraceDlg::OnAppExit);
}

void CTraceDlg::OnHelp()
{
    CQuickHelpDlg dlg;
    dlg.DoModal();
}

void CTraceDlg::OnAppExit()
{
    // The close box's way, so the settings are saved as they are there.
    close();
}

// Template 131, the quick help dialog: the help text in a read-only field above a
// "Done" button as wide as the dialog.
#include "about_resource.h"
#include "aux_dialog_templates.h"
#include "resource.h"

namespace res {
namespace {

// "Done" first: it is the first tab stop and takes the focus.
constexpr DialogControl kQuickHelpControls[] = {
    { IDCANCEL, "IDCANCEL", kButtonClass, "Done", { 3, 129, 297, 16 },
        WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_FLAT | BS_OWNERDRAW, 0 },
    // No scroll bars, and ES_AUTOHSCROLL: lines break only where the text breaks them.
    { IDC_HELP_TEXT, "IDC_HELP_TEXT", kEditClass, "", { 3, 3, 297, 123 },
        WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_MULTILINE | ES_AUTOHSCROLL | ES_READONLY | ES_WANTRETURN,
        WS_EX_STATICEDGE },
};

constexpr DialogTemplate kQuickHelpDialog = {
    IDD_QUICK_HELP,
    "Quick help",
    303,
    148,
    "MS Sans Serif",
    8,
    WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT,
    0,
    kQuickHelpControls,
};

} // namespace

const DialogTemplate& QuickHelpDialogTemplate()
{
    return kQuickHelpDialog;
}

} // namespace res

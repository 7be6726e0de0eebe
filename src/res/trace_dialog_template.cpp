// Template 102, the main window: the parameter fields and buttons along the top, the
// results list in the middle, the status line and the target address along the bottom.
#include "dialog_template.h"
#include "resource.h"

#include <iterator>

namespace res {
namespace {

constexpr uint32_t kVisibleChild = WS_CHILD | WS_VISIBLE;
constexpr uint32_t kFlatButton = kVisibleChild | WS_TABSTOP | BS_OWNERDRAW | BS_FLAT;
constexpr uint32_t kNumberEdit = kVisibleChild | WS_BORDER | WS_TABSTOP | ES_NUMBER | ES_AUTOHSCROLL;
constexpr uint32_t kLabel = kVisibleChild | WS_GROUP | SS_LEFT;

// Template order is the tab order, so the "Trace" button, first here, takes the focus
// when the window opens.
constexpr DialogControl kTraceControls[] = {
    { IDOK, "IDOK", kButtonClass, "Trace", { 419, 0, 47, 13 }, kFlatButton, 0 },
    { IDC_RESULTS, "IDC_RESULTS", kListViewClass, "", { 2, 14, 464, 216 },
        kVisibleChild | WS_TABSTOP | LVS_REPORT | LVS_NOLABELWRAP, WS_EX_STATICEDGE },
    { IDC_HOST, "IDC_HOST", kEditClass, "", { 32, 0, 128, 13 }, kVisibleChild | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL,
        0 },
    { IDC_STATUS, "IDC_STATUS", kStaticClass, "Idle", { 2, 232, 216, 11 },
        kVisibleChild | WS_GROUP | SS_SUNKEN | SS_LEFT, 0 },
    { IDC_HOPS, "IDC_HOPS", kEditClass, "", { 199, 0, 29, 13 }, kNumberEdit, 0 },
    { IDC_HOPS_LABEL, "IDC_HOPS_LABEL", kStaticClass, "hops", { 231, 2, 16, 8 }, kLabel, 0 },
    { IDC_TIMEOUT, "IDC_TIMEOUT", kEditClass, "", { 251, 0, 33, 13 }, kNumberEdit, 0 },
    { IDC_MS_LABEL, "IDC_MS_LABEL", kStaticClass, "ms", { 286, 2, 10, 8 }, kLabel, 0 },
    // The address family, the one-flow choice and the watch choice close the row of trace
    // parameters.
    { IDC_FAMILY, "IDC_FAMILY", kComboBoxClass, "", { 300, 0, 34, 13 },
        kVisibleChild | WS_BORDER | WS_TABSTOP | CBS_DROPDOWNLIST, 0 },
    { IDC_FIXED_FLOW, "IDC_FIXED_FLOW", kButtonClass, "one flow", { 337, 0, 42, 13 },
        kVisibleChild | WS_TABSTOP | BS_AUTOCHECKBOX | BS_FLAT, 0 },
    { IDC_WATCH, "IDC_WATCH", kButtonClass, "watch", { 381, 0, 36, 13 },
        kVisibleChild | WS_TABSTOP | BS_AUTOCHECKBOX | BS_FLAT, 0 },
    { IDC_HOST_BUTTON, "IDC_HOST_BUTTON", kButtonClass, "Host >", { 2, 0, 30, 13 }, kFlatButton, 0 },
    { IDC_TARGET, "IDC_TARGET", kStaticClass, "", { 286, 232, 180, 11 },
        kVisibleChild | WS_GROUP | SS_SUNKEN | SS_CENTER, 0 },
    { IDC_TARGET_LABEL, "IDC_TARGET_LABEL", kStaticClass, "Target:", { 262, 232, 24, 10 },
        kVisibleChild | WS_GROUP | SS_LEFTNOWORDWRAP | SS_CENTERIMAGE, 0 },
    { IDC_TRIES, "IDC_TRIES", kEditClass, "", { 161, 0, 18, 13 }, kNumberEdit, 0 },
    { IDC_TRIES_LABEL, "IDC_TRIES_LABEL", kStaticClass, "tries", { 181, 2, 17, 8 }, kLabel, 0 },
    { IDC_ABOUT, "IDC_ABOUT", kButtonClass, "About...", { 220, 232, 40, 11 }, kFlatButton, 0 },
    // Never shown: it only gives Esc a command to arrive as.
    { IDCANCEL, "IDCANCEL", kButtonClass, "About...", { 325, 0, 6, 6 }, WS_CHILD | WS_TABSTOP | BS_PUSHBUTTON,
        WS_EX_CLIENTEDGE },
};

constexpr DialogTemplate kTraceDialog = {
    IDD_TRACE_DIALOG,
    "Veltrosyn hoplantern",
    468,
    244,
    "MS Sans Serif",
    8,
    WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | DS_SETFONT,
    WS_EX_APPWINDOW,
    kTraceControls,
};

} // namespace

const DialogTemplate* FindDialogTemplate(int id)
{
    static constexpr const DialogTemplate* kAll[] = { &kTraceDialog };
    for (const DialogTemplate* t : kAll) {
        if (t->id == id)
            return t;
    }
    return nullptr;
}

} // namespace res

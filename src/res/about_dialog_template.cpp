// Template 100, the About dialog: the icon, the version and notice lines, the two links,
// and the "OK" and "Quick help" buttons down the right side.
#include "about_resource.h"
#include "aux_dialog_templates.h"
#include "product_info.h"
#include "resource.h"

namespace res {
namespace {

constexpr uint32_t kVisibleChild = WS_CHILD | WS_VISIBLE;
constexpr uint32_t kFlatButton = kVisibleChild | WS_GROUP | WS_TABSTOP | BS_FLAT | BS_OWNERDRAW;
// Owner-drawn too, but drawn by the dialog as links rather than as flat buttons.
constexpr uint32_t kLinkButton = kVisibleChild | WS_TABSTOP | BS_FLAT | BS_LEFT | BS_OWNERDRAW;
constexpr uint32_t kText = kVisibleChild | WS_GROUP;

// Template order is the tab order: "OK" is the first tab stop and takes the focus.
constexpr DialogControl kAboutControls[] = {
    { IDC_STATIC, "IDC_ABOUT_ICON", kStaticClass, "", { 7, 7, 21, 20 }, kVisibleChild | SS_ICON, 0 },
    { IDCANCEL, "IDCANCEL", kButtonClass, "OK", { 152, 7, 50, 15 }, kFlatButton, 0 },
    { IDC_STATIC, "IDC_VERSION", kStaticClass, kVersionLine, { 35, 7, 111, 8 }, kText | SS_LEFTNOWORDWRAP | SS_NOPREFIX,
        0 },
    { IDC_STATIC, "IDC_NOTICE", kStaticClass, kNoticeLine, { 35, 17, 90, 8 }, kText, 0 },
    { IDC_STATIC, "IDC_STATIC", kStaticClass, "Feedback:", { 7, 29, 35, 8 }, kText, 0 },
    { IDC_MAIL_LINK, "IDC_MAIL_LINK", kButtonClass, kAuthorMail, { 43, 29, 79, 8 }, kLinkButton, 0 },
    { IDC_STATIC, "IDC_STATIC", kStaticClass, "Web site:", { 7, 38, 31, 8 }, kText, 0 },
    { IDC_WEB_LINK, "IDC_WEB_LINK", kButtonClass, kWebPage, { 43, 38, 124, 8 }, kLinkButton, 0 },
    { IDC_QUICK_HELP, "IDC_QUICK_HELP", kButtonClass, "Quick help", { 152, 22, 50, 15 }, kFlatButton, 0 },
};

constexpr DialogTemplate kAboutDialog = {
    IDD_ABOUTBOX,
    "About Hoplantern",
    208,
    53,
    "MS Sans Serif",
    8,
    WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT,
    0,
    kAboutControls,
};

} // namespace

const DialogTemplate& AboutDialogTemplate()
{
    return kAboutDialog;
}

} // namespace res

// What each control of the main window is for, shown when the pointer rests on it.
#include "resource.h"
#include "trace_dlg.h"

#include <algorithm>
#include <iterator>

namespace {

constexpr std::pair<int, const char*> kToolTips[] = {
    { IDC_HOST_BUTTON, "Replace the host with the clipboard's text" },
    { IDC_HOST, "The host to trace: a name, an address or a URL" },
    { IDC_TRIES, "How many times to try a router that has not answered yet" },
    { IDC_HOPS, "The most hops to trace" },
    { IDC_TIMEOUT, "How long to wait for a router's answer, in milliseconds" },
    { IDC_FAMILY, "Trace over IPv4 or IPv6, or as the host name resolves (Auto)" },
    { IDC_FIXED_FLOW, "Send every probe on one flow, so routers that balance load keep to one path" },
    { IDC_WATCH, "Trace keeps probing the path once a second, with each hop's loss and times, until Stop" },
    { IDOK, "Trace the route to the host (Enter)" },
    { IDC_RESULTS, "The routers on the way, one row each; right-click to copy them or save a report (Ctrl+S)" },
    { IDC_STATUS, "What the trace is doing" },
    { IDC_ABOUT, "The program's version, its web page and the quick help (F1)" },
    { IDC_TARGET, "The address traced" },
};

constexpr const char* kStopToolTip = "Stop watching (Enter)";

} // namespace

void CTraceDlg::SetUpToolTips()
{
    for (const auto& [id, text] : kToolTips) {
        if (QWidget* control = GetDlgItem(id))
            control->setToolTip(QString::fromUtf8(text));
    }
}

void CTraceDlg::SetTraceButtonToolTip(bool watching)
{
    const auto trace
        = std::find_if(std::begin(kToolTips), std::end(kToolTips), [](const auto& tip) { return tip.first == IDOK; });
    m_btnTrace->setToolTip(QString::fromUtf8(watching ? kStopToolTip : trace->second));
}

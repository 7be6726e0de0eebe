#include "trace_dlg.h"
#include "about_dlg.h"
#include "app_icon.h"
#include "dialog_builder.h"
#include "host_argument.h"
#include "host_history.h"
#include "int_field.h"
#include "message_box.h"
#include "privileges.h"
#include "resource.h"
#include "settings/window_state.h"
#include "text_fit.h"

#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QEventLoop>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QScreen>
#include <QStyle>

#include <algorithm>

namespace {

template <typename T> T* Bind(const std::map<int, QWidget*>& controls, int id)
{
    const auto it = controls.find(id);
    T* w = it == controls.end() ? nullptr : qobject_cast<T*>(it->second);
    Q_ASSERT_X(w, "CTraceDlg", "template 102 lacks a control the window binds");
    return w;
}

// The family list's items, in the order the combo box shows them.
constexpr std::pair<AddressChoice, const char*> kFamilies[]
    = { { AddressChoice::Auto, "Auto" }, { AddressChoice::V4, "IPv4" }, { AddressChoice::V6, "IPv6" } };

} // namespace

CTraceDlg::CTraceDlg(QWidget* pParent, TracePlatform platform)
    : QDialog(pParent)
    , m_engine(m_rows, std::move(platform))
    , m_watch(m_engine.platform())
    , m_hIcon(res::LoadIcon(IDR_MAINFRAME))
{
    const res::DialogTemplate& tmpl = *res::FindDialogTemplate(IDD_TRACE_DIALOG);
    m_controls = CreateDialogControls(*this, tmpl);
    m_btnHost = Bind<CommandButton>(m_controls, IDC_HOST_BUTTON);
    m_btnAbout = Bind<CommandButton>(m_controls, IDC_ABOUT);
    m_btnTrace = Bind<CommandButton>(m_controls, IDOK);
    m_list = Bind<HopListView>(m_controls, IDC_RESULTS);
    m_editHost = Bind<QLineEdit>(m_controls, IDC_HOST);
    m_stStatus = Bind<QLabel>(m_controls, IDC_STATUS);
    m_stTarget = Bind<QLabel>(m_controls, IDC_TARGET);
    m_cbFamily = Bind<QComboBox>(m_controls, IDC_FAMILY);
    m_chkFixedFlow = Bind<QCheckBox>(m_controls, IDC_FIXED_FLOW);
    m_chkWatch = Bind<QCheckBox>(m_controls, IDC_WATCH);
    for (const auto& [family, text] : kFamilies)
        m_cbFamily->addItem(QString::fromLatin1(text), int(family));

    // The desktop's font runs wider than the template's did, the more so at some scales
    // (at 2x "tries" lost its last letter).
    FitTextsToControls(*this, tmpl);
    m_hostHistory = new HostHistory(m_editHost);
    SetUpToolTips();
    SetUpShortcuts();
    connect(m_list, &HopListView::saveReportRequested, this, &CTraceDlg::OnSaveReport);

    // Enter anywhere but on another button starts a trace.
    m_btnTrace->setDefault(true);
    connect(m_btnTrace, &QPushButton::clicked, this, &CTraceDlg::OnOK);
    connect(m_btnHost, &QPushButton::clicked, this, &CTraceDlg::OnHostButton);
    connect(m_btnAbout, &QPushButton::clicked, this, &CTraceDlg::OnAboutButton);
    connect(Bind<QPushButton>(m_controls, IDCANCEL), &QPushButton::clicked, this, &CTraceDlg::OnCancel);
    connect(&m_engine, &TraceEngine::statusChanged, m_stStatus, &QLabel::setText);
    connect(&m_engine, &TraceEngine::targetChanged, m_stTarget, &QLabel::setText);
    connect(&m_watch, &WatchController::statusChanged, m_stStatus, &QLabel::setText);
    connect(&m_watch, &WatchController::targetChanged, m_stTarget, &QLabel::setText);
    connect(&m_watch, &WatchController::runningChanged, this, &CTraceDlg::OnWatchRunning);
    connect(&m_watch, &WatchController::roundFinished, this, &CTraceDlg::OnWatchRound);
    // However the window ends (close box, Ctrl+Q, Esc), a watch under way ends with it, at
    // once and without a question: its figures stay, and nothing probes for a window gone.
    connect(this, &QDialog::finished, &m_watch, &WatchController::Stop);

    SetUpChart();

    // The host field and the list take every change of the window's size one to one, so
    // these minimums keep them at their floors for the whole run.
    m_sizeLaidOut = size();
    setMinimumSize(width() - m_editHost->width() + kHostFieldMinWidth, height() - m_list->height() + kResultsMinHeight);

    // Where a new window of the desktop would open: centred on the screen.
    if (const QScreen* s = screen())
        move(s->availableGeometry().center() - rect().center());
}

CTraceDlg::~CTraceDlg() = default;

int CTraceDlg::DoModal()
{
    OnInitDialog();
    // Run until it ends, as exec() would run it, but not flagged modal: exec() tells the
    // window manager so (_NET_WM_STATE_MODAL), which is for a dialog over a window of the
    // program, and this is the program's main window.
    QEventLoop loop;
    connect(this, &QDialog::finished, &loop, &QEventLoop::quit);
    show();
    loop.exec(QEventLoop::DialogExec);
    return result();
}

bool CTraceDlg::OnInitDialog()
{
    // The native window exists before its rectangle is read: where the platform knows
    // the frame before the window is shown, the rectangle then includes it.
    winId();
    UpdateData(false);

    hl::WindowRect rect = GetWindowRect();
    const hl::WindowRect initial = rect;
    LoadWindowPosition(rect);
    // A new window at a large scale, or a rectangle saved on another screen, would
    // put the host field, Trace or the close box out of reach.
    FitToScreen(rect);
    MoveWindow(rect);
    // Before the window is shown its frame is not known yet; a saved rectangle includes
    // it, so it is applied again once the frame's size is known.
    m_rcRestored = rect;
    m_bRefitFrame = rect.left != initial.left || rect.top != initial.top || rect.right != initial.right
        || rect.bottom != initial.bottom;

    LoadOptions();
    UpdateData(false);
    m_hostHistory->SetHosts(hl::LoadRecentHosts(m_store));
    // Shown maximised, over the rectangle just restored, which it returns to.
    if (hl::LoadWindowMaximized(m_store))
        setWindowState(windowState() | Qt::WindowMaximized);

    // Desktops on Linux give a program no system menu to add an About item to; the
    // "About..." button is the way there.
    setWindowIcon(m_hIcon);

    SetUpResultsList();

    for (const QString& failure : m_engine.OpenIcmpSocket(m_nTimeout))
        AfxMessageBox(failure, QMessageBox::NoIcon, this);
    // The raw socket, where the program may have one, is open now; nothing else it
    // does needs a privilege, so the rest of its life runs without any.
    DropAllCapabilities();

    if (m_bAutoTrace)
        QMetaObject::invokeMethod(this, &CTraceDlg::OnOK, Qt::QueuedConnection);

    m_btnTrace->setFocus();
    return true;
}

void CTraceDlg::SetUpResultsList()
{
    m_list->setModel(&m_rows);
    QHeaderView* header = m_list->header();
    for (int c = 0; c < HOP_COLUMN_COUNT; ++c)
        header->resizeSection(c, kHopColumns[c].width);
    // An IPv6 address is much longer than the IPv4 one the column was first sized for:
    // room for eight full groups of the font's widest hex digit, and the cell's margins.
    const QFontMetrics fm = m_list->fontMetrics();
    int digit = 0;
    for (const QChar c : QStringLiteral("0123456789abcdef"))
        digit = std::max(digit, fm.horizontalAdvance(c));
    const int margins = 2 * m_list->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header) + 8;
    const int addressWidth = 32 * digit + 7 * fm.horizontalAdvance(QLatin1Char(':')) + margins;
    header->resizeSection(1, std::max(header->sectionSize(1), addressWidth));

    m_list->GetColumnOrderArray(m_anColumnOrder, hl::kColumnCount);
    LoadColumnOrder();
    // A stored order that does not name each column once would lose or double columns.
    if (hl::IsColumnPermutation(m_anColumnOrder))
        m_list->SetColumnOrderArray(m_anColumnOrder, hl::kColumnCount);
    SetUpWatchColumns();
}

// ---- Data exchange -------------------------------------------------------------------

bool CTraceDlg::UpdateData(bool bSaveAndValidate)
{
    CDataExchange dx;
    dx.m_bSaveAndValidate = bSaveAndValidate;
    DoDataExchange(&dx);
    return !dx.m_bFailed;
}

void CTraceDlg::DoDataExchange(CDataExchange* pDX)
{
    // This order decides which members a rejected field leaves unchanged.
    DDX_Text(pDX, IDC_HOPS, m_nHops);
    DDX_Text(pDX, IDC_HOST, m_strHost);
    DDX_Text(pDX, IDC_TIMEOUT, m_nTimeout);
    DDX_Text(pDX, IDC_TRIES, m_nTries);
    DDX_Family(pDX, IDC_FAMILY, m_family);
    DDX_Check(pDX, IDC_FIXED_FLOW, m_bFixedFlow);
    DDX_Check(pDX, IDC_WATCH, m_bWatch);
}

void CTraceDlg::DDX_Text(CDataExchange* pDX, int nIDC, int& value)
{
    if (pDX->m_bFailed)
        return;
    auto* edit = qobject_cast<QLineEdit*>(GetDlgItem(nIDC));
    if (!pDX->m_bSaveAndValidate) {
        edit->setText(QString::number(value));
        return;
    }
    if (ParseIntField(edit->text(), &value))
        return;
    pDX->m_bFailed = true;
    AfxMessageBox(QStringLiteral("Please enter an integer."), QMessageBox::Warning, this);
    edit->setFocus();
    edit->selectAll();
}

void CTraceDlg::DDX_Text(CDataExchange* pDX, int nIDC, QString& value)
{
    if (pDX->m_bFailed)
        return;
    auto* edit = qobject_cast<QLineEdit*>(GetDlgItem(nIDC));
    if (pDX->m_bSaveAndValidate)
        value = edit->text();
    else
        edit->setText(value);
}

void CTraceDlg::DDX_Family(CDataExchange* pDX, int nIDC, AddressChoice& value)
{
    if (pDX->m_bFailed)
        return;
    auto* combo = qobject_cast<QComboBox*>(GetDlgItem(nIDC));
    if (pDX->m_bSaveAndValidate)
        value = AddressChoice(combo->currentData().toInt());
    else
        combo->setCurrentIndex(std::max(0, combo->findData(int(value))));
}

void CTraceDlg::DDX_Check(CDataExchange* pDX, int nIDC, bool& value)
{
    if (pDX->m_bFailed)
        return;
    auto* box = qobject_cast<QCheckBox*>(GetDlgItem(nIDC));
    if (pDX->m_bSaveAndValidate)
        value = box->isChecked();
    else
        box->setChecked(value);
}

QWidget* CTraceDlg::GetDlgItem(int id) const
{
    const auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : it->second;
}

// ---- Commands ------------------------------------------------------------------------

void CTraceDlg::OnOK()
{
    // While a watch runs the button reads "Stop", and it (or Enter) ends the watch.
    if (m_watch.running()) {
        m_watch.Stop();
        return;
    }
    // A rejected field has shown its message; the trace runs with the values as they are.
    UpdateData(true);
    // White space around a host (a pasted address often ends in a blank or a line break)
    // is no part of it; the field shows the host as traced.
    const QString host = HostFromArgument(m_strHost);
    if (host != m_strHost) {
        m_strHost = host;
        m_editHost->setText(host);
    }
    m_hostHistory->AddHost(host);
    if (m_bWatch) {
        StartWatch();
        return;
    }
    ShowTraceTable();
    m_engine.OnOK(*this);
}

void CTraceDlg::OnCancel()
{
    reject();
}

void CTraceDlg::OnHostButton()
{
    m_editHost->selectAll();
    QString text = QGuiApplication::clipboard()->text();
    if (text.isEmpty())
        return; // nothing to paste: the host text stays, selected
    // A one-line field takes a pasted text up to its first line break.
    const qsizetype lineBreak = text.indexOf(QRegularExpression(QStringLiteral("[\r\n]")));
    if (lineBreak >= 0)
        text.truncate(lineBreak);
    m_editHost->insert(text);
}

void CTraceDlg::OnAboutButton()
{
    CAboutDlg dlg;
    dlg.DoModal();
}

// ---- Closing -------------------------------------------------------------------------

void CTraceDlg::closeEvent(QCloseEvent* event)
{
    OnClose();
    QDialog::closeEvent(event);
}

void CTraceDlg::OnClose()
{
    ShowTraceTable(); // the five columns' order is saved from the trace's table
    SaveWatchColumns();
    // A maximised window keeps the rectangle it returns to, and reopens maximised over it.
    SaveWindowPosition(isMaximized() ? GetRestoredWindowRect() : GetWindowRect());
    hl::SaveWindowMaximized(m_store, isMaximized());
    hl::SaveRecentHosts(m_store, m_hostHistory->hosts());
    UpdateData(true); // a rejected field keeps its previous value, and closing goes on
    SaveOptions();
    m_list->GetColumnOrderArray(m_anColumnOrder, std::min(m_list->header()->count(), hl::kColumnOrderEntries));
    SaveColumnOrder();
}

// ---- Settings ------------------------------------------------------------------------

void CTraceDlg::LoadOptions()
{
    hl::LoadOptions(m_store, m_nTries, m_nHops, m_nTimeout);
    int family = int(m_family);
    hl::LoadTraceChoices(m_store, family, m_bFixedFlow);
    m_family = m_familySaved = AddressChoice(family);
    if (m_familyAsked != AddressChoice::Auto)
        m_family = m_familyAsked;
    m_bWatch = m_bWatchSaved = hl::LoadWatchChoice(m_store);
    if (m_bWatchAsked)
        m_bWatch = true;
}

void CTraceDlg::SaveOptions()
{
    hl::SaveOptions(m_store, m_nTries, m_nHops, m_nTimeout);
    const bool asked = m_familyAsked != AddressChoice::Auto && m_family == m_familyAsked;
    hl::SaveTraceChoices(m_store, int(asked ? m_familySaved : m_family), m_bFixedFlow);
    hl::SaveWatchChoice(m_store, m_bWatchAsked && m_bWatch ? m_bWatchSaved : m_bWatch);
}

void CTraceDlg::LoadWindowPosition(hl::WindowRect& rect)
{
    hl::LoadWindowPosition(m_store, rect);
}

void CTraceDlg::SaveWindowPosition(const hl::WindowRect& rect)
{
    hl::SaveWindowPosition(m_store, rect);
}

void CTraceDlg::LoadColumnOrder()
{
    hl::LoadColumnOrder(m_store, m_anColumnOrder);
}

void CTraceDlg::SaveColumnOrder()
{
    hl::SaveColumnOrder(m_store, m_anColumnOrder);
}

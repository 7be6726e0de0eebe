#pragma once
// The main window: parameter fields and buttons, the results list, the status line and
// the target address, around the one trace engine of the program.

#include "command_button.h"
#include "hop_list_view.h"
#include "hop_row_list.h"
#include "settings/settings_ops.h"
#include "trace_engine.h"
#include "trace_platform.h"
#include "watch_controller.h"
#include "watch_table_delegate.h"
#include "watch_table_model.h"

#include <QDialog>
#include <QIcon>
#include <QSize>
#include <QString>

#include <map>

class HostHistory;
class HopChart;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QSplitter;

// One pass of the data exchange: towards the fields, or from them with validation. A
// field that does not validate ends the pass; the fields after it are not touched.
struct CDataExchange {
    bool m_bSaveAndValidate = false;
    bool m_bFailed = false;
};

// The window's parameters are its own members (TraceParameters): the fields exchange
// with them, the settings keep them, and each trace starts from a copy of them.
class CTraceDlg : public QDialog, public TraceParameters {
    Q_OBJECT
public:
    // A proposed outer window rectangle, corrected in place by OnWindowPosChanging.
    struct WindowPos {
        int x;
        int y;
        int cx;
        int cy;
        unsigned flags;
    };
    static constexpr unsigned SWP_NOSIZE = 0x0001;
    static constexpr unsigned SWP_NOMOVE = 0x0002;
    static constexpr unsigned SWP_NOCOPYBITS = 0x0100;
    static constexpr unsigned SWP_STATECHANGED = 0x8000;
    // The host field and the results list never get smaller than this.
    static constexpr int kHostFieldMinWidth = 32;
    static constexpr int kResultsMinHeight = 20;

    explicit CTraceDlg(QWidget* pParent = nullptr, TracePlatform platform = TracePlatform::System());
    ~CTraceDlg() override;

    // Initialises the window and runs it until it is closed.
    int DoModal();
    // Everything between building the window and showing it: settings, list columns,
    // the ICMP socket and the automatic trace. Returns true (focus on "Trace").
    bool OnInitDialog();

    // Towards the fields (false) or from them (true). False when a number was rejected.
    bool UpdateData(bool bSaveAndValidate = true);

    // The window's outer rectangle (frame included) in screen pixels.
    hl::WindowRect GetWindowRect() const;
    // Moves and sizes the window to an outer rectangle, through the resize layout.
    void MoveWindow(const hl::WindowRect& rect);
    // Moves and shrinks an outer rectangle into the available area of its screen (or the
    // window's, for one on no screen), never below the window's minimum size.
    void FitToScreen(hl::WindowRect& rect) const;
    // Lays the controls out for a proposed new window size and holds the size to the
    // minimum that the host field and the list allow, correcting `pos` where needed.
    void OnWindowPosChanging(WindowPos* pos);

    QWidget* GetDlgItem(int id) const;
    TraceEngine& engine() { return m_engine; }
    WatchController& watch() { return m_watch; }
    HopRowList& rows() { return m_rows; }
    hl::RegistryStore& store() { return m_store; }

public slots:
    void OnOK(); // "Trace" (or "Stop" while watching), Enter, or the automatic trace
    void OnCancel(); // Esc: ends the window without saving anything
    void OnHostButton(); // "Host >": the clipboard replaces the host text
    void OnAboutButton(); // "About..."
    void OnHelp(); // F1: the quick help, over the window
    void OnAppExit(); // Ctrl+Q: ends the program as the close box does, settings saved
    // "Save report…" (Ctrl+S, the list's menu): the watch's report, or the trace's table as CSV
    void OnSaveReport();

protected:
    virtual void DoDataExchange(CDataExchange* pDX);
    void OnClose(); // saves the settings; the window then ends

    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void DDX_Text(CDataExchange* pDX, int nIDC, int& value);
    void DDX_Text(CDataExchange* pDX, int nIDC, QString& value);
    void DDX_Family(CDataExchange* pDX, int nIDC, AddressChoice& value);
    void DDX_Check(CDataExchange* pDX, int nIDC, bool& value);
    void SetUpResultsList();
    // The watch in the window (trace_dlg_watch.cpp). Trace with "watch" ticked: the
    // engine's trace gives way to a watch of the host, and the list to its table.
    void StartWatch();
    void OnWatchRunning(bool running);
    void OnWatchRound();
    void SetUpWatchColumns();
    void SaveWatchColumns();
    void ShowWatchTable();
    void ShowTraceTable();
    // The chart of the hop selected in the watch's table, below it in a splitter.
    void SetUpChart();
    void OnHopSelected(const QModelIndex& current);
    void HideChart();
    // The results list, or the splitter holding it and the chart: what the layout sizes.
    QWidget* ResultsArea() const;
    void RefitToFrame();
    // The window's own keys beyond Enter and Esc (trace_dlg_keys.cpp).
    void SetUpShortcuts();
    // What each control is for, shown when the pointer rests on it (trace_dlg_tooltips.cpp).
    void SetUpToolTips();
    // The Trace button's, which reads "Stop" while a watch runs.
    void SetTraceButtonToolTip(bool watching);
    // The outer rectangle the window has when not maximised.
    hl::WindowRect GetRestoredWindowRect() const;

    // The settings operations of the window; none reports a failure.
    void LoadOptions();
    void SaveOptions();
    void LoadWindowPosition(hl::WindowRect& rect);
    void SaveWindowPosition(const hl::WindowRect& rect);
    void LoadColumnOrder();
    void SaveColumnOrder();

    HopRowList m_rows;
    WatchTableModel m_watchRows;
    WatchTableDelegate m_watchDelegate;
    std::vector<hl::WatchColumn> m_watchColumns; // while the trace's table shows
    int m_nChartHeight = 0; // pixels; 0: not set
    TraceEngine m_engine;
    WatchController m_watch; // on the engine's platform, so declared after it
    hl::RegistryStore m_store;
    std::map<int, QWidget*> m_controls;
    QSize m_sizeLaidOut; // the client size the controls are placed for
    hl::WindowRect m_rcRestored {};
    bool m_bRefitFrame = false; // the restored rectangle awaits the window frame's size
    AddressChoice m_familySaved = AddressChoice::Auto; // as loaded from the settings
    bool m_bWatchSaved = false;
    QString m_strReportFolder; // where the last report went; empty: none saved yet

public:
    int m_anColumnOrder[hl::kColumnOrderEntries] {};
    bool m_bAutoTrace = false;
    // The family asked for on the command line (Auto: none). It is this run's choice;
    // the saved choice stays unless the list is changed.
    AddressChoice m_familyAsked = AddressChoice::Auto;
    // "watch": Trace starts a watch. --watch ticks it for this run, as -4 and -6 choose
    // the family: the saved choice stays unless the box is changed.
    bool m_bWatch = false;
    bool m_bWatchAsked = false;

    CommandButton* m_btnHost = nullptr;
    CommandButton* m_btnAbout = nullptr;
    CommandButton* m_btnTrace = nullptr;
    HopListView* m_list = nullptr;
    QSplitter* m_splitResults = nullptr;
    HopChart* m_chart = nullptr;
    QLineEdit* m_editHost = nullptr;
    QComboBox* m_cbFamily = nullptr;
    QCheckBox* m_chkFixedFlow = nullptr;
    QCheckBox* m_chkWatch = nullptr;
    QLabel* m_stStatus = nullptr;
    QLabel* m_stTarget = nullptr;
    HostHistory* m_hostHistory = nullptr; // the host field's drop-down

    QIcon m_hIcon;
};

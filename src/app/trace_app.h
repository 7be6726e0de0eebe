#pragma once
// The application object: starts the socket layer, names the application, runs the main
// window once with the command line's host, and ends the program when it closes.

#include "trace_parameters.h"
#include "trace_platform.h"

#include <QString>
#include <QStringList>

class CTraceDlg;

// What the window's command line asks for (Qt's own options already taken out).
struct WindowCommandLine {
    enum Action { Run, Help, Version, Error };
    Action action = Run;
    QString host; // the host to trace at once; empty for none
    AddressChoice family = AddressChoice::Auto; // -4 or -6; Auto: the window's own choice
    bool watch = false; // --watch: the host is watched, not traced once
    QString error; // what is wrong, for Error
};
// Reads the arguments, the program's name first.
WindowCommandLine ParseWindowCommandLine(const QStringList& arguments);
QString WindowUsage();

class CTraceApp {
public:
    CTraceApp() = default;
    virtual ~CTraceApp() = default;
    CTraceApp(const CTraceApp&) = delete;
    CTraceApp& operator=(const CTraceApp&) = delete;

    // Answers --help and --version, or creates the Qt application for argc/argv, reads
    // the command line and runs InitInstance. Returns the process's exit status: 2 for a
    // usage error, else 0.
    int Run(int& argc, char** argv);

    // Always false: once the window has closed, or start-up failed, the program ends.
    virtual bool InitInstance();

    QString m_lpCmdLine; // the host named on the command line
    AddressChoice m_family = AddressChoice::Auto; // the family asked for on the command line
    bool m_bWatch = false; // --watch on the command line
    QString m_pszRegistryKey; // set by InitInstance
    CTraceDlg* m_pMainWnd = nullptr; // while the main window runs

protected:
    // Whether the socket layer works at all; trace sockets are opened later, by the window.
    virtual bool AfxSocketInit();
    virtual TracePlatform CreatePlatform() { return TracePlatform::System(); }
    // Runs the main window until it ends.
    virtual void RunMainWindow(CTraceDlg& dlg);
    void SetRegistryKey(const QString& key);
};

extern CTraceApp theApp;

#pragma once
// The application object: starts the socket layer, names the application, runs the main
// window once with the command line as its host, and ends the program when it closes.

#include "trace_platform.h"

#include <QString>
#include <QStringList>

class CTraceDlg;

// The command line after the program's name, as one text: the arguments joined with
// single blanks, with the blanks in front left out (so blanks alone give an empty text).
QString CommandLineTail(const QStringList& arguments);

class CTraceApp {
public:
    CTraceApp() = default;
    virtual ~CTraceApp() = default;
    CTraceApp(const CTraceApp&) = delete;
    CTraceApp& operator=(const CTraceApp&) = delete;

    // Creates the Qt application for argc/argv, runs InitInstance and returns the
    // process's exit status, which means nothing in particular.
    int Run(int& argc, char** argv);

    // Always false: once the window has closed, or start-up failed, the program ends.
    virtual bool InitInstance();

    QString m_lpCmdLine; // the command-line tail
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

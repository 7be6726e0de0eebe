#include "trace_app.h"

#include "message_box.h"
#include "resource.h"
#include "string_table.h"
#include "trace_dlg.h"
#include <QGuiApplication>

#include <QApplication>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

QString CommandLineTail(const QStringList& arguments)
{
    QString tail = arguments.mid(1).join(QLatin1Char(' '));
    qsizetype start = 0;
    while (start < tail.size() && tail[start].unicode() >= 1 && tail[start].unicode() <= 32)
        ++start;
    return tail.mid(start);
}

int CTraceApp::Run(int& argc, char** argv)
{
    // The tail is taken before Qt sees the arguments: it is the host text as typed, even
    // where a word looks like one of Qt's own options.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    m_lpCmdLine = CommandLineTail(arguments);

    QApplication app(argc, argv);
    InitInstance();
    return 0;
}

bool CTraceApp::AfxSocketInit()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

void CTraceApp::SetRegistryKey(const QString& key)
{
    // The settings store keeps the profile under software\<key>\<application name>.
    m_pszRegistryKey = key;
    QCoreApplication::setOrganizationName(key);
}

void CTraceApp::RunMainWindow(CTraceDlg& dlg)
{
    dlg.DoModal();
}

bool CTraceApp::InitInstance()
{
    // Before the application is named, so the message is captioned with the program's
    // file name, and before anything touches the settings.
    if (!AfxSocketInit()) {
        AfxMessageBox(res::LoadString(IDP_SOCKETS_INIT_FAILED), QMessageBox::Warning);
        return false;
    }
    QCoreApplication::setApplicationName(QStringLiteral("Hoplantern"));
    // Ties the window to the installed desktop entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("hoplantern"));
    SetRegistryKey(QStringLiteral("Veltrosyn"));

    CTraceDlg dlg(nullptr, CreatePlatform());
    dlg.m_strHost = m_lpCmdLine;
    dlg.m_bAutoTrace = !m_lpCmdLine.isEmpty();
    m_pMainWnd = &dlg;
    RunMainWindow(dlg);
    m_pMainWnd = nullptr;
    return false;
}

#include "trace_app.h"

#include "host_argument.h"
#include "message_box.h"
#include "privileges.h"
#include "product_version.h"
#include "resource.h"
#include "string_table.h"
#include "trace_dlg.h"
#include <QGuiApplication>

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

struct WindowOption {
    const char* shortName;
    const char* longName;
    const char* help;
};

constexpr WindowOption kWindowOptions[] = {
    { "4", "ipv4", "trace over IPv4 only" },
    { "6", "ipv6", "trace over IPv6 only" },
    { "", "watch", "watch HOST: a round every second until stopped" },
    { "h", "help", "print this help and exit" },
    { "V", "version", "print the version and exit" },
};

// Said on the terminal that started it, once the command line is known to start the
// window: a box at every start would nag. The command names this very program, wherever
// it was installed.
void WarnWhenRunAsRoot()
{
    if (!RunningAsRoot())
        return;
    std::error_code error;
    std::string self = std::filesystem::read_symlink("/proc/self/exe", error).string();
    if (self.empty())
        self = "/usr/bin/hoplantern";
    std::fprintf(stderr,
        "hoplantern: running as root is not needed. Grant the program the one privilege it uses\n"
        "instead, once (the Debian package does this when it is installed):\n"
        "  sudo setcap cap_net_raw+ep %s\n"
        "Without it, it still traces, reading the answers from its own probe sockets.\n",
        self.c_str());
}

// The option's names, its one-letter name first where it has one.
QStringList NamesOf(const WindowOption& option)
{
    QStringList names;
    if (*option.shortName)
        names << QLatin1String(option.shortName);
    return names << QLatin1String(option.longName);
}

} // namespace

QString WindowUsage()
{
    QString usage = QStringLiteral("usage: hoplantern [-4 | -6] [--watch] [HOST | URL]\n"
                                   "Opens the route tracer's window; given a host (a name, an address, or a URL's\n"
                                   "host part), it traces it at once.\n");
    for (const WindowOption& option : kWindowOptions) {
        const QString names = *option.shortName
            ? QStringLiteral("-%1, --%2").arg(QLatin1String(option.shortName), QLatin1String(option.longName))
            : QStringLiteral("    --%1").arg(QLatin1String(option.longName));
        usage += QStringLiteral("  %1 %2\n").arg(names, -14).arg(QLatin1String(option.help));
    }
    return usage + QStringLiteral("Qt's own options (-platform, -style, ...) apply as well.\n");
}

WindowCommandLine ParseWindowCommandLine(const QStringList& arguments)
{
    WindowCommandLine line;
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    for (const WindowOption& option : kWindowOptions)
        parser.addOption(QCommandLineOption(NamesOf(option), QLatin1String(option.help)));
    const bool parsed = parser.parse(arguments);
    // Help and the version win over anything else on the line.
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("version"))) {
        line.action = parser.isSet(QStringLiteral("help")) ? WindowCommandLine::Help : WindowCommandLine::Version;
        return line;
    }
    const QStringList hosts = parser.positionalArguments();
    const bool v4 = parser.isSet(QStringLiteral("ipv4"));
    const bool v6 = parser.isSet(QStringLiteral("ipv6"));
    const bool watch = parser.isSet(QStringLiteral("watch"));
    if (!parsed)
        line.error = parser.errorText();
    else if (v4 && v6)
        line.error = QStringLiteral("-4 and -6 exclude each other");
    else if (hosts.size() > 1)
        line.error = QStringLiteral("one HOST only, got '%1'").arg(hosts.join(u' '));
    else if (watch && (hosts.isEmpty() || HostFromArgument(hosts.front()).isEmpty()))
        line.error = QStringLiteral("--watch needs a HOST");
    if (!line.error.isEmpty()) {
        line.action = WindowCommandLine::Error;
        return line;
    }
    line.host = hosts.isEmpty() ? QString() : HostFromArgument(hosts.front());
    line.family = v4 ? AddressChoice::V4 : v6 ? AddressChoice::V6 : AddressChoice::Auto;
    line.watch = watch;
    return line;
}

int CTraceApp::Run(int& argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    // Help and the version need no display, so they are answered before the application
    // (and its display) comes up; Qt's own options are not known yet, but cannot hide them.
    const WindowCommandLine early = ParseWindowCommandLine(arguments);
    if (early.action == WindowCommandLine::Help || early.action == WindowCommandLine::Version) {
        const QString text = early.action == WindowCommandLine::Help
            ? WindowUsage()
            : QStringLiteral("hoplantern " HOPLANTERN_VERSION "\n");
        std::fputs(text.toLocal8Bit().constData(), stdout);
        return 0;
    }

    QApplication app(argc, argv); // takes Qt's own options out of argc and argv
    const WindowCommandLine line = ParseWindowCommandLine(QCoreApplication::arguments());
    if (line.action == WindowCommandLine::Error) {
        std::fputs(
            QStringLiteral("hoplantern: %1\n%2").arg(line.error, WindowUsage()).toLocal8Bit().constData(), stderr);
        return 2;
    }
    WarnWhenRunAsRoot();
    m_lpCmdLine = line.host;
    m_family = line.family;
    m_bWatch = line.watch;
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
    dlg.m_familyAsked = m_family;
    dlg.m_bWatchAsked = m_bWatch;
    dlg.m_bAutoTrace = !m_lpCmdLine.isEmpty();
    m_pMainWnd = &dlg;
    RunMainWindow(dlg);
    m_pMainWnd = nullptr;
    return false;
}

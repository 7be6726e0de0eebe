#pragma once
#include <QString>
#include <QStringList>

enum class ReportFormat { Text, Csv, Json };

// The address family a trace takes: the one the host name's first address has, or the
// one asked for with -4 or -6.
enum class CliFamily { Auto = 0, V4 = 4, V6 = 6 };

struct CliOptions {
    QString host;
    int tries = 3;
    int hops = 16;
    int timeout = 3000;
    bool lookups = true;
    ReportFormat format = ReportFormat::Text;
    CliFamily family = CliFamily::Auto;
    bool fixedFlow = false; // every probe on one flow, so load-balancing routers keep one path
    bool fixedWait = false; // rounds paced by the full wait time
    bool version = false;   // -V/--version was given
};

// Parses the command line (arguments without the program name). On a usage error
// returns false with the reason in *error; with -h/--help, or -V/--version (which also
// sets options->version), returns false with *error empty.
bool ParseCliOptions(const QStringList& args, CliOptions* options, QString* error);

QString CliUsage();
// "hoplantern-cli VERSION", a line.
QString CliVersion();

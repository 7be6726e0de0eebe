#pragma once
#include <QString>
#include <QStringList>

enum class ReportFormat { Text, Csv, Json };

struct CliOptions {
    QString host;
    int tries = 3;
    int hops = 16;
    int timeout = 3000;
    bool lookups = true;
    ReportFormat format = ReportFormat::Text;
};

// Parses the command line (arguments without the program name). On a usage error
// returns false with the reason in *error; with -h/--help returns false, *error empty.
bool ParseCliOptions(const QStringList& args, CliOptions* options, QString* error);

QString CliUsage();

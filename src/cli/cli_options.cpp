#include "cli_options.h"

#include "int_field.h"

QString CliUsage()
{
    return QStringLiteral(
        "usage: hoplantern-cli [-t TRIES] [-m HOPS] [-w MS] [-n] [--json | --csv] HOST\n"
        "  -t TRIES   rounds of probes (default 3)\n"
        "  -m HOPS    highest hop probed, at most 255 (default 16)\n"
        "  -w MS      wait per round in milliseconds (default 3000)\n"
        "  -n         no reverse lookups of router names\n"
        "  --json     print the result as one JSON object\n"
        "  --csv      print the result as CSV with a header row\n");
}

bool ParseCliOptions(const QStringList& args, CliOptions* options, QString* error)
{
    error->clear();
    QStringList hosts;
    bool json = false;
    bool csv = false;
    bool endOfOptions = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (endOfOptions || !arg.startsWith(u'-') || arg == u"-") {
            hosts << arg;
            continue;
        }
        if (arg == u"--") {
            endOfOptions = true;
        } else if (arg == u"-h" || arg == u"--help") {
            return false;
        } else if (arg == u"-n") {
            options->lookups = false;
        } else if (arg == u"--fixed-wait") {
            options->fixedWait = true;
        } else if (arg == u"--json") {
            json = true;
        } else if (arg == u"--csv") {
            csv = true;
        } else if (arg.size() >= 2 && QStringView(u"tmw").contains(arg[1])) {
            // "-t 3" or "-t3", as getopt allows.
            const QString name = arg.left(2);
            if (arg.size() == 2 && i + 1 >= args.size()) {
                *error = QStringLiteral("option %1 needs a number").arg(name);
                return false;
            }
            const QString value = arg.size() > 2 ? arg.mid(2) : args[++i];
            int* target = name == u"-t" ? &options->tries : name == u"-m" ? &options->hops : &options->timeout;
            if (!ParseIntField(value, target)) {
                *error = QStringLiteral("option %1: '%2' is not an integer").arg(name, value);
                return false;
            }
        } else {
            *error = QStringLiteral("unknown option '%1'").arg(arg);
            return false;
        }
    }
    if (json && csv) {
        *error = QStringLiteral("--json and --csv exclude each other");
        return false;
    }
    if (hosts.isEmpty()) {
        *error = QStringLiteral("no HOST given");
        return false;
    }
    if (hosts.size() > 1) {
        *error = QStringLiteral("one HOST only, got '%1'").arg(hosts.join(u' '));
        return false;
    }
    options->host = hosts.front();
    options->format = json ? ReportFormat::Json : csv ? ReportFormat::Csv : ReportFormat::Text;
    return true;
}

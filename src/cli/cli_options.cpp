#include "cli_options.h"

#include "host_argument.h"
#include "host_resolver.h"
#include "int_field.h"
#include "product_version.h"
#include "trace_engine.h"

#include <QCommandLineParser>

#include <algorithm>
#include <iterator>
#include <utility>
#include <vector>

namespace {

// Every option once: the parser and the usage text are both made from this table.
struct OptionSpec {
    const char* shortName; // "" for none
    const char* longName;
    const char* valueName; // "" for a switch
    const char* help;
};

constexpr OptionSpec kOptions[] = {
    { "4", "ipv4", "", "trace over IPv4 only" },
    { "6", "ipv6", "", "trace over IPv6 only" },
    { "t", "tries", "TRIES", "rounds of probes, at least 1 (default 3)" },
    { "m", "max-hops", "HOPS", "highest hop probed, 1 to 255 (default 16)" },
    { "w", "wait", "MS", "wait per round in milliseconds, at least 1 (default 3000)" },
    { "n", "numeric", "", "no reverse lookups of router names" },
    { "", "fixed-wait", "", "pace the rounds by the full wait, never start one early" },
    { "", "fixed-flow", "", "send every probe on one flow (same ports), for load-balanced paths" },
    { "", "watch", "", "watch the path: a round every interval until interrupted" },
    { "", "count", "N", "with --watch: stop after N rounds" },
    { "", "interval", "SECONDS", "with --watch: seconds between rounds, above 0 (default 1)" },
    { "", "report", "", "with --watch: print only the final table, even on a terminal" },
    { "", "targets", "FILE", "with --watch: watch the targets FILE lists too, one a line" },
    { "", "html", "FILE", "with --watch of one HOST: also write an HTML report to FILE at the end" },
    { "", "listen", "ADDRESS:PORT", "with --watch: serve metrics over HTTP there (e.g. 127.0.0.1:4677)" },
    { "", "json", "", "print the result as one JSON object (--watch: JSON Lines)" },
    { "", "csv", "", "print the result as CSV (RFC 4180) with a header row" },
    { "h", "help", "", "print this help and exit" },
    { "V", "version", "", "print the version and exit" },
};

QStringList Names(const OptionSpec& option)
{
    QStringList names;
    if (*option.shortName)
        names << QLatin1String(option.shortName);
    return names << QLatin1String(option.longName);
}

// How a name was typed: one letter after one dash, a word after two.
QString Typed(const QString& name)
{
    return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
}

// What a value of the option is called in messages: "a file name", "ADDRESS:PORT", else
// "a number".
QString ValueKind(const OptionSpec& option)
{
    const QLatin1String name(option.valueName);
    if (name == u"FILE")
        return QStringLiteral("a file name");
    return name == u"ADDRESS:PORT" ? QString(name) : QStringLiteral("a number");
}

// The option a command line ended on while it still wanted a value ("-t", "-nt",
// "--tries"), named as typed with what it wants; empty when the line ends otherwise.
QString DanglingOption(const QStringList& args)
{
    if (args.isEmpty() || !args.last().startsWith(u'-'))
        return {};
    const QString& last = args.last();
    for (const OptionSpec& option : kOptions) {
        if (!*option.valueName)
            continue;
        if (last == Typed(QLatin1String(option.longName)))
            return QStringLiteral("option %1 needs %2").arg(last, ValueKind(option));
        if (*option.shortName && !last.startsWith(u"--") && last.endsWith(QLatin1String(option.shortName)))
            return QStringLiteral("option %1 needs %2").arg(Typed(QLatin1String(option.shortName)), ValueKind(option));
    }
    return {};
}

// "192.0.2.1:4677" or "[2001:db8::1]:4677": a literal address (a name could stand for any
// number of them, and a listener binds exactly what it is given) and a port 1 to 65535.
bool ParseListen(const QString& text, QString* address, uint16_t* port)
{
    const qsizetype colon = text.lastIndexOf(u':');
    if (colon <= 0)
        return false;
    QString host = text.left(colon);
    const bool bracketed = host.startsWith(u'[') && host.endsWith(u']');
    if (bracketed)
        host = host.mid(1, host.size() - 2);
    const NetAddress parsed = HostResolver::ParseAddress(host.toStdString());
    if (!parsed.valid() || (parsed.family == NetAddress::V6) != bracketed)
        return false;
    bool ok = false;
    const uint value = text.mid(colon + 1).toUInt(&ok);
    if (!ok || value < 1 || value > 65535)
        return false;
    *address = QString::fromStdString(parsed.ToText());
    *port = uint16_t(value);
    return true;
}

} // namespace

QString CliUsage()
{
    QString usage
        = QStringLiteral("usage: hoplantern-cli [-4 | -6] [-t TRIES] [-m HOPS] [-w MS] [-n] [--fixed-wait]\n"
                         "                      [--fixed-flow] [--json | --csv] HOST\n"
                         "       hoplantern-cli --watch [--count N] [--interval SECONDS] [--report] [--html FILE]\n"
                         "                      [-4 | -6] [-m HOPS] [-w MS] [-n] [--fixed-flow] [--json | --csv]\n"
                         "                      [--listen ADDRESS:PORT] [--targets FILE] [HOST...]\n");
    // The descriptions line up after the longest option with its value.
    std::vector<std::pair<QString, QString>> lines;
    qsizetype width = 0;
    for (const OptionSpec& option : kOptions) {
        QString names
            = *option.shortName ? QStringLiteral("-%1, ").arg(QLatin1String(option.shortName)) : QStringLiteral("    ");
        names += Typed(QLatin1String(option.longName));
        if (*option.valueName)
            names += u' ' + QLatin1String(option.valueName);
        width = std::max(width, names.size());
        lines.emplace_back(names, QLatin1String(option.help));
    }
    for (const auto& [names, help] : lines)
        usage += QStringLiteral("  %1 %2\n").arg(names, -int(width)).arg(help);
    return usage;
}

QString CliVersion()
{
    return QStringLiteral("hoplantern-cli " HOPLANTERN_VERSION "\n");
}

bool ParseCliOptions(const QStringList& args, CliOptions* options, QString* error)
{
    error->clear();
    QCommandLineParser parser;
    // Options may follow the host, as getopt allows; "--" ends them.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    for (const OptionSpec& option : kOptions)
        parser.addOption(
            QCommandLineOption(Names(option), QLatin1String(option.help), QLatin1String(option.valueName)));

    // QCommandLineParser skips the first word, the program's name.
    if (!parser.parse(QStringList(QStringLiteral("hoplantern-cli")) + args)) {
        if (!parser.unknownOptionNames().isEmpty())
            *error = QStringLiteral("unknown option '%1'").arg(Typed(parser.unknownOptionNames().front()));
        else if (const QString dangling = DanglingOption(args); !dangling.isEmpty())
            *error = dangling;
        else
            *error = parser.errorText();
        return false;
    }
    if (parser.isSet(QStringLiteral("help")))
        return false;
    if (parser.isSet(QStringLiteral("version"))) {
        options->version = true;
        return false;
    }

    // Every value given is checked; the last one of an option counts. The k-th value of
    // an option came with the k-th of its names in the order typed.
    struct Number {
        const char* name;
        int* target;
        int min;
        int max; // 0: no upper bound
    };
    for (const auto& [name, target, min, max] : { Number { "tries", &options->tries, 1, 0 },
             Number { "max-hops", &options->hops, 1, kMaxHopRows }, Number { "wait", &options->timeout, 1, 0 } }) {
        const QString longName = QLatin1String(name);
        const QStringList values = parser.values(longName);
        const auto option = std::find_if(std::begin(kOptions), std::end(kOptions),
            [&](const OptionSpec& s) { return longName == QLatin1String(s.longName); });
        qsizetype k = 0;
        for (const QString& typed : parser.optionNames()) {
            if (!Names(*option).contains(typed))
                continue;
            const QString& value = values.at(k++);
            if (!ParseIntField(value, target)) {
                *error = QStringLiteral("option %1: '%2' is not an integer").arg(Typed(typed), value);
                return false;
            }
            if (*target < min || (max && *target > max)) {
                const QString range
                    = max ? QStringLiteral("%1 to %2").arg(min).arg(max) : QStringLiteral("at least %1").arg(min);
                *error = QStringLiteral("option %1: %2 is out of range (%3)").arg(Typed(typed)).arg(*target).arg(range);
                return false;
            }
        }
    }

    options->watch = parser.isSet(QStringLiteral("watch"));
    options->report = parser.isSet(QStringLiteral("report"));
    options->htmlFile = parser.value(QStringLiteral("html"));
    if (parser.isSet(QStringLiteral("html")) && options->htmlFile.isEmpty()) {
        *error = QStringLiteral("option --html needs a file name");
        return false;
    }
    if (parser.isSet(QStringLiteral("count"))) {
        const QString value = parser.value(QStringLiteral("count"));
        bool ok = false;
        options->count = value.toLongLong(&ok);
        if (!ok || options->count < 1) {
            *error = QStringLiteral("option --count: '%1' is not a whole number of rounds, at least 1").arg(value);
            return false;
        }
    }
    if (parser.isSet(QStringLiteral("interval"))) {
        const QString value = parser.value(QStringLiteral("interval"));
        bool ok = false;
        options->intervalS = value.toDouble(&ok);
        // Above 0 and at most a day: a round trip of the timer in milliseconds must fit an int.
        if (!ok || !(options->intervalS > 0) || options->intervalS > 86400) {
            *error = QStringLiteral("option --interval: '%1' is not a number of seconds above 0 (at most 86400)")
                         .arg(value);
            return false;
        }
    }
    // A watch's rounds are counted by --count and paced by --interval.
    for (const char* traceOnly : { "tries", "fixed-wait" }) {
        if (options->watch && parser.isSet(QLatin1String(traceOnly))) {
            *error = QStringLiteral("option --%1 does not go with --watch").arg(QLatin1String(traceOnly));
            return false;
        }
    }
    if (parser.isSet(QStringLiteral("listen"))
        && !ParseListen(parser.value(QStringLiteral("listen")), &options->listenAddress, &options->listenPort)) {
        *error = QStringLiteral("option --listen: '%1' is not ADDRESS:PORT (an IPv4 address, or an IPv6 address "
                                "in brackets, and a port 1 to 65535)")
                     .arg(parser.value(QStringLiteral("listen")));
        return false;
    }
    for (const char* watchOnly : { "count", "interval", "report", "targets", "html", "listen" }) {
        if (!options->watch && parser.isSet(QLatin1String(watchOnly))) {
            *error = QStringLiteral("option --%1 goes with --watch").arg(QLatin1String(watchOnly));
            return false;
        }
    }
    const bool json = parser.isSet(QStringLiteral("json"));
    const bool csv = parser.isSet(QStringLiteral("csv"));
    if (json && csv) {
        *error = QStringLiteral("--json and --csv exclude each other");
        return false;
    }
    const bool v4 = parser.isSet(QStringLiteral("ipv4"));
    const bool v6 = parser.isSet(QStringLiteral("ipv6"));
    if (v4 && v6) {
        *error = QStringLiteral("-4 and -6 exclude each other");
        return false;
    }
    const QStringList hosts = parser.positionalArguments();
    if (hosts.size() > 1 && !options->watch) {
        *error = QStringLiteral("one HOST only, got '%1'").arg(hosts.join(u' '));
        return false;
    }
    options->targets.clear();
    for (const QString& typed : hosts) {
        const QString host = HostFromArgument(typed);
        if (host.isEmpty())
            continue; // blanks only, as a script's empty variable gives
        if (std::any_of(options->targets.begin(), options->targets.end(),
                [&](const WatchTarget& t) { return t.host == host; })) {
            *error = QStringLiteral("%1 is given twice").arg(host);
            return false;
        }
        options->targets.push_back({ host, QString(), QString() });
    }
    const bool targetsFile = parser.isSet(QStringLiteral("targets"));
    if (targetsFile && !ReadTargetsFile(parser.value(QStringLiteral("targets")), &options->targets, error)) {
        options->inTargetsFile = true;
        return false;
    }
    if (options->targets.empty()) {
        *error = QStringLiteral("no HOST given");
        return false;
    }
    options->host = options->targets.front().host;
    options->severalTargets = targetsFile || options->targets.size() > 1;
    // The report is one target's page; several targets' would need a file each.
    if (options->severalTargets && !options->htmlFile.isEmpty()) {
        *error = QStringLiteral("option --html goes with one HOST, not with several targets or --targets");
        return false;
    }
    options->lookups = !parser.isSet(QStringLiteral("numeric"));
    options->fixedWait = parser.isSet(QStringLiteral("fixed-wait"));
    options->fixedFlow = parser.isSet(QStringLiteral("fixed-flow"));
    options->family = v4 ? AddressChoice::V4 : v6 ? AddressChoice::V6 : AddressChoice::Auto;
    options->format = json ? ReportFormat::Json : csv ? ReportFormat::Csv : ReportFormat::Text;
    // An address of the other family is a mistake to point out, not a reason to trace
    // something else.
    for (const WatchTarget& target : options->targets) {
        const NetAddress literal = HostResolver::ParseAddress(target.host.toStdString());
        if ((v6 && literal.family == NetAddress::V4) || (v4 && literal.family == NetAddress::V6)) {
            options->inTargetsFile = !target.where.isEmpty();
            *error = QStringLiteral("%1'%2' is an IPv%3 address, but %4 asks for IPv%5")
                         .arg(target.where.isEmpty() ? QString() : target.where + QStringLiteral(": "), target.host,
                             v4 ? QStringLiteral("6") : QStringLiteral("4"),
                             v4 ? QStringLiteral("-4") : QStringLiteral("-6"),
                             v4 ? QStringLiteral("4") : QStringLiteral("6"));
            return false;
        }
    }
    return true;
}

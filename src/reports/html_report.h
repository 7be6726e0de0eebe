#pragma once
#include "path_stats.h"
#include "summary_hops.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <cstdint>

// A watch as one self-contained HTML file, for the terminal tracer (--html) and the window's
// "Save report…": when and from where it was taken, the summary table (the columns of the
// terminal's, a declining router's Loss% muted), a chart per hop (see svg_chart.h) and the
// route changes. No script, no external resource: it opens anywhere, offline, and mails as
// one file. The markup is also well-formed XML (XHTML), so it can be read back by an XML
// parser. Every text from the network or the user (the host as typed, names from reverse
// lookups, the machine's name) is escaped.
//
// To write one: SaveReport(path, HtmlReport(stats, context, names)) (save_file.h).
struct HtmlReportContext {
    QString host; // the target as the user gave it
    NetAddress target; // the address watched
    QString fromHost; // the machine the watch ran on (QSysInfo::machineHostName())
    QDateTime started; // when round 0 left; shown in this QDateTime's own zone
    QDateTime ended;
    int64_t firstRoundUs = 0; // the watch's clock when round 0 was due (PathWatch::RoundDueUs(0))
    int64_t intervalUs = 1'000'000;
    int64_t rounds = 0; // rounds sent (PathWatch::roundsSent())
    QString program; // the program that watched, with its version: "hoplantern-cli 0.2.1"
};

// `names` as for SummaryHops: the looked-up name of an answering address, or none.
QByteArray HtmlReport(const PathStats& path, const HtmlReportContext& context, const HostNames& names);

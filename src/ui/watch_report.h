#pragma once
// The latest watch of the window as a report to keep: the forms the terminal tracer writes
// of a watch, from what the window's WatchController keeps of it (its statistics, history,
// names and times), whether it still runs or ended.

#include <QByteArray>

class WatchController;

enum class WatchReportFormat {
    Html, // HtmlReport, as hoplantern-cli --watch --html writes it
    Csv, // the summary, as --csv
    JsonLines, // the round lines the history still holds, the route changes, the summary
};

// Empty when the controller has no watch's statistics (none started, or the latest one's
// host did not resolve).
QByteArray WatchReport(const WatchController& watch, WatchReportFormat format);

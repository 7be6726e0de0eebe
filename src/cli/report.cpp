#include "report.h"

#include "csv_field.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <algorithm>

namespace {

QString Utf8(const std::string& s)
{
    return QString::fromStdString(s); // bytes that are not UTF-8 become U+FFFD
}

// The hop's round trip in milliseconds to the microsecond, from the kernel's receive
// stamp where there was one; null where no answer came.
QJsonValue RoundTripMs(const HopRow& row)
{
    return row.answered() && row.nRttUs >= 0 ? QJsonValue(double(row.nRttUs) / 1000.0) : QJsonValue(QJsonValue::Null);
}

// The rows that are the path found: none when no probe was sent.
int PathRows(const HopRowList& rows, const TraceReport& report)
{
    return report.probed ? rows.GetItemCount() : 0;
}

bool ReachedTarget(const HopRowList& rows, const TraceReport& report)
{
    for (int i = 0; i < PathRows(rows, report); ++i) {
        if (rows.GetItemData(i)->bReachedTarget)
            return true;
    }
    return false;
}

QJsonValue TextOrNull(bool known, const std::string& text)
{
    return known ? QJsonValue(Utf8(text)) : QJsonValue(QJsonValue::Null);
}

std::string Json(const HopRowList& rows, const TraceReport& report)
{
    QJsonArray hops;
    for (int i = 0; i < PathRows(rows, report); ++i) {
        const HopRow& row = *rows.GetItemData(i);
        hops.append(QJsonObject {
            { "hop", i + 1 },
            { "address", TextOrNull(row.answered(), row.pszAddress) },
            { "time_ms", row.answered() ? QJsonValue(row.nTimeMs) : QJsonValue(QJsonValue::Null) },
            { "rtt_ms", RoundTripMs(row) },
            { "host", Utf8(row.pszHost) },
            { "result", Utf8(row.pszResult) },
        });
    }
    QJsonObject trace {
        { "host", Utf8(report.host) },
        { "target", TextOrNull(!report.target.empty(), report.target) },
        { "family", report.family ? QJsonValue(report.family) : QJsonValue(QJsonValue::Null) },
        { "status", Utf8(report.status) },
        { "reached", ReachedTarget(rows, report) },
        { "hops", hops },
    };
    if (!report.finished)
        trace.insert(QStringLiteral("finished"), false); // interrupted: the rows found so far
    return QJsonDocument(trace).toJson(QJsonDocument::Compact).append('\n').toStdString();
}

// Whether the target was reached is in the table itself: its row's Result is "complete".
// A line that is no record would break the readers CSV is for.
std::string Csv(const HopRowList& rows, const TraceReport& report)
{
    std::string out;
    for (int c = 0; c < HOP_COLUMN_COUNT; ++c)
        out += std::string(c ? "," : "") + kHopColumns[c].title;
    out += "\r\n";
    for (int i = 0; i < PathRows(rows, report); ++i) {
        for (int c = 0; c < HOP_COLUMN_COUNT; ++c)
            out += (c ? "," : "") + CsvField(rows.GetItemData(i)->text(c));
        out += "\r\n";
    }
    return out;
}

// Display width of a UTF-8 text: one column per code point is close enough for the
// addresses and host names a table holds.
size_t Width(const std::string& s)
{
    return size_t(
        std::count_if(s.begin(), s.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xc0) != 0x80; }));
}

// On a terminal numbers are right-aligned and words left-aligned, headings as their
// cells: a host name is read from its start.
constexpr bool kRightAligned[HOP_COLUMN_COUNT] = { false, true, true, false, false };

std::string Text(const HopRowList& rows, const TraceReport& report)
{
    if (!report.probed)
        return {}; // nothing was traced; the error is said on its own
    size_t widths[HOP_COLUMN_COUNT];
    for (int c = 0; c < HOP_COLUMN_COUNT; ++c) {
        widths[c] = Width(kHopColumns[c].title);
        for (int i = 0; i < rows.GetItemCount(); ++i)
            widths[c] = std::max(widths[c], Width(rows.GetItemData(i)->text(c)));
    }
    auto line = [&](auto cell) {
        std::string out;
        for (int c = 0; c < HOP_COLUMN_COUNT; ++c) {
            const std::string text = cell(c);
            const std::string pad(widths[c] - Width(text), ' ');
            const bool right = kRightAligned[c];
            std::string padded = right ? pad + text : text + pad;
            out += (c ? "  " : "") + padded;
        }
        while (!out.empty() && out.back() == ' ')
            out.pop_back();
        return out + "\n";
    };
    std::string out = "Target: " + (report.target.empty() ? std::string("unknown") : report.target) + "\n";
    out += line([](int c) { return std::string(kHopColumns[c].title); });
    for (int i = 0; i < rows.GetItemCount(); ++i)
        out += line([&](int c) { return rows.GetItemData(i)->text(c); });
    if (report.failed)
        return out;
    // "Complete." says the trace ended, not that it got there.
    return out + report.status + "\n" + (ReachedTarget(rows, report) ? "" : "Target not reached.\n");
}

} // namespace

std::string FormatReport(const HopRowList& rows, const TraceReport& report, ReportFormat format)
{
    switch (format) {
    case ReportFormat::Json: return Json(rows, report);
    case ReportFormat::Csv: return Csv(rows, report);
    case ReportFormat::Text: break;
    }
    return Text(rows, report);
}

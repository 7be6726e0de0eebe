#include "report.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

std::string JsonString(const std::string& s)
{
    std::string out = "\"";
    for (const char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += ch; // UTF-8 passes through as it is
            }
        }
    }
    return out + "\"";
}

std::string CsvField(const std::string& s)
{
    if (s.find_first_of(",\"\r\n") == std::string::npos)
        return s;
    std::string out = "\"";
    for (const char c : s) {
        if (c == '"')
            out += '"';
        out += c;
    }
    return out + "\"";
}

std::string Json(const HopRowList& rows, const TraceReport& report)
{
    std::string out = "{\"host\": " + JsonString(report.host) + ", \"target\": " + JsonString(report.target)
        + ", \"status\": " + JsonString(report.status) + ", \"hops\": [";
    for (int i = 0; i < rows.GetItemCount(); ++i) {
        const HopRow& row = *rows.GetItemData(i);
        // The Time cell only ever holds a number the engine formatted, or nothing.
        const std::string time = row.pszTime.empty() ? "null" : std::to_string(std::atol(row.pszTime.c_str()));
        out += i ? ", " : "";
        out += "{\"hop\": " + std::to_string(std::atol(row.pszHop.c_str())) + ", \"address\": "
            + JsonString(row.pszAddress) + ", \"time_ms\": " + time + ", \"host\": " + JsonString(row.pszHost)
            + ", \"result\": " + JsonString(row.pszResult) + "}";
    }
    return out + "]}\n";
}

std::string Csv(const HopRowList& rows)
{
    std::string out;
    for (int c = 0; c < HOP_COLUMN_COUNT; ++c)
        out += std::string(c ? "," : "") + kHopColumns[c].title;
    out += "\n";
    for (int i = 0; i < rows.GetItemCount(); ++i) {
        for (int c = 0; c < HOP_COLUMN_COUNT; ++c)
            out += (c ? "," : "") + CsvField(rows.GetItemData(i)->text(c));
        out += "\n";
    }
    return out;
}

// Display width of a UTF-8 text: one column per code point is close enough for the
// addresses and host names a table holds.
size_t Width(const std::string& s)
{
    return size_t(std::count_if(s.begin(), s.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xc0) != 0x80; }));
}

std::string Text(const HopRowList& rows, const TraceReport& report)
{
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
            const bool right = kHopColumns[c].alignment & Qt::AlignRight;
            std::string padded = right ? pad + text : text + pad;
            out += (c ? "  " : "") + padded;
        }
        while (!out.empty() && out.back() == ' ')
            out.pop_back();
        return out + "\n";
    };
    std::string out = "Target: " + report.target + "\n";
    out += line([](int c) { return std::string(kHopColumns[c].title); });
    for (int i = 0; i < rows.GetItemCount(); ++i)
        out += line([&](int c) { return rows.GetItemData(i)->text(c); });
    return out + report.status + "\n";
}

} // namespace

std::string FormatReport(const HopRowList& rows, const TraceReport& report, ReportFormat format)
{
    switch (format) {
    case ReportFormat::Json: return Json(rows, report);
    case ReportFormat::Csv: return Csv(rows);
    case ReportFormat::Text: break;
    }
    return Text(rows, report);
}

#include "metrics_text.h"

QByteArray MetricsIndexPage(const std::vector<MetricsTarget>& targets)
{
    QString rows;
    for (const MetricsTarget& t : targets) {
        const int hops = t.stats ? t.stats->routeChanges().targetTtl() : 0;
        const qint64 rounds = t.stats ? t.stats->roundsFinished() : 0;
        rows += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td></tr>\n")
                    .arg(t.label.toHtmlEscaped(), QString::fromStdString(t.address.ToText()).toHtmlEscaped())
                    .arg(hops ? QString::number(hops) : QStringLiteral("-"))
                    .arg(rounds);
    }
    return QStringLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Hoplantern</title></head>\n"
                          "<body><h1>Hoplantern</h1>\n<p><a href=\"/metrics\">Metrics</a></p>\n"
                          "<table>\n<tr><th>Target</th><th>Address</th><th>Hops</th><th>Rounds</th></tr>\n%1"
                          "</table>\n</body></html>\n")
        .arg(rows)
        .toUtf8();
}

// "Save report…" (Ctrl+S, or the results list's menu): while the list shows a watch, the
// latest watch's report as HTML, CSV or JSON Lines, as the terminal tracer writes them;
// while it shows a trace, that table in the CSV form hoplantern-cli --csv writes, or the last
// watch's report until the next watch starts.
#include "message_box.h"
#include "report.h"
#include "save_file.h"
#include "trace_dlg.h"
#include "watch_report.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

#include <algorithm>
#include <span>

namespace {

enum class ReportKind { TraceCsv, WatchHtml, WatchCsv, WatchJsonLines };

struct ReportForm {
    ReportKind kind;
    const char* filter; // its first pattern's suffix is the one a name without any gets
    const char* suffix;
};

// The first of each list is the one the dialog offers first.
constexpr ReportForm kWatchForms[] = {
    { ReportKind::WatchHtml, "HTML (*.html *.htm)", "html" },
    { ReportKind::WatchCsv, "CSV (*.csv)", "csv" },
    { ReportKind::WatchJsonLines, "JSON Lines (*.jsonl *.json)", "jsonl" },
};
// A trace shown after a watch: its table first, then the watch's report, kept until the next
// watch starts.
constexpr ReportForm kTraceForms[] = {
    { ReportKind::TraceCsv, "CSV (*.csv)", "csv" },
    { ReportKind::WatchHtml, "Last watch, HTML (*.html *.htm)", "html" },
    { ReportKind::WatchCsv, "Last watch, CSV (*.csv)", "csv" },
    { ReportKind::WatchJsonLines, "Last watch, JSON Lines (*.jsonl *.json)", "jsonl" },
};

bool NameFits(const QString& path, const ReportForm& form)
{
    const QStringList patterns = QRegularExpression(QStringLiteral("\\((.*)\\)"))
                                     .match(QString::fromLatin1(form.filter))
                                     .captured(1)
                                     .split(QLatin1Char(' '));
    return std::any_of(patterns.begin(), patterns.end(),
        [&](const QString& pattern) { return path.endsWith(pattern.mid(1), Qt::CaseInsensitive); });
}

// The form a file is written in: the filter chosen when the name fits it, else the first
// form whose patterns the name matches (the extension typed decides), else the filter chosen.
const ReportForm& FormOf(const QString& path, std::span<const ReportForm> forms, const QString& filterChosen)
{
    const auto chosen = std::find_if(
        forms.begin(), forms.end(), [&](const ReportForm& form) { return filterChosen == QLatin1String(form.filter); });
    if (chosen != forms.end() && NameFits(path, *chosen))
        return *chosen;
    const auto fitting
        = std::find_if(forms.begin(), forms.end(), [&](const ReportForm& f) { return NameFits(path, f); });
    if (fitting != forms.end())
        return *fitting;
    return chosen == forms.end() ? forms.front() : *chosen;
}

// "hoplantern-HOST-YYYYMMDD-HHMM": the host kept to the characters every file system
// takes (an IPv6 address's colons are not among them).
QString SuggestedName(const QString& host, const QDateTime& when)
{
    QString safe = host;
    safe.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]")), QStringLiteral("_"));
    QString name = QStringLiteral("hoplantern");
    if (!safe.isEmpty())
        name += QLatin1Char('-') + safe;
    return name + QLatin1Char('-') + when.toString(QStringLiteral("yyyyMMdd-HHmm"));
}

} // namespace

void CTraceDlg::OnSaveReport()
{
    const bool watching = m_list->model() == &m_watchRows;
    // A watch resolving its host (or that could not resolve it) has nothing to report yet.
    const bool watchKept = m_watch.stats() && m_watch.watch();
    if (watching ? !watchKept : m_rows.GetItemCount() == 0)
        return;
    using Forms = std::span<const ReportForm>;
    const Forms forms
        = watching ? Forms(kWatchForms) : Forms(kTraceForms).first(watchKept ? std::size(kTraceForms) : 1);
    QStringList filters;
    for (const ReportForm& form : forms)
        filters << QString::fromLatin1(form.filter);
    const QDateTime when
        = watching ? m_watch.WallTimeOf(m_watch.watch()->RoundDueUs(0)).toLocalTime() : QDateTime::currentDateTime();
    if (m_strReportFolder.isEmpty()) {
        m_strReportFolder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        if (m_strReportFolder.isEmpty() || !QDir(m_strReportFolder).exists())
            m_strReportFolder = QDir::homePath();
    }
    const QString suggested = SuggestedName(watching ? m_watch.host() : m_strHost, when);

    QFileDialog dialog(this, QStringLiteral("Save report"), m_strReportFolder);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters(filters);
    dialog.selectFile(suggested + QLatin1Char('.') + QLatin1String(forms.front().suffix));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return; // cancelled
    QString path = dialog.selectedFiles().front();
    const ReportForm& form = FormOf(path, forms, dialog.selectedNameFilter());
    if (QFileInfo(path).suffix().isEmpty())
        path += QLatin1Char('.') + QLatin1String(form.suffix);

    QByteArray bytes;
    switch (form.kind) {
    case ReportKind::TraceCsv:
        // The table alone, every row as the window shows it.
        bytes = QByteArray::fromStdString(FormatReport(m_rows, TraceReport {}, ReportFormat::Csv));
        break;
    case ReportKind::WatchHtml: bytes = WatchReport(m_watch, WatchReportFormat::Html); break;
    case ReportKind::WatchCsv: bytes = WatchReport(m_watch, WatchReportFormat::Csv); break;
    case ReportKind::WatchJsonLines: bytes = WatchReport(m_watch, WatchReportFormat::JsonLines); break;
    }
    // The table shows the figures saved, the probes sent since its last round's refresh
    // included.
    if (watching)
        OnWatchRound();
    QString error;
    // A failure leaves everything as it was: the report can be saved again elsewhere.
    if (!SaveReport(path, bytes, &error)) {
        AfxMessageBox(error, QMessageBox::Warning, this);
        return;
    }
    m_strReportFolder = QFileInfo(path).absolutePath();
}

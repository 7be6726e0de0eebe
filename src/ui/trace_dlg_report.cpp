// "Save report…" of the results list's menu: the table as it stands, in the CSV form
// hoplantern-cli --csv writes, to a file the user picks.
#include "message_box.h"
#include "report.h"
#include "save_file.h"
#include "trace_dlg.h"

#include <QFileDialog>

void CTraceDlg::OnSaveReport()
{
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Save report"), QString(), QStringLiteral("CSV (*.csv);;All files (*)"));
    if (path.isEmpty())
        return; // cancelled
    // The CSV form is the table alone, every row as the window shows it.
    const std::string csv = FormatReport(m_rows, TraceReport {}, ReportFormat::Csv);
    QString error;
    if (!SaveReport(path, QByteArray::fromStdString(csv), &error))
        AfxMessageBox(error, QMessageBox::Warning, this);
}

#pragma once
#include <QByteArray>
#include <QString>

// Writes a report whole or not at all: through QSaveFile, so an existing file is replaced
// only once the new one is complete, and a full disk leaves the old report in place.
// False on failure, with `error` (when given) saying what went wrong and where.
bool SaveReport(const QString& path, const QByteArray& bytes, QString* error = nullptr);

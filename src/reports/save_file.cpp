#include "save_file.h"

#include <QSaveFile>

bool SaveReport(const QString& path, const QByteArray& bytes, QString* error)
{
    QSaveFile file(path);
    const bool saved = file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
    if (!saved && error)
        *error = QString("%1: %2").arg(path, file.errorString());
    return saved;
}

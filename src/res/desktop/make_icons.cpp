// Writes the window icon as the PNG files a desktop's icon theme takes, one folder per
// size (16x16/hoplantern.png, 32x32/hoplantern.png) under the folder given, so the menu
// entry shows the same picture as the window. Runs during the build, without a display.
#include "app_icon.h"
#include "resource.h"

#include <QDir>
#include <QGuiApplication>
#include <QIcon>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QIcon icon = res::LoadIcon(IDR_MAINFRAME);
    const QDir out(QString::fromLocal8Bit(argv[1]));
    for (const int size : { 16, 32 }) {
        const QString folder = QStringLiteral("%1x%1").arg(size);
        const QString path = out.filePath(folder + QStringLiteral("/hoplantern.png"));
        const QPixmap pixmap = icon.pixmap(size, size);
        if (!out.mkpath(folder) || pixmap.size() != QSize(size, size) || !pixmap.save(path, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}

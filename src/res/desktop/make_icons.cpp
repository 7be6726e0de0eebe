// Writes the window icon as the PNG files a desktop's icon theme takes, one folder per
// size (16x16/hoplantern.png, ..., 256x256/hoplantern.png) under the folder given, so
// the menu entry shows the same picture as the window. Runs during the build, without a
// display.
#include "app_icon.h"

#include <QDir>
#include <QGuiApplication>
#include <QPixmap>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER SIZE...\n", argv[0]);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QDir out(QString::fromLocal8Bit(argv[1]));
    for (int i = 2; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        const QString folder = QStringLiteral("%1x%1").arg(size);
        const QString path = out.filePath(folder + QStringLiteral("/hoplantern.png"));
        const QPixmap pixmap = res::PaintMainIcon(size);
        if (size <= 0 || !out.mkpath(folder) || pixmap.size() != QSize(size, size) || !pixmap.save(path, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}

// Writes the program's icon (app/AppIcon.cpp) as PNG files for the icon theme:
//   orvane_icons DIR NAME SIZE...   ->   DIR/<SIZE>x<SIZE>/apps/NAME.png

#include <QDir>
#include <QGuiApplication>
#include <QPixmap>

#include <cstdio>
#include <cstdlib>

#include "app/AppIcon.h"

int main(int argc, char* argv[]) {
    if (argc < 4) {
        std::fputs("usage: orvane_icons DIR NAME SIZE...\n", stderr);
        return 2;
    }
    QGuiApplication application(argc, argv);
    const QString dir = QString::fromLocal8Bit(argv[1]);
    const QString name = QString::fromLocal8Bit(argv[2]);
    for (int i = 3; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(dir).arg(size);
        const QString file = QStringLiteral("%1/%2.png").arg(folder, name);
        if (size <= 0 || !QDir().mkpath(folder) || !AppIconPixmap(size).save(file, "PNG")) {
            std::fprintf(stderr, "orvane_icons: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}

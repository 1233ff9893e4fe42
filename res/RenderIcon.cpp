// SPDX-License-Identifier: GPL-3.0-or-later
// Build tool: renders the program's SVG icon to the PNG sizes of the icon
// theme, with the renderer the program itself draws its icons with.
//   vandrelle_render_icon SVG FOLDER NAME SIZE...
// writes FOLDER/<SIZE>x<SIZE>/apps/NAME.png for each SIZE; exits 1 on failure.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s SVG FOLDER NAME SIZE...\n", argv[0]);
        return 1;
    }
    // A build has no display; the renderer needs none.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QGuiApplication app(qtArgc, argv);
    QSvgRenderer svg(QString::fromLocal8Bit(argv[1]));
    if (!svg.isValid()) {
        std::fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[1]);
        return 1;
    }
    const QString folder = QString::fromLocal8Bit(argv[2]);
    const QString name = QString::fromLocal8Bit(argv[3]);
    for (int i = 4; i < argc; ++i) {
        const int size = QByteArray(argv[i]).toInt();
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        if (!image.isNull()) {
            image.fill(Qt::transparent);
            QPainter painter(&image);
            svg.render(&painter);
        }
        const QString sub = QStringLiteral("%1x%1/apps").arg(size);
        if (image.isNull() || !QDir(folder).mkpath(sub) ||
            !image.save(QStringLiteral("%1/%2/%3.png").arg(folder, sub, name))) {
            std::fprintf(stderr, "%s: cannot write the %s pixel icon\n", argv[0], argv[i]);
            return 1;
        }
    }
    return 0;
}

#pragma once
// Images for the widget tests: written where a user's file would be, and read back pixel by pixel.
#include <QImage>
#include <QString>

namespace brevlin::testing {

inline QString writeImage(const QString& path, QSize size = {16, 16}, QColor colour = Qt::red) {
    QImage image(size, QImage::Format_ARGB32);
    image.fill(colour);
    return image.save(path) ? path : QString();
}

inline int opaquePixels(const QImage& image) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += qAlpha(image.pixel(x, y)) > 0 ? 1 : 0;
    return count;
}

} // namespace brevlin::testing

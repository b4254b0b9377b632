#pragma once
// The captured-image layout: a 32-bit bottom-up BMP file (54-byte header, BI_RGB, pixels blue,
// green, red, reserved). Written here by hand because Qt writes 24-bit BMP files only.
#include <QByteArray>
#include <QImage>

namespace norvix::sim {

QByteArray encodeBmp32(const QImage& image);

}  // namespace norvix::sim

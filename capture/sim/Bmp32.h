#pragma once
// The captured-image layout: a 32-bit bottom-up BMP file (54-byte header, BI_RGB, no colour
// table, pixels blue, green, red, reserved zero). Written here by hand because Qt writes
// 24-bit BMP files only, which the processing modules do not read. The simulator and the
// capture module share this one writer.
#include <QByteArray>
#include <QImage>
#include <cstdint>

namespace norvix::sim {

constexpr int kBmp32HeaderSize = 54;

QByteArray encodeBmp32(const QImage& image);

// The pieces, for writers that stream the file instead of building it whole.
// The image as the rows are read from: RGB32 or ARGB32 kept, anything else converted.
QImage bmp32Source(const QImage& image);
void putBmp32Header(char* out, int width, int height);
// Stored row of image row y (bottom-up order is the caller's); scratch holds width words.
void putBmp32Row(const QImage& source, int y, uint32_t* scratch, char* out);

}  // namespace norvix::sim

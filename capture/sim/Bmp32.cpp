#include "Bmp32.h"

#include <cstring>

namespace norvix::sim {

namespace {
void put16(char* p, uint16_t v) { p[0] = char(v & 0xff); p[1] = char(v >> 8); }
void put32(char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = char((v >> (8 * i)) & 0xff);
}
}  // namespace

QByteArray encodeBmp32(const QImage& source) {
    const QImage image = source.format() == QImage::Format_RGB32
                             ? source
                             : source.convertToFormat(QImage::Format_RGB32);
    const int w = image.width(), h = image.height();
    const uint32_t pixelBytes = uint32_t(w) * uint32_t(h) * 4u;
    QByteArray out(54 + int(pixelBytes), '\0');
    char* p = out.data();
    p[0] = 'B';
    p[1] = 'M';
    put32(p + 2, 54 + pixelBytes);
    put32(p + 10, 54);
    put32(p + 14, 40);
    put32(p + 18, uint32_t(w));
    put32(p + 22, uint32_t(h));
    put16(p + 26, 1);
    put16(p + 28, 32);
    put32(p + 34, pixelBytes);
    // Format_RGB32 is 0xffRRGGBB per pixel: little-endian bytes B, G, R, 0xff; the reserved
    // byte is written as 0 like the capture board's frames.
    for (int y = 0; y < h; ++y) {
        const uchar* src = image.constScanLine(h - 1 - y);
        char* dst = p + 54 + size_t(y) * size_t(w) * 4;
        std::memcpy(dst, src, size_t(w) * 4);
        for (int x = 0; x < w; ++x) dst[x * 4 + 3] = 0;
    }
    return out;
}

}  // namespace norvix::sim

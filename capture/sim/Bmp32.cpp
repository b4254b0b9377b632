#include "Bmp32.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace norvix::sim {
namespace {
void put16(char* p, uint16_t v) {
    p[0] = char(v & 0xff);
    p[1] = char(v >> 8);
}
void put32(char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = char((v >> (8 * i)) & 0xff);
}
}  // namespace

QImage bmp32Source(const QImage& source) {
    return source.format() == QImage::Format_RGB32 || source.format() == QImage::Format_ARGB32
               ? source
               : source.convertToFormat(QImage::Format_RGB32);
}

void putBmp32Header(char* p, int w, int h) {
    const uint32_t pixelBytes = uint32_t(w) * uint32_t(h) * 4u;
    std::memset(p, 0, kBmp32HeaderSize);
    p[0] = 'B';
    p[1] = 'M';
    put32(p + 2, kBmp32HeaderSize + pixelBytes);
    put32(p + 10, kBmp32HeaderSize);
    put32(p + 14, 40);
    put32(p + 18, uint32_t(w));
    put32(p + 22, uint32_t(h));
    put16(p + 26, 1);
    put16(p + 28, 32);
    put32(p + 34, pixelBytes);
}

// Blue, green, red, reserved zero: the little-endian words of the image with the top byte
// cleared, masked through an aligned buffer so the loop vectorises.
void putBmp32Row(const QImage& image, int y, uint32_t* scratch, char* out) {
    const auto* src = reinterpret_cast<const uint32_t*>(image.constScanLine(y));
    const int w = image.width();
    for (int x = 0; x < w; ++x) scratch[x] = src[x] & 0x00ffffffu;
    std::memcpy(out, scratch, size_t(w) * 4);
}

QByteArray encodeBmp32(const QImage& source) {
    const QImage image = bmp32Source(source);
    const int w = image.width(), h = image.height();
    QByteArray out(kBmp32HeaderSize + w * h * 4, Qt::Uninitialized);
    putBmp32Header(out.data(), w, h);
    std::vector<uint32_t> scratch(size_t(std::max(w, 1)));
    char* dst = out.data() + kBmp32HeaderSize;
    for (int y = h - 1; y >= 0; --y, dst += size_t(w) * 4) putBmp32Row(image, y, scratch.data(), dst);
    return out;
}

}  // namespace norvix::sim

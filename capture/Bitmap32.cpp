#include "Bitmap32.h"

#include <QSaveFile>
#include <algorithm>
#include <cstring>
#include <vector>

namespace norvix::captura {
namespace {

void put16(char* p, quint16 v) {
    p[0] = char(v & 0xff);
    p[1] = char(v >> 8);
}
void put32(char* p, quint32 v) {
    for (int i = 0; i < 4; ++i) p[i] = char((v >> (8 * i)) & 0xff);
}

QImage asRgb32(const QImage& source) {
    return source.format() == QImage::Format_RGB32 || source.format() == QImage::Format_ARGB32
               ? source
               : source.convertToFormat(QImage::Format_RGB32);
}

void putHeader(char* p, int w, int h) {
    const quint32 pixelBytes = quint32(w) * quint32(h) * 4u;
    std::memset(p, 0, kBmpHeaderSize);
    p[0] = 'B';
    p[1] = 'M';
    put32(p + 2, kBmpHeaderSize + pixelBytes);
    put32(p + 10, kBmpHeaderSize);
    put32(p + 14, 40);
    put32(p + 18, quint32(w));
    put32(p + 22, quint32(h));
    put16(p + 26, 1);
    put16(p + 28, 32);
    put32(p + 34, pixelBytes);
}

// One stored row: blue, green, red, reserved zero (little-endian words of the image with the
// top byte cleared). Masked through an aligned buffer so the loop vectorises.
void putRow(const QImage& image, int y, quint32* scratch, char* out) {
    const auto* src = reinterpret_cast<const quint32*>(image.constScanLine(y));
    const int w = image.width();
    for (int x = 0; x < w; ++x) scratch[x] = src[x] & 0x00ffffffu;
    std::memcpy(out, scratch, size_t(w) * 4);
}

}  // namespace

QByteArray encodeBmp32(const QImage& source) {
    const QImage image = asRgb32(source);
    const int w = image.width(), h = image.height();
    QByteArray out(kBmpHeaderSize + w * h * 4, Qt::Uninitialized);
    putHeader(out.data(), w, h);
    std::vector<quint32> scratch(size_t(std::max(w, 1)));
    char* dst = out.data() + kBmpHeaderSize;
    for (int y = h - 1; y >= 0; --y, dst += size_t(w) * 4) putRow(image, y, scratch.data(), dst);
    return out;
}

bool writeBmp32(ModuleStream* stream, const QImage& source) {
    if (!stream || !stream->write || !stream->seek) return false;
    const QImage image = asRgb32(source);
    const int w = image.width(), h = image.height();
    // Row by row straight into the caller's stream: no second full-size buffer.
    constexpr int kRowsPerWrite = 32;
    std::vector<char> chunk(size_t(std::max(kBmpHeaderSize, w * 4 * kRowsPerWrite)));
    std::vector<quint32> scratch(size_t(std::max(w, 1)));
    const auto writeAll = [&](const char* data, int64_t count) {
        while (count > 0) {
            const int64_t n = stream->write(stream->context, data, count);
            if (n <= 0) return false;
            data += n;
            count -= n;
        }
        return true;
    };
    putHeader(chunk.data(), w, h);
    bool ok = writeAll(chunk.data(), kBmpHeaderSize);
    for (int y = h - 1; ok && y >= 0;) {
        int rows = 0;
        for (; rows < kRowsPerWrite && y >= 0; ++rows, --y) putRow(image, y, scratch.data(), chunk.data() + size_t(rows) * w * 4);
        ok = writeAll(chunk.data(), int64_t(rows) * w * 4);
    }
    stream->seek(stream->context, 0, 0);
    return ok;
}

bool saveBmp32(const QString& path, const QImage& image, QString* error) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error) *error = QStringLiteral("Não foi possível criar o arquivo %1: %2").arg(path, file.errorString());
        return false;
    }
    const QByteArray bytes = encodeBmp32(image);
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        if (error) *error = QStringLiteral("Não foi possível gravar o arquivo %1: %2").arg(path, file.errorString());
        file.cancelWriting();
        return false;
    }
    return true;
}

}  // namespace norvix::captura

#include "Bitmap32.h"

#include <QSaveFile>
#include <cstring>

namespace norvix::captura {
namespace {

void put16(char* p, quint16 v) {
    p[0] = char(v & 0xff);
    p[1] = char(v >> 8);
}
void put32(char* p, quint32 v) {
    for (int i = 0; i < 4; ++i) p[i] = char((v >> (8 * i)) & 0xff);
}

}  // namespace

QByteArray encodeBmp32(const QImage& source) {
    const QImage image = source.format() == QImage::Format_RGB32 || source.format() == QImage::Format_ARGB32
                             ? source
                             : source.convertToFormat(QImage::Format_RGB32);
    const int w = image.width(), h = image.height();
    const quint32 pixelBytes = quint32(w) * quint32(h) * 4u;
    QByteArray out(int(kBmpHeaderSize + pixelBytes), '\0');
    char* p = out.data();
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
    char* dst = p + kBmpHeaderSize;
    for (int y = h - 1; y >= 0; --y) {
        const auto* src = reinterpret_cast<const quint32*>(image.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            const quint32 px = src[x];
            // Pixel memory order: blue, green, red, reserved (zero).
            const quint32 v = px & 0x00ffffffu;
            std::memcpy(dst, &v, 4);
            dst += 4;
        }
    }
    return out;
}

bool writeBmp32(ModuleStream* stream, const QImage& image) {
    if (!stream || !stream->write || !stream->seek) return false;
    const QByteArray bytes = encodeBmp32(image);
    qint64 done = 0;
    while (done < bytes.size()) {
        const int64_t n = stream->write(stream->context, bytes.constData() + done, bytes.size() - done);
        if (n <= 0) break;
        done += n;
    }
    stream->seek(stream->context, 0, 0);
    return done == bytes.size();
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

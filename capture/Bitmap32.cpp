#include "Bitmap32.h"

#include <QSaveFile>
#include <algorithm>
#include <vector>

namespace norvix::captura {

using sim::bmp32Source;
using sim::putBmp32Header;
using sim::putBmp32Row;

bool writeBmp32(ModuleStream* stream, const QImage& source) {
    if (!stream || !stream->write || !stream->seek) return false;
    const QImage image = bmp32Source(source);
    const int w = image.width(), h = image.height();
    // Row by row straight into the caller's stream: no second full-size buffer.
    constexpr int kRowsPerWrite = 32;
    std::vector<char> chunk(size_t(std::max(kBmpHeaderSize, w * 4 * kRowsPerWrite)));
    std::vector<uint32_t> scratch(size_t(std::max(w, 1)));
    const auto writeAll = [&](const char* data, int64_t count) {
        while (count > 0) {
            const int64_t n = stream->write(stream->context, data, count);
            if (n <= 0) return false;
            data += n;
            count -= n;
        }
        return true;
    };
    putBmp32Header(chunk.data(), w, h);
    bool ok = writeAll(chunk.data(), kBmpHeaderSize);
    for (int y = h - 1; ok && y >= 0;) {
        int rows = 0;
        for (; rows < kRowsPerWrite && y >= 0; ++rows, --y) putBmp32Row(image, y, scratch.data(), chunk.data() + size_t(rows) * w * 4);
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

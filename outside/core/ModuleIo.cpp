#include "ModuleIo.h"

#include <cstring>

#include "platform/Cp1252.h"

namespace norvix::outside {

bool readWholeStream(ModuleStream* s, qint64 maxBytes, QByteArray* out) {
    out->clear();
    if (!s || !s->read || !s->seek) return false;
    int64_t size = s->size ? s->size(s->context) : -1;
    if (size > maxBytes) return false;
    if (s->seek(s->context, 0, 0) != 0) return false;
    // Read in chunks rather than trusting size(): a stream may hold less than it claims.
    constexpr int64_t kChunk = 256 * 1024;
    while (true) {
        const qint64 have = out->size();
        if (have >= maxBytes + 1) return false;
        const int64_t want = std::min<int64_t>(kChunk, maxBytes + 1 - have);
        out->resize(have + want);
        const int64_t got = s->read(s->context, out->data() + have, want);
        if (got < 0 || got > want) {
            out->clear();
            return false;
        }
        out->resize(have + got);
        if (got == 0) break;
    }
    if (out->size() > maxBytes) return false;
    return true;
}

bool writeToStream(ModuleStream* s, const QByteArray& bytes) {
    if (!s || !s->write) return false;
    if (bytes.isEmpty()) return true;
    return s->write(s->context, bytes.constData(), bytes.size()) == bytes.size();
}

QStringList readStreamLines(ModuleStream* s, qint64 maxBytes) {
    QByteArray bytes;
    if (!readWholeStream(s, maxBytes, &bytes)) return {};
    QString text = norvix::fromCp1252(bytes);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QStringList lines = text.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    return lines;
}

QByteArray crlfLines(const QStringList& lines) {
    QByteArray out;
    for (const QString& l : lines) {
        out += norvix::toCp1252(l);
        out += "\r\n";
    }
    return out;
}

int64_t ByteStream::readFn(void* c, void* buffer, int64_t count) {
    auto* self = static_cast<ByteStream*>(c);
    if (count <= 0) return 0;
    const int64_t n = std::min<int64_t>(count, self->data_.size() - self->pos_);
    if (n <= 0) return 0;
    std::memcpy(buffer, self->data_.constData() + self->pos_, size_t(n));
    self->pos_ += n;
    return n;
}

int64_t ByteStream::writeFn(void* c, const void* buffer, int64_t count) {
    auto* self = static_cast<ByteStream*>(c);
    if (count <= 0) return 0;
    if (self->pos_ + count > self->data_.size()) self->data_.resize(self->pos_ + count);
    std::memcpy(self->data_.data() + self->pos_, buffer, size_t(count));
    self->pos_ += count;
    return count;
}

int64_t ByteStream::seekFn(void* c, int64_t offset, int32_t origin) {
    auto* self = static_cast<ByteStream*>(c);
    int64_t base = origin == 0 ? 0 : (origin == 1 ? self->pos_ : self->data_.size());
    const int64_t p = base + offset;
    if (p < 0) return -1;
    self->pos_ = p;
    return p;
}

int64_t ByteStream::sizeFn(void* c) { return static_cast<ByteStream*>(c)->data_.size(); }

}  // namespace norvix::outside

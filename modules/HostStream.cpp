#include "HostStream.h"

#include <algorithm>
#include <cstring>
#include <new>
#include "platform/Cp1252.h"

namespace norvix {

namespace {

// The callbacks run inside module code: nothing may be thrown through it.
int64_t readCb(void* c, void* buffer, int64_t count) noexcept {
    return static_cast<HostStream*>(c)->read(buffer, count);
}
int64_t writeCb(void* c, const void* buffer, int64_t count) noexcept {
    try {
        return static_cast<HostStream*>(c)->write(buffer, count);
    } catch (...) {
        return 0;
    }
}
int64_t seekCb(void* c, int64_t offset, int32_t origin) noexcept {
    return static_cast<HostStream*>(c)->seek(offset, origin);
}
int64_t sizeCb(void* c) noexcept { return static_cast<HostStream*>(c)->size(); }

}  // namespace

HostStream::HostStream(QByteArray initial) : data_(std::move(initial)) {
    stream_.context = this;
    stream_.read = readCb;
    stream_.write = writeCb;
    stream_.seek = seekCb;
    stream_.size = sizeCb;
}

int64_t HostStream::read(void* buffer, int64_t count) {
    if (!buffer || count <= 0 || pos_ >= data_.size()) return 0;
    const int64_t n = std::min<int64_t>(count, data_.size() - pos_);
    std::memcpy(buffer, data_.constData() + pos_, static_cast<size_t>(n));
    pos_ += n;
    return n;
}

int64_t HostStream::write(const void* buffer, int64_t count) {
    if (!buffer || count <= 0 || pos_ >= limit_) return 0;
    const int64_t n = std::min<int64_t>(count, limit_ - pos_);
    const int64_t end = pos_ + n;
    try {
        if (end > data_.size()) {
            const qsizetype old = data_.size();
            data_.resize(end);
            // A gap left by a seek beyond the end reads as zeros.
            if (pos_ > old) std::memset(data_.data() + old, 0, static_cast<size_t>(pos_ - old));
        }
    } catch (const std::bad_alloc&) {
        return 0;
    }
    std::memcpy(data_.data() + pos_, buffer, static_cast<size_t>(n));
    pos_ = end;
    return n;
}

int64_t HostStream::seek(int64_t offset, int32_t origin) {
    int64_t base = 0;
    switch (origin) {
    case 0: base = 0; break;
    case 1: base = pos_; break;
    case 2: base = data_.size(); break;
    default: return -1;
    }
    if ((offset > 0 && base > INT64_MAX - offset) || base + offset < 0) return -1;
    pos_ = base + offset;
    return pos_;
}

void HostStream::clear() {
    data_.clear();
    pos_ = 0;
}

void HostStream::setData(const QByteArray& bytes) {
    data_ = bytes;
    pos_ = 0;
}

QStringList HostStream::lines(qsizetype maxLines, qsizetype maxLineLength) const {
    QStringList out;
    const char* p = data_.constData();
    const char* end = p + data_.size();
    if (const void* nul = std::memchr(p, 0, data_.size())) end = static_cast<const char*>(nul);
    while (p < end && out.size() < maxLines) {
        const char* q = p;
        while (q < end && *q != '\r' && *q != '\n') ++q;
        out.append(fromCp1252(QByteArrayView(p, std::min<qsizetype>(q - p, maxLineLength))));
        if (q < end && *q == '\r') ++q;
        if (q < end && *q == '\n') ++q;
        p = q;
    }
    return out;
}

void HostStream::writeLines(const QStringList& lines) {
    for (const QString& line : lines) {
        const QByteArray bytes = toCp1252(line) + "\r\n";
        write(bytes.constData(), bytes.size());
    }
}

}  // namespace norvix

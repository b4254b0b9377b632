#pragma once
// A memory stream owned by the host and handed to modules as a ModuleStream*, with the usual
// memory-stream rules modules rely on: writing past the end grows it (a gap left by a seek
// beyond the end reads as zeros), a seek beyond the end is allowed, a negative position is
// refused.
#include <QByteArray>
#include <QStringList>
#include "modules/ModuleContract.h"

namespace norvix {

class HostStream {
public:
    // A stream that never grows beyond this many bytes: a module writing without end gets
    // short writes instead of taking the host's memory. Far above the largest image (4 BMP
    // frames of 1.2 MB).
    static constexpr qint64 kDefaultLimit = qint64(256) << 20;

    explicit HostStream(QByteArray initial = {});
    HostStream(const HostStream&) = delete;
    HostStream& operator=(const HostStream&) = delete;

    // The handle given to a module; valid while this object lives.
    ModuleStream* moduleStream() { return &stream_; }
    operator ModuleStream*() { return &stream_; }

    int64_t read(void* buffer, int64_t count);
    int64_t write(const void* buffer, int64_t count);
    // origin 0 begin, 1 current, 2 end. Returns the new position, or -1 (position unchanged)
    // for a negative result or an unknown origin.
    int64_t seek(int64_t offset, int32_t origin);
    int64_t size() const { return data_.size(); }
    int64_t position() const { return pos_; }
    void rewind() { pos_ = 0; }
    void clear();

    void setLimit(qint64 bytes) { limit_ = bytes; }
    qint64 limit() const { return limit_; }

    const QByteArray& data() const { return data_; }
    void setData(const QByteArray& bytes);  // position 0

    // The whole content as Windows-1252 text lines, from the start whatever the position.
    // Lines end at CR LF, a lone LF or a lone CR; a zero byte ends the text, as it ends a
    // zero-terminated one. At most maxLines lines, each cut at maxLineLength characters, so
    // that a module writing without end cannot flood the host.
    QStringList lines(qsizetype maxLines = 100000, qsizetype maxLineLength = 65536) const;
    // Appends lines, each followed by CR LF, at the position.
    void writeLines(const QStringList& lines);

private:
    QByteArray data_;
    qint64 pos_ = 0;
    qint64 limit_ = kDefaultLimit;
    ModuleStream stream_;
};

}  // namespace norvix

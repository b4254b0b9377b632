#pragma once
// Safe access to the host's streams: a module must survive a null stream, a stream whose
// callbacks are missing, and a size that lies.
#include <QByteArray>
#include <QString>
#include <QStringList>

#include "modules/ModuleContract.h"

namespace norvix::outside {

// Reads the whole stream from its start, at most maxBytes; false when the stream is unusable
// or holds more than maxBytes.
bool readWholeStream(ModuleStream* stream, qint64 maxBytes, QByteArray* out);
// Writes all bytes at the stream's position; false when the host took fewer.
bool writeToStream(ModuleStream* stream, const QByteArray& bytes);
// Text lines (Windows-1252, CR LF or LF) of a whole stream; empty when unusable.
QStringList readStreamLines(ModuleStream* stream, qint64 maxBytes = 1 << 20);
// Lines joined with CR LF after each, encoded in Windows-1252.
QByteArray crlfLines(const QStringList& lines);

// A ModuleStream over a QByteArray, for the module's own use and for tests.
class ByteStream {
public:
    ByteStream() = default;
    explicit ByteStream(QByteArray bytes) : data_(std::move(bytes)) {}
    ModuleStream* stream() { return &stream_; }
    const QByteArray& data() const { return data_; }
    void rewind() { pos_ = 0; }

private:
    static int64_t readFn(void* c, void* buffer, int64_t count);
    static int64_t writeFn(void* c, const void* buffer, int64_t count);
    static int64_t seekFn(void* c, int64_t offset, int32_t origin);
    static int64_t sizeFn(void* c);
    QByteArray data_;
    int64_t pos_ = 0;
    ModuleStream stream_{this, &ByteStream::readFn, &ByteStream::writeFn, &ByteStream::seekFn, &ByteStream::sizeFn};
};

}  // namespace norvix::outside

#include "tearfilm/TearRecording.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>
#include <jerror.h>

// The file, all numbers little-endian:
//   header  (32 bytes): "NVXLAGR1", u32 version, u32 width, u32 height, u32 zero, f64 fps
//   frames:             one record per frame: i64 ms, u32 length, length bytes of grey JPEG
//   index   (count × 20): per frame u64 offset of its record, i64 ms, u32 length
//   trailer (24 bytes): u64 count, u64 offset of the index, "NVXLAGRF"
// The index repeats each record's time and length, so the reader checks the whole file
// against its size when it opens it, and each record against the index when it reads it.

namespace norvix::lagrima {

namespace {

constexpr char kMagic[8] = {'N', 'V', 'X', 'L', 'A', 'G', 'R', '1'};
constexpr char kEndMagic[8] = {'N', 'V', 'X', 'L', 'A', 'G', 'R', 'F'};
constexpr quint32 kVersion = 1;
constexpr qint64 kHeader = 32;
constexpr qint64 kRecordHead = 12;
constexpr qint64 kIndexEntry = 20;
constexpr qint64 kTrailer = 24;
constexpr int kMaxSide = 8192;
constexpr int kQuality = 90;

void put32(uchar* p, quint32 v) {
    for (int i = 0; i < 4; ++i) p[i] = uchar(v >> (8 * i));
}
void put64(uchar* p, quint64 v) {
    for (int i = 0; i < 8; ++i) p[i] = uchar(v >> (8 * i));
}
quint32 get32(const uchar* p) {
    quint32 v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | p[i];
    return v;
}
quint64 get64(const uchar* p) {
    quint64 v = 0;
    for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
    return v;
}
void putDouble(uchar* p, double d) {
    quint64 v;
    std::memcpy(&v, &d, 8);
    put64(p, v);
}
double getDouble(const uchar* p) {
    const quint64 v = get64(p);
    double d;
    std::memcpy(&d, &v, 8);
    return d;
}

void setError(QString* error, const QString& text) {
    if (error) *error = text;
}

// libjpeg reports a fatal error through error_exit, which by default ends the process; ours
// jumps back to the call that started the work. Only plain C data lives across the jump.
struct JpegError {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    bool prematureEnd;
};

extern "C" void tearJpegExit(j_common_ptr c) {
    std::longjmp(reinterpret_cast<JpegError*>(c->err)->jump, 1);
}

extern "C" void tearJpegMessage(j_common_ptr c, int level) {
    if (level < 0) {
        auto* e = reinterpret_cast<JpegError*>(c->err);
        if (c->err->msg_code == JWRN_JPEG_EOF) e->prematureEnd = true;
        ++c->err->num_warnings;
    }
}

jpeg_error_mgr* prepareError(JpegError& e) {
    jpeg_std_error(&e.pub);
    e.pub.error_exit = tearJpegExit;
    e.pub.emit_message = tearJpegMessage;
    e.prematureEnd = false;
    return &e.pub;
}

// Kept free of objects with destructors, as a jump may come back into it.
bool encodeGrey(const uchar* bits, qsizetype stride, int width, int height, unsigned char** out,
                unsigned long* size) {
    jpeg_compress_struct c;
    JpegError e;
    c.err = prepareError(e);
    if (setjmp(e.jump)) {
        jpeg_destroy_compress(&c);
        return false;
    }
    jpeg_create_compress(&c);
    jpeg_mem_dest(&c, out, size);
    c.image_width = JDIMENSION(width);
    c.image_height = JDIMENSION(height);
    c.input_components = 1;
    c.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, kQuality, TRUE);
    c.dct_method = JDCT_ISLOW;
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(bits + qsizetype(c.next_scanline) * stride);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    return true;
}

// Decodes into rows the caller has made ready for width × height grey pixels; false on a bad
// or differently sized JPEG.
bool decodeGrey(const uchar* data, unsigned long size, int width, int height, uchar* bits,
                qsizetype stride) {
    jpeg_decompress_struct d;
    JpegError e;
    d.err = prepareError(e);
    if (setjmp(e.jump)) {
        jpeg_destroy_decompress(&d);
        return false;
    }
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, data, size);
    if (jpeg_read_header(&d, TRUE) != JPEG_HEADER_OK || int(d.image_width) != width ||
        int(d.image_height) != height || d.num_components != 1) {
        jpeg_destroy_decompress(&d);
        return false;
    }
    d.out_color_space = JCS_GRAYSCALE;
    jpeg_start_decompress(&d);
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = bits + qsizetype(d.output_scanline) * stride;
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    const bool whole = !e.prematureEnd;
    jpeg_destroy_decompress(&d);
    return whole;
}

struct IndexEntry {
    quint64 offset;
    qint64 ms;
    quint32 length;
};

}  // namespace

// ---------------------------------------------------------------------------------------- writer

struct RecordingWriter::State {
    QString path;
    std::unique_ptr<QSaveFile> file;
    int width = 0, height = 0;
    std::vector<IndexEntry> index;
    qint64 position = 0;
    bool failed = false;

    bool write(const void* data, qint64 size, QString* error) {
        if (file->write(static_cast<const char*>(data), size) != size) {
            failed = true;
            setError(error, QStringLiteral("não foi possível gravar em %1: %2")
                                .arg(QDir::toNativeSeparators(path), file->errorString()));
            return false;
        }
        position += size;
        return true;
    }
};

RecordingWriter::RecordingWriter() : d_(std::make_unique<State>()) {}

RecordingWriter::~RecordingWriter() {
    if (d_->file) d_->file->cancelWriting();  // the QSaveFile then removes its temporary file
}

bool RecordingWriter::open(const QString& path, int width, int height, double fps, QString* error) {
    if (d_->file) d_->file->cancelWriting();
    d_ = std::make_unique<State>();
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide) {
        setError(error, QStringLiteral("tamanho de quadro inválido para a gravação: %1x%2").arg(width).arg(height));
        return false;
    }
    if (!std::isfinite(fps) || fps <= 0 || fps > 1000) {
        setError(error, QStringLiteral("taxa de quadros inválida para a gravação: %1").arg(fps));
        return false;
    }
    auto file = std::make_unique<QSaveFile>(path);
    file->setDirectWriteFallback(false);
    if (!file->open(QIODevice::WriteOnly)) {
        setError(error, QStringLiteral("não foi possível criar a gravação %1: %2")
                            .arg(QDir::toNativeSeparators(path), file->errorString()));
        return false;
    }
    d_->path = path;
    d_->file = std::move(file);
    d_->width = width;
    d_->height = height;
    uchar head[kHeader] = {};
    std::memcpy(head, kMagic, 8);
    put32(head + 8, kVersion);
    put32(head + 12, quint32(width));
    put32(head + 16, quint32(height));
    put32(head + 20, 0);
    putDouble(head + 24, fps);
    if (!d_->write(head, kHeader, error)) {
        d_->file->cancelWriting();
        d_->file.reset();
        return false;
    }
    return true;
}

bool RecordingWriter::append(const QImage& frame, qint64 ms, QString* error) {
    if (!d_->file || d_->failed) {
        setError(error, QStringLiteral("gravação não aberta"));
        return false;
    }
    if (frame.width() != d_->width || frame.height() != d_->height) {
        setError(error, QStringLiteral("quadro de %1x%2 numa gravação de %3x%4")
                            .arg(frame.width()).arg(frame.height()).arg(d_->width).arg(d_->height));
        return false;
    }
    const qint64 last = d_->index.empty() ? 0 : d_->index.back().ms;
    if (ms < last) {
        setError(error, QStringLiteral("tempo do quadro (%1 ms) anterior ao do quadro anterior (%2 ms)").arg(ms).arg(last));
        return false;
    }
    if (d_->index.size() >= 0x7fffffff) {
        setError(error, QStringLiteral("gravação longa demais"));
        return false;
    }
    const QImage grey = frame.format() == QImage::Format_Grayscale8
                            ? frame
                            : frame.convertToFormat(QImage::Format_Grayscale8);
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    const bool encoded = encodeGrey(grey.constBits(), grey.bytesPerLine(), d_->width, d_->height, &jpeg, &size);
    if (!encoded || size == 0 || size > 0xffffffffUL) {
        std::free(jpeg);
        setError(error, QStringLiteral("não foi possível compactar o quadro %1").arg(d_->index.size()));
        return false;
    }
    uchar head[kRecordHead];
    put64(head, quint64(ms));
    put32(head + 8, quint32(size));
    const IndexEntry entry{quint64(d_->position), ms, quint32(size)};
    const bool ok = d_->write(head, kRecordHead, error) && d_->write(jpeg, qint64(size), error);
    std::free(jpeg);
    if (!ok) return false;
    d_->index.push_back(entry);
    return true;
}

bool RecordingWriter::finish(QString* error) {
    if (!d_->file || d_->failed) {
        setError(error, QStringLiteral("gravação não aberta"));
        return false;
    }
    const quint64 indexOffset = quint64(d_->position);
    std::vector<uchar> tail(d_->index.size() * kIndexEntry + kTrailer);
    uchar* p = tail.data();
    for (const IndexEntry& e : d_->index) {
        put64(p, e.offset);
        put64(p + 8, quint64(e.ms));
        put32(p + 16, e.length);
        p += kIndexEntry;
    }
    put64(p, d_->index.size());
    put64(p + 8, indexOffset);
    std::memcpy(p + 16, kEndMagic, 8);
    if (!d_->write(tail.data(), qint64(tail.size()), error)) return false;
    if (!d_->file->commit()) {
        d_->failed = true;
        setError(error, QStringLiteral("não foi possível concluir a gravação %1: %2")
                            .arg(QDir::toNativeSeparators(d_->path), d_->file->errorString()));
        d_->file.reset();
        return false;
    }
    d_->file.reset();
    return true;
}

int RecordingWriter::frames() const { return int(d_->index.size()); }

// ---------------------------------------------------------------------------------------- reader

struct RecordingReader::State {
    QFile file;
    const uchar* map = nullptr;
    qint64 size = 0;
    RecordingInfo info;
    std::vector<IndexEntry> index;
};

RecordingReader::RecordingReader() : d_(std::make_unique<State>()) {}
RecordingReader::~RecordingReader() = default;

bool RecordingReader::open(const QString& path, QString* error) {
    d_ = std::make_unique<State>();
    const QString shown = QDir::toNativeSeparators(path);
    auto fail = [&](const QString& why) {
        setError(error, QStringLiteral("%1: %2").arg(shown, why));
        d_ = std::make_unique<State>();
        return false;
    };
    d_->file.setFileName(path);
    if (!d_->file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("não foi possível abrir a gravação (%1)").arg(d_->file.errorString()));
    const qint64 size = d_->file.size();
    if (size == 0) return fail(QStringLiteral("arquivo vazio, não é uma gravação de filme lacrimal"));
    if (size < qint64(sizeof kMagic)) return fail(QStringLiteral("não é uma gravação de filme lacrimal"));
    const uchar* m = d_->file.map(0, size);
    if (!m) return fail(QStringLiteral("não foi possível ler a gravação (%1)").arg(d_->file.errorString()));
    d_->map = m;
    d_->size = size;
    if (std::memcmp(m, kMagic, 7) != 0) return fail(QStringLiteral("não é uma gravação de filme lacrimal"));
    if (m[7] != uchar(kMagic[7]) || size < kHeader || get32(m + 8) != kVersion)
        return fail(size < kHeader ? QStringLiteral("gravação truncada")
                                   : QStringLiteral("versão de gravação de filme lacrimal desconhecida"));
    const quint32 width = get32(m + 12), height = get32(m + 16);
    const double fps = getDouble(m + 24);
    if (width == 0 || height == 0 || width > quint32(kMaxSide) || height > quint32(kMaxSide) ||
        !std::isfinite(fps) || fps <= 0 || fps > 1000)
        return fail(QStringLiteral("cabeçalho da gravação inválido"));
    if (size < kHeader + kTrailer || std::memcmp(m + size - 8, kEndMagic, 8) != 0)
        return fail(QStringLiteral("gravação truncada"));
    const uchar* t = m + size - kTrailer;
    const quint64 count = get64(t), indexOffset = get64(t + 8);
    const quint64 room = quint64(size - kHeader - kTrailer);
    if (count > room / kIndexEntry || indexOffset != quint64(size) - kTrailer - count * kIndexEntry)
        return fail(QStringLiteral("índice da gravação inválido"));
    // The records follow one another from the header to the index, times never decrease.
    std::vector<IndexEntry> index(count);
    quint64 expected = kHeader;
    qint64 lastMs = 0;
    for (quint64 i = 0; i < count; ++i) {
        const uchar* e = m + indexOffset + i * kIndexEntry;
        IndexEntry& x = index[i];
        x.offset = get64(e);
        x.ms = qint64(get64(e + 8));
        x.length = get32(e + 16);
        if (x.offset != expected || x.length == 0 || x.ms < lastMs ||
            x.offset + kRecordHead + x.length > indexOffset)
            return fail(QStringLiteral("índice da gravação inválido (quadro %1)").arg(i));
        expected = x.offset + kRecordHead + x.length;
        lastMs = x.ms;
    }
    if (expected != indexOffset) return fail(QStringLiteral("índice da gravação inválido"));
    d_->index = std::move(index);
    d_->info.width = int(width);
    d_->info.height = int(height);
    d_->info.fps = fps;
    d_->info.frames = int(count);
    return true;
}

RecordingInfo RecordingReader::info() const { return d_->info; }

bool RecordingReader::frame(int i, QImage* grey, qint64* ms, QString* error) const {
    if (!d_->map) {
        setError(error, QStringLiteral("gravação não aberta"));
        return false;
    }
    if (i < 0 || i >= d_->info.frames) {
        setError(error, QStringLiteral("quadro %1 fora da gravação (%2 quadros)").arg(i).arg(d_->info.frames));
        return false;
    }
    const IndexEntry& e = d_->index[size_t(i)];
    const uchar* r = d_->map + e.offset;
    if (qint64(get64(r)) != e.ms || get32(r + 8) != e.length) {
        setError(error, QStringLiteral("gravação corrompida no quadro %1").arg(i));
        return false;
    }
    if (grey) {
        const int w = d_->info.width, h = d_->info.height;
        if (grey->format() != QImage::Format_Grayscale8 || grey->width() != w || grey->height() != h)
            *grey = QImage(w, h, QImage::Format_Grayscale8);
        if (grey->isNull()) {
            setError(error, QStringLiteral("memória insuficiente para o quadro %1").arg(i));
            return false;
        }
        if (!decodeGrey(r + kRecordHead, e.length, w, h, grey->bits(), grey->bytesPerLine())) {
            setError(error, QStringLiteral("quadro %1 da gravação ilegível").arg(i));
            return false;
        }
    }
    if (ms) *ms = e.ms;
    return true;
}

}  // namespace norvix::lagrima

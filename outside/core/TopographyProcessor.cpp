// TopographyProcessor's entry points: calibration coefficients, frame checks, bitmap reading and grey conversion.
#include "TopographyProcessor.h"

#include <QFile>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <thread>

#include "TopographyInternal.h"
#include "capture/sim/InstrumentModel.h"

namespace norvix::outside {

using norvix::sim::ConeGeometry;
using norvix::sim::InstrumentModel;
using norvix::sim::PixelPitch;

namespace {

// Frame sizes measured: the capture sizes and the devices' own defaults, not thumbnails or
// pictures that cannot come from the instrument.
constexpr int kMinWidth = 320, kMinHeight = 240, kMaxSide = 2048;

// A frame the instrument can deliver: at least 320 x 240, at most 2048 on a side, its pixels
// at most twice as wide as tall or the reverse.
bool sizeAccepted(qint64 width, qint64 height, QString* why) {
    if (width >= kMinWidth && height >= kMinHeight && width <= kMaxSide && height <= kMaxSide) {
        const PixelPitch pitch = InstrumentModel::pixelPitch(int(width), int(height));
        if (pitch.x <= 2 * pitch.y && pitch.y <= 2 * pitch.x) return true;
    }
    if (why)
        *why = QStringLiteral("Tamanho de imagem %1 x %2 não é um quadro do instrumento (de %3 x %4 a %5 x %5).")
                   .arg(width).arg(height).arg(kMinWidth).arg(kMinHeight).arg(kMaxSide);
    return false;
}

}  // namespace

bool CalibrationCoefficients::load(const QString& path, QString* error) {
    a_.clear();
    b_.clear();
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        if (error) *error = QStringLiteral("Arquivo de coeficientes não encontrado: %1").arg(path);
        return false;
    }
    const QByteArray all = f.read(1 << 20);
    std::vector<double> values;
    for (QByteArray line : all.split('\n')) {
        line = line.trimmed();
        if (line.isEmpty()) continue;
        line.replace(',', '.');
        bool ok = false;
        const double v = line.toDouble(&ok);
        if (!ok || !std::isfinite(v)) {
            if (error) *error = QStringLiteral("Arquivo de coeficientes com valor inválido: \"%1\"").arg(QString::fromLatin1(line));
            return false;
        }
        values.push_back(v);
    }
    if (values.size() < 2 || values.size() % 2 != 0 || values.size() > 2 * NORVIX_MAX_RINGS) {
        if (error) *error = QStringLiteral("Arquivo de coeficientes com número de linhas inválido (%1).").arg(values.size());
        return false;
    }
    for (size_t i = 0; i + 1 < values.size(); i += 2) {
        a_.push_back(values[i]);
        b_.push_back(values[i + 1]);
    }
    return true;
}

double CalibrationCoefficients::apply(int ring, double measured) const {
    const size_t i = size_t(ring - 1);
    if (ring < 1 || i >= a_.size()) return measured;
    // A ring the calibration had no data for carries "0" and "0": a line through zero would
    // turn every radius into 0, so such a ring keeps the model's radius.
    if (b_[i] == 0.0) return measured;
    const double v = a_[i] + b_[i] * measured;
    if (!std::isfinite(v) || v <= 0) return measured;
    return v;
}

TopographyProcessor::TopographyProcessor(int coneType, int rings) : coneType_(coneType), rings_(rings) {
    setThreads(2);
}

void TopographyProcessor::setThreads(int threads) {
    threads_ = threads >= 2 && std::thread::hardware_concurrency() >= 2 ? 2 : 1;
}

namespace {

// What the capture's bitmap header says, checked as decodeBitmap checks it.
struct BitmapLayout {
    qint64 offset = 0, width = 0, height = 0, rowBytes = 0;
    bool bottomUp = true;
    // The capture's own layout (32 bits, uncompressed, the plain header): read here directly.
    bool direct = false;
};

bool readBitmapLayout(const QByteArray& bytes, BitmapLayout* layout, QString* error) {
    auto fail = [&](const QString& why) {
        if (error) *error = why;
        return false;
    };
    if (bytes.size() < 54) return fail(QStringLiteral("Imagem vazia ou truncada (%1 bytes).").arg(bytes.size()));
    if (bytes[0] != 'B' || bytes[1] != 'M') return fail(QStringLiteral("A imagem não é um bitmap (BMP)."));
    auto le32 = [&](int off) {
        return qint64(uchar(bytes[off])) | (qint64(uchar(bytes[off + 1])) << 8) | (qint64(uchar(bytes[off + 2])) << 16) |
               (qint64(uchar(bytes[off + 3])) << 24);
    };
    const qint64 offset = le32(10);
    const qint64 width = qint32(le32(18));
    const qint64 height = std::llabs(qint32(le32(22)));
    const int bpp = uchar(bytes[28]) | (uchar(bytes[29]) << 8);
    QString why;
    if (!sizeAccepted(width, height, &why)) return fail(why);
    const qint64 rowBytes = ((width * bpp + 31) / 32) * 4;
    if (bpp <= 0 || offset < 54 || offset + rowBytes * height > bytes.size())
        return fail(QStringLiteral("Imagem truncada: %1 bytes para %2 x %3 pixels.").arg(bytes.size()).arg(width).arg(height));
    const int planes = uchar(bytes[26]) | (uchar(bytes[27]) << 8);
    layout->offset = offset;
    layout->width = width;
    layout->height = height;
    layout->rowBytes = rowBytes;
    layout->bottomUp = qint32(le32(22)) > 0;
    layout->direct = bpp == 32 && le32(14) == 40 && planes == 1 && le32(30) == 0 && le32(46) == 0;
    return true;
}

// The cone and the ring count measured, or false with the reason.
bool checkSettings(int coneType, int ringsWanted, const ConeGeometry** cone, int* rings, QString* error) {
    auto fail = [&](const QString& why) {
        if (error) *error = why;
        return false;
    };
    *cone = InstrumentModel::cone(coneType);
    if (!*cone) return fail(QStringLiteral("Tipo de cone inválido: %1.").arg(coneType));
    if (ringsWanted < 1 || ringsWanted > NORVIX_MAX_RINGS)
        return fail(QStringLiteral("Número de anéis inválido: %1 (de 1 a %2).").arg(ringsWanted).arg(NORVIX_MAX_RINGS));
    *rings = std::min(ringsWanted, (*cone)->rings);
    return true;
}

}  // namespace

bool TopographyProcessor::decodeBitmap(const QByteArray& bytes, QImage* image, QString* error) {
    BitmapLayout layout;
    if (!readBitmapLayout(bytes, &layout, error)) return false;
    auto fail = [&](const QString& why) {
        if (error) *error = why;
        return false;
    };
    QImage img;
    if (layout.direct) {
        // What Qt's reader gives for this layout (blue, green, red, the fourth byte ignored),
        // without its general path, which costs more than the measurement's own reading.
        img = QImage(int(layout.width), int(layout.height), QImage::Format_RGB32);
        if (img.isNull()) return fail(QStringLiteral("Não foi possível ler o bitmap."));
        const uchar* pixels = reinterpret_cast<const uchar*>(bytes.constData()) + layout.offset;
        for (int y = 0; y < int(layout.height); ++y) {
            const uchar* in = pixels + layout.rowBytes * (layout.bottomUp ? layout.height - 1 - y : y);
            QRgb* line = reinterpret_cast<QRgb*>(img.scanLine(y));
            for (int x = 0; x < int(layout.width); ++x, in += 4) line[x] = qRgb(in[2], in[1], in[0]);
        }
    } else if (!img.loadFromData(bytes, "BMP") || img.isNull()) {
        return fail(QStringLiteral("Não foi possível ler o bitmap."));
    }
    if (img.width() != layout.width || img.height() != layout.height)
        return fail(QStringLiteral("Tamanho de imagem inesperado."));
    *image = img;
    return true;
}

bool TopographyProcessor::process(const QImage& source, Topography* out, QString* error) const {
    const ConeGeometry* cone = nullptr;
    int rings = 0;
    if (!checkSettings(coneType_, rings_, &cone, &rings, error)) return false;
    if (!sizeAccepted(source.width(), source.height(), error)) return false;
    // Every size spans the same field of view. The measurement runs on square pixels of the
    // frame's row pitch, so a frame whose pixels are narrower than tall (720 x 480) is first
    // resampled across; positions are given back in the frame's own pixels.
    const PixelPitch pitch = InstrumentModel::pixelPitch(source.width(), source.height());
    const int squareWidth = int(std::lround(source.width() * pitch.x / pitch.y));
    QImage image = source.format() == QImage::Format_RGB32 || source.format() == QImage::Format_ARGB32
                       ? source
                       : source.convertToFormat(QImage::Format_RGB32);
    if (squareWidth != source.width())
        image = image.scaled(squareWidth, source.height(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const double toFrameX = double(source.width()) / image.width();
    auto frame = std::make_unique<GreyFrame>();
    frame->fill(
        image.width(), image.height(), [&](int y) { return image.constScanLine(y); },
        [](const uchar* pixel) {
            const QRgb c = *reinterpret_cast<const QRgb*>(pixel);
            return qRed(c) + 2 * qGreen(c) + qBlue(c);
        });
    return measureGrey({cone, rings, coefficients_, threads_}, *frame, source.width(), source.height(), toFrameX,
                       pitch.y, out, error);
}

namespace {

bool squarePixels(int width, int height) {
    const PixelPitch pitch = InstrumentModel::pixelPitch(width, height);
    return int(std::lround(width * pitch.x / pitch.y)) == width;
}

}  // namespace

bool TopographyProcessor::readsDirectly(const QByteArray& bytes) {
    BitmapLayout layout;
    return readBitmapLayout(bytes, &layout, nullptr) && layout.direct &&
           squarePixels(int(layout.width), int(layout.height));
}

bool TopographyProcessor::processBitmap(const QByteArray& bytes, Topography* out, QString* error) const {
    BitmapLayout layout;
    if (!readBitmapLayout(bytes, &layout, error)) return false;
    const PixelPitch pitch = InstrumentModel::pixelPitch(int(layout.width), int(layout.height));
    if (!layout.direct || !squarePixels(int(layout.width), int(layout.height))) {
        QImage frame;
        return decodeBitmap(bytes, &frame, error) && process(frame, out, error);
    }
    // The capture's own layout at square pixels: its bytes straight to grey levels.
    const ConeGeometry* cone = nullptr;
    int rings = 0;
    if (!checkSettings(coneType_, rings_, &cone, &rings, error)) return false;
    const uchar* pixels = reinterpret_cast<const uchar*>(bytes.constData()) + layout.offset;
    auto frame = std::make_unique<GreyFrame>();
    frame->fill(
        int(layout.width), int(layout.height),
        [&](int y) { return pixels + layout.rowBytes * (layout.bottomUp ? layout.height - 1 - y : y); },
        [](const uchar* pixel) { return pixel[2] + 2 * pixel[1] + pixel[0]; });
    return measureGrey({cone, rings, coefficients_, threads_}, *frame, int(layout.width), int(layout.height), 1.0,
                       pitch.y, out, error);
}

std::vector<double> sphereRingRadii(const Topography& t) {
    std::vector<double> radii;
    for (int ring = 1; ring <= t.rings; ++ring) {
        double sum = 0;
        int n = 0;
        for (int k = 0; k < NORVIX_MERIDIANS; ++k)
            if (t.found[k] >= ring) {
                sum += t.m[k][ring];
                ++n;
            }
        if (n < NORVIX_MERIDIANS / 2) break;  // a ring seen on few meridians is no measure
        radii.push_back(sum / n);
    }
    return radii;
}

}  // namespace norvix::outside

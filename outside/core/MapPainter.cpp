#include "MapPainter.h"

#include <QFontMetrics>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "ModuleSupport.h"

namespace norvix::outside {

namespace {
constexpr double kPi = 3.14159265358979323846;

// Anchors of the palette, interpolated to 26 colours: cool flat, warm steep.
const QColor kAnchors[] = {QColor(0, 0, 110),   QColor(0, 0, 220),   QColor(0, 110, 255), QColor(0, 200, 230),
                           QColor(0, 180, 110), QColor(60, 210, 40), QColor(200, 230, 0), QColor(255, 220, 0),
                           QColor(255, 150, 0), QColor(240, 60, 0),  QColor(200, 0, 0),  QColor(140, 0, 40),
                           QColor(110, 0, 110)};
}  // namespace

static void drawGrid(QPainter& painter, int size) {
    const double c = size / 2.0, pxPerMm = size / MapPainter::kFieldMm;
    painter.setPen(QPen(QColor(0, 0, 0, 140), 1));
    for (int mm = 1; mm <= 5; ++mm) painter.drawEllipse(QPointF(c, c), mm * pxPerMm, mm * pxPerMm);
    for (int a = 0; a < 180; a += 30) {
        const double t = a * kPi / 180.0, rr = 5.0 * pxPerMm;
        painter.drawLine(QPointF(c - rr * std::cos(t), c + rr * std::sin(t)),
                         QPointF(c + rr * std::cos(t), c - rr * std::sin(t)));
    }
}

ColourScale ColourScale::absolute() { return ColourScale(); }

ColourScale ColourScale::fixedIncrement(double increment, double centrePower) {
    ColourScale s;
    if (!(increment >= 0.05 && increment <= 10.0) || !std::isfinite(centrePower)) return s;
    s.step_ = increment;
    s.low_ = std::round(centrePower / increment) * increment - (kLevels / 2) * increment;
    return s;
}

ColourScale ColourScale::symmetric(double maxAbs) {
    static const double steps[] = {0.25, 0.5, 1.0, 1.5, 2.0, 3.0, 4.0, 5.0};
    ColourScale s;
    const double wanted = std::isfinite(maxAbs) ? std::fabs(maxAbs) / (kLevels / 2.0) : 0;
    s.step_ = steps[std::size(steps) - 1];
    for (double st : steps) {
        if (st >= wanted) {
            s.step_ = st;
            break;
        }
    }
    s.low_ = -(kLevels - 1) / 2.0 * s.step_;
    return s;
}

ColourScale ColourScale::normalised(double lowest, double highest) {
    static const double steps[] = {0.25, 0.5, 1.0, 1.5, 2.0, 2.5, 3.0, 4.0, 5.0, 10.0};
    if (!std::isfinite(lowest) || !std::isfinite(highest) || lowest > highest) return absolute();
    // The centre rounds to a whole step, up to half a step off the middle; 24 steps of room
    // then keep both ends inside the first and last levels.
    const double wanted = (highest - lowest) / 24.0;
    double step = steps[std::size(steps) - 1];
    for (double st : steps)
        if (st >= wanted) {
            step = st;
            break;
        }
    return fixedIncrement(step, 0.5 * (lowest + highest));
}

int ColourScale::levelOf(double power) const {
    if (!std::isfinite(power)) return 0;
    const int i = int(std::floor((power - low_) / step_ + 0.5));
    return std::clamp(i, 0, kLevels - 1);
}

QColor ColourScale::colour(int level) const {
    level = std::clamp(level, 0, kLevels - 1);
    constexpr int n = int(sizeof(kAnchors) / sizeof(kAnchors[0]));
    const double pos = double(level) * (n - 1) / (kLevels - 1);
    const int a = std::min(n - 2, int(pos));
    const double f = pos - a;
    const QColor& c0 = kAnchors[a];
    const QColor& c1 = kAnchors[a + 1];
    return QColor(int(std::lround(c0.red() + f * (c1.red() - c0.red()))),
                  int(std::lround(c0.green() + f * (c1.green() - c0.green()))),
                  int(std::lround(c0.blue() + f * (c1.blue() - c0.blue()))));
}

QColor colourFromSetting(const QString& raw) {
    const QString text = raw.trimmed();
    if (text.isEmpty()) return Qt::black;
    if (text.startsWith(QLatin1String("cl"), Qt::CaseInsensitive)) {
        static const std::pair<const char*, QColor> names[] = {
            {"black", Qt::black},     {"maroon", QColor(128, 0, 0)}, {"green", QColor(0, 128, 0)},
            {"olive", QColor(128, 128, 0)}, {"navy", QColor(0, 0, 128)}, {"purple", QColor(128, 0, 128)},
            {"teal", QColor(0, 128, 128)}, {"gray", QColor(128, 128, 128)}, {"silver", QColor(192, 192, 192)},
            {"red", Qt::red},         {"lime", Qt::green},          {"yellow", Qt::yellow},
            {"blue", Qt::blue},       {"fuchsia", Qt::magenta},     {"aqua", Qt::cyan},
            {"white", Qt::white}};
        const QString n = text.mid(2).toLower();
        for (const auto& [name, colour] : names)
            if (n == QLatin1String(name)) return colour;
        return Qt::black;
    }
    bool ok = false;
    uint bgr = 0;
    if (text.startsWith(QLatin1Char('$')))
        bgr = text.mid(1).toUInt(&ok, 16);
    else if (text.at(0).isDigit())
        bgr = text.toUInt(&ok, 10);
    if (ok) return QColor(int(bgr & 0xff), int((bgr >> 8) & 0xff), int((bgr >> 16) & 0xff));
    const QColor c = QColor::fromString(text);
    return c.isValid() ? c : QColor(Qt::black);
}

QImage MapPainter::drawField(const std::function<double(double, double)>& value, const ColourScale& scale, int size,
                             const MapOptions& options) {
    size = std::max(32, size);
    QImage img(size, size, QImage::Format_RGB32);
    img.fill(Qt::white);
    const double mmPerPx = kFieldMm / size;
    const double c = size / 2.0;
    const QRgb outside = qRgb(225, 225, 225);
    for (int y = 0; y < size; ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < size; ++x) {
            const double mx = (x + 0.5 - c) * mmPerPx, my = -(y + 0.5 - c) * mmPerPx;
            const double r = std::hypot(mx, my);
            if (r > kFieldMm / 2) continue;
            double th = std::atan2(my, mx) * 180.0 / kPi;
            if (th < 0) th += 360.0;
            const double p = value(r, th);
            line[x] = std::isnan(p) ? outside : scale.colourOf(p).rgb();
        }
    }
    if (options.grid) {
        QPainter painter(&img);
        painter.setRenderHint(QPainter::Antialiasing);
        drawGrid(painter, size);
    }
    return img;
}

QImage MapPainter::drawMap(const CornealMap& map, MapKind kind, const ColourScale& scale, int size,
                           const MapOptions& options) {
    size = std::max(32, size);
    QImage img = drawField([&](double r, double th) { return map.powerAt(kind, r, th); }, scale, size, MapOptions());
    const double c = size / 2.0;
    QPainter painter(&img);
    painter.setRenderHint(QPainter::Antialiasing);
    const double pxPerMm = size / kFieldMm;
    if (options.grid) drawGrid(painter, size);
    if (options.pointKeratometry && size >= 200) {
        painter.setPen(options.pointColour);
        QFont f = painter.font();
        f.setPixelSize(std::max(8, size / 45));
        painter.setFont(f);
        for (double rmm : {1.5, 3.0}) {
            for (int a = 0; a < 360; a += 45) {
                const double p = map.powerAt(kind, rmm, a);
                if (std::isnan(p)) continue;
                const double t = a * kPi / 180.0;
                const QPointF at(c + rmm * pxPerMm * std::cos(t), c - rmm * pxPerMm * std::sin(t));
                const QString text = decimal(p, 1);
                const QRectF box(at.x() - 20, at.y() - 7, 40, 14);
                painter.drawText(box, Qt::AlignCenter, text);
            }
        }
    }
    return img;
}

QImage MapPainter::drawScale(const ColourScale& scale, int width, int height) {
    QImage img(std::max(40, width), std::max(ColourScale::kLevels * 8, height), QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter painter(&img);
    const double box = double(img.height()) / ColourScale::kLevels;
    // Two decimals where one would round the values (steps of 0.25 D, a difference scale's
    // half steps), one otherwise.
    auto tenths = [](double v) { return std::fabs(v * 10 - std::round(v * 10)) < 1e-6; };
    const int decimals = tenths(scale.step()) && tenths(scale.low()) ? 1 : 2;
    // Values never below 9 pixels, so they stay readable on a small window: on a short bar
    // only every second (third...) level is labelled rather than the digits shrinking.
    constexpr int kMinFont = 9;
    QFont f = painter.font();
    f.setPixelSize(std::max(kMinFont, int(box * 0.7)));
    // A tall bar must not grow its values past the width it has.
    QString widest;
    for (int i = 0; i < ColourScale::kLevels; ++i) {
        const QString t = decimal(scale.levelValue(i), decimals);
        if (t.size() > widest.size()) widest = t;
    }
    while (f.pixelSize() > kMinFont && QFontMetrics(f).horizontalAdvance(widest) > img.width() * 0.6 - 2)
        f.setPixelSize(f.pixelSize() - 1);
    painter.setFont(f);
    const double textHeight = QFontMetrics(f).height();
    const int every = std::max(1, int(std::ceil(textHeight / box - 0.05)));
    for (int i = 0; i < ColourScale::kLevels; ++i) {
        const int level = ColourScale::kLevels - 1 - i;
        const QRectF r(0, i * box, img.width() * 0.35, box);
        painter.fillRect(r, scale.colour(level));
        if (level % every != 0) continue;
        painter.setPen(Qt::black);
        const QRectF texto(img.width() * 0.4, i * box + box / 2 - textHeight / 2, img.width() * 0.6, textHeight);
        painter.drawText(texto.intersected(QRectF(img.rect())), Qt::AlignVCenter | Qt::AlignLeft,
                         decimal(scale.levelValue(level), decimals));
    }
    return img;
}

}  // namespace norvix::outside

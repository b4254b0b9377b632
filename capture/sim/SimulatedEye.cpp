#include "SimulatedEye.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>
#include <random>

#include "InstrumentModel.h"

namespace norvix::sim {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kLimbusMm = 5.9;   // corneal radius: beyond it the sclera, which does not mirror
constexpr int kSuper = 4;           // sub-samples per pixel side: the pixel integrates its area
constexpr size_t kCacheSize = 6;    // a calibration walks four spheres; keep them all

bool parseNumber(QString text, double* value) {
    text.replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (!ok || !std::isfinite(v)) return false;
    *value = v;
    return true;
}

QString folded(const QString& word) {
    QString w = word.toLower();
    w.replace(QStringLiteral("ó"), QStringLiteral("o"));
    w.replace(QStringLiteral("ô"), QStringLiteral("o"));
    return w;
}

bool radiusOk(double r) { return r >= 4.0 && r <= 15.0; }

}  // namespace

bool parseTarget(const QString& text, Target* out, QString* error) {
    auto fail = [&](const QString& message) {
        if (error) *error = message;
        return false;
    };
    const QStringList words =
        text.trimmed().split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    if (words.isEmpty()) return fail(QStringLiteral("Descrição do alvo vazia."));
    const QString kind = folded(words.first());
    std::vector<double> n;
    for (int i = 1; i < words.size(); ++i) {
        double v = 0;
        if (!parseNumber(words[i], &v))
            return fail(QStringLiteral("Número inválido na descrição do alvo: \"%1\".").arg(words[i]));
        n.push_back(v);
    }
    Target t;
    if (kind == QLatin1String("esfera") || kind == QLatin1String("sphere")) {
        if (n.size() != 1) return fail(QStringLiteral("A esfera pede um raio em mm, por exemplo \"esfera 7.80\"."));
        t.kind = Target::Kind::Sphere;
        t.r1 = t.r2 = n[0];
        t.q = 0;
    } else if (kind == QLatin1String("torica") || kind == QLatin1String("toric")) {
        if (n.size() != 3)
            return fail(QStringLiteral("A superfície tórica pede dois raios e um eixo, por exemplo \"torica 7.70 7.90 90\"."));
        t.kind = Target::Kind::Toric;
        t.r1 = n[0];
        t.r2 = n[1];
        t.axisDeg = n[2];
        t.q = 0;
    } else if (kind == QLatin1String("cornea")) {
        t.kind = Target::Kind::Cornea;
        if (n.size() == 1 || n.size() == 2) {
            t.r1 = t.r2 = n[0];
            if (n.size() == 2) t.q = n[1];
        } else if (n.size() == 4) {
            t.r1 = n[0];
            t.r2 = n[1];
            t.axisDeg = n[2];
            t.q = n[3];
        } else if (!n.empty()) {
            return fail(QStringLiteral("A córnea aceita \"cornea\", \"cornea R\", \"cornea R Q\" ou \"cornea R1 R2 EIXO Q\"."));
        }
    } else if (kind == QLatin1String("orto") || kind == QLatin1String("ortho")) {
        if (n.size() != 4)
            return fail(QStringLiteral("A córnea tratada pede raio, asfericidade, diâmetro da zona e profundidade em mm, "
                                       "por exemplo \"orto 7.80 -0.20 5.2 0.02\"."));
        t.kind = Target::Kind::Treated;
        t.r1 = t.r2 = n[0];
        t.q = n[1];
        t.zoneMm = n[2];
        t.depthMm = n[3];
        if (t.zoneMm < 2.0 || t.zoneMm > 9.0) return fail(QStringLiteral("Diâmetro da zona fora da faixa de 2 a 9 mm."));
        if (t.depthMm < 0.0 || t.depthMm > 0.1)
            return fail(QStringLiteral("Profundidade do tratamento fora da faixa de 0 a 0,1 mm."));
    } else {
        return fail(QStringLiteral("Tipo de alvo desconhecido: \"%1\" (use esfera, torica, cornea ou orto).").arg(words.first()));
    }
    if (!radiusOk(t.r1) || !radiusOk(t.r2))
        return fail(QStringLiteral("Raio fora da faixa de 4 a 15 mm."));
    if (!std::isfinite(t.axisDeg) || t.q < -3.0 || t.q > 3.0)
        return fail(QStringLiteral("Asfericidade fora da faixa de -3 a 3."));
    *out = t;
    return true;
}

Target targetFromEnvironment() {
    Target t;
    const QString value = qEnvironmentVariable("NORVIX_SIM_TARGET").trimmed();
    if (value.isEmpty()) return t;
    QString description = value;
    const QFileInfo info(value);
    if (info.isFile()) {
        QFile f(value);
        if (!f.open(QIODevice::ReadOnly)) return t;
        description = QString::fromUtf8(f.read(4096)).trimmed();
    }
    Target parsed;
    QString error;
    if (parseTarget(description, &parsed, &error)) return parsed;
    return t;
}

void treatmentSag(const Target& t, double r, double* sag, double* dsdr) {
    *sag = 0;
    *dsdr = 0;
    if (t.kind != Target::Kind::Treated || t.zoneMm <= 0 || t.depthMm <= 0) return;
    const double rho2 = 0.25 * t.zoneMm * t.zoneMm;
    const double u = r * r / rho2;
    const double w = 1 + u * u * u * u;
    *sag = -t.depthMm * u / std::pow(w, 0.25);
    *dsdr = -t.depthMm * std::pow(w, -1.25) * 2 * r / rho2;
}

bool targetSurface(const Target& t, double x, double y, double* sag, double* dsdx, double* dsdy) {
    const double r = std::hypot(x, y);
    if (t.isEye() && r > kLimbusMm) return false;
    if (!t.isEye() && r > 0.97 * std::min(t.r1, t.r2)) return false;
    // Biconic base surface in the frame of the r1 meridian.
    const double a = t.axisDeg * kPi / 180.0;
    const double ca = std::cos(a), sa = std::sin(a);
    const double xp = x * ca + y * sa, yp = -x * sa + y * ca;
    const double cx = 1.0 / t.r1, cy = 1.0 / t.r2;
    const double k = t.isEye() ? t.q : 0.0;
    const double num = cx * xp * xp + cy * yp * yp;
    const double p = (1 + k) * (cx * cx * xp * xp + cy * cy * yp * yp);
    if (p >= 0.999) return false;
    const double s = std::sqrt(1 - p);
    const double den = 1 + s;
    const double numX = 2 * cx * xp, numY = 2 * cy * yp;
    const double sX = -(1 + k) * cx * cx * xp / s, sY = -(1 + k) * cy * cy * yp / s;
    const double gxp = (numX * den - num * sX) / (den * den);
    const double gyp = (numY * den - num * sY) / (den * den);
    double z = num / den;
    double gx = gxp * ca - gyp * sa;
    double gy = gxp * sa + gyp * ca;
    if (t.kind == Target::Kind::Treated && r > 1e-12) {
        double ts = 0, tr = 0;
        treatmentSag(t, r, &ts, &tr);
        z += ts;
        gx += tr * x / r;
        gy += tr * y / r;
    }
    for (const Target::Bump& b : t.bumps) {
        const double dx = x - b.xMm, dy = y - b.yMm;
        const double e = std::exp(-(dx * dx + dy * dy) / (2 * b.sigmaMm * b.sigmaMm));
        z -= b.heightMm * e;
        gx += b.heightMm * e * dx / (b.sigmaMm * b.sigmaMm);
        gy += b.heightMm * e * dy / (b.sigmaMm * b.sigmaMm);
    }
    if (!t.waves.empty() && r > 1e-9) {
        const double th = std::atan2(y, x);
        const double rho = r / 4.0;
        for (const Target::Wave& w : t.waves) {
            const double ang = w.order * (th - w.angleDeg * kPi / 180.0);
            const double pw = std::pow(rho, w.radialPower);
            z += w.amplitudeMm * pw * std::cos(ang);
            const double dr = w.amplitudeMm * w.radialPower * std::pow(rho, w.radialPower - 1) / 4.0 * std::cos(ang);
            const double dth = -w.amplitudeMm * pw * w.order * std::sin(ang);
            gx += std::cos(th) * dr - std::sin(th) / r * dth;
            gy += std::sin(th) * dr + std::cos(th) / r * dth;
        }
    }
    *sag = z;
    *dsdx = gx;
    *dsdy = gy;
    return true;
}

Renderer::Renderer(int coneType, int width, int height)
    : coneType_(InstrumentModel::cone(coneType) ? coneType : 4),
      width_(std::max(16, width)),
      height_(std::max(16, height)) {
    // The optics do not change with the board's capture size.
    pitch_ = InstrumentModel::pixelPitch(width_, height_);
    // Sensor noise: an approximately Gaussian table (sum of four uniforms, sigma about 2.3
    // grey levels) that each frame reads from a different offset.
    std::mt19937 gen(12345);
    std::uniform_int_distribution<int> uni(-4, 4);
    noise_.resize(1u << 20);
    for (int8_t& v : noise_) v = int8_t((uni(gen) + uni(gen) + uni(gen) + uni(gen)) / 2);
}

const QImage& Renderer::render(const Target& t) {
    for (auto it = cache_.begin(); it != cache_.end(); ++it) {
        if (it->first == t) {
            if (it != cache_.begin()) cache_.splice(cache_.begin(), cache_, it);
            return cache_.front().second;
        }
    }
    QImage drawn = draw(t);
    if (drawn.isNull()) return none_;
    cache_.emplace_front(t, std::move(drawn));
    if (cache_.size() > kCacheSize) cache_.pop_back();
    return cache_.front().second;
}

void Renderer::liveFrame(const Target& t, uint32_t frameNumber, QImage* out) {
    const QImage& clean = render(t);
    if (clean.isNull()) {
        *out = QImage();
        return;
    }
    if (out->size() != clean.size() || out->format() != QImage::Format_RGB32)
        *out = QImage(clean.size(), QImage::Format_RGB32);
    const size_t mask = noise_.size() - 1;
    size_t idx = (size_t(frameNumber) * 2654435761u) & mask;
    for (int y = 0; y < clean.height(); ++y) {
        const uchar* src = clean.constScanLine(y);
        uchar* dst = out->scanLine(y);
        for (int x = 0; x < clean.width(); ++x) {
            const int n = noise_[idx];
            idx = (idx + 1) & mask;
            for (int c = 0; c < 3; ++c) {
                const int v = src[4 * x + c] + n;
                dst[4 * x + c] = uchar(v < 0 ? 0 : (v > 255 ? 255 : v));
            }
            dst[4 * x + 3] = 0xff;
        }
    }
}

QImage Renderer::draw(const Target& t) const {
    const ConeGeometry& cone = *InstrumentModel::cone(coneType_);
    const bool isEye = t.isEye();
    // Linear intensities per channel (0..255) accumulated over the sub-samples.
    std::vector<float> acc(size_t(width_) * height_ * 3, 0.0f);
    const double cxPix = width_ / 2.0, cyPix = height_ / 2.0;
    const double sub = 1.0 / kSuper;
    const float ring[3] = {236, 236, 232};
    const float light[3] = {250, 250, 250};
    const float wall[3] = {14, 14, 16};      // dark paint between the rings
    const float pupil[3] = {6, 6, 8};
    const float iris[3] = {38, 52, 70};      // B, G, R: brown
    const float sclera[3] = {120, 128, 140};
    const float black[3] = {4, 4, 4};
    // What one point of the image shows.
    auto shade = [&](double x, double y) -> const float* {
        double sag = 0, gx = 0, gy = 0;
        if (!targetSurface(t, x, y, &sag, &gx, &gy)) return isEye ? sclera : black;
        // What lies behind the mirror: iris and pupil for an eye, nothing for a steel sphere.
        const float* base = wall;
        if (isEye) base = std::hypot(x - t.pupilXMm, y - t.pupilYMm) < t.pupilRadiusMm ? pupil : iris;
        // Outward normal (towards the camera) of z = -sag.
        const double nn = std::sqrt(gx * gx + gy * gy + 1);
        const Vec3 n{gx / nn, gy / nn, 1 / nn};
        double u = 0, back = 0;
        if (!InstrumentModel::traceToCone(cone, Vec3{x, y, -sag}, n, &u, &back)) return base;
        if (back >= 0) return back < InstrumentModel::kFixationLightMm ? light : base;
        for (int i = 1; i <= cone.rings; ++i) {
            if (u < cone.startU[i]) break;
            if (u < cone.edgeU[i]) return ring;
        }
        return base;
    };
    // Shade the pixel corners first; a pixel whose four corners agree is uniform (every
    // feature is wider than a pixel), the others integrate kSuper x kSuper sub-samples.
    const int cw = width_ + 1;
    std::vector<const float*> corner(size_t(cw) * (height_ + 1));
    for (int cy = 0; cy <= height_; ++cy) {
        if (cancelled()) return QImage();
        for (int cx = 0; cx <= width_; ++cx)
            corner[size_t(cy) * cw + cx] = shade((cx - cxPix) * pitch_.x, -(cy - cyPix) * pitch_.y);
    }
    for (int py = 0; py < height_; ++py) {
        if (cancelled()) return QImage();
        for (int px = 0; px < width_; ++px) {
            float* a = &acc[(size_t(py) * width_ + px) * 3];
            const float* c0 = corner[size_t(py) * cw + px];
            if (c0 == corner[size_t(py) * cw + px + 1] && c0 == corner[size_t(py + 1) * cw + px] &&
                c0 == corner[size_t(py + 1) * cw + px + 1]) {
                for (int c = 0; c < 3; ++c) a[c] = c0[c];
                continue;
            }
            float sum[3] = {0, 0, 0};
            for (int sy = 0; sy < kSuper; ++sy) {
                for (int sx = 0; sx < kSuper; ++sx) {
                    const float* col = shade((px + (sx + 0.5) * sub - cxPix) * pitch_.x,
                                             -(py + (sy + 0.5) * sub - cyPix) * pitch_.y);
                    sum[0] += col[0];
                    sum[1] += col[1];
                    sum[2] += col[2];
                }
            }
            for (int c = 0; c < 3; ++c) a[c] = sum[c] / float(kSuper * kSuper);
        }
    }
    // The lens blurs a little: a separable [1 6 1] / 8 kernel, edges clamped; the rings keep
    // their plateau, as a focused instrument's do.
    std::vector<float> tmp(acc.size());
    for (int y = 0; y < height_; ++y)
        for (int x = 0; x < width_; ++x)
            for (int c = 0; c < 3; ++c) {
                const int xl = std::max(0, x - 1), xr = std::min(width_ - 1, x + 1);
                tmp[(size_t(y) * width_ + x) * 3 + c] =
                    0.125f * acc[(size_t(y) * width_ + xl) * 3 + c] + 0.75f * acc[(size_t(y) * width_ + x) * 3 + c] +
                    0.125f * acc[(size_t(y) * width_ + xr) * 3 + c];
            }
    QImage img(width_, height_, QImage::Format_RGB32);
    for (int y = 0; y < height_; ++y) {
        uchar* line = img.scanLine(y);
        const int yu = std::max(0, y - 1), yd = std::min(height_ - 1, y + 1);
        for (int x = 0; x < width_; ++x) {
            for (int c = 0; c < 3; ++c) {
                const float v = 0.125f * tmp[(size_t(yu) * width_ + x) * 3 + c] + 0.75f * tmp[(size_t(y) * width_ + x) * 3 + c] +
                                0.125f * tmp[(size_t(yd) * width_ + x) * 3 + c];
                line[4 * x + c] = uchar(std::clamp(int(std::lround(v)), 0, 255));
            }
            line[4 * x + 3] = 0xff;
        }
    }
    return img;
}

}  // namespace norvix::sim

#include "SimulatedEye.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <random>

#include "EyeFace.h"
#include "InstrumentModel.h"

namespace norvix::sim {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kLimbusMm = 5.9;   // corneal radius: beyond it the sclera, which does not mirror
constexpr int kSuper = 4;           // sub-samples per pixel side: the pixel integrates its area
constexpr size_t kCacheSize = 6;    // a calibration walks four spheres; keep them all

}  // namespace

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

// A moving target: what the trace finds per pixel does not depend on the frame, only where the
// reflected ray meets the cone does (the working distance moves the cone along the axis). So the
// picture without reflections and, per mirror pixel, the reflecting point and the reflected ray
// are kept; each frame intersects those rays with the shifted cone, paints the rings, closes the
// lids of a blink and moves and blurs the whole.
struct Renderer::Still {
    std::vector<float> eye;  // 3 linear channels per pixel: the picture with no reflection
    struct Mirror {
        int32_t pixel;
        float x, y, z;        // reflecting point (mm; x, y from the instrument axis)
        float rx, ry, rz;     // reflected ray
        float weight;         // mirror share of the pixel times the light reaching it
        float base[3];        // what the mirror shows where it reflects no ring: iris, pupil, paint
        float ripple;         // a fresh tear film's unevenness there, -1.5..1.5 (see rippleAt)
    };
    std::vector<Mirror> mirrors;
    // Blinks: the lid skin as drawn at rest, reaching upRows above the picture and downRows
    // below it, so a closing lid slides its skin over the eye.
    bool lids = false;
    double upper = 0, lower = 0, meet = 0;  // margins at rest above / below the apex; where they meet
    int upRows = 0, downRows = 0;
    std::vector<uint32_t> skin;             // 0xRRGGBB rows of width
};

namespace {
constexpr uint8_t kMirrorBit = 0x80;  // a material seen through the cornea (or on the sphere)

// The tear film's effect on the rings, in ring periods along the cone (see compose).
constexpr double kBuildUpGrainMm = 0.8;   // size of the fresh film's unevenness
constexpr double kBuildUpPeriods = 0.15;  // how far it moves a ring's reflection, right after the blink
constexpr double kSpotGrainMm = 0.25;     // size of the broken film's irregularity
constexpr double kSpotShiftPeriods = 1.0; // how far it moves a ring's reflection where broken through
constexpr double kSpotBlurPeriods = 0.8;  // and over what span it spreads it (towards the local mean)

// A smooth random field over the plane, about -1.5..1.5: two octaves of value noise on a lattice
// of 64 x 64 random knots one unit apart, repeating. The same everywhere the program runs.
class Ripple {
public:
    Ripple() {
        std::mt19937 gen(20240611);
        for (float& k : knot_) k = float(double(gen()) / 2147483648.0 - 1.0);
    }
    float at(double x, double y) const { return octave(x, y) + 0.5f * octave(2 * x + 17.3, 2 * y + 5.1); }

private:
    static constexpr int kN = 64;
    float octave(double x, double y) const {
        const double fx = std::floor(x), fy = std::floor(y);
        const int ix = int(fx) & (kN - 1), iy = int(fy) & (kN - 1);
        const int jx = (ix + 1) & (kN - 1), jy = (iy + 1) & (kN - 1);
        float ax = float(x - fx), ay = float(y - fy);
        ax = ax * ax * (3 - 2 * ax);
        ay = ay * ay * (3 - 2 * ay);
        const float a = knot_[iy * kN + ix] + ax * (knot_[iy * kN + jx] - knot_[iy * kN + ix]);
        const float b = knot_[jy * kN + ix] + ax * (knot_[jy * kN + jx] - knot_[jy * kN + ix]);
        return a + ay * (b - a);
    }
    std::array<float, kN * kN> knot_{};
};

float rippleAt(double x, double y) {
    static const Ripple ripple;
    return ripple.at(x, y);
}

double smooth01(double x) {
    x = std::clamp(x, 0.0, 1.0);
    return x * x * (3 - 2 * x);
}
}  // namespace

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

Renderer::~Renderer() = default;

const QImage& Renderer::render(const Target& t) {
    if (t.moves()) return render(t, 0);
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

const QImage& Renderer::render(const Target& t, uint32_t frameNumber) {
    if (!t.moves()) return render(t);
    const Still* still = prepare(t);
    if (!still) return none_;
    compose(*still, t, motionAt(t, frameNumber, fps_), &moving_);
    return moving_;
}

void Renderer::liveFrame(const Target& t, uint32_t frameNumber, QImage* out) {
    const QImage& clean = render(t, frameNumber);
    if (clean.isNull()) {
        *out = QImage();
        return;
    }
    addSensorNoise(clean, frameNumber, out);
}

void Renderer::addSensorNoise(const QImage& clean, uint32_t frameNumber, QImage* out) const {
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

using namespace eye;

namespace {

// What the point (xe, ye) mm from the apex shows before any reflection. False with *m the face
// in front of the eye, the sclera or nothing; true where the surface can mirror the cone, with
// *m what lies behind the mirror (iris and pupil for an eye, nothing for a steel sphere) and the
// surface's sag and slope there.
bool mirrorAt(const Target& t, const Face& face, double xe, double ye, Material* m, double* sag, double* gx,
              double* gy) {
    const bool isEye = t.isEye();
    if (isEye) {
        *m = face.front(xe, ye);
        if (*m != kBlack) return false;
    }
    if (!targetSurface(t, xe, ye, sag, gx, gy)) {
        *m = isEye ? kSclera : kBlack;
        return false;
    }
    *m = kWall;
    if (isEye) *m = std::hypot(xe - t.pupilXMm, ye - t.pupilYMm) < t.pupilRadiusMm ? kPupil : kIris;
    return true;
}

}  // namespace

QImage Renderer::draw(const Target& t) const {
    const ConeGeometry& cone = *InstrumentModel::cone(coneType_);
    const bool isEye = t.isEye();
    const Face face(isEye ? t : Target());
    const bool shaded = isEye && t.upperLidMm > 0;
    // The eye (and face) sits off the axis by the fixation error; the cone does not move.
    const double fx = isEye ? t.fixationXMm : 0, fy = isEye ? t.fixationYMm : 0;
    // Linear intensities per channel (0..255) accumulated over the sub-samples.
    std::vector<float> acc(size_t(width_) * height_ * 3, 0.0f);
    const double cxPix = width_ / 2.0, cyPix = height_ / 2.0;
    const double sub = 1.0 / kSuper;
    // What one point of the image (x, y mm from the instrument axis) shows.
    auto shade = [&](double x, double y) -> Material {
        Material base = kBlack;
        double sag = 0, gx = 0, gy = 0;
        if (!mirrorAt(t, face, x - fx, y - fy, &base, &sag, &gx, &gy)) return base;
        // Outward normal (towards the camera) of z = -sag.
        const double nn = std::sqrt(gx * gx + gy * gy + 1);
        const Vec3 n{gx / nn, gy / nn, 1 / nn};
        double u = 0, back = 0;
        if (!InstrumentModel::traceToCone(cone, Vec3{x, y, -sag}, n, &u, &back)) return base;
        if (back >= 0) return back < InstrumentModel::kFixationLightMm ? kLight : base;
        for (int i = 1; i <= cone.rings; ++i) {
            if (u < cone.startU[i]) break;
            if (u < cone.edgeU[i]) return kRing;
        }
        return base;
    };
    auto colour = [&](Material m, double x, double y, float* out) { colourOf(m, x - fx, y - fy, t, out); };
    // Shade the pixel corners first; a pixel whose four corners agree is uniform (every
    // feature is wider than a pixel) and takes the colour of its centre, the others integrate
    // kSuper x kSuper sub-samples.
    const int cw = width_ + 1;
    std::vector<Material> corner(size_t(cw) * (height_ + 1));
    for (int cy = 0; cy <= height_; ++cy) {
        if (cancelled()) return QImage();
        for (int cx = 0; cx <= width_; ++cx)
            corner[size_t(cy) * cw + cx] = shade((cx - cxPix) * pitch_.x, -(cy - cyPix) * pitch_.y);
    }
    for (int py = 0; py < height_; ++py) {
        if (cancelled()) return QImage();
        for (int px = 0; px < width_; ++px) {
            float* a = &acc[(size_t(py) * width_ + px) * 3];
            const Material c0 = corner[size_t(py) * cw + px];
            const double x = (px + 0.5 - cxPix) * pitch_.x, y = -(py + 0.5 - cyPix) * pitch_.y;
            if (c0 == corner[size_t(py) * cw + px + 1] && c0 == corner[size_t(py + 1) * cw + px] &&
                c0 == corner[size_t(py + 1) * cw + px + 1]) {
                colour(c0, x, y, a);
            } else {
                float sum[3] = {0, 0, 0}, col[3];
                for (int sy = 0; sy < kSuper; ++sy) {
                    for (int sx = 0; sx < kSuper; ++sx) {
                        const double xs = (px + (sx + 0.5) * sub - cxPix) * pitch_.x;
                        const double ys = -(py + (sy + 0.5) * sub - cyPix) * pitch_.y;
                        colour(shade(xs, ys), xs, ys, col);
                        sum[0] += col[0];
                        sum[1] += col[1];
                        sum[2] += col[2];
                    }
                }
                for (int c = 0; c < 3; ++c) a[c] = sum[c] / float(kSuper * kSuper);
            }
            if (shaded && c0 != kSkin && c0 != kMargin && c0 != kLash) {
                const float f = float(face.light(x - fx, y - fy));
                for (int c = 0; c < 3; ++c) a[c] *= f;
            }
        }
    }
    if (isEye && t.defocusMm > 0) gaussianBlur(&acc, width_, height_, t.defocusMm / pitch_.x, t.defocusMm / pitch_.y);
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

const Renderer::Still* Renderer::prepare(const Target& t) {
    Target key = t;
    key.motion = Target::Motion();
    key.tearFilm = Target::TearFilm();
    Still* still = nullptr;
    for (auto it = stills_.begin(); it != stills_.end(); ++it) {
        if (it->first == key) {
            if (it != stills_.begin()) stills_.splice(stills_.begin(), stills_, it);
            still = stills_.front().second.get();
            break;
        }
    }
    const bool isEye = t.isEye();
    const double fx = isEye ? t.fixationXMm : 0, fy = isEye ? t.fixationYMm : 0;
    const double cxPix = width_ / 2.0, cyPix = height_ / 2.0;
    if (!still) {
        auto made = std::make_unique<Still>();
        const Face face(isEye ? t : Target());
        const bool shaded = isEye && t.upperLidMm > 0;
        // As draw's shade, with the reflection left out: the material, kMirrorBit where the
        // surface can reflect the cone.
        auto shade = [&](double x, double y) -> uint8_t {
            Material m = kBlack;
            double sag = 0, gx = 0, gy = 0;
            return mirrorAt(t, face, x - fx, y - fy, &m, &sag, &gx, &gy) ? uint8_t(m | kMirrorBit) : uint8_t(m);
        };
        auto colour = [&](uint8_t m, double x, double y, float* out) {
            colourOf(Material(m & ~kMirrorBit), x - fx, y - fy, t, out);
        };
        const int cw = width_ + 1;
        std::vector<uint8_t> corner(size_t(cw) * (height_ + 1));
        for (int cy = 0; cy <= height_; ++cy) {
            if (cancelled()) return nullptr;
            for (int cx = 0; cx <= width_; ++cx)
                corner[size_t(cy) * cw + cx] = shade((cx - cxPix) * pitch_.x, -(cy - cyPix) * pitch_.y);
        }
        made->eye.assign(size_t(width_) * height_ * 3, 0.0f);
        const double sub = 1.0 / kSuper;
        for (int py = 0; py < height_; ++py) {
            if (cancelled()) return nullptr;
            for (int px = 0; px < width_; ++px) {
                float* a = &made->eye[(size_t(py) * width_ + px) * 3];
                const uint8_t c0 = corner[size_t(py) * cw + px];
                const double x = (px + 0.5 - cxPix) * pitch_.x, y = -(py + 0.5 - cyPix) * pitch_.y;
                double mx = 0, my = 0, base[3] = {0, 0, 0};
                int mirrored = 0, samples = 1;
                if (c0 == corner[size_t(py) * cw + px + 1] && c0 == corner[size_t(py + 1) * cw + px] &&
                    c0 == corner[size_t(py + 1) * cw + px + 1]) {
                    colour(c0, x, y, a);
                    if (c0 & kMirrorBit) {
                        mirrored = 1;
                        mx = x, my = y;
                        for (int c = 0; c < 3; ++c) base[c] = a[c];
                    }
                } else {
                    samples = kSuper * kSuper;
                    float sum[3] = {0, 0, 0}, col[3];
                    for (int sy = 0; sy < kSuper; ++sy) {
                        for (int sx = 0; sx < kSuper; ++sx) {
                            const double xs = (px + (sx + 0.5) * sub - cxPix) * pitch_.x;
                            const double ys = -(py + (sy + 0.5) * sub - cyPix) * pitch_.y;
                            const uint8_t m = shade(xs, ys);
                            colour(m, xs, ys, col);
                            for (int c = 0; c < 3; ++c) sum[c] += col[c];
                            if (m & kMirrorBit) {
                                ++mirrored;
                                mx += xs, my += ys;
                                for (int c = 0; c < 3; ++c) base[c] += col[c];
                            }
                        }
                    }
                    for (int c = 0; c < 3; ++c) a[c] = sum[c] / float(samples);
                }
                float light = 1;
                const Material m0 = Material(c0 & ~kMirrorBit);
                if (shaded && m0 != kSkin && m0 != kMargin && m0 != kLash) {
                    light = float(face.light(x - fx, y - fy));
                    for (int c = 0; c < 3; ++c) a[c] *= light;
                }
                if (!mirrored) continue;
                // The ray of the pixel's mirror part, from where that part lies on average.
                mx /= mirrored, my /= mirrored;
                double sag = 0, gx = 0, gy = 0;
                if (!targetSurface(t, mx - fx, my - fy, &sag, &gx, &gy)) continue;
                const double nn = std::sqrt(gx * gx + gy * gy + 1);
                const double nx = gx / nn, ny = gy / nn, nz = 1 / nn, k = 2 * nz;
                Still::Mirror mi;
                mi.pixel = py * width_ + px;
                mi.x = float(mx), mi.y = float(my), mi.z = float(-sag);
                mi.rx = float(k * nx), mi.ry = float(k * ny), mi.rz = float(-1.0 + k * nz);
                mi.weight = float(mirrored) / float(samples) * light;
                for (int c = 0; c < 3; ++c) mi.base[c] = float(base[c] / mirrored);
                mi.ripple = rippleAt((mx - fx) / kBuildUpGrainMm, (my - fy) / kBuildUpGrainMm);
                made->mirrors.push_back(mi);
            }
        }
        stills_.emplace_front(key, std::move(made));
        if (stills_.size() > 2) stills_.pop_back();  // several megabytes each
        still = stills_.front().second.get();
    }
    if (isEye && (t.motion.blinksPerMin > 0 || t.tearFilm.on) && !still->lids) {
        // Margins at rest; a lid out of the picture comes from just beyond its edge. They meet
        // low on the cornea, the upper lid doing most of the travel.
        still->upper = t.upperLidMm > 0 ? t.upperLidMm : cyPix * pitch_.y - fy + 0.6;
        still->lower = t.lowerLidMm > 0 ? t.lowerLidMm : cyPix * pitch_.y + fy + 0.6;
        still->meet = -0.4 * still->lower;
        still->upRows = int(std::ceil((still->upper - still->meet + 0.1) / pitch_.y)) + 2;
        still->downRows = int(std::ceil((still->lower + still->meet + 0.1) / pitch_.y)) + 2;
        Target lid = t;
        lid.upperLidMm = still->upper;
        lid.lowerLidMm = still->lower;
        const int rows = height_ + still->upRows + still->downRows;
        still->skin.resize(size_t(rows) * width_);
        float col[3];
        for (int r = 0; r < rows; ++r) {
            const double ye = -(r - still->upRows + 0.5 - cyPix) * pitch_.y - fy;
            for (int px = 0; px < width_; ++px) {
                colourOf(kSkin, (px + 0.5 - cxPix) * pitch_.x - fx, ye, lid, col);
                still->skin[size_t(r) * width_ + px] = (uint32_t(std::lround(col[2])) << 16) |
                                                       (uint32_t(std::lround(col[1])) << 8) | uint32_t(std::lround(col[0]));
            }
        }
        still->lids = true;
    }
    return still;
}

namespace {

// out(x) = sum_j w[j] * in(x + first + j), edges clamped.
struct Kernel {
    int first = 0;
    std::vector<float> w;
};

// The lens's [1 6 1] / 8, a defocus Gaussian of `sigma` pixels and a move of the picture by
// `shift` pixels, to the nearest pixel, as one kernel. Interpolating between pixels would blur
// the rings by up to half a pixel depending on the fraction, which the live assessment would
// read as defocus; a whole-pixel step (0.02 mm) is well within what centring resolves.
Kernel frameKernel(double sigma, double shift) {
    std::vector<double> g{1.0};
    int half = 0;
    if (sigma > 0.2) {  // below that the Gaussian is all in its centre tap
        half = std::max(1, int(std::ceil(3 * sigma)));
        g.assign(size_t(2 * half + 1), 0.0);
        double sum = 0;
        for (int i = -half; i <= half; ++i) sum += g[size_t(i + half)] = std::exp(-0.5 * i * i / (sigma * sigma));
        for (double& v : g) v /= sum;
    }
    std::vector<double> lens(g.size() + 2, 0.0);
    for (size_t i = 0; i < g.size(); ++i) {
        lens[i] += 0.125 * g[i];
        lens[i + 1] += 0.75 * g[i];
        lens[i + 2] += 0.125 * g[i];
    }
    const double n = std::round(shift), f = 0;
    Kernel k;
    k.first = -half - 1 - int(n) - 1;
    k.w.assign(lens.size() + 1, 0.0f);
    for (size_t i = 0; i < lens.size(); ++i) {
        k.w[i + 1] += float((1 - f) * lens[i]);
        k.w[i] += float(f * lens[i]);
    }
    return k;
}

// dst[i] = sum_j k.w[j] * src_j[i] for i < n, src_j = src + j * stride (one row) or the row
// rows[j] (one column of rows). Blocks of eight keep the sums in registers, where the compiler
// vectorises them: this is most of a moving frame's time.
template <typename Source>
void convolveBlocks(const Kernel& k, Source source, float* __restrict dst, int n) {
    const size_t taps = k.w.size();
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        float s[8] = {0, 0, 0, 0, 0, 0, 0, 0};
        for (size_t j = 0; j < taps; ++j) {
            const float c = k.w[j];
            const float* __restrict in = source(j) + i;
            for (int l = 0; l < 8; ++l) s[l] += c * in[l];
        }
        for (int l = 0; l < 8; ++l) dst[i + l] = s[l];
    }
    for (; i < n; ++i) {
        float s = 0;
        for (size_t j = 0; j < taps; ++j) s += k.w[j] * source(j)[i];
        dst[i] = s;
    }
}

void convolve(const Kernel& k, const float* src, int stride, float* dst, int n) {
    convolveBlocks(k, [&](size_t j) { return src + j * size_t(stride); }, dst, n);
}

void convolve(const Kernel& k, const float* const* rows, float* dst, int n) {
    convolveBlocks(k, [&](size_t j) { return rows[j]; }, dst, n);
}

}  // namespace

// The tear film on the codes of the mirror pixels (code_ as compose finds it): right after the
// blink a weak unevenness moves every ring's reflection a little, fading as the film settles;
// where the film has broken, an irregular surface deflects the reflection (a smooth random shift
// of the code, as deep as the film has thinned) and spreads it over a span of the cone (the
// ring's contrast falls towards the local mean): *spread_ per pixel, in u. Outside a patch's
// radius nothing changes. False when no pixel has a spread.
bool Renderer::tearFilm(const Still& still, const Target& t, const MotionState& m, const ConeGeometry& c,
                        std::vector<float>* code) {
    if (!t.tearFilm.on) return false;
    const TearFilmState f = tearFilmAt(t, m.filmS);
    const double period = (c.edgeU[size_t(c.rings)] - c.edgeU[1]) / (c.rings - 1);  // u per ring
    float* codes = code->data();
    if (f.buildUp > 0) {
        const float a = float(kBuildUpPeriods * period * f.buildUp);
        for (const Still::Mirror& mi : still.mirrors) {
            float& v = codes[size_t(mi.pixel)];
            if (v >= -1.0f) v += a * mi.ripple;  // NaN and the back opening stay
        }
    }
    bool any = false;
    for (const TearFilmState::Patch& p : f.patches) any = any || p.broken();
    if (!any) return false;
    const bool isEye = t.isEye();
    const double fx = isEye ? t.fixationXMm : 0, fy = isEye ? t.fixationYMm : 0;
    const double cxPix = width_ / 2.0, cyPix = height_ / 2.0;
    spread_.assign(size_t(width_) * height_, 0.0f);
    for (size_t k = 0; k < f.patches.size(); ++k) {
        const TearFilmState::Patch& p = f.patches[k];
        if (!p.broken()) continue;
        const double rho = p.radiusMm, edge = std::min(0.2, 0.4 * rho);
        const double shift = kSpotShiftPeriods * period * p.depth, blur = kSpotBlurPeriods * period * p.depth;
        // Each spot its own part of the irregular field.
        const double ox = 9.7 * double(k) + 3.1, oy = 23.3 * double(k) + 7.9;
        // The pixels whose corneal point (the pixel's centre less the fixation) can lie inside.
        const int x0 = std::max(0, int(std::floor((p.xMm + fx - rho) / pitch_.x + cxPix)));
        const int x1 = std::min(width_ - 1, int(std::ceil((p.xMm + fx + rho) / pitch_.x + cxPix)));
        const int y0 = std::max(0, int(std::floor(cyPix - (p.yMm + fy + rho) / pitch_.y)));
        const int y1 = std::min(height_ - 1, int(std::ceil(cyPix - (p.yMm + fy - rho) / pitch_.y)));
        for (int py = y0; py <= y1; ++py) {
            const double ye = -(py + 0.5 - cyPix) * pitch_.y - fy, dy = ye - p.yMm;
            for (int px = x0; px <= x1; ++px) {
                const size_t i = size_t(py) * width_ + px;
                float& v = codes[i];
                if (!(v >= -1.0f)) continue;
                const double xe = (px + 0.5 - cxPix) * pitch_.x - fx, dx = xe - p.xMm;
                const double r2 = dx * dx + dy * dy;
                if (r2 >= rho * rho) continue;
                const double w = smooth01((rho - std::sqrt(r2)) / edge);
                v += float(w * shift * rippleAt(xe / kSpotGrainMm + ox, ye / kSpotGrainMm + oy));
                spread_[i] = std::max(spread_[i], float(w * blur));
            }
        }
    }
    return true;
}

void Renderer::compose(const Still& still, const Target& t, const MotionState& m, QImage* out) {
    const size_t pixels = size_t(width_) * height_;
    const bool isEye = t.isEye();
    const double fx = isEye ? t.fixationXMm : 0, fy = isEye ? t.fixationYMm : 0;
    const double cxPix = width_ / 2.0, cyPix = height_ / 2.0;
    work_ = still.eye;
    if (!m.closed()) {
        // Where each mirror pixel's ray meets the cone moved by the distance error, as
        // InstrumentModel::traceToCone finds it: u along the wall, or -2 - (radius) where it
        // leaves through the back opening, NaN where it escapes.
        const ConeGeometry cone = InstrumentModel::shifted(*InstrumentModel::cone(coneType_), m.dzMm);
        code_.assign(pixels, std::numeric_limits<float>::quiet_NaN());
        for (const Still::Mirror& mi : still.mirrors) {
            double u = 0, back = 0;
            if (!InstrumentModel::followRay(cone, {mi.x, mi.y, mi.z}, {mi.rx, mi.ry, mi.rz}, &u, &back)) continue;
            code_[size_t(mi.pixel)] = float(back < 0 ? u : -2.0 - back);
        }
        // Painted length of the cone below u, to box-filter the rings over a pixel's span of u.
        const ConeGeometry& c = cone;
        std::array<double, 34> below{};
        for (int i = 1; i <= c.rings; ++i) below[size_t(i)] = below[size_t(i - 1)] + (c.edgeU[size_t(i)] - c.startU[size_t(i)]);
        auto painted = [&](double u) {
            const int n = int(std::upper_bound(c.startU.begin() + 1, c.startU.begin() + 1 + c.rings, u) - c.startU.begin()) - 1;
            if (n < 1) return 0.0;
            return below[size_t(n - 1)] + std::min(u - c.startU[size_t(n)], c.edgeU[size_t(n)] - c.startU[size_t(n)]);
        };
        const float* spread = tearFilm(still, t, m, c, &code_) ? spread_.data() : nullptr;
        float ring[3], light[3];
        colourOf(kRing, 0, 0, t, ring);
        colourOf(kLight, 0, 0, t, light);
        for (const Still::Mirror& mi : still.mirrors) {
            const size_t p = size_t(mi.pixel);
            const float code = code_[p];
            if (std::isnan(code)) continue;
            const bool wall = code >= -1.0f;
            auto same = [&](float v) { return !std::isnan(v) && (v >= -1.0f) == wall; };
            // Span of the code over the pixel from its neighbours of the same kind.
            auto slope = [&](bool hasLo, size_t lo, bool hasHi, size_t hi) {
                const float l = hasLo ? code_[lo] : std::numeric_limits<float>::quiet_NaN();
                const float h = hasHi ? code_[hi] : std::numeric_limits<float>::quiet_NaN();
                if (same(l) && same(h)) return 0.5 * (double(h) - l);
                if (same(h)) return double(h) - code;
                if (same(l)) return double(code) - l;
                return 0.0;
            };
            const int px = mi.pixel % width_, py = mi.pixel / width_;
            const double sx = slope(px > 0, p - 1, px < width_ - 1, p + 1);
            const double sy = slope(py > 0, p - size_t(width_), py < height_ - 1, p + size_t(width_));
            const double spreadU = spread ? double(spread[p]) : 0.0;
            const double span = std::sqrt(sx * sx + sy * sy + spreadU * spreadU);
            const float* colour = ring;
            double cover = 0;
            if (wall) {
                if (span > 1e-7) {
                    cover = (painted(code + 0.5 * span) - painted(code - 0.5 * span)) / span;
                } else {
                    const int n = int(std::upper_bound(c.startU.begin() + 1, c.startU.begin() + 1 + c.rings, double(code)) -
                                      c.startU.begin()) - 1;
                    cover = n >= 1 && code < c.edgeU[size_t(n)] ? 1 : 0;
                }
            } else {
                const double rb = -2.0 - code;
                colour = light;
                cover = span > 1e-7 ? std::clamp((InstrumentModel::kFixationLightMm - rb) / span + 0.5, 0.0, 1.0)
                                    : (rb < InstrumentModel::kFixationLightMm ? 1 : 0);
            }
            if (cover <= 0) continue;
            float* o = &work_[3 * p];
            const float k = float(cover) * mi.weight;
            for (int ch = 0; ch < 3; ++ch) o[ch] += k * (colour[ch] - mi.base[ch]);
        }
    }
    if (still.lids && m.lidClosure > 0) {
        // The lids of a blink: margins as Face draws them, the upper one slid down and the lower
        // one up by the closure (a little past each other when closed); their skin slides with
        // them. The moving lids carry no lashes.
        const double upper = still.upper + m.lidClosure * (still.meet - 0.1 - still.upper);
        const double lower = -still.lower + m.lidClosure * (still.meet + 0.1 + still.lower);
        const int upShift = int(std::lround((still.upper - upper) / pitch_.y));
        const int downShift = int(std::lround((lower + still.lower) / pitch_.y));
        float margin[3];
        colourOf(kMargin, 0, 0, t, margin);
        for (int py = 0; py < height_; ++py) {
            const double ye = -(py + 0.5 - cyPix) * pitch_.y - fy;
            const uint32_t* up = &still.skin[size_t(py - upShift + still.upRows) * width_];
            const uint32_t* down = &still.skin[size_t(py + downShift + still.upRows) * width_];
            for (int px = 0; px < width_; ++px) {
                const double xe = (px + 0.5 - cxPix) * pitch_.x - fx;
                const double over = ye - (upper - xe * xe / (2 * Face::kUpperBend));
                const double under = (lower + xe * xe / (2 * Face::kLowerBend)) - ye;
                for (const auto& [d, skin] : {std::pair{over, up[px]}, std::pair{under, down[px]}}) {
                    // Covered share of the pixel, then margin or skin.
                    const double cover = std::clamp(d / pitch_.y + 0.5, 0.0, 1.0);
                    if (cover <= 0) continue;
                    float lid[3] = {float(skin & 0xff), float((skin >> 8) & 0xff), float((skin >> 16) & 0xff)};
                    if (d < Face::kMarginMm) std::copy(margin, margin + 3, lid);
                    float* o = &work_[3 * (size_t(py) * width_ + px)];
                    for (int ch = 0; ch < 3; ++ch) o[ch] += float(cover) * (lid[ch] - o[ch]);
                }
            }
        }
    }
    // The whole eye moves with the apex: the picture is shifted rather than traced anew. That
    // leaves out how the rings shift on the cornea when it moves off the cone's axis (the
    // fixacao offset is traced exactly; the motion's is not), a second-order change for the
    // fraction of a millimetre the eye wanders. Then the defocus of the static blur and of the
    // distance error, and the lens blur, all in one separable pass.
    const double dxMm = m.xMm - fx, dyMm = m.yMm - fy;
    const double sigmaMm = std::hypot(isEye ? t.defocusMm : 0.0, InstrumentModel::defocusSigmaMm(m.dzMm));
    const Kernel kx = frameKernel(sigmaMm / pitch_.x, dxMm / pitch_.x);
    const Kernel ky = frameKernel(sigmaMm / pitch_.y, -dyMm / pitch_.y);
    const int w = width_, h = height_;
    pass_.resize(pixels * 3);
    {
        const int left = std::max(0, -kx.first), right = std::max(0, kx.first + int(kx.w.size()) - 1);
        row_.resize(size_t(w + left + right) * 3);
        for (int y = 0; y < h; ++y) {
            const float* src = &work_[size_t(y) * w * 3];
            for (int i = -left; i < w + right; ++i) {
                const int x = std::clamp(i, 0, w - 1);
                for (int ch = 0; ch < 3; ++ch) row_[size_t(i + left) * 3 + ch] = src[size_t(x) * 3 + ch];
            }
            convolve(kx, &row_[size_t(kx.first + left) * 3], 3, &pass_[size_t(y) * w * 3], w * 3);
        }
    }
    if (out->size() != QSize(w, h) || out->format() != QImage::Format_RGB32) *out = QImage(w, h, QImage::Format_RGB32);
    row_.resize(size_t(w) * 3);
    std::vector<const float*> rows(ky.w.size());
    for (int y = 0; y < h; ++y) {
        float* acc = row_.data();
        for (size_t j = 0; j < ky.w.size(); ++j)
            rows[j] = &pass_[size_t(std::clamp(y + ky.first + int(j), 0, h - 1)) * w * 3];
        convolve(ky, rows.data(), acc, w * 3);
        uchar* line = out->scanLine(y);
        for (int x = 0; x < w; ++x) {
            for (int ch = 0; ch < 3; ++ch) line[4 * x + ch] = uchar(std::clamp(int(acc[3 * x + ch] + 0.5f), 0, 255));
            line[4 * x + 3] = 0xff;
        }
    }
}

}  // namespace norvix::sim

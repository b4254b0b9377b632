// The colours of the eye's materials and the blur of the still picture (see EyeFace.h).
#include "EyeFace.h"

namespace norvix::sim::eye {

// Colour (B, G, R, 0..255) of a material at (x, y) mm from the apex.
void colourOf(Material m, double x, double y, const Target& t, float* out) {
    auto set = [&](double b, double g, double r) {
        out[0] = float(b);
        out[1] = float(g);
        out[2] = float(r);
    };
    switch (m) {
        case kRing: set(236, 236, 232); return;
        case kLight: set(250, 250, 250); return;
        case kWall: set(14, 14, 16); return;  // dark paint between the rings
        case kPupil: set(6, 6, 8); return;
        case kLash: set(18, 16, 17); return;
        case kBlack: set(4, 4, 4); return;
        case kMargin: set(58, 64, 88); return;
        case kIris: {
            // Brown-green stroma: radial fibres, the collarette a little out from the pupil, a
            // darker pupillary ruff and limbal ring. Never as dark as the pupil.
            const double px = x - t.pupilXMm, py = y - t.pupilYMm;
            const double rho = std::hypot(px, py), phi = std::atan2(py, px);
            const double fib = 0.5 + 0.5 * std::sin(61 * phi + 2.3 * std::sin(7 * phi) + 3 * rho);
            const double fine = 0.5 + 0.5 * std::sin(137 * phi + 9 * rho + 1.3);
            const double collar = std::exp(-std::pow((rho - t.pupilRadiusMm - 0.8) / 0.18, 2));
            double k = 0.78 + 0.25 * fib + 0.15 * fine + 0.3 * collar;
            if (rho < t.pupilRadiusMm + 0.12) k *= 0.8;
            const double r = std::hypot(x, y);
            if (r > 4.9) k *= 1 - 0.4 * std::min(1.0, (r - 4.9) / 0.9);
            set(k * 30 + 6 * fine, k * 46, k * 62 + 8 * fib);
            return;
        }
        case kSclera: {
            // White of the eye, a little grey under the instrument's light, with a few vessels.
            const double w = std::sin(3.1 * y + 1.7 * std::sin(2.3 * x) + 0.7 * x);
            const double w2 = std::sin(4.3 * x - 2.1 * std::sin(1.9 * y));
            const double vessel = 0.6 * std::exp(-w * w / 0.004) + 0.4 * std::exp(-w2 * w2 / 0.003);
            set(132 - 50 * vessel, 136 - 45 * vessel, 150 - 15 * vessel);
            return;
        }
        case kSkin: {
            // Lid skin: darker where it rounds over the margin, a crease higher up, fine texture.
            const double above = std::max(y - (t.upperLidMm > 0 && y > 0 ? t.upperLidMm - x * x / 28 : 0), 0.0);
            const double below = std::max((t.lowerLidMm > 0 && y < 0 ? -t.lowerLidMm + x * x / 40 : 0) - y, 0.0);
            const double d = y > 0 ? above : below;
            double k = 0.72 + 0.28 * std::min(1.0, d / 0.7);
            if (y > 0) k *= 1 - 0.15 * std::exp(-std::pow((d - 2.2) / 0.15, 2));
            k *= 0.97 + 0.03 * std::sin(23 * y + 3 * std::sin(1.3 * x)) +
                 0.02 * std::sin(5.1 * x + 2.3 * std::sin(3.7 * y));
            set(k * 108, k * 124, k * 150);
            return;
        }
    }
}

// Separable Gaussian blur of an interleaved 3-channel float picture, edges clamped.
void gaussianBlur(std::vector<float>* img, int w, int h, double sigmaX, double sigmaY) {
    auto kernel = [](double sigma) {
        const int half = std::max(1, int(std::ceil(3 * sigma)));
        std::vector<float> k(size_t(2 * half + 1));
        double sum = 0;
        for (int i = -half; i <= half; ++i)
            sum += k[size_t(i + half)] = float(std::exp(-0.5 * i * i / (sigma * sigma)));
        for (float& v : k) v = float(v / sum);
        return k;
    };
    std::vector<float> tmp(img->size());
    const std::vector<float> kx = kernel(sigmaX), ky = kernel(sigmaY);
    const int hx = int(kx.size() / 2), hy = int(ky.size() / 2);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                float s = 0;
                for (int i = -hx; i <= hx; ++i)
                    s += kx[size_t(i + hx)] * (*img)[(size_t(y) * w + std::clamp(x + i, 0, w - 1)) * 3 + c];
                tmp[(size_t(y) * w + x) * 3 + c] = s;
            }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                float s = 0;
                for (int i = -hy; i <= hy; ++i)
                    s += ky[size_t(i + hy)] * tmp[(size_t(std::clamp(y + i, 0, h - 1)) * w + x) * 3 + c];
                (*img)[(size_t(y) * w + x) * 3 + c] = s;
            }
}

}  // namespace norvix::sim::eye

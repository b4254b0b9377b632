// Shared by TopographyProcessor.cpp and TopographyMeasure.cpp only: a frame's grey levels and the measurement on them.
#pragma once

#include <QString>
#include <algorithm>
#include <array>
#include <cstddef>
#include <memory>

#include "TopographyProcessor.h"
#include "capture/sim/InstrumentModel.h"

namespace norvix::outside {

using norvix::sim::ConeGeometry;

struct Gray {
    int w = 0, h = 0;
    std::unique_ptr<float[]> v;
    float at(double x, double y) const {
        const int x0 = int(x), y0 = int(y);
        const float fx = float(x - x0), fy = float(y - y0);
        const float* p = &v[size_t(y0) * w + x0];
        return (p[0] * (1 - fx) + p[1] * fx) * (1 - fy) + (p[w] * (1 - fx) + p[w + 1] * fx) * fy;
    }
    float px(int x, int y) const { return v[size_t(y) * w + x]; }
};

// A frame's grey levels, 0.25 * (red + 2 green + blue), with what the first checks need, all
// gathered in the one pass over the pixels: the levels of every fourth pixel of every fourth
// row, the saturated pixels, and per level the count and summed positions of every second
// pixel of every second row (the bright ones give the rough centre once the threshold is known;
// the positions are multiples of 0.5 whose sums stay exact in any order).
struct GreyFrame {
    static constexpr int kLevels = 4 * 255 + 1;  // red + 2 green + blue
    Gray g;
    std::array<int, kLevels> sampled{};
    size_t samples = 0;
    size_t saturated = 0;
    std::array<int, kLevels> gridCount{};
    std::array<double, kLevels> gridX{}, gridY{};

    static float value(int level) { return 0.25f * float(level); }

    // level(pixel) gives red + 2 green + blue of the 4-byte pixel at pixel; row(y) the first
    // pixel of row y.
    template <typename Row, typename Level>
    void fill(int width, int height, const Row& row, const Level& level) {
        g.w = width;
        g.h = height;
        g.v.reset(new float[size_t(width) * height]);
        for (int y = 0; y < height; ++y) {
            const uchar* in = row(y);
            float* out = g.v.get() + size_t(y) * width;
            size_t bright = 0;
            for (int x = 0; x < width; ++x) {
                const int l = level(in + 4 * x);
                out[x] = value(l);
                bright += l >= 1000 ? 1 : 0;  // 250 and above
            }
            saturated += bright;
            if ((y & 1) == 0)
                for (int x = 0; x < width; x += 2) {
                    const int l = level(in + 4 * x);
                    ++gridCount[size_t(l)];
                    gridX[size_t(l)] += x + 0.5;
                    gridY[size_t(l)] += y + 0.5;
                }
            if ((y & 3) == 0)
                for (int x = 0; x < width; x += 4) {
                    ++sampled[size_t(level(in + 4 * x))];
                    ++samples;
                }
        }
    }

    // The level at fraction q of the sampled pixels, as the k-th smallest of them.
    float percentile(double q) const {
        if (samples == 0) return 0;
        const size_t k = std::min(samples - 1, size_t(q * double(samples - 1)));
        size_t below = 0;
        for (int l = 0; l < kLevels; ++l) {
            below += size_t(sampled[size_t(l)]);
            if (below > k) return value(l);
        }
        return value(kLevels - 1);
    }
};

struct Settings {
    const ConeGeometry* cone;
    int rings;
    const CalibrationCoefficients* coefficients;
    int threads;
};

// The measurement on the grey levels, in TopographyMeasure.cpp.
bool measureGrey(const Settings& settings, GreyFrame& frame, int frameWidth, int frameHeight, double toFrameX,
                 double mmPerPixel, Topography* out, QString* error);

}  // namespace norvix::outside

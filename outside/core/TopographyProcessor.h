#pragma once
// Reduces a front image of the Placido rings to the exam's measurement data by inverting the
// instrument model: ring edges along 360 meridians from the vertex reflection, their
// positions on the cornea, the surface slope there, and the axial radius of curvature.
#include <QByteArray>
#include <QImage>
#include <QString>
#include <array>
#include <vector>

#include "modules/ModuleContract.h"

namespace norvix::outside {

// Per-ring straight lines (radius = a + b * measured radius) from the calibration.
class CalibrationCoefficients {
public:
    // Reads "Coef.txt" (two lines per ring: a, then b). False, with a Portuguese reason, when
    // the file is missing or not made of numbers; the caller then uses the model alone.
    bool load(const QString& path, QString* error);
    int rings() const { return int(a_.size()); }
    // A ring without data ("0" and "0") or beyond the file keeps the model's value.
    double apply(int ring, double measured) const;

private:
    std::vector<double> a_, b_;
};

struct Topography {
    double centreX = 0, centreY = 0;     // vertex reflection, pixels of the frame measured
    double d[NORVIX_MERIDIANS][NORVIX_RING_COLUMNS] = {};
    double m[NORVIX_MERIDIANS][NORVIX_RING_COLUMNS] = {};
    int32_t found[NORVIX_MERIDIANS] = {};
    // Centre x, centre y (frame pixels), radius (rows), detection confidence (percent of the
    // meridians whose pupil border agrees with the circle); all 0 when no pupil was found.
    int32_t pupil[4] = {};
    // Percentage of ring points found: rings covered by the lids or lashes lower it.
    double confidence = 0;
    int rings = 0;                       // ring count measured for
};

// What a calibration sphere measured: per ring from the first, the mean radius over the
// meridians that reached it; the list ends at the first ring seen on fewer than half of them.
std::vector<double> sphereRingRadii(const Topography& t);

class TopographyProcessor {
public:
    // Cone type 1 to 4 and the ring count wanted (at most the cone's).
    TopographyProcessor(int coneType, int rings);

    void setCoefficients(const CalibrationCoefficients* coefficients) { coefficients_ = coefficients; }
    // Threads the meridians are shared among (1 or 2; 2 by default where the machine has two
    // cores). The results do not depend on it; a caller that already measures several frames
    // side by side asks for 1.
    void setThreads(int threads);

    // Decodes a captured bitmap (the capture module's 32-bit BMP, or any BMP Qt reads) of a
    // size the instrument delivers. False with a Portuguese reason otherwise.
    static bool decodeBitmap(const QByteArray& bytes, QImage* image, QString* error);

    // True only for a measurable eye; otherwise *error says why (black, saturated, no rings,
    // eye off the frame, ...). *out is filled only on success.
    bool process(const QImage& image, Topography* out, QString* error) const;
    // decodeBitmap then process, the same results and reasons; the capture's own layout is read
    // straight to grey levels.
    bool processBitmap(const QByteArray& bytes, Topography* out, QString* error) const;
    // True when processBitmap reads these bytes straight to grey levels: a bitmap decodeBitmap
    // accepts, in the capture's own layout (32 bits, uncompressed) at a size of square pixels.
    static bool readsDirectly(const QByteArray& bytes);

private:
    int coneType_;
    int rings_;
    const CalibrationCoefficients* coefficients_ = nullptr;
    int threads_ = 1;
};

}  // namespace norvix::outside

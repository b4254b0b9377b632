#pragma once
// Drawing of a curvature map: the colour scale and the colour-coded picture.
#include <QColor>
#include <QImage>
#include <QString>
#include <functional>
#include <vector>

#include "outside/math/CornealMap.h"

namespace norvix::outside {

// 26 colours from flat (dark blue) to steep (dark red), one per step of the scale.
class ColourScale {
public:
    static constexpr int kLevels = 26;
    // The standardized absolute scale: 1.5 D steps from 28 to 65.5 D.
    static ColourScale absolute();
    // A fixed increment centred on the exam's mean power; a non-positive or absurd increment
    // gives the absolute scale.
    static ColourScale fixedIncrement(double increment, double centrePower);
    // A difference scale centred on 0 whose 26 steps cover +-maxAbs, in a rounded step of at
    // least 0.25 D; the two middle colours meet at 0.
    static ColourScale symmetric(double maxAbs);
    // Fitted to one exam: the smallest usual step (0.25 D and up) whose 26 levels, centred on the
    // middle of [lowest, highest], hold the whole range without clipping either end.
    static ColourScale normalised(double lowest, double highest);

    double low() const { return low_; }
    double step() const { return step_; }
    double levelValue(int i) const { return low_ + i * step_; }
    int levelOf(double power) const;
    QColor colour(int level) const;
    QColor colourOf(double power) const { return colour(levelOf(power)); }

private:
    double low_ = 28.0, step_ = 1.5;
};

struct MapOptions {
    bool grid = false;
    bool pointKeratometry = false;
    QColor pointColour = Qt::black;
};

// Parses a colour as the settings may hold it: "clBlack" style names, "$00BBGGRR" or decimal
// BGR values, "#RRGGBB" or any name QColor knows. Unknown texts give black.
QColor colourFromSetting(const QString& text);

class MapPainter {
public:
    static constexpr double kFieldMm = 11.0;  // diameter shown

    // The map on a square picture of `size` pixels; outside the measured zone light grey.
    static QImage drawMap(const CornealMap& map, MapKind kind, const ColourScale& scale, int size,
                          const MapOptions& options);
    // Any value over the field (r mm, meridian degrees; NaN outside), e.g. a difference of two
    // exams, coloured on `scale`; outside the value light grey.
    static QImage drawField(const std::function<double(double, double)>& value, const ColourScale& scale, int size,
                            const MapOptions& options);
    // The scale bar: one box per level with its value, steepest at the top.
    static QImage drawScale(const ColourScale& scale, int width, int height);
};

}  // namespace norvix::outside

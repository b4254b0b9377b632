#pragma once
// The maps drawn from the rebuilt corneal height rather than from the ring curvature: elevation
// against the best-fit sphere and refractive power through the anterior surface. What the
// elevation and refractive modules share: the arithmetic, the window and the small picture.
#include <QDialog>
#include <QDoubleSpinBox>
#include <QStringList>
#include <cmath>
#include <memory>
#include <optional>

#include "outside/math/BestFitSphere.h"
#include "outside/math/CornealSurface.h"
#include "MapPainter.h"
#include "MapView.h"
#include "modules/ModuleContract.h"

class QLabel;

namespace norvix::outside {

enum class SurfaceMapKind { Elevation, Refractive };

// Refractive index of the cornea used for the refractive map.
constexpr double kCornealIndex = 1.3375;

// Refractive power (D) at (x, y) mm: a ray parallel to the axis refracted by Snell's law through
// the surface, in the plane of its meridian, and the power of the distance from the vertex plane
// to where it meets the axis inside the eye. NaN where the surface is not defined.
double refractivePower(const CornealSurface& surface, double x, double y);

// The zone (radius, mm) the best-fit sphere is fitted over: without a wish (0) the widest zone up
// to 8 mm the rings cover, in whole quarter millimetres of radius; a wished diameter beyond the
// measured zone is clamped to it, and *notice then says which zone was used.
double fittingZone(double wishedDiameter, double measuredRadius, QString* notice);

// One exam's surface with its best-fit sphere over the zone fittingZone gives.
struct SurfaceMapData {
    CornealSurface surface;
    BestFitSphere sphere;
    double lowest = 0, highest = 0;  // the map's range over the zone: um or D

    // False, with a Portuguese reason, when the exam does not give a surface of 3 mm at least.
    bool load(SurfaceMapKind kind, const TMatrizAngAnel* d, const TMatrizAngAnel* m, const TMatrizAng* meridians,
              int rings, QString* error, double wishedZone = 0, QString* zoneNotice = nullptr);
    // Fits the sphere again over another zone (diameter, mm) of the same surface.
    bool refit(SurfaceMapKind kind, double wishedZone, QString* error, QString* zoneNotice);
    // The value shown at r mm from the vertex on the given meridian: um or D; NaN outside the zone.
    double value(SurfaceMapKind kind, double r, double thetaDeg) const;
};

struct SurfaceMapRequest {
    SurfaceMapKind kind = SurfaceMapKind::Elevation;
    const TMatrizAngAnel* d = nullptr;
    const TMatrizAngAnel* m = nullptr;
    const TMatrizAng* meridians = nullptr;
    QStringList header;  // patient header lines
    const TInfosQV* infos = nullptr;
};

// Elevation: symmetric about 0. Refractive: the scale of the curvature maps.
ColourScale surfaceScale(const SurfaceMapRequest& request, const SurfaceMapData& data);

class SurfaceMapWindow : public QDialog {
public:
    SurfaceMapWindow(const SurfaceMapRequest& request, QWidget* parent = nullptr,
                     std::optional<PupilMm> pupil = std::nullopt);
    bool hasMap() const { return hasMap_; }
    QString summaryText() const;  // the figures beside the map, or why there is no map
    QString zoneNoticeText() const;
    MapPanel* panel() const { return panel_; }
    // Elevation: fits the sphere over another zone (diameter, mm) and draws the map again.
    void chooseZone(double diameter);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    MapContent content() const;
    SurfaceMapRequest request_;
    std::optional<PupilMm> pupil_;
    std::shared_ptr<SurfaceMapData> data_;
    double steepAxis_ = NAN, flatAxis_ = NAN;
    bool hasMap_ = false;
    QLabel* summary_ = nullptr;
    QLabel* zoneNotice_ = nullptr;
    QDoubleSpinBox* zone_ = nullptr;
    MapPanel* panel_ = nullptr;
};

// The entry points of the two modules, guarded: a window that says what is missing instead of
// a map, and a small picture with the keratometric results the report editor reads.
int32_t surfaceMapProcess(SurfaceMapKind kind, void* hostWindow, ModuleStream* front, double centreX, double centreY,
                          ModuleStream* header, const TMatrizAngAnel* m, const TMatrizAng* meridians,
                          const TMatrizAngAnel* d, const TPupila* pupil, const TInfosQV* infos);
int32_t surfaceMapVisualize(SurfaceMapKind kind, ModuleStream* image, const TMatrizAngAnel* m,
                            const TMatrizAng* meridians, const TMatrizAngAnel* d, TResultadoMapa* result,
                            const TInfosQV* infos);

}  // namespace norvix::outside

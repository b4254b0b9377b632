#pragma once
// The window a single-map module shows: the colour-coded map of one exam with its scale, the
// patient header, the simulated keratometry and the display options of the configuration.
#include <QDialog>
#include <QStringList>
#include <array>
#include <optional>

#include "outside/math/CornealMap.h"
#include "MapPainter.h"
#include "MapView.h"
#include "modules/ModuleContract.h"

class QLabel;

namespace norvix::outside {

// What one map call hands over, already copied out of the host's arguments.
struct MapRequest {
    MapKind kind = MapKind::Axial;
    const TMatrizAngAnel* d = nullptr;
    const TMatrizAngAnel* m = nullptr;
    const TMatrizAng* meridians = nullptr;
    QStringList header;                          // patient header lines
    const TInfosQV* infos = nullptr;
    std::optional<std::array<double, 3>> ortho;  // Sag, Div, Raio
    std::optional<PupilMm> pupil;                // when the record has one
};

// The scale the configuration asks for: the absolute one, or the fixed increment of INCMAP
// when AUTOINCMAP is set.
ColourScale scaleFor(const TInfosQV* infos, double meanPower);
MapOptions optionsFor(const TInfosQV* infos);
// The scales a power map offers the operator, the configured one first: the fixed increment
// when AUTOINCMAP is set, the standardised absolute scale, and one fitted to the exam's range.
std::vector<MapContent::Scale> powerScales(const TInfosQV* infos, double lowest, double highest);

class MapWindow : public QDialog {
    Q_OBJECT
public:
    MapWindow(const MapRequest& request, QWidget* parent = nullptr);

    // True when the exam's data made a map; otherwise the window shows why not.
    bool hasMap() const { return hasMap_; }
    QString warningText() const;
    QString keratometryText() const;
    // Keratoconus indices and the screening line (axial curvature, whichever the map kind).
    QString keratoconusText() const;
    QString headerText() const;
    QString clinicText() const;
    QString orthoText() const;
    MapPanel* panel() const { return panel_; }

private:
    bool hasMap_ = false;
    QLabel* warning_ = nullptr;
    QLabel* keratometry_ = nullptr;
    QLabel* keratoconus_ = nullptr;
    QLabel* header_ = nullptr;
    QLabel* clinic_ = nullptr;
    QLabel* ortho_ = nullptr;
    MapPanel* panel_ = nullptr;
};

// Shows the window modally, parented to the host's window; returns when it is closed (at
// once after drawing when NORVIX_MODULE_AUTOCLOSE=1).
void showMapWindow(const MapRequest& request, void* hostWindow);

// Visualizar: the nine results and a small PNG picture of the map (or of the reason there is
// none). False when the data made no map; the results are then zero.
bool smallMap(const MapRequest& request, std::array<double, 9>* results, QByteArray* png);

// The small picture as PNG: the map drawn at kSmallMapSize, or, when map is null, a card saying
// why there is none.
constexpr int kSmallMapSize = 160;
QByteArray smallMapPng(const QImage& map, const QString& why);

}  // namespace norvix::outside

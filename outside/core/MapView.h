#pragma once
// The map as a window shows it: the colour field as large as the widget allows, the angle marks
// around it, the mm grid, the pupil and the keratometry meridians over it, and what lies under
// the mouse pointer. Every map window (curvature, elevation, refractive) builds on it.
//
// Orientation: the map is drawn as the camera sees the eye, which is the examiner's view of the
// patient, for both eyes alike and never mirrored. Angles follow the usual clinical convention:
// 0° at the examiner's right, counted counter-clockwise, 90° up. On a right eye the examiner's
// right (0°) is the nasal side; on a left eye it is the temporal side.
#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <cmath>
#include <functional>
#include <optional>
#include <vector>

#include "MapPainter.h"
#include "modules/ModuleContract.h"

class QComboBox;
class QLabel;
class QPushButton;
class QStatusBar;
class QTimer;

namespace norvix::outside {

enum class Eye { Unknown, Right, Left };
// From the patient header's eye line ("Olho Direito" / "Olho Esquerdo").
Eye eyeOf(const QStringList& header);

// Where the 11 mm field sits in a widget, and how its pixels relate to positions on the eye.
struct MapFrame {
    QRectF disc;  // the square holding the field's circle

    // The largest field that fits `area` leaving `margin` pixels on every side for the marks.
    static MapFrame fitting(const QSizeF& area, double margin);
    double pxPerMm() const { return disc.width() / MapPainter::kFieldMm; }
    QPointF centre() const { return disc.center(); }
    // Widget point of (x, y) mm from the vertex, y up.
    QPointF point(double xMm, double yMm) const;
    // (distance from the vertex in mm, meridian in degrees 0 to 360) under a widget point;
    // nothing outside the field.
    std::optional<std::pair<double, double>> polarAt(const QPointF& p) const;
};

// One angle mark: its angle and the widget point its text is centred on.
struct AngleMark {
    int degrees;
    QPointF position;
};
// 0° to 330° every 30°, `gap` pixels outside the field, in the clinical orientation (which is the
// same for both eyes: only the nasal and temporal sides change places).
std::vector<AngleMark> angleMarks(const MapFrame& frame, double gap);
// True when the nasal side is at the examiner's right (0°); nothing when the eye is not known.
std::optional<bool> nasalAtRight(Eye eye);

// The pupil in mm from the vertex (y up).
struct PupilMm {
    double x = 0, y = 0, radius = 0;
};
// The pupil record (centre x, centre y, radius in frame pixels, ...) against the vertex
// reflection (centre x, y in frame pixels), scaled with the pixel pitch of the frame size the
// exam was measured on (the instrument's 640 x 480 when not known). Nothing when the record is
// empty or does not describe a pupil over the map.
std::optional<PupilMm> pupilInMm(const TPupila* pupil, double centreX, double centreY, QSize frame = QSize());

// Below this astigmatism (D) the keratometry axes are noise and are not drawn.
constexpr double kDrawnAstigmatism = 0.1;

// What a map window hands its view.
struct MapContent {
    // The shown value at (r mm, meridian degrees); NaN where there is none.
    std::function<double(double, double)> value;
    // The colour field on a square picture of the given size, on the given scale.
    std::function<QImage(const ColourScale&, int)> render;
    // The status line for a value at a position ("Poder: ... D   Raio: ... mm" and the like).
    std::function<QString(double value)> describe;
    QString unit;  // of the scale's step: "D" or "µm"
    struct Scale {
        QString name;
        ColourScale scale;
    };
    std::vector<Scale> scales;  // the operator's choice; the first is shown first
    Eye eye = Eye::Unknown;
    bool grid = false;
    std::optional<PupilMm> pupil;
    // Simulated keratometry meridians (degrees 0 to 180); NaN when not drawn.
    double steepAxis = NAN, flatAxis = NAN;
};

class MapView : public QWidget {
    Q_OBJECT
public:
    explicit MapView(MapContent content, QWidget* parent = nullptr);

    MapFrame frame() const;
    // The status line for the point under p: value, distance from the vertex and angle; empty
    // outside the field or where the map has no value.
    QString readoutAt(const QPointF& p) const;
    const ColourScale& scale() const { return content_.scales[size_t(scaleIndex_)].scale; }
    void setScaleIndex(int index);
    const MapContent& content() const { return content_; }
    void setContent(MapContent content);

    QSize sizeHint() const override { return QSize(520, 520); }
    QSize minimumSizeHint() const override { return QSize(300, 300); }

signals:
    void pointed(const QString& readout);

protected:
    void paintEvent(QPaintEvent*) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void leaveEvent(QEvent*) override;

private:
    double margin() const;
    MapContent content_;
    int scaleIndex_ = 0;
    QImage field_;  // the colour field at the size last rendered
    int fieldScale_ = -1;
    QTimer* rerender_ = nullptr;  // a resize shows the old field scaled, then renders it anew
};

// The colour bar, stretched to its widget.
class ScaleBar : public QWidget {
public:
    explicit ScaleBar(const ColourScale& scale, QWidget* parent = nullptr);
    void setScale(const ColourScale& scale);
    QSize sizeHint() const override { return QSize(72, 440); }
    QSize minimumSizeHint() const override { return QSize(72, 260); }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    ColourScale scale_;
};

// The map, its colour bar with the step, and the controls a map window offers: the scale choice,
// the status line with the pointer's readout and the PNG export. The window places the controls
// (the status line across its whole width, where the readout has room).
class MapPanel : public QWidget {
    Q_OBJECT
public:
    explicit MapPanel(MapContent content, QWidget* parent = nullptr);
    MapView* view() const { return view_; }
    QComboBox* scaleChoice() const { return scaleChoice_; }
    QStatusBar* statusLine() const { return status_; }
    QPushButton* exportButton() const { return export_; }
    QString stepText() const;
    // Another map in the same panel (the elevation against another sphere); the scale choice
    // starts again from the first.
    void setContent(MapContent content);
    // The picture that is exported: the map with its marks and its colour bar.
    QImage picture() const;
    // What identifies the exported picture: the lines printed above the map (patient, eye, date,
    // map kind) and the file name proposed ("<patient> <eye> <dd-MM-yyyy> <map>.png").
    void setExportIdentity(const QStringList& headerLines, const QString& fileName);
    // The exported picture: the header lines above picture().
    QImage exportedPicture() const;
    QString proposedFileName() const { return proposedName_; }
    // Asks for a file name and writes the picture there; a failure is shown in Portuguese.
    void exportPng();

private:
    MapView* view_ = nullptr;
    ScaleBar* bar_ = nullptr;
    QLabel* step_ = nullptr;
    QWidget* pictureArea_ = nullptr;
    QComboBox* scaleChoice_ = nullptr;
    QStatusBar* status_ = nullptr;
    QPushButton* export_ = nullptr;
    QStringList exportHeader_;
    QString proposedName_ = QStringLiteral("mapa.png");
    void showScale();
};

// The export identity of a map window from the exam's header lines (name, code, RG, eye, date,
// time, ...) and the map's name.
void setExportIdentity(MapPanel* panel, const QStringList& header, const QString& mapName);

// A map window's first size: most of the screen, so that the map comes up large.
void sizeForMap(QWidget* window);

// Writes a picture as PNG atomically: the file appears whole or not at all. False, with a
// Portuguese reason, when it cannot be written.
bool savePng(const QImage& image, const QString& path, QString* error);

}  // namespace norvix::outside

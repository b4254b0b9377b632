#include "SurfaceMaps.h"

#include <QKeyEvent>

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>
#include <array>
#include <cmath>
#include <cstring>
#include <exception>

#include "outside/math/CornealMap.h"
#include "MapModule.h"
#include "MapWindow.h"
#include "ModuleIo.h"
#include "ModuleSupport.h"

namespace norvix::outside {

namespace {

constexpr double kPi = 3.14159265358979323846;


int ringsOf(const TInfosQV* infos) { return infos ? int(infos->NumAneis) : 0; }

QString title(SurfaceMapKind kind) {
    return kind == SurfaceMapKind::Elevation ? QStringLiteral("Mapa de Elevação") : QStringLiteral("Mapa Refrativo");
}

QString summary(SurfaceMapKind kind, const SurfaceMapData& data) {
    const QString zone = decimal(2 * data.sphere.zoneRadius(), 1);
    if (kind == SurfaceMapKind::Elevation)
        return QStringLiteral("Elevação (µm) sobre a esfera de melhor ajuste\nRaio da esfera: %1 mm\nZona: %2 mm\n"
                              "Mínima: %3 µm\nMáxima: %4 µm")
            .arg(decimal(data.sphere.radius(), 2), zone, decimal(data.lowest, 1), decimal(data.highest, 1));
    return QStringLiteral("Poder refrativo (D), índice %1\nZona: %2 mm\nMínimo: %3 D\nMáximo: %4 D")
        .arg(decimal(kCornealIndex, 4), zone, decimal(data.lowest, 2), decimal(data.highest, 2));
}

}  // namespace

double refractivePower(const CornealSurface& surface, double x, double y) {
    // Slope along the meridian by central differences; near the vertex the meridian is taken a
    // little way out, where the paraxial limit is already reached.
    const double r = std::max(std::hypot(x, y), 0.1), a = std::atan2(y, x), dr = 0.05;
    const double c = std::cos(a), s = std::sin(a);
    const double h = surface.height(r * c, r * s);
    const double slope = (surface.height((r + dr) * c, (r + dr) * s) - surface.height((r - dr) * c, (r - dr) * s)) / (2 * dr);
    if (!std::isfinite(h) || !std::isfinite(slope) || !(slope > 0)) return NAN;
    const double tilt = std::atan(slope);
    const double bend = tilt - std::asin(std::sin(tilt) / kCornealIndex);
    const double focus = h + r / std::tan(bend);  // mm from the vertex plane to the axis crossing
    return 1000.0 * kCornealIndex / focus;
}

double fittingZone(double wishedDiameter, double measuredRadius, QString* notice) {
    if (notice) notice->clear();
    const double widest = std::floor(measuredRadius * 4 + 1e-9) / 4;  // quarter millimetres
    if (!(wishedDiameter > 0)) return std::min(4.0, widest);
    const double wished = wishedDiameter / 2;
    if (wished <= widest + 1e-9) return wished;
    if (notice)
        *notice = QStringLiteral("A zona pedida (%1 mm) passa da zona medida; foi usada a zona de %2 mm.")
                      .arg(decimal(wishedDiameter, 1), decimal(2 * widest, 1));
    return widest;
}

bool SurfaceMapData::load(SurfaceMapKind kind, const TMatrizAngAnel* d, const TMatrizAngAnel* m,
                          const TMatrizAng* meridians, int rings, QString* error, double wishedZone,
                          QString* zoneNotice) {
    lowest = highest = 0;
    if (zoneNotice) zoneNotice->clear();
    if (!surface.build(d, m, meridians, rings, error)) return false;
    return refit(kind, wishedZone, error, zoneNotice);
}

bool SurfaceMapData::refit(SurfaceMapKind kind, double wishedZone, QString* error, QString* zoneNotice) {
    const double zone = fittingZone(wishedZone, surface.zoneRadius(), zoneNotice);
    if (zone < 1.5) {
        if (error) *error = QStringLiteral("A zona medida (%1 mm) é menor que 3 mm.").arg(decimal(2 * surface.zoneRadius(), 1));
        return false;
    }
    if (!sphere.fit(surface, zone, error)) return false;
    double lo = INFINITY, hi = -INFINITY;
    for (double r = 0; r <= zone + 1e-9; r += 0.1)
        for (int deg = 0; deg < 360; deg += 2) {
            const double v = value(kind, r, deg);
            if (!std::isfinite(v)) continue;
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    if (!(lo <= hi)) {
        if (error) *error = QStringLiteral("A superfície não permite calcular o mapa.");
        return false;
    }
    lowest = lo;
    highest = hi;
    return true;
}

double SurfaceMapData::value(SurfaceMapKind kind, double r, double thetaDeg) const {
    if (!(r <= sphere.zoneRadius() + 1e-9)) return NAN;
    const double x = r * std::cos(thetaDeg * kPi / 180), y = r * std::sin(thetaDeg * kPi / 180);
    if (kind == SurfaceMapKind::Elevation) return 1000.0 * sphere.elevation(surface, x, y);
    return refractivePower(surface, x, y);
}

ColourScale surfaceScale(const SurfaceMapRequest& request, const SurfaceMapData& data) {
    if (request.kind == SurfaceMapKind::Elevation)
        return ColourScale::symmetric(std::max(std::abs(data.lowest), std::abs(data.highest)));
    return scaleFor(request.infos, 0.5 * (data.lowest + data.highest));
}

MapContent SurfaceMapWindow::content() const {
    MapContent c;
    const auto data = data_;
    const SurfaceMapKind kind = request_.kind;
    c.value = [data, kind](double r, double deg) { return data->value(kind, r, deg); };
    c.render = [data, kind](const ColourScale& scale, int size) {
        return MapPainter::drawField([&](double r, double deg) { return data->value(kind, r, deg); }, scale, size,
                                     MapOptions());
    };
    if (kind == SurfaceMapKind::Elevation) {
        c.describe = [](double um) { return QStringLiteral("Elevação: %1 µm").arg(decimal(um, 1)); };
        c.unit = QStringLiteral("µm");
        c.scales.push_back({QStringLiteral("Simétrica"), surfaceScale(request_, *data_)});
    } else {
        c.describe = [](double power) { return QStringLiteral("Poder refrativo: %1 D").arg(decimal(power, 2)); };
        c.unit = QStringLiteral("D");
        c.scales = powerScales(request_.infos, data_->lowest, data_->highest);
    }
    c.eye = eyeOf(request_.header);
    c.grid = request_.infos && request_.infos->ExibeGrade;
    c.pupil = pupil_;
    c.steepAxis = steepAxis_;
    c.flatAxis = flatAxis_;
    return c;
}

SurfaceMapWindow::SurfaceMapWindow(const SurfaceMapRequest& req, QWidget* parent, std::optional<PupilMm> pupil)
    : QDialog(parent), request_(req), pupil_(pupil), data_(std::make_shared<SurfaceMapData>()) {
    setObjectName(QStringLiteral("frmMapaSuperficie"));
    setWindowTitle(title(req.kind));
    setModal(true);
    auto* outer = new QVBoxLayout(this);
    auto* root = new QHBoxLayout;
    outer->addLayout(root, 1);
    auto* side = new QVBoxLayout;
    root->addLayout(side);

    // Patient name, eye, date and time, as the curvature windows show them.
    QStringList lines;
    for (int i : {0, 3, 4, 5})
        if (i < req.header.size() && !req.header[i].trimmed().isEmpty()) lines << req.header[i].trimmed();
    if (req.header.isEmpty()) lines << QStringLiteral("Cabeçalho do paciente ausente.");
    auto* header = new QLabel(lines.join(QLatin1Char('\n')), this);
    header->setObjectName(QStringLiteral("lblCabecalho"));
    side->addWidget(header);

    QString why;
    hasMap_ = data_->load(req.kind, req.d, req.m, req.meridians, ringsOf(req.infos), &why);
    if (!hasMap_) {
        summary_ = new QLabel(QStringLiteral("Não é possível desenhar o mapa: %1").arg(why), this);
        summary_->setStyleSheet(QStringLiteral("color: #b00000; font-weight: bold;"));
        summary_->setWordWrap(true);
        summary_->setMinimumWidth(360);
        root->addWidget(summary_, 1);
    } else {
        // The simulated keratometry meridians, from the ring curvature as the axial map has them.
        CornealMap map;
        if (map.load(req.d, req.m, req.meridians, ringsOf(req.infos), nullptr)) {
            const Keratometry k = map.keratometry(MapKind::Axial);
            if (std::fabs(k.astigmatism()) >= kDrawnAstigmatism) {
                steepAxis_ = k.steepAxis;
                flatAxis_ = k.flatAxis;
            }
        }
        summary_ = new QLabel(summary(req.kind, *data_), this);
        side->addWidget(summary_);
        panel_ = new MapPanel(content(), this);
        setExportIdentity(panel_, req.header, windowTitle());
        root->addWidget(panel_, 1);
        if (req.kind == SurfaceMapKind::Elevation) {
            auto* zoneRow = new QHBoxLayout;
            zoneRow->addWidget(new QLabel(QStringLiteral("Zona de ajuste:"), this));
            auto* zone = new QDoubleSpinBox(this);
            zone->setObjectName(QStringLiteral("edtZona"));
            zone->setRange(3.0, 9.0);
            zone->setSingleStep(0.5);
            zone->setDecimals(1);
            zone->setSuffix(QStringLiteral(" mm"));
            zone->setLocale(QLocale(QLocale::Portuguese, QLocale::Brazil));  // 8,0 as the figures beside it
            zone->setValue(2 * data_->sphere.zoneRadius());
            zone->setKeyboardTracking(false);
            connect(zone, &QDoubleSpinBox::valueChanged, this, &SurfaceMapWindow::chooseZone);
            // Enter applies the zone typed; it is not the dialog's Enter (no button pressed).
            zone->installEventFilter(this);
            zone_ = zone;
            zoneRow->addWidget(zone);
            side->addLayout(zoneRow);
            zoneNotice_ = new QLabel(this);
            zoneNotice_->setObjectName(QStringLiteral("lblAvisoZona"));
            zoneNotice_->setStyleSheet(QStringLiteral("color: #b00000;"));
            zoneNotice_->setWordWrap(true);
            zoneNotice_->setMaximumWidth(260);
            zoneNotice_->hide();
            side->addWidget(zoneNotice_);
        }
        if (panel_->view()->content().scales.size() > 1) {  // elevation has its symmetric scale only
            auto* scaleRow = new QHBoxLayout;
            scaleRow->addWidget(new QLabel(QStringLiteral("Escala:"), this));
            scaleRow->addWidget(panel_->scaleChoice(), 1);
            side->addLayout(scaleRow);
        }
        side->addWidget(panel_->exportButton());
    }
    summary_->setObjectName(QStringLiteral("lblResumo"));
    side->addStretch(1);
    auto* close = new QPushButton(QStringLiteral("Fechar"), this);
    close->setObjectName(QStringLiteral("btnFechar"));
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    side->addWidget(close);
    if (panel_) {
        outer->addWidget(panel_->statusLine());
        sizeForMap(this);
    }
}

void SurfaceMapWindow::chooseZone(double diameter) {
    if (!hasMap_) return;
    QString why, notice;
    auto next = std::make_shared<SurfaceMapData>(*data_);
    if (!next->refit(request_.kind, diameter, &why, &notice)) {
        notice = QStringLiteral("Não foi possível ajustar a esfera nessa zona: %1").arg(why);
    } else {
        data_ = next;
        summary_->setText(summary(request_.kind, *data_));
        panel_->setContent(content());
    }
    if (zoneNotice_) {
        zoneNotice_->setText(notice);
        zoneNotice_->setVisible(!notice.isEmpty());
    }
}

QString SurfaceMapWindow::summaryText() const { return summary_->text(); }
QString SurfaceMapWindow::zoneNoticeText() const { return zoneNotice_ ? zoneNotice_->text() : QString(); }

int32_t surfaceMapProcess(SurfaceMapKind kind, void* hostWindow, ModuleStream* front, double centreX, double centreY,
                          ModuleStream* header, const TMatrizAngAnel* m, const TMatrizAng* meridians,
                          const TMatrizAngAnel* d, const TPupila* pupil, const TInfosQV* infos) {
    return guardedEntry("Mapa", [&]() -> int32_t {
        SurfaceMapRequest request{kind, d, m, meridians, readStreamLines(header, 64 * 1024), infos};
        SurfaceMapWindow window(request, static_cast<QWidget*>(hostWindow), pupilOfCall(pupil, centreX, centreY, front));
        runModal(window);
        return 1;
    });
}

int32_t surfaceMapVisualize(SurfaceMapKind kind, ModuleStream* image, const TMatrizAngAnel* m,
                            const TMatrizAng* meridians, const TMatrizAngAnel* d, TResultadoMapa* result,
                            const TInfosQV* infos) {
    try {
        // The report editor reads keratometric figures from whichever map module it is given,
        // so the result record holds the axial ones here too.
        std::array<double, 9> values{};
        SurfaceMapData data;
        CornealMap map;
        QString why;
        const bool ok = data.load(kind, d, m, meridians, ringsOf(infos), &why) &&
                        map.load(d, m, meridians, ringsOf(infos), &why);
        QImage picture;
        if (ok) {
            values = map.results(MapKind::Axial);
            const SurfaceMapRequest request{kind, d, m, meridians, {}, infos};
            MapOptions options = optionsFor(infos);
            options.pointKeratometry = false;  // too small to read
            picture = MapPainter::drawField([&](double r, double deg) { return data.value(kind, r, deg); },
                                            surfaceScale(request, data), kSmallMapSize, options);
        }
        if (result) std::memcpy(*result, values.data(), sizeof(TResultadoMapa));
        writeToStream(image, smallMapPng(picture, why));
        return ok ? 1 : 0;
    } catch (const std::exception& e) {
        reportFailure("Mapa", QString::fromLocal8Bit(e.what()));
        return 0;
    }
}

bool SurfaceMapWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == zone_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            zone_->interpretText();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace norvix::outside

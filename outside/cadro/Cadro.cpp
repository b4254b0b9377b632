// The contact-lens module, ProcessaLente: rigid gas-permeable lens fitting on the rebuilt
// cornea. The window proposes a first lens from the simulated keratometry, lets the operator
// change base curve, diameter and edge lift, and shows the fluorescein pattern the lens would
// give resting on this cornea, with the tear layer at its centre and edge and its power through
// the tear lens.
//
// The exam holds no refraction: the power is worked out for the refraction in the window's box,
// which opens at 0 (emmetropia), and the window says so. The front image, centre and paths
// are not needed: the rings' d and m matrices carry the shape.
#include <QDialog>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>
#include <exception>
#include <type_traits>

#include "modules/ModuleContract.h"
#include "outside/math/CornealMap.h"
#include "outside/math/CornealSurface.h"
#include "outside/math/LensFit.h"
#include "outside/core/MapModule.h"
#include "outside/core/ModuleIo.h"
#include "outside/core/ModuleSupport.h"

using namespace norvix::outside;

namespace {

const QLocale& br() {
    static const QLocale l(QLocale::Portuguese, QLocale::Brazil);
    return l;
}
// The figures as the map windows write them (no "-0,00" for a tear lens of no power).
QString num(double v, int decimals) { return decimal(v, decimals); }

constexpr int kPictureSide = 380;
constexpr double kFieldMm = 12.0;  // width of cornea the picture spans, enough for an 11 mm lens
const QColor kNothing(230, 230, 230);  // no measured cornea here
const QColor kCornea(18, 24, 80);      // cornea under the cobalt light, outside the lens

// The colour of a tear layer under the cobalt-blue light: deep blue where the lens touches,
// fluorescein green as the layer thickens.
QColor fluorescein(double tearUm) {
    const double b = fluoresceinBrightness(tearUm);
    auto mix = [b](int dark, int bright) { return int(std::lround(dark + b * (bright - dark))); };
    return QColor(mix(25, 120), mix(35, 255), mix(95, 90));
}

// The fluorescein pattern under the lens and the cornea around it where it was measured.
QImage picture(const CornealSurface& surface, const LensFit& fit) {
    QImage image(kPictureSide, kPictureSide, QImage::Format_RGB32);
    image.fill(kNothing);
    const double mmPerPixel = kFieldMm / kPictureSide, edge = fit.lens().diameterMm / 2;
    for (int i = 0; i < kPictureSide; ++i)
        for (int j = 0; j < kPictureSide; ++j) {
            // Meridian 0 to the right and 90 up, as the maps are drawn.
            const double x = (j + 0.5) * mmPerPixel - kFieldMm / 2, y = kFieldMm / 2 - (i + 0.5) * mmPerPixel;
            if (std::hypot(x, y) <= edge) {
                const double t = fit.tearAt(x, y);
                if (std::isfinite(t)) image.setPixel(j, i, fluorescein(t * 1000).rgb());
            } else if (std::isfinite(surface.height(x, y))) {
                image.setPixel(j, i, kCornea.rgb());
            }
        }
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF centre(kPictureSide / 2.0, kPictureSide / 2.0);
    p.setPen(QPen(QColor(200, 200, 200), 1.5));
    p.drawEllipse(centre, edge / mmPerPixel, edge / mmPerPixel);
    p.setPen(QPen(QColor(200, 200, 200), 1, Qt::DashLine));
    const double zone = fit.lens().opticZoneMm() / 2 / mmPerPixel;
    p.drawEllipse(centre, zone, zone);
    // Where the lens bears.
    const double a = fit.contactMeridianDeg() * M_PI / 180, r = fit.contactRadiusMm() / mmPerPixel;
    const QPointF touch = centre + QPointF(r * std::cos(a), -r * std::sin(a));
    p.setPen(QPen(QColor(255, 80, 80), 2));
    p.drawLine(touch + QPointF(-5, -5), touch + QPointF(5, 5));
    p.drawLine(touch + QPointF(-5, 5), touch + QPointF(5, -5));
    return image;
}

// The brightness curve as a strip, 0 to 200 µm, with its scale written under it.
QImage legend() {
    constexpr int kWidth = 300, kLeft = 14, kStrip = kWidth - 2 * kLeft - 10;
    QImage image(kWidth, 40, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    for (int x = 0; x < kStrip; ++x) {
        p.setPen(fluorescein(200.0 * x / (kStrip - 1)));
        p.drawLine(kLeft + x, 2, kLeft + x, 16);
    }
    p.setPen(Qt::black);
    QFont f = p.font();
    f.setPixelSize(11);
    p.setFont(f);
    for (int um = 0; um <= 200; um += 50) {
        const int x = kLeft + um * (kStrip - 1) / 200;
        p.drawLine(x, 16, x, 20);
        const QString text = um == 200 ? QStringLiteral("200 µm") : QString::number(um);
        p.drawText(QRect(x - 30, 21, 60, 16), Qt::AlignHCenter | Qt::AlignTop, text);
    }
    return image;
}

struct Request {
    CornealSurface surface;
    Keratometry k;
    QString error;  // empty when surface and keratometry were measured
    QStringList header;
};

class LensWindow : public QDialog {
public:
    LensWindow(const Request& r, QWidget* parent) : QDialog(parent), request_(r) {
        setWindowTitle(QStringLiteral("Adaptação de lente rígida gás-permeável"));
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(new QLabel(
            (r.header.isEmpty() ? QStringList{QStringLiteral("Cabeçalho do paciente ausente.")} : readableHeader(r.header))
                .join(QStringLiteral("  ·  "))));
        warning_ = new QLabel;
        warning_->setStyleSheet(QStringLiteral("color: #b00000"));
        warning_->setWordWrap(true);
        layout->addWidget(warning_);

        auto* row = new QHBoxLayout;
        auto* left = new QVBoxLayout;
        picture_ = new QLabel;
        picture_->setFixedSize(kPictureSide, kPictureSide);
        left->addWidget(picture_);
        legendCaption_ = new QLabel(QStringLiteral("Espessura da lágrima: escuro é toque, verde é acúmulo"));
        left->addWidget(legendCaption_);
        legend_ = new QLabel;
        legend_->setPixmap(QPixmap::fromImage(legend()));
        left->addWidget(legend_);
        left->addStretch();
        row->addLayout(left);

        auto* right = new QVBoxLayout;
        auto* form = new QFormLayout;
        auto box = [&](const QString& label, double lo, double hi, double step, int decimals, const QString& unit) {
            auto* s = new QDoubleSpinBox;
            s->setLocale(br());
            s->setRange(lo, hi);
            s->setSingleStep(step);
            s->setDecimals(decimals);
            s->setSuffix(unit);
            form->addRow(label, s);
            return s;
        };
        baseCurve_ = box(QStringLiteral("Curva base:"), LensDesign::kMinBaseCurveMm, LensDesign::kMaxBaseCurveMm,
                         0.05, 2, QStringLiteral(" mm"));
        diameter_ = box(QStringLiteral("Diâmetro:"), LensDesign::kMinDiameterMm, LensDesign::kMaxDiameterMm, 0.1, 1,
                        QStringLiteral(" mm"));
        edgeLift_ = box(QStringLiteral("Levantamento de borda:"), 0, LensDesign::kMaxEdgeLiftMm, 0.01, 2,
                        QStringLiteral(" mm"));
        refraction_ = box(QStringLiteral("Refração (esfera):"), -20, 20, 0.25, 2, QStringLiteral(" D"));
        right->addLayout(form);
        auto* first = new QPushButton(QStringLiteral("Lente inicial"));
        right->addWidget(first, 0, Qt::AlignLeft);
        figures_ = new QLabel;
        figures_->setTextInteractionFlags(Qt::TextSelectableByMouse);
        right->addWidget(figures_);
        right->addStretch();
        row->addLayout(right);
        layout->addLayout(row);
        auto* buttons = new QHBoxLayout;
        buttons->addStretch();
        auto* close = new QPushButton(QStringLiteral("Fechar"));
        close->setObjectName(QStringLiteral("btnFechar"));
        connect(close, &QPushButton::clicked, this, &QDialog::accept);
        buttons->addWidget(close);
        layout->addLayout(buttons);
        // "Lente inicial" is no Enter target: Enter in a figure applies it, it does not reset the lens.
        first->setAutoDefault(false);

        const bool usable = r.error.isEmpty();
        if (!usable) {
            warning_->setText(r.error);
            picture_->hide();
            legend_->hide();
            legendCaption_->hide();
            for (QWidget* w : std::initializer_list<QWidget*>{baseCurve_, diameter_, edgeLift_, refraction_, first})
                w->setEnabled(false);
            return;
        }
        proposal_ = proposeLens(r.k);
        setLens(proposal_);
        for (QDoubleSpinBox* s : {baseCurve_, diameter_, edgeLift_, refraction_})
            connect(s, &QDoubleSpinBox::valueChanged, this, [this](double) { recompute(); });
        connect(first, &QPushButton::clicked, this, [this] { setLens(proposal_); });
        recompute();
    }

private:
    void setLens(const LensDesign& l) {
        updating_ = true;
        baseCurve_->setValue(l.baseCurveMm);
        diameter_->setValue(l.diameterMm);
        edgeLift_->setValue(l.edgeLiftMm);
        updating_ = false;
        recompute();
    }

    void recompute() {
        if (updating_) return;
        LensDesign lens;
        lens.baseCurveMm = baseCurve_->value();
        lens.diameterMm = diameter_->value();
        lens.edgeLiftMm = edgeLift_->value();
        QString why;
        if (!fit_.fit(request_.surface, lens, &why)) {
            warning_->setText(why);
            picture_->clear();
            figures_->clear();
            return;
        }
        picture_->setPixmap(QPixmap::fromImage(picture(request_.surface, fit_)));

        const Keratometry& k = request_.k;
        const double zone = 2 * request_.surface.zoneRadius();
        QStringList notes;
        if (fit_.beyondMeasuredZone())
            notes << QStringLiteral("Córnea medida em %1 mm de diâmetro: a lente de %2 mm passa dela; a periferia "
                                    "não medida fica sem desenho e o apoio foi achado só na zona medida.")
                         .arg(num(zone, 1), num(lens.diameterMm, 1));
        if (refraction_->value() == 0)
            notes << QStringLiteral("O exame não traz refração: potência calculada para emetropia. "
                                    "Informe a esfera da refração para corrigi-la.");
        warning_->setText(notes.join(QLatin1Char('\n')));

        const double sphere = refraction_->value();
        auto um = [](double mm) {
            return std::isfinite(mm) ? num(mm * 1000, 0) + QStringLiteral(" µm") : QStringLiteral("não medida");
        };
        QString text;
        text += QStringLiteral("K plano %1 D (%2 mm) a %3°, K curvo %4 D a %5°\n")
                    .arg(num(k.flatPower, 2), num(kKeratometric / k.flatPower, 2))
                    .arg(clinicalAxis(k.flatAxis))
                    .arg(num(k.steepPower, 2))
                    .arg(clinicalAxis(k.steepAxis));
        text += QStringLiteral("Lente inicial: curva base %1 mm, diâmetro %2 mm, borda %3 mm\n")
                    .arg(num(proposal_.baseCurveMm, 2), num(proposal_.diameterMm, 1), num(proposal_.edgeLiftMm, 2));
        text += QStringLiteral("Zona óptica: %1 mm\n\n").arg(num(lens.opticZoneMm(), 1));
        text += QStringLiteral("Lente lacrimal: %1 D\n").arg(num(tearLensPower(lens.baseCurveMm, k.flatPower), 2));
        text += QStringLiteral("Potência da lente: %1 D (refração %2 D)\n\n")
                    .arg(num(lensPower(lens.baseCurveMm, k.flatPower, sphere), 2), num(sphere, 2));
        text += QStringLiteral("Lágrima no centro: %1\n").arg(um(fit_.centralTearMm()));
        if (std::isfinite(fit_.edgeTearMm()) || fit_.outerRadiusMm() <= 0)
            text += QStringLiteral("Lágrima na borda: %1\n").arg(um(fit_.edgeTearMm()));
        else
            text += QStringLiteral("Lágrima na borda: não medida; a %1 mm do centro: %2\n")
                        .arg(num(fit_.outerRadiusMm(), 2), um(fit_.outerTearMm()));
        text += QStringLiteral("Apoio a %1 mm do centro, meridiano %2°\n")
                    .arg(num(fit_.contactRadiusMm(), 2))
                    .arg(int(std::lround(fit_.contactMeridianDeg())));
        text += QStringLiteral("Zona medida da córnea: %1 mm").arg(num(zone, 1));
        figures_->setText(text);
    }

    Request request_;
    LensDesign proposal_;
    LensFit fit_;
    bool updating_ = false;
    QDoubleSpinBox *baseCurve_ = nullptr, *diameter_ = nullptr, *edgeLift_ = nullptr, *refraction_ = nullptr;
    QLabel *warning_ = nullptr, *picture_ = nullptr, *legendCaption_ = nullptr, *legend_ = nullptr,
           *figures_ = nullptr;
};

}  // namespace

// The catalogue gives the module its button on the browser's map tool bar through these lines;
// the browser then calls ProcessaLente for this file name.
NORVIX_MODULE_EXPORT void InfoMapa(ModuleStream* out) { mapInfo(out, "Adaptação de Lente de Contato"); }

NORVIX_MODULE_EXPORT int32_t ProcessaLente(void* hostWindow, ModuleStream* /*front*/, ModuleStream* header,
                                           double /*centreX*/, double /*centreY*/, const TMatrizAngAnel* m,
                                           const TMatrizAng* meridians, const TMatrizAngAnel* d,
                                           const TInfosQV* infos, const TPathsQV* /*paths*/) {
    return guardedEntry("Lente", [&]() -> int32_t {
        Request r;
        // The host puts the exam's ring count in the record; without a record the matrices'
        // own length bounds the rings.
        const int rings = infos && infos->NumAneis ? infos->NumAneis : NORVIX_MAX_RINGS;
        CornealMap map;
        if (!r.surface.build(d, m, meridians, rings, &r.error) || !map.load(d, m, meridians, rings, &r.error)) {
            if (r.error.isEmpty()) r.error = QStringLiteral("Dados do exame ausentes.");
        } else {
            r.k = map.keratometry(MapKind::Axial);
            if (!(r.k.flatPower > 0 && r.k.steepPower > 0 && std::isfinite(r.k.flatPower + r.k.steepPower)))
                r.error = QStringLiteral("A ceratometria simulada não pôde ser medida nos 3 mm centrais.");
        }
        if (!r.error.isEmpty()) r.error = QStringLiteral("Não é possível adaptar a lente: ") + r.error;
        r.header = readStreamLines(header, 64 * 1024);
        LensWindow window(r, static_cast<QWidget*>(hostWindow));
        runModal(window);
        return 1;
    });
}

static_assert(std::is_same_v<decltype(&ProcessaLente), TProcessaLente>);

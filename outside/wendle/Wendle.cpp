// The corneal aberrometry module, ProcessaAberrometria: the wavefront of the anterior cornea
// over a pupil the operator chooses (3 to 7 mm), its Zernike coefficients (OSA/ANSI), the RMS of
// all and of the higher-order aberrations, coma, spherical aberration, the wavefront map and the
// point-spread function, under the patient header and the clinic lines. Axes are those of the
// matrices, x to the examiner's right and y up, for both eyes: the OSA/ANSI frame, in which a
// left eye's oblique and horizontal terms come out mirrored against the right eye's. A pupil
// wider than the measured zone is analysed over the zone, and the window says so.
//
// The host's fixed arguments, as this module reads them:
//   value1 = 3.0  radius (mm) of the pupil the window opens with, a 6 mm pupil; a value that
//                 would give a pupil outside 3 to 7 mm opens at 6 mm, and the window says so
//   value2 = 350  width and
//   value3 = 350  height (pixels) of the wavefront map and of the point-spread picture, each
//                 held to 120..800
//   value4 = 1    1 shows the point-spread function beside the map, 0 the map alone
// Cone type, instrument model, correction factor and z0 do not enter: the rings' d and m
// matrices already carry them.
#include <QDialog>
#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QGuiApplication>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <exception>
#include <type_traits>

#include "modules/ModuleContract.h"
#include "platform/Cp1252.h"
#include "outside/math/CornealSurface.h"
#include "outside/math/CornealWavefront.h"
#include "outside/core/MapModule.h"
#include "outside/core/MapPainter.h"
#include "outside/math/PointSpread.h"
#include "outside/core/ModuleIo.h"
#include "outside/core/ModuleSupport.h"
#include "outside/math/Zernike.h"

using namespace norvix::outside;

namespace {

const QLocale& brazil() {
    static const QLocale br(QLocale::Portuguese, QLocale::Brazil);
    return br;
}

// The wavefront's colour scale: the 26 colours of the maps, the two middle ones meeting at 0,
// in a round step of micrometres (the curvature scales' steps of a quarter dioptre and up would
// paint a typical cornea's few tenths of a micrometre in three colours).
struct MicronScale {
    double step = 0.05;
    static MicronScale covering(double worst) {
        static const double steps[] = {0.01, 0.02, 0.025, 0.05, 0.1, 0.2, 0.25, 0.5, 1.0, 2.0, 5.0};
        MicronScale s;
        s.step = steps[std::size(steps) - 1];
        for (double st : steps)
            if (st * ColourScale::kLevels / 2 >= worst) {
                s.step = st;
                break;
            }
        return s;
    }
    int levelOf(double v) const {
        return std::clamp(int(std::floor(v / step)) + ColourScale::kLevels / 2, 0, ColourScale::kLevels - 1);
    }
    // Lower edge of a level's band (µm).
    double lowerEdge(int level) const { return (level - ColourScale::kLevels / 2) * step; }
    QColor colour(int level) const { return ColourScale::absolute().colour(level); }
};

// The scale bar beside the map: one box per level, the top the most advanced wavefront, each
// box's edges labelled in µm.
QImage drawMicronScale(const MicronScale& scale, int height) {
    constexpr int kWidth = 86;
    const int levels = ColourScale::kLevels;
    QImage image(kWidth, std::max(levels * 10, height), QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    QFont f = p.font();
    const double top = 14, box = (image.height() - 2 * top) / levels;
    f.setPixelSize(std::clamp(int(box * 0.9), 8, 12));
    p.setFont(f);
    p.setPen(Qt::black);
    p.drawText(QRectF(0, 0, kWidth, top), Qt::AlignCenter, QStringLiteral("µm"));
    const int decimals = scale.step < 0.05 ? 3 : scale.step < 1 ? 2 : 1;
    for (int i = 0; i < levels; ++i) {
        const int level = levels - 1 - i;
        p.fillRect(QRectF(2, top + i * box, 22, box), scale.colour(level));
        // Every other edge, so the labels do not crowd, 0 among them.
        if ((level - levels / 2) % 2 == 0)
            p.drawText(QRectF(28, top + (i + 1) * box - box, kWidth - 28, 2 * box), Qt::AlignVCenter | Qt::AlignLeft,
                       decimal(scale.lowerEdge(level), decimals));
    }
    return image;
}

// The point-spread picture at the window's size, a square root of the intensity bringing the
// halo up to where the eye sees it beside the peak, with a bar of a round number of arc
// minutes and the field written under it.
QImage drawPointSpread(const PointSpread& psf, QSize size) {
    const int side = std::min(size.width(), size.height());
    QImage raw(psf.size, psf.size, QImage::Format_RGB32);
    for (int r = 0; r < psf.size; ++r)
        for (int c = 0; c < psf.size; ++c) {
            const int g = int(std::lround(255 * std::sqrt(psf.at(r, c))));
            raw.setPixel(c, r, qRgb(g, g, g));
        }
    QImage image = raw.scaled(side, side, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QPainter p(&image);
    const double pxPerArcmin = side / psf.fieldArcmin();
    double bar = 1;
    for (double b : {1.0, 2.0, 5.0, 10.0, 20.0})
        if (b * pxPerArcmin <= side / 4.0) bar = b;
    const double x0 = 10, y0 = side - 14;
    p.setPen(QPen(Qt::yellow, 2));
    p.drawLine(QPointF(x0, y0), QPointF(x0 + bar * pxPerArcmin, y0));
    QFont f = p.font();
    f.setPixelSize(11);
    p.setFont(f);
    p.drawText(QRectF(x0, y0 - 16, side, 14), Qt::AlignLeft | Qt::AlignBottom,
               QStringLiteral("%1′").arg(decimal(bar, 0)));
    p.drawText(QRectF(0, 2, side - 6, 14), Qt::AlignRight | Qt::AlignTop,
               QStringLiteral("campo %1′ × %1′").arg(decimal(psf.fieldArcmin(), 1)));
    return image;
}

// W without piston and tilt on a scale symmetric about 0, outside the pupil light grey.
QImage wavefrontMap(const CornealWavefront& w, QSize size, MicronScale* scale) {
    const int side = std::min(size.width(), size.height());
    const double half = w.pupilMm / 2;
    std::vector<double> value(size_t(side) * side, NAN);
    double worst = 0;
    for (int i = 0; i < side; ++i)
        for (int j = 0; j < side; ++j) {
            const double x = ((j + 0.5) / side * 2 - 1) * half, y = (1 - (i + 0.5) / side * 2) * half;
            const double v = w.aberrationAt(x, y);
            if (!std::isfinite(v)) continue;
            value[size_t(i) * side + j] = v;
            worst = std::max(worst, std::abs(v));
        }
    *scale = MicronScale::covering(worst);
    QImage image(side, side, QImage::Format_RGB32);
    image.fill(QColor(230, 230, 230));
    for (int i = 0; i < side; ++i)
        for (int j = 0; j < side; ++j)
            if (std::isfinite(value[size_t(i) * side + j]))
                image.setPixel(j, i, scale->colour(scale->levelOf(value[size_t(i) * side + j])).rgb());
    return image;
}

// Axis (degrees, 0 to 180) and size of a pair of terms a cos(m θ) + b sin(m θ).
QString magnitudeAndAxis(double cosTerm, double sinTerm, int m) {
    double axis = std::atan2(sinTerm, cosTerm) * 180 / M_PI / m;
    const double period = 360.0 / m;
    axis = std::fmod(std::fmod(axis, period) + period, period);
    return QStringLiteral("%1 µm a %2°").arg(decimal(std::hypot(cosTerm, sinTerm), 3), decimal(axis, 0));
}

QString figures(const CornealWavefront& w) {
    auto um = [](double v) { return decimal(v, 3) + QStringLiteral(" µm"); };
    const auto& z = w.zernikeUm;
    QString text = QStringLiteral("Pupila %1 mm, raio apical %2 mm, n = 1,3375\n")
                       .arg(decimal(w.pupilMm, 1), decimal(w.vertexRadiusMm, 2));
    text += QStringLiteral("RMS total (sem pistão e inclinação): %1\n").arg(um(w.rmsTotalUm));
    text += QStringLiteral("RMS de alta ordem (3ª a 6ª): %1\n").arg(um(w.rmsHigherUm));
    text += QStringLiteral("Astigmatismo Z(2,±2): %1\n")
                .arg(magnitudeAndAxis(z[zernike::index(2, 2)], z[zernike::index(2, -2)], 2));
    text += QStringLiteral("Coma Z(3,±1): %1\n").arg(magnitudeAndAxis(z[zernike::index(3, 1)], z[zernike::index(3, -1)], 1));
    text += QStringLiteral("Aberração esférica Z(4,0): %1\n").arg(um(w.sphericalUm));
    text += QStringLiteral("Eixos no sistema OSA/ANSI visto pelo examinador, o mesmo nos dois olhos\n"
                           "(0° à direita do examinador, 90° acima).\n\nCoeficientes de Zernike (OSA/ANSI):\n");
    for (size_t j = 0; j < z.size(); ++j) {
        int n = 0, m = 0;
        zernike::orderOf(int(j), &n, &m);
        text += QStringLiteral("j=%1  Z(%2,%3)  %4\n").arg(j).arg(n).arg(m).arg(um(z[j]));
    }
    return text;
}

struct Request {
    CornealSurface surface;
    QString surfaceError;  // empty when the surface was built
    QStringList header, clinic;
    double pupilMm = 6.0;
    QString pupilNote;     // why the window opens with another pupil than the host asked for
    QSize picture{350, 350};
    bool showPsf = true;
};

class AberrometryWindow : public QDialog {
    static constexpr int kFigurasLargura = 300, kEscalaLargura = 90;

public:
    AberrometryWindow(const Request& r, QWidget* parent) : QDialog(parent), request_(r) {
        setWindowTitle(QStringLiteral("Aberrometria da córnea"));
        // The pictures give way on a small screen (1024 x 768 included) so that the figures and
        // "Fechar" stay on it: each at most what the width left after the scale and figures allows.
        if (const QScreen* tela = parent && parent->screen() ? parent->screen() : QGuiApplication::primaryScreen()) {
            const QRect area = tela->availableGeometry();
            const int larguraLivre = area.width() - kFigurasLargura - kEscalaLargura - 60;
            const int lado = std::min({larguraLivre / (r.showPsf ? 2 : 1), area.height() - 300,
                                       request_.picture.width(), request_.picture.height()});
            const int ladoFinal = std::max(lado, 160);
            request_.picture = QSize(std::min(request_.picture.width(), ladoFinal), std::min(request_.picture.height(), ladoFinal));
        }
        auto* layout = new QVBoxLayout(this);
        const QStringList header = readableHeader(r.header);
        auto* top = new QLabel((header.isEmpty() ? QStringList{QStringLiteral("Cabeçalho do paciente ausente.")} : header)
                                   .join(QLatin1Char('\n')));
        top->setObjectName(QStringLiteral("lblCabecalho"));
        auto* heading = new QHBoxLayout;
        heading->addWidget(top);
        heading->addStretch();
        if (!r.clinic.isEmpty()) {
            auto* clinic = new QLabel(r.clinic.join(QLatin1Char('\n')));
            clinic->setObjectName(QStringLiteral("lblClinica"));
            clinic->setAlignment(Qt::AlignRight | Qt::AlignTop);
            heading->addWidget(clinic);
        }
        layout->addLayout(heading);
        auto* row = new QHBoxLayout;
        row->addWidget(new QLabel(QStringLiteral("Pupila:")));
        pupil_ = new QDoubleSpinBox;
        pupil_->setObjectName(QStringLiteral("spnPupila"));
        pupil_->setLocale(brazil());
        pupil_->setRange(3.0, 7.0);
        pupil_->setSingleStep(0.5);
        pupil_->setDecimals(1);
        pupil_->setSuffix(QStringLiteral(" mm"));
        pupil_->setValue(r.pupilMm);
        row->addWidget(pupil_);
        row->addStretch();
        layout->addLayout(row);
        warning_ = new QLabel;
        warning_->setObjectName(QStringLiteral("lblAviso"));
        warning_->setStyleSheet(QStringLiteral("color: #b00000"));
        warning_->setWordWrap(true);
        layout->addWidget(warning_);
        auto* pictures = new QHBoxLayout;
        map_ = new QLabel;
        map_->setObjectName(QStringLiteral("imgFrenteOnda"));
        scale_ = new QLabel;
        scale_->setObjectName(QStringLiteral("imgEscala"));
        psf_ = new QLabel(this);  // owned by the window even when the point spread is not shown
        psf_->setObjectName(QStringLiteral("imgPsf"));
        auto* mapColumn = new QVBoxLayout;
        auto* mapRow = new QHBoxLayout;
        mapRow->addWidget(map_);
        mapRow->addWidget(scale_);
        mapColumn->addLayout(mapRow);
        mapCaption_ = new QLabel;
        mapColumn->addWidget(mapCaption_);
        mapColumn->addStretch();
        pictures->addLayout(mapColumn);
        if (r.showPsf) {
            auto* psfColumn = new QVBoxLayout;
            psfColumn->addWidget(psf_);
            psfCaption_ = new QLabel;
            psfCaption_->setWordWrap(true);
            psfColumn->addWidget(psfCaption_);
            psfColumn->addStretch();
            pictures->addLayout(psfColumn);
        } else {
            psf_->hide();
        }
        figures_ = new QLabel;
        figures_->setObjectName(QStringLiteral("lblFiguras"));
        figures_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        figures_->setWordWrap(true);
        // The 28 coefficients scroll rather than make the window taller than the screen.
        auto* rolagem = new QScrollArea;
        rolagem->setObjectName(QStringLiteral("scrFiguras"));
        rolagem->setWidget(figures_);
        rolagem->setWidgetResizable(true);
        rolagem->setFrameShape(QFrame::NoFrame);
        rolagem->setMinimumWidth(kFigurasLargura);
        rolagem->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        pictures->addWidget(rolagem, 1);
        layout->addLayout(pictures);
        auto* buttons = new QHBoxLayout;
        buttons->addStretch();
        auto* close = new QPushButton(QStringLiteral("Fechar"));
        close->setObjectName(QStringLiteral("btnFechar"));
        close->setDefault(true);
        connect(close, &QPushButton::clicked, this, &QDialog::accept);
        buttons->addWidget(close);
        layout->addLayout(buttons);
        connect(pupil_, &QDoubleSpinBox::valueChanged, this, [this](double) { recompute(); });
        recompute();
    }

private:
    void recompute() {
        CornealWavefront w;
        QString why = request_.surfaceError;
        QStringList notes;
        if (why.isEmpty()) {
            // A pupil wider than the measured zone is analysed over the widest the zone
            // covers, in whole tenths of a millimetre, and the window says so.
            const double asked = pupil_->value(), zone = std::floor(20 * request_.surface.zoneRadius() + 1e-6) / 10;
            const double used = std::min(asked, zone);
            if (!request_.pupilNote.isEmpty()) notes << request_.pupilNote;
            if (used < asked)
                notes << QStringLiteral("A zona medida (%1 mm) é menor que a pupila de %2 mm: os valores abaixo são "
                                        "da pupila de %1 mm.")
                             .arg(decimal(zone, 1), decimal(asked, 1));
            if (used < 3.0 - 1e-9)
                why = QStringLiteral("A zona medida (%1 mm) é menor que a menor pupila analisada (3 mm).").arg(decimal(zone, 1));
            else
                w.compute(request_.surface, used, &why);
        }
        warning_->setText(why.isEmpty() ? notes.join(QLatin1Char('\n')) : why);
        if (!why.isEmpty() || w.zernikeUm.empty()) {
            for (QLabel* l : {map_, scale_, psf_}) l->clear();
            for (QLabel* l : {figures_, mapCaption_, psfCaption_})
                if (l) l->clear();
            return;
        }
        MicronScale scale;
        map_->setPixmap(QPixmap::fromImage(wavefrontMap(w, request_.picture, &scale)));
        scale_->setPixmap(QPixmap::fromImage(drawMicronScale(scale, std::min(request_.picture.width(), request_.picture.height()))));
        mapCaption_->setText(QStringLiteral("Frente de onda sem pistão e inclinação, pupila de %1 mm;\n"
                                            "escala em µm, passo de %2 µm")
                                 .arg(decimal(w.pupilMm, 1), brazil().toString(scale.step, 'g', 3)));
        if (request_.showPsf) {
            const PointSpread psf = pointSpread(w);
            psf_->setPixmap(QPixmap::fromImage(drawPointSpread(psf, request_.picture)));
            psfCaption_->setText(QStringLiteral("Função de espalhamento do ponto (555 nm), campo de %1 × %1 minutos "
                                                "de arco")
                                     .arg(decimal(psf.fieldArcmin(), 1)));
        }
        figures_->setText(figures(w));
    }

    Request request_;
    QDoubleSpinBox* pupil_ = nullptr;
    QLabel *warning_ = nullptr, *map_ = nullptr, *scale_ = nullptr, *psf_ = nullptr, *figures_ = nullptr;
    QLabel *mapCaption_ = nullptr, *psfCaption_ = nullptr;
};

}  // namespace

// The catalogue gives the module its button on the browser's map tool bar through these lines;
// the browser then calls ProcessaAberrometria for this file name.
NORVIX_MODULE_EXPORT void InfoMapa(ModuleStream* out) { mapInfo(out, "Aberrometria Corneana"); }

NORVIX_MODULE_EXPORT int32_t ProcessaAberrometria(void* hostWindow, const TMatrizAngAnel* m,
                                                  const TMatrizAngAnel* d, const TMatrizAng* meridians,
                                                  const char* /*coneType*/, uint8_t ringCount,
                                                  uint8_t /*instrumentModel*/, double value1,
                                                  double /*fatorCorrecao*/, double /*z0*/, int32_t value2,
                                                  int32_t value3, int32_t value4, ModuleStream* header,
                                                  const char* const* clinic) {
    return guardedEntry("Aberrometria", [&]() -> int32_t {
        Request r;
        if (!r.surface.build(d, m, meridians, ringCount, &r.surfaceError) && r.surfaceError.isEmpty())
            r.surfaceError = QStringLiteral("Dados do exame ausentes.");
        r.header = readStreamLines(header, 64 * 1024);
        if (clinic)
            for (int i = 0; i < 4; ++i) {
                // The record's 8-bit text; a blank line of the settings is no line at all.
                const QString line = clinic[i] ? norvix::fromCp1252(QByteArray(clinic[i])).trimmed() : QString();
                if (!line.isEmpty()) r.clinic << line;
            }
        if (value1 >= 1.5 && value1 <= 3.5)
            r.pupilMm = 2 * value1;
        else if (std::isfinite(value1) && value1 > 0)
            r.pupilNote = QStringLiteral("A pupila pedida (%1 mm) está fora do intervalo de 3 a 7 mm; aberta com 6 mm.")
                              .arg(decimal(std::min(2 * value1, 1e6), 1));
        r.picture = QSize(std::clamp(value2, 120, 800), std::clamp(value3, 120, 800));
        r.showPsf = value4 != 0;
        AberrometryWindow window(r, static_cast<QWidget*>(hostWindow));
        runModal(window);
        return 1;
    });
}

static_assert(std::is_same_v<decltype(&ProcessaAberrometria), TProcessaAberrometria>);

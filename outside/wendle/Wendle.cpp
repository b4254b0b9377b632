// The corneal aberrometry module, ProcessaAberrometria: the wavefront of the anterior cornea
// over a pupil the operator chooses (3 to 7 mm), its Zernike coefficients (OSA/ANSI), the RMS of
// all and of the higher-order aberrations, coma, spherical aberration, the wavefront map and the
// point-spread function, under the patient header and the clinic lines.
//
// The host's fixed arguments, as this module reads them:
//   value1 = 3.0  radius (mm) of the pupil the window opens with, a 6 mm pupil; a value that
//                 would give a pupil outside 3 to 7 mm opens at 6 mm
//   value2 = 350  width and
//   value3 = 350  height (pixels) of the wavefront map and of the point-spread picture, each
//                 held to 120..800
//   value4 = 1    1 shows the point-spread function beside the map, 0 the map alone
// Cone type, instrument model, correction factor and z0 do not enter: the rings' d and m
// matrices already carry them.
#include <QApplication>
#include <QDialog>
#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <complex>
#include <exception>
#include <type_traits>

#include "modules/ModuleContract.h"
#include "platform/Cp1252.h"
#include "outside/core/CornealSurface.h"
#include "outside/core/CornealWavefront.h"
#include "outside/core/MapModule.h"
#include "outside/core/MapPainter.h"
#include "outside/core/ModuleIo.h"
#include "outside/core/ModuleSupport.h"
#include "outside/core/Zernike.h"

using namespace norvix::outside;

namespace {

constexpr double kWavelengthUm = 0.555;

// In-place radix-2 FFT: neither Qt nor the standard library has one, and the PSF needs only
// this one transform of a few hundred points a side.
void fft(std::vector<std::complex<double>>& a) {
    const size_t n = a.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(a[i], a[j]);
    }
    for (size_t len = 2; len <= n; len <<= 1) {
        const std::complex<double> w = std::polar(1.0, -2 * M_PI / double(len));
        for (size_t i = 0; i < n; i += len) {
            std::complex<double> wk = 1;
            for (size_t k = 0; k < len / 2; ++k, wk *= w) {
                const auto u = a[i + k], v = a[i + k + len / 2] * wk;
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
            }
        }
    }
}

// |FT of the pupil function|^2 at 555 nm, piston and tilt left out (they only move the spot),
// the brightest point white. 64 samples across the pupil padded to 256: some 5 arc seconds a
// pixel at 6 mm; the central 128 pixels are shown.
QImage pointSpread(const CornealWavefront& w, QSize size) {
    constexpr int kN = 256, kPupil = 64, kShown = 128;
    std::vector<std::complex<double>> field(size_t(kN) * kN);
    const double half = w.pupilMm / 2;
    for (int i = 0; i < kPupil; ++i)
        for (int j = 0; j < kPupil; ++j) {
            const double x = ((j + 0.5) / kPupil * 2 - 1) * half, y = ((i + 0.5) / kPupil * 2 - 1) * half;
            double opd = w.at(x, y);
            if (!std::isfinite(opd)) continue;
            const double rho = std::hypot(x, y) / half, t = std::atan2(y, x);
            for (int k = 0; k < 3; ++k) opd -= w.zernikeUm[k] * zernike::value(k, rho, t);
            field[size_t(i) * kN + j] = std::polar(1.0, 2 * M_PI * opd / kWavelengthUm);
        }
    std::vector<std::complex<double>> line(kN);
    for (int pass = 0; pass < 2; ++pass)
        for (int a = 0; a < kN; ++a) {
            for (int b = 0; b < kN; ++b) line[b] = pass ? field[size_t(b) * kN + a] : field[size_t(a) * kN + b];
            fft(line);
            for (int b = 0; b < kN; ++b) (pass ? field[size_t(b) * kN + a] : field[size_t(a) * kN + b]) = line[b];
        }
    std::vector<double> power(size_t(kShown) * kShown);
    double peak = 0;
    for (int i = 0; i < kShown; ++i)
        for (int j = 0; j < kShown; ++j) {
            const int fi = (i - kShown / 2 + kN) % kN, fj = (j - kShown / 2 + kN) % kN;
            peak = std::max(peak, power[size_t(i) * kShown + j] = std::norm(field[size_t(fi) * kN + fj]));
        }
    QImage image(kShown, kShown, QImage::Format_RGB32);
    for (int i = 0; i < kShown; ++i)
        for (int j = 0; j < kShown; ++j) {
            // A square root brings the halo up to where the eye can see it next to the peak.
            const int g = peak > 0 ? int(std::lround(255 * std::sqrt(power[size_t(i) * kShown + j] / peak))) : 0;
            image.setPixel(j, kShown - 1 - i, qRgb(g, g, g));
        }
    return image.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

// W without piston and tilt on a scale symmetric about 0, outside the pupil light grey.
QImage wavefrontMap(const CornealWavefront& w, QSize size, ColourScale* scale) {
    const int side = std::min(size.width(), size.height());
    const double half = w.pupilMm / 2;
    std::vector<double> value(size_t(side) * side, NAN);
    double worst = 0;
    for (int i = 0; i < side; ++i)
        for (int j = 0; j < side; ++j) {
            const double x = ((j + 0.5) / side * 2 - 1) * half, y = (1 - (i + 0.5) / side * 2) * half;
            double v = w.at(x, y);
            if (!std::isfinite(v)) continue;
            const double rho = std::hypot(x, y) / half, t = std::atan2(y, x);
            for (int k = 0; k < 3; ++k) v -= w.zernikeUm[k] * zernike::value(k, rho, t);
            value[size_t(i) * side + j] = v;
            worst = std::max(worst, std::abs(v));
        }
    *scale = ColourScale::symmetric(worst);
    QImage image(side, side, QImage::Format_RGB32);
    image.fill(QColor(230, 230, 230));
    for (int i = 0; i < side; ++i)
        for (int j = 0; j < side; ++j)
            if (std::isfinite(value[size_t(i) * side + j]))
                image.setPixel(j, i, scale->colourOf(value[size_t(i) * side + j]).rgb());
    return image;
}

QString figures(const CornealWavefront& w) {
    const QLocale br(QLocale::Portuguese, QLocale::Brazil);
    auto um = [&](double v) { return br.toString(v, 'f', 3) + QStringLiteral(" µm"); };
    QString text = QStringLiteral("Pupila %1 mm, raio apical %2 mm, n = 1,3375\n")
                       .arg(br.toString(w.pupilMm, 'f', 1), br.toString(w.vertexRadiusMm, 'f', 2));
    text += QStringLiteral("RMS total (sem pistão e inclinação): %1\n").arg(um(w.rmsTotalUm));
    text += QStringLiteral("RMS de alta ordem (3ª a 6ª): %1\n").arg(um(w.rmsHigherUm));
    text += QStringLiteral("Coma: %1\n").arg(um(w.comaUm));
    text += QStringLiteral("Aberração esférica Z(4,0): %1\n\nCoeficientes de Zernike (OSA/ANSI):\n").arg(um(w.sphericalUm));
    for (size_t j = 0; j < w.zernikeUm.size(); ++j) {
        int n = 0, m = 0;
        zernike::orderOf(int(j), &n, &m);
        text += QStringLiteral("j=%1  Z(%2,%3)  %4\n").arg(j).arg(n).arg(m).arg(um(w.zernikeUm[j]));
    }
    return text;
}

struct Request {
    CornealSurface surface;
    QString surfaceError;  // empty when the surface was built
    QStringList header, clinic;
    double pupilMm = 6.0;
    QSize picture{350, 350};
    bool showPsf = true;
};

class AberrometryWindow : public QDialog {
public:
    AberrometryWindow(const Request& r, QWidget* parent) : QDialog(parent), request_(r) {
        setWindowTitle(QStringLiteral("Aberrometria da córnea"));
        auto* layout = new QVBoxLayout(this);
        auto* top = new QLabel((r.header.isEmpty() ? QStringList{QStringLiteral("Cabeçalho do paciente ausente.")}
                                                   : r.header)
                                   .join(QLatin1Char('\n')) +
                               QStringLiteral("\n\n") + r.clinic.join(QLatin1Char('\n')));
        layout->addWidget(top);
        auto* row = new QHBoxLayout;
        row->addWidget(new QLabel(QStringLiteral("Pupila:")));
        pupil_ = new QDoubleSpinBox;
        pupil_->setLocale(QLocale(QLocale::Portuguese, QLocale::Brazil));
        pupil_->setRange(3.0, 7.0);
        pupil_->setSingleStep(0.5);
        pupil_->setDecimals(1);
        pupil_->setSuffix(QStringLiteral(" mm"));
        pupil_->setValue(r.pupilMm);
        row->addWidget(pupil_);
        row->addStretch();
        layout->addLayout(row);
        warning_ = new QLabel;
        warning_->setStyleSheet(QStringLiteral("color: #b00000"));
        layout->addWidget(warning_);
        auto* pictures = new QHBoxLayout;
        map_ = new QLabel;
        psf_ = new QLabel;
        pictures->addWidget(map_);
        if (r.showPsf) pictures->addWidget(psf_);
        figures_ = new QLabel;
        pictures->addWidget(figures_);
        layout->addLayout(pictures);
        connect(pupil_, &QDoubleSpinBox::valueChanged, this, [this](double) { recompute(); });
        recompute();
    }

private:
    void recompute() {
        CornealWavefront w;
        QString why = request_.surfaceError;
        if (why.isEmpty() && !w.compute(request_.surface, pupil_->value(), &why)) {
            // Say what zone was measured, so the operator knows which pupil will fit.
            why += QStringLiteral(" Zona medida: %1 mm.")
                       .arg(QLocale(QLocale::Portuguese, QLocale::Brazil)
                                .toString(2 * request_.surface.zoneRadius(), 'f', 1));
        }
        warning_->setText(why);
        if (!why.isEmpty() || w.zernikeUm.empty()) {
            map_->clear();
            psf_->clear();
            figures_->clear();
            return;
        }
        ColourScale scale;
        map_->setPixmap(QPixmap::fromImage(wavefrontMap(w, request_.picture, &scale)));
        if (request_.showPsf) psf_->setPixmap(QPixmap::fromImage(pointSpread(w, request_.picture)));
        figures_->setText(figures(w) + QStringLiteral("\nEscala do mapa: passo de %1 µm")
                                           .arg(QLocale(QLocale::Portuguese, QLocale::Brazil)
                                                    .toString(scale.step(), 'f', 2)));
    }

    Request request_;
    QDoubleSpinBox* pupil_ = nullptr;
    QLabel *warning_ = nullptr, *map_ = nullptr, *psf_ = nullptr, *figures_ = nullptr;
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
    try {
        if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
            reportFailure("Aberrometria", QStringLiteral("nenhuma aplicação gráfica em execução."));
            return 0;
        }
        Request r;
        if (!r.surface.build(d, m, meridians, ringCount, &r.surfaceError) && r.surfaceError.isEmpty())
            r.surfaceError = QStringLiteral("Dados do exame ausentes.");
        r.header = readStreamLines(header, 64 * 1024);
        if (clinic)
            for (int i = 0; i < 4; ++i)
                if (clinic[i] && *clinic[i]) r.clinic << norvix::fromCp1252(QByteArray(clinic[i]));  // the record's 8-bit text
        if (value1 >= 1.5 && value1 <= 3.5) r.pupilMm = 2 * value1;
        r.picture = QSize(std::clamp(value2, 120, 800), std::clamp(value3, 120, 800));
        r.showPsf = value4 != 0;
        AberrometryWindow window(r, static_cast<QWidget*>(hostWindow));
        if (autoCloseWindows()) QTimer::singleShot(0, &window, &QDialog::accept);
        window.exec();
        return 1;
    } catch (const std::exception& e) {
        reportFailure("Aberrometria", QString::fromLocal8Bit(e.what()));
        return 0;
    }
}

static_assert(std::is_same_v<decltype(&ProcessaAberrometria), TProcessaAberrometria>);

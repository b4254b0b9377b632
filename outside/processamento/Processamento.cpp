// The reference processing module: ProcessaImagem (topography), ProcessaEsfera, Info.
// It never opens a window: a failure is a return value other than 1 and a line on standard
// error.
#include <QDir>
#include <QFileInfo>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "modules/ModuleContract.h"
#include "outside/core/ModuleIo.h"
#include "outside/core/ModuleSupport.h"
#include "outside/core/TopographyProcessor.h"
#include "platform/Cp1252.h"

using namespace norvix::outside;

namespace {

constexpr const char* kName = "Processamento";
constexpr qint64 kMaxImageBytes = 16 << 20;

// Decodes the image stream and measures it; nullptr (reason on stderr) when it is no eye.
std::unique_ptr<Topography> measure(ModuleStream* image, const TInfosQV* infos, const TPathsQV* paths) {
    if (!infos) {
        reportFailure(kName, QStringLiteral("registro de configuração ausente."));
        return nullptr;
    }
    if (infos->NumAneis < 1 || infos->NumAneis > NORVIX_MAX_RINGS) {
        reportFailure(kName, QStringLiteral("número de anéis inválido: %1.").arg(infos->NumAneis));
        return nullptr;
    }
    const int cone = coneTypeOf(infos);
    if (cone == 0) {
        reportFailure(kName, QStringLiteral("tipo de cone inválido: \"%1\".").arg(norvix::fromCp1252(infos->TipoCone)));
        return nullptr;
    }
    QByteArray bytes;
    if (!readWholeStream(image, kMaxImageBytes, &bytes)) {
        reportFailure(kName, QStringLiteral("fluxo de imagem ausente ou ilegível."));
        return nullptr;
    }
    QImage frame;
    QString why;
    if (!TopographyProcessor::decodeBitmap(bytes, &frame, &why)) {
        reportFailure(kName, why);
        return nullptr;
    }
    TopographyProcessor processor(cone, infos->NumAneis);
    CalibrationCoefficients coefficients;
    if (paths && paths->Calibracao && *paths->Calibracao) {
        const QString file = QDir(norvix::fromCp1252(paths->Calibracao)).filePath(QStringLiteral("Coef.txt"));
        if (QFileInfo::exists(file)) {
            if (coefficients.load(file, &why))
                processor.setCoefficients(&coefficients);
            else
                reportFailure(kName, why + QStringLiteral(" Usando o modelo do instrumento."));
        }
    }
    auto result = std::make_unique<Topography>();
    if (!processor.process(frame, result.get(), &why)) {
        reportFailure(kName, why);
        return nullptr;
    }
    return result;
}

}  // namespace

NORVIX_MODULE_EXPORT void Info(ModuleStream* out) {
    writeToStream(out, crlfLines({QStringLiteral("Processamento de Imagem de Topografia (módulo de referência)")}));
}

NORVIX_MODULE_EXPORT int32_t ProcessaImagem(void* /*hostWindow*/, ModuleStream* image, double* centreX, double* centreY,
                                            TMatrizAngAnel* m, TMatrizAng* meridians, TMatrizAngAnel* d,
                                            TPupila* pupil, double* confidence, const TInfosQV* infos,
                                            const TPathsQV* paths) {
    if (!centreX || !centreY || !m || !meridians || !d || !pupil || !confidence) {
        reportFailure(kName, QStringLiteral("argumento de saída ausente."));
        return 0;
    }
    try {
        std::unique_ptr<Topography> t = measure(image, infos, paths);
        if (!t) return 0;
        *centreX = t->centreX;
        *centreY = t->centreY;
        std::memcpy(*m, t->m, sizeof(TMatrizAngAnel));
        std::memcpy(*d, t->d, sizeof(TMatrizAngAnel));
        std::memcpy(*meridians, t->found, sizeof(TMatrizAng));
        std::memcpy(*pupil, t->pupil, sizeof(TPupila));
        *confidence = t->confidence;
        return 1;
    } catch (const std::exception& e) {
        reportFailure(kName, QString::fromLocal8Bit(e.what()));
        return 0;
    }
}

NORVIX_MODULE_EXPORT int32_t ProcessaEsfera(void* /*hostWindow*/, ModuleStream* image, const char* radius,
                                            ModuleStream* result, const TInfosQV* infos) {
    try {
        QString text = norvix::fromCp1252(radius).trimmed();
        text.replace(QLatin1Char(','), QLatin1Char('.'));
        bool ok = false;
        const double reference = text.toDouble(&ok);
        if (!ok || !(reference > 3.0 && reference < 20.0)) {
            reportFailure(kName, QStringLiteral("raio da esfera inválido: \"%1\".").arg(text));
            return 0;
        }
        if (!result || !result->write) {
            reportFailure(kName, QStringLiteral("fluxo de resultado ausente."));
            return 0;
        }
        // The sphere file carries the model's own radii: the calibration fits lines from them
        // to the true radii, so they must not already be corrected by an earlier calibration.
        std::unique_ptr<Topography> t = measure(image, infos, nullptr);
        if (!t) return 0;
        QStringList lines{QString::number(reference, 'g', 15)};
        for (int ring = 1; ring <= t->rings; ++ring) {
            double sum = 0;
            int n = 0;
            for (int k = 0; k < NORVIX_MERIDIANS; ++k) {
                if (t->found[k] >= ring) {
                    sum += t->m[k][ring];
                    ++n;
                }
            }
            if (n < NORVIX_MERIDIANS / 2) break;  // a ring seen on few meridians is no measure
            lines << QString::number(sum / n, 'f', 6);
        }
        if (lines.size() < 2) {
            reportFailure(kName, QStringLiteral("nenhum anel medido na esfera."));
            return 0;
        }
        return writeToStream(result, crlfLines(lines)) ? 1 : 0;
    } catch (const std::exception& e) {
        reportFailure(kName, QString::fromLocal8Bit(e.what()));
        return 0;
    }
}

static_assert(std::is_same_v<decltype(&ProcessaImagem), TProcessaImagem>);
static_assert(std::is_same_v<decltype(&ProcessaEsfera), TProcessaEsfera>);
static_assert(std::is_same_v<decltype(&Info), TInfo>);

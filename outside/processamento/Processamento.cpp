// The reference processing module: ProcessaImagem (topography), ProcessaEsfera, Info.
// It never opens a window: a failure is a return value other than 1 and a line on standard
// error.
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "modules/ModuleContract.h"
#include "outside/core/ModuleIo.h"
#include "outside/core/ImageMeasure.h"
#include "outside/core/ModuleSupport.h"
#include "platform/Cp1252.h"

using namespace norvix::outside;

namespace {

constexpr const char* kName = "Processamento";

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
        std::unique_ptr<Topography> t = measureImage(kName, image, infos, paths);
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
        std::unique_ptr<Topography> t = measureImage(kName, image, infos, nullptr);
        if (!t) return 0;
        QStringList lines{QString::number(reference, 'g', 15)};
        for (double r : sphereRingRadii(*t)) lines << QString::number(r, 'f', 6);
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

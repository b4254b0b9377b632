#include "ImageMeasure.h"

#include <QDir>
#include <QFileInfo>

#include "ModuleIo.h"
#include "ModuleSupport.h"
#include "platform/Cp1252.h"

namespace norvix::outside {

namespace {
constexpr qint64 kMaxImageBytes = 16 << 20;
}  // namespace

namespace {

bool usableInfos(const char* module, const TInfosQV* infos) {
    if (!infos) {
        reportFailure(module, QStringLiteral("registro de configuração ausente."));
        return false;
    }
    if (infos->NumAneis < 1 || infos->NumAneis > NORVIX_MAX_RINGS) {
        reportFailure(module, QStringLiteral("número de anéis inválido: %1.").arg(infos->NumAneis));
        return false;
    }
    if (coneTypeOf(infos) == 0) {
        reportFailure(module, QStringLiteral("tipo de cone inválido: \"%1\".").arg(norvix::fromCp1252(infos->TipoCone)));
        return false;
    }
    return true;
}

}  // namespace

bool readImage(const char* module, ModuleStream* image, QByteArray* bytes) {
    if (readWholeStream(image, kMaxImageBytes, bytes)) return true;
    reportFailure(module, QStringLiteral("fluxo de imagem ausente ou ilegível."));
    return false;
}

std::unique_ptr<Topography> measureImage(const char* module, ModuleStream* image, const TInfosQV* infos,
                                         const TPathsQV* paths) {
    QByteArray bytes;
    if (!usableInfos(module, infos) || !readImage(module, image, &bytes)) return nullptr;
    return measureBytes(module, bytes, infos, paths);
}

std::unique_ptr<Topography> measureBytes(const char* module, const QByteArray& bytes, const TInfosQV* infos,
                                         const TPathsQV* paths, int threads) {
    if (!usableInfos(module, infos)) return nullptr;
    const int cone = coneTypeOf(infos);
    QString why;
    // The capture's own layout is read during the measurement; any other is decoded first, so
    // that a bitmap that cannot be read is reported before the calibration is looked at.
    const bool direct = TopographyProcessor::readsDirectly(bytes);
    QImage frame;
    if (!direct && !TopographyProcessor::decodeBitmap(bytes, &frame, &why)) {
        reportFailure(module, why);
        return nullptr;
    }
    TopographyProcessor processor(cone, infos->NumAneis);
    processor.setThreads(threads);
    CalibrationCoefficients coefficients;
    if (paths && paths->Calibracao && *paths->Calibracao) {
        const QString file = QDir(norvix::fromCp1252(paths->Calibracao)).filePath(QStringLiteral("Coef.txt"));
        if (QFileInfo::exists(file)) {
            if (coefficients.load(file, &why))
                processor.setCoefficients(&coefficients);
            else
                reportFailure(module, why + QStringLiteral(" Usando o modelo do instrumento."));
        }
    }
    auto result = std::make_unique<Topography>();
    if (!(direct ? processor.processBitmap(bytes, result.get(), &why) : processor.process(frame, result.get(), &why))) {
        reportFailure(module, why);
        return nullptr;
    }
    return result;
}


}  // namespace norvix::outside

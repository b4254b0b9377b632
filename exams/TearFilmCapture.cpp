#include "TearFilmCapture.h"

#include <QByteArray>

#include "config/SharedRecords.h"
#include "modules/ModuleBindings.h"
#include "tearfilm/TearRecording.h"

namespace norvix {

StepOutcome recordTearFilm(QWidget* window, int eye, const QString& path, int maxSeconds) {
    if ((eye != 0 && eye != 1) || path.isEmpty() || maxSeconds <= 0)
        return {false, QStringLiteral("Pedido de gravação do filme lacrimal inválido (olho %1, %2 s).").arg(eye).arg(maxSeconds)};
    const QString modulePath = recordText(paths().Digitalizacao);
    TCaptureBinding module;
    if (!module.LoadModule(modulePath))
        return {false, QStringLiteral("Não foi possível carregar o módulo de captura (%1).").arg(modulePath)};
    if (!module.GravarFilmeLacrimal) {
        module.ReleaseModule();
        return {false, QStringLiteral("O módulo de captura instalado não grava vídeo para o exame de filme lacrimal.")};
    }
    const QByteArray file = path.toUtf8();
    const uint8_t r = module.GravarFilmeLacrimal(window, file.constData(), uint32_t(maxSeconds), uint8_t(eye));
    module.ReleaseModule();
    if (r == 0) return {};  // the operator cancelled
    if (r != 1) return {false, QStringLiteral("A gravação do filme lacrimal não foi concluída.")};
    // The module's word is not taken for it: the recording must open and hold frames.
    lagrima::RecordingReader reader;
    QString error;
    if (!reader.open(path, &error))
        return {false, QStringLiteral("O módulo de captura não deixou uma gravação legível: %1").arg(error)};
    if (reader.info().frames <= 0)
        return {false, QStringLiteral("O módulo de captura deixou uma gravação sem quadros.")};
    return {true, {}};
}

}  // namespace norvix

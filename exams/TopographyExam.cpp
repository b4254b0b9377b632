#include "TopographyExam.h"

#include "config/SharedRecords.h"
#include "modules/HostStream.h"
#include "modules/ModuleBindings.h"

namespace norvix {

namespace {
const char* const kCaptureCaption = "Digitalizando Imagem do Olho";
}

QStringList TopographyExam::headerTail(const QString& confidence, const QString& database) const {
    return {QStringLiteral("0"), confidence, database, confidence, database};
}

CaptureOutcome TopographyExam::capture(void* window, int eye, const GivenCapture& given) {
    Eye& e = eyes_[size_t(eye)];
    // The eye's images are replaced only by a capture that came through: one cancelled or
    // refused leaves the eye what it had.
    CaptureOutcome out;
    QByteArray side;
    if (given) {
        out.shown = (*given)[0];
        side = (*given)[1];
    } else {
        TCaptureBinding module;
        if (!module.LoadModule(recordText(paths().Digitalizacao))) return out;
        HostStream image, extra;
        module.Digitalizar(window, image, extra, uint8_t(eye), kCaptureCaption);
        module.ReleaseModule();
        out.shown = image.data();
        side = extra.data();
    }
    if (out.shown.size() < 10) return out;  // nothing captured (the operator cancelled)
    const QString problem = bitmapProblem(out.shown);
    if (!problem.isEmpty()) {
        out.message = QStringLiteral(
                          "A imagem recebida do módulo de captura não é um bitmap válido (%1). Digitalize "
                          "a imagem novamente.")
                          .arg(problem);
        return out;
    }
    e.front = out.shown;
    e.side = side;
    out.ok = true;
    return out;
}

StepOutcome TopographyExam::detect(void* window, int eye) {
    Eye& e = eyes_[size_t(eye)];
    TProcessingBinding module;
    if (!module.LoadModule(recordText(paths().Processamento))) return {};
    // Measured into a fresh record: a failed run leaves the eye's last good measure alone.
    auto measure = std::make_unique<TMedidaOlho>();
    measure->frente = e.front;
    measure->lateral = e.side;
    HostStream image(e.front);
    const int32_t r =
        module.ProcessaImagem(window, image, &measure->centroX, &measure->centroY, &measure->m, &measure->meridianos,
                              &measure->d, &measure->pupila, &measure->indConf, &infos(), &paths());
    module.ReleaseModule();
    if (r != 1) return {};
    const QString problem = ProblemaNaMedida(*measure);
    if (!problem.isEmpty()) return {false, invalidMeasuresMessage(problem)};
    ComoGravada(*measure);
    e.measure = std::move(measure);
    return {true, {}};
}

bool TopographyExam::showMap(void* window, int eye, const QString& mapModule, const Header& header) {
    const Eye& e = eyes_[size_t(eye)];
    if (!e.measure) return false;
    const TMedidaOlho& m = *e.measure;
    TSingleMapBinding module;
    bool shown = false;
    if (module.LoadModule(mapModule) && module.ProcessaMapa) {
        HostStream examHeader, front(m.frente), side(m.lateral);
        examHeader.writeLines(header(m.indConf));
        examHeader.rewind();
        module.ProcessaMapa(window, front, side, m.centroX, m.centroY, examHeader, &m.m, &m.meridianos, &m.d, &m.pupila,
                            &infos());
        shown = true;
    }
    module.ReleaseModule();
    return shown;
}

bool TopographyExam::store(int eye, TExameNovo row, TArquivosNovos& arquivos) {
    Eye& e = eyes_[size_t(eye)];
    e.measure->frente = e.front;
    e.measure->lateral = e.side;
    const QDateTime when = MomentoLivre(row.paciente);
    row.data = when.date();
    row.hora = when.time();
    bool imagesStored = true;
    e.stored = GravaExameTopografia(row, *e.measure, arquivos, &imagesStored);
    return imagesStored;
}

void TopographyExam::clear(int eye) { eyes_[size_t(eye)] = Eye{}; }

}  // namespace norvix

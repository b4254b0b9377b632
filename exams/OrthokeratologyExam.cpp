#include "OrthokeratologyExam.h"

#include <cmath>

#include "config/SharedRecords.h"
#include "modules/HostStream.h"
#include "modules/ModuleBindings.h"
#include "records/UArquivosExame.h"
#include "records/UArquivosExameTexto.h"

namespace norvix {

namespace {
constexpr int kCaptures = 4;
constexpr int kTableLines = kCaptures * NORVIX_MERIDIANS;
const char* const kCaptureCaption = "Digitalizando Imagem do Olho";
}  // namespace

CaptureOutcome OrthokeratologyExam::capture(void* window, int eye, const GivenCapture&) {
    Eye& e = eyes_[size_t(eye)];
    // Replaced only by a capture that came through, as for the topography.
    CaptureOutcome out;
    TCaptureOrtoBinding module;
    if (!module.LoadModule(recordText(paths().DigitalizacaoOrto))) return out;
    std::array<HostStream, kCaptures> images, extras;
    ModuleStream* first[kCaptures];
    ModuleStream* second[kCaptures];
    for (int c = 0; c < kCaptures; ++c) {
        first[c] = images[size_t(c)];
        second[c] = extras[size_t(c)];
    }
    module.Digitalizar(window, first, second, uint8_t(eye), kCaptureCaption);
    module.ReleaseModule();
    out.shown = images[0].data();
    if (out.shown.size() < 10) return out;
    for (int c = 0; c < kCaptures; ++c) {
        const QString problem = bitmapProblem(images[size_t(c)].data());
        if (!problem.isEmpty()) {
            out.message = QStringLiteral(
                              "A imagem %1 recebida do módulo de captura não é um bitmap válido (%2). "
                              "Digitalize as imagens novamente.")
                              .arg(c + 1)
                              .arg(problem);
            return out;
        }
    }
    for (int c = 0; c < kCaptures; ++c) {
        e.captures[size_t(c)] = images[size_t(c)].data();
        e.extras[size_t(c)] = extras[size_t(c)].data();
    }
    out.ok = true;
    return out;
}

StepOutcome OrthokeratologyExam::detect(void* window, int eye) {
    Eye& e = eyes_[size_t(eye)];
    auto refuse = [](const QString& problem) { return StepOutcome{false, invalidMeasuresMessage(problem)}; };
    TProcessingOrtoBinding module;
    if (!module.LoadModule(recordText(paths().ProcessamentoOrto))) return {};
    std::array<HostStream, kCaptures> images;
    ModuleStream* streams[kCaptures];
    for (int c = 0; c < kCaptures; ++c) {
        images[size_t(c)].setData(e.captures[size_t(c)]);
        streams[c] = images[size_t(c)];
    }
    HostStream m, d, parameters;
    std::array<double, kCaptures> confidences{};
    const int32_t r = module.ProcessaImagem(window, streams, m, d, parameters, confidences.data(), &infos(), &paths());
    module.ReleaseModule();
    if (r != 1) return {};

    // The module's output is checked whole before any of it replaces the eye's last detection.
    const QStringList linesM = m.lines(kTableLines + 1), linesD = d.lines(kTableLines + 1);
    const QStringList values = parameters.lines(17);
    std::unique_ptr<TMatrizAngAnel[]> mm(new TMatrizAngAnel[kCaptures]()), dd(new TMatrizAngAnel[kCaptures]());
    TTabelaOrto table{};
    try {
        int im = -1, id = -1;
        for (int c = 0; c < kCaptures; ++c) LeMatrizAngAnel(linesM, im, mm[c]);
        for (int c = 0; c < kCaptures; ++c) LeMatrizAngAnel(linesD, id, dd[c]);
    } catch (const ArquivoExameError& err) {
        return refuse(err.message());
    }
    for (int i = 0; i < 16; ++i) {
        const QByteArray v = values.value(i).trimmed().toLatin1();
        if (!LeValor(v.constData(), v.constData() + v.size(), &table[i / 4][i % 4]))
            return refuse(QStringLiteral("o valor %1 dos parâmetros (\"%2\") não é um número")
                              .arg(i + 1)
                              .arg(QString::fromLatin1(v.left(20))));
    }
    for (int c = 0; c < kCaptures; ++c) {
        if (!std::isfinite(confidences[size_t(c)]))
            return refuse(QStringLiteral("o índice de confiabilidade da captura %1 não é um número").arg(c + 1));
        const QString problem = ProblemaNasMatrizes(mm[c], dd[c]);
        if (!problem.isEmpty()) return refuse(QStringLiteral("captura %1: %2").arg(c + 1).arg(problem));
    }
    e.m = std::move(mm);
    e.d = std::move(dd);
    std::copy(&table[0][0], &table[0][0] + 16, &e.table[0][0]);
    e.confidences = confidences;
    e.linesM = linesM.mid(0, kTableLines);
    e.linesD = linesD.mid(0, kTableLines);
    return {true, {}};
}

bool OrthokeratologyExam::showMap(void* window, int eye, const QString& mapModule, const Header& header) {
    Eye& e = eyes_[size_t(eye)];
    if (!e.m) return false;
    TMultiMapBinding module;
    bool shown = false;
    if (module.LoadModule(mapModule)) {
        std::array<HostStream, kCaptures> headers;
        ModuleStream* streams[kCaptures];
        for (int c = 0; c < kCaptures; ++c) {
            headers[size_t(c)].writeLines(header(e.confidences[size_t(c)]));
            headers[size_t(c)].rewind();
            streams[c] = headers[size_t(c)];
        }
        const TDadosPac data{kCaptures, streams};
        const TMatrizesAngAnel m{kCaptures, e.m.get()}, d{kCaptures, e.d.get()};
        module.ProcessaMapasOrto(window, &data, &m, &d, &e.table, &infos());
        shown = true;
    }
    module.ReleaseModule();
    return shown;
}

bool OrthokeratologyExam::readyToStore(int eye) const {
    const Eye& e = eyes_[size_t(eye)];
    return e.m && e.linesM.size() == kTableLines && e.linesD.size() == kTableLines;
}

bool OrthokeratologyExam::store(int eye, TExameNovo row, TArquivosNovos& arquivos) {
    const Eye& e = eyes_[size_t(eye)];
    for (int c = 0; c < kCaptures; ++c) {
        // Each capture its own second, so that every row of the eye has its own time.
        const QDateTime when = MomentoLivre(row.paciente);
        row.data = when.date();
        row.hora = when.time();
        TCapturaOrto capture;
        capture.linhasM = e.linesM.mid(NORVIX_MERIDIANS * c, NORVIX_MERIDIANS);
        capture.linhasD = e.linesD.mid(NORVIX_MERIDIANS * c, NORVIX_MERIDIANS);
        capture.sag = e.table[c][0];
        capture.div = e.table[c][1];
        capture.raio = e.table[c][2];
        capture.indConf = e.confidences[size_t(c)];
        GravaExameOrto(row, capture, arquivos);
    }
    return true;
}

void OrthokeratologyExam::clear(int eye) { eyes_[size_t(eye)] = Eye{}; }

}  // namespace norvix

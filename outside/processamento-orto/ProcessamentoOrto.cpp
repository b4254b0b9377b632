// The reference orthokeratology processing module: ProcessaImagem of the four captures of one
// eye, Info. Each capture is measured as a topography and reduced to the figures a lens is fitted
// and followed by (outside/core/OrthoMetrics.h):
//   m and d streams: 4 x 360 table lines, capture after capture, rings 0..N of each meridian;
//   parameter stream: 16 lines, per capture Sag (mm, sagittal height over an 8 mm chord),
//   Div (eccentricity of the best-fit conic over the central 8 mm, negative when oblate),
//   Raio (apical radius of that conic, mm) and the treatment-zone diameter (mm, 0 when no
//   treatment zone is found);
//   confidences: the percentage of ring points found in each capture.
// It never opens a window: a failure is a return value other than 1, with the reason on
// standard error, and nothing is written into the host's streams then.
#include <cstring>
#include <future>
#include <memory>
#include <type_traits>

#include "modules/ModuleContract.h"
#include "outside/math/CornealMap.h"
#include "outside/core/ExamFiles.h"
#include "outside/core/ImageMeasure.h"
#include "outside/core/ModuleIo.h"
#include "outside/core/ModuleSupport.h"
#include "outside/math/OrthoMetrics.h"

using namespace norvix::outside;

namespace {

constexpr const char* kName = "ProcessamentoOrto";
constexpr int kCaptures = 4;

bool writable(ModuleStream* s) { return s && s->write && s->seek; }

QString number(double v) { return QString::number(v, 'f', 4); }

struct Capture {
    bool ok = false;
    QByteArray m, d;  // its 360 lines of each table
    OrthoValues values;
    double confidence = 0;
};

// One capture from its bitmap to its tables and figures; no exception leaves it.
Capture measureCapture(int c, const QByteArray& bytes, const TInfosQV* infos, const TPathsQV* paths) {
    Capture out;
    try {
        std::unique_ptr<Topography> t = measureBytes(kName, bytes, infos, paths, 1);
        if (!t) {
            reportFailure(kName, QStringLiteral("a captura %1 não pôde ser medida.").arg(c + 1));
            return out;
        }
        CornealMap map;
        QString why;
        if (!map.load(&t->d, &t->m, &t->found, t->rings, &why) || !orthoValues(map, &out.values, &why)) {
            reportFailure(kName, QStringLiteral("captura %1: %2").arg(c + 1).arg(why));
            return out;
        }
        out.m = formatTable(t->m, t->rings);
        out.d = formatTable(t->d, t->rings);
        out.confidence = t->confidence;
        out.ok = true;
    } catch (const std::exception& e) {
        reportFailure(kName, QStringLiteral("captura %1: %2").arg(c + 1).arg(QString::fromLocal8Bit(e.what())));
    }
    return out;
}

}  // namespace

NORVIX_MODULE_EXPORT void Info(ModuleStream* out) {
    writeToStream(out, crlfLines({QStringLiteral("Processamento de Imagem de Ortoceratologia (módulo de referência)")}));
}

NORVIX_MODULE_EXPORT int32_t ProcessaImagem(void* /*hostWindow*/, ModuleStream** images, ModuleStream* m,
                                            ModuleStream* d, ModuleStream* parameters, double* confidences,
                                            const TInfosQV* infos, const TPathsQV* paths) {
    if (!images || !confidences || !writable(m) || !writable(d) || !writable(parameters)) {
        reportFailure(kName, QStringLiteral("argumento ausente (imagens, fluxos de saída ou índices)."));
        return 0;
    }
    try {
        // The host's streams are read here, on its thread; the four captures are measured side
        // by side, each on a thread of its own (they share nothing), which keeps the four no
        // slower than one topography each.
        QByteArray bytes[kCaptures];
        for (int c = 0; c < kCaptures; ++c) {
            if (!images[c]) {
                reportFailure(kName, QStringLiteral("a imagem da captura %1 não foi fornecida.").arg(c + 1));
                return 0;
            }
            if (!readImage(kName, images[c], &bytes[c])) return 0;
        }
        std::future<Capture> work[kCaptures];
        for (int c = 0; c < kCaptures; ++c)
            work[c] = std::async(std::launch::async, measureCapture, c, std::cref(bytes[c]), infos, paths);
        Capture done[kCaptures];
        bool ok = true;
        for (int c = 0; c < kCaptures; ++c) {
            done[c] = work[c].get();
            ok = ok && done[c].ok;
        }
        if (!ok) return 0;
        QByteArray mLines, dLines;
        QStringList values;
        double found[kCaptures] = {};
        for (int c = 0; c < kCaptures; ++c) {
            mLines += done[c].m;
            dLines += done[c].d;
            const OrthoValues& v = done[c].values;
            values << number(v.sag) << number(v.div) << number(v.raio) << number(v.zone);
            found[c] = done[c].confidence;
        }
        // Only a complete result reaches the host.
        if (!writeToStream(m, mLines) || !writeToStream(d, dLines) || !writeToStream(parameters, crlfLines(values))) {
            reportFailure(kName, QStringLiteral("o programa não aceitou os dados gravados."));
            return 0;
        }
        std::memcpy(confidences, found, sizeof found);
        return 1;
    } catch (const std::exception& e) {
        reportFailure(kName, QString::fromLocal8Bit(e.what()));
        return 0;
    }
}

static_assert(std::is_same_v<decltype(&ProcessaImagem), TProcessaImagemOrto>);
static_assert(std::is_same_v<decltype(&Info), TInfo>);

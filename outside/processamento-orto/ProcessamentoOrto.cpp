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
#include <memory>
#include <type_traits>

#include "modules/ModuleContract.h"
#include "outside/core/CornealMap.h"
#include "outside/core/ExamFiles.h"
#include "outside/core/ImageMeasure.h"
#include "outside/core/ModuleIo.h"
#include "outside/core/ModuleSupport.h"
#include "outside/core/OrthoMetrics.h"

using namespace norvix::outside;

namespace {

constexpr const char* kName = "ProcessamentoOrto";
constexpr int kCaptures = 4;

bool writable(ModuleStream* s) { return s && s->write && s->seek; }

QString number(double v) { return QString::number(v, 'f', 4); }

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
        QByteArray mLines, dLines;
        QStringList values;
        double found[kCaptures] = {};
        for (int c = 0; c < kCaptures; ++c) {
            if (!images[c]) {
                reportFailure(kName, QStringLiteral("a imagem da captura %1 não foi fornecida.").arg(c + 1));
                return 0;
            }
            std::unique_ptr<Topography> t = measureImage(kName, images[c], infos, paths);
            if (!t) {
                reportFailure(kName, QStringLiteral("a captura %1 não pôde ser medida.").arg(c + 1));
                return 0;
            }
            CornealMap map;
            OrthoValues v;
            QString why;
            if (!map.load(&t->d, &t->m, &t->found, t->rings, &why) || !orthoValues(map, &v, &why)) {
                reportFailure(kName, QStringLiteral("captura %1: %2").arg(c + 1).arg(why));
                return 0;
            }
            mLines += formatTable(t->m, t->rings);
            dLines += formatTable(t->d, t->rings);
            values << number(v.sag) << number(v.div) << number(v.raio) << number(v.zone);
            found[c] = t->confidence;
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

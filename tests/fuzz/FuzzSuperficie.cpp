// Fuzz target: an exam's ring tables as the files hold them, read by the store's reader and
// reduced by the map and surface code of the modules. The first byte gives the ring count and
// how many rings each meridian lists; the rest is d.txt, then optionally "|" and m.txt
// (without it, every axial radius is 7.8 mm). Properties: no crash, no exam taken with a ring
// point beyond the instrument's field, and (with -malloc_limit_mb) no allocation over the limit.
#include <cmath>
#include <memory>

#include "FuzzAlvo.h"
#include "outside/math/CornealMap.h"
#include "outside/math/CornealSurface.h"
#include "records/UArquivosExame.h"

using namespace norvix;

namespace {
long contagem = 0;
struct Exame {
    TMatrizAngAnel d, m;
    TMatrizAng meridianos;
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const int aneis = 1 + data[0] % 32;
    const QByteArray conteudo(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    const qsizetype barra = conteudo.indexOf('|');
    auto e = std::make_unique<Exame>();
    for (int k = 0; k < 360; ++k) {
        e->meridianos[k] = aneis;
        for (int i = 0; i < 33; ++i) e->m[k][i] = 7.8;
    }
    try {
        LeTabela(barra < 0 ? conteudo : conteudo.left(barra), e->d);
        if (barra >= 0) LeTabela(conteudo.mid(barra + 1), e->m);
    } catch (const ArquivoExameError&) {
        return 0;  // the store refuses the file: the modules never see it
    }
    const bool dentro = outside::ringsOutsideField(&e->d, &e->meridianos, aneis).isEmpty();
    QString porque;
    outside::CornealMap mapa;
    const bool carregou = mapa.load(&e->d, &e->m, &e->meridianos, aneis, &porque);
    fuzz::exige(!carregou || (dentro && mapa.measuredRadius() <= outside::kFieldRadiusMm));
    outside::CornealSurface superficie;
    const bool construiu = superficie.build(&e->d, &e->m, &e->meridianos, aneis, &porque);
    fuzz::exige(!construiu || (dentro && superficie.zoneRadius() <= outside::kFieldRadiusMm));
    if (carregou || construiu) ++contagem;
    return 0;
}

namespace norvix::fuzz {

long aceitos() { return contagem; }

std::vector<QByteArray> sementes() {
    auto e = std::make_unique<Exame>();
    for (int k = 0; k < 360; ++k)
        for (int i = 0; i < 33; ++i) {
            e->d[k][i] = 0.3 + 0.13 * i;
            e->m[k][i] = 7.6 + 0.2 * std::cos(2 * k * M_PI / 180) + 0.01 * i;
        }
    const QByteArray d = TextoTabela(e->d, 32), m = TextoTabela(e->m, 32);
    return {QByteArray("\x1f", 1) + d, QByteArray("\x1f", 1) + d + '|' + m, QByteArray("\x0f", 1) + TextoTabela(e->d, 16)};
}

}  // namespace norvix::fuzz

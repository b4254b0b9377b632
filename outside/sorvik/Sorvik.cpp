// The tangential map module: InfoMapa, ProcessaMapa, ProcessaMapaOrto, Visualizar.
#include <type_traits>

#include "modules/ModuleContract.h"
#include "outside/core/MapModule.h"
#include "outside/core/ModuleSupport.h"

using namespace norvix::outside;

NORVIX_MODULE_EXPORT void InfoMapa(ModuleStream* out) { mapInfo(out, "Mapa Tangencial"); }

NORVIX_MODULE_EXPORT int32_t ProcessaMapa(void* hostWindow, ModuleStream* front, ModuleStream* /*lateral*/,
                                          double centreX, double centreY, ModuleStream* header,
                                          const TMatrizAngAnel* m, const TMatrizAng* meridians,
                                          const TMatrizAngAnel* d, const TPupila* pupil, const TInfosQV* infos) {
    return mapProcess(MapKind::Tangential, hostWindow, front, centreX, centreY, header, m, meridians, d, pupil, nullptr, infos);
}

NORVIX_MODULE_EXPORT int32_t ProcessaMapaOrto(void* hostWindow, ModuleStream* front, ModuleStream* /*lateral*/,
                                              double centreX, double centreY, ModuleStream* header,
                                              const TMatrizAngAnel* m, const TMatrizAng* meridians,
                                              const TMatrizAngAnel* d, const TPupila* pupil,
                                              const TValoresOrto* ortho, const TInfosQV* infos) {
    return mapProcess(MapKind::Tangential, hostWindow, front, centreX, centreY, header, m, meridians, d, pupil, ortho, infos);
}

NORVIX_MODULE_EXPORT int32_t Visualizar(void* /*hostWindow*/, ModuleStream* image, ModuleStream* /*unused1*/,
                                        ModuleStream* /*unused2*/, double /*centreX*/, double /*centreY*/,
                                        const TMatrizAngAnel* m, const TMatrizAng* meridians,
                                        const TMatrizAngAnel* d, const TPupila* /*pupil*/, TResultadoMapa* result,
                                        void* /*unused3*/, const TInfosQV* infos) {
    return mapVisualize(MapKind::Tangential, image, m, meridians, d, result, infos);
}

// The screening is of the axial curvature whatever the map, so both reports carry the same one.
NORVIX_MODULE_EXPORT int32_t IndicesCeratocone(const TMatrizAngAnel* m, const TMatrizAng* meridians,
                                               const TMatrizAngAnel* d, const TInfosQV* infos, TIndicesCeratocone* out) {
    return mapKeratoconus(m, meridians, d, infos, out);
}

NORVIX_MODULE_EXPORT int32_t ImagemMapa(ModuleStream* image, ModuleStream* header, const TMatrizAngAnel* m,
                                        const TMatrizAng* meridians, const TMatrizAngAnel* d, const TInfosQV* infos,
                                        int32_t width) {
    return mapPicture(MapKind::Tangential, image, header, m, meridians, d, infos, width);
}

static_assert(std::is_same_v<decltype(&InfoMapa), TInfoMapa>);
static_assert(std::is_same_v<decltype(&ProcessaMapa), TProcessaMapa>);
static_assert(std::is_same_v<decltype(&ProcessaMapaOrto), TProcessaMapaOrto>);
static_assert(std::is_same_v<decltype(&Visualizar), TVisualizar>);
static_assert(std::is_same_v<decltype(&IndicesCeratocone), TIndicesCeratoconeFn>);
static_assert(std::is_same_v<decltype(&ImagemMapa), TImagemMapa>);

#pragma once
// The entry points of a single-map module, shared by the axial and the tangential module.
#include <optional>

#include "outside/math/CornealMap.h"
#include "MapView.h"
#include "modules/ModuleContract.h"

namespace norvix::outside {

void mapInfo(ModuleStream* out, const char* name);
int32_t mapProcess(MapKind kind, void* hostWindow, ModuleStream* front, double centreX, double centreY,
                   ModuleStream* header, const TMatrizAngAnel* m, const TMatrizAng* meridians,
                   const TMatrizAngAnel* d, const TPupila* pupil, const TValoresOrto* ortho, const TInfosQV* infos);
// The pupil of a map call in mm, from the record, the vertex reflection and the size of the front
// image (when the host passed one).
std::optional<PupilMm> pupilOfCall(const TPupila* pupil, double centreX, double centreY, ModuleStream* front);
// The keratoconus screening of the exam, from the same function the map window uses.
int32_t mapKeratoconus(const TMatrizAngAnel* m, const TMatrizAng* meridians, const TMatrizAngAnel* d,
                       const TInfosQV* infos, TIndicesCeratocone* out);
// The map as its window draws it, for a printed page (ImagemMapa).
int32_t mapPicture(MapKind kind, ModuleStream* image, ModuleStream* header, const TMatrizAngAnel* m,
                   const TMatrizAng* meridians, const TMatrizAngAnel* d, const TInfosQV* infos, int32_t width);
int32_t mapVisualize(MapKind kind, ModuleStream* image, const TMatrizAngAnel* m, const TMatrizAng* meridians,
                     const TMatrizAngAnel* d, TResultadoMapa* result, const TInfosQV* infos);

}  // namespace norvix::outside

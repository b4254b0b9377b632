#pragma once
// The entry points of a single-map module, shared by the axial and the tangential module.
#include "CornealMap.h"
#include "modules/ModuleContract.h"

namespace norvix::outside {

void mapInfo(ModuleStream* out, const char* name);
int32_t mapProcess(MapKind kind, void* hostWindow, double centreX, double centreY, ModuleStream* header,
                   const TMatrizAngAnel* m, const TMatrizAng* meridians, const TMatrizAngAnel* d,
                   const TValoresOrto* ortho, const TInfosQV* infos);
int32_t mapVisualize(MapKind kind, ModuleStream* image, const TMatrizAngAnel* m, const TMatrizAng* meridians,
                     const TMatrizAngAnel* d, TResultadoMapa* result, const TInfosQV* infos);

}  // namespace norvix::outside

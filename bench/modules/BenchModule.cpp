// A map module of the usual shape for the catalogue benchmark: three information lines and a
// map entry that does nothing.
#include <cstring>
#include <type_traits>
#include "modules/ModuleContract.h"

extern "C" {

__attribute__((visibility("default"))) void InfoMapa(ModuleStream* out) {
    static const char kInfo[] = "Mapa de Curvatura\r\n1\r\n1\r\n";
    out->write(out->context, kInfo, sizeof kInfo - 1);
}
static_assert(std::is_same_v<decltype(&InfoMapa), TInfoMapa>);

__attribute__((visibility("default"))) int32_t ProcessaMapa(void*, ModuleStream*, ModuleStream*, double, double,
                                                             ModuleStream*, const TMatrizAngAnel*, const TMatrizAng*,
                                                             const TMatrizAngAnel*, const TPupila*, const TInfosQV*) {
    return 0;
}
static_assert(std::is_same_v<decltype(&ProcessaMapa), TProcessaMapa>);
}

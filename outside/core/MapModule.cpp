#include "MapModule.h"

#include <cstring>
#include <exception>

#include "MapWindow.h"
#include "ModuleIo.h"
#include "ModuleSupport.h"

namespace norvix::outside {

void mapInfo(ModuleStream* out, const char* name) {
    writeToStream(out, crlfLines({QString::fromUtf8(name), QStringLiteral("1"), QStringLiteral("1")}));
}

int32_t mapProcess(MapKind kind, void* hostWindow, double /*centreX*/, double /*centreY*/, ModuleStream* header,
                   const TMatrizAngAnel* m, const TMatrizAng* meridians, const TMatrizAngAnel* d,
                   const TValoresOrto* ortho, const TInfosQV* infos) {
    try {
        MapRequest request;
        request.kind = kind;
        request.d = d;
        request.m = m;
        request.meridians = meridians;
        request.header = readStreamLines(header, 64 * 1024);
        request.infos = infos;
        if (ortho) request.ortho = std::array<double, 3>{(*ortho)[0], (*ortho)[1], (*ortho)[2]};
        return showMapWindow(request, hostWindow) ? 1 : 0;
    } catch (const std::exception& e) {
        reportFailure("Mapa", QString::fromLocal8Bit(e.what()));
        return 0;
    }
}

int32_t mapVisualize(MapKind kind, ModuleStream* image, const TMatrizAngAnel* m, const TMatrizAng* meridians,
                     const TMatrizAngAnel* d, TResultadoMapa* result, const TInfosQV* infos) {
    try {
        MapRequest request;
        request.kind = kind;
        request.d = d;
        request.m = m;
        request.meridians = meridians;
        request.infos = infos;
        std::array<double, 9> values{};
        QByteArray png;
        const bool ok = smallMap(request, &values, &png);
        if (result) std::memcpy(*result, values.data(), sizeof(TResultadoMapa));
        writeToStream(image, png);
        return ok ? 1 : 0;
    } catch (const std::exception& e) {
        reportFailure("Mapa", QString::fromLocal8Bit(e.what()));
        return 0;
    }
}

}  // namespace norvix::outside

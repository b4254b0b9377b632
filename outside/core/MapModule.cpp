#include "MapModule.h"

#include <QBuffer>
#include <QImageReader>
#include <QLayout>
#include <cstring>
#include <exception>

#include "outside/math/KeratoconusIndices.h"
#include "MapWindow.h"
#include "ModuleIo.h"
#include "ModuleSupport.h"

namespace norvix::outside {

void mapInfo(ModuleStream* out, const char* name) {
    writeToStream(out, crlfLines({QString::fromUtf8(name), QStringLiteral("1"), QStringLiteral("1")}));
}

std::optional<PupilMm> pupilOfCall(const TPupila* pupil, double centreX, double centreY, ModuleStream* front) {
    if (!pupil || (*pupil)[2] <= 0) return std::nullopt;
    // The front image gives the frame size the record's pixels belong to (QImageReader reads
    // only its header for that).
    QSize frame;
    QByteArray bytes;
    if (readWholeStream(front, 64 << 20, &bytes)) {
        QBuffer buffer(&bytes);
        frame = QImageReader(&buffer).size();
    }
    if (front && front->seek) front->seek(front->context, 0, 0);
    return pupilInMm(pupil, centreX, centreY, frame);
}

namespace {
MapRequest requestOf(MapKind kind, const TMatrizAngAnel* m, const TMatrizAng* meridians, const TMatrizAngAnel* d,
                     const TInfosQV* infos) {
    MapRequest request;
    request.kind = kind;
    request.d = d;
    request.m = m;
    request.meridians = meridians;
    request.infos = infos;
    return request;
}
}  // namespace

int32_t mapProcess(MapKind kind, void* hostWindow, ModuleStream* front, double centreX, double centreY,
                   ModuleStream* header, const TMatrizAngAnel* m, const TMatrizAng* meridians,
                   const TMatrizAngAnel* d, const TPupila* pupil, const TValoresOrto* ortho, const TInfosQV* infos) {
    return guardedEntry("Mapa", [&]() -> int32_t {
        MapRequest request = requestOf(kind, m, meridians, d, infos);
        request.header = readStreamLines(header, 64 * 1024);
        request.pupil = pupilOfCall(pupil, centreX, centreY, front);
        if (ortho) request.ortho = std::array<double, 3>{(*ortho)[0], (*ortho)[1], (*ortho)[2]};
        showMapWindow(request, hostWindow);
        return 1;
    });
}

int32_t mapKeratoconus(const TMatrizAngAnel* m, const TMatrizAng* meridians, const TMatrizAngAnel* d,
                       const TInfosQV* infos, TIndicesCeratocone* out) {
    return guardedEntry("Mapa", [&]() -> int32_t {
        if (!out) return 0;
        *out = TIndicesCeratocone{};
        CornealMap map;
        QString why;
        if (!map.load(d, m, meridians, infos ? int(infos->NumAneis) : 0, &why)) return 0;
        const KeratoconusIndices ki = keratoconusIndices(map);
        out->inferiorSuperior = ki.inferiorSuperior;
        out->sai = ki.sai;
        out->sri = ki.sri;
        out->kisa = ki.kisa;
        out->triagem = int32_t(ki.screening);
        return ki.screening == KeratoconusScreening::NotAssessed ? 0 : 1;
    });
}

int32_t mapPicture(MapKind kind, ModuleStream* image, ModuleStream* header, const TMatrizAngAnel* m,
                   const TMatrizAng* meridians, const TMatrizAngAnel* d, const TInfosQV* infos, int32_t width) {
    return guardedEntry("Mapa", [&]() -> int32_t {
        if (!image || width < 100 || width > 4000) return 0;
        MapRequest request = requestOf(kind, m, meridians, d, infos);
        request.header = readStreamLines(header, 64 * 1024);
        // The window is built but never shown: its panel draws the map, marks and scale as on screen.
        MapWindow window(request);
        if (!window.panel()) return 0;
        window.resize(1000, 760);
        window.layout()->activate();
        const QImage picture = window.panel()->exportedPicture();
        if (picture.isNull()) return 0;
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        picture.scaledToWidth(width, Qt::SmoothTransformation).save(&buffer, "PNG");
        writeToStream(image, png);
        return 1;
    });
}

int32_t mapVisualize(MapKind kind, ModuleStream* image, const TMatrizAngAnel* m, const TMatrizAng* meridians,
                     const TMatrizAngAnel* d, TResultadoMapa* result, const TInfosQV* infos) {
    try {
        const MapRequest request = requestOf(kind, m, meridians, d, infos);
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

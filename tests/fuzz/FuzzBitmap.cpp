// Fuzz target: the Windows bitmap reader in front of the JPEG packer. A bitmap it accepts
// must describe pixels that are all there; small ones are packed and unpacked again.
#include "FuzzAlvo.h"
#include "records/UBJpeg.h"
#include "tests/records/BitmapFixture.h"

using namespace norvix;

namespace {
long contagem = 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray arquivo(reinterpret_cast<const char*>(data), qsizetype(size));
    TBitmapPixels px;
    try {
        px = LeBitmapWindows(arquivo);
    } catch (const BitmapError& e) {
        fuzz::exige(!e.message().isEmpty());
        return 0;
    }
    fuzz::exige(px.Largura > 0 && px.Altura > 0);
    fuzz::exige(px.BytesPorPixel == 3 || px.BytesPorPixel == 4);
    fuzz::exige(px.Passo >= qsizetype(px.Largura) * px.BytesPorPixel);
    fuzz::exige(px.Inicio >= 54);
    fuzz::exige(px.Inicio + px.Passo * px.Altura <= px.Arquivo.size());
    fuzz::exige(px.Arquivo.size() == arquivo.size());
    if (qint64(px.Largura) * px.Altura <= 4096) {
        const QByteArray jpeg = CompactaPixels(px, 75);
        QByteArray bitmap;
        fuzz::exige(DescompactaParaBitmap(jpeg, bitmap));
        fuzz::exige(bitmap.size() == 54 + qsizetype(px.Largura) * px.Altura * 4);
    }
    ++contagem;
    return 0;
}

namespace norvix::fuzz {

long aceitos() { return contagem; }

std::vector<QByteArray> sementes() {
    using namespace norvix::teste;
    return {bitmap(8, 4, 24), bitmap(5, 3, 32, true), bitmap(7, 2, 24, true),
            bitmap(6, 6, 32, false, true),
            bitmap(3, 3, 32, false, true, 0xFF000000, 0x00FF0000, 0x0000FF00)};
}

}  // namespace norvix::fuzz

// Packing a 640 x 480 32-bit bitmap at quality 50 and unpacking it, through TBJpeg, against
// libjpeg-turbo alone on the same pixels in the same run. Prints both times and the ratios.
#include <QBuffer>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

#include "records/UBJpeg.h"
#include "tests/records/BitmapFixture.h"

using namespace norvix;

namespace {

constexpr int kLargura = 640, kAltura = 480, kQualidade = 50, kRodadas = 21, kVezes = 10;

// The bare library: BGRX rows straight from memory into a memory JPEG.
QByteArray compactaDireto(const uchar* pixels) {
    jpeg_compress_struct c;
    jpeg_error_mgr erro;
    c.err = jpeg_std_error(&erro);
    jpeg_create_compress(&c);
    unsigned char* saida = nullptr;
    unsigned long tamanho = 0;
    jpeg_mem_dest(&c, &saida, &tamanho);
    c.image_width = kLargura;
    c.image_height = kAltura;
    c.input_components = 4;
    c.in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, kQualidade, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW linha = const_cast<uchar*>(pixels) + (kAltura - 1 - c.next_scanline) * kLargura * 4;
        jpeg_write_scanlines(&c, &linha, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    QByteArray r(reinterpret_cast<const char*>(saida), qsizetype(tamanho));
    std::free(saida);
    return r;
}

void descompactaDireto(const QByteArray& jpeg, std::vector<uchar>& saida) {
    jpeg_decompress_struct d;
    jpeg_error_mgr erro;
    d.err = jpeg_std_error(&erro);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, reinterpret_cast<const unsigned char*>(jpeg.constData()),
                 static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&d, TRUE);
    d.out_color_space = JCS_EXT_BGRX;
    jpeg_start_decompress(&d);
    saida.resize(size_t(d.output_width) * d.output_height * 4);
    while (d.output_scanline < d.output_height) {
        JSAMPROW linha = saida.data() + size_t(d.output_height - 1 - d.output_scanline) * d.output_width * 4;
        jpeg_read_scanlines(&d, &linha, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
}

// Rounds alternate between the two sides, so that both meet the same machine load; the
// figures are the medians of the per-round times and of the per-round ratios.
struct Medida {
    double nosso, base, razao;
};
template <typename F, typename G>
Medida compara(F&& nosso, G&& base) {
    std::vector<double> a, b, r;
    for (int rodada = 0; rodada < kRodadas; ++rodada) {
        QElapsedTimer relogio;
        relogio.start();
        for (int i = 0; i < kVezes; ++i) nosso();
        a.push_back(double(relogio.nsecsElapsed()) / kVezes / 1e6);
        relogio.restart();
        for (int i = 0; i < kVezes; ++i) base();
        b.push_back(double(relogio.nsecsElapsed()) / kVezes / 1e6);
        r.push_back(a.back() / b.back());
    }
    auto mediana = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    return {mediana(a), mediana(b), mediana(r)};
}

}  // namespace

int main() {
    const QByteArray bmp = teste::bitmap(kLargura, kAltura, 32);
    const uchar* pixels = reinterpret_cast<const uchar*>(bmp.constData()) + 54;
    const QByteArray jpeg = compactaDireto(pixels);

    const Medida compacta = compara(
        [&] {
            QBuffer fluxo;
            fluxo.setData(bmp);
            fluxo.open(QIODevice::ReadOnly);
            auto imagem = TBJpeg().CompactaImagem(fluxo, kQualidade);
            if (imagem->Dados() != jpeg) std::abort();  // same encoder, same bytes
        },
        [&] { compactaDireto(pixels); });
    std::vector<uchar> destino;
    const Medida descompacta = compara(
        [&] {
            QBuffer fluxo;
            fluxo.setData(jpeg);
            fluxo.open(QIODevice::ReadWrite);
            if (!TBJpeg().DescompactaImagem(fluxo)) std::abort();
        },
        [&] { descompactaDireto(jpeg, destino); });

    std::printf("packing 640x480x32 q50: TBJpeg %.3f ms, libjpeg-turbo alone %.3f ms, ratio %.3f\n",
                compacta.nosso, compacta.base, compacta.razao);
    std::printf("unpacking to a 32-bit bitmap: TBJpeg %.3f ms, libjpeg-turbo alone %.3f ms, "
                "ratio %.3f\n", descompacta.nosso, descompacta.base, descompacta.razao);
    return 0;
}

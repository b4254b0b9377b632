#include "UBJpeg.h"

#include <QBuffer>
#include <QIODevice>
#include <QImage>
#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>
#include <jerror.h>

namespace norvix {

namespace {

constexpr int CabecalhoArquivo = 14;
constexpr int CabecalhoInfo = 40;
constexpr qint64 LadoMaximoJpeg = 65500;  // the format's own limit
// An image larger than this is no eye image; refusing it keeps a lying JPEG header from
// asking for gigabytes.
constexpr qint64 PixelsMaximos = 64LL * 1024 * 1024;

quint32 u32(const uchar* p) { return p[0] | p[1] << 8 | p[2] << 16 | quint32(p[3]) << 24; }
qint32 i32(const uchar* p) { return static_cast<qint32>(u32(p)); }
quint16 u16(const uchar* p) { return static_cast<quint16>(p[0] | p[1] << 8); }
void poe32(uchar* p, quint32 v) {
    p[0] = uchar(v);
    p[1] = uchar(v >> 8);
    p[2] = uchar(v >> 16);
    p[3] = uchar(v >> 24);
}
void poe16(uchar* p, quint16 v) {
    p[0] = uchar(v);
    p[1] = uchar(v >> 8);
}

// One colour channel of a BI_BITFIELDS mask: where it lies and how many bits it has.
struct Canal {
    int desloca = 0;
    int bits = 0;
    bool valido(quint32 mascara) {
        if (mascara == 0) return false;
        while (!(mascara & 1)) {
            mascara >>= 1;
            ++desloca;
        }
        while (mascara & 1) {
            mascara >>= 1;
            ++bits;
        }
        return mascara == 0;  // contiguous bits only
    }
    uchar valor(quint32 pixel) const {
        const quint32 v = (pixel >> desloca) & ((bits >= 32) ? 0xFFFFFFFFu : ((1u << bits) - 1));
        if (bits == 8) return uchar(v);
        if (bits > 8) return uchar(v >> (bits - 8));
        return uchar(v * 255 / ((1u << bits) - 1));
    }
};

// libjpeg reports a fatal error through error_exit, which by default ends the process; ours
// jumps back to the call that started the work. Only plain C data lives across the jump.
struct ErroJpeg {
    jpeg_error_mgr pub;
    std::jmp_buf salto;
    char mensagem[JMSG_LENGTH_MAX];
    bool fimPrematuro;
};

extern "C" void saidaErroJpeg(j_common_ptr c) {
    auto* e = reinterpret_cast<ErroJpeg*>(c->err);
    (*c->err->format_message)(c, e->mensagem);
    std::longjmp(e->salto, 1);
}

extern "C" void mensagemJpeg(j_common_ptr c, int nivel) {
    if (nivel < 0) {
        auto* e = reinterpret_cast<ErroJpeg*>(c->err);
        if (c->err->msg_code == JWRN_JPEG_EOF) e->fimPrematuro = true;
        ++c->err->num_warnings;
    }
}

jpeg_error_mgr* preparaErro(ErroJpeg& e) {
    jpeg_std_error(&e.pub);
    e.pub.error_exit = saidaErroJpeg;
    e.pub.emit_message = mensagemJpeg;
    e.mensagem[0] = 0;
    e.fimPrematuro = false;
    return &e.pub;
}

// Kept apart from the QByteArray work so that no object with a destructor lives between
// setjmp and a jump back.
bool compactaLinhas(JSAMPROW* linhas, int largura, int altura, int bytesPorPixel,
                    int qualidade, unsigned char** saida, unsigned long* tamanho,
                    char* mensagem) {
    jpeg_compress_struct cinfo;
    ErroJpeg erro;
    cinfo.err = preparaErro(erro);
    if (setjmp(erro.salto)) {
        std::memcpy(mensagem, erro.mensagem, JMSG_LENGTH_MAX);
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, saida, tamanho);
    cinfo.image_width = static_cast<JDIMENSION>(largura);
    cinfo.image_height = static_cast<JDIMENSION>(altura);
    // The bitmap's own byte order, so no pixel is converted before the encoder sees it.
    cinfo.input_components = bytesPorPixel;
    cinfo.in_color_space = bytesPorPixel == 4 ? JCS_EXT_BGRX : JCS_EXT_BGR;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, qualidade, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height)
        jpeg_write_scanlines(&cinfo, linhas + cinfo.next_scanline,
                             cinfo.image_height - cinfo.next_scanline);
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

// Where an unpacked image goes: told its size once, then asked for each row (top row 0)
// of w × 4 bytes, blue, green, red, unused.
struct DestinoPixels {
    virtual bool prepara(quint32 largura, quint32 altura) = 0;  // false: refused (no memory)
    virtual uchar* linha(quint32 y) = 0;

protected:
    ~DestinoPixels() = default;
};

bool descompacta(const unsigned char* dados, unsigned long tamanho, DestinoPixels* destino) {
    jpeg_decompress_struct d;
    ErroJpeg erro;
    d.err = preparaErro(erro);
    if (setjmp(erro.salto)) {
        jpeg_destroy_decompress(&d);
        return false;
    }
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, dados, tamanho);
    if (jpeg_read_header(&d, TRUE) != JPEG_HEADER_OK ||
        qint64(d.image_width) * d.image_height > PixelsMaximos) {
        jpeg_destroy_decompress(&d);
        return false;
    }
    d.out_color_space = JCS_EXT_BGRX;
    jpeg_start_decompress(&d);
    const quint32 h = d.output_height;
    if (!destino->prepara(d.output_width, h)) {
        jpeg_destroy_decompress(&d);
        return false;
    }
    while (d.output_scanline < h) {
        JSAMPROW linha = destino->linha(d.output_scanline);
        jpeg_read_scanlines(&d, &linha, 1);
    }
    jpeg_finish_decompress(&d);
    const bool completo = !erro.fimPrematuro;
    jpeg_destroy_decompress(&d);
    return completo;
}

// A 32-bit bottom-up Windows bitmap file.
struct DestinoBitmap final : DestinoPixels {
    QByteArray* bitmap;
    uchar* pixels = nullptr;
    quint32 altura = 0;
    quint32 passo = 0;
    explicit DestinoBitmap(QByteArray* b) : bitmap(b) {}
    bool prepara(quint32 w, quint32 h) override {
        altura = h;
        passo = w * 4;
        const quint32 imagem = passo * h;
        bitmap->resize(qsizetype(CabecalhoArquivo + CabecalhoInfo) + imagem);
        uchar* b = reinterpret_cast<uchar*>(bitmap->data());
        std::memset(b, 0, CabecalhoArquivo + CabecalhoInfo);
        b[0] = 'B';
        b[1] = 'M';
        poe32(b + 2, CabecalhoArquivo + CabecalhoInfo + imagem);
        poe32(b + 10, CabecalhoArquivo + CabecalhoInfo);
        poe32(b + 14, CabecalhoInfo);
        poe32(b + 18, w);
        poe32(b + 22, h);  // positive: bottom row first
        poe16(b + 26, 1);
        poe16(b + 28, 32);
        poe32(b + 30, 0);  // BI_RGB
        poe32(b + 34, imagem);
        pixels = b + CabecalhoArquivo + CabecalhoInfo;
        return true;
    }
    uchar* linha(quint32 y) override { return pixels + qsizetype(altura - 1 - y) * passo; }
};

// A QImage of format RGB32: in memory blue, green, red and 0xff, which libjpeg-turbo writes
// as the unused byte.
struct DestinoImagem final : DestinoPixels {
    QImage* imagem;
    explicit DestinoImagem(QImage* i) : imagem(i) {}
    bool prepara(quint32 w, quint32 h) override {
        *imagem = QImage(int(w), int(h), QImage::Format_RGB32);
        return !imagem->isNull();
    }
    uchar* linha(quint32 y) override { return imagem->scanLine(int(y)); }
};

}  // namespace

TBitmapPixels LeBitmapWindows(const QByteArray& arquivo) {
    const qint64 tamanho = arquivo.size();
    const auto* b = reinterpret_cast<const uchar*>(arquivo.constData());
    if (tamanho < CabecalhoArquivo + CabecalhoInfo)
        throw BitmapError(QStringLiteral("O fluxo não contém um bitmap: apenas %1 bytes.")
                              .arg(tamanho));
    if (b[0] != 'B' || b[1] != 'M')
        throw BitmapError(QStringLiteral("O fluxo não contém um bitmap do Windows (assinatura "
                                         "\"BM\" ausente)."));
    const quint32 tamanhoDeclarado = u32(b + 2);
    const quint32 inicioPixels = u32(b + 10);
    const quint32 tamanhoInfo = u32(b + 14);
    if (tamanhoInfo != 40 && tamanhoInfo != 52 && tamanhoInfo != 56 && tamanhoInfo != 108 &&
        tamanhoInfo != 124)
        throw BitmapError(
            QStringLiteral("Cabeçalho de bitmap de %1 bytes não suportado.").arg(tamanhoInfo));
    if (CabecalhoArquivo + qint64(tamanhoInfo) > tamanho)
        throw BitmapError(QStringLiteral("Cabeçalho do bitmap incompleto."));
    if (tamanhoDeclarado > tamanho)
        throw BitmapError(QStringLiteral("O cabeçalho do bitmap declara %1 bytes, mas o fluxo "
                                         "tem %2.").arg(tamanhoDeclarado).arg(tamanho));
    const qint32 largura = i32(b + 18);
    const qint32 alturaDeclarada = i32(b + 22);
    const quint16 planos = u16(b + 26);
    const quint16 bits = u16(b + 28);
    const quint32 compressao = u32(b + 30);
    const quint32 tamanhoImagem = u32(b + 34);
    if (largura <= 0)
        throw BitmapError(QStringLiteral("Largura do bitmap inválida: %1.").arg(largura));
    if (alturaDeclarada == 0 || alturaDeclarada == INT32_MIN)
        throw BitmapError(QStringLiteral("Altura do bitmap inválida: %1.").arg(alturaDeclarada));
    const qint64 altura = alturaDeclarada < 0 ? -qint64(alturaDeclarada) : alturaDeclarada;
    if (largura > LadoMaximoJpeg || altura > LadoMaximoJpeg)
        throw BitmapError(QStringLiteral("Bitmap de %1 × %2 pixels grande demais.")
                              .arg(largura).arg(altura));
    if (planos != 1)
        throw BitmapError(QStringLiteral("Número de planos do bitmap inválido: %1.").arg(planos));
    if (bits != 24 && bits != 32)
        throw BitmapError(QStringLiteral("Bitmap de %1 bits por pixel não suportado (apenas 24 "
                                         "ou 32).").arg(bits));
    constexpr quint32 BiRgb = 0, BiBitfields = 3;
    if (compressao != BiRgb && !(compressao == BiBitfields && bits == 32))
        throw BitmapError(QStringLiteral("Compressão de bitmap não suportada (%1).")
                              .arg(compressao));
    qint64 fimCabecalho = CabecalhoArquivo + qint64(tamanhoInfo);
    Canal azul, verde, vermelho;
    bool mascarasPadrao = true;
    if (compressao == BiBitfields) {
        // The three masks follow a 40-byte header and are part of the longer ones.
        if (tamanhoInfo == CabecalhoInfo) fimCabecalho += 12;
        if (fimCabecalho > tamanho)
            throw BitmapError(QStringLiteral("Máscaras de cor do bitmap incompletas."));
        const quint32 mr = u32(b + 54), mg = u32(b + 58), mb = u32(b + 62);
        if (!vermelho.valido(mr) || !verde.valido(mg) || !azul.valido(mb) || (mr & mg) ||
            (mr & mb) || (mg & mb))
            throw BitmapError(QStringLiteral("Máscaras de cor do bitmap inválidas."));
        mascarasPadrao = mr == 0x00FF0000 && mg == 0x0000FF00 && mb == 0x000000FF;
    }
    if (inicioPixels < fimCabecalho || inicioPixels > tamanho)
        throw BitmapError(QStringLiteral("Início dos pixels do bitmap inválido: %1.")
                              .arg(inicioPixels));
    const qint64 passo = ((qint64(largura) * bits + 31) / 32) * 4;
    const qint64 necessario = passo * altura;
    if (inicioPixels + necessario > tamanho)
        throw BitmapError(QStringLiteral("Os pixels do bitmap ultrapassam o fim do fluxo: %1 "
                                         "bytes necessários, %2 disponíveis.")
                              .arg(necessario).arg(tamanho - inicioPixels));
    if (tamanhoImagem != 0 && inicioPixels + qint64(tamanhoImagem) > tamanho)
        throw BitmapError(QStringLiteral("O cabeçalho do bitmap declara %1 bytes de pixels, "
                                         "mas o fluxo tem %2.")
                              .arg(tamanhoImagem).arg(tamanho - inicioPixels));

    TBitmapPixels px;
    px.Largura = largura;
    px.Altura = int(altura);
    px.BytesPorPixel = bits / 8;
    px.Passo = passo;
    px.DeCimaParaBaixo = alturaDeclarada < 0;
    px.Arquivo = arquivo;
    px.Inicio = inicioPixels;
    if (!mascarasPadrao) {
        // Uncommon channel layouts are brought to blue, green, red, unused.
        uchar* p = reinterpret_cast<uchar*>(px.Arquivo.data()) + inicioPixels;
        for (qint64 i = 0; i < necessario; i += 4) {
            const quint32 v = u32(p + i);
            p[i] = azul.valor(v);
            p[i + 1] = verde.valor(v);
            p[i + 2] = vermelho.valor(v);
            p[i + 3] = 0;
        }
    }
    return px;
}

QByteArray CompactaPixels(const TBitmapPixels& pixels, int qualidade) {
    std::vector<JSAMPROW> linhas(static_cast<size_t>(pixels.Altura));
    for (int y = 0; y < pixels.Altura; ++y)
        linhas[static_cast<size_t>(y)] = const_cast<JSAMPROW>(pixels.Linha(y));
    unsigned char* saida = nullptr;
    unsigned long tamanho = 0;
    char mensagem[JMSG_LENGTH_MAX] = {};
    const bool ok = compactaLinhas(linhas.data(), pixels.Largura, pixels.Altura,
                                   pixels.BytesPorPixel, std::clamp(qualidade, 0, 100),
                                   &saida, &tamanho, mensagem);
    QByteArray jpeg;
    if (ok) jpeg = QByteArray(reinterpret_cast<const char*>(saida), qsizetype(tamanho));
    std::free(saida);
    if (!ok)
        throw Error(QStringLiteral("Não foi possível compactar a imagem: %1")
                        .arg(QString::fromLocal8Bit(mensagem)));
    return jpeg;
}

bool DescompactaParaBitmap(const QByteArray& jpeg, QByteArray& bitmap) {
    if (jpeg.isEmpty()) return false;
    DestinoBitmap destino(&bitmap);
    return descompacta(reinterpret_cast<const unsigned char*>(jpeg.constData()),
                       static_cast<unsigned long>(jpeg.size()), &destino);
}

QImage DescompactaParaImagem(const QByteArray& jpeg) {
    QImage imagem;
    DestinoImagem destino(&imagem);
    if (jpeg.isEmpty() ||
        !descompacta(reinterpret_cast<const unsigned char*>(jpeg.constData()),
                     static_cast<unsigned long>(jpeg.size()), &destino))
        return QImage();
    return imagem;
}

void TJpegImagem::SaveToStream(QIODevice& destino) const {
    if (destino.write(dados_) != dados_.size())
        throw Error(QStringLiteral("Não foi possível gravar a imagem compactada (%1).")
                        .arg(destino.errorString()));
}

std::unique_ptr<TJpegImagem> TBJpeg::CompactaImagem(QIODevice& bitmap, int qualidade) {
    if (!bitmap.isReadable())
        throw BitmapError(QStringLiteral("O fluxo do bitmap não está aberto para leitura."));
    QByteArray arquivo;
    auto* memoria = qobject_cast<QBuffer*>(&bitmap);
    if (memoria && memoria->pos() == 0) {
        // The memory stream's own bytes, shared rather than copied (a captured frame is
        // over a megabyte); the stream ends at its end as if it had been read.
        arquivo = memoria->data();
        memoria->seek(arquivo.size());
    } else {
        arquivo = bitmap.readAll();
    }
    const TBitmapPixels pixels = LeBitmapWindows(arquivo);
    return std::make_unique<TJpegImagem>(CompactaPixels(pixels, qualidade), pixels.Largura,
                                         pixels.Altura);
}

bool TBJpeg::DescompactaImagem(QBuffer& fluxo) {
    try {
        QByteArray bitmap;
        if (!DescompactaParaBitmap(fluxo.data(), bitmap)) {
            if (fluxo.isOpen()) fluxo.seek(0);
            return false;
        }
        const QIODevice::OpenMode modo =
            fluxo.isOpen() ? fluxo.openMode() : QIODevice::OpenMode(QIODevice::ReadWrite);
        fluxo.close();
        fluxo.setData(bitmap);
        fluxo.open(modo);
        fluxo.seek(0);
        return true;
    } catch (...) {
        // Out of memory for a large image: reported as failure, as every other problem.
        return false;
    }
}

}  // namespace norvix

#pragma once
// Packing of the captured eye images (Windows bitmap files) into JPEG files and back, with
// libjpeg-turbo through the IJG API.
#include <QByteArray>
#include <memory>

#include "platform/Errors.h"

class QBuffer;
class QImage;
class QIODevice;

namespace norvix {

// A bitmap stream that cannot be read: bad signature, a header that contradicts itself or
// the stream size, a depth or compression that is not handled.
class BitmapError : public Error {
public:
    using Error::Error;
};

// The pixels of a Windows bitmap file as the JPEG encoder takes them: each pixel blue, green,
// red (and one unused byte when BytesPorPixel is 4); rows Passo bytes apart, in the order of
// the file (bottom row first unless DeCimaParaBaixo).
// The pixels stay in the file's own bytes (shared, not copied): they start at Inicio.
struct TBitmapPixels {
    int Largura = 0;
    int Altura = 0;
    int BytesPorPixel = 0;
    qsizetype Passo = 0;
    bool DeCimaParaBaixo = false;
    QByteArray Arquivo;
    qsizetype Inicio = 0;
    // Row y counted from the top of the image.
    const uchar* Linha(int y) const {
        const qsizetype r = DeCimaParaBaixo ? y : Altura - 1 - y;
        return reinterpret_cast<const uchar*>(Arquivo.constData()) + Inicio + r * Passo;
    }
};

// Reads a Windows bitmap file (24 or 32 bits per pixel, BI_RGB or BI_BITFIELDS, rows stored
// bottom-up or top-down). Every header field is checked against the bytes that are actually
// there. Raises BitmapError.
TBitmapPixels LeBitmapWindows(const QByteArray& arquivo);

// A packed image owned by the caller.
class TJpegImagem {
public:
    TJpegImagem(QByteArray dados, int largura, int altura)
        : dados_(std::move(dados)), largura_(largura), altura_(altura) {}
    const QByteArray& Dados() const { return dados_; }
    int Largura() const { return largura_; }
    int Altura() const { return altura_; }
    // Writes the JPEG file at the stream's current position; raises Error when it cannot.
    void SaveToStream(QIODevice& destino) const;

private:
    QByteArray dados_;
    int largura_;
    int altura_;
};

class TBJpeg {
public:
    // Packs the bitmap file read from the stream's current position, at the given quality
    // (values above 100 are taken as 100; baseline JPEG, other settings the library's).
    // Raises BitmapError for a stream without a readable bitmap, Error when packing fails.
    std::unique_ptr<TJpegImagem> CompactaImagem(QIODevice& bitmap, int qualidade);
    // Replaces the content of the stream (a JPEG file) with a 32-bit bottom-up bitmap file
    // of the image and rewinds it. Never raises: false when anything failed.
    bool DescompactaImagem(QBuffer& fluxo);
};

// The pixels packed directly (no bitmap file in between), for callers that already hold them.
QByteArray CompactaPixels(const TBitmapPixels& pixels, int qualidade);
// A JPEG file unpacked into a 32-bit bottom-up Windows bitmap file (54-byte header, BI_RGB).
// False when the data is not a complete JPEG image.
bool DescompactaParaBitmap(const QByteArray& jpeg, QByteArray& bitmap);
// A JPEG file unpacked into an image of format RGB32; a null image when the data is not a
// complete JPEG image.
QImage DescompactaParaImagem(const QByteArray& jpeg);

}  // namespace norvix

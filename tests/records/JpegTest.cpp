// Packing captured bitmaps into JPEG files and unpacking them again.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <cstring>

#include "BitmapFixture.h"
#include "records/UBJpeg.h"

using namespace norvix;
using namespace norvix::teste;

namespace {

QByteArray compacta(const QByteArray& bmp, int qualidade) {
    QBuffer fluxo;
    fluxo.setData(bmp);
    fluxo.open(QIODevice::ReadOnly);
    TBJpeg jpeg;
    auto imagem = jpeg.CompactaImagem(fluxo, qualidade);
    EXPECT_TRUE(imagem);
    QBuffer saida;
    saida.open(QIODevice::WriteOnly);
    imagem->SaveToStream(saida);
    return saida.data();
}

uint32_t le32(const QByteArray& b, int at) { return qFromLittleEndian<uint32_t>(b.constData() + at); }

QString erroDe(const QByteArray& bmp) {
    QBuffer fluxo;
    fluxo.setData(bmp);
    fluxo.open(QIODevice::ReadOnly);
    try {
        TBJpeg().CompactaImagem(fluxo, 50);
    } catch (const BitmapError& e) {
        return e.message();
    }
    return QString();
}

}  // namespace

TEST(CompactaImagem, IdaEVoltaDe640x480MantemTamanhoEOrientacao) {
    const QByteArray bmp = bitmap(640, 480, 32);
    const QByteArray jpeg = compacta(bmp, 50);
    ASSERT_GT(jpeg.size(), 100);
    EXPECT_TRUE(jpeg.startsWith("\xFF\xD8"));

    QBuffer fluxo;
    fluxo.setData(jpeg);
    fluxo.open(QIODevice::ReadWrite);
    fluxo.seek(jpeg.size());
    ASSERT_TRUE(TBJpeg().DescompactaImagem(fluxo));
    EXPECT_EQ(fluxo.pos(), 0);
    const QByteArray saida = fluxo.data();
    ASSERT_EQ(saida.size(), 54 + 640 * 480 * 4);
    EXPECT_TRUE(saida.startsWith("BM"));
    EXPECT_EQ(le32(saida, 2), uint32_t(saida.size()));
    EXPECT_EQ(le32(saida, 10), 54u);
    EXPECT_EQ(le32(saida, 14), 40u);
    EXPECT_EQ(le32(saida, 18), 640u);
    EXPECT_EQ(le32(saida, 22), 480u);  // bottom-up
    EXPECT_EQ(qFromLittleEndian<uint16_t>(saida.constData() + 28), 32);
    EXPECT_EQ(le32(saida, 30), 0u);  // BI_RGB
    // The red band is at the top: the last row of a bottom-up file.
    const auto* topo = reinterpret_cast<const uchar*>(saida.constData()) + 54 + 479 * 640 * 4;
    EXPECT_GT(topo[2 + 4 * 320], 200);
    EXPECT_LT(topo[0 + 4 * 320], 40);
    // Elsewhere the gradient survives within JPEG error.
    const auto* linha = reinterpret_cast<const uchar*>(saida.constData()) + 54 + (479 - 300) * 640 * 4;
    const Cor c = corDe(400, 300, 480);
    EXPECT_NEAR(linha[400 * 4 + 1], c.g, 12);
    EXPECT_NEAR(linha[400 * 4 + 0], c.b, 12);
}

TEST(CompactaImagem, QualidadeAcimaDe100EhTomadaComo100) {
    const QByteArray bmp = bitmap(64, 48, 32);
    const QByteArray q100 = compacta(bmp, 100);
    EXPECT_EQ(compacta(bmp, 150), q100);
    EXPECT_EQ(compacta(bmp, 255), q100);
    EXPECT_NE(compacta(bmp, 50), q100);
    EXPECT_LT(compacta(bmp, 25).size(), q100.size());
}

TEST(CompactaImagem, MesmosPixelsEmQualquerLayoutDaoOMesmoJpeg) {
    const QByteArray referencia = compacta(bitmap(33, 17, 32), 75);
    EXPECT_EQ(compacta(bitmap(33, 17, 24), 75), referencia);  // rows padded to 4 bytes
    EXPECT_EQ(compacta(bitmap(33, 17, 24, true), 75), referencia);
    EXPECT_EQ(compacta(bitmap(33, 17, 32, true), 75), referencia);
    EXPECT_EQ(compacta(bitmap(33, 17, 32, false, true), 75), referencia);
    // Channels in another place of the 32-bit word.
    EXPECT_EQ(compacta(bitmap(33, 17, 32, false, true, 0xFF000000, 0x00FF0000, 0x0000FF00), 75),
              referencia);
}

TEST(CompactaImagem, LeAPartirDaPosicaoAtualDoFluxo) {
    const QByteArray bmp = bitmap(20, 10, 24);
    QBuffer fluxo;
    fluxo.setData(QByteArray("lixo antes") + bmp);
    fluxo.open(QIODevice::ReadOnly);
    fluxo.seek(10);
    auto imagem = TBJpeg().CompactaImagem(fluxo, 60);
    EXPECT_EQ(imagem->Largura(), 20);
    EXPECT_EQ(imagem->Altura(), 10);
    EXPECT_EQ(imagem->Dados(), compacta(bmp, 60));
}

TEST(CompactaImagem, CabecalhosMentirososDaoErroClaro) {
    const QByteArray bom = bitmap(16, 8, 32);
    EXPECT_TRUE(erroDe(bom).isEmpty());
    auto com32 = [&](int at, uint32_t v) { QByteArray b = bom; poe32(b, at, v); return b; };
    auto com16 = [&](int at, uint16_t v) { QByteArray b = bom; poe16(b, at, v); return b; };

    EXPECT_TRUE(erroDe(QByteArray()).contains("apenas 0 bytes"));
    EXPECT_TRUE(erroDe("PK" + bom.mid(2)).contains("BM"));
    EXPECT_TRUE(erroDe(com32(2, 1000000)).contains("declara 1000000 bytes"));
    EXPECT_TRUE(erroDe(com32(34, 1000000)).contains("declara 1000000 bytes de pixels"));
    EXPECT_TRUE(erroDe(bom.left(bom.size() - 1)).contains("declara"));
    EXPECT_TRUE(erroDe(com32(2, 0).left(bom.size() - 1)).contains("ultrapassam o fim"));
    EXPECT_TRUE(erroDe(com32(18, 0)).contains("Largura"));
    EXPECT_TRUE(erroDe(com32(18, uint32_t(-16))).contains("Largura"));
    EXPECT_TRUE(erroDe(com32(18, 0x7FFFFFFF)).contains("grande demais"));
    EXPECT_TRUE(erroDe(com32(22, 0)).contains("Altura"));
    EXPECT_TRUE(erroDe(com32(22, 0x80000000u)).contains("Altura"));
    EXPECT_TRUE(erroDe(com32(22, 100000)).contains("grande demais"));
    EXPECT_TRUE(erroDe(com32(22, 4000)).contains("ultrapassam"));
    EXPECT_TRUE(erroDe(com16(28, 8)).contains("8 bits"));
    EXPECT_TRUE(erroDe(com16(28, 0)).contains("0 bits"));
    EXPECT_TRUE(erroDe(com16(26, 3)).contains("planos"));
    EXPECT_TRUE(erroDe(com32(30, 1)).contains("Compressão"));
    EXPECT_TRUE(erroDe(com32(14, 12)).contains("12 bytes"));
    EXPECT_TRUE(erroDe(com32(14, 0xFFFFFFF0u)).contains("não suportado"));
    EXPECT_TRUE(erroDe(com32(10, 20)).contains("Início dos pixels"));
    EXPECT_TRUE(erroDe(com32(10, 0xFFFFFFFFu)).contains("Início dos pixels"));
    // Bit fields: only with 32 bits, masks present, non-zero, contiguous, disjoint.
    QByteArray campos = bitmap(16, 8, 32, false, true);
    EXPECT_TRUE(erroDe(campos).isEmpty());
    QByteArray b24 = bitmap(16, 8, 24);
    poe32(b24, 30, 3);
    EXPECT_TRUE(erroDe(b24).contains("Compressão"));
    QByteArray semMascara = campos;
    poe32(semMascara, 58, 0);
    EXPECT_TRUE(erroDe(semMascara).contains("Máscaras"));
    QByteArray salteada = campos;
    poe32(salteada, 62, 0x00000F0F);
    EXPECT_TRUE(erroDe(salteada).contains("Máscaras"));
    EXPECT_TRUE(erroDe(campos.left(60)).contains("bytes") );
}

TEST(DescompactaImagem, FalhasDevolvemFalsoSemLevantarErro) {
    TBJpeg jpeg;
    QBuffer vazio;
    vazio.open(QIODevice::ReadWrite);
    EXPECT_FALSE(jpeg.DescompactaImagem(vazio));
    EXPECT_TRUE(vazio.data().isEmpty());

    const QByteArray bom = compacta(bitmap(64, 48, 24), 50);
    for (const QByteArray& ruim : {bom.left(bom.size() / 2), bom.left(2), QByteArray(500, 'x'),
                                   bitmap(8, 8, 32)}) {
        QBuffer fluxo;
        fluxo.setData(ruim);
        fluxo.open(QIODevice::ReadWrite);
        EXPECT_FALSE(jpeg.DescompactaImagem(fluxo)) << ruim.size();
    }
    QBuffer fechado;  // a stream nobody opened still unpacks and is left open, rewound
    fechado.setData(bom);
    ASSERT_TRUE(jpeg.DescompactaImagem(fechado));
    EXPECT_TRUE(fechado.isOpen());
    EXPECT_EQ(fechado.pos(), 0);
    EXPECT_EQ(le32(fechado.data(), 18), 64u);
}

TEST(DescompactaParaImagem, MesmosPixelsQueOBitmapEmOrdemDeCimaParaBaixo) {
    const QByteArray jpeg = compacta(bitmap(640, 480, 24), 60);
    const QImage imagem = DescompactaParaImagem(jpeg);
    ASSERT_EQ(imagem.size(), QSize(640, 480));
    ASSERT_EQ(imagem.format(), QImage::Format_RGB32);
    QByteArray bmp;
    ASSERT_TRUE(DescompactaParaBitmap(jpeg, bmp));
    for (int y : {0, 119, 120, 300, 479}) {
        const auto* linhaBmp = reinterpret_cast<const uchar*>(bmp.constData()) + 54 + (479 - y) * 640 * 4;
        const uchar* linhaImagem = imagem.constScanLine(y);
        for (int x = 0; x < 640; ++x) {
            // The same decoder: identical colours; the unused byte is opaque, as RGB32 needs.
            ASSERT_EQ(std::memcmp(linhaImagem + 4 * x, linhaBmp + 4 * x, 3), 0) << x << "," << y;
            ASSERT_EQ(linhaImagem[4 * x + 3], 0xFF) << x << "," << y;
        }
    }
    EXPECT_GT(qRed(imagem.pixel(320, 0)), 200);  // the red band on top
}

TEST(DescompactaParaImagem, DadosQueNaoSaoJpegCompletoDaoImagemNula) {
    const QByteArray bom = compacta(bitmap(64, 48, 24), 50);
    for (const QByteArray& ruim : {QByteArray(), bom.left(bom.size() / 2), bom.left(2),
                                   QByteArray(500, 'x'), bitmap(8, 8, 32)})
        EXPECT_TRUE(DescompactaParaImagem(ruim).isNull()) << ruim.size();
}

// The line fit per ring and the coefficients file, against values worked out by hand.
#include <gtest/gtest.h>

#include <QList>

#include "calibration/CalibrationFit.h"

namespace {

using namespace norvix::calibracao;

std::string fmt(double v) { return FormataNumero(v).toStdString(); }

TEST(CoefNumbers, ShortestFormUpToFifteenDigits) {
    EXPECT_EQ(fmt(0), "0");
    EXPECT_EQ(fmt(100), "100");
    EXPECT_EQ(fmt(7.3), "7.3");
    EXPECT_EQ(fmt(-0.25), "-0.25");
    EXPECT_EQ(fmt(1.0 / 3), "0.333333333333333");
    EXPECT_EQ(fmt(2.0 / 3), "0.666666666666667");
    EXPECT_EQ(fmt(999999999999999.0), "999999999999999");
    // Rounding to 15 digits can carry into a new leading digit.
    EXPECT_EQ(fmt(9.9999999999999999), "10");
}

TEST(CoefNumbers, ScientificBelowOneHundredThousandthAndFromE15) {
    EXPECT_EQ(fmt(0.00001), "0.00001");
    EXPECT_EQ(fmt(0.000012345), "0.000012345");
    EXPECT_EQ(fmt(0.0000099999), "9.9999E-6");
    EXPECT_EQ(fmt(1.5e-6), "1.5E-6");
    EXPECT_EQ(fmt(-1.5e-7), "-1.5E-7");
    EXPECT_EQ(fmt(1e-20), "1E-20");
    EXPECT_EQ(fmt(1e15), "1E15");
    EXPECT_EQ(fmt(123456789012345678.0), "1.23456789012346E17");
}

ArquivoEsfera esfera(double referencia, std::vector<double> aneis) { return {referencia, std::move(aneis)}; }

TEST(LineFit, HandComputedRing) {
    // y = 1, 2, 3, 4 against x = 7.73, 8.05, 8.34, 8.91: Sy = 10, Sx = 33.03, Sxy = 84.49,
    // Syy = 30, G = 20, so a = (990.9 - 844.9) / 20 = 7.3 and b = (337.96 - 330.3) / 20 = 0.383.
    // The second ring lies on x = 2 + 0.5·y exactly.
    const std::array<ArquivoEsfera, kEsferas> e = {esfera(7.73, {1, 11.46}), esfera(8.05, {2, 12.1}),
                                                   esfera(8.34, {3, 12.68}), esfera(8.91, {4, 13.82})};
    Ajuste r;
    QString motivo;
    ASSERT_TRUE(AjustaRetas(e, 3, &r, &motivo)) << motivo.toStdString();
    EXPECT_EQ(ConteudoCoef(r), QByteArray("7.3\r\n0.383\r\n2\r\n0.5\r\n0\r\n0\r\n"));
    EXPECT_TRUE(r.aneisSemReta.empty());
}

TEST(LineFit, TwentyRingsOfThirtyTwoLeaveTheRestAtZero) {
    std::array<ArquivoEsfera, kEsferas> e;
    const double x[kEsferas] = {7.73, 8.05, 8.34, 8.91};
    for (int k = 0; k < kEsferas; ++k) {
        e[size_t(k)].referencia = x[k];
        // Each ring measures 0.1 mm flat, plus a ring-dependent offset: x = y + 0.1 + ring/100.
        for (int ring = 0; ring < 20; ++ring) e[size_t(k)].aneis.push_back(x[k] - 0.1 - ring / 100.0);
    }
    Ajuste r;
    QString motivo;
    ASSERT_TRUE(AjustaRetas(e, 32, &r, &motivo));
    EXPECT_EQ(r.aneisMedidos, 20);
    const QList<QByteArray> lines = ConteudoCoef(r).split('\n');
    ASSERT_EQ(lines.size(), 65);  // 64 lines and the empty text after the last line end
    EXPECT_TRUE(lines.last().isEmpty());
    for (int i = 40; i < 64; ++i) EXPECT_EQ(lines[i], "0\r") << i;
    for (int ring = 0; ring < 20; ++ring) {
        EXPECT_NEAR(r.a[size_t(ring)], 0.1 + ring / 100.0, 1e-9);
        EXPECT_NEAR(r.b[size_t(ring)], 1.0, 1e-9);
    }
}

TEST(LineFit, ShortSphereFails) {
    const std::array<ArquivoEsfera, kEsferas> e = {esfera(7.73, {1, 2, 3}), esfera(8.05, {2, 3, 4}),
                                                   esfera(8.34, {3, 4}), esfera(8.91, {4, 5, 6})};
    Ajuste r;
    QString motivo;
    EXPECT_FALSE(AjustaRetas(e, 32, &r, &motivo));
    EXPECT_EQ(motivo, "a esfera 3 tem 2 anéis medidos e a esfera 1 tem 3");
    // Rows follow sphere 1: longer spheres are fine, and so is a sphere 1 longer than the cone.
    const std::array<ArquivoEsfera, kEsferas> longas = {esfera(7.73, {1, 2, 3}), esfera(8.05, {2, 3, 4, 5}),
                                                        esfera(8.34, {3, 4, 5}), esfera(8.91, {4, 5, 6})};
    EXPECT_TRUE(AjustaRetas(longas, 2, &r, &motivo));
    EXPECT_EQ(r.a.size(), 2u);
    const std::array<ArquivoEsfera, kEsferas> vazia = {esfera(7.73, {}), esfera(8.05, {2}), esfera(8.34, {3}),
                                                       esfera(8.91, {4})};
    EXPECT_FALSE(AjustaRetas(vazia, 32, &r, &motivo));
}

TEST(LineFit, FourEqualMeasuresLeaveTheRingUncalibrated) {
    const std::array<ArquivoEsfera, kEsferas> e = {esfera(7.73, {1, 7.5}), esfera(8.05, {2, 7.5}),
                                                   esfera(8.34, {3, 7.5}), esfera(8.91, {4, 7.5})};
    Ajuste r;
    QString motivo;
    ASSERT_TRUE(AjustaRetas(e, 2, &r, &motivo));
    EXPECT_EQ(r.aneisSemReta, std::vector<int>{2});
    EXPECT_EQ(ConteudoCoef(r), QByteArray("7.3\r\n0.383\r\n0\r\n0\r\n"));
}

TEST(SphereFile, ReadsWhatTheModuleWritesAndRefusesHandEdits) {
    ArquivoEsfera f;
    QString motivo;
    ASSERT_TRUE(LeArquivoEsfera("7.73\r\n7.712345\r\n7.70\r\n\r\n", &f, &motivo));
    EXPECT_EQ(f.referencia, 7.73);
    EXPECT_EQ(f.aneis, (std::vector<double>{7.712345, 7.70}));
    EXPECT_TRUE(LeArquivoEsfera("8\n-1.5e-3\n.5", &f, &motivo));
    EXPECT_EQ(f.aneis.size(), 2u);

    EXPECT_FALSE(LeArquivoEsfera("7.73\r\n7,71\r\n", &f, &motivo));
    EXPECT_EQ(motivo, "a linha 2 (\"7,71\") não é um número com ponto decimal");
    for (const char* ruim : {"", "\r\n\r\n", "7.73\nabc\n", "7.73\n\n7.7\n", "nan\n", "inf\n", "0x10\n", "7.73 mm\n",
                             "+-1\n", "-\n", "1e999\n"})
        EXPECT_FALSE(LeArquivoEsfera(ruim, &f, &motivo)) << ruim;
}

}  // namespace

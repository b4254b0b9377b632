#pragma once
// The arithmetic of a calibration, apart from the window: reading the sphere files the
// processing module wrote, fitting one straight line per ring through the four spheres and
// writing the coefficients file the processing module reads back.
#include <QByteArray>
#include <QString>
#include <array>
#include <vector>

namespace norvix::calibracao {

constexpr int kEsferas = 4;
// A sphere file is never read beyond this: far above 33 lines of numbers.
constexpr qint64 kMaxArquivoEsfera = 1 << 20;

// The radius text of sphere 1 to 4 ("7.73", "8.05", "8.34", "8.91").
QString raioEsfera(int esfera);

// One sphere file: line 1 the reference value, then one measured value per ring.
struct ArquivoEsfera {
    double referencia = 0;
    std::vector<double> aneis;
};

// Reads a sphere file. Numbers use "." only: a hand-edited "7,73" or any other text is refused
// rather than read as something else. False with a Portuguese reason naming the line.
bool LeArquivoEsfera(const QByteArray& conteudo, ArquivoEsfera* out, QString* motivo);

// The least-squares line x = a + b·y through the four points (measured y, reference x) of
// each ring, for ring count n. Rows run as long as sphere 1 has ring values (at most n); a
// ring without rows keeps 0 and 0.
struct Ajuste {
    std::vector<double> a, b;
    int aneisMedidos = 0;  // rows fitted: the rings after them keep 0 and 0
    // Rings (from 1) whose four measured values are equal: no line through them, so they keep
    // 0 and 0, which the processing module reads as "not calibrated".
    std::vector<int> aneisSemReta;
};
// False with a Portuguese reason when a sphere has fewer ring values than sphere 1.
bool AjustaRetas(const std::array<ArquivoEsfera, kEsferas>& esferas, int n, Ajuste* out, QString* motivo);

// What a plausible calibration looks like. A sphere presented in place of another, or the
// calibrator left unturned, still fits four lines; these limits tell such a fit from one that
// corrects the instrument's small error.
constexpr double kToleranciaEsfera = 0.15;                  // mm between measured and expected radius
constexpr double kInclinacaoMinima = 0.8, kInclinacaoMaxima = 1.25;
constexpr double kResiduoMaximo = 0.02;                     // mm from a ring's line on any sphere

// The sphere's measured radius: the mean of its ring values (the instrument's own radii).
double RaioMedio(const ArquivoEsfera& esfera);
// Empty when the sphere measured as the expected one; otherwise the message for the operator.
QString ConfereEsfera(const ArquivoEsfera& esfera, double esperado);
// Empty when every ring fitted has a line within the limits; otherwise the reason, naming the
// ring (four equal measures on a ring included: no line can go through them).
QString ConfereAjuste(const std::array<ArquivoEsfera, kEsferas>& esferas, const Ajuste& ajuste);

// A number as the coefficients file writes it: up to 15 significant digits, trailing zeros
// removed, "." as separator; fixed notation from 0.00001 up to below 1E15, otherwise
// scientific with an exponent such as "1.5E-6".
QByteArray FormataNumero(double v);

// The whole coefficients file: for each ring the line a, then the line b, each ending in CR LF.
QByteArray ConteudoCoef(const Ajuste& ajuste);

// Reads "1.txt" to "4.txt" of the calibration directory (ending in '/'), fits the lines for
// ring count n, checks them (ConfereAjuste) and rewrites "Coef.txt" whole through a temporary
// file. False with a Portuguese reason, Coef.txt left as it was.
bool GravaCoef(const QString& diretorio, int n, Ajuste* ajuste, QString* motivo);

}  // namespace norvix::calibracao

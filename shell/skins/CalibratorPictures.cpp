#include "CalibratorPictures.h"

#include <gif_lib.h>

#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QRadialGradient>
#include <QSaveFile>
#include <QtMath>

namespace norvix::skins {
namespace {

const char* const kRaios[4] = {"7.73", "8.05", "8.34", "8.91"};
const QPointF kCentro(122.5, 138);
constexpr double kRaioDisco = 112;
constexpr double kRaioOrbita = 76;

void esfera(QPainter& p, const QPointF& c, double r, const QString& texto) {
    QRadialGradient g(c - QPointF(r / 3, r / 3), r * 1.3);
    g.setColorAt(0, QColor(250, 252, 255));
    g.setColorAt(0.35, QColor(170, 186, 204));
    g.setColorAt(1, QColor(40, 56, 78));
    p.setPen(QPen(QColor(20, 28, 40), 1));
    p.setBrush(g);
    p.drawEllipse(c, r, r);
    p.setPen(Qt::white);
    p.setFont(QFont(QStringLiteral("DejaVu Sans"), 7, QFont::Bold));
    p.drawText(QRectF(c.x() - r, c.y() + r * 0.15, 2 * r, r * 0.8), Qt::AlignCenter, texto);
}

// Sphere index 0 to 3 at its place on the disc turned by `voltas` quarter turns clockwise.
QPointF lugar(int j, double voltas) {
    const double angulo = qDegreesToRadians(90.0 * (voltas - j));  // clockwise from the top
    return kCentro + QPointF(kRaioOrbita * std::sin(angulo), -kRaioOrbita * std::cos(angulo));
}

// 216 colours of a 6×6×6 cube and 40 greys: the disc's blues and greys without dithering.
QList<QRgb> paleta() {
    QList<QRgb> cores;
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b) cores << qRgb(r * 51, g * 51, b * 51);
    for (int i = 0; i < 40; ++i) cores << qRgb(i * 255 / 39, i * 255 / 39, i * 255 / 39);
    return cores;
}

int escreveBytes(GifFileType* gif, const GifByteType* dados, int n) {
    static_cast<QByteArray*>(gif->UserData)->append(reinterpret_cast<const char*>(dados), n);
    return n;
}

}  // namespace

QImage calibradorQuadrado() {
    QImage img(260, 330, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    img.fill(QColor(236, 239, 243));
    // The holder: a dark bar with the four spheres one above the other.
    p.setPen(QPen(QColor(30, 40, 55), 2));
    p.setBrush(QColor(70, 84, 102));
    p.drawRoundedRect(QRectF(95, 8, 70, 314), 14, 14);
    for (int k = 1; k <= 4; ++k) esfera(p, QRectF(contornoEsfera(k)).center(), 24, QString::fromLatin1(kRaios[k - 1]));
    p.setPen(QColor(30, 40, 55));
    p.setFont(QFont(QStringLiteral("DejaVu Sans"), 8));
    for (int k = 1; k <= 4; ++k)
        p.drawText(QRect(175, contornoEsfera(k).top(), 80, contornoEsfera(k).height()), Qt::AlignVCenter,
                   QStringLiteral("Esfera %1").arg(k));
    return img;
}

QRect contornoEsfera(int k) { return QRect(96, 14 + (k - 1) * 78, 68, 68); }

QImage calibradorRedondo(double voltas) {
    QImage img(245, 317, QImage::Format_RGB32);
    img.fill(QColor(236, 239, 243));
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient g(kCentro, kRaioDisco);
    g.setColorAt(0, QColor(110, 126, 146));
    g.setColorAt(1, QColor(52, 64, 80));
    p.setPen(QPen(QColor(25, 32, 44), 2));
    p.setBrush(g);
    p.drawEllipse(kCentro, kRaioDisco, kRaioDisco);
    // A handle, so that the turn is seen.
    p.setBrush(QColor(200, 206, 214));
    p.drawEllipse(kCentro, 16, 16);
    p.setPen(QPen(QColor(25, 32, 44), 3));
    const QPointF alca = lugar(0, voltas + 0.5) - kCentro;
    p.drawLine(kCentro - alca * 0.18, kCentro + alca * 0.18);
    for (int j = 0; j < 4; ++j) esfera(p, lugar(j, voltas), 22, QString::fromLatin1(kRaios[j]));
    return img;
}

QRect posicaoMarcador(int k) {
    // Position k is where sphere k stands on the disc at rest (no turn): top, then clockwise.
    static const int kQuartos[4] = {0, 3, 2, 1};
    const QPointF c = lugar(kQuartos[k - 1], 0);
    return QRect(int(c.x()) - 27, int(c.y()) - 27, 54, 54);
}

QByteArray gifAnimation(const QList<QImage>& frames, int delayCs) {
    if (frames.isEmpty()) return {};
    // giflib writes the format; Qt reads GIF but does not write it.
    const QList<QRgb> cores = paleta();
    const int w = frames.first().width(), h = frames.first().height();
    QByteArray out;
    int erro = 0;
    GifFileType* gif = EGifOpen(&out, escreveBytes, &erro);
    if (!gif) return {};
    EGifSetGifVersion(gif, true);  // 89a: the frame delays are extensions
    ColorMapObject* mapa = GifMakeMapObject(256, nullptr);
    for (int i = 0; i < 256; ++i) mapa->Colors[i] = {GifByteType(qRed(cores[i])), GifByteType(qGreen(cores[i])), GifByteType(qBlue(cores[i]))};
    bool ok = EGifPutScreenDesc(gif, w, h, 8, 0, mapa) == GIF_OK;
    GifFreeMapObject(mapa);
    for (const QImage& frame : frames) {
        if (!ok) break;
        GraphicsControlBlock gcb{DISPOSE_DO_NOT, false, delayCs, NO_TRANSPARENT_COLOR};
        GifByteType ext[4];
        EGifGCBToExtension(&gcb, ext);
        ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, ext) == GIF_OK &&
             EGifPutImageDesc(gif, 0, 0, w, h, false, nullptr) == GIF_OK;
        const QImage indexada = frame.convertToFormat(QImage::Format_RGB32)
                                    .convertToFormat(QImage::Format_Indexed8, cores, Qt::ThresholdDither);
        for (int y = 0; ok && y < h; ++y)
            ok = EGifPutLine(gif, const_cast<GifByteType*>(indexada.constScanLine(y)), w) == GIF_OK;
    }
    if (EGifCloseFile(gif, &erro) != GIF_OK) ok = false;
    return ok ? out : QByteArray();
}

QStringList writeCalibratorAnimations(const QString& directory, bool overwrite) {
    QDir().mkpath(directory);
    const QDir dir(directory);
    QStringList failed;
    constexpr int kQuadros = 12;  // 12 × 80 ms: the turn ends before the window's 1.2 s timer
    for (int volta = 1; volta <= 3; ++volta) {
        for (bool volta_atras : {false, true}) {
            const QString name = QStringLiteral("cbr_mov%1%2.dat").arg(volta).arg(volta_atras ? "_ant" : "");
            const QString path = dir.filePath(name);
            if (!overwrite && QFileInfo::exists(path)) continue;
            QList<QImage> frames;
            for (int i = 0; i < kQuadros; ++i) {
                const double t = double(i) / (kQuadros - 1);
                const double suave = t * t * (3 - 2 * t);
                // Forward turn n goes from sphere n to sphere n + 1; back turn n from n + 1 to n.
                frames << calibradorRedondo(volta - 1 + (volta_atras ? 1 - suave : suave));
            }
            QSaveFile f(path);
            const QByteArray gif = gifAnimation(frames, 8);
            if (gif.isEmpty() || !f.open(QIODevice::WriteOnly) || f.write(gif) != gif.size() || !f.commit())
                failed << name;
        }
    }
    return failed;
}

}  // namespace norvix::skins

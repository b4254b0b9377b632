#pragma once
// Our own drawings of the two calibrators: the still picture of the four spheres one above the
// other, and the turning disc of the circular calibrator, whose turns from sphere to sphere are
// written as animated GIF files under the ".dat" names the calibration window plays.
#include <QImage>
#include <QRect>
#include <QString>
#include <QStringList>

namespace norvix::skins {

// The still calibrator (260 × 330) and the place of the outline around sphere k (1 to 4).
QImage calibradorQuadrado();
QRect contornoEsfera(int k);

// The circular calibrator (245 × 317) turned by `voltas` quarter turns from sphere 1 at the
// top (1.0: sphere 2 at the top), and the 54 × 54 marker place of position k (1 top, 2 right,
// 3 bottom, 4 left).
QImage calibradorRedondo(double voltas);
QRect posicaoMarcador(int k);

// The six turns (cbr_mov1.dat to cbr_mov3.dat forward, cbr_mov1_ant.dat to cbr_mov3_ant.dat
// back), each played once in about a second. Written atomically into directory; existing files
// are kept unless overwrite is true. Returns the names that could not be written.
QStringList writeCalibratorAnimations(const QString& directory, bool overwrite = false);

// An animation as GIF bytes: the frames share one palette, delay in hundredths of a second,
// no loop (a player shows it once and stops on the last frame). Empty on failure.
QByteArray gifAnimation(const QList<QImage>& frames, int delayCs);

}  // namespace norvix::skins

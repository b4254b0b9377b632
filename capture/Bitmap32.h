#pragma once
// The 32-bit uncompressed BMP the capture returns and saves (the layout and the encoder are
// the simulator's, capture/sim/Bmp32.h), written into the caller's stream or a file.
#include <QByteArray>
#include <QImage>
#include <QString>

#include "capture/sim/Bmp32.h"
#include "modules/ModuleContract.h"

namespace norvix::captura {

constexpr int kBmpHeaderSize = sim::kBmp32HeaderSize;
using sim::encodeBmp32;

// Writes the BMP at the stream's position and sets the position to 0. False when the stream
// accepted fewer bytes than written.
bool writeBmp32(ModuleStream* stream, const QImage& image);

// Writes the BMP to a file atomically (temporary file, then rename); the error text in
// Portuguese on failure.
bool saveBmp32(const QString& path, const QImage& image, QString* error);

}  // namespace norvix::captura

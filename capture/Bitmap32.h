#pragma once
// The 32-bit uncompressed BMP the capture returns and saves: 54-byte header, no colour
// table, rows bottom-up, each pixel blue, green, red and a reserved zero byte. Qt's own BMP
// writer stores 24 bits per pixel, which the processing modules do not read, hence our own.
#include <QByteArray>
#include <QImage>
#include <QString>

#include "modules/ModuleContract.h"

namespace norvix::captura {

constexpr int kBmpHeaderSize = 54;

QByteArray encodeBmp32(const QImage& image);

// Writes the BMP at the stream's position and sets the position to 0. False when the stream
// accepted fewer bytes than written.
bool writeBmp32(ModuleStream* stream, const QImage& image);

// Writes the BMP to a file atomically (temporary file, then rename); the error text in
// Portuguese on failure.
bool saveBmp32(const QString& path, const QImage& image, QString* error);

}  // namespace norvix::captura

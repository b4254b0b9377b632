#pragma once
// What the two exports of the capture module do; GrabmodExports.cpp only forwards to these,
// so that the tests drive the same code through the static library.
#include <cstdint>

#include "modules/ModuleContract.h"

class QWidget;

namespace norvix::captura {

// Shows the capture window for one capture and writes the accepted frame into image as a
// 32-bit BMP, positioned at 0. Returns 1 on OK, 0 otherwise (image untouched).
uint8_t digitalizar(QWidget* hostWindow, ModuleStream* image, uint8_t mode);

// Writes the board name line at the stream's position.
void writeInfo(ModuleStream* out);

}  // namespace norvix::captura

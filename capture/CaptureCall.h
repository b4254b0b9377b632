#pragma once
// What the exports of the capture module do; GrabmodExports.cpp only forwards to these,
// so that the tests drive the same code through the static library.
#include <cstdint>

#include "modules/ModuleContract.h"

class QWidget;

namespace norvix::captura {

// Shows the capture window for one capture and writes the accepted frame into image as a
// 32-bit BMP, positioned at 0. Returns 1 on OK, 0 otherwise (image untouched).
uint8_t digitalizar(QWidget* hostWindow, ModuleStream* image, uint8_t mode);

constexpr int kOrthoCaptures = 4;

// The orthokeratology call: the same window four times for one eye (0 left, 1 right), each
// capture numbered in the top bar and open to retakes until OK; the four frames are written
// into images[0..3] only when all four were accepted. Returns 1 then, 0 otherwise.
uint8_t digitalizarOrto(QWidget* hostWindow, ModuleStream** images, uint8_t eye);

// The tear-film recording: the rings' video of one eye (0 left, 1 right) after a blink, for at
// most maxSeconds, kept at path (tearfilm/TearRecording.h) when the operator chooses it.
// Returns 1 then, 0 when the operator cancelled (nothing written), 2 when it failed (the
// operator has been told why).
uint8_t gravarFilmeLacrimal(QWidget* hostWindow, const char* pathUtf8, uint32_t maxSeconds, uint8_t eye);
constexpr uint32_t kShortestTearSeconds = 3;
constexpr uint32_t kLongestTearSeconds = 120;

// Writes the board name line at the stream's position.
void writeInfo(ModuleStream* out);

}  // namespace norvix::captura

#pragma once
// One captured frame from a host stream to the exam's measurement, as the processing modules do
// it: the configuration checked, the bitmap decoded, the calibration applied when there is one.
#include <QByteArray>
#include <memory>

#include "TopographyProcessor.h"
#include "modules/ModuleContract.h"

namespace norvix::outside {

// nullptr, with the reason on standard error under `module`'s name, when the arguments are
// unusable or the frame is no measurable eye. paths may be null (no calibration then).
std::unique_ptr<Topography> measureImage(const char* module, ModuleStream* image, const TInfosQV* infos,
                                         const TPathsQV* paths);

// The same in two parts, so that the host's stream is read on the calling thread and the bytes
// may be measured on another: the stream's bytes (false, reason on standard error, when it is
// unusable), then their measurement. measureBytes touches nothing but its arguments; it shares
// the meridians among `threads` threads (1 or 2, joined before it returns), so a caller that
// measures several frames side by side asks for 1.
bool readImage(const char* module, ModuleStream* image, QByteArray* bytes);
std::unique_ptr<Topography> measureBytes(const char* module, const QByteArray& bytes, const TInfosQV* infos,
                                         const TPathsQV* paths, int threads = 2);

}  // namespace norvix::outside

// The two exports of the orthokeratology capture module: the capture window of Grabmod, four
// captures per call.
#include <type_traits>

#include "CaptureCall.h"
#include "modules/ModuleContract.h"

class QWidget;

// The second group of streams is the host's spare: nothing is written there.
extern "C" __attribute__((visibility("default"))) uint8_t Digitalizar(void* hostWindow, ModuleStream** images,
                                                                     ModuleStream** /*spares*/, uint8_t eye,
                                                                     const char* /*caption*/) {
    return norvix::captura::digitalizarOrto(static_cast<QWidget*>(hostWindow), images, eye);
}

extern "C" __attribute__((visibility("default"))) void Info(ModuleStream* out) { norvix::captura::writeInfo(out); }

static_assert(std::is_same_v<decltype(&Digitalizar), TDigitalizarOrto>);
static_assert(std::is_same_v<decltype(&Info), TInfo>);

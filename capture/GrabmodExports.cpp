// The exports of the capture module; everything else stays inside the library.
#include <type_traits>

#include "CaptureCall.h"
#include "modules/ModuleContract.h"

class QWidget;

extern "C" __attribute__((visibility("default"))) uint8_t Digitalizar(void* hostWindow, ModuleStream* image,
                                                                     ModuleStream* /*spare*/, uint8_t mode,
                                                                     const char* /*caption*/) {
    return norvix::captura::digitalizar(static_cast<QWidget*>(hostWindow), image, mode);
}

extern "C" __attribute__((visibility("default"))) void Info(ModuleStream* out) { norvix::captura::writeInfo(out); }

static_assert(std::is_same_v<decltype(&Digitalizar), TDigitalizar>);
static_assert(std::is_same_v<decltype(&Info), TInfo>);

// Optional: a host that finds it offers the tear-film examination.
extern "C" __attribute__((visibility("default"))) uint8_t GravarFilmeLacrimal(void* hostWindow, const char* pathUtf8,
                                                                             uint32_t maxSeconds, uint8_t eye) {
    return norvix::captura::gravarFilmeLacrimal(static_cast<QWidget*>(hostWindow), pathUtf8, maxSeconds, eye);
}

static_assert(std::is_same_v<decltype(&GravarFilmeLacrimal), TGravarFilmeLacrimal>);

#include "UBProcImg.h"

#include <memory>

namespace norvix::captura {
namespace {
std::unique_ptr<TBProcImg> g_holder;
}

TBProcImg* frameHolder() { return g_holder.get(); }

TBProcImg& createFrameHolder() {
    g_holder = std::make_unique<TBProcImg>();
    return *g_holder;
}

void releaseFrameHolder() { g_holder.reset(); }

}  // namespace norvix::captura

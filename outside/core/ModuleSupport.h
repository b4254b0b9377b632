#pragma once
// Small pieces every reference module needs at its entry points.
#include <QString>

#include "modules/ModuleContract.h"

#define NORVIX_MODULE_EXPORT extern "C" __attribute__((visibility("default")))

namespace norvix::outside {

// The cone type text of the configuration record as a number 1..4; 0 when it is not one.
int coneTypeOf(const TInfosQV* infos);
// Why an entry point gave up, on standard error (no window: the caller decides what to show).
void reportFailure(const char* module, const QString& why);
// A figure as a Brazilian reader writes it: decimal comma, no digit grouping (QLocale would
// group thousands, which the map windows' figures never want).
QString decimal(double v, int places);
// True when the host asked windows to close themselves once drawn (tests, batch runs).
bool autoCloseWindows();

}  // namespace norvix::outside

#pragma once
// Small pieces every reference module needs at its entry points.
#include <QString>
#include <QStringList>
#include <functional>

#include "modules/ModuleContract.h"

#define NORVIX_MODULE_EXPORT extern "C" __attribute__((visibility("default")))

class QDialog;

namespace norvix::outside {

// The cone type text of the configuration record as a number 1..4; 0 when it is not one.
int coneTypeOf(const TInfosQV* infos);
// Why an entry point gave up, on standard error (no window: the caller decides what to show).
void reportFailure(const char* module, const QString& why);
// A figure as a Brazilian reader writes it: decimal comma, no digit grouping (QLocale would
// group thousands, which the map windows' figures never want).
QString decimal(double v, int places);
// What the host's patient header says that a reader needs: the name, the eye, date and time,
// the doctor and the confidence index. Patient, identity and exam codes are left out: the host
// sends "0" for them with an example exam.
QStringList readableHeader(const QStringList& header);
// Runs an entry point's body: without a graphical application, or when the body throws, the
// reason goes to standard error and the host gets 0 (no exception may cross the C boundary).
int32_t guardedEntry(const char* module, const std::function<int32_t()>& body);
// Shows a module's window until the operator closes it; at once when the host asked windows to
// close themselves once drawn (tests, batch runs).
void runModal(QDialog& window);

}  // namespace norvix::outside

#pragma once
// Number conversions in the program's own notation (decimal point "."), independent of the
// user's locale. They raise ConversionError with a Portuguese text, as the settings accessors
// and the windows expect.
#include <QString>
#include "Errors.h"

namespace norvix {

// Decimal, or hexadecimal with a "0x" prefix; blanks around the number are ignored.
int strToInt(const QString& text);
bool tryStrToInt(const QString& text, int* value);
// Decimal point "."; exponents allowed; infinities and NaN refused.
double strToFloat(const QString& text);
bool tryStrToFloat(const QString& text, double* value);

}  // namespace norvix

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

// A number as the operator reads it, in Portuguese: decimal comma, `places` decimals (rounded
// half away from zero), thousands grouped with "." when asked, and never a negative zero (-0.004
// with two decimals is "0,00"). "—" for what is not a number. Files, exports and module calls
// keep the program's notation: this is for windows and printed pages only.
QString textoDecimal(double value, int places, bool grouped = false);

}  // namespace norvix

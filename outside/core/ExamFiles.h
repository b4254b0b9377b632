#pragma once
// The three data files of an exam (d, m and a tables), written in the program's layout:
// Windows text with CR LF, values as "00.00" each followed by a blank, N + 1 values per line.
#include <QString>

#include "TopographyProcessor.h"

namespace norvix::outside {

// "00.00": at least two integer digits, two decimals, "-" before a negative value.
QString formatTableValue(double value);

// One table as the files hold it: 360 lines of rings 0..rings, CR LF after each.
QByteArray formatTable(const double (&v)[NORVIX_MERIDIANS][NORVIX_RING_COLUMNS], int rings);

// Writes prefix + "d.txt", "m.txt" and "a.txt" for `rings` rings, each atomically. An existing
// file is never replaced: false, with the Portuguese reason, when any of the three exists or
// cannot be written (nothing is written then).
bool writeExamFiles(const QString& prefix, const Topography& t, int rings, QString* error);

// Reads prefix + "d.txt", "m.txt" and "a.txt" back into *t (ring count from the tables, centre,
// pupil record and meridian vector; the older meridian file without the pupil record reads with
// a zero pupil). "," or "." as the decimal separator. False, with a Portuguese reason naming
// the file, when one is missing, too large, cut short (a table of fewer than 360 lines, a
// last line without its line break, lines of different lengths) or holds what is not a
// number; *t is then undefined.
bool readExamFiles(const QString& prefix, Topography* t, QString* error);

}  // namespace norvix::outside

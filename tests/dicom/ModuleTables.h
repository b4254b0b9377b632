#pragma once
// A written object held against the standard's module tables for its kind of object, kept as
// data in tests/dicom/iod/ (each file names its source): every Type 1 attribute present with a
// value, every Type 2 present, the conditional ones wherever their condition can be decided,
// and every value an enumerated list allows.
#include <QString>
#include <QStringList>

namespace norvix::dicom::test {

// One line per broken row, "(0028,0034) Pixel Aspect Ratio [1]: ausente"; empty when every row
// holds. An object of a kind without a table is one finding.
QStringList moduleTableFindings(const QString& file);

}  // namespace norvix::dicom::test

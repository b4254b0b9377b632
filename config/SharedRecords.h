#pragma once
// The two process-wide records handed to the modules by address, and the storage of their
// texts. Texts are kept as Windows-1252 bytes owned here; a field points into that storage
// until it is set again.
#include <QString>
#include "modules/ModuleContract.h"

namespace norvix {

TInfosQV& infos();
TPathsQV& paths();

// Sets a text field of either record; the empty text stores a null reference.
void setRecordText(const char*& field, const QString& value);
// The text of a field, decoded; a null reference gives the empty text.
QString recordText(const char* field);

// Clears both records and frees their texts (tests and program end).
void resetSharedRecords();

}  // namespace norvix

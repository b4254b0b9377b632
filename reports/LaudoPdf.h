#pragma once
// A saved report printed to PDF without its window: the page the report editor prints for that
// report opened from the wizard (axial map type, no page of maps), for the DICOM export.
#include <QByteArray>
#include <QString>
#include <optional>

namespace norvix {

// The PDF bytes of the saved report of that code; none, with the Portuguese reason in *erro,
// when its row or its file is gone or unreadable, or the page cannot be printed. Reads through
// the records layer (the data module connected, the report folder in the path records).
std::optional<QByteArray> imprimeLaudoSalvo(int codigoLaudo, QString* erro);

}  // namespace norvix

#pragma once
// Working folders that hold a patient's data for a moment (a tear-film recording before it is
// stored, DICOM objects on their way into the outbox) carry the owning process's id in their
// name, so that what a kill at a bad moment leaves behind can be told from the work of a
// program still running, and removed at the next start.
#include <QString>
#include <QStringList>

namespace norvix {

// The QTemporaryDir template for such a folder: folder + "/" + prefix + pid + "-XXXXXX".
QString modeloPastaDoProcesso(const QString& folder, const QString& prefix);

// Removes, with their contents, the folders `prefix`<pid>-* in `folder` whose process is no
// longer running (or is this one: nothing of this process can be at work before it started
// any). Folders of a running program stay. Returns the folders that could not be removed.
QStringList removeSobras(const QString& folder, const QString& prefix);

}  // namespace norvix

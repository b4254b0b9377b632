#pragma once
#include <QString>

namespace norvix {

// The fixed installation root: $NORVIX_ROOT when set, else /opt/NORVIX. No trailing '/'.
QString installRoot();

// Directory of the running program's executable with a trailing '/'. Inside a loaded module
// this is still the host program's directory.
QString programDirectory();

// Gives the process a private runtime folder when XDG_RUNTIME_DIR is absent (a root shell, a
// service): Qt would otherwise warn at every start and fall back to a shared name in /tmp.
// Call before the application object exists. Does nothing when the variable is set.
void ensureRuntimeDirectory();

}  // namespace norvix

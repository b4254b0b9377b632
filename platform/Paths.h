#pragma once
#include <QString>

namespace norvix {

// The fixed installation root: $NORVIX_ROOT when set, else /opt/NORVIX. No trailing '/'.
QString installRoot();

// Directory of the running program's executable with a trailing '/'. Inside a loaded module
// this is still the host program's directory.
QString programDirectory();

}  // namespace norvix

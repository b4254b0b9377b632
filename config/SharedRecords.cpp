#include "SharedRecords.h"

#include <QByteArray>
#include <cstring>
#include <map>
#include "platform/Cp1252.h"

namespace norvix {
namespace {
TInfosQV g_infos{};
TPathsQV g_paths{};
// One storage slot per field address, so that setting a field again frees its old text.
std::map<const char**, QByteArray>& storage() {
    static std::map<const char**, QByteArray> s;
    return s;
}
}  // namespace

TInfosQV& infos() { return g_infos; }
TPathsQV& paths() { return g_paths; }

void setRecordText(const char*& field, const QString& value) {
    if (value.isEmpty()) {
        storage().erase(&field);
        field = nullptr;
        return;
    }
    QByteArray& slot = storage()[&field];
    slot = toCp1252(value);
    field = slot.constData();
}

QString recordText(const char* field) { return fromCp1252(field); }

void resetSharedRecords() {
    std::memset(&g_infos, 0, sizeof g_infos);
    std::memset(&g_paths, 0, sizeof g_paths);
    storage().clear();
}

}  // namespace norvix

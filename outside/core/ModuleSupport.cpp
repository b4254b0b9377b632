#include "ModuleSupport.h"

#include <cstdio>

#include "platform/Cp1252.h"

namespace norvix::outside {

int coneTypeOf(const TInfosQV* infos) {
    if (!infos || !infos->TipoCone) return 0;
    bool ok = false;
    const int v = norvix::fromCp1252(infos->TipoCone).trimmed().toInt(&ok);
    return ok && v >= 1 && v <= 4 ? v : 0;
}

void reportFailure(const char* module, const QString& why) {
    std::fprintf(stderr, "%s: %s\n", module, why.toUtf8().constData());
}

bool autoCloseWindows() { return qEnvironmentVariableIntValue("NORVIX_MODULE_AUTOCLOSE") == 1; }

QString decimal(double v, int places) { return QString::number(v, 'f', places).replace(u'.', u','); }

}  // namespace norvix::outside

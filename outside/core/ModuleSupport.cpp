#include "ModuleSupport.h"

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <cstdio>
#include <exception>

#include "platform/Convert.h"
#include "platform/Cp1252.h"
#include "platform/Logging.h"

namespace norvix::outside {

int coneTypeOf(const TInfosQV* infos) {
    if (!infos || !infos->TipoCone) return 0;
    bool ok = false;
    const int v = norvix::fromCp1252(infos->TipoCone).trimmed().toInt(&ok);
    return ok && v >= 1 && v <= 4 ? v : 0;
}

void reportFailure(const char* module, const QString& why) {
    qCWarning(lcOutside).noquote() << QString::fromUtf8(module) + QStringLiteral(":") << why;
}

int32_t guardedEntry(const char* module, const std::function<int32_t()>& body) {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
        reportFailure(module, QStringLiteral("nenhuma aplicação gráfica em execução."));
        return 0;
    }
    try {
        return body();
    } catch (const std::exception& e) {
        reportFailure(module, QString::fromLocal8Bit(e.what()));
        return 0;
    }
}

void runModal(QDialog& window) {
    if (qEnvironmentVariableIntValue("NORVIX_MODULE_AUTOCLOSE") == 1) QTimer::singleShot(0, &window, &QDialog::accept);
    window.exec();
}

QString decimal(double v, int places) { return norvix::textoDecimal(v, places); }

QStringList readableHeader(const QStringList& h) {
    auto line = [&](int i) { return i < h.size() ? h[i].trimmed() : QString(); };
    QStringList out;
    for (int i : {0, 3})
        if (!line(i).isEmpty()) out << line(i);
    if (!line(4).isEmpty() || !line(5).isEmpty()) out << QStringLiteral("%1 %2").arg(line(4), line(5)).trimmed();
    if (!line(6).isEmpty()) out << QStringLiteral("Médico: %1").arg(line(6));
    if (!line(8).isEmpty()) out << QStringLiteral("Índice de confiança: %1%").arg(line(8));
    return out;
}

}  // namespace norvix::outside

#include "CaptureSettings.h"

#include <algorithm>
#include <cstdio>
#include <functional>

#include "config/legacy/UBIniSettingsCaptura.h"
#include "platform/Errors.h"
#include "platform/ui/MessageSeam.h"
#include "platform/Logging.h"

namespace norvix::captura {
namespace {

// The module always reads the Orvent candidates.
constexpr int kFlagOrvent = 3;

void note(const QString& text) {
    qCWarning(lcCapture).noquote() << QStringLiteral("Captura:") << text;
}

template <typename T, typename Get>
void take(T& field, Get get, const char* key) {
    try {
        field = get();
    } catch (const ConversionError& e) {
        note(QStringLiteral("valor inválido em %1 (%2); o valor anterior foi mantido.")
                 .arg(QString::fromLatin1(key), e.message()));
    }
}

}  // namespace

CaptureSettings& captureSettings() {
    static CaptureSettings record;
    return record;
}

bool refreshCaptureSettings(CaptureSettings& record) {
    TBIniSettingsCaptura ini;
    try {
        if (!ini.LoadAll(kFlagOrvent)) return false;
    } catch (const ConversionError& e) {
        note(QStringLiteral("o arquivo de configuração não pôde ser lido (%1); os valores anteriores foram mantidos.")
                 .arg(e.message()));
        return false;
    }
    take(record.brilho, [&] { return int(ini.Brilho()); }, "[CAMERA] BRILHO");
    take(record.contraste, [&] { return int(ini.Contraste()); }, "[CAMERA] CONTRASTE");
    take(record.cameraCentral, [&] { return int(ini.CameraCentral()); }, "[CAMERA] CAMERACENTRAL");
    take(record.com, [&] { return QString(ini.Com()); }, "[SERIAL] COM");
    take(record.salvarImagemCaptura, [&] { return bool(ini.SalvarImagemCaptura()); }, "[OPCOES] SalvarImagemCaptura");
    take(record.autoPCaptura, [&] { return bool(ini.AutoPCaptura()); }, "[OPCOES] AUTOPCAPTURA");
    take(record.tipoCone, [&] {
        const int cone = ini.value(norvix::settings::Row::QvTipoCone).trimmed().toInt();
        return cone >= 1 && cone <= 4 ? cone : 4;
    }, "[QV] TipoCone");
    take(record.delayAutoPCaptura, [&] { return std::max(0, int(ini.DelayAutoPCaptura())); }, "[OPCOES] DELAYAUTOPCAPTURA");
    return true;
}

bool persistCameraValues(const CaptureSettings& record, bool write) {
    TBIniSettingsCaptura ini;
    try {
        if (!ini.LoadAll(kFlagOrvent)) return false;
    } catch (const ConversionError&) {
        return false;
    }
    if (!write) return false;
    bool differs = false;
    try {
        differs = int(ini.Brilho()) != record.brilho || int(ini.Contraste()) != record.contraste;
    } catch (const ConversionError&) {
        differs = true;  // an unreadable value is replaced by the confirmed one
    }
    if (!differs) return false;
    QString failure;
    const bool written =
        ini.WriteParameter(QStringLiteral("Str"), QStringLiteral("CAMERA"), QStringLiteral("BRILHO"),
                           QString::number(record.brilho), false, &failure) &&
        ini.WriteParameter(QStringLiteral("Str"), QStringLiteral("CAMERA"), QStringLiteral("CONTRASTE"),
                           QString::number(record.contraste), false, &failure);
    // The operator confirmed these values as the new defaults: losing them must not pass unseen.
    if (!failure.isEmpty()) showMessage(failure, QStringLiteral("Erro"), MsgIcon::Error, MsgButtons::Ok);
    return written;
}

}  // namespace norvix::captura

#include "UBIniSettingsCaptura.h"

#include <QFileInfo>

#include "platform/Convert.h"
#include "platform/Paths.h"
#include "platform/ProfileFile.h"

namespace norvix::captura {

namespace rows = norvix::settings;

TBIniSettingsCaptura::TBIniSettingsCaptura() = default;

QStringList TBIniSettingsCaptura::CandidateFiles(int flag) {
    // This reader predates the Duo instruments: there are no Duo folders to look in.
    const QString folder = flag == 0 ? QStringLiteral("Miral") : QStringLiteral("Orvent");
    const QString name = folder + QStringLiteral(".ini");
    return {norvix::installRoot() + QLatin1Char('/') + folder + QLatin1Char('/') + name,
            norvix::programDirectory() + name};
}

QString TBIniSettingsCaptura::ReadParameter(const QString& fileName, const QString& tag,
                                     const QString& section, const QString& key) const {
    return norvix::readSettingParameter(fileName, tag, section, key);
}

bool TBIniSettingsCaptura::LoadAll(int flag) {
    QString selected;
    for (const QString& candidate : CandidateFiles(flag)) {
        if (QFileInfo(candidate).isFile()) {
            selected = candidate;
            break;
        }
    }
    if (selected.isEmpty()) return false;

    // Loaded into a copy so that a conversion error leaves the previous values in place: the
    // capture call then goes on with them, as when the file is missing.
    Values loaded;
    for (int i = 0; i < kRowCount; ++i) {
        const Row row = static_cast<Row>(i);
        loaded.texts[i] = ReadParameter(selected, rows::tagOf(row), rows::sectionOf(row), rows::keyOf(row));
        switch (row) {
        case Row::OpcTvlCentral: loaded.tvlCentral = norvix::strToInt(loaded.texts[i]); break;
        case Row::OpcTIncremento: loaded.tIncremento = norvix::strToInt(loaded.texts[i]); break;
        case Row::OpcDelayAutoPCaptura: loaded.delayAutoPCaptura = norvix::strToInt(loaded.texts[i]); break;
        case Row::OpcTipoCalibrador: loaded.tipoCalibrador = norvix::strToInt(loaded.texts[i]); break;
        default: break;
        }
    }
    fileName_ = selected;
    values_ = std::move(loaded);
    return true;
}

bool TBIniSettingsCaptura::WriteParameter(const QString& tag, const QString& section, const QString& key,
                                   const QString& text, bool flag, QString* failure) {
    if (fileName_.isEmpty()) return false;
    bool written = false;
    try {
        written = norvix::writeSettingParameter(fileName_, tag, section, key, text, flag);
    } catch (const norvix::SettingsWriteError& e) {
        // This reader runs inside the capture module, which no exception may leave.
        if (failure) *failure = e.message();
    }
    values_.texts[Row::OpcDicas] = ReadParameter(fileName_, rows::tagOf(Row::OpcDicas),
                                                 rows::sectionOf(Row::OpcDicas), rows::keyOf(Row::OpcDicas));
    return written;
}

QString TBIniSettingsCaptura::value(Row row) const {
    if (row < 0 || row >= kRowCount) return QString();
    return values_.texts[row];
}

int TBIniSettingsCaptura::Tipo() const { return norvix::strToInt(value(Row::QvTipo)); }
int TBIniSettingsCaptura::Brilho() const { return norvix::strToInt(value(Row::CamBrilho)); }
int TBIniSettingsCaptura::Contraste() const { return norvix::strToInt(value(Row::CamContraste)); }
int TBIniSettingsCaptura::CameraCentral() const { return norvix::strToInt(value(Row::CamCameraCentral)); }
int TBIniSettingsCaptura::CameraLateral() const { return norvix::strToInt(value(Row::CamCameraLateral)); }

}  // namespace norvix::captura

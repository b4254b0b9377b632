#pragma once
// The capture module's settings reader: the same file, format, tags, missing-value text and
// write as the workstation's reader, with the older feature set the capture module was built
// on: the file chosen by a flag, the settings up to TIPOCALIBRADOR, no load-time checks and
// no messages. It is compiled into the capture module, never into the workstation.
#include <QString>
#include <QStringList>
#include <array>

#include "config/UBIniSettings.h"

namespace norvix::captura {

class TBIniSettingsCaptura {
public:
    using Row = norvix::settings::Row;
    // Every row up to TIPOCALIBRADOR; the later rows are unknown to this reader.
    static constexpr int kRowCount = norvix::settings::OpcExibirIndiceMapa;

    TBIniSettingsCaptura();

    // Flag 0 selects the Miral files, any other value the Orvent files. False when no file is
    // found: nothing changes. A non-numeric TINCREMENTO, DELAYAUTOPCAPTURA or TIPOCALIBRADOR
    // raises norvix::ConversionError, and then too every value, the file name included, stays
    // as it was before the call.
    bool LoadAll(int flag);

    const QString& FileName() const { return fileName_; }
    static QStringList CandidateFiles(int flag);

    QString ReadParameter(const QString& fileName, const QString& tag, const QString& section,
                          const QString& key) const;
    // Same rules as the workstation's: "Str" text, "Bool" flag as "1"/"0", other tags nothing;
    // then DICAS is read again. Returns whether the file was written. It never raises: when
    // the file cannot be written, failure (if given) receives the workstation's message text
    // ("Não foi possível gravar a configuração em ...") and the file stays as it was.
    bool WriteParameter(const QString& tag, const QString& section, const QString& key,
                        const QString& text, bool flag, QString* failure = nullptr);

    // Number accessors convert the text when called (norvix::ConversionError when it is not a
    // number), except the four rows converted while loading.
    int Tipo() const;
    QString Idioma() const { return value(Row::OpcIdioma); }
    int Brilho() const;
    int Contraste() const;
    QString DirQV() const { return value(Row::DirQv); }
    QString Digitalizacao() const { return value(Row::ModDigitalizacao); }
    QString DigitalizacaoOrto() const { return value(Row::ModDigitalizacaoOrto); }
    bool SalvarImagemCaptura() const { return flag(Row::OpcSalvarImagemCaptura); }
    QString ConectorCentral() const { return value(Row::CamConectorCentral); }
    QString ConectorLateralS() const { return value(Row::CamConectorLateralS); }
    QString ConectorLateralD() const { return value(Row::CamConectorLateralD); }
    int CameraCentral() const;
    int CameraLateral() const;
    QString Com() const { return value(Row::SerCom); }
    bool AutoPCaptura() const { return flag(Row::OpcAutoPCaptura); }
    int DelayAutoPCaptura() const { return values_.delayAutoPCaptura; }
    QString PassoMotorX() const { return value(Row::OpcPassoMotorX); }
    QString PassoMotorY() const { return value(Row::OpcPassoMotorY); }
    int TvlCentral() const { return values_.tvlCentral; }
    int TIncremento() const { return values_.tIncremento; }
    int TipoCalibrador() const { return values_.tipoCalibrador; }
    bool Dicas() const { return flag(Row::OpcDicas); }
    QString QualidadeImagem() const { return value(Row::OpcQualidadeImagem); }

    // The loaded text of any row this reader knows; the empty text for the others.
    QString value(Row row) const;

private:
    struct Values {
        std::array<QString, kRowCount> texts;
        int tvlCentral = 0;
        int tIncremento = 0;
        int delayAutoPCaptura = 0;
        int tipoCalibrador = 0;
    };

    bool flag(Row row) const { return value(row) == QLatin1String("True"); }

    QString fileName_;
    Values values_;
};

}  // namespace norvix::captura

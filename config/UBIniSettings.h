#pragma once
// The workstation's settings file: finds it for an instrument model, reads every setting into
// a cache, offers one read accessor per setting and writes single values back. Every read and
// write opens the file, does one profile-file operation and closes it again.
//
// The class lives in the global namespace: the start-up and the windows refer to it as
// ::TBIniSettings. The capture module has its own, older reader (config/legacy), which shares
// the row table below and the typed read of platform/ProfileFile.h.
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <string_view>

#include "platform/Errors.h"

namespace norvix {

namespace settings {

// The settings in the order a full load reads them; load-time messages appear in this order.
enum Row : int {
    QvVersao, QvData, QvTipo, QvTipoCone, QvFatorCorrecao, QvZ0,
    DirQv, DirExames, DirBancoDados, DirExemplos, DirLaudos,
    ModDigitalizacao, ModDigitalizacaoOrto, ModProcessamento, ModProcessamentoOrto, ModDirMapas,
    ModUltimaCalib, ModAuto,
    BkpModulo, BkpAuto, BkpAutoOp1_1, BkpAutoOp1_2, BkpAutoOp2,
    OpcDicas, OpcSalvarImagemCaptura, OpcSImagemCentral, OpcSImagemLateral, OpcMapaPadraoNovoExame,
    OpcTreeViewNodes, OpcAutoIncMap, OpcIncMap, OpcAutoAneis, OpcAutoMiniMapa, OpcAutoExame,
    OpcIndiceConf,
    CliNome, CliEndereco, CliCidadeEst, CliTelefone, CliOpt1, CliOpt2, CliOpt3,
    CamBrilho, CamContraste, CamCameraCentral, CamCameraLateral, CamConectorCentral,
    CamConectorLateralD, CamConectorLateralS,
    SerCom,
    CliMedicoAtivo, CliPacienteAtivo,
    OpcTipoCeratometria, OpcQualidadeImagem, OpcIdioma, OpcTvlCentral, OpcTIncremento,
    OpcAutoPCaptura, OpcDelayAutoPCaptura, OpcPassoMotorX, OpcPassoMotorY, OpcTipoCalibrador,
    OpcExibirIndiceMapa,
    MapExibeGrade, MapExibeCeratometriaPontual, MapCorCeratometriaPontual,
    DicomAeTitle, DicomPacsAeTitle, DicomPacsHost, DicomPacsPorta,
    DicomWorklistAeTitle, DicomWorklistHost, DicomWorklistPorta, DicomEnvioAutomatico, DicomIdentidade,
    RowCount
};

// Where one setting lives in the file and how its value is read.
struct SettingRow {
    std::string_view section;
    std::string_view key;
    std::string_view tag;  // "Str", "Int" or "Bool"
};

inline constexpr std::array<SettingRow, RowCount> kRows = {{
    {"QV", "Versao", "Str"},
    {"QV", "Data", "Str"},
    {"QV", "Tipo", "Str"},
    {"QV", "TipoCone", "Str"},
    {"QV", "FatorCorrecao", "Str"},
    {"QV", "Z0", "Str"},
    {"DIRETORIOS", "DIRQV", "Str"},
    {"DIRETORIOS", "EXAMES", "Str"},
    {"DIRETORIOS", "BANCODADOS", "Str"},
    {"DIRETORIOS", "EXEMPLOS", "Str"},
    {"DIRETORIOS", "LAUDOS", "Str"},
    {"MODULOS", "DIGITALIZACAO", "Str"},
    {"MODULOS", "DIGITALIZACAO_ORTO", "Str"},
    {"MODULOS", "PROCESSAMENTO", "Str"},
    {"MODULOS", "PROCESSAMENTO_ORTO", "Str"},
    {"MODULOS", "DIRMAPAS", "Str"},
    {"MODULOS", "ULTIMACALIB", "Str"},
    {"MODULOS", "AUTO", "Str"},
    {"BACKUP", "MODULO", "Str"},
    {"BACKUP", "AUTO", "Str"},
    {"BACKUP", "AUTO_OP1_1", "Str"},
    {"BACKUP", "AUTO_OP1_2", "Str"},
    {"BACKUP", "AUTO_OP2", "Str"},
    {"OPCOES", "DICAS", "Bool"},
    {"OPCOES", "SalvarImagemCaptura", "Bool"},
    {"OPCOES", "sImagemCentral", "Bool"},
    {"OPCOES", "sImagemLateral", "Bool"},
    {"OPCOES", "MapaPadraoNovoExame", "Str"},
    {"OPCOES", "TreeViewNodes", "Str"},
    {"OPCOES", "AUTOINCMAP", "Str"},
    {"OPCOES", "INCMAP", "Str"},
    {"OPCOES", "AUTOANEIS", "Str"},
    {"OPCOES", "AUTOMINIMAPA", "Str"},
    {"OPCOES", "AUTOEXAME", "Str"},
    {"OPCOES", "INDICECONF", "Str"},
    {"CLINICA", "NOME", "Str"},
    {"CLINICA", "ENDERECO", "Str"},
    {"CLINICA", "CidadeEst", "Str"},
    {"CLINICA", "TELEFONE", "Str"},
    {"CLINICA", "OPT1", "Str"},
    {"CLINICA", "OPT2", "Str"},
    {"CLINICA", "OPT3", "Str"},
    {"CAMERA", "BRILHO", "Str"},
    {"CAMERA", "CONTRASTE", "Str"},
    {"CAMERA", "CAMERACENTRAL", "Str"},
    {"CAMERA", "CAMERALATERAL", "Str"},
    {"CAMERA", "CONECTORCENTRAL", "Str"},
    {"CAMERA", "CONECTORLATERALD", "Str"},
    {"CAMERA", "CONECTORLATERALS", "Str"},
    {"SERIAL", "COM", "Str"},
    {"CLINICA", "MEDICOATIVO", "Str"},
    {"CLINICA", "PACIENTEATIVO", "Str"},
    {"OPCOES", "TIPOCERATOMETRIA", "Str"},
    {"OPCOES", "QualidadeImagem", "Str"},
    {"OPCOES", "IDIOMA", "Str"},
    {"OPCOES", "TVLCENTRAL", "Int"},
    {"OPCOES", "TINCREMENTO", "Str"},
    {"OPCOES", "AUTOPCAPTURA", "Bool"},
    {"OPCOES", "DELAYAUTOPCAPTURA", "Str"},
    {"OPCOES", "PASSOMOTORX", "Str"},
    {"OPCOES", "PASSOMOTORY", "Str"},
    {"OPCOES", "TIPOCALIBRADOR", "Str"},
    {"OPCOES", "EXIBIRINDICEMAPA", "Bool"},
    {"MAPA", "EXIBEGRADE", "Str"},
    {"MAPA", "EXIBECERATOMETRIAPONTUAL", "Str"},
    {"MAPA", "CORCERATOMETRIAPONTUAL", "Str"},
    // Sending exams to a PACS and reading its worklist. A file without this section (a clinic
    // without DICOM) reads every row as its default, silently: nothing is sent.
    {"DICOM", "AETITLE", "Str"},
    {"DICOM", "PACS_AETITLE", "Str"},
    {"DICOM", "PACS_HOST", "Str"},
    {"DICOM", "PACS_PORTA", "Str"},
    {"DICOM", "WORKLIST_AETITLE", "Str"},
    {"DICOM", "WORKLIST_HOST", "Str"},
    {"DICOM", "WORKLIST_PORTA", "Str"},
    {"DICOM", "ENVIO_AUTOMATICO", "Str"},
    {"DICOM", "IDENTIDADE", "Str"},
}};

// Anchors that keep the enumeration and the table in step.
static_assert(kRows[OpcDicas].key == "DICAS");
static_assert(kRows[SerCom].key == "COM");
static_assert(kRows[OpcTipoCalibrador].key == "TIPOCALIBRADOR");
static_assert(kRows[MapCorCeratometriaPontual].key == "CORCERATOMETRIAPONTUAL");
static_assert(kRows[DicomIdentidade].key == "IDENTIDADE");

inline QString sectionOf(Row row) { return QString::fromLatin1(kRows[row].section); }
inline QString keyOf(Row row) { return QString::fromLatin1(kRows[row].key); }
inline QString tagOf(Row row) { return QString::fromLatin1(kRows[row].tag); }

}  // namespace settings

class TBIniSettings {
public:
    using Row = norvix::settings::Row;

    TBIniSettings();  // an empty object; no file selected

    // Selects the file for the instrument model (0 Miral, 1 MiralDuo, 2 Orvent, 3 OrventDuo);
    // false when none is found (nothing is read and the earlier selection stays). Otherwise
    // reads every setting in table order and returns true; a value that fails its check takes
    // its fallback and its message goes to loadWarnings(), for the window that loaded to show.
    bool LoadAll(int model);
    // Re-reads the options the tools window edits; whether the file was found.
    bool LoadOptions(int model);
    // Re-reads brightness, contrast, last calibration and calibrator type; whether found.
    bool LoadCamera(int model);
    // Re-reads the [DICOM] rows; whether the file was found.
    bool LoadDicom(int model);
    // The messages of the last load, in table order ("Erro ao carregar ... será definido.").
    const QStringList& loadWarnings() const { return warnings_; }

    const QString& FileName() const { return fileName_; }

    // The typed read of one value from the named file ("Str", "Int" or "Bool").
    QString ReadParameter(const QString& fileName, const QString& tag, const QString& section,
                          const QString& key) const;
    // Writes one value into the selected file: "Str" writes text, "Bool" writes flag as "1" or
    // "0". Then re-reads DICAS; no other cached value changes. Returns false, writing nothing,
    // for any other tag, for a text that cannot be stored as one line and when no file is
    // selected. A file that cannot be written raises norvix::SettingsWriteError, whose text
    // names the file and the reason for a message box; the file and the cache stay as they were.
    bool WriteParameter(const QString& tag, const QString& section, const QString& key,
                        const QString& text, bool flag);

    // The candidate files of a model, in the order they are tried; empty for an unknown model.
    static QStringList CandidateFiles(int model);

    // Accessors. Those returning numbers convert the cached text when called and raise
    // norvix::ConversionError when it is not a number.
    int Tipo() const;
    QString TipoCone() const { return value(Row::QvTipoCone); }
    double FatorCorrecao() const;
    double Z0() const;
    QString DirQV() const { return value(Row::DirQv); }
    QString Exames() const { return value(Row::DirExames); }
    QString BancoDados() const { return value(Row::DirBancoDados); }
    QString Exemplos() const { return value(Row::DirExemplos); }
    QString Laudos() const { return value(Row::DirLaudos); }
    QString Digitalizacao() const { return value(Row::ModDigitalizacao); }
    QString DigitalizacaoOrto() const { return value(Row::ModDigitalizacaoOrto); }
    QString Processamento() const { return value(Row::ModProcessamento); }
    QString ProcessamentoOrto() const { return value(Row::ModProcessamentoOrto); }
    QString DirMapas() const { return value(Row::ModDirMapas); }
    QString UltimaCalib() const { return value(Row::ModUltimaCalib); }
    QString BackupModulo() const { return value(Row::BkpModulo); }
    int BackupAuto() const { return integer(Row::BkpAuto); }
    int BackupAutoOp1_1() const { return integer(Row::BkpAutoOp1_1); }
    int BackupAutoOp1_2() const { return integer(Row::BkpAutoOp1_2); }
    int BackupAutoOp2() const { return integer(Row::BkpAutoOp2); }
    bool Dicas() const { return flag(Row::OpcDicas); }
    bool SalvarImagemCaptura() const { return flag(Row::OpcSalvarImagemCaptura); }
    bool sImagemCentral() const { return flag(Row::OpcSImagemCentral); }
    bool sImagemLateral() const { return flag(Row::OpcSImagemLateral); }
    QString MapaPadraoNovoExame() const { return value(Row::OpcMapaPadraoNovoExame); }
    bool AutoIncMap() const { return isOne(Row::OpcAutoIncMap); }
    double IncMap() const;
    bool AutoAneis() const { return notZero(Row::OpcAutoAneis); }
    bool AutoMiniMapa() const { return notZero(Row::OpcAutoMiniMapa); }
    bool AutoExame() const { return notZero(Row::OpcAutoExame); }
    int IndiceConf() const { return integer(Row::OpcIndiceConf); }
    QString Nome() const { return value(Row::CliNome); }
    QString Endereco() const { return value(Row::CliEndereco); }
    QString CidadeEst() const { return value(Row::CliCidadeEst); }
    QString Telefone() const { return value(Row::CliTelefone); }
    bool Opt1() const { return isOne(Row::CliOpt1); }
    bool Opt2() const { return isOne(Row::CliOpt2); }
    bool Opt3() const { return isOne(Row::CliOpt3); }
    int Brilho() const { return integer(Row::CamBrilho); }
    int Contraste() const { return integer(Row::CamContraste); }
    int CameraCentral() const { return integer(Row::CamCameraCentral); }
    int CameraLateral() const { return integer(Row::CamCameraLateral); }
    QString ConectorCentral() const { return value(Row::CamConectorCentral); }
    QString ConectorLateralD() const { return value(Row::CamConectorLateralD); }
    QString ConectorLateralS() const { return value(Row::CamConectorLateralS); }
    QString MedicoAtivo() const { return value(Row::CliMedicoAtivo); }
    QString PacienteAtivo() const { return value(Row::CliPacienteAtivo); }
    QString TipoCeratometria() const { return value(Row::OpcTipoCeratometria); }
    QString QualidadeImagem() const { return value(Row::OpcQualidadeImagem); }
    QString Idioma() const { return value(Row::OpcIdioma); }
    int TvlCentral() const { return integer(Row::OpcTvlCentral); }
    int TIncremento() const { return integer(Row::OpcTIncremento); }
    bool AutoPCaptura() const { return flag(Row::OpcAutoPCaptura); }
    int DelayAutoPCaptura() const { return integer(Row::OpcDelayAutoPCaptura); }
    uint8_t TipoCalibrador() const { return static_cast<uint8_t>(integer(Row::OpcTipoCalibrador)); }
    bool ExibeGrade() const { return flag(Row::MapExibeGrade); }
    bool ExibeCeratometriaPontual() const { return flag(Row::MapExibeCeratometriaPontual); }
    QString CorCeratometriaPontual() const { return value(Row::MapCorCeratometriaPontual); }
    // [DICOM]: an AE title is at most 16 characters without a backslash; a port is 1 to 65535.
    // A value that breaks its rule reads as the default, with a load warning.
    QString DicomAeTitle() const { return value(Row::DicomAeTitle); }  // this station; "NORVIX"
    QString PacsAeTitle() const { return value(Row::DicomPacsAeTitle); }  // empty: no PACS
    QString PacsHost() const { return value(Row::DicomPacsHost); }
    int PacsPorta() const { return integer(Row::DicomPacsPorta); }  // 104
    QString WorklistAeTitle() const { return value(Row::DicomWorklistAeTitle); }  // empty: no worklist
    QString WorklistHost() const { return value(Row::DicomWorklistHost); }
    int WorklistPorta() const { return integer(Row::DicomWorklistPorta); }  // 104
    // Send the exam or report to the PACS as soon as it is saved; off unless the row is 1.
    bool EnvioAutomaticoDicom() const { return flag(Row::DicomEnvioAutomatico); }
    // The installation's identity in the objects' UIDs; empty until the first export sets it.
    QString IdentidadeDicom() const { return value(Row::DicomIdentidade); }

    // The cached text of any row, as loaded (flags as "True"/"False").
    const QString& value(Row row) const { return values_[row]; }
    // Brightness and contrast as integers, taken during LoadAll; nothing in the program
    // reads them back. 0 when the text is not a number.
    int BrilhoCarregado() const { return brilhoCarregado_; }
    int ContrasteCarregado() const { return contrasteCarregado_; }

private:
    bool selectFile(int model);
    void loadRow(Row row);
    int integer(Row row) const;
    bool flag(Row row) const { return values_[row] == QLatin1String("True"); }
    bool isOne(Row row) const { return values_[row] == QLatin1String("1"); }
    bool notZero(Row row) const { return values_[row] != QLatin1String("0"); }

    QString fileName_;
    std::array<QString, Row::RowCount> values_;
    QStringList warnings_;
    int brilhoCarregado_ = 0;
    int contrasteCarregado_ = 0;
};

}  // namespace norvix

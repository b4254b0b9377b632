#include "UBIniSettings.h"

#include <QFileInfo>
#include <optional>

#include "platform/Convert.h"
#include "platform/Paths.h"
#include "platform/ProfileFile.h"

namespace norvix {

using norvix::settings::Row;

namespace {

// The rows whose loaded text is checked; a failed check shows its message and stores the
// fallback, and the load goes on.
enum class Check {
    IntegerText,  // must convert to an integer; the text itself is kept
    Integer,      // must convert to an integer; the integer is kept
    Byte,         // must convert to an integer from 0 to 255
    IsOne,        // must convert to an integer; the flag is whether it is 1
    ShortText,    // longer than 8 characters gives "Preta", without a message
    AeTitle,      // a DICOM application entity: up to 16 characters, no backslash or control
    Port,         // an integer from 1 to 65535
    Host,         // a host name or address: no blanks or control characters
    IsOneOrZero,  // "1" is on, "0" off
    AnyText,      // anything; only a missing row takes the fallback
};

struct RowCheck {
    Row row;
    Check check;
    const char* fallback;
    const char* message;  // UTF-8
    // A row that is missing or blank takes the fallback without a message: the [DICOM] rows,
    // which a clinic without DICOM never writes.
    bool absentIsDefault = false;
};

constexpr RowCheck kChecks[] = {
    {Row::OpcQualidadeImagem, Check::IntegerText, "50",
     "Erro ao carregar padrão de qualidade da imagem! O valor 50% será definido."},
    {Row::OpcTIncremento, Check::Integer, "2",
     "Erro ao carregar valor do incremento da tolerância de varredura! O valor 2 será definido."},
    {Row::OpcDelayAutoPCaptura, Check::Integer, "500",
     "Erro ao carregar delay de captura! O valor 500 ms será definido."},
    {Row::OpcTipoCalibrador, Check::Byte, "1",
     "Erro ao carregar tipo de calibrador! O valor 1 será definido."},
    {Row::MapExibeGrade, Check::IsOne, "True",
     "Erro ao carregar exibição da grade! O valor'True'será definido."},
    {Row::MapExibeCeratometriaPontual, Check::IsOne, "False",
     "Erro ao carregar exibição da ceratometria pontual! O valor'False'será definido."},
    {Row::MapCorCeratometriaPontual, Check::ShortText, "Preta", nullptr},
    {Row::DicomAeTitle, Check::AeTitle, "NORVIX",
     "Erro ao carregar o AE title desta estação! O valor NORVIX será definido.", true},
    {Row::DicomPacsAeTitle, Check::AeTitle, "",
     "Erro ao carregar o AE title do PACS! O envio ao PACS fica desativado.", true},
    {Row::DicomPacsHost, Check::Host, "",
     "Erro ao carregar o endereço do PACS! O envio ao PACS fica desativado.", true},
    {Row::DicomPacsPorta, Check::Port, "104",
     "Erro ao carregar a porta do PACS! O valor 104 será definido.", true},
    {Row::DicomWorklistAeTitle, Check::AeTitle, "",
     "Erro ao carregar o AE title da lista de trabalho! A consulta da lista fica desativada.", true},
    {Row::DicomWorklistHost, Check::Host, "",
     "Erro ao carregar o endereço da lista de trabalho! A consulta da lista fica desativada.", true},
    {Row::DicomWorklistPorta, Check::Port, "104",
     "Erro ao carregar a porta da lista de trabalho! O valor 104 será definido.", true},
    {Row::DicomEnvioAutomatico, Check::IsOneOrZero, "False",
     "Erro ao carregar o envio automático ao PACS! O valor 'False' será definido.", true},
    {Row::DicomIdentidade, Check::AnyText, "", nullptr, true},
};

const RowCheck* checkOf(Row row) {
    for (const RowCheck& c : kChecks)
        if (c.row == row) return &c;
    return nullptr;
}

// The checked text, or nothing when the check fails.
std::optional<QString> checked(Check check, const QString& text) {
    int number = 0;
    switch (check) {
    case Check::IntegerText:
        if (norvix::tryStrToInt(text, &number)) return text;
        return std::nullopt;
    case Check::Integer:
        if (norvix::tryStrToInt(text, &number)) return QString::number(number);
        return std::nullopt;
    case Check::Byte:
        // The calibrator type is kept in one byte; a larger number would silently become
        // another calibrator, so it counts as unreadable.
        if (norvix::tryStrToInt(text, &number) && number >= 0 && number <= 255)
            return QString::number(number);
        return std::nullopt;
    case Check::IsOne:
        if (norvix::tryStrToInt(text, &number))
            return number == 1 ? QStringLiteral("True") : QStringLiteral("False");
        return std::nullopt;
    case Check::ShortText:
        if (text.size() > 8) return std::nullopt;
        return text;
    case Check::AeTitle: {
        // Leading and trailing blanks do not count in an AE title; the backslash separates
        // values in the objects, so it can never be part of one.
        const QString ae = text.trimmed();
        if (ae.size() > 16 || ae.contains(QLatin1Char('\\'))) return std::nullopt;
        for (QChar c : ae)
            if (c.unicode() < 0x20 || c.unicode() > 0x7E) return std::nullopt;
        return ae;
    }
    case Check::Port:
        if (norvix::tryStrToInt(text.trimmed(), &number) && number >= 1 && number <= 65535)
            return QString::number(number);
        return std::nullopt;
    case Check::Host: {
        const QString host = text.trimmed();
        for (QChar c : host)
            if (c.isSpace() || c.unicode() < 0x20) return std::nullopt;
        return host;
    }
    case Check::IsOneOrZero:
        if (text.trimmed() == QLatin1String("1")) return QStringLiteral("True");
        if (text.trimmed() == QLatin1String("0")) return QStringLiteral("False");
        return std::nullopt;
    case Check::AnyText:
        return text.trimmed();
    }
    return std::nullopt;
}

// The rows the tools window edits, and those the calibration refreshes, in reading order.
constexpr Row kOptionRows[] = {
    Row::OpcTreeViewNodes, Row::OpcAutoIncMap, Row::OpcIncMap, Row::OpcAutoAneis,
    Row::OpcAutoExame, Row::OpcIndiceConf, Row::OpcSalvarImagemCaptura, Row::OpcSImagemCentral,
    Row::OpcSImagemLateral, Row::OpcMapaPadraoNovoExame, Row::CliNome, Row::CliEndereco,
    Row::CliCidadeEst, Row::CliTelefone, Row::CliOpt1, Row::CliOpt2, Row::CliOpt3,
    Row::OpcTipoCeratometria, Row::OpcQualidadeImagem, Row::OpcIdioma, Row::OpcTvlCentral,
    Row::OpcTIncremento, Row::OpcAutoPCaptura, Row::OpcDelayAutoPCaptura,
    Row::OpcExibirIndiceMapa, Row::MapExibeGrade, Row::MapExibeCeratometriaPontual,
    Row::MapCorCeratometriaPontual,
};

constexpr Row kCameraRows[] = {Row::CamBrilho, Row::CamContraste, Row::ModUltimaCalib,
                               Row::OpcTipoCalibrador};

constexpr Row kDicomRows[] = {Row::DicomAeTitle, Row::DicomPacsAeTitle, Row::DicomPacsHost, Row::DicomPacsPorta,
                              Row::DicomWorklistAeTitle, Row::DicomWorklistHost, Row::DicomWorklistPorta,
                              Row::DicomEnvioAutomatico, Row::DicomIdentidade};

}  // namespace

TBIniSettings::TBIniSettings() = default;

QStringList TBIniSettings::CandidateFiles(int model) {
    QString folder, name;
    switch (model) {
    case 0: folder = QStringLiteral("Miral"); name = QStringLiteral("Miral.ini"); break;
    case 1: folder = QStringLiteral("MiralDuo"); name = QStringLiteral("Miral.ini"); break;
    case 2: folder = QStringLiteral("Orvent"); name = QStringLiteral("Orvent.ini"); break;
    case 3: folder = QStringLiteral("OrventDuo"); name = QStringLiteral("Orvent.ini"); break;
    default: return {};
    }
    return {norvix::installRoot() + QLatin1Char('/') + folder + QLatin1Char('/') + name,
            norvix::programDirectory() + name};
}

bool TBIniSettings::selectFile(int model) {
    for (const QString& candidate : CandidateFiles(model)) {
        // A directory of that name is no settings file.
        if (QFileInfo(candidate).isFile()) {
            fileName_ = candidate;
            return true;
        }
    }
    return false;
}

QString TBIniSettings::ReadParameter(const QString& fileName, const QString& tag,
                                     const QString& section, const QString& key) const {
    return norvix::readSettingParameter(fileName, tag, section, key);
}

void TBIniSettings::loadRow(Row row) {
    QString text = ReadParameter(fileName_, norvix::settings::tagOf(row),
                                 norvix::settings::sectionOf(row), norvix::settings::keyOf(row));
    if (const RowCheck* check = checkOf(row)) {
        const bool absent = text.trimmed().isEmpty() ||
                            text == norvix::missingSettingText(norvix::settings::sectionOf(row),
                                                               norvix::settings::keyOf(row));
        if (check->absentIsDefault && absent) {
            text = QString::fromLatin1(check->fallback);
        } else if (std::optional<QString> good = checked(check->check, text)) {
            text = *good;
        } else {
            text = QString::fromLatin1(check->fallback);
            if (check->message) warnings_ << QString::fromUtf8(check->message);
        }
    }
    values_[row] = text;
}

bool TBIniSettings::LoadAll(int model) {
    if (!selectFile(model)) return false;
    warnings_.clear();
    for (int i = 0; i < Row::RowCount; ++i) {
        const Row row = static_cast<Row>(i);
        loadRow(row);
        if (row == Row::SerCom) {
            // Not numbers here must not stop the load: the accessors report them to whoever
            // asks, and these two integers then stay 0.
            brilhoCarregado_ = 0;
            contrasteCarregado_ = 0;
            norvix::tryStrToInt(values_[Row::CamBrilho], &brilhoCarregado_);
            norvix::tryStrToInt(values_[Row::CamContraste], &contrasteCarregado_);
        }
    }
    return true;
}

bool TBIniSettings::LoadOptions(int model) {
    if (!selectFile(model)) return false;
    warnings_.clear();
    for (Row row : kOptionRows) loadRow(row);
    return true;
}

bool TBIniSettings::LoadCamera(int model) {
    if (!selectFile(model)) return false;
    warnings_.clear();
    for (Row row : kCameraRows) loadRow(row);
    return true;
}

bool TBIniSettings::LoadDicom(int model) {
    if (!selectFile(model)) return false;
    warnings_.clear();
    for (Row row : kDicomRows) loadRow(row);
    return true;
}

bool TBIniSettings::WriteParameter(const QString& tag, const QString& section, const QString& key,
                                   const QString& text, bool flag) {
    // Without a selected file there is nothing to write into, and re-reading would only
    // replace the cached DICAS by its default.
    if (fileName_.isEmpty()) return false;
    const bool written = norvix::writeSettingParameter(fileName_, tag, section, key, text, flag);
    loadRow(Row::OpcDicas);
    return written;
}

int TBIniSettings::integer(Row row) const { return norvix::strToInt(values_[row]); }

int TBIniSettings::Tipo() const { return integer(Row::QvTipo); }
double TBIniSettings::FatorCorrecao() const { return norvix::strToFloat(values_[Row::QvFatorCorrecao]); }
double TBIniSettings::Z0() const { return norvix::strToFloat(values_[Row::QvZ0]); }
double TBIniSettings::IncMap() const { return norvix::strToFloat(values_[Row::OpcIncMap]); }

}  // namespace norvix

#include "dicom/ExportInstallation.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include "config/SharedRecords.h"
#include "records/UfrmDataModule.h"

namespace norvix::dicom {

namespace {

// The workstation always runs as the OrventDuo model (see the start-up).
constexpr int kModel = 3;

bool fail(QString* error, const QString& why) {
    if (error) *error = why;
    return false;
}

}  // namespace

bool ensureDicomIdentity(TBIniSettings& settings, QString* error) {
    if (!settings.IdentidadeDicom().isEmpty()) return true;
    const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    try {
        if (settings.WriteParameter(QStringLiteral("Str"), settings::sectionOf(settings::DicomIdentidade),
                                    settings::keyOf(settings::DicomIdentidade), id, false) &&
            settings.LoadDicom(kModel) && settings.IdentidadeDicom() == id)
            return true;
    } catch (const SettingsWriteError& e) {
        return fail(error, e.message());
    }
    return fail(error, QStringLiteral("Não foi possível gravar a identidade DICOM da instalação em %1.")
                           .arg(settings.FileName()));
}

Station stationOf(const TBIniSettings& settings) {
    Station s;
    s.installationId = settings.IdentidadeDicom();
    s.stationName = settings.DicomAeTitle();
    s.institution = settings.Nome();
    s.fixedIncrement = settings.AutoIncMap();
    s.mapsFolder = settings.DirMapas();
    try {
        s.increment = settings.IncMap();
    } catch (const ConversionError&) {
        s.fixedIncrement = false;  // as the map window does with an increment it cannot read
    }
    return s;
}

ExportInstallation::ExportInstallation() : settings_(std::make_unique<TBIniSettings>()) {}

ExportInstallation::~ExportInstallation() = default;

bool ExportInstallation::open(const QString& root, QString* error) {
    qputenv("NORVIX_ROOT", QFile::encodeName(QDir(root).absolutePath()));
    const QString expected = TBIniSettings::CandidateFiles(kModel).value(0);
    // The other candidate lies beside the program: another installation's settings.
    if (!settings_->LoadAll(kModel) || settings_->FileName() != expected)
        return fail(error, QStringLiteral("Arquivo de configuração não encontrado: %1.").arg(expected));
    if (!ensureDicomIdentity(*settings_, error)) return false;
    setRecordText(paths().DirQV, settings_->DirQV());
    setRecordText(paths().BancoDados, settings_->BancoDados());
    setRecordText(paths().Exames, settings_->Exames());
    setRecordText(paths().Laudos, settings_->Laudos());
    setRecordText(paths().DirMapas, settings_->DirMapas());
    setRecordText(infos().Nome, settings_->Nome());
    setRecordText(infos().Endereco, settings_->Endereco());
    setRecordText(infos().CidadeEst, settings_->CidadeEst());
    setRecordText(infos().Telefone, settings_->Telefone());

    const QString database = settings_->BancoDados() + QStringLiteral("/DATABASE.GDB");
    // "servidor:/caminho" is a database server's; only a local file can be looked for here.
    const bool onServer = database.indexOf(QLatin1Char(':')) > 0 && !database.startsWith(QLatin1Char('/'));
    if (!onServer && !QFileInfo(database).isFile())
        return fail(error, QStringLiteral("Banco de dados não encontrado: %1.").arg(database));
    data_ = std::make_unique<TDMPrincipal>();
    QString why;
    try {
        if (data_->PSetDataBaseName(database, &why)) return true;
    } catch (const std::exception& e) {
        why = QString::fromUtf8(e.what());
    }
    data_.reset();
    return fail(error, QStringLiteral("Não foi possível abrir o banco de dados %1.%2")
                           .arg(database, why.isEmpty() ? QString() : QLatin1Char(' ') + why));
}

}  // namespace norvix::dicom

#include "UStartUp.h"

#include "backup/CopiaBanco.h"
#include "platform/Permissoes.h"
#include "platform/ProfileFile.h"

#include <QApplication>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include "SignalClose.h"
#include "UBVersionInfo.h"
#include "UfrmPrincipal.h"
#include "UfrmIniciando.h"
#include "backup/UfrmBackup.h"
#include "config/SharedRecords.h"
#include "config/UBIniSettings.h"
#include "dicom/PacsDispatch.h"
#include "modules/ModuleBindings.h"
#include "platform/Convert.h"
#include "platform/Errors.h"
#include "platform/ui/MessageSeam.h"
#include "platform/Paths.h"
#include "platform/Sobras.h"
#include "platform/StartupPhases.h"
#include "records/UfrmDataModule.h"

namespace norvix {

const char* TStartUp::kSupportPhone = "0800 000 1234";

namespace {
constexpr uint8_t kModel = 3;  // OrventDuo
constexpr uint8_t kRings = 32;

void repaintNow(QWidget* w) {
    w->repaint();
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

QString databaseFile(const QString& directory) { return directory + QStringLiteral("/DATABASE.GDB"); }

// A database on a server cannot be checked as a local file. Only the server forms
// "host:/absolute/path" and "host/port:/absolute/path" count as one: any other text with a
// colon (a folder name holding one, the missing-value text of the setting) is a local path.
bool mayAttach(const QString& name) { return isDatabaseServerName(name) || QFileInfo(name).isFile(); }
}  // namespace

bool isDatabaseServerName(const QString& name) {
    static const QRegularExpression server(QStringLiteral(
        "^[A-Za-z0-9](?:[A-Za-z0-9.-]*[A-Za-z0-9])?(?:/[A-Za-z0-9_-]+)?:/"));
    return server.match(name).hasMatch();
}

void fillSharedRecords(const TBIniSettings& s) {
    TInfosQV& i = infos();
    TPathsQV& p = paths();
    setRecordText(i.TipoCone, s.TipoCone());
    i.FatorCorrecao = s.FatorCorrecao();
    i.Z0 = s.Z0();
    setRecordText(p.Processamento, s.Processamento());
    setRecordText(p.ProcessamentoOrto, s.ProcessamentoOrto());
    i.IndiceConf = s.IndiceConf();
    i.AutoAneis = s.AutoAneis();
    i.AutoExame = s.AutoExame();
    i.SalvarImagemCaptura = s.SalvarImagemCaptura();
    i.sImagemCentral = s.sImagemCentral();
    i.sImagemLateral = s.sImagemLateral();
    i.QualidadeImagem = norvix::strToInt(s.QualidadeImagem());
    i.TvlCentral = s.TvlCentral();
    i.TIncremento = s.TIncremento();
    i.AutoMiniMapa = s.AutoMiniMapa();
    setRecordText(i.MedicoAtivo, s.MedicoAtivo());
    setRecordText(i.PacienteAtivo, s.PacienteAtivo());
    setRecordText(i.Nome, s.Nome());
    setRecordText(i.Endereco, s.Endereco());
    setRecordText(i.CidadeEst, s.CidadeEst());
    setRecordText(i.Telefone, s.Telefone());
    i.Opt1 = s.Opt1();
    i.Opt2 = s.Opt2();
    i.Opt3 = s.Opt3();
    setRecordText(p.DirMapas, s.DirMapas());
    i.AutoIncMap = s.AutoIncMap();
    i.IncMap = s.IncMap();
    setRecordText(i.TipoCeratometria, s.TipoCeratometria());
    i.ExibeGrade = s.ExibeGrade();
    i.ExibeCeratometriaPontual = s.ExibeCeratometriaPontual();
    setRecordText(i.CorCeratometriaPontual, s.CorCeratometriaPontual());
    setRecordText(i.MapaPadraoNovoExame, s.MapaPadraoNovoExame());
    setRecordText(i.Idioma, s.Idioma());
    setRecordText(p.Digitalizacao, s.Digitalizacao());
    setRecordText(p.DigitalizacaoOrto, s.DigitalizacaoOrto());
    setRecordText(i.ConectorCentral, s.ConectorCentral());
    setRecordText(i.ConectorLateralS, s.ConectorLateralS());
    setRecordText(i.ConectorLateralD, s.ConectorLateralD());
    i.Reserved6 = 0;
    i.CameraCentral = s.CameraCentral();
    i.CameraLateral = s.CameraLateral();
    i.AutoPCaptura = s.AutoPCaptura();
    i.DelayAutoPCaptura = s.DelayAutoPCaptura();
    setRecordText(p.Calibracao, s.DirQV() + QStringLiteral("/Calibração/"));
    i.TipoCalibrador = s.TipoCalibrador();
    setRecordText(p.DirQV, s.DirQV());
    setRecordText(p.BancoDados, s.BancoDados());
    setRecordText(p.Exames, s.Exames());
    setRecordText(p.Exemplos, s.Exemplos());
    setRecordText(p.Laudos, s.Laudos());
    setRecordText(p.Backup, s.BackupModulo());
    i.BackupAuto = s.BackupAuto() & 0xFF;
    i.BackupPeriodo = s.BackupAutoOp1_1();
    i.BackupUnidade = s.BackupAutoOp1_2();
    i.BackupExames = s.BackupAutoOp2() & 0xFF;
}

TStartUp::TStartUp(TfrmPrincipal& main) : main_(main) {}

void TStartUp::StartUp() {
    norvix::markStartupPhase("inicio");
    if (!main_.versionInfo_) {
        main_.versionInfo_ = std::make_unique<TBVersionInfo>();
        main_.versionInfo_->ReadVersionInfo(QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget());
    }
    main_.settings_ = std::make_unique<TBIniSettings>();
    infos().InstrumentModel = kModel;
    if (!main_.settings_->LoadAll(kModel)) {
        norvix::showMessage(QStringLiteral("Erro ao carregar o arquivo de configuração"),
                            QStringLiteral("Informação"), norvix::MsgIcon::Warning,
                            norvix::MsgButtons::Ok, &main_);
        main_.close();
        return;
    }
    for (const QString& warning : main_.settings_->loadWarnings())
        norvix::showMessage(warning, QStringLiteral("ERRO"), norvix::MsgIcon::Error, norvix::MsgButtons::Ok, &main_);
    try {
        main_.settings_->WriteParameter(QStringLiteral("Str"), QStringLiteral("QV"), QStringLiteral("TIPO"),
                                        QString::number(kModel), false);
    } catch (const norvix::SettingsWriteError& e) {
        // The model is already 3 in memory; a settings file that cannot take it must not keep
        // the program from starting, but the operator has to know that settings are not kept.
        norvix::showMessage(e.message(), QStringLiteral("Atenção"), norvix::MsgIcon::Warning,
                            norvix::MsgButtons::Ok, &main_);
    }
    infos().NumAneis = kRings;
    fillSharedRecords(*main_.settings_);  // a conversion error leaves started false: next activation retries
    PreparaInstalacao();
    norvix::markStartupPhase("configuracao");
    // The engine's first attach takes tens of milliseconds; it runs while the skin and the
    // start-up window are drawn, and CheckDatabase takes its result.
    const QString database = databaseFile(norvix::recordText(paths().BancoDados));
    if (mayAttach(database)) norvix::DMPrincipal().PAttachAhead(database);

    if (!main_.ApplySkin(kModel, kRings)) {
        main_.close();
        return;
    }
    main_.repaint();
    norvix::markStartupPhase("pele");

    TfrmIniciando* window = TfrmIniciando::instance();
    window->show();
    repaintNow(window);
    norvix::markStartupPhase("janela-inicio");

    try {
        CheckDatabase();
        norvix::markStartupPhase("banco");
        // The engine took SIGINT and SIGTERM for itself at its first attach.
        TSignalClose::reinstall();
        if (!main_.databaseReady_) {
            if (TfrmIniciando::exists()) TfrmIniciando::instance()->close();
            main_.close();
            return;
        }
        LocateModules();
        norvix::markStartupPhase("modulos-localizados");
        StartModules();
        norvix::markStartupPhase("modulos-iniciados");
        main_.started_ = true;
    } catch (...) {
        if (TfrmIniciando::exists()) TfrmIniciando::instance()->close();
        CheckAutomaticBackup();
        throw;
    }
    if (TfrmIniciando::exists()) TfrmIniciando::instance()->close();
    CheckAutomaticBackup();
    norvix::markStartupPhase("backup-verificado");
}

void TStartUp::PreparaInstalacao() {
    const QString dirQv = norvix::recordText(paths().DirQV);
    // The backup module, loaded into this process, finds this installation's BackUp.ini.
    if (qEnvironmentVariableIsEmpty("NORVIX_BACKUP_DIR") && !dirQv.isEmpty())
        qputenv("NORVIX_BACKUP_DIR", QFile::encodeName(dirQv));
    const QString grupo =
        norvix::ProfileFile(main_.settings_->FileName()).readString(QStringLiteral("DIRETORIOS"), QStringLiteral("GRUPO"), {}).trimmed();
    norvix::aplicaMascaraDaClinica(grupo);
    const QString banco = databaseFile(norvix::recordText(paths().BancoDados));
    const bool local = !banco.isEmpty() && !norvix::bancoNoServidor(banco);
    QString erro;
    if (!norvix::protegePastas({norvix::recordText(paths().Exames), norvix::recordText(paths().Laudos),
                                local ? QFileInfo(banco).absolutePath() : QString(), dirQv + QStringLiteral("/Calibração")},
                               grupo, &erro))
        norvix::showMessage(QStringLiteral("As pastas de dados da clínica não puderam ser protegidas de outras contas "
                                           "deste computador: %1.").arg(erro),
                            QStringLiteral("Atenção"), norvix::MsgIcon::Warning, norvix::MsgButtons::Ok, &main_);
    LimpaSobras();
    // A restore that a crash or a power cut interrupted is undone before the database opens.
    if (const QString relato = norvix::recuperaInstalacao(local ? QFileInfo(banco).absolutePath() : QString(),
                                                          {norvix::recordText(paths().Exames), norvix::recordText(paths().Laudos)});
        !relato.isEmpty())
        norvix::showMessage(relato, QStringLiteral("Atenção"), norvix::MsgIcon::Warning, norvix::MsgButtons::Ok, &main_);
}

void TStartUp::LimpaSobras() {
    const QString root = norvix::installRoot();
    const QString outbox = norvix::dicom::outboxFolder(root);
    // What a kill left of a patient's: a tear-film recording not stored, objects on their way
    // into the PACS outbox, a withdrawal from it cut short.
    QStringList ficaram = norvix::removeSobras(root, QStringLiteral(".lagrima-"));
    ficaram += norvix::dicom::Outbox(outbox).removeLeftovers();
    for (const QString& f : std::as_const(ficaram))
        qWarning().noquote() << QStringLiteral("Não foi possível remover a pasta temporária %1").arg(f);
    // From now on, what is deleted, or would go out under a RIS ID unlinked, is taken out of the
    // PACS outbox (once per program).
    static const int ouvinte = norvix::dicom::withdrawOnDeletion(outbox);
    static const int desvinculo = norvix::dicom::withdrawOnUnlinking(outbox);
    Q_UNUSED(ouvinte);
    Q_UNUSED(desvinculo);
}

void TStartUp::CheckDatabase() {
    TfrmIniciando* w = TfrmIniciando::instance();
    w->showStep(1);
    w->setProgress(0);
    repaintNow(w);
    const QString name = databaseFile(norvix::recordText(paths().BancoDados));
    const QString support = QStringLiteral("\rSuporte técnico: %1.").arg(QLatin1String(kSupportPhone));
    if (mayAttach(name)) {
        QString why;
        if (!norvix::DMPrincipal().PSetDataBaseName(name, &why)) {
            if (!why.isEmpty())
                norvix::showMessage(why, QStringLiteral("ERRO"), norvix::MsgIcon::None, norvix::MsgButtons::OkCancel,
                                    &main_);
            norvix::showMessage(QStringLiteral("Não foi possível conectar com o banco de dados, entre em "
                                               "contato com o nosso suporte técnico. ") + support,
                                QStringLiteral("Informação"), norvix::MsgIcon::Warning,
                                norvix::MsgButtons::Ok, &main_);
            main_.databaseReady_ = false;
        }
        w->setProgress(50);
        repaintNow(w);
    } else {
        norvix::showMessage(QStringLiteral("Caminho do diretório do Banco de dados incorreto, entre em "
                                           "contato com o nosso suporte técnico. ") + support,
                            QStringLiteral("Informação"), norvix::MsgIcon::Warning, norvix::MsgButtons::Ok,
                            &main_);
        main_.databaseReady_ = false;
    }
    w->showStep(2);
    w->setProgress(100);
    repaintNow(w);
}

void TStartUp::LocateModules() {
    TfrmIniciando* w = TfrmIniciando::instance();
    if (QFileInfo(norvix::recordText(paths().DirMapas)).isDir()) {
        w->showStep(3);
        repaintNow(w);
        w->setProgress(0);
        main_.createExamBrowser();
        main_.buildCatalogue(true);
    }
    w->setProgress(100);
}

void TStartUp::StartModules() {
    TfrmIniciando* w = TfrmIniciando::instance();
    w->setProgress(0);
    w->showStep(4);
    repaintNow(w);
    bool ok = false;
    norvix::ReadModuleLines(norvix::recordText(paths().Processamento), 2, &ok);
    w->setProgress(50);
    norvix::ReadModuleLines(norvix::recordText(paths().Digitalizacao), 3, &ok);
    w->setProgress(100);
}

void TStartUp::CheckAutomaticBackup() {
    // After an error of the run the database may be closed: the check counts exams there.
    if (!norvix::hasDMPrincipal() || !norvix::DMPrincipal().connected()) return;
    TfrmBackup::VerificaBackupAutomatico(main_.settings(), &main_);
}

}  // namespace norvix

#include "UfrmBackup.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSaveFile>
#include <QSet>
#include <QSpinBox>
#include <QTimer>

#include <cstdio>

#include "backup/BackupMidia.h"
#include "backup/CopiaBanco.h"
#include "config/SharedRecords.h"
#include "config/UBIniSettings.h"
#include "modules/HostStream.h"
#include "modules/ModuleBindings.h"
#include "platform/Cp1252.h"
#include "platform/Errors.h"
#include "platform/MessageSeam.h"
#include "platform/ProfileFile.h"
#include "records/UDExames.h"
#include "records/UDLaudos.h"
#include "records/UfrmDataModule.h"
#include "shell/HelpViewer.h"
#include "shell/UfrmAguarde.h"

using namespace norvix;
namespace bk = norvix::backup;

QPointer<TfrmBackup> TfrmBackup::instance_;

namespace {

constexpr int kHelpContext = 2;
const QString kCaption = QStringLiteral("Backup");
const QString kSecao = QStringLiteral("BACKUP");

QString dirQv() { return recordText(paths().DirQV); }
QString pastaBancoDirQv() { return dirQv() + QStringLiteral("/Banco de Dados"); }

MsgAnswer mensagem(QWidget* w, const QString& texto, const QString& titulo = kCaption,
                   MsgIcon icone = MsgIcon::Information, MsgButtons botoes = MsgButtons::Ok,
                   std::optional<MsgAnswer> padrao = std::nullopt) {
    return showMessage(texto, titulo, icone, botoes, w, padrao);
}

// An exam (report) key as the lists and logs write it: patient code + "\" + record code.
QString chave(int paciente, int codigo) { return QStringLiteral("%1\\%2").arg(paciente).arg(codigo); }
QString local(const QString& nome) { return QString(nome).replace(QLatin1Char('\\'), QLatin1Char('/')); }

// A BACKUP value of the settings file, read afresh: the file holds the exam number whole where
// the shared record keeps it modulo 256, and the settings cache is not refreshed by writes.
int valorBackup(const TBIniSettings* settings, const char* chave, int padrao) {
    if (!settings || settings->FileName().isEmpty()) return padrao;
    return ProfileFile(settings->FileName()).readInteger(kSecao, QString::fromLatin1(chave), padrao);
}

}  // namespace

TfrmBackup::TfrmBackup(TBIniSettings* settings, QWidget* parent) : QDialog(parent), settings_(settings) {
    instance_ = this;
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("frmBackup"));
    setWindowTitle(kCaption);
    help::setContext(this, kHelpContext);
    buildUi();
}

TfrmBackup::~TfrmBackup() = default;

void TfrmBackup::buildUi() {
    setFixedSize(460, 470);
    auto rotulo = [this](const QString& nome, const QString& texto, int x, int y, int w) {
        auto* l = new QLabel(texto, this);
        l->setObjectName(nome);
        l->setGeometry(x, y, w, 20);
        return l;
    };
    rotulo(QStringLiteral("lblResumo"), QStringLiteral("Resumo do backup:"), 12, 8, 300);
    mmResumo_ = new QPlainTextEdit(this);
    mmResumo_->setObjectName(QStringLiteral("mmResumo"));
    mmResumo_->setReadOnly(true);
    mmResumo_->setGeometry(12, 30, 436, 170);
    rotulo(QStringLiteral("lblExames"), QStringLiteral("Exames sem backup:"), 12, 208, 150);
    lblNumExames_ = rotulo(QStringLiteral("lblNumExames"), QStringLiteral("0"), 170, 208, 80);
    rotulo(QStringLiteral("lblLaudos"), QStringLiteral("Laudos sem backup:"), 12, 230, 150);
    lblNumLaudos_ = rotulo(QStringLiteral("lblNumLaudos"), QStringLiteral("0"), 170, 230, 80);
    lblAviso_ = new QLabel(this);
    lblAviso_->setObjectName(QStringLiteral("lblAviso"));
    lblAviso_->setWordWrap(true);
    lblAviso_->setStyleSheet(QStringLiteral("color: #b00000"));
    lblAviso_->setGeometry(12, 252, 436, 36);
    lblAviso_->hide();

    auto* grupo = new QGroupBox(QStringLiteral("Backup automático"), this);
    grupo->setObjectName(QStringLiteral("gbAutomatico"));
    grupo->setGeometry(12, 292, 436, 118);
    rbtPeriodo_ = new QRadioButton(QStringLiteral("No período de..."), grupo);
    rbtPeriodo_->setObjectName(QStringLiteral("rbtPeriodo"));
    rbtPeriodo_->setGeometry(12, 24, 200, 22);
    edtPeriodo_ = new QSpinBox(grupo);
    edtPeriodo_->setObjectName(QStringLiteral("edtPeriodo"));
    edtPeriodo_->setRange(1, 30);
    edtPeriodo_->setValue(5);
    edtPeriodo_->setGeometry(230, 24, 70, 24);
    cbxUnidade_ = new QComboBox(grupo);
    cbxUnidade_->setObjectName(QStringLiteral("cbxUnidade"));
    cbxUnidade_->addItems({QStringLiteral("Dias"), QStringLiteral("Meses")});
    cbxUnidade_->setGeometry(306, 24, 110, 24);
    rbtExames_ = new QRadioButton(QStringLiteral("Efetuar backup a cada..."), grupo);
    rbtExames_->setObjectName(QStringLiteral("rbtExames"));
    rbtExames_->setGeometry(12, 54, 210, 22);
    edtExames_ = new QSpinBox(grupo);
    edtExames_->setObjectName(QStringLiteral("edtExames"));
    edtExames_->setRange(1, 10000);
    edtExames_->setValue(200);
    edtExames_->setGeometry(230, 54, 70, 24);
    auto* exames = new QLabel(QStringLiteral("exames."), grupo);
    exames->setObjectName(QStringLiteral("lblExamesAuto"));
    exames->setGeometry(306, 54, 110, 24);
    rbtNunca_ = new QRadioButton(QStringLiteral("Nunca"), grupo);
    rbtNunca_->setObjectName(QStringLiteral("rbtNunca"));
    rbtNunca_->setGeometry(12, 84, 200, 22);

    btnIniciarBkp_ = new QPushButton(QStringLiteral("Iniciar Backup"), this);
    btnIniciarBkp_->setObjectName(QStringLiteral("btnIniciarBkp"));
    btnIniciarBkp_->setGeometry(12, 424, 120, 32);
    btnRestaurar_ = new QPushButton(QStringLiteral("Restaurar"), this);
    btnRestaurar_->setObjectName(QStringLiteral("btnRestaurar"));
    btnRestaurar_->setGeometry(140, 424, 110, 32);
    sbtAjuda_ = new QPushButton(QStringLiteral("Ajuda"), this);
    sbtAjuda_->setObjectName(QStringLiteral("sbtAjuda"));
    sbtAjuda_->setToolTip(QStringLiteral("Ajuda"));
    sbtAjuda_->setGeometry(258, 424, 90, 32);
    sbtFechar_ = new QPushButton(QStringLiteral("Fechar"), this);
    sbtFechar_->setObjectName(QStringLiteral("sbtFechar"));
    sbtFechar_->setGeometry(356, 424, 92, 32);

    // After a backup the focus goes to "Fechar", never on to "Restaurar", where an Enter would
    // ask to overwrite the records; nor does Enter press "Restaurar" from elsewhere.
    btnRestaurar_->setAutoDefault(false);
    connect(btnIniciarBkp_, &QPushButton::clicked, this, [this] {
        btnIniciarBkpClick();
        sbtFechar_->setFocus();
    });
    connect(btnRestaurar_, &QPushButton::clicked, this, &TfrmBackup::btnRestaurarClick);
    connect(sbtFechar_, &QPushButton::clicked, this, &TfrmBackup::sbtFecharClick);
    connect(sbtAjuda_, &QPushButton::clicked, this, [this] { help::showHelp(kHelpContext, this); });
}

// ---- showing ------------------------------------------------------------------------------

void TfrmBackup::Executa(TBIniSettings* settings, QWidget* parent) {
    TfrmBackup* w = instance_ ? instance_.data() : new TfrmBackup(settings, parent);
    w->exec();
}

void TfrmBackup::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (std::exchange(shown_, true)) return;
    FormShow();
}

void TfrmBackup::FormShow() {
    const TInfosQV& i = infos();
    const int modo = valorBackup(settings_, "AUTO", i.BackupAuto);
    cbxUnidade_->setCurrentIndex(valorBackup(settings_, "AUTO_OP1_2", i.BackupUnidade) == 1 ? 1 : 0);
    edtPeriodo_->setValue(valorBackup(settings_, "AUTO_OP1_1", i.BackupPeriodo));
    edtExames_->setValue(valorBackup(settings_, "AUTO_OP2", i.BackupExames));
    (modo == 1 ? rbtPeriodo_ : modo == 2 ? rbtExames_ : rbtNunca_)->setChecked(true);
    AtualizaResumo();
    if (autoStart_) QTimer::singleShot(0, this, &TfrmBackup::btnIniciarBkpClick);
}

void TfrmBackup::AtualizaResumo() {
    TBackupBinding modulo;
    if (modulo.LoadModule(recordText(paths().Backup))) {
        HostStream linhas;
        const int32_t letra = modulo.InfoBackup(this, linhas, 3);
        modulo.ReleaseModule();
        if (linhas.size() > 0) mmResumo_->setPlainText(linhas.lines(200, 500).join(QLatin1Char('\n')));
        letra_ = letra > 0 && letra < 0x10000 && QChar(letra).isLetter() ? QChar(letra).toUpper() : QChar(u'E');
        montagem_ = bk::pontoMontagem(bk::arquivoBackupIni(), letra_);
        mmResumo_->appendPlainText(QStringLiteral("Drive: %1: %2").arg(letra_).arg(
            montagem_.isEmpty() ? QStringLiteral("(sem pasta de montagem)") : QStringLiteral("(%1)").arg(montagem_)));
    }
    examesSemBackup_ = DExames().CountExamesSemBackup();
    const int laudos = DLaudos().CountLaudosSemBackup();
    lblNumExames_->setText(QString::number(examesSemBackup_));
    lblNumLaudos_->setText(QString::number(laudos));
    btnIniciarBkp_->setEnabled(examesSemBackup_ != 0 || laudos != 0);
}

QDate TfrmBackup::DataUltimoBackup() const {
    const QStringList linhas = mmResumo_->toPlainText().split(QLatin1Char('\n'));
    if (linhas.size() < 6) return {};
    const QString texto = linhas[5].mid(25, 10).replace(QLatin1Char('\\'), QLatin1Char('/'));
    return QDate::fromString(texto, QStringLiteral("dd/MM/yyyy"));
}

// ---- backup -------------------------------------------------------------------------------

// Walks the records not yet backed up, as many as the count says. A record with at least one
// of its files on disk is listed with all of them; one without any is logged, deleted, and the
// walk starts again from the first remaining record (a record is listed once).
template <typename Tabela>
static QList<int> semBackup(Tabela& navegador, int (Tabela::*conta)(), void (Tabela::*apaga)(int), const QString& pasta,
                     const QStringList& sufixos, const QString& textoLog, const QString& sufixoLog,
                     QStringList* nomes, QStringList* log) {
    navegador.AbreNavegador();
    QList<int> codigos;
    QSet<int> listados;
    for (bool deNovo = true; deNovo;) {
        deNovo = false;
        const int n = (navegador.*conta)();
        navegador.Navegar(QStringLiteral("Backup"), QString(), QString());
        for (int k = 0; k < n; ++k, navegador.Navegar(QStringLiteral("Backup"), QString(), QStringLiteral("Next"))) {
            const int codigo = navegador.CodigoAtual();
            if (listados.contains(codigo)) continue;
            const QString c = chave(navegador.CodPacienteAtual(), codigo);
            QStringList arquivos;
            bool algum = false;
            for (const QString& sufixo : sufixos) {
                arquivos << c + sufixo;
                algum = algum || QFileInfo::exists(pasta + QLatin1Char('/') + local(c + sufixo));
            }
            if (algum) {
                listados.insert(codigo);
                codigos << codigo;
                *nomes << arquivos;
                continue;
            }
            *log << textoLog + c + sufixoLog;
            (navegador.*apaga)(codigo);
            navegador.FechaNavegador();
            navegador.AbreNavegador();
            deNovo = true;
            break;
        }
    }
    navegador.FechaNavegador();
    return codigos;
}

QList<int> TfrmBackup::listaExames(QStringList* nomes, QStringList* log) {
    TDExames navegador;
    return semBackup(navegador, &TDExames::CountExamesSemBackup, &TDExames::DeleteExamesByCodigo,
                     recordText(paths().Exames), {QStringLiteral("a.txt"), QStringLiteral("d.txt"), QStringLiteral("m.txt")},
                     QStringLiteral("Exame não encontrado: "), QString(), nomes, log);
}

QList<int> TfrmBackup::listaLaudos(QStringList* nomes, QStringList* log) {
    TDLaudos navegador;
    return semBackup(navegador, &TDLaudos::CountLaudosSemBackup, &TDLaudos::DeleteLaudosByCodigo,
                     recordText(paths().Laudos), {QStringLiteral("l.txt")}, QStringLiteral("Laudo não encontrado: "),
                     QStringLiteral("l.txt"), nomes, log);
}

void TfrmBackup::gravaLog(const QString& arquivo, const QStringList& linhas) {
    lblAviso_->setText(QStringLiteral("Alguns exames/laudos não foram encontrados no HD e foram automaticamente "
                                      "excluídos da tabela."));
    lblAviso_->show();
    QSaveFile log(bk::pastaPrograma() + arquivo);
    QByteArray texto;
    for (const QString& l : linhas) texto += toCp1252(l) + "\r\n";
    if (!log.open(QIODevice::WriteOnly) || log.write(texto) != texto.size() || !log.commit())
        mensagem(this, QStringLiteral("Não foi possível gravar %1: %2").arg(log.fileName(), log.errorString()),
                 QStringLiteral("Erro"), MsgIcon::Error);
}

void TfrmBackup::btnIniciarBkpClick() {
    QStringList nomesExames, logExames, nomesLaudos, logLaudos;
    const QList<int> exames = listaExames(&nomesExames, &logExames);
    if (!logExames.isEmpty()) gravaLog(QStringLiteral("LogBackupExame.txt"), logExames);
    const QList<int> laudos = listaLaudos(&nomesLaudos, &logLaudos);
    if (!logLaudos.isEmpty()) gravaLog(QStringLiteral("LogBackupLaudo.txt"), logLaudos);

    TBackupBinding modulo;
    if (!modulo.LoadModule(recordText(paths().Backup))) {
        // Without the module nothing reaches a medium: saying so beats a success message.
        mensagem(this, QStringLiteral("Não foi possível carregar o módulo de backup (%1). Nenhum exame ou laudo foi copiado.")
                           .arg(recordText(paths().Backup)),
                 QStringLiteral("Erro"), MsgIcon::Error);
        AtualizaResumo();
        return;
    }
    HostStream listaE, resultadoE, listaL, resultadoL;
    listaE.writeLines(nomesExames);
    listaL.writeLines(nomesLaudos);
    listaE.rewind();
    listaL.rewind();
    const QByteArray pastaExames = toCp1252(recordText(paths().Exames));
    const QByteArray pastaLaudos = toCp1252(recordText(paths().Laudos));
    const int32_t resultado = modulo.CriarBackup(this, listaE, resultadoE, listaL, resultadoL, 3,
                                                 pastaExames.constData(), pastaLaudos.constData());
    modulo.ReleaseModule();
    if (resultado == -1) {
        AtualizaResumo();
        return;
    }

    // Marks by code, in list order; a record without a mark line (or with an empty one) was not
    // completely copied and stays without backup.
    int semMarca = 0;
    auto marca = [&semMarca](const QList<int>& codigos, const QStringList& marcas, auto&& grava) {
        for (int k = 0; k < codigos.size(); ++k) {
            const QString m = k < marcas.size() ? marcas[k].trimmed().left(10) : QString();
            if (m.isEmpty()) ++semMarca;
            else grava(codigos[k], m);
        }
        DMPrincipal().PCommitDataBase();
    };
    marca(exames, resultadoE.lines(), [](int c, const QString& m) { DExames().UpdateBackupExameByCodigo(c, m); });
    marca(laudos, resultadoL.lines(), [](int c, const QString& m) { DLaudos().UpdateBackupLaudoByCodigo(c, m); });
    AtualizaResumo();

    // The database copy must fit on the medium in the drive.
    const qint64 livre = bk::espacoLivre(montagem_);
    const qint64 preciso = tamanhoPasta(recordText(paths().BancoDados)) + QFileInfo(dirQv() + QStringLiteral("/BackUp.ini")).size();
    if (livre / 1024 < preciso / 1024 && PreparaNovoDisco() == Preparo::Encerra) return;
    if (!copiaBanco()) return;
    if (semMarca == 0)
        mensagem(this, QStringLiteral("Backup dos Exames e Laudos concluído com êxito"));
    else
        mensagem(this, QStringLiteral("Backup concluído em parte: %1 exame(s)/laudo(s) não foram copiados por completo "
                                      "e continuam sem backup; serão copiados no próximo backup.").arg(semMarca),
                 kCaption, MsgIcon::Warning);
}

bool TfrmBackup::copiaBanco() {
    if (!bk::midiaPresente(montagem_)) {
        mensagem(this, QStringLiteral("O disco de backup não está disponível (%1). O banco de dados não foi copiado.")
                           .arg(montagem_.isEmpty() ? QStringLiteral("unidade %1: sem pasta de montagem").arg(letra_) : montagem_),
                 QStringLiteral("Erro"), MsgIcon::Error);
        return false;
    }
    TfrmAguarde::instance()->showNow();
    QMap<QString, QByteArray> somas, manifesto;
    QString erro;
    bool ok = false;
    try {
        ok = copiaPastaBanco(DMPrincipal(), pastaBancoDirQv(), montagem_ + QStringLiteral("/Banco de Dados"), &somas, &erro);
    } catch (const Error& e) {
        erro = e.message();
    }
    for (auto it = somas.cbegin(); it != somas.cend(); ++it) manifesto.insert(QStringLiteral("Banco de Dados/") + it.key(), it.value());
    const QString ini = dirQv() + QStringLiteral("/BackUp.ini");
    if (ok && QFileInfo::exists(ini)) {
        QByteArray soma;
        ok = bk::copiaArquivo(ini, montagem_ + QStringLiteral("/BackUp.ini"), &soma, &erro);
        manifesto.insert(QStringLiteral("BackUp.ini"), soma);
    }
    ok = ok && bk::gravaManifesto(montagem_, manifesto, &erro) && bk::descarregaMidia(montagem_);
    TfrmAguarde::instance()->hide();
    if (!ok)
        mensagem(this, QStringLiteral("Erro ao copiar o banco de dados para o disco de backup: %1").arg(erro),
                 QStringLiteral("Erro"), MsgIcon::Error);
    return ok;
}

TfrmBackup::Preparo TfrmBackup::PreparaNovoDisco() {
    for (;;) {
        if (mensagem(this, QStringLiteral("Insira um NOVO disco no drive e pressione OK."), kCaption, MsgIcon::Question,
                     MsgButtons::OkCancel) != MsgAnswer::Ok)
            return Preparo::Continua;
        const ProfileFile ini(bk::arquivoBackupIni());
        const QString tipo = ini.readString(kSecao, QStringLiteral("TipoBkp"), {}).trimmed();
        const QString directCd = ini.readString(kSecao, QStringLiteral("DirectCD"), {}).trimmed();
        const int n = ini.readInteger(kSecao, QStringLiteral("DiscoAtual"), 0) + 1;
        montagem_ = bk::pontoMontagem(bk::arquivoBackupIni(), letra_);
        const bool pronto = bk::midiaPresente(montagem_);
        QString erro;
        if (tipo.compare(QLatin1String("ZIP"), Qt::CaseInsensitive) == 0) {
            if (!pronto) continue;
            if (mensagem(this,
                         QStringLiteral("Será necessário um disco formatado, ou seja, que não contenha nenhum arquivo.\r\n"
                                        "Com a formatação todos os dados serão apagados! Deseja formatar o disco atual agora? "),
                         kCaption, MsgIcon::Question, MsgButtons::YesNo) == MsgAnswer::Yes &&
                !QProcess::startDetached(QStringLiteral("gnome-disks"), {}))
                mensagem(this, QStringLiteral("Não foi possível abrir o utilitário de discos do sistema (gnome-disks)."),
                         kCaption, MsgIcon::Warning);
            if (!bk::gravaRotulo(montagem_, n, &erro))
                mensagem(this, QStringLiteral("O rótulo do novo disco não foi gravado: %1").arg(erro), QStringLiteral("Erro"),
                         MsgIcon::Error);
        } else if (tipo.compare(QLatin1String("CDR"), Qt::CaseInsensitive) == 0) {
            if (!pronto || bk::espacoLivre(montagem_) < 0) {
                QApplication::beep();
                continue;
            }
            if (mensagem(this,
                         QStringLiteral("Será necessário um CD-RW formatado, ou seja, que não contenha nenhum arquivo e que "
                                        "tenha sido gerado a partir do software apropriado.\r\nDeseja formatar o CD-RW agora?"
                                        "\r\nEscolha \"Sim\" para formatar o CD-RW ou escolha \"Não\" se este já for um CD-RW "
                                        "formatado"),
                         kCaption, MsgIcon::Information, MsgButtons::YesNo) == MsgAnswer::Yes) {
                QProcess programa;
                programa.setProgram(directCd);
                if (programa.startDetached()) {
                    QEventLoop espera;
                    QTimer::singleShot(7000, &espera, &QEventLoop::quit);
                    espera.exec();
                    if (mensagem(this, QStringLiteral("Deseja continuar o BackUp?"), kCaption, MsgIcon::Information,
                                 MsgButtons::YesNo) == MsgAnswer::No)
                        return Preparo::Encerra;
                } else {
                    mensagem(this, QStringLiteral("Não foi possível iniciar %1: %2").arg(directCd, programa.errorString()),
                             QStringLiteral("Erro"), MsgIcon::Error);
                }
            }
            const QString zip = montagem_ + QStringLiteral("/zip.dat");
            QSaveFile dat(zip);
            const QByteArray rotulo = bk::rotuloDisco(n).toLatin1();
            if (!(dat.open(QIODevice::WriteOnly) && dat.write(rotulo) == rotulo.size() && dat.commit()) ||
                !QFileInfo::exists(zip)) {
                mensagem(this, QStringLiteral("Erro ao gravar o arquivo .dat no CD. O BackUp será encerrado."),
                         QStringLiteral("BackUp"), MsgIcon::Error);
                return Preparo::Encerra;
            }
        }
        if (!ProfileFile(bk::arquivoBackupIni())
                 .writeStrings(kSecao,
                               {{QStringLiteral("DiscoAtual"), QString::number(n)},
                                {QStringLiteral("ArquivoAtual"), QStringLiteral("1")},
                                {QStringLiteral("NumArquivos"), QStringLiteral("0")},
                                {QStringLiteral("NumArquivosLau"), QStringLiteral("0")},
                                {QStringLiteral("NumExamDisco"), QStringLiteral("0")},
                                {QStringLiteral("NumLauDisco"), QStringLiteral("0")}},
                               &erro))
            mensagem(this, QStringLiteral("Erro ao gravar %1: %2").arg(bk::arquivoBackupIni(), erro), QStringLiteral("Erro"),
                     MsgIcon::Error);
        return Preparo::Continua;
    }
}

// ---- restore ------------------------------------------------------------------------------

void TfrmBackup::btnRestaurarClick() {
    if (mensagem(this,
                 QStringLiteral("Atenção!!! Esta operação irá substituir todos os exames\r\natuais pelos exames armazenados no "
                                "último backup realizado.\r\r\nQualquer dúvida entrar em contato com o nosso suporte técnico."),
                 QStringLiteral("Informação"), MsgIcon::Information, MsgButtons::OkCancel,
                 MsgAnswer::Cancel) != MsgAnswer::Ok)
        return;
    TBackupBinding modulo;
    if (!modulo.LoadModule(recordText(paths().Backup))) {
        mensagem(this, QStringLiteral("Não foi possível carregar o módulo de backup (%1). Nada foi restaurado.")
                           .arg(recordText(paths().Backup)),
                 QStringLiteral("Erro"), MsgIcon::Error);
        return;
    }
    const QByteArray pastaExames = toCp1252(recordText(paths().Exames));
    const QByteArray pastaLaudos = toCp1252(recordText(paths().Laudos));
    const int32_t resultado = modulo.RestaurarBackup(this, pastaExames.constData(), pastaLaudos.constData());
    modulo.ReleaseModule();
    if (resultado == -1) return;
    if (!restauraBanco()) return;
    mensagem(this, QStringLiteral("Restauração concluída com êxito"));
    AtualizaResumo();
}

// The database folder and BackUp.ini of the medium, taken back only when they match the
// medium's manifest: a damaged copy must not replace a sound database.
bool TfrmBackup::restauraBanco() {
    montagem_ = bk::pontoMontagem(bk::arquivoBackupIni(), letra_);
    const QString origem = montagem_ + QStringLiteral("/Banco de Dados");
    const QMap<QString, QByteArray> manifesto = bk::leManifesto(montagem_);
    const QFileInfoList arquivos = QDir(origem).entryInfoList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    if (montagem_.isEmpty() || arquivos.isEmpty()) {
        mensagem(this, QStringLiteral("O disco no drive não contém a cópia do banco de dados (%1). O banco de dados não foi "
                                      "restaurado.").arg(origem),
                 QStringLiteral("Erro"), MsgIcon::Error);
        return false;
    }
    QList<std::pair<QString, QString>> copias;  // medium file -> target
    for (const QFileInfo& f : arquivos)
        copias.append({f.filePath(), pastaBancoDirQv() + QLatin1Char('/') + f.fileName()});
    if (QFileInfo::exists(montagem_ + QStringLiteral("/BackUp.ini")))
        copias.append({montagem_ + QStringLiteral("/BackUp.ini"), dirQv() + QStringLiteral("/BackUp.ini")});

    // Everything is copied beside its target and compared first; only then is the database
    // closed and the copies renamed into place.
    QStringList diferentes;
    QString erro;
    for (const auto& [de, para] : copias) {
        const QString nome = de.mid(montagem_.size() + 1);
        QByteArray soma;
        if (!bk::copiaArquivo(de, para + QStringLiteral(".restaura"), &soma, &erro) || soma != manifesto.value(nome))
            diferentes << nome;
    }
    if (!diferentes.isEmpty()) {
        for (const auto& c : copias) QFile::remove(c.second + QStringLiteral(".restaura"));
        mensagem(this, QStringLiteral("Estes arquivos do disco diferem do manifesto do backup; o banco de dados não foi "
                                      "restaurado:\n%1").arg(diferentes.join(QLatin1Char('\n'))),
                 QStringLiteral("Erro"), MsgIcon::Error);
        return false;
    }
    DMPrincipal().PDesconectionDataBase();
    for (const auto& [de, para] : copias)
        if (std::rename(QFile::encodeName(para + QStringLiteral(".restaura")).constData(), QFile::encodeName(para).constData()) != 0)
            diferentes << para;
    try {
        DMPrincipal().PConnectDataBase();
    } catch (const Error& e) {
        mensagem(this, QStringLiteral("O banco de dados restaurado não pôde ser aberto: %1").arg(e.message()),
                 QStringLiteral("Erro"), MsgIcon::Error);
        return false;
    }
    if (!diferentes.isEmpty()) {
        mensagem(this, QStringLiteral("Não foi possível substituir:\n%1").arg(diferentes.join(QLatin1Char('\n'))),
                 QStringLiteral("Erro"), MsgIcon::Error);
        return false;
    }
    return true;
}

// ---- automatic backup ---------------------------------------------------------------------

void TfrmBackup::sbtFecharClick() {
    const int modo = rbtPeriodo_->isChecked() ? 1 : rbtExames_->isChecked() ? 2 : 0;
    TInfosQV& i = infos();
    i.BackupAuto = modo;
    i.BackupPeriodo = edtPeriodo_->value();
    i.BackupUnidade = cbxUnidade_->currentIndex();
    i.BackupExames = edtExames_->value() & 0xFF;
    try {
        if (settings_) {
            const QList<std::pair<QString, int>> valores = {{QStringLiteral("AUTO"), modo},
                                                            {QStringLiteral("AUTO_OP1_1"), edtPeriodo_->value()},
                                                            {QStringLiteral("AUTO_OP1_2"), cbxUnidade_->currentIndex()},
                                                            {QStringLiteral("AUTO_OP2"), edtExames_->value()}};
            for (const auto& [chave, valor] : valores)
                settings_->WriteParameter(QStringLiteral("Str"), kSecao, chave, QString::number(valor), false);
        }
    } catch (const SettingsWriteError& e) {
        mensagem(this, e.message(), QStringLiteral("Erro"), MsgIcon::Error);
        return;
    }
    close();
}

void TfrmBackup::IniciaBackupAutomatico(TBIniSettings* settings, QWidget* parent) {
    if (mensagem(parent, QStringLiteral("Backup automático inicializado... deseja continuar?"), QStringLiteral("Informação"),
                 MsgIcon::Question, MsgButtons::YesNo) != MsgAnswer::Yes)
        return;
    TfrmBackup* w = instance_ ? instance_.data() : new TfrmBackup(settings, parent);
    w->autoStart_ = true;
    QPointer<TfrmBackup> janela(w);
    w->exec();
    if (janela) janela->autoStart_ = false;
}

void TfrmBackup::VerificaBackupAutomatico(TBIniSettings* settings, QWidget* parent, const QDate& today) {
    const TInfosQV& i = infos();
    if (i.BackupAuto <= 0) return;
    auto* w = new TfrmBackup(settings, parent);
    QPointer<TfrmBackup> janela(w);
    w->AtualizaResumo();
    bool oferece = false;
    if (i.BackupAuto == 1) {
        const QDate ultimo = w->DataUltimoBackup();
        if (!ultimo.isValid()) {
            mensagem(parent, QStringLiteral("A data do último backup não foi encontrada no resumo do módulo de backup; "
                                            "o backup automático por período não foi verificado."),
                     QStringLiteral("Atenção"), MsgIcon::Warning);
        } else if (i.BackupUnidade == 1) {
            oferece = 12 * (today.year() - ultimo.year()) + today.month() - ultimo.month() >= i.BackupPeriodo;
        } else {
            oferece = ultimo.daysTo(today) >= i.BackupPeriodo;
        }
    } else if (i.BackupAuto == 2) {
        oferece = w->ExamesSemBackup() >= valorBackup(settings, "AUTO_OP2", i.BackupExames);
    }
    if (oferece) IniciaBackupAutomatico(settings, parent);
    if (janela) janela->deleteLater();
}

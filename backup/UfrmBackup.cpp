#include "UfrmBackup.h"
#include "UfrmBackupShared.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
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
#include <QTemporaryDir>
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
#include "platform/ui/MessageSeam.h"
#include "platform/ProfileFile.h"
#include "records/UDExames.h"
#include "records/UDLaudos.h"
#include "records/UfrmDataModule.h"
#include "shell/HelpViewer.h"
#include "shell/UfrmAguarde.h"

namespace norvix {

namespace bk = norvix::backup;

QPointer<TfrmBackup> TfrmBackup::instance_;

namespace {

constexpr int kHelpContext = 2;
const QString kSecao = QStringLiteral("BACKUP");

QString dirQv() { return recordText(paths().DirQV); }
QString pastaBancoDirQv() { return dirQv() + QStringLiteral("/Banco de Dados"); }

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

// Walks the records not yet backed up, as many as the count says, noting for each whether any
// of its files is on disk. Nothing is deleted here.
template <typename Tabela>
static QList<TfrmBackup::Pendente> pendentes(Tabela& navegador, int (Tabela::*conta)(), const QString& pasta,
                                             const QStringList& sufixos) {
    navegador.AbreNavegador();
    QList<TfrmBackup::Pendente> lista;
    QSet<int> vistos;
    const int n = (navegador.*conta)();
    navegador.Navegar(QStringLiteral("Backup"), QString(), QString());
    for (int k = 0; k < n; ++k, navegador.Navegar(QStringLiteral("Backup"), QString(), QStringLiteral("Next"))) {
        const int codigo = navegador.CodigoAtual();
        if (codigo == 0 || vistos.contains(codigo)) continue;
        vistos.insert(codigo);
        TfrmBackup::Pendente p{codigo, chave(navegador.CodPacienteAtual(), codigo), {}, false};
        for (const QString& sufixo : sufixos) {
            p.arquivos << p.chave + sufixo;
            p.presente = p.presente || QFileInfo::exists(pasta + QLatin1Char('/') + local(p.chave + sufixo));
        }
        lista << p;
    }
    navegador.FechaNavegador();
    return lista;
}

QString TfrmBackup::problemaNaPasta(const QString& pasta, const QString& oQue, int total,
                                    const QList<Pendente>& lista) const {
    // The backup deletes the records whose files are missing; a folder that is absent, unreadable
    // or empty would have every record deleted (and the good copy on the medium replaced by the
    // gutted database), so then nothing is deleted and the backup stops.
    const QFileInfo info(pasta);
    if (pasta.isEmpty() || !info.exists())
        return QStringLiteral("A pasta de %1 não foi encontrada: %2").arg(oQue, pasta.isEmpty() ? QStringLiteral("(não definida)") : pasta);
    if (!info.isDir() || !info.isReadable() || !info.isExecutable())
        return QStringLiteral("A pasta de %1 não pode ser lida: %2").arg(oQue, pasta);
    if (total > 0 && QDir(pasta).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden))
        return QStringLiteral("A pasta de %1 está vazia, mas o banco de dados lista %2 %1: %3").arg(oQue).arg(total).arg(pasta);
    int ausentes = 0;
    for (const Pendente& p : lista) ausentes += !p.presente;
    if (ausentes > kMaximoAusentes)
        return QStringLiteral("Os arquivos de %1 %2 não foram encontrados na pasta %3").arg(ausentes).arg(oQue, pasta);
    return {};
}

// Deletes the records found without files (each deletion committed at once) and logs them;
// returns the others with their file names.
template <typename Tabela>
static QList<int> listados(Tabela& tabela, void (Tabela::*apaga)(int), const QList<TfrmBackup::Pendente>& lista,
                           const QString& textoLog, const QString& sufixoLog, QStringList* nomes, QStringList* log) {
    QList<int> codigos;
    for (const TfrmBackup::Pendente& p : lista) {
        if (p.presente) {
            codigos << p.codigo;
            *nomes << p.arquivos;
        } else {
            *log << textoLog + p.chave + sufixoLog;
            (tabela.*apaga)(p.codigo);
        }
    }
    return codigos;
}

bool TfrmBackup::listaExames(QList<int>* codigos, QStringList* nomes, QStringList* log, QString* problema) {
    TDExames navegador;
    const QString pasta = recordText(paths().Exames);
    const QList<Pendente> lista = pendentes(navegador, &TDExames::CountExamesSemBackup, pasta,
                                            {QStringLiteral("a.txt"), QStringLiteral("d.txt"), QStringLiteral("m.txt")});
    *problema = problemaNaPasta(pasta, QStringLiteral("exames"), DExames().CountExames(), lista);
    if (!problema->isEmpty()) return false;
    *codigos = listados(navegador, &TDExames::DeleteExamesByCodigo, lista, QStringLiteral("Exame não encontrado: "),
                        QString(), nomes, log);
    return true;
}

bool TfrmBackup::listaLaudos(QList<int>* codigos, QStringList* nomes, QStringList* log, QString* problema) {
    TDLaudos navegador;
    const QString pasta = recordText(paths().Laudos);
    const QList<Pendente> lista = pendentes(navegador, &TDLaudos::CountLaudosSemBackup, pasta, {QStringLiteral("l.txt")});
    *problema = problemaNaPasta(pasta, QStringLiteral("laudos"), DLaudos().CountLaudos(), lista);
    if (!problema->isEmpty()) return false;
    *codigos = listados(navegador, &TDLaudos::DeleteLaudosByCodigo, lista, QStringLiteral("Laudo não encontrado: "),
                        QStringLiteral("l.txt"), nomes, log);
    return true;
}

void TfrmBackup::gravaLog(const QString& arquivo, const QStringList& linhas) {
    lblAviso_->setText(QStringLiteral("Alguns exames/laudos não foram encontrados no HD e foram automaticamente "
                                      "excluídos da tabela."));
    lblAviso_->show();
    QSaveFile log(bk::pastaInstalacao() + arquivo);
    QByteArray texto;
    for (const QString& l : linhas) texto += toCp1252(l) + "\r\n";
    if (!log.open(QIODevice::WriteOnly) || log.write(texto) != texto.size() || !log.commit())
        mensagem(this, QStringLiteral("Não foi possível gravar %1: %2").arg(log.fileName(), log.errorString()),
                 QStringLiteral("Erro"), MsgIcon::Error);
}

void TfrmBackup::btnIniciarBkpClick() {
    QStringList nomesExames, logExames, nomesLaudos, logLaudos;
    QList<int> exames, laudos;
    QString problema;
    const bool examesOk = listaExames(&exames, &nomesExames, &logExames, &problema);
    if (!logExames.isEmpty()) gravaLog(QStringLiteral("LogBackupExame.txt"), logExames);
    if (examesOk && listaLaudos(&laudos, &nomesLaudos, &logLaudos, &problema) && !logLaudos.isEmpty())
        gravaLog(QStringLiteral("LogBackupLaudo.txt"), logLaudos);
    if (!problema.isEmpty()) {
        mensagem(this, problema + QStringLiteral(".\nO backup foi interrompido e nenhum registro foi excluído. Verifique "
                                                 "a pasta (um disco desconectado, uma pasta movida) e faça o backup de novo."),
                 QStringLiteral("Erro"), MsgIcon::Error);
        AtualizaResumo();
        return;
    }

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
    // completely copied and stays without backup. Exams and reports are marked in one commit,
    // so that an interruption leaves the records as they were before or after, never between.
    int semMarca = 0;
    auto marca = [&semMarca](const QList<int>& codigos, const QStringList& marcas, auto&& grava) {
        for (int k = 0; k < codigos.size(); ++k) {
            const QString m = k < marcas.size() ? marcas[k].trimmed().left(10) : QString();
            if (m.isEmpty()) ++semMarca;
            else grava(codigos[k], m);
        }
    };
    const QStringList marcasE = resultadoE.lines(), marcasL = resultadoL.lines();
    try {
        DMPrincipal().runBatch([&] {
            semMarca = 0;
            marca(exames, marcasE, [](int c, const QString& m) { DExames().UpdateBackupExameByCodigo(c, m); });
            marca(laudos, marcasL, [](int c, const QString& m) { DLaudos().UpdateBackupLaudoByCodigo(c, m); });
        });
    } catch (const Error& e) {
        mensagem(this, QStringLiteral("Os arquivos foram copiados, mas as marcas de backup não foram gravadas: %1. "
                                      "Os exames e laudos serão copiados de novo no próximo backup.").arg(e.message()),
                 QStringLiteral("Erro"), MsgIcon::Error);
        AtualizaResumo();
        return;
    }
    AtualizaResumo();

    if (!copiaBanco()) return;
    if (semMarca == 0)
        mensagem(this, QStringLiteral("Backup dos Exames e Laudos concluído com êxito"));
    else
        mensagem(this, QStringLiteral("Backup concluído em parte: %1 exame(s)/laudo(s) não foram copiados por completo "
                                      "e continuam sem backup; serão copiados no próximo backup.").arg(semMarca),
                 kCaption, MsgIcon::Warning);
}

QString TfrmBackup::pastaBanco() {
    const QString nome = DMPrincipal().IBDatabase.databaseName();
    return nome.isEmpty() || bancoNoServidor(nome) ? pastaBancoDirQv() : QFileInfo(nome).absolutePath();
}

bool TfrmBackup::copiaBanco() {
    const QString conjunto = bk::conjuntoAtual(bk::arquivoBackupIni());
    TfrmAguarde::instance()->showNow();
    // The copy is made on this computer first: a failing nbackup or gbak never touches the
    // medium, whose last good copy is replaced only by a verified new one.
    QTemporaryDir local(bk::pastaInstalacao() + QStringLiteral(".copia-banco-XXXXXX"));
    QList<std::pair<QString, QString>> arquivos;
    QString erro;
    bool ok = local.isValid();
    if (!ok) erro = QStringLiteral("não foi possível criar uma pasta temporária em %1").arg(bk::pastaInstalacao());
    try {
        ok = ok && preparaCopiaBanco(DMPrincipal(), pastaBanco(), local.path(), &arquivos, &erro);
    } catch (const Error& e) {
        ok = false;
        erro = e.message();
    }
    const QString ini = bk::arquivoBackupIni();
    qint64 preciso = QFileInfo(ini).size();
    for (const auto& par : std::as_const(arquivos)) preciso += QFileInfo(par.first).size();
    TfrmAguarde::instance()->hide();
    if (!ok) {
        mensagem(this, QStringLiteral("Erro ao copiar o banco de dados para o disco de backup: %1. A cópia anterior no disco "
                                      "de backup foi mantida.").arg(erro),
                 QStringLiteral("Erro"), MsgIcon::Error);
        return false;
    }
    // The copy must fit on the medium in the drive (its former copy is replaced only at the end).
    if (bk::espacoLivre(montagem_) / 1024 < preciso / 1024 && PreparaNovoDisco() == Preparo::Encerra) return false;
    if (!bk::midiaPresente(montagem_)) {
        mensagem(this, QStringLiteral("O disco de backup não está disponível (%1). O banco de dados não foi copiado.")
                           .arg(montagem_.isEmpty() ? QStringLiteral("unidade %1: sem pasta de montagem").arg(letra_) : montagem_),
                 QStringLiteral("Erro"), MsgIcon::Error);
        return false;
    }
    const int disco = ProfileFile(ini).readInteger(kSecao, QStringLiteral("DiscoAtual"), 1);
    if (const QString problema = bk::preparaDiscoAtual(montagem_, conjunto, disco); !problema.isEmpty()) {
        mensagem(this, problema + QStringLiteral(" O banco de dados não foi copiado."), QStringLiteral("Erro"), MsgIcon::Error);
        return false;
    }
    TfrmAguarde::instance()->showNow();
    if (QFileInfo::exists(ini)) arquivos.append({ini, QStringLiteral("BackUp.ini")});
    ok = bk::publicaNoMeio(montagem_, arquivos, &erro);
    if (ok) {
        // This disk now holds the newest copy: the set's last disk.
        bk::TDisco d{conjunto, disco, 0, QDateTime::currentDateTime().toString(Qt::ISODate)};
        ok = bk::gravaDisco(montagem_, d, &erro) && bk::descarregaMidia(montagem_);
    }
    TfrmAguarde::instance()->hide();
    if (!ok)
        mensagem(this, QStringLiteral("Erro ao copiar o banco de dados para o disco de backup: %1").arg(erro),
                 QStringLiteral("Erro"), MsgIcon::Error);
    return ok;
}

TfrmBackup::Preparo TfrmBackup::PreparaNovoDisco() {
    const QString ini = bk::arquivoBackupIni();
    const QString conjunto = bk::conjuntoAtual(ini);
    const int anterior = ProfileFile(ini).readInteger(kSecao, QStringLiteral("DiscoAtual"), 0);
    const int n = anterior + 1;
    // The full disk says that the set goes on, so that a restore never takes it for the last.
    auto marcaAnterior = [&](int continua) {
        bk::TDisco d = bk::leDisco(montagem_);
        if (d.valido() && d.conjunto == conjunto && d.numero == anterior) {
            d.continua = continua;
            bk::gravaDisco(montagem_, d, nullptr);
        }
    };
    marcaAnterior(n);
    for (;;) {
        if (mensagem(this, QStringLiteral("Insira um NOVO disco no drive e pressione OK."), kCaption, MsgIcon::Question,
                     MsgButtons::OkCancel) != MsgAnswer::Ok) {
            marcaAnterior(0);  // still the last disk, if it is the one in the drive
            return Preparo::Continua;
        }
        const ProfileFile arquivo(ini);
        const QString tipo = arquivo.readString(kSecao, QStringLiteral("TipoBkp"), {}).trimmed();
        const QString directCd = arquivo.readString(kSecao, QStringLiteral("DirectCD"), {}).trimmed();
        montagem_ = bk::pontoMontagem(ini, letra_);
        const bool pronto = bk::midiaPresente(montagem_);
        QString erro;
        if (pronto) {
            if (const QString problema = bk::problemaNoDiscoNovo(montagem_, conjunto, anterior); !problema.isEmpty()) {
                mensagem(this, problema, kCaption, MsgIcon::Warning);
                continue;
            }
        }
        if (tipo.compare(QLatin1String("ZIP"), Qt::CaseInsensitive) == 0) {
            if (!pronto) continue;
            if (mensagem(this,
                         QStringLiteral("Será necessário um disco formatado, ou seja, que não contenha nenhum arquivo.\r\n"
                                        "Com a formatação todos os dados serão apagados! Deseja formatar o disco atual agora? "),
                         kCaption, MsgIcon::Question, MsgButtons::YesNo) == MsgAnswer::Yes) {
                // The label and the copies go on the disk only once the formatting is over.
                if (!executaEspera(QStringLiteral("gnome-disks"), {}))
                    mensagem(this, QStringLiteral("Não foi possível abrir o utilitário de discos do sistema (gnome-disks)."),
                             kCaption, MsgIcon::Warning);
                montagem_ = bk::pontoMontagem(ini, letra_);
                if (!bk::midiaPresente(montagem_)) {
                    mensagem(this, QStringLiteral("O disco formatado não está disponível em %1.").arg(montagem_), kCaption,
                             MsgIcon::Warning);
                    continue;
                }
            }
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
        if (pronto && !bk::gravaDisco(montagem_, {conjunto, n, 0, {}}, &erro))
            mensagem(this, QStringLiteral("O novo disco não pôde ser identificado: %1").arg(erro), QStringLiteral("Erro"),
                     MsgIcon::Error);
        if (!ProfileFile(ini).writeStrings(kSecao,
                                           {{QStringLiteral("DiscoAtual"), QString::number(n)},
                                            {QStringLiteral("ArquivoAtual"), QStringLiteral("1")},
                                            {QStringLiteral("NumArquivos"), QStringLiteral("0")},
                                            {QStringLiteral("NumArquivosLau"), QStringLiteral("0")},
                                            {QStringLiteral("NumExamDisco"), QStringLiteral("0")},
                                            {QStringLiteral("NumLauDisco"), QStringLiteral("0")}},
                                           &erro))
            mensagem(this, QStringLiteral("Erro ao gravar %1: %2").arg(ini, erro), QStringLiteral("Erro"), MsgIcon::Error);
        return Preparo::Continua;
    }
}

bool TfrmBackup::executaEspera(const QString& programa, const QStringList& argumentos) {
    QProcess processo;
    processo.start(programa, argumentos);
    if (!processo.waitForStarted(10000)) return false;
    QEventLoop espera;
    connect(&processo, &QProcess::finished, &espera, &QEventLoop::quit);
    if (processo.state() != QProcess::NotRunning) espera.exec();
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

}  // namespace norvix

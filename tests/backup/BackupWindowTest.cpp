// The backup window with the real backup module, a real database and a medium folder: the
// summary, the lists and logs, the marks, the database copy, a new medium, the restore, the
// automatic-backup choice and the start-up check.
#include <gtest/gtest.h>

#include <QDirIterator>
#include <QFileInfo>
#include <dlfcn.h>
#include <sys/stat.h>
#include <QLabel>
#include <QTemporaryDir>
#include <filesystem>
#include <functional>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QComboBox>

#include "BackupTestSupport.h"
#include "backup/BackupMidia.h"
#include "backup/CopiaBanco.h"
#include "backup/UfrmBackup.h"
#include "config/SharedRecords.h"
#include "config/UBIniSettings.h"
#include "db/DbTestSupport.h"
#include "platform/ui/MessageSeam.h"
#include "platform/Permissoes.h"
#include "platform/ProfileFile.h"
#include "records/UDLaudos.h"

using norvix::TBIniSettings;
using norvix::TfrmBackup;

using namespace backup_test;
using norvix::ProfileFile;

namespace {

class JanelaBackup : public dbtest::DbTest {
protected:
    void SetUp() override {
        DbTest::SetUp();
        // The installation folder holds the open database under "Banco de Dados".
        dirQv = bancada.raiz.path() + "/qv";
        QDir().mkpath(dirQv);
        ASSERT_TRUE(QFile::link(dir.path(), dirQv + "/Banco de Dados"));
        escreve(dirQv + "/BackUp.ini", "[BACKUP]\r\nDiscoAtual=1\r\n");
        auto& p = norvix::paths();
        norvix::setRecordText(p.DirQV, dirQv);
        norvix::setRecordText(p.BancoDados, dir.path());
        norvix::setRecordText(p.Exames, bancada.exames());
        norvix::setRecordText(p.Laudos, bancada.laudos());
        norvix::setRecordText(p.Backup, qEnvironmentVariable("NORVIX_BIN_DIR") + "/Backup.so");
        medico = insertMedico("DR TESTE");
        paciente = insertPaciente("PACIENTE TESTE");
    }
    void TearDown() override {
        delete TfrmBackup::instance();
        norvix::resetSharedRecords();
        DbTest::TearDown();
    }
    int exame(int minuto, bool comArquivos = true) {
        const int codigo = insertExame(paciente, medico, QDate(2026, 5, 4), QTime(10, minuto));
        if (comArquivos) bancada.exame(paciente, codigo);
        return codigo;
    }
    int laudo(int exameOd, bool comArquivo = true) {
        norvix::DLaudos().InsertLaudos(paciente, exameOd, -1, "", QDate(2026, 5, 4), QTime(11, 0));
        const int codigo = dm->selectInt("SELECT MAX(Codigo) AS Codigo FROM Laudos", {}, "Codigo",
                                         norvix::TDMPrincipal::Close::Yes);
        if (comArquivo) escreve(QStringLiteral("%1/%2/%3l.txt").arg(bancada.laudos()).arg(paciente).arg(codigo), "laudo");
        return codigo;
    }
    QStringList marcas(const QString& tabela) {
        QStringList m;
        auto& q = dm->openQuery(dm->IBOperation, "SELECT Backup FROM " + tabela + " ORDER BY Codigo");
        for (; !q.eof(); q.next()) m << q.asString("Backup");
        q.close();
        return m;
    }
    TfrmBackup* janela(TBIniSettings* settings = nullptr) {
        auto* w = new TfrmBackup(settings);
        w->FormShow();
        return w;
    }
    template <typename T>
    static T* controle(QWidget* w, const char* nome) {
        T* c = w->findChild<T*>(nome);
        EXPECT_NE(c, nullptr) << nome;
        return c;
    }

    Bancada bancada;
    QString dirQv;
    int medico = 0, paciente = 0;
    norvix::RecordingMessageSeam seam;
};

}  // namespace

TEST_F(JanelaBackup, ResumoDoModuloComUnidadeEContagens) {
    TfrmBackup* w = janela();
    const QString resumo = controle<QPlainTextEdit>(w, "mmResumo")->toPlainText();
    EXPECT_TRUE(resumo.contains("Data do último backup:   01/01/2007"));
    EXPECT_TRUE(resumo.endsWith("Drive: E: (" + bancada.midia() + ")"));
    EXPECT_EQ(w->DataUltimoBackup(), QDate(2007, 1, 1));
    EXPECT_FALSE(controle<QPushButton>(w, "btnIniciarBkp")->isEnabled());  // nothing to back up

    exame(1);
    w->AtualizaResumo();
    EXPECT_EQ(controle<QLabel>(w, "lblNumExames")->text(), "1");
    EXPECT_TRUE(controle<QPushButton>(w, "btnIniciarBkp")->isEnabled());
}

TEST_F(JanelaBackup, BackupApagaOsAusentesMarcaOsCopiadosECopiaOBanco) {
    const int a = exame(1);
    const int b = exame(2, false);
    const int c = exame(3);
    QFile::remove(QStringLiteral("%1/%2/%3a.txt").arg(bancada.exames()).arg(paciente).arg(a));
    QFile::remove(QStringLiteral("%1/%2/%3m.txt").arg(bancada.exames()).arg(paciente).arg(a));
    laudo(a);
    const int semArquivo = laudo(c, false);
    Respondedor modulo;

    TfrmBackup* w = janela();
    controle<QPushButton>(w, "btnIniciarBkp")->click();
    // Afterwards an Enter or a Space must not start a restore.
    EXPECT_EQ(w->focusWidget(), controle<QPushButton>(w, "sbtFechar"));
    EXPECT_FALSE(controle<QPushButton>(w, "btnRestaurar")->autoDefault());
    ASSERT_FALSE(seam.texts().isEmpty());
    EXPECT_EQ(seam.texts().last(), "Backup dos Exames e Laudos concluído com êxito") << seam.texts().join("|").toStdString();
    EXPECT_EQ(le(bancada.programa() + "/LogBackupExame.txt"),
              QStringLiteral("Exame não encontrado: %1\\%2\r\n").arg(paciente).arg(b).toLatin1());
    EXPECT_EQ(le(bancada.programa() + "/LogBackupLaudo.txt"),
              QStringLiteral("Laudo não encontrado: %1\\%2l.txt\r\n").arg(paciente).arg(semArquivo).toLatin1());
    EXPECT_TRUE(controle<QLabel>(w, "lblAviso")->isVisibleTo(w));
    EXPECT_EQ(marcas("Exames"), QStringList({"Pelk0001", "Pelk0001"}));  // B deleted
    EXPECT_EQ(marcas("Laudos"), QStringList({"Pelk0001"}));
    EXPECT_EQ(controle<QLabel>(w, "lblNumExames")->text(), "0");

    const auto manifesto = norvix::backup::leManifesto(bancada.midia());
    EXPECT_TRUE(manifesto.contains("Banco de Dados/DATABASE.GDB"));
    EXPECT_TRUE(manifesto.contains("BackUp.ini"));
    EXPECT_TRUE(manifesto.contains(QStringLiteral("Exames/%1/%2d.txt").arg(paciente).arg(a)));
    EXPECT_EQ(norvix::backup::somaArquivo(bancada.midia() + "/Banco de Dados/DATABASE.GDB"),
              manifesto.value("Banco de Dados/DATABASE.GDB"));
}

TEST_F(JanelaBackup, DiscoCheioParaOBancoPedeOutroDiscoENaoRerrotulaOCheio) {
    exame(1);
    escreve(bancada.ini(), "[BACKUP]\r\nTipoBkp=zip\r\nDiscoAtual=2\r\n[UNIDADES]\r\nE=" + bancada.midia().toUtf8() + "\r\n");
    qputenv("NORVIX_BACKUP_CAPACIDADE", "100000");  // the exam fits, the database does not
    // The first OK comes with the full disk still in the drive; the second after the swap.
    int novos = 0;
    SeamComAcao acoes([&](const norvix::ShownMessage& m) {
        if (m.text.startsWith("Insira um NOVO disco") && ++novos == 2) {
            QDir().rename(bancada.midia(), bancada.raiz.path() + "/cheio");
            QDir().mkpath(bancada.midia());
        }
        return m.buttons == norvix::MsgButtons::YesNo ? norvix::MsgAnswer::No : norvix::MsgAnswer::Ok;
    });
    Respondedor modulo;
    janela()->btnIniciarBkpClick();
    ASSERT_GE(acoes.textos.size(), 4);
    EXPECT_EQ(acoes.textos[0], "Insira um NOVO disco no drive e pressione OK.");
    EXPECT_EQ(acoes.textos[1], "Este é o mesmo disco (Pelk0002), que está cheio. Troque-o por um disco NOVO.");
    EXPECT_TRUE(acoes.textos[3].startsWith("Será necessário um disco formatado"));
    const QString cheio = bancada.raiz.path() + "/cheio";
    EXPECT_EQ(norvix::backup::leDisco(cheio).numero, 2);  // not relabelled
    EXPECT_EQ(norvix::backup::leDisco(cheio).continua, 3);  // and it says the set goes on
    EXPECT_EQ(norvix::backup::leRotulo(bancada.midia()), "Pelk0003");
    EXPECT_EQ(norvix::backup::leDisco(bancada.midia()).numero, 3);
    EXPECT_TRUE(QFileInfo::exists(bancada.midia() + "/Banco de Dados/DATABASE.GDB"));
    const ProfileFile ini(bancada.ini());
    EXPECT_EQ(ini.readInteger("BACKUP", "DiscoAtual", 0), 3);
    EXPECT_EQ(ini.readInteger("BACKUP", "NumExamDisco", -1), 0);
    EXPECT_EQ(marcas("Exames"), QStringList({"Pelk0002"}));
}

TEST_F(JanelaBackup, RestauraArquivosEBancoEConfereOManifesto) {
    const int a = exame(1);
    Respondedor modulo;
    janela()->btnIniciarBkpClick();
    const QString arquivo = QStringLiteral("%1/%2/%3d.txt").arg(bancada.exames()).arg(paciente).arg(a);
    const QByteArray original = le(arquivo);
    QDir(bancada.exames()).removeRecursively();
    insertPaciente("DEPOIS DO BACKUP");
    ASSERT_EQ(count("SELECT COUNT(*) FROM Pacientes"), 2);

    // A database copy that differs from the manifest is refused, by name.
    QFile banco(bancada.midia() + "/Banco de Dados/DATABASE.GDB");
    const QByteArray bom = le(banco.fileName());
    escreve(banco.fileName(), bom.left(bom.size() - 1) + char(bom.back() ^ 1));
    seam.messages.clear();
    TfrmBackup::instance()->btnRestaurarClick();
    EXPECT_EQ(seam.messages.front().defaultButton, norvix::MsgAnswer::Cancel);  // the safe answer
    EXPECT_TRUE(seam.texts().last().contains("Banco de Dados/DATABASE.GDB")) << seam.texts().last().toStdString();
    EXPECT_EQ(count("SELECT COUNT(*) FROM Pacientes"), 2);
    EXPECT_FALSE(QFileInfo::exists(arquivo));  // no exam file came back without its database

    escreve(banco.fileName(), bom);
    QDir(bancada.exames()).removeRecursively();
    TfrmBackup::instance()->btnRestaurarClick();
    EXPECT_EQ(seam.texts().last(), "Restauração concluída com êxito");
    EXPECT_EQ(count("SELECT COUNT(*) FROM Pacientes"), 1);
    EXPECT_EQ(le(arquivo), original);
}

// Names and clinical texts stay out of the workstation's other accounts on the medium and
// after a restore, whatever modes the files had before.
TEST_F(JanelaBackup, CopiasERestauradosSemAcessoDeOutrasContas) {
    const mode_t antes = ::umask(0);
    norvix::aplicaMascaraDaClinica({});
    auto modo = [](const QString& caminho) {
        struct stat st {};
        return ::stat(QFile::encodeName(caminho).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
    };
    const int a = exame(1);
    laudo(a);
    const QString arquivo = QStringLiteral("%1/%2/%3d.txt").arg(bancada.exames()).arg(paciente).arg(a);
    QFile::setPermissions(arquivo, QFileDevice::Permissions(0x6644));  // as an older version left it
    Respondedor modulo;
    janela()->btnIniciarBkpClick();
    ASSERT_EQ(seam.texts().last(), "Backup dos Exames e Laudos concluído com êxito") << seam.texts().join("|").toStdString();
    int vistos = 0;
    for (QDirIterator it(bancada.midia(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
         it.hasNext(); ++vistos) {
        const QString caminho = it.next();
        EXPECT_EQ(modo(caminho), it.fileInfo().isDir() ? 0750 : 0640) << caminho.toStdString();
    }
    EXPECT_GE(vistos, 5);
    // The medium's folder and BackUp.ini, made 0755 and 0644 before the mask was the clinic's.
    EXPECT_EQ(modo(bancada.midia()), 0750);
    EXPECT_EQ(modo(bancada.ini()), 0640);

    QDir(bancada.exames()).removeRecursively();
    QDir().mkpath(bancada.exames());
    TfrmBackup::instance()->btnRestaurarClick();
    ASSERT_EQ(seam.texts().last(), "Restauração concluída com êxito");
    for (const QString& restaurado : {arquivo, QFileInfo(arquivo).path(), path})
        EXPECT_EQ(modo(restaurado), QFileInfo(restaurado).isDir() ? 0750 : 0640) << restaurado.toStdString();
    ::umask(antes);
}

// The files that hold a clinic's settings, as the program writes them: without access for other
// accounts (an older 0644 one closed), a group's rights kept, whatever the process's mask.
TEST(ConfiguracaoDaClinica, GravadaSemAcessoDeOutrasContas) {
    const struct { mode_t mascara; int antes, depois; } casos[] = {  // antes -1: no file yet
        {027, -1, 0640}, {027, 0644, 0640}, {027, 0664, 0660}, {007, -1, 0660}, {007, 0666, 0660}, {022, 0666, 0664}};
    QTemporaryDir pasta;
    const QString arquivo = pasta.filePath("Orvent.ini");
    const mode_t original = ::umask(022);
    for (const auto& c : casos)
        for (auto flush : {ProfileFile::Flush::ToDisk, ProfileFile::Flush::Later}) {
            SCOPED_TRACE(QStringLiteral("%1 %2").arg(c.mascara, 3, 8).arg(c.antes, 3, 8).toStdString());
            QFile::remove(arquivo);
            if (c.antes >= 0 && escreve(arquivo, "[BACKUP]\r\nAUTO=0\r\n"))
                ::chmod(QFile::encodeName(arquivo).constData(), mode_t(c.antes));
            ::umask(c.mascara);
            EXPECT_TRUE(ProfileFile(arquivo).writeStrings("BACKUP", {{"AUTO", "1"}}, nullptr, flush));
            ::umask(022);
            struct stat st {};
            EXPECT_EQ(::stat(QFile::encodeName(arquivo).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1, c.depois);
        }
    ::umask(original);
}

TEST_F(JanelaBackup, FecharGravaAEscolhaDoBackupAutomatico) {
    QTemporaryDir raiz;
    qputenv("NORVIX_ROOT", raiz.path().toUtf8());
    escreve(raiz.path() + "/OrventDuo/Orvent.ini", "[BACKUP]\r\nAUTO=1\r\nAUTO_OP1_1=5\r\nAUTO_OP1_2=0\r\nAUTO_OP2=200\r\n");
    TBIniSettings settings;
    ASSERT_TRUE(settings.LoadAll(3));
    TfrmBackup* w = janela(&settings);
    EXPECT_TRUE(controle<QRadioButton>(w, "rbtPeriodo")->isChecked());
    controle<QRadioButton>(w, "rbtExames")->setChecked(true);
    controle<QSpinBox>(w, "edtExames")->setValue(300);
    controle<QSpinBox>(w, "edtPeriodo")->setValue(40);  // beyond the range: held at 30
    controle<QComboBox>(w, "cbxUnidade")->setCurrentIndex(1);
    w->sbtFecharClick();
    const ProfileFile ini(raiz.path() + "/OrventDuo/Orvent.ini");
    EXPECT_EQ(ini.readString("BACKUP", "AUTO", {}), "2");
    EXPECT_EQ(ini.readString("BACKUP", "AUTO_OP1_1", {}), "30");
    EXPECT_EQ(ini.readString("BACKUP", "AUTO_OP1_2", {}), "1");
    EXPECT_EQ(ini.readString("BACKUP", "AUTO_OP2", {}), "300");
    EXPECT_EQ(norvix::infos().BackupExames, 300 % 256);  // the record's width
    QApplication::processEvents();
    EXPECT_EQ(controle<QSpinBox>(janela(&settings), "edtExames")->value(), 300);  // whole, from the file
    qunsetenv("NORVIX_ROOT");
}

TEST_F(JanelaBackup, VerificacaoAutomaticaPorDiasMesesEExames) {
    const QString oferta = "Backup automático inicializado... deseja continuar?";
    auto ultimo = [&](const QByteArray& data) {
        escreve(bancada.ini(), "[BACKUP]\r\nUltBkp=" + data + "\r\n[UNIDADES]\r\nE=" + bancada.midia().toUtf8() + "\r\n");
    };
    auto oferecido = [&](const QDate& hoje) {
        seam.messages.clear();
        seam.answers = {norvix::MsgAnswer::No};
        TfrmBackup::VerificaBackupAutomatico(nullptr, nullptr, hoje);
        QApplication::processEvents();
        return seam.texts().contains(oferta);
    };
    auto& i = norvix::infos();

    i.BackupAuto = 0;
    EXPECT_FALSE(oferecido(QDate(2030, 1, 1)));
    EXPECT_TRUE(seam.texts().isEmpty());

    // Days across a month end: 28 April to 3 May is five days.
    i.BackupAuto = 1;
    i.BackupUnidade = 0;
    i.BackupPeriodo = 5;
    ultimo("28/04/2026 18:00:00");
    EXPECT_FALSE(oferecido(QDate(2026, 5, 2)));
    EXPECT_TRUE(oferecido(QDate(2026, 5, 3)));

    // Calendar months: 31 December to 1 January is one month.
    i.BackupUnidade = 1;
    i.BackupPeriodo = 1;
    ultimo("31/12/2025 23:59:59");
    EXPECT_TRUE(oferecido(QDate(2026, 1, 1)));
    i.BackupPeriodo = 2;
    EXPECT_FALSE(oferecido(QDate(2026, 1, 31)));

    // A sixth line without a date: said, nothing offered.
    ultimo("nunca");
    EXPECT_FALSE(oferecido(QDate(2026, 1, 31)));
    EXPECT_TRUE(seam.texts().value(0).contains("data do último backup não foi encontrada"));

    // Exams waiting for a backup.
    exame(1);
    exame(2);
    i.BackupAuto = 2;
    i.BackupExames = 2;
    EXPECT_TRUE(oferecido(QDate(2026, 1, 1)));
    i.BackupExames = 3;
    EXPECT_FALSE(oferecido(QDate(2026, 1, 1)));
}

// ---- what must never lose a clinic's data ----------------------------------------------------

namespace {

// A backup made, whose database copy on the medium must survive what follows.
// Exam files copied before the failure may join the manifest; the database entry may not change.
QByteArray copiaNoMeio(const Bancada& b) {
    return norvix::backup::leManifesto(b.midia()).value("Banco de Dados/DATABASE.GDB");
}
void esperaIntacta(const Bancada& b, const QByteArray& boa) {
    EXPECT_FALSE(boa.isEmpty());
    EXPECT_EQ(norvix::backup::leManifesto(b.midia()).value("Banco de Dados/DATABASE.GDB"), boa);
    EXPECT_FALSE(norvix::backup::arquivoConferido(b.midia(), "Banco de Dados/DATABASE.GDB", boa).isEmpty());
}

}  // namespace

TEST_F(JanelaBackup, PastaDeExamesAusenteVaziaOuComMuitosFaltandoNaoApagaNada) {
    const QString pasta = bancada.exames();
    const std::pair<const char*, std::function<void()>> casos[] = {
        {"ausente", [&] { QDir(pasta).removeRecursively(); }},
        {"vazia", [&] { QDir(pasta).removeRecursively(); QDir().mkpath(pasta); }},
        {"um arquivo no lugar", [&] { QDir(pasta).removeRecursively(); escreve(pasta, "x"); }},
        {"seis exames sem arquivos", [&] { for (int m = 10; m < 16; ++m) exame(m, false); }},
    };
    for (int m = 0; m < 3; ++m) exame(m);
    Respondedor modulo;
    janela()->btnIniciarBkpClick();
    const QByteArray boa = copiaNoMeio(bancada);
    for (const auto& [caso, estraga] : casos) {
        SCOPED_TRACE(caso);
        exame(20 + count("SELECT COUNT(*) FROM Exames"));  // something new to back up
        estraga();
        const int exames = count("SELECT COUNT(*) FROM Exames");
        seam.messages.clear();
        TfrmBackup::instance()->btnIniciarBkpClick();
        ASSERT_FALSE(seam.messages.empty());
        EXPECT_TRUE(seam.texts().last().contains("nenhum registro foi excluído")) << seam.texts().last().toStdString();
        EXPECT_TRUE(seam.texts().last().startsWith(caso == std::string("seis exames sem arquivos")
                                                       ? "Os arquivos de 6 exames"
                                                       : "A pasta de exames"));
        EXPECT_EQ(count("SELECT COUNT(*) FROM Exames"), exames);
        esperaIntacta(bancada, boa);
        if (!QFileInfo(pasta).isDir()) QFile::remove(pasta);
        QDir().mkpath(pasta);
        dm->execProcedure("DELETE FROM Exames WHERE Backup = ''", {});
    }
}

TEST_F(JanelaBackup, NbackupQueFalhaMantemACopiaAnteriorNoDisco) {
    exame(1);
    Respondedor modulo;
    janela()->btnIniciarBkpClick();
    const QByteArray boa = copiaNoMeio(bancada);
    exame(2);
    insertPaciente("DEPOIS");
    FerramentaQueFalha nbackup("nbackup");
    seam.messages.clear();
    TfrmBackup::instance()->btnIniciarBkpClick();
    EXPECT_TRUE(seam.texts().last().contains("A cópia anterior no disco de backup foi mantida")) << seam.texts().last().toStdString();
    esperaIntacta(bancada, boa);
}

TEST_F(JanelaBackup, RestauracaoQueNaoPassaNaVerificacaoDevolveOBancoAnterior) {
    exame(1);
    Respondedor modulo;
    janela()->btnIniciarBkpClick();
    insertPaciente("DEPOIS DO BACKUP");
    // A copy that matches its manifest but is no database (as a copy damaged before it was
    // summed would be).
    const QString copia = bancada.midia() + "/Banco de Dados/DATABASE.GDB";
    escreve(copia, QByteArray(64 * 1024, 'x'));
    norvix::backup::gravaManifesto(bancada.midia(), {{"Banco de Dados/DATABASE.GDB", norvix::backup::somaArquivo(copia)}},
                                   nullptr);
    seam.messages.clear();
    TfrmBackup::instance()->btnRestaurarClick();
    EXPECT_TRUE(seam.texts().last().startsWith("O banco de dados restaurado (" + path + ") não passou na verificação"))
        << seam.texts().last().toStdString();
    EXPECT_TRUE(seam.texts().last().contains("O banco de dados anterior foi mantido"));
    EXPECT_EQ(count("SELECT COUNT(*) FROM Pacientes"), 2);  // the database of before, attached again
    for (const char* resto : {".anterior", ".restaura"}) EXPECT_FALSE(QFileInfo::exists(path + resto)) << resto;
    EXPECT_FALSE(QFileInfo::exists(dir.path() + "/restauracao.pendente"));
}

// A restore that cannot be whole changes nothing: the medium's database copy damaged, a copy
// that is no database (found only once in place), an exam's copy damaged. Every exam and report
// file, BackUp.ini and the records stay exactly as they were, with nothing left beside them.
TEST_F(JanelaBackup, RestauracaoRecusadaDeixaArquivosEBancoComoEstavam) {
    const int a = exame(1);
    laudo(a);
    Respondedor modulo;
    janela()->btnIniciarBkpClick();
    const QString mapa = QStringLiteral("%1/%2/%3m.txt").arg(bancada.exames()).arg(paciente).arg(a);
    const QByteArray mapaDoBackup = le(mapa);
    escreve(mapa, "processado de novo");
    exame(2);
    insertPaciente("DEPOIS DO BACKUP");
    QTemporaryDir guardada;
    std::filesystem::copy(bancada.midia().toStdString(), guardada.path().toStdString(), std::filesystem::copy_options::recursive);
    const QString exames = arvore(bancada.exames()), laudos = arvore(bancada.laudos());
    // The open database's own bytes change with every transaction: its folder by names.
    auto nomes = [](const QString& pasta) { return QDir(pasta).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot); };
    const QStringList banco = nomes(dir.path());
    const QByteArray ini = le(bancada.ini());
    const QString copia = bancada.midia() + "/Banco de Dados/DATABASE.GDB";
    const QString copiaExame = bancada.midia() + QStringLiteral("/Exames/%1/%2m.txt").arg(paciente).arg(a);
    const struct {
        const char* caso;
        std::function<void()> estraga;
        const char* mensagem;
    } casos[] = {
        {"cópia do banco estragada", [&] { escreve(copia, le(copia).left(4096)); }, "Banco de Dados/DATABASE.GDB"},
        {"cópia que não é um banco",
         [&] {
             escreve(copia, QByteArray(64 * 1024, 'x'));
             norvix::backup::gravaManifesto(bancada.midia(), {{"Banco de Dados/DATABASE.GDB", norvix::backup::somaArquivo(copia)}},
                                            nullptr);
         },
         "O banco de dados anterior foi mantido, com os exames e laudos anteriores."},
        {"cópia de um exame estragada", [&] { escreve(copiaExame, "estragado"); }, "nada foi restaurado"},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.caso);
        c.estraga();
        seam.messages.clear();
        modulo.textos.clear();
        TfrmBackup::instance()->btnRestaurarClick();
        const QString tudo = (seam.texts() + modulo.textos).join(" | ");
        EXPECT_TRUE(tudo.contains(c.mensagem)) << tudo.toStdString();
        EXPECT_FALSE(tudo.contains("concluída com êxito"));
        EXPECT_EQ(arvore(bancada.exames()), exames);
        EXPECT_EQ(arvore(bancada.laudos()), laudos);
        EXPECT_EQ(nomes(dir.path()), banco);
        EXPECT_EQ(le(bancada.ini()), ini);
        EXPECT_EQ(count("SELECT COUNT(*) FROM Pacientes"), 2);
        std::filesystem::remove_all(bancada.midia().toStdString());  // the medium as it was, for the next case
        std::filesystem::copy(guardada.path().toStdString(), bancada.midia().toStdString(), std::filesystem::copy_options::recursive);
    }
    // The whole medium restores: the map of the backup's day over the one processed again.
    seam.messages.clear();
    TfrmBackup::instance()->btnRestaurarClick();
    EXPECT_EQ(seam.texts().last(), "Restauração concluída com êxito");
    EXPECT_EQ(le(mapa), mapaDoBackup);
    EXPECT_EQ(count("SELECT COUNT(*) FROM Pacientes"), 1);
    EXPECT_EQ(nomes(dir.path()), banco);  // nothing left beside the database
}

TEST_F(JanelaBackup, RestauracaoInterrompidaEDesfeitaNaPartida) {
    // The state a crash leaves between putting the current files aside and confirming.
    escreve(path + ".restaura", "um banco restaurado pela metade");
    escreve(bancada.ini() + ".restaura", "[BACKUP]\r\nDiscoAtual=9\r\n");
    const QByteArray ini = le(bancada.ini());
    norvix::TTrocaArquivos troca(norvix::diarioRestauracao(dir.path()));
    dm->PDesconectionDataBase();
    QString erro;
    ASSERT_TRUE(troca.troca({path, bancada.ini()}, &erro)) << erro.toStdString();
    // ... and the program is killed here. At the next start:
    QString relato;
    EXPECT_TRUE(norvix::TTrocaArquivos::recupera(norvix::diarioRestauracao(dir.path()), &relato));
    EXPECT_TRUE(relato.startsWith("Uma restauração interrompida foi desfeita")) << relato.toStdString();
    EXPECT_EQ(le(bancada.ini()), ini);
    dm->PConnectDataBase();
    EXPECT_EQ(count("SELECT COUNT(*) FROM Pacientes"), 1);
    EXPECT_FALSE(norvix::TTrocaArquivos::recupera(norvix::diarioRestauracao(dir.path()), &relato));  // nothing pending
    // Killed after the journal, before anything was put aside: the current files stay.
    dm->PDesconectionDataBase();
    escreve(path + ".restaura", "um banco restaurado pela metade");
    escreve(norvix::diarioRestauracao(dir.path()), "1\t" + path.toUtf8() + "\n0\t" + dir.path().toUtf8() + "/NOVO.GDB\n");
    EXPECT_TRUE(norvix::TTrocaArquivos::recupera(norvix::diarioRestauracao(dir.path()), &relato));
    EXPECT_FALSE(QFileInfo::exists(path + ".restaura"));
    dm->PConnectDataBase();
    EXPECT_EQ(count("SELECT COUNT(*) FROM Pacientes"), 1);
}

TEST_F(JanelaBackup, ConjuntoDeDoisDiscosRestauraDeTodosComOBancoMaisNovo) {
    // Each disk is a folder; the one in the drive sits at the medium's path.
    QString noDrive = "disco1";
    auto poe = [&](const QString& disco) {
        QDir().rename(bancada.midia(), bancada.raiz.path() + "/" + noDrive);
        QDir().rename(bancada.raiz.path() + "/" + disco, bancada.midia());
        noDrive = disco;
    };
    // Disk 1 takes the first backup; the second fills it and goes on to disk 2.
    exame(1);
    exame(2);
    {  // answers only while backing up
        Respondedor mudaDisco([&](const QString& texto) {
            if (texto.contains("Insira o disco número 2")) {
                QDir().mkpath(bancada.raiz.path() + "/disco2");
                poe("disco2");
                qunsetenv("NORVIX_BACKUP_CAPACIDADE");  // the new disk has room for the rest and the database
            }
            return QMessageBox::Ok;
        });
        janela()->btnIniciarBkpClick();
        const qint64 usado = QFileInfo(bancada.midia() + "/Banco de Dados/DATABASE.GDB").size();
        qputenv("NORVIX_BACKUP_CAPACIDADE", QByteArray::number(usado + 12000));  // room for a few exams more
        for (int m = 3; m < 10; ++m) exame(m);
        insertPaciente("SÓ NO BANCO MAIS NOVO");
        TfrmBackup::instance()->btnIniciarBkpClick();
        qunsetenv("NORVIX_BACKUP_CAPACIDADE");
    }
    ASSERT_FALSE(seam.texts().join("|").contains("Insira um NOVO disco"));
    ASSERT_EQ(noDrive, "disco2");
    ASSERT_EQ(norvix::backup::leDisco(bancada.raiz.path() + "/disco1").continua, 2);
    ASSERT_EQ(norvix::backup::leDisco(bancada.midia()).numero, 2);
    // A disk of another set.
    const QString outro = bancada.raiz.path() + "/outro";
    QDir().mkpath(outro);
    norvix::backup::gravaDisco(outro, {"outro-conjunto", 1, 0, "2020-01-01T00:00:00"}, nullptr);
    norvix::backup::gravaManifesto(outro, {{"Exames/1/1a.txt", QByteArray(64, '0')}}, nullptr);

    QDir(bancada.exames()).removeRecursively();
    poe("disco1");  // the wrong disk in the drive when the restore starts
    int troca1 = 0;
    Respondedor troca([&](const QString& texto) {
        if (texto.contains("não é o último")) poe("disco2");
        if (texto.contains("disco 1 de 2") && !troca1++) poe("outro");
        if (texto.contains("pertence a outro backup")) poe("disco1");
        if (texto.contains("de novo o último")) poe("disco2");
        return QMessageBox::Ok;
    });
    seam.messages.clear();
    TfrmBackup::instance()->btnRestaurarClick();
    const QString pedidos = troca.textos.join(" | ");
    EXPECT_EQ(seam.texts().last(), "Restauração concluída com êxito") << pedidos.toStdString();
    for (const char* pedido : {"Este disco (Pelk0001) não é o último do backup", "Este disco pertence a outro backup",
                               "Insira de novo o último disco"})
        EXPECT_TRUE(pedidos.contains(pedido)) << pedido;
    EXPECT_EQ(count("SELECT COUNT(*) FROM Pacientes WHERE Nome = 'SÓ NO BANCO MAIS NOVO'"), 1);
    EXPECT_EQ(QDir(bancada.exames() + "/" + QString::number(paciente)).entryList({"*m.txt"}).size(), 9);
}

TEST_F(JanelaBackup, FormatacaoDoDiscoNovoTerminaAntesDoRotulo) {
    exame(1);
    escreve(bancada.ini(), "[BACKUP]\r\nTipoBkp=zip\r\nDiscoAtual=1\r\n[UNIDADES]\r\nE=" + bancada.midia().toUtf8() + "\r\n");
    qputenv("NORVIX_BACKUP_CAPACIDADE", "100000");
    // A disk tool that takes its time and empties the disk, as formatting does.
    QTemporaryDir ferramentas;
    escreve(ferramentas.path() + "/gnome-disks",
            "#!/bin/sh\nsleep 0.5\nrm -rf '" + bancada.midia().toUtf8() + "'/* '" + bancada.midia().toUtf8() + "'/.[!.]*\n");
    QFile::setPermissions(ferramentas.path() + "/gnome-disks", QFile::ReadOwner | QFile::ExeOwner);
    const QByteArray caminho = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(ferramentas.path()) + ':' + caminho);
    int novos = 0;
    SeamComAcao acoes([&](const norvix::ShownMessage& m) {
        if (m.text.startsWith("Insira um NOVO disco") && ++novos == 1) {
            QDir().rename(bancada.midia(), bancada.raiz.path() + "/cheio");
            QDir().mkpath(bancada.midia());
        }
        return m.buttons == norvix::MsgButtons::YesNo ? norvix::MsgAnswer::Yes : norvix::MsgAnswer::Ok;
    });
    Respondedor modulo;
    janela()->btnIniciarBkpClick();
    qputenv("PATH", caminho);
    EXPECT_EQ(norvix::backup::leRotulo(bancada.midia()), "Pelk0002");
    EXPECT_EQ(norvix::backup::leDisco(bancada.midia()).numero, 2);
    EXPECT_TRUE(QFileInfo::exists(bancada.midia() + "/Banco de Dados/DATABASE.GDB"));
}

namespace {

// A storage fault (tests/support/falhas.cpp) on the files whose path contains `em`, for the
// life of the object.
struct Falha {
    Falha(const char* modo, const QString& em) {
        qputenv("NORVIX_FALHA", modo);
        qputenv("NORVIX_FALHA_EM", em.toUtf8());
    }
    ~Falha() {
        qunsetenv("NORVIX_FALHA");
        qunsetenv("NORVIX_FALHA_EM");
    }
};

// Every file under `pasta` with its sum: what must not change.
QMap<QString, QByteArray> impressao(const QString& pasta) {
    QMap<QString, QByteArray> m;
    QDirIterator it(pasta, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString f = it.next();
        m.insert(QDir(pasta).relativeFilePath(f), norvix::backup::somaArquivo(f));
    }
    return m;
}

const char* const kFalhas[] = {"curta", "enospc", "eio", "byte"};

// The operator takes the default answer, but gives up when the same question comes again (a
// full disk that is not swapped, a disk that does not read); `vistas` is what was asked so far.
Respondedor::Acao desisteNaSegunda(QSet<QString>& vistas) {
    return [&vistas](const QString& texto) {
        return vistas.contains(texto) ? QMessageBox::Cancel : (vistas.insert(texto), QMessageBox::NoButton);
    };
}

}  // namespace

TEST_F(JanelaBackup, FalhasDoDiscoDeBackupFalhamComMensagemENaoTocamNaUltimaCopiaBoa) {
    ASSERT_TRUE(dlsym(RTLD_DEFAULT, "norvix_falhas_carregadas"));
    for (int m = 0; m < 3; ++m) bancada.exame(paciente, exame(m, false), 40000);
    QSet<QString> vistas;
    Respondedor modulo(desisteNaSegunda(vistas));
    janela()->btnIniciarBkpClick();
    const QByteArray boa = copiaNoMeio(bancada);
    for (const char* falha : kFalhas) {
        SCOPED_TRACE(falha);
        bancada.exame(paciente, exame(10 + count("SELECT COUNT(*) FROM Exames"), false), 40000);
        insertPaciente(QString("ANTES DA FALHA ") + falha);
        const int pacientes = count("SELECT COUNT(*) FROM Pacientes");
        const auto exames = impressao(bancada.exames());
        seam.messages.clear();
        modulo.textos.clear();
        vistas.clear();
        {
            Falha f(falha, bancada.midia());
            TfrmBackup::instance()->btnIniciarBkpClick();
        }
        const QString tudo = (seam.texts() + modulo.textos).join(" | ");
        EXPECT_FALSE(tudo.contains("concluído com êxito")) << tudo.toStdString();
        EXPECT_TRUE(tudo.contains("Erro ao") || tudo.contains("não foram gravados corretamente") ||
                    tudo.contains("está cheio") || tudo.contains("não pode ser lido"))
            << tudo.toStdString();
        EXPECT_EQ(count("SELECT COUNT(*) FROM Pacientes"), pacientes);
        EXPECT_EQ(impressao(bancada.exames()), exames);
        esperaIntacta(bancada, boa);
        // An exam is marked only when its copies on the medium read back right.
        const auto manifesto = norvix::backup::leManifesto(bancada.midia());
        auto& q = dm->openQuery(dm->IBOperation, "SELECT Codigo FROM Exames WHERE Backup <> ''");
        QList<int> marcados;
        for (; !q.eof(); q.next()) marcados << q.asInt("Codigo");
        q.close();
        for (int codigo : marcados)
            for (char letra : {'a', 'd', 'm'}) {
                const QString nome = QStringLiteral("Exames/%1/%2%3.txt").arg(paciente).arg(codigo).arg(letra);
                EXPECT_FALSE(norvix::backup::arquivoConferido(bancada.midia(), nome, manifesto.value(nome)).isEmpty())
                    << nome.toStdString();
            }
    }
}

TEST_F(JanelaBackup, FalhasNaRestauracaoDevolvemOBancoAnteriorComMensagem) {
    ASSERT_TRUE(dlsym(RTLD_DEFAULT, "norvix_falhas_carregadas"));
    for (int m = 0; m < 3; ++m) exame(m);
    QSet<QString> vistas;
    Respondedor modulo(desisteNaSegunda(vistas));
    janela()->btnIniciarBkpClick();
    const QByteArray boa = copiaNoMeio(bancada);
    insertPaciente("DEPOIS DO BACKUP");
    const int pacientes = count("SELECT COUNT(*) FROM Pacientes");
    const auto exames = impressao(bancada.exames());
    for (const char* falha : kFalhas) {
        SCOPED_TRACE(falha);
        seam.messages.clear();
        modulo.textos.clear();
        vistas.clear();
        {
            // Writes fail on the restored database beside the live one; reads fail on the medium.
            Falha f(falha, std::string(falha) == "eio" ? bancada.midia() : QStringLiteral("DATABASE.GDB.restaura"));
            TfrmBackup::instance()->btnRestaurarClick();
        }
        const QString tudo = (seam.texts() + modulo.textos).join(" | ");
        EXPECT_FALSE(tudo.contains("concluída com êxito")) << tudo.toStdString();
        EXPECT_TRUE(tudo.contains("nada foi restaurado", Qt::CaseInsensitive) || tudo.contains("foi mantido") ||
                    tudo.contains("não pode ser lido"))
            << tudo.toStdString();
        EXPECT_EQ(count("SELECT COUNT(*) FROM Pacientes"), pacientes);
        EXPECT_EQ(impressao(bancada.exames()), exames);
        for (const char* resto : {".anterior", ".restaura"}) EXPECT_FALSE(QFileInfo::exists(path + resto)) << resto;
        esperaIntacta(bancada, boa);
    }
}

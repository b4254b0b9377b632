// A backup and a restore killed (SIGKILL, with the tools they started) at random moments, a few
// hundred times each, on a clinic of a few dozen exams. After each kill the next start must find
// a database that opens and holds the records as they were before or after the operation, no
// exam without its files, and on the medium a last good copy that can be restored.
#include <gtest/gtest.h>

#include <QDirIterator>
#include <QElapsedTimer>
#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <csignal>
#include <filesystem>
#include <random>
#include <unistd.h>

#include "BackupTestSupport.h"
#include "backup/BackupMidia.h"
#include "backup/CopiaBanco.h"
#include "records/UfrmDataModule.h"

using namespace backup_test;
using norvix::TDMPrincipal;

namespace {

const QString kPrograma = qEnvironmentVariable("NORVIX_BIN_DIR") + "/backup_queda";

int quedas() {
    const int n = qEnvironmentVariableIntValue("NORVIX_QUEDAS");
    return n > 0 ? n : 200;
}

// The helper in a process group of its own, so that a kill takes the tools it started too (as
// a power cut would).
class Execucao {
public:
    Execucao(const QString& acao, const QString& raiz, const QStringList& mais = {},
             const QList<std::pair<QString, QString>>& ambienteExtra = {}) {
        p_.setProgram(kPrograma);
        p_.setArguments(QStringList{acao, raiz} + mais);
        p_.setStandardOutputFile(QProcess::nullDevice());
        p_.setStandardErrorFile(QProcess::nullDevice());
        p_.setChildProcessModifier([] { ::setpgid(0, 0); });
        // Each run its own engine lock folder: a run killed while holding the engine's shared
        // mutex leaves it held, and the next run in that folder would wait on it for ever.
        static int runs = 0;
        const QString locks = qEnvironmentVariable("FIREBIRD_LOCK") + QStringLiteral("/%1").arg(++runs);
        QDir().mkpath(locks);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("FIREBIRD_LOCK"), locks);
        for (const auto& [nome, valor] : ambienteExtra) env.insert(nome, valor);
        p_.setProcessEnvironment(env);
        p_.start();
        p_.waitForStarted();
    }
    int espera() {
        p_.waitForFinished(300000);
        return p_.exitStatus() == QProcess::NormalExit ? p_.exitCode() : -1;
    }
    void mata() {
        if (p_.state() != QProcess::NotRunning) ::kill(-pid_t(p_.processId()), SIGKILL);
        p_.waitForFinished(30000);
    }

private:
    QProcess p_;
};

int executa(const QString& acao, const QString& raiz, const QStringList& mais = {}) {
    return Execucao(acao, raiz, mais).espera();
}

void copia(const QString& de, const QString& para) {
    std::filesystem::remove_all(para.toStdString());
    std::filesystem::copy(de.toStdString(), para.toStdString(),
                          std::filesystem::copy_options::recursive | std::filesystem::copy_options::copy_symlinks);
}

// The records as the program sees them at its next start, after the start-up recovery; files
// of exams and reports that the records name but the folders lack are listed in `faltam`.
QString registros(const QString& raiz, QStringList* faltam) {
    qputenv("NORVIX_BACKUP_DIR", QFile::encodeName(raiz + "/qv"));
    norvix::recuperaInstalacao(raiz + "/qv/Banco de Dados", {raiz + "/Exames", raiz + "/Laudos"});
    TDMPrincipal dm;
    QString motivo;
    // A tool the killed run started (nbackup) may hold the file a moment longer than the run.
    bool aberto = false;
    for (int k = 0; k < 5 && !(aberto = dm.PSetDataBaseName(raiz + "/qv/Banco de Dados/DATABASE.GDB", &motivo)); ++k)
        ::usleep(300000);
    if (!aberto) return "<o banco de dados não abre: " + motivo + ">";
    QString texto;
    auto lista = [&](const QString& sql, const QStringList& colunas, auto&& confere) {
        auto& q = dm.openQuery(dm.IBOperation, sql);
        for (; !q.eof(); q.next()) {
            QStringList campos;
            for (const QString& c : colunas) campos << q.asString(c);
            texto += campos.join('|') + '\n';
            confere(campos);
        }
        q.close();
    };
    lista("SELECT Codigo, Nome, TotalExames FROM Pacientes ORDER BY Codigo", {"Codigo", "Nome", "TotalExames"},
          [](const QStringList&) {});
    lista("SELECT Codigo, CodPaciente, Backup FROM Exames ORDER BY Codigo", {"Codigo", "CodPaciente", "Backup"},
          [&](const QStringList& e) {
              for (const char* letra : {"a", "d", "m"}) {
                  const QString f = QStringLiteral("%1/Exames/%2/%3%4.txt").arg(raiz, e[1], e[0], letra);
                  if (!QFileInfo::exists(f)) *faltam << f;
              }
          });
    lista("SELECT Codigo, CodPaciente, Backup FROM Laudos ORDER BY Codigo", {"Codigo", "CodPaciente", "Backup"},
          [&](const QStringList& l) {
              const QString f = QStringLiteral("%1/Laudos/%2/%3l.txt").arg(raiz, l[1], l[0]);
              if (!QFileInfo::exists(f)) *faltam << f;
          });
    return texto;
}

// Whether the medium still holds a restorable last good copy: its manifest reads, every entry
// has a copy that matches it (under its name or the name of a copy being replaced), and the
// database copy opens with every table readable. Empty when so, else what is wrong.
QString midiaRestauravel(const QString& raiz) {
    const QString midia = raiz + "/midia";
    QMap<QString, QByteArray> manifesto;
    QString erro;
    if (!norvix::backup::leManifesto(midia, &manifesto, &erro)) return erro;
    if (!manifesto.contains("Banco de Dados/DATABASE.GDB")) return "o manifesto não tem a cópia do banco de dados";
    for (auto it = manifesto.cbegin(); it != manifesto.cend(); ++it)
        if (norvix::backup::arquivoConferido(midia, it.key(), it.value()).isEmpty()) return it.key() + " não confere";
    QTemporaryDir pasta;
    const QString copia = pasta.path() + "/DATABASE.GDB";
    QFile::copy(norvix::backup::arquivoConferido(midia, "Banco de Dados/DATABASE.GDB",
                                                 manifesto.value("Banco de Dados/DATABASE.GDB")),
                copia);
    QFile::setPermissions(copia, QFile::ReadOwner | QFile::WriteOwner);
    TDMPrincipal dm;
    if (!dm.PSetDataBaseName(copia)) return "a cópia do banco de dados não abre";
    try {
        for (const char* tabela : {"PACIENTES", "EXAMES", "LAUDOS"})
            dm.selectInt(QStringLiteral("SELECT COUNT(*) FROM %1").arg(tabela), {}, "COUNT", TDMPrincipal::Close::Yes);
    } catch (const norvix::Error& e) {
        return "a cópia do banco de dados não se lê: " + e.message();
    }
    return {};
}

// The records and every file of the exams and reports folders: a kill must leave the one as
// it was before with the other, or both as after.
// With ini, BackUp.ini's content too (a restore brings it back; a backup writes the time in it).
// Of the installation's folder the names: nothing may be left beside the database.
QString estado(const QString& raiz, QStringList* faltam, bool ini = false) {
    const QString banco = registros(raiz, faltam);  // first: the start-up recovery runs in it
    QStringList qv;
    for (QDirIterator it(raiz + "/qv", QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
         it.hasNext();)
        // The engine's own file of a backup lock that a kill left held: the next backup ends it.
        if (const QString nome = QDir(raiz).relativeFilePath(it.next()); !nome.endsWith(".delta")) qv << nome;
    qv.sort();
    return banco + "--\n" + arvore(raiz + "/Exames") + "\n--\n" + arvore(raiz + "/Laudos") + "\n--\n" +
           qv.join('\n') + (ini ? "\n--\n" + QString::fromUtf8(le(raiz + "/qv/BackUp.ini")) : QString());
}

struct Resultado {
    int antes = 0, depois = 0;
};

// Whether the state left is the one before or the one after (counted), else a failure.
void confere(const QString& raiz, const QString& antes, const QString& depois, Resultado* r, bool ini) {
    QStringList faltam;
    const QString agora = estado(raiz, &faltam, ini);
    if (agora == antes) ++r->antes;
    else if (agora == depois) ++r->depois;
    else {  // what is there that neither had: what was left half-way
        QStringList a = agora.split('\n');
        a.removeIf([&](const QString& l) { return antes.contains(l) || depois.contains(l); });
        ADD_FAILURE() << "nem o estado de antes nem o de depois:\n" << a.mid(0, 20).join('\n').left(3000).toStdString();
    }
    EXPECT_TRUE(faltam.isEmpty()) << faltam.join(", ").toStdString();
    const QString midia = midiaRestauravel(raiz);
    EXPECT_TRUE(midia.isEmpty()) << midia.toStdString();
}

// Runs `acao` on copies of `inicio`, killed by the fault layer just before one of its renames
// (the steps by which files take their places), for a spread of them over the whole run and
// every one of the last ones (the journal, the swap's end, the confirmation).
Resultado quedasNasRenomeacoes(const QString& acao, const QString& inicio, const QString& raiz, const QString& antes,
                               const QString& depois, QTemporaryDir& tmp) {
    Resultado r;
    copia(inicio, raiz);
    const QString contagem = tmp.path() + "/renomeacoes";
    EXPECT_EQ(Execucao(acao, raiz, {}, {{"NORVIX_CONTA_RENOMEACOES", contagem}}).espera(), 0);
    const int total = le(contagem).trimmed().toInt();
    EXPECT_GT(total, 10);
    const int passo = std::max(1, total / std::max(1, quedas() / 10)), ultimas = std::max(1, total - 20);
    for (int n = 1; n <= total; n = n < ultimas ? std::min(n + passo, ultimas) : n + 1) {
        copia(inicio, raiz);
        const int fim = Execucao(acao, raiz, {}, {{"NORVIX_QUEDA_RENOMEACAO", QString::number(n)}}).espera();
        SCOPED_TRACE(QStringLiteral("%1 morto antes da renomeação %2 de %3").arg(acao).arg(n).arg(total).toStdString());
        EXPECT_EQ(fim, -1);  // killed, not ended
        confere(raiz, antes, depois, &r, true);
        if (::testing::Test::HasFailure()) break;
    }
    return r;
}

// Runs `acao` on copies of `inicio`, killed at random moments within `duracao`, `n` times;
// checks each state left against `antes` and `depois`. The last state left stays in `raiz`.
Resultado quedasDe(const QString& acao, const QString& inicio, const QString& raiz, const QString& antes,
                   const QString& depois, qint64 duracao, int n, std::mt19937& sorte) {
    Resultado r;
    std::uniform_int_distribution<qint64> momento(0, duracao);
    for (int k = 0; k < n; ++k) {
        copia(inicio, raiz);
        const qint64 ms = momento(sorte);
        {
            Execucao e(acao, raiz);
            ::usleep(useconds_t(ms * 1000));
            e.mata();
        }
        SCOPED_TRACE(QStringLiteral("%1 morto após %2 ms (queda %3)").arg(acao).arg(ms).arg(k).toStdString());
        confere(raiz, antes, depois, &r, acao == "restaura");
        if (::testing::Test::HasFailure()) break;
    }
    return r;
}

TEST(QuedaDoBackup, MortoEmQualquerMomentoDeixaAntesOuDepoisEUmaCopiaBoa) {
    ASSERT_TRUE(QFileInfo(kPrograma).isExecutable()) << kPrograma.toStdString();
    QTemporaryDir tmp;
    const QString raiz = tmp.path() + "/clinica", inicio = tmp.path() + "/inicio";
    std::mt19937 sorte(20261210);
    // The engine's lock files of this test alone: a program killed inside the engine's shared
    // state could otherwise stall every later user of the machine's common lock folder.
    ASSERT_TRUE(QDir().mkpath(tmp.path() + "/firebird"));
    qputenv("FIREBIRD_LOCK", QFile::encodeName(tmp.path() + "/firebird"));

    // A clinic of 36 exams backed up once (the last good copy), then a day's work.
    ASSERT_EQ(executa("prepara", raiz, {"36"}), 0);
    ASSERT_EQ(executa("backup", raiz), 0);
    ASSERT_EQ(executa("muda", raiz, {"NOVO"}), 0);
    copia(raiz, inicio);
    QStringList faltam;
    const QString antes = estado(inicio, &faltam);
    QElapsedTimer relogio;
    relogio.start();
    ASSERT_EQ(executa("backup", raiz), 0);
    const qint64 duracao = relogio.elapsed();
    const QString depois = estado(raiz, &faltam);
    ASSERT_NE(antes, depois);
    ASSERT_TRUE(faltam.isEmpty());

    const Resultado b = quedasDe("backup", inicio, raiz, antes, depois, duracao, quedas(), sorte);
    std::printf("backup: %d quedas em até %lld ms; %d deixaram os registros de antes, %d os de depois\n", quedas(),
                static_cast<long long>(duracao), b.antes, b.depois);
    ASSERT_FALSE(HasFailure());
    // After the last kill the program backs up again and restores from what it made.
    EXPECT_EQ(executa("backup", raiz), 0);
    EXPECT_EQ(executa("restaura", raiz), 0);
    EXPECT_EQ(estado(raiz, &faltam), depois);

    // The restore: the medium holds the day's backup; more work came after it.
    copia(inicio, raiz);
    ASSERT_EQ(executa("backup", raiz), 0);
    const QString mapa = QDirIterator(raiz + "/Exames", {"*m.txt"}, QDir::Files, QDirIterator::Subdirectories).next();
    const QByteArray mapaDoBackup = le(mapa);
    ASSERT_EQ(executa("muda", raiz, {"DEPOIS DO BACKUP"}), 0);
    ASSERT_EQ(executa("reprocessa", raiz), 0);
    copia(raiz, inicio);
    const QString antesR = estado(inicio, &faltam, true);
    relogio.restart();
    ASSERT_EQ(executa("restaura", raiz), 0);
    const qint64 duracaoR = relogio.elapsed();
    const QString depoisR = estado(raiz, &faltam, true);
    ASSERT_EQ(registros(raiz, &faltam), depois.left(depois.indexOf("--\n")));  // the records of the backup
    ASSERT_EQ(le(mapa), mapaDoBackup);  // and its files, over the ones processed again
    ASSERT_NE(antesR, depoisR);
    const Resultado r = quedasDe("restaura", inicio, raiz, antesR, depoisR, duracaoR, quedas(), sorte);
    std::printf("restauração: %d quedas em até %lld ms; %d deixaram o estado de antes, %d o de depois\n", quedas(),
                static_cast<long long>(duracaoR), r.antes, r.depois);
    ASSERT_FALSE(HasFailure());
    const Resultado p = quedasNasRenomeacoes("restaura", inicio, raiz, antesR, depoisR, tmp);
    std::printf("restauração morta antes de uma das suas renomeações: %d vezes o estado de antes, %d o de depois\n", p.antes,
                p.depois);
    ASSERT_FALSE(HasFailure());
    EXPECT_GT(p.antes, 0);  // (the last rename is the journal's mark of done: no kill before one leaves "after")
    EXPECT_EQ(executa("restaura", raiz), 0);
    EXPECT_EQ(estado(raiz, &faltam, true), depoisR);
    EXPECT_TRUE(faltam.isEmpty());
}

}  // namespace

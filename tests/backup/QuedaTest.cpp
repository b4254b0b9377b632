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
    Execucao(const QString& acao, const QString& raiz, const QStringList& mais = {}) {
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
    norvix::recuperaInstalacao(raiz + "/qv/Banco de Dados");
    TDMPrincipal dm;
    QString motivo;
    if (!dm.PSetDataBaseName(raiz + "/qv/Banco de Dados/DATABASE.GDB", &motivo))
        return "<o banco de dados não abre: " + motivo + ">";
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

struct Resultado {
    int antes = 0, depois = 0;
};

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
        QStringList faltam;
        const QString agora = registros(raiz, &faltam);
        SCOPED_TRACE(QStringLiteral("%1 morto após %2 ms (queda %3)").arg(acao).arg(ms).arg(k).toStdString());
        if (agora == antes) ++r.antes;
        else if (agora == depois) ++r.depois;
        else ADD_FAILURE() << "registros nem de antes nem de depois:\n" << agora.toStdString();
        EXPECT_TRUE(faltam.isEmpty()) << faltam.join(", ").toStdString();
        const QString midia = midiaRestauravel(raiz);
        EXPECT_TRUE(midia.isEmpty()) << midia.toStdString();
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
    const QString antes = registros(inicio, &faltam);
    QElapsedTimer relogio;
    relogio.start();
    ASSERT_EQ(executa("backup", raiz), 0);
    const qint64 duracao = relogio.elapsed();
    const QString depois = registros(raiz, &faltam);
    ASSERT_NE(antes, depois);
    ASSERT_TRUE(faltam.isEmpty());

    const Resultado b = quedasDe("backup", inicio, raiz, antes, depois, duracao, quedas(), sorte);
    std::printf("backup: %d quedas em até %lld ms; %d deixaram os registros de antes, %d os de depois\n", quedas(),
                static_cast<long long>(duracao), b.antes, b.depois);
    ASSERT_FALSE(HasFailure());
    // After the last kill the program backs up again and restores from what it made.
    EXPECT_EQ(executa("backup", raiz), 0);
    EXPECT_EQ(executa("restaura", raiz), 0);
    EXPECT_EQ(registros(raiz, &faltam), depois);

    // The restore: the medium holds the day's backup; more work came after it.
    copia(inicio, raiz);
    ASSERT_EQ(executa("backup", raiz), 0);
    ASSERT_EQ(executa("muda", raiz, {"DEPOIS DO BACKUP"}), 0);
    copia(raiz, inicio);
    const QString antesR = registros(inicio, &faltam);
    relogio.restart();
    ASSERT_EQ(executa("restaura", raiz), 0);
    const qint64 duracaoR = relogio.elapsed();
    const QString depoisR = registros(raiz, &faltam);
    ASSERT_EQ(depoisR, depois);
    const Resultado r = quedasDe("restaura", inicio, raiz, antesR, depoisR, duracaoR, quedas(), sorte);
    std::printf("restauração: %d quedas em até %lld ms; %d deixaram os registros de antes, %d os de depois\n", quedas(),
                static_cast<long long>(duracaoR), r.antes, r.depois);
    ASSERT_FALSE(HasFailure());
    EXPECT_EQ(executa("restaura", raiz), 0);
    EXPECT_EQ(registros(raiz, &faltam), depois);
    EXPECT_TRUE(faltam.isEmpty());
}

}  // namespace

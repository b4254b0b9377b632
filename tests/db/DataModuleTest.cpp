// The data module: logging in with the two passwords, the information request, the commit
// discipline and the shared cursors.
#include <QFile>
#include <QRandomGenerator>

#include "DbTestSupport.h"
#include "platform/ui/MessageSeam.h"
#include "support/TestDatabase.h"

using namespace norvix;
using dbtest::DbTest;
using dbtest::RefusingConnector;
using Close = TDMPrincipal::Close;
using Commit = TDMPrincipal::Commit;

namespace {

class Login : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        path = makeTestDatabase(dir.path());
        ASSERT_FALSE(path.isEmpty());
    }
    QTemporaryDir dir;
    QString path;
    RecordingMessageSeam messages;
    RefusingConnector connector;
};

TEST_F(Login, FirstPasswordAcceptedConnectsWithoutMessage) {
    connector.accepted = {"rqmz71", "plumbstar"};
    TDMPrincipal dm(&connector);
    EXPECT_TRUE(dm.PSetDataBaseName(path));
    EXPECT_EQ(connector.tried, QStringList({"rqmz71"}));
    EXPECT_TRUE(dm.connected());
    EXPECT_TRUE(dm.IBTransaction.inTransaction());
    EXPECT_TRUE(messages.messages.empty());
    EXPECT_EQ(dm.IBDatabase.params(), QStringList({"user_name=sysdba", "password=rqmz71"}));
}

TEST_F(Login, FallbackPasswordAcceptedConnectsWithoutMessage) {
    connector.accepted = {"plumbstar"};
    TDMPrincipal dm(&connector);
    EXPECT_TRUE(dm.PSetDataBaseName(path));
    EXPECT_EQ(connector.tried, QStringList({"rqmz71", "plumbstar"}));
    EXPECT_TRUE(messages.messages.empty());
    EXPECT_TRUE(dm.IBTransaction.inTransaction());
    EXPECT_EQ(dm.selectInt("SELECT COUNT(*) FROM Pacientes", {}, "COUNT"), 0);
}

TEST_F(Login, BothPasswordsRefusedGiveTheReasonAndShowNothing) {
    TDMPrincipal dm(&connector);
    QString why = "antes";
    EXPECT_FALSE(dm.PSetDataBaseName(path, &why));
    EXPECT_EQ(why, QStringLiteral("Usuário/Senha de BD incorreto!"));
    EXPECT_TRUE(messages.messages.empty());  // the caller shows it
    EXPECT_EQ(connector.tried.size(), 2);
    EXPECT_FALSE(dm.connected());
    EXPECT_FALSE(dm.IBTransaction.inTransaction());
    // Later operations fail with an error instead of crashing.
    EXPECT_THROW(dm.selectInt("SELECT COUNT(*) FROM Pacientes", {}, "COUNT"), DatabaseError);
    EXPECT_THROW(dm.PCommitDataBase(), DatabaseError);
}

TEST_F(Login, ServerNamesArePassedUnchanged) {
    TDMPrincipal dm(&connector);
    EXPECT_FALSE(dm.PSetDataBaseName("servidor:/dados/NORVIX/DATABASE.GDB"));
    EXPECT_EQ(connector.names,
              QStringList({"servidor:/dados/NORVIX/DATABASE.GDB", "servidor:/dados/NORVIX/DATABASE.GDB"}));
}

TEST_F(Login, UnreachableServerGivesTheReasonAndFalse) {
    // Nothing listens on port 1 of this machine: the client's own error, no hang, no crash.
    TDMPrincipal dm;
    QString why;
    EXPECT_FALSE(dm.PSetDataBaseName("127.0.0.1/1:" + dir.path() + "/DATABASE.GDB", &why));
    EXPECT_EQ(why, TDMPrincipal::kLoginRefused);
    EXPECT_FALSE(dm.connected());
    EXPECT_THROW(dm.PConnectDataBase(), DatabaseError);
}

TEST_F(Login, MissingFileGivesTheReasonAndCreatesNothing) {
    TDMPrincipal dm;
    const QString missing = dir.path() + "/NAOEXISTE.GDB";
    QString why;
    EXPECT_FALSE(dm.PSetDataBaseName(missing, &why));
    EXPECT_EQ(why, TDMPrincipal::kLoginRefused);
    EXPECT_FALSE(QFile::exists(missing));
    EXPECT_FALSE(dm.connected());
}

TEST_F(Login, CorruptFileIsRefusedAndLeftByteIdentical) {
    const QString bad = dir.path() + "/CORROMPIDO.GDB";
    QByteArray junk(64 * 1024, '\0');
    QRandomGenerator rng(42);
    for (char& c : junk) c = char(rng.bounded(256));
    {
        QFile f(bad);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(junk);
    }
    // A real header page cut short is refused too.
    const QString cut = dir.path() + "/CORTADO.GDB";
    QByteArray head;
    {
        QFile t(path);
        ASSERT_TRUE(t.open(QIODevice::ReadOnly));
        head = t.read(3000);
        QFile f(cut);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(head);
    }
    TDMPrincipal dm;
    for (const QString& file : {bad, cut}) {
        QString why;
        EXPECT_FALSE(dm.PSetDataBaseName(file, &why));
        EXPECT_EQ(why, TDMPrincipal::kLoginRefused);
    }
    QFile f(bad);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), junk);
    QFile g(cut);
    ASSERT_TRUE(g.open(QIODevice::ReadOnly));
    EXPECT_EQ(g.readAll(), head);
    // The module still connects to a good file afterwards.
    EXPECT_TRUE(dm.PSetDataBaseName(path));
}

TEST_F(Login, DisconnectThenConnectReusesTheLoginSilently) {
    connector.accepted = {"plumbstar"};
    TDMPrincipal dm(&connector);
    ASSERT_TRUE(dm.PSetDataBaseName(path));
    dm.PDesconectionDataBase();
    EXPECT_FALSE(dm.connected());
    dm.PDesconectionDataBase();  // harmless when already disconnected
    connector.tried.clear();
    dm.PConnectDataBase();
    EXPECT_TRUE(dm.connected());
    EXPECT_TRUE(dm.IBTransaction.inTransaction());
    EXPECT_EQ(connector.tried, QStringList({"plumbstar"}));
    EXPECT_TRUE(messages.messages.empty());
    EXPECT_EQ(dm.selectInt("SELECT COUNT(*) FROM Medicos", {}, "COUNT"), 0);
}

// ---- attaching ahead -------------------------------------------------------------------------

// The user attachments the engine knows for the database (system ones left out).
int userAttachments(TDMPrincipal& dm) {
    return dm.selectInt("SELECT COUNT(*) FROM MON$ATTACHMENTS WHERE MON$SYSTEM_FLAG = 0", {},
                        "COUNT", Close::Yes);
}

TEST_F(Login, AttachAheadIsTakenByTheNextConnectInsteadOfAttachingAgain) {
    connector.accepted = {"rqmz71", "plumbstar"};
    TDMPrincipal dm(&connector);
    dm.PAttachAhead(path);
    dm.PAttachAhead(path);  // a second call while one is under way changes nothing
    ASSERT_TRUE(dm.PSetDataBaseName(path));
    EXPECT_EQ(connector.tried, QStringList({"rqmz71"}));
    EXPECT_TRUE(dm.IBTransaction.inTransaction());
    EXPECT_EQ(userAttachments(dm), 1);
    EXPECT_TRUE(messages.messages.empty());
    dm.PAttachAhead(path);  // connected: nothing happens
    EXPECT_EQ(connector.tried.size(), 1);
}

TEST_F(Login, AttachAheadRefusedLeadsToTheFallbackPasswordAsUsual) {
    connector.accepted = {"plumbstar"};
    TDMPrincipal dm(&connector);
    dm.PAttachAhead(path);
    ASSERT_TRUE(dm.PSetDataBaseName(path));
    // The refusal of the first password came from the work ahead and was not repeated.
    EXPECT_EQ(connector.tried, QStringList({"rqmz71", "plumbstar"}));
    EXPECT_TRUE(messages.messages.empty());
    EXPECT_EQ(userAttachments(dm), 1);
}

TEST_F(Login, AttachAheadOfAMissingFileEndsInTheUsualReason) {
    TDMPrincipal dm;
    const QString missing = dir.path() + "/NAOEXISTE.GDB";
    dm.PAttachAhead(missing);
    QString why;
    EXPECT_FALSE(dm.PSetDataBaseName(missing, &why));
    EXPECT_EQ(why, TDMPrincipal::kLoginRefused);
    EXPECT_FALSE(QFile::exists(missing));
}

TEST_F(Login, AttachAheadNobodyTakesIsDetached) {
    QTemporaryDir otherDir;
    const QString other = makeTestDatabase(otherDir.path());
    ASSERT_FALSE(other.isEmpty());
    {
        // Another file asked for: the attachment ahead is dropped, the other one opened.
        TDMPrincipal dm(&connector);
        connector.accepted = {"rqmz71"};
        dm.PAttachAhead(path);
        ASSERT_TRUE(dm.PSetDataBaseName(other));
        EXPECT_EQ(connector.names, QStringList({path, other}));
        // The module ending before any connect drops it too.
        TDMPrincipal unused;
        unused.PAttachAhead(path);
    }
    TDMPrincipal check;
    ASSERT_TRUE(check.PSetDataBaseName(path));
    EXPECT_EQ(userAttachments(check), 1);
}

// ---- commit discipline ----------------------------------------------------------------------

class Module : public DbTest {};

TEST_F(Module, AfterAWriteThePatientListIsOpenAgainAndTheExamListClosed) {
    insertPaciente(QStringLiteral("ANA"));
    dm->IBQueryExames.open();
    dm->IBQueryBuscaPac.open();
    ASSERT_TRUE(dm->IBQueryExames.active());
    insertPaciente(QStringLiteral("BIA"));  // commits
    EXPECT_TRUE(dm->IBQueryPacientes.active());
    EXPECT_EQ(dm->IBQueryPacientes.recNo(), 0);
    EXPECT_EQ(dm->IBQueryPacientes.sql(), "select * from PACIENTES");
    EXPECT_FALSE(dm->IBQueryExames.active());
    EXPECT_FALSE(dm->IBQueryBuscaPac.active());
    for (FbDataSet* d : {static_cast<FbDataSet*>(&dm->IBMedicos), static_cast<FbDataSet*>(&dm->IBPacientes),
                         static_cast<FbDataSet*>(&dm->IBExames), static_cast<FbDataSet*>(&dm->IBLaudos),
                         static_cast<FbDataSet*>(&dm->IBLaudosTexto)})
        EXPECT_TRUE(d->active()) << d->name().toStdString();
    EXPECT_TRUE(dm->IBTransaction.inTransaction());
    EXPECT_EQ(dm->IBPacientes.recordCount(), 2);
}

TEST_F(Module, CountingAfterAnInsertGrowsByOne) {
    const int before = count("SELECT COUNT(*) FROM Pacientes");
    insertPaciente(QStringLiteral("ANA"));
    EXPECT_EQ(count("SELECT COUNT(*) FROM Pacientes"), before + 1);
}

TEST_F(Module, UncommittedWritesAreRolledBackByDisconnectButCommittedAtTheEnd) {
    const int a = insertPaciente(QStringLiteral("ANA"));
    const char* const update =
        "Execute Procedure UpdateExamesPacientesByCodigo :Codigo,:UltimoExame,:TotalExames";
    dm->execProcedure(update, {{"Codigo", a}, {"UltimoExame", "perdido"}, {"TotalExames", 1}},
                      Commit::No, Close::Yes);
    dm->PDesconectionDataBase();
    dm->PConnectDataBase();
    EXPECT_EQ(dm->selectString("SELECT UltimoExame FROM Pacientes WHERE Codigo=:C", {{"C", a}},
                               "UltimoExame", Close::Yes),
              "");

    // The transaction's default action is commit when the module goes away.
    dm->execProcedure(update, {{"Codigo", a}, {"UltimoExame", "mantido"}, {"TotalExames", 2}},
                      Commit::No, Close::Yes);
    dm.reset();
    TDMPrincipal again;
    ASSERT_TRUE(again.PSetDataBaseName(path));
    EXPECT_EQ(again.selectString("SELECT UltimoExame FROM Pacientes WHERE Codigo=:C", {{"C", a}},
                                 "UltimoExame", Close::Yes),
              "mantido");
}

TEST_F(Module, ABatchCommitsItsWritesTogetherOrNone) {
    const int a = insertPaciente(QStringLiteral("ANA"));
    const char* const update = "Execute Procedure UpdateExamesPacientesByCodigo :Codigo,:UltimoExame,:TotalExames";
    auto lastExam = [&] {
        return dm->selectString("SELECT UltimoExame FROM Pacientes WHERE Codigo=:C", {{"C", a}}, "UltimoExame", Close::Yes);
    };
    {
        TDMPrincipal::Batch batch(*dm);
        dm->execProcedure(update, {{"Codigo", a}, {"UltimoExame", "primeiro"}, {"TotalExames", 1}});
        insertPaciente(QStringLiteral("BIA"));  // its commit is held back as well
        // Leaving without commit: both writes are gone.
    }
    EXPECT_EQ(lastExam(), "");
    EXPECT_EQ(count("SELECT COUNT(*) FROM Pacientes"), 1);
    EXPECT_TRUE(dm->IBQueryPacientes.active());
    {
        TDMPrincipal::Batch batch(*dm);
        dm->execProcedure(update, {{"Codigo", a}, {"UltimoExame", "segundo"}, {"TotalExames", 2}});
        batch.commit();
    }
    dm->PDesconectionDataBase();  // rolls back whatever was not committed
    dm->PConnectDataBase();
    EXPECT_EQ(lastExam(), "segundo");
}

TEST_F(Module, FailedWriteIsNotCommittedAndLeavesTheModuleUsable) {
    FbParams p = dbtest::pacienteTexts(QString(60, QLatin1Char('x')));
    p.push_back({"DtCadastro", QDate(2024, 1, 1)});
    p.push_back({"TotalExames", 0});
    dm->IBQueryExames.open();
    EXPECT_THROW(dm->execProcedure(QString::fromLatin1(dbtest::kInsertPacientes), p), DatabaseError);
    EXPECT_TRUE(dm->IBQueryExames.active());  // no commit ran
    EXPECT_EQ(insertPaciente(QStringLiteral("OK")), 1);
}

TEST_F(Module, CursorsHaveTheirNamesAndStatements) {
    EXPECT_EQ(dm->IBQueryBuscaPac.sql(), "SELECT *  FROM PACIENTES");
    EXPECT_EQ(dm->IBQueryMedicos.sql(), "select CODIGO from MEDICOS");
    EXPECT_EQ(dm->IBQueryExamesOrto.sql(), "select * from EXAMESORTO");
    EXPECT_EQ(dm->IBIdiomaOperation.sql(), "select * from LANG");
    EXPECT_TRUE(dm->IBQueryLaudos.sql().isEmpty());
    EXPECT_EQ(dm->cursor("ibqueryexames"), &dm->IBQueryExames);
    EXPECT_EQ(dm->cursor("IBLaudosTexto"), &dm->IBLaudosTexto);
    EXPECT_EQ(dm->cursor("Nenhum"), nullptr);
    // The bound but unused cursors open on their tables.
    dm->IBIdioma.open();
    dm->IBIdiomaDefault.open();
    dm->IBIdiomaOperation.open();
    EXPECT_TRUE(dm->IBIdiomaOperation.eof());
    EXPECT_EQ(&DMPrincipal(), dm.get());
}

TEST(ProcessWideModule, NewestInstanceIsTheProcessOneUntilDestroyed) {
    EXPECT_FALSE(hasDMPrincipal());
    EXPECT_THROW(DMPrincipal(), Error);
    {
        TDMPrincipal first;
        EXPECT_EQ(&DMPrincipal(), &first);
        {
            TDMPrincipal second;
            EXPECT_EQ(&DMPrincipal(), &second);
        }
        EXPECT_EQ(&DMPrincipal(), &first);
    }
    EXPECT_FALSE(hasDMPrincipal());
}

TEST_F(Module, GeneratorReadsOfEmptyTablesGiveZero) {
    for (const char* t : {"Pacientes", "Medicos", "Exames", "Laudos"}) {
        const QString gen = QStringLiteral("Codigo_") + QString::fromLatin1(t);
        EXPECT_EQ(dm->selectInt("SELECT FIRST(1) GEN_ID(" + gen + ", 0) FROM " + t, {}, "GEN_ID"), 0)
            << t;
    }
}

}  // namespace

// The Firebird layer: named parameters, value types, column reading, cursor navigation,
// table filters, plans and the transaction parameters.
#include "DbTestSupport.h"
#include "support/TestDatabase.h"

using namespace norvix;
using dbtest::DbTest;
using Close = TDMPrincipal::Close;
using Commit = TDMPrincipal::Commit;

namespace {

// ---- parameter parsing (no database) ------------------------------------------------------

TEST(NamedParameters, NamesOutsideQuotesAndCommentsBecomePlaceholders) {
    const FbParsedSql p = parseNamedParameters(
        "SELECT * FROM T WHERE A = :Codigo AND B = ':Nome' AND C = \"X:Y\" -- :Comentario\n"
        "AND D = :codigo /* :Bloco */ AND E=:Data_2");
    EXPECT_EQ(p.sql, "SELECT * FROM T WHERE A = ? AND B = ':Nome' AND C = \"X:Y\" -- :Comentario\n"
                     "AND D = ? /* :Bloco */ AND E=?");
    EXPECT_EQ(p.names, QStringList({"CODIGO", "CODIGO", "DATA_2"}));
}

TEST(NamedParameters, QuoteEscapesAndUnterminatedTextsDoNotLeakNames) {
    EXPECT_EQ(parseNamedParameters("X = 'it''s :no' AND Y = :Sim").names, QStringList({"SIM"}));
    EXPECT_TRUE(parseNamedParameters("X = 'open :never").names.isEmpty());
    EXPECT_TRUE(parseNamedParameters("X = 10:30").names.isEmpty());  // not after a word
    EXPECT_TRUE(parseNamedParameters("").names.isEmpty());
    EXPECT_EQ(parseNamedParameters("Execute Procedure P :A,:B").sql, "Execute Procedure P ?,?");
}

// ---- binding and values --------------------------------------------------------------------

class Layer : public DbTest {};

TEST_F(Layer, RepeatedAndCaseInsensitiveNamesBindOneValue) {
    insertPaciente(QStringLiteral("ANA"));
    insertPaciente(QStringLiteral("BIA"));
    FbQuery& q = dm->IBOperation;
    q.setSql("SELECT COUNT(*) FROM Pacientes WHERE Codigo = :Cod OR Codigo = :COD + 1 "
             "OR Nome = ':Cod'");
    q.setParam("cod", 1);
    q.open();
    EXPECT_EQ(q.asInt("COUNT"), 2);
    q.close();
    q.setParam(":Cod", 2);  // a leading colon is accepted too
    q.open();
    EXPECT_EQ(q.asInt("count"), 1);
    q.close();
}

TEST_F(Layer, UnknownParameterNameIsAnErrorNotSilentlyIgnored) {
    EXPECT_THROW(dm->selectInt("SELECT COUNT(*) FROM Pacientes WHERE Codigo = :Codigo",
                               {{"Cdigo", 1}}, "COUNT"),
                 DatabaseError);
    // An unset parameter is NULL: nothing equals it.
    insertPaciente(QStringLiteral("ANA"));
    EXPECT_EQ(count("SELECT COUNT(*) FROM Pacientes WHERE Codigo = :Codigo"), 0);
}

TEST_F(Layer, AccentedNamesRoundTripThroughWindows1252) {
    const QString nome = QStringLiteral("JOÃO ÂNGELO DA CONCEIÇÃO ÉÇÜ");
    const int a = insertPaciente(nome);
    EXPECT_EQ(dm->selectString("SELECT Nome FROM Pacientes WHERE Pacientes.Codigo = :Codigo",
                               {{"Codigo", a}}, "Nome", Close::Yes),
              nome);
    EXPECT_EQ(dm->selectInt("SELECT * FROM Pacientes WHERE Pacientes.Nome = :NomePac",
                            {{"NomePac", nome}}, "Codigo", Close::Yes),
              a);
    // The server upper-cases the accented letters of this character set.
    insertPaciente(QStringLiteral("joão ângelo"));
    EXPECT_EQ(count("SELECT COUNT(*) FROM Pacientes WHERE UPPER(Nome) LIKE :P",
                    {{"P", QStringLiteral("JOÃO Â%")}}),
              2);
    // Exact comparison keeps letter case.
    EXPECT_EQ(dm->selectInt("SELECT * FROM Pacientes WHERE Pacientes.Nome = :NomePac",
                            {{"NomePac", QStringLiteral("João Ângelo")}}, "Codigo", Close::Yes),
              0);
}

TEST_F(Layer, DatesTimesDoublesAndNullsRoundTrip) {
    dm->execProcedure("INSERT INTO Medicos (Codigo, Nome) VALUES (1, 'DR')");
    const int p = insertPaciente(QStringLiteral("ANA"));
    const QTime hora(23, 59, 58);
    const int e = insertExame(p, 1, QDate(1999, 12, 31), hora);
    FbQuery& q = dm->openQuery(dm->IBOperation, "SELECT * FROM Exames WHERE Codigo = :C", {{"C", e}});
    EXPECT_EQ(q.asDate("Data"), QDate(1999, 12, 31));
    EXPECT_EQ(q.asTime("Hora"), hora);
    EXPECT_EQ(q.asString("Data"), "31/12/1999");
    EXPECT_EQ(q.asString("Hora"), "23:59:58");
    EXPECT_DOUBLE_EQ(q.asDouble("IndConf"), 0.875);
    q.close();

    dm->execProcedure("Execute Procedure UpdateObsExameByCodigo :Codigo,:Obs",
                      {{"Codigo", e}, {"Obs", nullptr}});
    FbQuery& r = dm->openQuery(dm->IBOperation, "SELECT Observacao, TotalExames FROM Exames "
                                                "JOIN Pacientes ON Pacientes.Codigo = CodPaciente "
                                                "WHERE Exames.Codigo = :C",
                               {{"C", e}});
    EXPECT_TRUE(r.isNull("Observacao"));
    EXPECT_EQ(r.asString("Observacao"), "");
    EXPECT_FALSE(r.value("Observacao").isValid());
    r.close();

    // Equality on DATE and TIME columns finds the row by the values given to the insert.
    EXPECT_EQ(count("SELECT COUNT(*) FROM Exames WHERE Data = :D AND Hora = :H",
                    {{"D", QDate(1999, 12, 31)}, {"H", hora}}),
              1);
    EXPECT_EQ(count("SELECT COUNT(*) FROM Exames WHERE Data = :D AND Hora = :H",
                    {{"D", QDate(1999, 12, 31)}, {"H", hora.addSecs(1)}}),
              0);
}

TEST_F(Layer, TextBeyondAnyParameterWidthIsRefusedBeforeSending) {
    const int a = insertPaciente(QStringLiteral("ANA"));
    try {
        dm->execProcedure("Execute Procedure UpdateObsExameByCodigo :Codigo,:Obs",
                          {{"Codigo", a}, {"Obs", QString(40000, QLatin1Char('o'))}});
        FAIL() << "a 40000-character text was sent";
    } catch (const DatabaseError& e) {
        EXPECT_TRUE(e.message().contains("OBS")) << e.message().toStdString();
    }
    // The module stays usable and nothing was written.
    EXPECT_EQ(count("SELECT COUNT(*) FROM Exames"), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM Pacientes"), 1);
}

TEST_F(Layer, RepeatedStatementWithChangingValueKindsBindsEachCallAfresh) {
    dm->execProcedure("INSERT INTO Medicos (Codigo, Nome) VALUES (1, 'DR')");
    const int e = insertExame(insertPaciente(QStringLiteral("ANA")), 1, QDate(2024, 1, 1),
                              QTime(1, 0, 0));
    const QString sql = QStringLiteral("Execute Procedure UpdateObsExameByCodigo :Codigo,:Obs");
    // Read on another cursor, so IBOperation keeps its prepared statement between calls.
    auto obs = [&] {
        FbQuery& q = dm->openQuery(dm->IBQueryExames,
                                   "SELECT Observacao FROM Exames WHERE Codigo = :C", {{"C", e}});
        const QString text = q.asString("Observacao");
        q.close();
        return text;
    };
    const QString wide(240, QLatin1Char('w'));
    for (const FbValue& v : {FbValue(QStringLiteral("a")), FbValue(wide), FbValue(),
                             FbValue(QStringLiteral("é"))}) {
        dm->execProcedure(dm->IBOperation, sql, {{"Codigo", e}, {"Obs", v}}, Commit::No,
                          Close::No);
        EXPECT_EQ(obs(), v.isNull() ? QString() : v.toText());
    }
    EXPECT_THROW(dm->execProcedure(sql, {{"Codigo", e}, {"Obs", wide + "x"}}), DatabaseError);
    EXPECT_EQ(obs(), QStringLiteral("é"));
    dm->execProcedure(sql, {{"Codigo", e}, {"Obs", 12345}});  // a number into a text
    EXPECT_EQ(obs(), "12345");
}

TEST_F(Layer, IntegerOutOfRangeIsRefusedByTheServer) {
    insertPaciente(QStringLiteral("ANA"));
    EXPECT_THROW(dm->execProcedure("Execute Procedure UpdateExamesPacientesByCodigo "
                                   ":Codigo,:UltimoExame,:TotalExames",
                                   {{"Codigo", 1}, {"UltimoExame", "x"},
                                    {"TotalExames", qint64(1) << 40}}),
                 DatabaseError);
}

TEST_F(Layer, ColumnsReadByNameWithResultNamesAsTheServerGivesThem) {
    insertPaciente(QStringLiteral("ANA"));
    FbQuery& q = dm->openQuery(dm->IBOperation,
                               "SELECT COUNT(*), MAX(Codigo) AS Maior, "
                               "GEN_ID(Codigo_Pacientes, 0) FROM Pacientes");
    EXPECT_EQ(q.fieldNames(), QStringList({"COUNT", "MAIOR", "GEN_ID"}));
    EXPECT_EQ(q.asInt("Count"), 1);
    EXPECT_EQ(q.asInt("maior"), 1);
    EXPECT_EQ(q.asInt("GEN_ID"), 1);
    // A misspelt column on an open cursor is an error, not a silent 0.
    EXPECT_THROW(q.asInt("CONTA"), DatabaseError);
    q.close();
    // A closed cursor has nothing to read: an error, never a 0 that a window would write
    // somewhere (a commit closes every cursor).
    EXPECT_THROW(q.asInt("COUNT"), DatabaseError);
    EXPECT_THROW(q.asString("COUNT"), DatabaseError);
}

TEST_F(Layer, EmptyResultHasNoRowToReadButTheAccessOperationsReadZero) {
    FbQuery& q = dm->openQuery(dm->IBOperation, "SELECT Codigo, Nome, DtCadastro FROM Pacientes");
    EXPECT_TRUE(q.active());
    EXPECT_TRUE(q.eof());
    EXPECT_TRUE(q.bof());
    EXPECT_TRUE(q.isEmpty());
    EXPECT_EQ(q.recordCount(), 0);
    EXPECT_THROW(q.asInt("Codigo"), DatabaseError);
    EXPECT_THROW(q.asString("Nome"), DatabaseError);
    EXPECT_THROW(q.asDate("DtCadastro"), DatabaseError);
    q.next();
    q.prior();
    EXPECT_EQ(q.recNo(), -1);
    // The operations of the access classes keep their contract: no row reads as 0 / empty,
    // and a misspelt column is still an error.
    EXPECT_EQ(dm->selectInt("SELECT Codigo FROM Pacientes", {}, "Codigo"), 0);
    EXPECT_EQ(dm->selectString("SELECT Nome FROM Pacientes", {}, "Nome"), "");
    EXPECT_THROW(dm->selectInt("SELECT Codigo FROM Pacientes", {}, "Codig"), DatabaseError);
}

TEST_F(Layer, ServerErrorsCarryTheServersText) {
    try {
        dm->selectInt("SELECT COUNT(*) FROM TabelaQueNaoExiste", {}, "COUNT");
        FAIL() << "no error";
    } catch (const DatabaseError& e) {
        EXPECT_TRUE(e.message().contains("TABELAQUENAOEXISTE")) << e.message().toStdString();
    }
    // An empty statement (as an unknown eye leaves it) fails too.
    EXPECT_THROW(dm->selectInt("", {}, "COUNT"), DatabaseError);
    // The layer stays usable afterwards.
    EXPECT_EQ(count("SELECT COUNT(*) FROM Pacientes"), 0);
}

// ---- cursor navigation -----------------------------------------------------------------------

class Navigation : public DbTest {
protected:
    void SetUp() override {
        DbTest::SetUp();
        for (const char* n : {"ANA", "BIA", "CAIO", "DANI"}) insertPaciente(QString::fromLatin1(n));
    }
};

TEST_F(Navigation, NextOnTheLastRowStaysThereAndPriorOnTheFirstToo) {
    FbQuery& q = dm->openQuery(dm->IBQueryPacientes, "select * from PACIENTES order by CODIGO");
    EXPECT_TRUE(q.bof());
    EXPECT_FALSE(q.eof());
    EXPECT_EQ(q.asString("Nome"), "ANA");
    q.next();
    EXPECT_FALSE(q.bof());
    EXPECT_EQ(q.asString("Nome"), "BIA");
    q.next();
    q.next();
    EXPECT_EQ(q.asString("Nome"), "DANI");
    EXPECT_FALSE(q.eof());
    q.next();
    EXPECT_TRUE(q.eof());
    EXPECT_EQ(q.asString("Nome"), "DANI");
    q.next();
    EXPECT_EQ(q.asInt("Codigo"), 4);
    q.prior();
    EXPECT_FALSE(q.eof());
    EXPECT_EQ(q.asString("Nome"), "CAIO");
    q.first();
    EXPECT_TRUE(q.bof());
    q.prior();
    EXPECT_TRUE(q.bof());
    EXPECT_EQ(q.asString("Nome"), "ANA");
    q.last();
    EXPECT_TRUE(q.eof());
    EXPECT_EQ(q.asString("Nome"), "DANI");
    EXPECT_EQ(q.recordCount(), 4);
}

TEST_F(Navigation, WalkingWithEofVisitsEveryRowOnce) {
    FbQuery& q = dm->openQuery(dm->IBOperation, "SELECT Codigo FROM Pacientes ORDER BY Codigo DESC");
    QList<int> seen;
    for (; !q.eof(); q.next()) seen << q.asInt("Codigo");
    EXPECT_EQ(seen, QList<int>({4, 3, 2, 1}));
}

TEST_F(Navigation, LocateFindsTextsAndNumbersAndStaysPutWhenNothingMatches) {
    FbTable& t = dm->IBPacientes;
    t.open();
    EXPECT_TRUE(t.locate("Nome", QStringLiteral("CAIO")));
    EXPECT_EQ(t.asInt("Codigo"), 3);
    EXPECT_FALSE(t.locate("Nome", QStringLiteral("caio")));  // exact text
    EXPECT_EQ(t.asInt("Codigo"), 3);
    EXPECT_TRUE(t.locate("CODIGO", 2));
    EXPECT_EQ(t.asString("Nome"), "BIA");
    EXPECT_FALSE(t.locate("Codigo", 99));
    EXPECT_EQ(t.asString("Nome"), "BIA");
    EXPECT_THROW(t.locate("Nada", 1), DatabaseError);
}

TEST_F(Navigation, TableCursorsAreInKeyOrderAndFilterByWhereClause) {
    dm->execProcedure("INSERT INTO Laudos (Codigo, CodPaciente, MedidaOD, MedidaOS, Backup) "
                      "VALUES (9, 1, -1, -1, '')");
    dm->execProcedure("INSERT INTO Laudos (Codigo, CodPaciente, MedidaOD, MedidaOS, Backup) "
                      "VALUES (3, 2, -1, -1, '')");
    FbTable& laudos = dm->IBLaudos;
    laudos.open();
    EXPECT_EQ(laudos.asInt("Codigo"), 3);
    laudos.last();
    EXPECT_EQ(laudos.asInt("Codigo"), 9);

    FbTable& textos = dm->IBLaudosTexto;
    textos.setFilter("Local ='DS' AND PosCaixa = 2");
    textos.open();
    int rows = 0;
    for (; !textos.eof(); textos.next()) {
        EXPECT_EQ(textos.asString("Local"), "DS");
        EXPECT_EQ(textos.asInt("PosCaixa"), 2);
        ++rows;
    }
    EXPECT_GT(rows, 0);
    // Changing the filter of an open table shows the new rows at once.
    textos.setFilter("Local ='CO' AND PosCaixa = 1");
    EXPECT_TRUE(textos.active());
    EXPECT_EQ(textos.asString("Local"), "CO");
    textos.setFilter(QString());
    EXPECT_GT(textos.recordCount(), rows);
}

TEST_F(Navigation, PrefixSearchUsesTheUpperCaseNameIndex) {
    FbQuery& q = dm->IBQueryBuscaPac;
    q.setSql("SELECT * FROM PACIENTES WHERE UPPER(NOME) LIKE 'CA%'");
    EXPECT_TRUE(q.plan().contains("IX_PACIENTES_NOME_UPPER")) << q.plan().toStdString();
    q.open();
    EXPECT_EQ(q.asString("Nome"), "CAIO");
    EXPECT_EQ(q.recordCount(), 1);
    q.setSql("SELECT * FROM PACIENTES WHERE UPPER(NOME) STARTING WITH :P");
    EXPECT_TRUE(q.plan().contains("IX_PACIENTES_NOME_UPPER")) << q.plan().toStdString();
    q.setSql("SELECT * FROM MEDICOS WHERE UPPER(NOME) LIKE 'AB%'");
    EXPECT_TRUE(q.plan().contains("IX_MEDICOS_NOME_UPPER")) << q.plan().toStdString();
}

// ---- transaction parameters ----------------------------------------------------------------

TEST_F(Layer, SecondConnectionSeesCommittedRowsAndFailsAtOnceOnALockedRow) {
    const int a = insertPaciente(QStringLiteral("ANA"));
    // A second program on the same file (a shared database).
    TDMPrincipal other;
    ASSERT_TRUE(other.PSetDataBaseName(path));
    EXPECT_EQ(other.selectInt("SELECT COUNT(*) FROM Pacientes", {}, "COUNT", Close::Yes), 1);

    // read_committed + rec_version: a row committed later is seen without a new transaction.
    insertPaciente(QStringLiteral("BIA"));
    EXPECT_TRUE(other.IBTransaction.inTransaction());
    EXPECT_EQ(other.selectInt("SELECT COUNT(*) FROM Pacientes", {}, "COUNT", Close::Yes), 2);

    // nowait: an uncommitted change here makes the other's update fail at once.
    dm->execProcedure("Execute Procedure UpdateExamesPacientesByCodigo :Codigo,:UltimoExame,:TotalExames",
                      {{"Codigo", a}, {"UltimoExame", "aqui"}, {"TotalExames", 1}}, Commit::No);
    try {
        other.execProcedure("Execute Procedure UpdateExamesPacientesByCodigo :Codigo,:UltimoExame,:TotalExames",
                            {{"Codigo", a}, {"UltimoExame", "lá"}, {"TotalExames", 2}});
        FAIL() << "the locked row was written";
    } catch (const DatabaseError& e) {
        // The operator is told what happened in words of the program, not the server's.
        EXPECT_EQ(e.kind(), DatabaseError::Kind::LockConflict);
        EXPECT_EQ(e.message(), DatabaseError::lockConflict().message());
    }
    // rec_version: the other reads the last committed version meanwhile.
    EXPECT_EQ(other.selectString("SELECT UltimoExame FROM Pacientes WHERE Codigo = :C",
                                 {{"C", a}}, "UltimoExame", Close::Yes),
              "");
    dm->PCommitDataBase();
    EXPECT_EQ(other.selectString("SELECT UltimoExame FROM Pacientes WHERE Codigo = :C",
                                 {{"C", a}}, "UltimoExame", Close::Yes),
              "aqui");
}

}  // namespace

// The stored procedures and the schema, driven through the statements the program issues.
#include <QByteArray>

#include "DbTestSupport.h"

using namespace norvix;
using dbtest::DbTest;
using Close = TDMPrincipal::Close;
using Commit = TDMPrincipal::Commit;

namespace {

class Procedures : public DbTest {
protected:
    QString text(const QString& sql, const QString& column, const FbParams& params = {}) {
        return dm->selectString(sql, params, column, Close::Yes);
    }
    int integer(const QString& sql, const QString& column, const FbParams& params = {}) {
        return dm->selectInt(sql, params, column, Close::Yes);
    }
};

// ---- patients and doctors -----------------------------------------------------------------

TEST_F(Procedures, InsertPacientesTakesGeneratorCodesAndFillsEveryColumn) {
    const int a = insertPaciente(QStringLiteral("ANA"), 3);
    const int b = insertPaciente(QStringLiteral("BIA"));
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, 2);
    EXPECT_EQ(integer("SELECT FIRST(1) GEN_ID(Codigo_Pacientes, 0) FROM Pacientes", "GEN_ID"), 2);
    EXPECT_EQ(count("SELECT COUNT(*) FROM Pacientes"), 2);

    FbQuery& q = dm->openQuery(dm->IBOperation, "SELECT * FROM Pacientes WHERE Codigo = :Codigo",
                               {{"Codigo", a}});
    EXPECT_EQ(q.asInt("CODMEDICO"), 0);
    EXPECT_FALSE(q.isNull("CODMEDICO"));
    EXPECT_EQ(q.asString("Nome"), "ANA");
    EXPECT_EQ(q.asString("Mae"), QStringLiteral("Mãe"));
    EXPECT_EQ(q.asString("Cep"), "53000-000");
    EXPECT_EQ(q.asString("TipoSang"), "O+");
    EXPECT_EQ(q.asDate("DtCadastro"), QDate(2024, 5, 6));
    EXPECT_EQ(q.asInt("TotalExames"), 3);
    EXPECT_TRUE(q.isNull("UltimoExame"));
    EXPECT_TRUE(q.isNull("Encaminhado"));
    q.close();
}

TEST_F(Procedures, UpdatePacientesReplacesTheTextsAndKeepsTheCounters) {
    const int a = insertPaciente(QStringLiteral("ANA"), 4);
    dm->execProcedure("Execute Procedure UpdateExamesPacientesByCodigo :Codigo,:UltimoExame,:TotalExames",
                      {{"Codigo", a}, {"UltimoExame", "OD 01/02/2024 10:11:12"}, {"TotalExames", 5}},
                      Commit::Yes, Close::Yes);
    FbParams p = dbtest::pacienteTexts(QStringLiteral("ANA MARIA"));
    p.push_back({"Codigo", a});
    p[1].value = QStringLiteral("999");  // Rg
    dm->execProcedure(QString::fromLatin1(dbtest::kUpdatePacientes), p);

    FbQuery& q = dm->openQuery(dm->IBOperation, "SELECT * FROM Pacientes WHERE Codigo = :Codigo",
                               {{"Codigo", a}});
    EXPECT_EQ(q.asString("Nome"), "ANA MARIA");
    EXPECT_EQ(q.asString("Rg"), "999");
    EXPECT_EQ(q.asDate("DtCadastro"), QDate(2024, 5, 6));
    EXPECT_EQ(q.asString("UltimoExame"), "OD 01/02/2024 10:11:12");
    EXPECT_EQ(q.asInt("TotalExames"), 5);
    q.close();
}

TEST_F(Procedures, DeleteRemovesOnlyTheGivenRow) {
    const int a = insertPaciente(QStringLiteral("ANA"));
    const int b = insertPaciente(QStringLiteral("BIA"));
    dm->execProcedure("Execute Procedure DeletePacientesByCodigo :Codigo", {{"Codigo", a}});
    EXPECT_EQ(count("SELECT COUNT(*) FROM Pacientes"), 1);
    EXPECT_EQ(integer("SELECT Codigo FROM Pacientes", "Codigo"), b);

    const int m = dbtest::DbTest::insertMedico(QStringLiteral("DR X"));
    const int n = insertMedico(QStringLiteral("DR Y"));
    EXPECT_EQ(n, m + 1);
    dm->execProcedure("Execute Procedure DeleteMedicosByCodigo :Codigo", {{"Codigo", m}});
    EXPECT_EQ(count("SELECT COUNT(*) FROM Medicos"), 1);
}

TEST_F(Procedures, MedicosInsertAndUpdate) {
    const int m = insertMedico(QStringLiteral("DRA. LÚCIA"));
    EXPECT_EQ(m, 1);
    EXPECT_EQ(text("SELECT Nome FROM Medicos WHERE Medicos.Codigo=:Codigo", "Nome", {{"Codigo", m}}),
              QStringLiteral("DRA. LÚCIA"));
    FbParams p = dbtest::medicoTexts(QStringLiteral("DRA. LÚCIA SOUZA"));
    p.push_back({"Codigo", m});
    dm->execProcedure(QString::fromLatin1(dbtest::kUpdateMedicos), p);
    EXPECT_EQ(text("SELECT Crm FROM Medicos WHERE Codigo=:Codigo", "Crm", {{"Codigo", m}}),
              "CRM-PE 1234");
    EXPECT_EQ(integer("SELECT Codigo FROM Medicos WHERE Medicos.Nome=:NomeMedico", "Codigo",
                      {{"NomeMedico", QStringLiteral("DRA. LÚCIA SOUZA")}}),
              m);
}

TEST_F(Procedures, GeneratorReadOnEmptyTableIsZeroEvenAfterTheGeneratorMoved) {
    EXPECT_EQ(integer("SELECT FIRST(1) GEN_ID(Codigo_Medicos, 0) FROM Medicos", "GEN_ID"), 0);
    const int m = insertMedico(QStringLiteral("DR X"));
    dm->execProcedure("Execute Procedure DeleteMedicosByCodigo :Codigo", {{"Codigo", m}});
    EXPECT_EQ(integer("SELECT FIRST(1) GEN_ID(Codigo_Medicos, 0) FROM Medicos", "GEN_ID"), 0);
    EXPECT_EQ(insertMedico(QStringLiteral("DR Y")), m + 1);  // codes are never reused
}

TEST_F(Procedures, TooLongTextFailsWithTheServersMessageAndWritesNothing) {
    const QString longName(51, QLatin1Char('A'));
    FbParams p = dbtest::pacienteTexts(longName);
    p.push_back({"DtCadastro", QDate(2024, 1, 1)});
    p.push_back({"TotalExames", 0});
    try {
        dm->execProcedure(QString::fromLatin1(dbtest::kInsertPacientes), p);
        FAIL() << "a 51-character name was accepted";
    } catch (const DatabaseError& e) {
        EXPECT_TRUE(e.message().contains("string right truncation")) << e.message().toStdString();
    }
    EXPECT_EQ(count("SELECT COUNT(*) FROM Pacientes"), 0);

    // An update that fails in its last column leaves the earlier columns unchanged too.
    const int a = insertPaciente(QStringLiteral("ANA"));
    FbParams u = dbtest::pacienteTexts(QStringLiteral("OUTRO NOME"));
    u.push_back({"Codigo", a});
    u.back().value = a;
    u[21].value = QStringLiteral("AB+X");  // TipoSang holds 3
    EXPECT_THROW(dm->execProcedure(QString::fromLatin1(dbtest::kUpdatePacientes), u), DatabaseError);
    dm->PCommitDataBase();
    EXPECT_EQ(text("SELECT Nome FROM Pacientes WHERE Codigo=:Codigo", "Nome", {{"Codigo", a}}), "ANA");

    // The exam texts are wide but still bounded.
    const int m = insertMedico(QStringLiteral("DR"));
    const int e = insertExame(a, m, QDate(2024, 1, 2), QTime(9, 0, 0));
    EXPECT_THROW(dm->execProcedure("Execute Procedure UpdateDiagExameByCodigo :Codigo,:Diag",
                                   {{"Codigo", e}, {"Diag", QString(241, QLatin1Char('d'))}},
                                   Commit::Yes, Close::Yes),
                 DatabaseError);
    EXPECT_EQ(text("SELECT Diag FROM Exames WHERE Codigo=:Codigo", "Diag", {{"Codigo", e}}), "diag");
}

// ---- exams ---------------------------------------------------------------------------------

TEST_F(Procedures, InsertExamesStoresEveryValueAndIsFoundByPatientDoctorDateAndTime) {
    const int p = insertPaciente(QStringLiteral("ANA"));
    const int m = insertMedico(QStringLiteral("DR"));
    const int e1 = insertExame(p, m, QDate(2024, 3, 4), QTime(10, 20, 30));
    const int e2 = insertExame(p, m, QDate(2024, 3, 4), QTime(10, 20, 31), QStringLiteral("OS"));
    EXPECT_EQ(e1, 1);
    EXPECT_EQ(e2, 2);
    FbQuery& q = dm->openQuery(dm->IBOperation, "SELECT * FROM Exames WHERE Codigo=:C", {{"C", e2}});
    EXPECT_EQ(q.asInt("CodPaciente"), p);
    EXPECT_EQ(q.asInt("CodResp"), m);
    EXPECT_EQ(q.asTime("Hora"), QTime(10, 20, 31));
    EXPECT_EQ(q.asString("Olho"), "OS");
    EXPECT_DOUBLE_EQ(q.asDouble("IndConf"), 0.875);
    EXPECT_EQ(q.asInt("NumAnel"), 32);
    EXPECT_EQ(q.asString("TipoCone"), "1");
    EXPECT_EQ(q.asString("TipoExame"), "T");
    EXPECT_EQ(q.asString("Backup"), "");
    EXPECT_FALSE(q.isNull("Backup"));
    q.close();
}

TEST_F(Procedures, ExamOfUnknownPatientIsRefused) {
    const int m = insertMedico(QStringLiteral("DR"));
    EXPECT_THROW(insertExame(77, m, QDate(2024, 1, 1), QTime(1, 2, 3)), DatabaseError);
    dm->PCommitDataBase();
    EXPECT_EQ(count("SELECT COUNT(*) FROM Exames"), 0);
}

TEST_F(Procedures, BackupMarksAndZeraWritesTheEmptyTextNeverNull) {
    const int p = insertPaciente(QStringLiteral("ANA"));
    const int m = insertMedico(QStringLiteral("DR"));
    const int e1 = insertExame(p, m, QDate(2024, 1, 1), QTime(1, 0, 0));
    const int e2 = insertExame(p, m, QDate(2024, 1, 1), QTime(2, 0, 0));
    // An exam stored with a NULL mark (older files) is also cleared to ''.
    dm->execProcedure("Execute Procedure UpdateBackupExameByCodigo :Codigo,:Backup",
                      {{"Codigo", e1}, {"Backup", nullptr}}, Commit::No, Close::Yes);
    dm->execProcedure("Execute Procedure UpdateBackupExameByCodigo :Codigo,:Backup",
                      {{"Codigo", e2}, {"Backup", "BK0001"}}, Commit::No, Close::Yes);
    EXPECT_EQ(count("SELECT COUNT(*) FROM Exames WHERE Exames.Backup=:Backup", {{"Backup", ""}}), 0);
    EXPECT_EQ(text("SELECT Backup FROM Exames WHERE Codigo=:C", "Backup", {{"C", e2}}), "BK0001");

    dm->execProcedure("Execute Procedure ZeraBackupExames", {}, Commit::No, Close::Yes);
    EXPECT_EQ(count("SELECT COUNT(*) FROM Exames WHERE Exames.Backup=:Backup", {{"Backup", ""}}),
              count("SELECT COUNT(*) FROM Exames"));
    EXPECT_EQ(count("SELECT COUNT(*) FROM Exames WHERE Backup IS NULL"), 0);

    const int l1 = integer("SELECT COUNT(*) FROM Laudos", "COUNT");
    EXPECT_EQ(l1, 0);
    dm->execProcedure("Execute Procedure InsertLaudos :CodPaciente,:MedidaOD,:MedidaOS,:Backup,:Data,:Hora",
                      {{"CodPaciente", p}, {"MedidaOD", e1}, {"MedidaOS", -1}, {"Backup", nullptr},
                       {"Data", QDate(2024, 1, 1)}, {"Hora", QTime(3, 0, 0)}},
                      Commit::Yes, Close::Yes);
    dm->execProcedure("Execute Procedure UpdateBackupLaudoByCodigo :Codigo,:Backup",
                      {{"Codigo", 1}, {"Backup", "BK2"}}, Commit::No, Close::Yes);
    EXPECT_EQ(text("SELECT Backup FROM Laudos WHERE Codigo=1", "Backup"), "BK2");
    dm->execProcedure("Execute Procedure ZeraBackupLaudos", {}, Commit::No, Close::Yes);
    EXPECT_EQ(count("SELECT COUNT(*) FROM Laudos WHERE Laudos.Backup=:Backup", {{"Backup", ""}}), 1);
}

TEST_F(Procedures, DiagObsAndOrthokeratologyRows) {
    const int p = insertPaciente(QStringLiteral("ANA"));
    const int m = insertMedico(QStringLiteral("DR"));
    const int e = insertExame(p, m, QDate(2024, 1, 1), QTime(1, 0, 0));
    dm->execProcedure("Execute Procedure UpdateDiagExameByCodigo :Codigo,:Diag",
                      {{"Codigo", e}, {"Diag", "Ceratocone"}}, Commit::Yes, Close::Yes);
    dm->execProcedure("Execute Procedure UpdateObsExameByCodigo :Codigo,:Obs",
                      {{"Codigo", e}, {"Obs", "Repetir"}}, Commit::Yes, Close::Yes);
    EXPECT_EQ(text("SELECT Diag FROM Exames WHERE Codigo=:C", "Diag", {{"C", e}}), "Ceratocone");
    EXPECT_EQ(text("SELECT Observacao FROM Exames WHERE Codigo=:C", "Observacao", {{"C", e}}), "Repetir");

    dm->execProcedure("Execute Procedure InsertExamesOrto :ECodExame,:EDiv,:EExc,:ERaio,:ESag",
                      {{"ECodExame", e}, {"EDiv", 1.2345}, {"EExc", 0.0}, {"ERaio", 7.8},
                       {"ESag", -0.5}});
    FbQuery& q = dm->openQuery(dm->IBQueryExamesOrto,
                               "select * from EXAMESORTO where CODEXAME = :C", {{"C", e}});
    EXPECT_DOUBLE_EQ(q.asDouble("Div"), 1.2345);
    EXPECT_DOUBLE_EQ(q.asDouble("Raio"), 7.8);
    EXPECT_DOUBLE_EQ(q.asDouble("Sag"), -0.5);
    EXPECT_DOUBLE_EQ(q.asDouble("Exc"), 0.0);
    q.close();
    dm->execProcedure("Execute Procedure DeleteExamesOrtoByCodigoExame :CodExame", {{"CodExame", e}});
    EXPECT_EQ(count("SELECT COUNT(*) FROM ExamesOrto"), 0);
}

TEST_F(Procedures, ImagesRoundTripAndGoWithTheirExam) {
    const int p = insertPaciente(QStringLiteral("ANA"));
    const int m = insertMedico(QStringLiteral("DR"));
    const int e = insertExame(p, m, QDate(2024, 1, 1), QTime(1, 0, 0));
    const int other = insertExame(p, m, QDate(2024, 1, 1), QTime(2, 0, 0));
    QByteArray central(200000, '\0');
    for (int i = 0; i < central.size(); ++i) central[i] = char((i * 7 + i / 300) & 0xff);
    const char* const insert =
        "Execute Procedure InsertArquivos  :Codigo_Exames,:Imagem_Central,:Imagem_Lateral";
    dm->execProcedure(insert, {{"Codigo_Exames", e}, {"Imagem_Central", central},
                               {"Imagem_Lateral", QByteArray()}});
    dm->execProcedure(insert, {{"Codigo_Exames", other}, {"Imagem_Central", QByteArray("x")},
                               {"Imagem_Lateral", QByteArray("y")}});

    FbQuery& q = dm->openQuery(dm->IBOperation,
                               "SELECT Imagem_Central,Imagem_Lateral FROM Arquivos WHERE Codigo_Exames=:CodExame",
                               {{"CodExame", e}});
    EXPECT_EQ(q.asBytes("Imagem_Central"), central);
    EXPECT_TRUE(q.asBytes("Imagem_Lateral").isEmpty());
    EXPECT_FALSE(q.isNull("Imagem_Lateral"));  // an empty stream is an empty blob
    q.close();

    // Storing again replaces: at most one row per exam.
    dm->execProcedure(insert, {{"Codigo_Exames", e}, {"Imagem_Central", QByteArray("new")},
                               {"Imagem_Lateral", QByteArray()}});
    EXPECT_EQ(count("SELECT COUNT(*) FROM Arquivos WHERE Codigo_Exames=:C", {{"C", e}}), 1);

    dm->execProcedure("Execute Procedure DeleteExamesByCodigo :Codigo", {{"Codigo", e}});
    EXPECT_EQ(count("SELECT COUNT(*) FROM Exames WHERE Codigo=:C", {{"C", e}}), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM Arquivos WHERE Codigo_Exames=:C", {{"C", e}}), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM Arquivos WHERE Codigo_Exames=:C", {{"C", other}}), 1);
}

// ---- reports -------------------------------------------------------------------------------

TEST_F(Procedures, InsertLaudosCodeExceedsEveryStoredCodeEvenWhenTheGeneratorLags) {
    const int p = insertPaciente(QStringLiteral("ANA"));
    const char* const insert =
        "Execute Procedure InsertLaudos :CodPaciente,:MedidaOD,:MedidaOS,:Backup,:Data,:Hora";
    auto newLaudo = [&] {
        dm->execProcedure(insert, {{"CodPaciente", p}, {"MedidaOD", -1}, {"MedidaOS", -1},
                                   {"Backup", ""}, {"Data", QDate(2024, 2, 2)},
                                   {"Hora", QTime(8, 9, 10)}},
                          Commit::Yes, Close::Yes);
        dm->IBLaudos.last();
        return dm->IBLaudos.asInt("Codigo");
    };
    EXPECT_EQ(newLaudo(), 1);
    // A row restored from elsewhere, far above the generator.
    dm->execProcedure("INSERT INTO Laudos (Codigo, CodPaciente, MedidaOD, MedidaOS, Backup) "
                      "VALUES (50, :P, -1, -1, '')", {{"P", p}});
    EXPECT_EQ(newLaudo(), 51);
    EXPECT_EQ(newLaudo(), 52);
    EXPECT_EQ(integer("SELECT FIRST(1) GEN_ID(Codigo_Laudos, 0) FROM Laudos", "GEN_ID"), 52);
    EXPECT_EQ(dm->IBLaudos.asInt("MedidaOD"), -1);
    EXPECT_EQ(dm->IBLaudos.asDate("Data"), QDate(2024, 2, 2));

    dm->execProcedure("Execute Procedure DeleteLaudosByCodigo :Codigo", {{"Codigo", 51}},
                      Commit::Yes, Close::Yes);
    EXPECT_EQ(count("SELECT COUNT(*) FROM Laudos"), 3);
    EXPECT_EQ(count("SELECT COUNT(*) FROM Laudos WHERE Codigo = 51"), 0);
}

TEST_F(Procedures, GeneratorLagDoesNotBreakTheOtherInsertsEither) {
    dm->execProcedure("INSERT INTO Pacientes (Codigo, CodMedico, Nome) VALUES (7, 0, 'RESTAURADO')");
    EXPECT_EQ(insertPaciente(QStringLiteral("NOVO")), 8);
}

// ---- catalogue -----------------------------------------------------------------------------

TEST_F(Procedures, PhraseCatalogueCoversEveryGroupTheEditorOffers) {
    // The editor reads "CE" groups 1-3, "DS" (both eyes) 1-7 and "CO" 1-16; each offers at
    // least two phrases besides an empty one.
    for (auto [box, groups] : {std::pair{"CE", 3}, std::pair{"DS", 7}, std::pair{"CO", 16}}) {
        for (int g = 1; g <= groups; ++g) {
            EXPECT_GE(count("SELECT COUNT(*) FROM LaudosTexto WHERE Local = :L AND PosCaixa = :P AND Texto <> ''",
                            {{"L", box}, {"P", g}}),
                      2)
                << box << " " << g;
        }
        EXPECT_EQ(count("SELECT COUNT(*) FROM LaudosTexto WHERE Local = :L AND PosCaixa > :P",
                        {{"L", box}, {"P", groups}}),
                  0)
            << box;
    }
    // No box code the editor never reads, no phrase that would split a gap.
    EXPECT_EQ(count("SELECT COUNT(*) FROM LaudosTexto WHERE Local NOT IN ('CE', 'DS', 'CO')"), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM LaudosTexto WHERE Texto CONTAINING '#' OR Texto IS NULL"), 0);
    // The accented phrases arrive intact.
    EXPECT_EQ(text("SELECT Texto FROM LaudosTexto WHERE Codigo = 2", "Texto"),
              QStringLiteral("rígidas gás-permeáveis"));
}

}  // namespace

// The tear-film exams' table on real databases: stored in one transaction and read back whole,
// added at open to a clinic database made before it (and refused politely where it cannot be),
// deleted with the patient, and carried by the database copy of the backup.
#include <gtest/gtest.h>

#include "backup/CopiaBanco.h"
#include "db/DbTestSupport.h"
#include "records/Exclusao.h"
#include "records/UDLagrima.h"
#include "records/UDPedidosRis.h"
#include "tearfilm/TearFilm.h"

using namespace norvix;

namespace {

lagrima::TearFilmResult resultado(double primeira) {
    lagrima::TearFilmResult r;
    r.firstS = primeira;
    r.averageS = std::isnan(primeira) ? primeira : primeira + 3;
    r.recordedS = 14.5;
    r.fps = 30;
    r.breakS.assign(lagrima::kBands * lagrima::kGroups, lagrima::TearFilmResult::kNone);
    r.breakS[7] = primeira;
    r.brokenArea = {{0, 0}, {14.5, 12.5}};
    return r;
}

// A recording's bytes: every byte value, past a blob segment.
QByteArray gravacao() {
    QByteArray b;
    for (int i = 0; i < 70000; ++i) b.append(char(i * 7 % 256));
    return b;
}

class Lagrima : public dbtest::DbTest {
protected:
    // The table's columns as the engine describes them: name, type, sub type, length.
    QStringList colunas() {
        FbQuery& q = dm->openQuery(dm->IBOperation,
                                   "SELECT RF.RDB$FIELD_NAME AS NOME, F.RDB$FIELD_TYPE AS TIPO, "
                                   "COALESCE(F.RDB$FIELD_SUB_TYPE, 0) AS SUB, F.RDB$FIELD_LENGTH AS TAM, "
                                   "COALESCE(RF.RDB$NULL_FLAG, 0) AS NN FROM RDB$RELATION_FIELDS RF "
                                   "JOIN RDB$FIELDS F ON F.RDB$FIELD_NAME = RF.RDB$FIELD_SOURCE "
                                   "WHERE RF.RDB$RELATION_NAME = 'EXAMESLAGRIMA' ORDER BY RF.RDB$FIELD_POSITION");
        QStringList out;
        for (; !q.eof(); q.next())
            out << QStringLiteral("%1 %2 %3 %4 %5").arg(q.asString("NOME").trimmed()).arg(q.asInt("TIPO"))
                       .arg(q.asInt("SUB")).arg(q.asInt("TAM")).arg(q.asInt("NN"));
        q.close();
        out << QString::number(count("SELECT COUNT(*) FROM RDB$INDICES WHERE RDB$RELATION_NAME = 'EXAMESLAGRIMA'"));
        return out;
    }
    void dropTabela() {
        FbTransaction t(dm->IBDatabase);
        FbQuery q(t, "ddl", "DROP TABLE EXAMESLAGRIMA");
        q.execSql();
        t.commit();
    }
    int novoExame(int paciente, int medico, const QString& olho, const QTime& hora, double primeira = 6.2) {
        return DLagrima().Grava({paciente, medico, QDate(2026, 3, 4), hora, olho}, resultado(primeira), gravacao());
    }
};

}  // namespace

TEST_F(Lagrima, StoredWholeAndReadBackByPatientCodeAndEye) {
    const int p = insertPaciente("ANA"), outro = insertPaciente("BIA"), m = insertMedico("DR A");
    const int topografia = insertExame(p, m, QDate(2026, 3, 4), QTime(9, 0));
    const int a = novoExame(p, m, "OD", QTime(9, 0)), b = novoExame(p, m, "OD", QTime(10, 0), lagrima::TearFilmResult::kNone);
    const int c = novoExame(p, m, "OS", QTime(8, 0), 12.25);
    novoExame(outro, m, "OD", QTime(11, 0));
    EXPECT_GT(a, topografia);  // one code space with the topographies
    EXPECT_TRUE(a != b && b != c);

    QList<int> codigos;
    for (const TExameLagrima& e : DLagrima().SelectByPaciente(p)) codigos << e.codigo;
    EXPECT_EQ(codigos, QList<int>({b, a, c}));  // newest first
    EXPECT_TRUE(DLagrima().SelectByPaciente(p, m + 1).isEmpty());

    const auto e = DLagrima().SelectByCodigo(b);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->nomeMedico, "DR A");
    EXPECT_TRUE(std::isnan(e->primeira) && std::isnan(e->piscada));
    EXPECT_EQ(e->duracao, 14.5);
    EXPECT_EQ(e->area, 12.5);
    EXPECT_EQ(e->legenda(), "OD - 04/03/2026 10:00:00\nNIBUT sem ruptura");
    EXPECT_EQ(e->resultado, lagrima::toJson(resultado(lagrima::TearFilmResult::kNone)));
    EXPECT_EQ(DLagrima().SelectGravacao(b), gravacao());
    EXPECT_EQ(DLagrima().UltimoDoOlho(p, "OD")->codigo, b);
    EXPECT_EQ(DLagrima().UltimoDoOlho(p, "OS")->legenda(), "OS - 04/03/2026 08:00:00\nNIBUT 12,2 s");  // cut down, as beside its verdict
    EXPECT_FALSE(DLagrima().UltimoDoOlho(insertPaciente("SEM"), "OD"));

    // A patient gone meanwhile: nothing stored. Then deleting a patient takes its tear films.
    EXPECT_THROW(novoExame(9999, m, "OD", QTime(12, 0)), Error);
    dm->execProcedure("DELETE FROM Exames WHERE Codigo = :C", {{"C", topografia}});
    const TExclusao feito = ExcluiPaciente(p);
    EXPECT_EQ(feito.examesLagrima, 3);
    EXPECT_EQ(count("SELECT COUNT(*) FROM EXAMESLAGRIMA"), 1);
    EXPECT_EQ(DLagrima().CountByPaciente(outro), 1);
}

// A worklist order waits for the patient's next exam of the day it was chosen: the first saved
// takes it, a later one does not, an order of another day never does; it goes with the patient.
TEST_F(Lagrima, TheNextExamOfItsDayTakesTheWorklistOrder) {
    const int p = insertPaciente("ANA"), m = insertMedico("DR A");
    auto pedido = [&](int exame) { return DPedidosRis().DosExames({exame}).value_or(TPedidoRis{}).accession; };
    DPedidosRis().Escolhe({p, "RIS-1", "", "A1", "", "", "", "", QDate(2026, 3, 3), {}, 0});
    const int antes = novoExame(p, m, "OD", QTime(8, 0));
    DPedidosRis().Escolhe({p, "RIS-1", "", "A2", "", "", "", "", QDate(2026, 3, 4), {}, 0});  // replaces A1
    const int primeiro = novoExame(p, m, "OD", QTime(9, 0)), segundo = novoExame(p, m, "OS", QTime(9, 5));
    EXPECT_EQ(QStringList({pedido(antes), pedido(primeiro), pedido(segundo)}), QStringList({"", "A2", ""}));
    EXPECT_EQ(count("SELECT COUNT(*) FROM PEDIDOSRIS"), 1);
    ExcluiPaciente(p);
    EXPECT_EQ(count("SELECT COUNT(*) FROM PEDIDOSRIS"), 0);
}

TEST_F(Lagrima, AnOlderClinicDatabaseGetsTheTableAtOpenAsTheTemplateHasIt) {
    const QStringList modelo = colunas();
    ASSERT_EQ(modelo.size(), 15) << modelo.join('\n').toStdString();
    const int p = insertPaciente("ANA"), m = insertMedico("DR A");
    dropTabela();
    ASSERT_TRUE(dm->PSetDataBaseName(path));
    EXPECT_EQ(AvisoTabelaLagrima(), QString());
    EXPECT_EQ(colunas(), modelo);
    EXPECT_EQ(count("SELECT COUNT(*) FROM PACIENTES"), 1);  // nothing else touched
    const int a = novoExame(p, m, "OD", QTime(9, 0));
    // Opening again changes nothing: the row stays.
    ASSERT_TRUE(dm->PSetDataBaseName(path));
    EXPECT_EQ(AvisoTabelaLagrima(), QString());
    EXPECT_EQ(DLagrima().SelectGravacao(a), gravacao());
}

TEST_F(Lagrima, ADatabaseThatCannotTakeTheTableOpensAndSaysWhy) {
    insertPaciente("ANA");
    dropTabela();
    {
        // Another object holds the name: the engine refuses the table.
        FbTransaction t(dm->IBDatabase);
        FbQuery q(t, "ddl", "CREATE PROCEDURE EXAMESLAGRIMA AS BEGIN END");
        q.execSql();
        t.commit();
    }
    ASSERT_TRUE(dm->PSetDataBaseName(path));
    EXPECT_TRUE(AvisoTabelaLagrima().contains("filme lacrimal") && AvisoTabelaLagrima().contains("EXAMESLAGRIMA"))
        << AvisoTabelaLagrima().toStdString();
    EXPECT_EQ(count("SELECT COUNT(*) FROM PACIENTES"), 1);
}

TEST_F(Lagrima, TheBackupsDatabaseCopyCarriesTheExamWithItsRecording) {
    const int p = insertPaciente("ANA"), m = insertMedico("DR A");
    const int a = novoExame(p, m, "OS", QTime(9, 0));
    QList<std::pair<QString, QString>> arquivos;
    QString erro;
    ASSERT_TRUE(preparaCopiaBanco(*dm, dir.path(), dir.path() + "/copia", &arquivos, &erro)) << erro.toStdString();
    TDMPrincipal copia;
    ASSERT_TRUE(copia.PSetDataBaseName(dir.path() + "/copia/DATABASE.GDB"));
    EXPECT_EQ(DLagrima().SelectGravacao(a), gravacao());  // DMPrincipal() is now the copy
    EXPECT_EQ(DLagrima().SelectByCodigo(a)->resultado, lagrima::toJson(resultado(6.2)));
}

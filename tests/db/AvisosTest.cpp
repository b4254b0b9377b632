// Several workstations on one database, what the embedded engine can show of it: the diagnosis
// written only over the text that was shown, and the notices the triggers post at each commit
// (also added to a database made before them).
#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>

#include "DbTestSupport.h"
#include "records/UDExames.h"
#include "records/UDPacientes.h"

using namespace norvix;
using dbtest::DbTest;
using Close = TDMPrincipal::Close;

namespace {

class Estacoes : public DbTest {
protected:
    int exame() {
        const int p = insertPaciente("ANA");
        return insertExame(p, insertMedico("DR"), QDate(2024, 5, 6), QTime(9, 0, 0));
    }
    QString diag(int codigo) {
        return dm->selectString("SELECT Diag FROM Exames WHERE Codigo = :C", {{"C", codigo}}, "Diag", Close::Yes);
    }
};

TEST_F(Estacoes, DiagnosticoSoEGravadoSobreOTextoQueFoiMostrado) {
    struct Caso {
        const char* nome;
        FbValue gravado;  // what another station left in the row
        QString mostrado;
        bool grava;
    };
    const Caso casos[] = {
        {"mesmo texto", QStringLiteral("ceratocone"), QStringLiteral("ceratocone"), true},
        {"NULL mostrado vazio", FbValue(), QString(), true},
        {"vazio mostrado vazio", QString(), QString(), true},
        {"outro texto", QStringLiteral("ceratocone"), QStringLiteral("normal"), false},
        {"espaço a mais no fim", QStringLiteral("normal "), QStringLiteral("normal"), false},
        {"maiúsculas", QStringLiteral("Normal"), QStringLiteral("normal"), false},
        {"vazio e não NULL", QStringLiteral("x"), QString(), false},
    };
    const int codigo = exame();
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.nome);
        dm->execProcedure("UPDATE Exames SET Diag = :D, Observacao = :D WHERE Codigo = :C",
                          {{"D", c.gravado}, {"C", codigo}});
        const QString antes = diag(codigo);
        EXPECT_EQ(DExames().UpdateDiagExameSeInalterado(codigo, c.mostrado, "novo"), c.grava);
        EXPECT_EQ(DExames().UpdateObsExameSeInalterado(codigo, c.mostrado, "nova"), c.grava);
        dm->PDesconectionDataBase();  // what stands is what was committed
        dm->PConnectDataBase();
        EXPECT_EQ(diag(codigo), c.grava ? QStringLiteral("novo") : antes);
        EXPECT_EQ(dm->selectString("SELECT Observacao FROM Exames WHERE Codigo = :C", {{"C", codigo}}, "Observacao",
                                   Close::Yes),
                  c.grava ? QStringLiteral("nova") : antes);
    }
    EXPECT_FALSE(DExames().UpdateDiagExameSeInalterado(codigo + 1, QString(), "novo"));  // no such exam
}

TEST_F(Estacoes, CadaCommitQueTocaExamesOuPacientesEAvisado) {
    QSignalSpy exames(&dm->Avisos, &TAvisosBanco::examesAlterados);
    QSignalSpy pacientes(&dm->Avisos, &TAvisosBanco::pacientesAlterados);
    ASSERT_TRUE(dm->Avisos.ativo());
    QTest::qWait(300);  // the first delivery may bring what earlier sessions posted
    exames.clear();
    pacientes.clear();

    const int codigo = exame();  // patient, doctor and exam, each committed
    EXPECT_TRUE(QTest::qWaitFor([&] { return !exames.isEmpty() && !pacientes.isEmpty(); }, 5000));
    exames.clear();
    pacientes.clear();
    DExames().UpdateDiagExameByCodigo(codigo, "visto");
    EXPECT_TRUE(QTest::qWaitFor([&] { return !exames.isEmpty(); }, 5000));
    QTest::qWait(300);
    EXPECT_TRUE(pacientes.isEmpty());  // an exam's text is no patient's change

    // A write rolled back announces nothing.
    exames.clear();
    {
        TDMPrincipal::Batch lote(*dm);
        dm->execProcedure("UPDATE Exames SET Diag = 'desfeito'", {});
    }
    QTest::qWait(500);
    EXPECT_TRUE(exames.isEmpty());

    // Disconnected on purpose and connected again: listening again on the new attachment.
    dm->PDesconectionDataBase();
    EXPECT_FALSE(dm->Avisos.ativo());
    dm->PConnectDataBase();
    EXPECT_TRUE(dm->Avisos.ativo());
    QTest::qWait(300);
    pacientes.clear();
    insertPaciente("BIA");
    EXPECT_TRUE(QTest::qWaitFor([&] { return !pacientes.isEmpty(); }, 5000));
}

TEST_F(Estacoes, BancoAntigoGanhaOsGatilhosAoConectar) {
    const auto gatilhos = [this] {
        return count("SELECT COUNT(*) FROM RDB$TRIGGERS WHERE RDB$TRIGGER_NAME IN ('EXAMES_AVISA', 'PACIENTES_AVISA')");
    };
    ASSERT_EQ(gatilhos(), 2);  // a new database has them
    dm->execProcedure("DROP TRIGGER EXAMES_AVISA", {});
    dm->execProcedure("DROP TRIGGER PACIENTES_AVISA", {});
    ASSERT_EQ(gatilhos(), 0);
    dm->PDesconectionDataBase();
    dm->PConnectDataBase();
    EXPECT_EQ(gatilhos(), 2);
    EXPECT_TRUE(AvisoGatilhosAvisos().isEmpty());
}

}  // namespace

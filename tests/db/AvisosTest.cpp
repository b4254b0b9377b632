// Several workstations on one database, what the embedded engine can show of it: the diagnosis
// written only over the text that was shown, and the triggers that announce commits added to a
// database made before them (the notices themselves: ServidorTest).
#include "DbTestSupport.h"
#include "records/UDExames.h"
#include "records/UDPacientes.h"

using namespace norvix;
using dbtest::DbTest;
using Close = TDMPrincipal::Close;

namespace {

class Estacoes : public DbTest {
protected:
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
    const int codigo = insertExame(insertPaciente("ANA"), insertMedico("DR"), QDate(2024, 5, 6), QTime(9, 0, 0));
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
        EXPECT_EQ(count("SELECT COUNT(*) FROM Exames WHERE Observacao = 'nova'"), c.grava ? 1 : 0);
    }
    EXPECT_FALSE(DExames().UpdateDiagExameSeInalterado(codigo + 1, QString(), "novo"));  // no such exam
}

TEST_F(Estacoes, BancoAntigoGanhaOsGatilhosAoConectar) {
    const char* const gatilhos =
        "SELECT COUNT(*) FROM RDB$TRIGGERS WHERE RDB$TRIGGER_NAME IN ('EXAMES_AVISA', 'PACIENTES_AVISA')";
    ASSERT_EQ(count(gatilhos), 2);  // a new database has them
    dm->execProcedure("DROP TRIGGER EXAMES_AVISA", {});
    dm->execProcedure("DROP TRIGGER PACIENTES_AVISA", {});
    dm->PDesconectionDataBase();
    dm->PConnectDataBase();
    EXPECT_EQ(count(gatilhos), 2);
    EXPECT_TRUE(AvisoGatilhosAvisos().isEmpty());
}

}  // namespace

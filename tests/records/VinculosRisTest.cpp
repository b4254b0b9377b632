// The links between the RIS's patient IDs and the patients, on a fresh database: the order
// that decides the Patient ID sent, the refusals that keep one ID to one person, and a
// database made before the issuer and the moment were kept.
#include "db/DbTestSupport.h"
#include "records/ExameNovo.h"
#include "records/FbCursor.h"
#include "records/UDPacientesRis.h"

using namespace norvix;

namespace {

class Relogio1Min : public TRelogio {
public:
    QDateTime Agora() override { return agora = agora.addSecs(60); }
    void Espera(int) override {}
    QDateTime agora{QDate(2026, 5, 4), QTime(8, 0)};
};

class VinculosRis : public dbtest::DbTest {
protected:
    void SetUp() override {
        DbTest::SetUp();
        setRelogio(&relogio);
    }
    void TearDown() override {
        setRelogio(nullptr);
        DbTest::TearDown();
    }
    QStringList ids(int paciente) {
        QStringList out;
        for (const VinculoRis& v : DPacientesRis().Vinculos(paciente)) out << v.idRis + "/" + v.emissor;
        return out;
    }
    void ddl(const QString& sql) {
        FbTransaction t(dm->IBDatabase);
        FbQuery q(t, "ddl", sql);
        q.execSql();
        t.commit();
    }
    Relogio1Min relogio;
};

}  // namespace

TEST_F(VinculosRis, TheOldestLinkIsTheIdSentAndEveryRefusalChangesNothing) {
    const int ana = insertPaciente("ANA"), bia = insertPaciente("BIA");
    DPacientesRis().Vincula(ana, " Z-9 ", "HOSP");
    // Later and alphabetically first: still the second.
    DPacientesRis().Vincula(ana, "A-1", "", true);
    EXPECT_EQ(ids(ana), QStringList({"Z-9/HOSP", "A-1/"}));
    EXPECT_EQ(DPacientesRis().IdDoPaciente(ana), "Z-9");
    EXPECT_EQ(DPacientesRis().Vinculos(ana).value(0).vinculadoEm, QDateTime(QDate(2026, 5, 4), QTime(8, 1)));

    // Each refused: the ID, the patient, whether a further ID was confirmed, what the text says.
    const struct {
        const char* id;
        int paciente;
        bool confirmado;
        const char* diz;
    } recusas[] = {
        {"Z-9", bia, true, "outro paciente (código"},  // another person's ID is never moved
        {"B-5", ana, false, "já está ligado ao ID Z-9"},
        {"   ", bia, true, "vazio"},
    };
    for (const auto& r : recusas) {
        try {
            DPacientesRis().Vincula(r.paciente, r.id, "X", r.confirmado);
            ADD_FAILURE() << r.id;
        } catch (const DatabaseError& e) {
            EXPECT_TRUE(e.message().contains(QString::fromUtf8(r.diz))) << e.message().toStdString();
        }
    }
    DPacientesRis().Vincula(ana, "Z-9", "OUTRO");  // linked already: nothing changes
    EXPECT_EQ(ids(ana), QStringList({"Z-9/HOSP", "A-1/"}));
    EXPECT_TRUE(ids(bia).isEmpty());
    EXPECT_EQ(count("SELECT COUNT(*) FROM PacientesRis"), 2);

    DPacientesRis().Desvincula(bia, "Z-9");  // not hers: stays
    DPacientesRis().Desvincula(ana, "Z-9");
    EXPECT_EQ(ids(ana), QStringList({"A-1/"}));
    DPacientesRis().Vincula(bia, "Z-9", "");
    EXPECT_EQ(DPacientesRis().PacienteDoId("Z-9"), bia);

    // A link left by a patient deleted without it links nobody and gives way.
    dm->execProcedure("DELETE FROM Pacientes WHERE Codigo = :C", {{"C", ana}});
    EXPECT_EQ(DPacientesRis().PacienteDoId("A-1"), 0);
    DPacientesRis().Vincula(bia, "A-1", "", true);
    EXPECT_EQ(ids(bia), QStringList({"Z-9/", "A-1/"}));
}

TEST_F(VinculosRis, ADatabaseFromBeforeTheIssuerGainsTheColumnsAndKeepsItsLinksFirst) {
    const int ana = insertPaciente("ANA");
    ddl("ALTER TABLE PACIENTESRIS DROP EMISSOR");
    ddl("ALTER TABLE PACIENTESRIS DROP VINCULADOEM");
    dm->execProcedure("INSERT INTO PacientesRis (IdRis, CodPaciente) VALUES ('VELHO', :C)", {{"C", ana}});
    ASSERT_TRUE(dm->PSetDataBaseName(path));
    EXPECT_EQ(AvisoTabelaRis(), QString());
    DPacientesRis().Vincula(ana, "NOVO", "HOSP", true);
    const QList<VinculoRis> v = DPacientesRis().Vinculos(ana);
    ASSERT_EQ(v.size(), 2);
    EXPECT_EQ(v[0].idRis, "VELHO");
    EXPECT_FALSE(v[0].vinculadoEm.isValid());
    EXPECT_EQ(v[1].emissor, "HOSP");
    ASSERT_TRUE(dm->PSetDataBaseName(path));  // opening again changes nothing
    EXPECT_EQ(AvisoTabelaRis(), QString());
    EXPECT_EQ(DPacientesRis().IdDoPaciente(ana), "VELHO");
}

// The table access classes against a real database made from the schema, one fresh copy per
// test: statements, parameter types, what is committed and what is not, empty results, and
// the server's refusal of bad values reaching the caller with nothing half-written.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QTemporaryDir>
#include <memory>

#include "BitmapFixture.h"
#include "platform/ui/MessageSeam.h"
#include "records/UBJpeg.h"
#include "records/UDArquivos.h"
#include "records/UDExames.h"
#include "records/UDLaudos.h"
#include "records/UDMedicos.h"
#include "records/UDPacientes.h"
#include "records/UfrmDataModule.h"
#include "support/TestDatabase.h"

using namespace norvix;

namespace {

const QDate kData(2024, 5, 6);

class Banco : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        const QString caminho = makeTestDatabase(dir.path());
        ASSERT_FALSE(caminho.isEmpty());
        dm = std::make_unique<TDMPrincipal>();
        ASSERT_TRUE(dm->PSetDataBaseName(caminho));
    }
    void TearDown() override { dm.reset(); }

    int novoPaciente(const QString& nome, int totalExames = 0) {
        DPacientes().InsertPacientes(nome, "123", "12345678901", "F", "S", "", "01/02/1970",
                                     "Recife", "PE", "Pai", QStringLiteral("Mãe"), "Rua A", "",
                                     "Centro", "Olinda", "PE", "53000-000", "8133330000",
                                     "81999990000", "Particular", "Professora", "O+", kData,
                                     totalExames);
        return DPacientes().GenIdPacientes();
    }
    int novoMedico(const QString& nome, const QString& crm = "CRM 1") {
        DMedicos().InsertMedicos(nome, "1", "2", crm, "M", "C", "", "03/04/1960", "Natal", "RN",
                                 "P", "M", "Rua B", "", "Boa Vista", "Recife", "PE", "50000-000",
                                 "8132220000", "81988880000");
        return DMedicos().GenIdMedicos();
    }
    int novoExame(int pac, int med, const QTime& hora, const QString& olho = "OD") {
        DExames().InsertExames(pac, med, kData, hora, olho, 0.9, "T", "", "d", "o", 32, "1");
        return dm->selectInt("SELECT Codigo FROM Exames WHERE Exames.CodPaciente = :CodPac AND "
                             "Exames.CodResp = :CodMed AND Exames.Data = :Data AND "
                             "Exames.Hora = :Hora",
                             {{"CodPac", pac}, {"CodMed", med}, {"Data", kData}, {"Hora", hora}},
                             "Codigo", TDMPrincipal::Close::Yes);
    }
    QString coluna(const QString& tabela, int codigo, const QString& nome) {
        return dm->selectString("SELECT * FROM " + tabela + " WHERE Codigo = :Codigo",
                                {{"Codigo", codigo}}, nome, TDMPrincipal::Close::Yes);
    }
    // Drops what was not committed, as a crash or a failed session would.
    void reconecta() {
        dm->PDesconectionDataBase();
        dm->PConnectDataBase();
    }

    QTemporaryDir dir;
    std::unique_ptr<TDMPrincipal> dm;
};

}  // namespace

// ---- patients ----------------------------------------------------------------------------

TEST_F(Banco, PacienteInseridoEncontradoPorNomeExatoEPorCodigo) {
    EXPECT_EQ(DPacientes().GenIdPacientes(), 0);  // empty table
    EXPECT_EQ(DPacientes().CountPacientes(), 0);
    const int codigo = novoPaciente(QStringLiteral("JOÃO DA SILVA"));
    EXPECT_EQ(codigo, 1);
    EXPECT_EQ(DPacientes().CountPacientes(), 1);
    EXPECT_TRUE(dm->IBQueryPacientes.active());  // the commit reopened the patient list
    EXPECT_EQ(dm->IBQueryPacientes.recNo(), 0);
    EXPECT_EQ(DPacientes().SelectCodigoByNome(QStringLiteral("JOÃO DA SILVA")), codigo);
    EXPECT_FALSE(dm->IBOperation.active());  // this read closes the scratch cursor
    EXPECT_EQ(DPacientes().SelectCodigoByNome(QStringLiteral("João da Silva")), 0);
    EXPECT_EQ(DPacientes().SelectCodigoByNome(QStringLiteral("JOÃO")), 0);
    EXPECT_EQ(DPacientes().SelectNomeByCodigo(codigo), QStringLiteral("JOÃO DA SILVA"));
    EXPECT_TRUE(dm->IBOperation.active());  // this one leaves it open
    EXPECT_EQ(DPacientes().SelectNomeByCodigo(999), QString());
    EXPECT_EQ(DPacientes().SelectTotalExamesByCodigo(999), 0);
    EXPECT_EQ(coluna("Pacientes", codigo, "DtCadastro"), "06/05/2024");
}

TEST_F(Banco, PacienteAtualizadoEContadoresDeExames) {
    const int codigo = novoPaciente("ANA", 0);
    DPacientes().UpdatePacientesByCodigo(codigo, "ANA MARIA", "9", "1", "F", "C", "ZE", "x",
                                         "y", "SP", "a", "b", "c", "d", "e", "f", "SP", "g", "h",
                                         "i", "j", "k", "A-");
    EXPECT_EQ(DPacientes().SelectNomeByCodigo(codigo), "ANA MARIA");
    EXPECT_EQ(coluna("Pacientes", codigo, "TipoSang"), "A-");
    DPacientes().UpdateExamesPacientesByCodigo(codigo, "OD 06/05/2024 10:11:12", 3);
    EXPECT_FALSE(dm->IBOperation.active());
    reconecta();  // committed: survives a new transaction
    EXPECT_EQ(DPacientes().SelectTotalExamesByCodigo(codigo), 3);
    EXPECT_EQ(coluna("Pacientes", codigo, "UltimoExame"), "OD 06/05/2024 10:11:12");
    EXPECT_EQ(DPacientes().SelectNomeByCodigo(codigo), "ANA MARIA");  // texts kept
}

TEST_F(Banco, CodigoSemLinhaNaoAlteraOutrosPacientes) {
    const int codigo = novoPaciente("ANA", 1);
    DPacientes().UpdateExamesPacientesByCodigo(999, "OS 01/01/2024 00:00:00", 7);
    DPacientes().DeletePacientesByCodigo(999);
    EXPECT_EQ(DPacientes().CountPacientes(), 1);
    EXPECT_EQ(DPacientes().SelectTotalExamesByCodigo(codigo), 1);
    EXPECT_EQ(DPacientes().SelectCodigoByNome(""), 0);
}

TEST_F(Banco, PacientesSemExamesNaoContaNulo) {
    EXPECT_FALSE(DPacientes().ExistemPacientesSemExames());
    novoPaciente("A", 0);
    novoPaciente("B", 0);
    const int c = novoPaciente("C", 2);
    const int d = novoPaciente("D", 0);
    dm->execProcedure("UPDATE Pacientes SET TotalExames = NULL WHERE Codigo = :Codigo",
                      {{"Codigo", d}});
    EXPECT_EQ(DPacientes().CountPacientesSemExames(), 2);
    EXPECT_TRUE(DPacientes().ExistemPacientesSemExames());
    DPacientes().DeletePacientesByCodigo(c);
    EXPECT_EQ(DPacientes().CountPacientes(), 3);
    EXPECT_EQ(DPacientes().GenIdPacientes(), 4);  // the generator does not go back
}

TEST_F(Banco, TextoMaiorQueAColunaChegaAoChamadorSemGravarNada) {
    const int codigo = novoPaciente("ANA");
    const QString longo(51, QChar('X'));
    EXPECT_THROW(novoPaciente(longo), DatabaseError);
    EXPECT_THROW(DPacientes().UpdatePacientesByCodigo(codigo, longo, "", "", "", "", "", "", "",
                                                      "", "", "", "", "", "", "", "", "", "",
                                                      "", "", "", ""),
                 DatabaseError);
    EXPECT_THROW(DPacientes().UpdateExamesPacientesByCodigo(codigo, QString(51, 'u'), 1),
                 DatabaseError);
    reconecta();
    EXPECT_EQ(DPacientes().CountPacientes(), 1);
    EXPECT_EQ(DPacientes().SelectNomeByCodigo(codigo), "ANA");
    EXPECT_EQ(DPacientes().SelectTotalExamesByCodigo(codigo), 0);
}

// ---- doctors -----------------------------------------------------------------------------

TEST_F(Banco, MedicoInseridoAtualizadoEExcluido) {
    EXPECT_EQ(DMedicos().GenIdMedicos(), 0);
    const int codigo = novoMedico(QStringLiteral("DR. JOSÉ"));
    EXPECT_EQ(DMedicos().SelectCodigoByNome(QStringLiteral("DR. JOSÉ")), codigo);
    EXPECT_FALSE(dm->IBOperation.active());
    EXPECT_EQ(DMedicos().SelectCodigoByNome(QStringLiteral("dr. josé")), 0);
    EXPECT_EQ(DMedicos().SelectNomeByCodigo(codigo), QStringLiteral("DR. JOSÉ"));
    EXPECT_EQ(DMedicos().SelectNomeByCodigo(codigo + 1), QString());
    EXPECT_EQ(DMedicos().CountMedicos(), 1);
    DMedicos().UpdateMedicosByCodigo(codigo, "DR. JOSE", "1", "2", "CRM 9", "M", "C", "", "",
                                     "", "", "", "", "", "", "", "", "", "", "", "");
    EXPECT_EQ(coluna("Medicos", codigo, "Crm"), "CRM 9");
    EXPECT_THROW(novoMedico("DR. X", QString(16, '9')), DatabaseError);  // CRM is 15 wide
    EXPECT_EQ(DMedicos().CountMedicos(), 1);
    DMedicos().DeleteMedicosByCodigo(codigo);
    EXPECT_EQ(DMedicos().CountMedicos(), 0);
}

TEST_F(Banco, AtivaTabelaAbreEFechaOCursorDosMedicos) {
    novoMedico("A");
    DMedicos().AtivaTabela(false);
    EXPECT_FALSE(dm->IBMedicos.active());
    DMedicos().AtivaTabela(true);
    EXPECT_TRUE(dm->IBMedicos.active());
    EXPECT_EQ(dm->IBMedicos.asString("Nome"), "A");
}

// ---- exams -------------------------------------------------------------------------------

TEST_F(Banco, ExamesContadosPorMedicoEPaciente) {
    const int p1 = novoPaciente("P1"), p2 = novoPaciente("P2");
    const int m1 = novoMedico("M1"), m2 = novoMedico("M2");
    const int e1 = novoExame(p1, m1, QTime(10, 0, 0));
    novoExame(p1, m1, QTime(10, 0, 1), "OS");
    novoExame(p2, m1, QTime(10, 0, 0));
    novoExame(p2, m2, QTime(11, 0, 0));
    EXPECT_EQ(e1, 1);
    EXPECT_EQ(DExames().CountExames(), 4);
    EXPECT_TRUE(dm->IBOperation.active());
    EXPECT_EQ(DExames().CountExamesByMedico(m1), 3);
    EXPECT_FALSE(dm->IBOperation.active());
    EXPECT_EQ(DExames().CountExamesByMedicoPaciente(m1, p1), 2);
    EXPECT_EQ(DExames().CountExamesByMedicoPaciente(m2, p1), 0);
    EXPECT_EQ(DExames().SelectCodRespByCodigo(e1), m1);
    EXPECT_EQ(DExames().SelectCodRespByCodigo(999), 0);
    EXPECT_EQ(DExames().GenIdExames(), 4);
    EXPECT_EQ(coluna("Exames", e1, "NumAnel"), "32");
    DExames().DeleteExamesByCodigo(e1);
    EXPECT_EQ(DExames().CountExames(), 3);
}

// The exam workflow and the report editor pass the clock's time, milliseconds and all; the
// row must be found again with the same second however the milliseconds differ.
TEST_F(Banco, HoraGravadaSemMilissegundosEEncontradaPeloSegundo) {
    const int p = novoPaciente("P"), m = novoMedico("M");
    const QTime relogio(12, 34, 56, 789);
    DExames().InsertExames(p, m, kData, relogio, "OD", 0.9, "T", "", "d", "o", 32, "1");
    DLaudos().InsertLaudos(p, 1, -1, "", kData, relogio);
    for (const char* tabela : {"Exames", "Laudos"}) {
        const QString sql = QStringLiteral("SELECT COUNT(*) FROM %1 WHERE CodPaciente = :P AND "
                                           "Data = :Data AND Hora = :Hora")
                                .arg(tabela);
        for (const QTime& busca : {QTime(12, 34, 56, 1), QTime(12, 34, 56), relogio})
            EXPECT_EQ(dm->selectInt(sql, {{"P", p}, {"Data", kData}, {"Hora", busca}}, "COUNT",
                                    TDMPrincipal::Close::Yes),
                      1)
                << tabela << " " << busca.toString("HH:mm:ss.zzz").toStdString();
        EXPECT_EQ(dm->selectInt(sql, {{"P", p}, {"Data", kData}, {"Hora", QTime(12, 34, 57)}},
                                "COUNT", TDMPrincipal::Close::Yes),
                  0);
        EXPECT_EQ(coluna(tabela, 1, "Hora"), "12:34:56");
    }
    EXPECT_EQ(dm->openQuery(dm->IBOperation, "SELECT Hora FROM Exames").asTime("Hora"),
              QTime(12, 34, 56));
}

TEST_F(Banco, MarcasDeBackupSoFicamComOProximoCommit) {
    const int p = novoPaciente("P"), m = novoMedico("M");
    const int e1 = novoExame(p, m, QTime(9, 0, 0));
    const int e2 = novoExame(p, m, QTime(9, 0, 1));
    EXPECT_EQ(DExames().CountExamesSemBackup(), 2);
    DExames().UpdateBackupExameByCodigo(e1, "BK1");
    EXPECT_FALSE(dm->IBOperation.active());
    EXPECT_EQ(DExames().CountExamesSemBackup(), 1);  // visible inside the transaction
    reconecta();                                       // not committed: gone
    EXPECT_EQ(DExames().CountExamesSemBackup(), 2);

    DExames().UpdateBackupExameByCodigo(e1, "BK1");
    DExames().UpdateBackupExameByCodigo(e2, "BK1");
    dm->PCommitDataBase();
    EXPECT_EQ(DExames().CountExamesSemBackup(), 0);
    EXPECT_TRUE(DExames().ZeraBackupExames());
    EXPECT_EQ(DExames().CountExamesSemBackup(), DExames().CountExames());
    reconecta();
    EXPECT_EQ(DExames().CountExamesSemBackup(), 0);  // Zera does not commit either
}

TEST_F(Banco, ZeraBackupSemConexaoDevolveFalsoSemMensagem) {
    RecordingMessageSeam mensagens;
    dm->PDesconectionDataBase();
    EXPECT_FALSE(DExames().ZeraBackupExames());
    EXPECT_FALSE(DLaudos().ZeraBackupLaudos());
    EXPECT_TRUE(mensagens.messages.empty());
}

TEST_F(Banco, DiagnosticoObservacaoEOrtoceratologia) {
    const int p = novoPaciente("P"), m = novoMedico("M");
    const int e = novoExame(p, m, QTime(9, 0, 0));
    DExames().UpdateDiagExameByCodigo(e, QStringLiteral("ceratocone"));
    DExames().UpdateObsExameByCodigo(e, QStringLiteral("observação"));
    EXPECT_THROW(DExames().UpdateDiagExameByCodigo(e, QString(241, 'd')), DatabaseError);
    EXPECT_THROW(DExames().UpdateObsExameByCodigo(e, QString(241, 'o')), DatabaseError);
    reconecta();
    EXPECT_EQ(coluna("Exames", e, "Diag"), "ceratocone");
    EXPECT_EQ(coluna("Exames", e, "Observacao"), QStringLiteral("observação"));

    DExames().InsertExamesOrto(e, 1.2345, 0, 7.8, 0.5);
    EXPECT_EQ(dm->selectDouble("SELECT Raio FROM ExamesOrto WHERE CodExame = :C", {{"C", e}},
                               "Raio", TDMPrincipal::Close::Yes),
              7.8);
    DExames().DeleteExamesOrtoByCodigoExame(e);
    EXPECT_EQ(dm->selectInt("SELECT COUNT(*) FROM ExamesOrto", {}, "COUNT",
                            TDMPrincipal::Close::Yes),
              0);
}

TEST_F(Banco, NavegadorDeExamesSoAndaQuandoAberto) {
    const int p = novoPaciente("P"), m = novoMedico("M");
    const int e1 = novoExame(p, m, QTime(9, 0, 0));
    const int e2 = novoExame(p, m, QTime(9, 0, 1));
    DExames().UpdateBackupExameByCodigo(e1, "BK");  // only e2 is left without a mark

    TDExames navegador;
    navegador.Navegar("Backup", "", "");
    EXPECT_FALSE(dm->IBQueryExames.active());
    EXPECT_EQ(navegador.CodigoAtual(), 0);

    navegador.AbreNavegador().Navegar("Backup", "", "");
    EXPECT_EQ(navegador.CodigoAtual(), e2);
    EXPECT_EQ(navegador.CodPacienteAtual(), p);
    navegador.Navegar("Backup", "", "Next");  // already on the last row
    EXPECT_EQ(navegador.CodigoAtual(), e2);

    navegador.Navegar("CodPaciente", QString::number(p), "");
    const int primeiro = navegador.CodigoAtual();
    navegador.Navegar("CodPaciente", "", "Next");
    EXPECT_NE(navegador.CodigoAtual(), primeiro);
    navegador.Navegar("CodPaciente", "", "Prior");
    EXPECT_EQ(navegador.CodigoAtual(), primeiro);
    navegador.Navegar("CodPaciente", "", "Last");  // unknown command: stays
    EXPECT_EQ(navegador.CodigoAtual(), primeiro);

    EXPECT_THROW(navegador.Navegar("Backup=Backup OR 1", "", ""), Error);
    navegador.FechaNavegador();
    EXPECT_FALSE(dm->IBQueryExames.active());
    EXPECT_EQ(navegador.CodigoAtual(), 0);
    EXPECT_EQ(navegador.CodPacienteAtual(), 0);
}

// ---- reports -----------------------------------------------------------------------------

TEST_F(Banco, LaudosPorExameConformeOOlho) {
    const int p = novoPaciente("P"), m = novoMedico("M");
    const int od = novoExame(p, m, QTime(9, 0, 0), "OD");
    const int os = novoExame(p, m, QTime(9, 0, 1), "OS");
    DLaudos().InsertLaudos(p, od, -1, "", kData, QTime(12, 0, 0));
    DLaudos().InsertLaudos(p, od, os, "", kData, QTime(12, 0, 1));
    DLaudos().InsertLaudos(p, -1, os, "", kData, QTime(12, 0, 2));
    EXPECT_EQ(DLaudos().CountLaudos(), 3);
    EXPECT_EQ(DLaudos().GenIdLaudos(), 3);
    EXPECT_FALSE(dm->IBOperation.active());
    EXPECT_EQ(DLaudos().CountLaudosByExame(od, "OD"), 2);
    EXPECT_EQ(DLaudos().CountLaudosByExame(od, "Direito"), 2);
    EXPECT_EQ(DLaudos().CountLaudosByExame(od, "OS"), 0);  // a right-eye exam in MEDIDAOS: none
    EXPECT_EQ(DLaudos().CountLaudosByExame(os, "Esquerdo"), 2);
    EXPECT_EQ(DLaudos().CountLaudosByExame(-1, "OS"), 1);
    EXPECT_THROW(DLaudos().CountLaudosByExame(od, "od"), Error);
    EXPECT_THROW(DLaudos().DeleteLaudosByExame(od, ""), Error);
    EXPECT_EQ(DLaudos().CountLaudos(), 3);

    DLaudos().DeleteLaudosByExame(od, "OD");
    reconecta();  // each deletion was committed
    EXPECT_EQ(DLaudos().CountLaudos(), 1);
    EXPECT_EQ(DLaudos().CountLaudosByExame(os, "OS"), 1);
    DLaudos().DeleteLaudosByExame(12345, "OS");  // nothing to delete
    EXPECT_EQ(DLaudos().CountLaudos(), 1);
}

TEST_F(Banco, BackupDosLaudosENavegador) {
    const int p = novoPaciente("P");
    for (int i = 0; i < 3; ++i) DLaudos().InsertLaudos(p, -1, -1, "", kData, QTime(8, 0, i));
    DLaudos().UpdateBackupLaudoByCodigo(1, "B1");
    EXPECT_EQ(DLaudos().CountLaudosSemBackup(), 2);
    reconecta();
    EXPECT_EQ(DLaudos().CountLaudosSemBackup(), 3);
    DLaudos().UpdateBackupLaudoByCodigo(1, "B1");
    DLaudos().UpdateBackupLaudoByCodigo(2, "B1");
    dm->PCommitDataBase();

    TDLaudos navegador;
    navegador.AbreNavegador().Navegar("Backup", "", "");
    EXPECT_EQ(navegador.CodigoAtual(), 3);
    EXPECT_EQ(navegador.CodPacienteAtual(), p);
    navegador.Navegar("Backup", "", "Next");
    EXPECT_EQ(navegador.CodigoAtual(), 3);
    navegador.FechaNavegador();
    EXPECT_FALSE(dm->IBQueryLaudos.active());
    EXPECT_EQ(navegador.CodigoAtual(), 0);

    EXPECT_TRUE(DLaudos().ZeraBackupLaudos());
    EXPECT_EQ(DLaudos().CountLaudosSemBackup(), DLaudos().CountLaudos());
    DLaudos().DeleteLaudosByCodigo(3);
    EXPECT_EQ(DLaudos().CountLaudos(), 2);
}

TEST_F(Banco, FrasesPorCaixaEGrupo) {
    const char* frases[][4] = {{"1", "CE", "1", "boa fixação"}, {"2", "CE", "2", "pupila"},
                               {"3", "DS", "1", "normal"},      {"4", "CE", "1", "#1-x# ok"},
                               {"5", "CE", "1", ""}};
    dm->execProcedure("DELETE FROM LaudosTexto");  // the template ships a catalogue
    for (const auto& f : frases)
        dm->execProcedure("INSERT INTO LaudosTexto (Codigo, Local, PosCaixa, Texto) "
                          "VALUES (:C, :L, :P, :T)",
                          {{"C", QString(f[0]).toInt()}, {"L", f[1]}, {"P", QString(f[2]).toInt()},
                           {"T", QString::fromUtf8(f[3])}});
    const QList<TFraseLaudo> ce1 = DLaudos().SelectFrases("CE", 1);
    ASSERT_EQ(ce1.size(), 3);
    EXPECT_EQ(ce1[0].Codigo, 1);
    EXPECT_EQ(ce1[0].Texto, QStringLiteral("boa fixação"));
    EXPECT_EQ(ce1[1].Texto, "#1-x# ok");
    EXPECT_EQ(ce1[2].Texto, "");
    EXPECT_EQ(DLaudos().SelectFrases("DS", 1).size(), 1);
    EXPECT_TRUE(DLaudos().SelectFrases("CO", 1).isEmpty());
    EXPECT_TRUE(DLaudos().SelectFrases("C'E", 1).isEmpty());  // quote stays inside the literal
    // The filter is gone afterwards: the cursor shows the whole catalogue.
    EXPECT_TRUE(dm->IBLaudosTexto.active());
    EXPECT_EQ(dm->IBLaudosTexto.recordCount(), 5);
}

// ---- stored images -----------------------------------------------------------------------

TEST_F(Banco, ImagensGuardadasInteirasEDevolvidasDoInicio) {
    const int p = novoPaciente("P"), m = novoMedico("M");
    const int e = novoExame(p, m, QTime(9, 0, 0));
    QBuffer bitmap;
    bitmap.setData(teste::bitmap(640, 480, 32));
    bitmap.open(QIODevice::ReadOnly);
    QBuffer central;
    central.open(QIODevice::ReadWrite);
    TBJpeg().CompactaImagem(bitmap, 50)->SaveToStream(central);  // left at its end
    const QByteArray jpeg = central.data();
    QBuffer lateral;
    lateral.open(QIODevice::ReadWrite);
    DArquivos().InsertArquivos(e, central, lateral);

    QBuffer c2, l2;
    c2.setData("conteúdo anterior que deve sumir");
    c2.open(QIODevice::ReadWrite);
    c2.seek(5);
    DArquivos().SelectImagensByExame(e, c2, l2);
    EXPECT_EQ(c2.data(), jpeg);
    EXPECT_EQ(c2.pos(), 0);
    EXPECT_TRUE(l2.data().isEmpty());
    EXPECT_TRUE(l2.isOpen());
    EXPECT_FALSE(dm->IBOperation.active());
    ASSERT_TRUE(TBJpeg().DescompactaImagem(c2));
    EXPECT_EQ(qFromLittleEndian<quint32>(c2.data().constData() + 18), 640u);
    EXPECT_EQ(qFromLittleEndian<quint32>(c2.data().constData() + 22), 480u);
    EXPECT_FALSE(TBJpeg().DescompactaImagem(l2));
}

TEST_F(Banco, ExameSemImagensOuSemLinha) {
    QBuffer vazio1, vazio2;
    vazio1.open(QIODevice::ReadOnly);
    vazio2.open(QIODevice::ReadOnly);
    DArquivos().InsertArquivos(7, vazio1, vazio2);
    EXPECT_EQ(dm->selectInt("SELECT COUNT(*) FROM Arquivos WHERE Codigo_Exames = 7", {}, "COUNT",
                            TDMPrincipal::Close::Yes),
              1);
    QBuffer c, l;
    c.setData("x");
    l.setData("y");
    DArquivos().SelectImagensByExame(7, c, l);
    EXPECT_TRUE(c.data().isEmpty());
    EXPECT_TRUE(l.data().isEmpty());
    c.setData("x");  // closed again by nobody: setData works only on a closed buffer
    c.close();
    c.setData("x");
    DArquivos().SelectImagensByExame(8, c, l);  // no row at all
    EXPECT_TRUE(c.data().isEmpty());
    EXPECT_FALSE(TBJpeg().DescompactaImagem(c));
}

// ---- every written column read back ----------------------------------------------------------
// Each column gets a value that no other column of the row has, so an access operation that
// binds two arguments the other way round (same type, same width) fails here.

namespace {

using Linha = std::vector<std::pair<QString, QVariant>>;

QVariant valor(const Linha& linha, const QString& coluna) {
    for (const auto& [nome, v] : linha)
        if (nome == coluna) return v;
    ADD_FAILURE() << "coluna " << coluna.toStdString() << " fora da tabela do teste";
    return {};
}
QString texto(const Linha& linha, const char* coluna) {
    return valor(linha, QString::fromLatin1(coluna)).toString();
}

// The row of `tabela` whose `chave` is `codigo`, compared column by column with `esperado`.
void confere(TDMPrincipal& dm, const QString& tabela, const QString& chave, int codigo,
             const Linha& esperado) {
    FbQuery& q = dm.openQuery(dm.IBOperation,
                              "SELECT * FROM " + tabela + " WHERE " + chave + " = :C",
                              {{"C", codigo}});
    ASSERT_FALSE(q.isEmpty()) << tabela.toStdString() << " " << codigo;
    for (const auto& [coluna, v] : esperado)
        EXPECT_TRUE(q.value(coluna) == v)
            << tabela.toStdString() << "." << coluna.toStdString() << " = \""
            << fbValueText(q.value(coluna)).toStdString() << "\", esperado \""
            << fbValueText(v).toStdString() << "\"";
    q.close();
}

const Linha kPaciente = {
    {"NOME", "NOME DO PACIENTE"}, {"RG", "RG-11"}, {"CPF", "CPF-12"}, {"SEXO", "F"},
    {"ESTADOCIVIL", "D"}, {"CONJUGE", "CONJUGE-13"}, {"DATANASCIMENTO", "01/02/1970"},
    {"NATURALIDADE", "NATURALIDADE-14"}, {"NATURALIDADEESTADO", "RN"}, {"PAI", "PAI-15"},
    {"MAE", QStringLiteral("MÃE-16")}, {"RUA", "RUA-17"}, {"COMPLEMENTO", "COMPLEMENTO-18"},
    {"BAIRRO", "BAIRRO-19"}, {"CIDADE", "CIDADE-20"}, {"ESTADO", "PE"}, {"CEP", "50000-021"},
    {"FONE", "FONE-22"}, {"CELULAR", "CELULAR-23"}, {"CONVENIO", "CONVENIO-24"},
    {"PROFISSAO", "PROFISSAO-25"}, {"TIPOSANG", "AB-"}};

const Linha kMedico = {
    {"NOME", "NOME DO MEDICO"}, {"RG", "RG-31"}, {"CPF", "CPF-32"}, {"CRM", "CRM-33"},
    {"SEXO", "M"}, {"ESTADOCIVIL", "C"}, {"CONJUGE", "CONJUGE-34"},
    {"DATANASCIMENTO", "03/04/1960"}, {"NATURALIDADE", "NATURALIDADE-35"},
    {"NATURALIDADEESTADO", "SP"}, {"PAI", "PAI-36"}, {"MAE", "MAE-37"}, {"RUA", "RUA-38"},
    {"COMPLEMENTO", "COMPLEMENTO-39"}, {"BAIRRO", "BAIRRO-40"}, {"CIDADE", "CIDADE-41"},
    {"ESTADO", "BA"}, {"CEP", "40000-042"}, {"FONE", "FONE-43"}, {"CELULAR", "CELULAR-44"}};

Linha com(Linha linha, const Linha& mais) {
    linha.insert(linha.end(), mais.begin(), mais.end());
    return linha;
}

}  // namespace

TEST_F(Banco, PacienteInseridoEAlteradoColunaPorColuna) {
    const Linha& l = kPaciente;
    DPacientes().InsertPacientes(
        texto(l, "NOME"), texto(l, "RG"), texto(l, "CPF"), texto(l, "SEXO"),
        texto(l, "ESTADOCIVIL"), texto(l, "CONJUGE"), texto(l, "DATANASCIMENTO"),
        texto(l, "NATURALIDADE"), texto(l, "NATURALIDADEESTADO"), texto(l, "PAI"),
        texto(l, "MAE"), texto(l, "RUA"), texto(l, "COMPLEMENTO"), texto(l, "BAIRRO"),
        texto(l, "CIDADE"), texto(l, "ESTADO"), texto(l, "CEP"), texto(l, "FONE"),
        texto(l, "CELULAR"), texto(l, "CONVENIO"), texto(l, "PROFISSAO"), texto(l, "TIPOSANG"),
        QDate(2023, 7, 8), 9);
    confere(*dm, "Pacientes", "Codigo", 1,
            com(l, {{"CODIGO", 1}, {"CODMEDICO", 0}, {"DTCADASTRO", QDate(2023, 7, 8)},
                    {"TOTALEXAMES", 9}, {"ULTIMOEXAME", QVariant()}, {"ENCAMINHADO", QVariant()}}));

    // An update replaces the 22 texts of another patient and keeps its date and counters.
    const int outro = novoPaciente("OUTRO", 4);
    DPacientes().UpdatePacientesByCodigo(
        outro, texto(l, "NOME"), texto(l, "RG"), texto(l, "CPF"), texto(l, "SEXO"),
        texto(l, "ESTADOCIVIL"), texto(l, "CONJUGE"), texto(l, "DATANASCIMENTO"),
        texto(l, "NATURALIDADE"), texto(l, "NATURALIDADEESTADO"), texto(l, "PAI"),
        texto(l, "MAE"), texto(l, "RUA"), texto(l, "COMPLEMENTO"), texto(l, "BAIRRO"),
        texto(l, "CIDADE"), texto(l, "ESTADO"), texto(l, "CEP"), texto(l, "FONE"),
        texto(l, "CELULAR"), texto(l, "CONVENIO"), texto(l, "PROFISSAO"), texto(l, "TIPOSANG"));
    DPacientes().UpdateExamesPacientesByCodigo(outro, "OS 06/05/2024 10:11:12", 5);
    confere(*dm, "Pacientes", "Codigo", outro,
            com(l, {{"DTCADASTRO", kData}, {"TOTALEXAMES", 5},
                    {"ULTIMOEXAME", "OS 06/05/2024 10:11:12"}}));
}

TEST_F(Banco, MedicoInseridoEAlteradoColunaPorColuna) {
    const Linha& l = kMedico;
    DMedicos().InsertMedicos(
        texto(l, "NOME"), texto(l, "RG"), texto(l, "CPF"), texto(l, "CRM"), texto(l, "SEXO"),
        texto(l, "ESTADOCIVIL"), texto(l, "CONJUGE"), texto(l, "DATANASCIMENTO"),
        texto(l, "NATURALIDADE"), texto(l, "NATURALIDADEESTADO"), texto(l, "PAI"),
        texto(l, "MAE"), texto(l, "RUA"), texto(l, "COMPLEMENTO"), texto(l, "BAIRRO"),
        texto(l, "CIDADE"), texto(l, "ESTADO"), texto(l, "CEP"), texto(l, "FONE"),
        texto(l, "CELULAR"));
    confere(*dm, "Medicos", "Codigo", 1, com(l, {{"CODIGO", 1}}));

    const int outro = novoMedico("OUTRO");
    DMedicos().UpdateMedicosByCodigo(
        outro, texto(l, "NOME"), texto(l, "RG"), texto(l, "CPF"), texto(l, "CRM"),
        texto(l, "SEXO"), texto(l, "ESTADOCIVIL"), texto(l, "CONJUGE"),
        texto(l, "DATANASCIMENTO"), texto(l, "NATURALIDADE"), texto(l, "NATURALIDADEESTADO"),
        texto(l, "PAI"), texto(l, "MAE"), texto(l, "RUA"), texto(l, "COMPLEMENTO"),
        texto(l, "BAIRRO"), texto(l, "CIDADE"), texto(l, "ESTADO"), texto(l, "CEP"),
        texto(l, "FONE"), texto(l, "CELULAR"));
    confere(*dm, "Medicos", "Codigo", outro, l);
}

TEST_F(Banco, ExameOrtoceratologiaLaudoEImagensColunaPorColuna) {
    // Codes that differ from one another: patient 2, doctor 3, exam 1.
    novoPaciente("P1");
    const int p = novoPaciente("P2");
    novoMedico("M1");
    novoMedico("M2");
    const int m = novoMedico("M3");
    const QTime hora(7, 8, 9);
    DExames().InsertExames(p, m, kData, hora, "OS", 0.8125, "O", "BK-51", "DIAG-52", "OBS-53",
                           32, "54");
    confere(*dm, "Exames", "Codigo", 1,
            {{"CODIGO", 1}, {"CODPACIENTE", p}, {"CODRESP", m}, {"DATA", kData}, {"HORA", hora},
             {"OLHO", "OS"}, {"INDCONF", 0.8125}, {"TIPOEXAME", "O"}, {"BACKUP", "BK-51"},
             {"DIAG", "DIAG-52"}, {"OBSERVACAO", "OBS-53"}, {"NUMANEL", 32}, {"TIPOCONE", "54"}});

    DExames().InsertExamesOrto(1, 1.25, 2.5, 7.75, -0.5);
    confere(*dm, "ExamesOrto", "CodExame", 1,
            {{"CODEXAME", 1}, {"DIV", 1.25}, {"EXC", 2.5}, {"RAIO", 7.75}, {"SAG", -0.5}});

    DLaudos().InsertLaudos(p, 5, 6, "BK-61", QDate(2024, 8, 9), QTime(10, 11, 12));
    confere(*dm, "Laudos", "Codigo", 1,
            {{"CODIGO", 1}, {"CODPACIENTE", p}, {"MEDIDAOD", 5}, {"MEDIDAOS", 6},
             {"BACKUP", "BK-61"}, {"DATA", QDate(2024, 8, 9)}, {"HORA", QTime(10, 11, 12)}});

    QBuffer central, lateral;
    central.setData("imagem central");
    lateral.setData("imagem lateral");
    DArquivos().InsertArquivos(1, central, lateral);
    confere(*dm, "Arquivos", "Codigo_Exames", 1,
            {{"CODIGO_EXAMES", 1}, {"IMAGEM_CENTRAL", QByteArray("imagem central")},
             {"IMAGEM_LATERAL", QByteArray("imagem lateral")}});
    QBuffer c, l;
    DArquivos().SelectImagensByExame(1, c, l);
    EXPECT_EQ(c.data(), "imagem central");
    EXPECT_EQ(l.data(), "imagem lateral");
}

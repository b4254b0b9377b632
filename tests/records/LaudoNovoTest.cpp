// Storing a new report against a real database: the row and l.txt stand or fall together
// (a full disk, a refused row, a leftover file of the same name), and the file is exactly what
// the report writer makes of the boxes.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <memory>

#include "config/SharedRecords.h"
#include "records/LaudoNovo.h"
#include "records/UArquivosExame.h"
#include "records/UDPacientes.h"
#include "records/UfrmDataModule.h"
#include "support/TestDatabase.h"

using namespace norvix;

namespace {

struct FullDisk : TCamadaArquivos {
    FullDisk() { setCamadaArquivos(this); }
    ~FullDisk() override { setCamadaArquivos(nullptr); }
    void GravaAtomico(const QString& path, const QByteArray&) override {
        throw ArquivoExameError(QStringLiteral("Não foi possível gravar o arquivo %1 (disco cheio).").arg(path));
    }
};

class LaudoNovo : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        const QString caminho = makeTestDatabase(dir.path());
        ASSERT_FALSE(caminho.isEmpty());
        dm = std::make_unique<TDMPrincipal>();
        ASSERT_TRUE(dm->PSetDataBaseName(caminho));
        resetSharedRecords();
        setRecordText(paths().Laudos, dir.path() + "/Laudos");
        DPacientes().InsertPacientes("Ana", "", "", "F", "S", "", "", "", "", "", "", "", "", "", "", "", "", "", "",
                                     "", "", "", QDate(2024, 1, 2), 0);
        paciente = DPacientes().GenIdPacientes();
        laudo.paciente = paciente;
        laudo.medidaOD = 17;
        laudo.data = QDate(2025, 3, 14);
        laudo.hora = QTime(10, 20, 30);
        laudo.caixas = {"Sem uso de lentes #1-há 7 dias# #2#", "Astigmatismo #1-regular#\nlinha 2", "", "Conclusão",
                        ""};
    }
    void TearDown() override { dm.reset(); }
    int laudos() { return dm->selectInt("SELECT COUNT(*) FROM Laudos", {}, "COUNT", TDMPrincipal::Close::Yes); }
    QString pastaPaciente() const { return dir.path() + "/Laudos/" + QString::number(paciente); }

    QTemporaryDir dir;
    std::unique_ptr<TDMPrincipal> dm;
    int paciente = 0;
    TLaudoNovo laudo;
};

}  // namespace

TEST_F(LaudoNovo, RowAndFileTogether) {
    const int codigo = GravaLaudoNovo(laudo);
    ASSERT_GT(codigo, 0);
    EXPECT_EQ(laudos(), 1);
    auto& q = dm->openQuery(dm->IBOperation, "SELECT * FROM Laudos WHERE Codigo = :C", {{"C", codigo}});
    EXPECT_EQ(q.asInt("CodPaciente"), paciente);
    EXPECT_EQ(q.asInt("MedidaOD"), 17);
    EXPECT_EQ(q.asInt("MedidaOS"), -1);
    EXPECT_EQ(q.asString("Backup"), "");
    EXPECT_EQ(q.asDate("Data"), laudo.data);
    EXPECT_EQ(q.asTime("Hora"), laudo.hora);
    q.close();
    QFile f(CaminhoLaudo(QString::number(paciente), QString::number(codigo)));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray conteudo = f.readAll();
    EXPECT_EQ(conteudo, TextoLaudo(laudo.caixas));
    EXPECT_TRUE(conteudo.startsWith("Sem uso de lentes h\xE1 7 dias \r\n@\r\nAstigmatismo regular\r\nlinha 2\r\n@"));
    // A second report gets a code of its own.
    EXPECT_GT(GravaLaudoNovo(laudo), codigo);
}

TEST_F(LaudoNovo, AFullDiskLeavesNoRowAndNoFolder) {
    {
        FullDisk disco;
        EXPECT_THROW(GravaLaudoNovo(laudo), ArquivoExameError);
    }
    EXPECT_EQ(laudos(), 0);
    EXPECT_FALSE(QDir(pastaPaciente()).exists());
    // The database is usable afterwards, and the next save stands.
    EXPECT_GT(GravaLaudoNovo(laudo), 0);
    EXPECT_EQ(laudos(), 1);
}

TEST_F(LaudoNovo, ARefusedRowLeavesNoFile) {
    laudo.paciente = paciente + 100;  // no such patient: the foreign key refuses the row
    EXPECT_THROW(GravaLaudoNovo(laudo), Error);
    EXPECT_EQ(laudos(), 0);
    EXPECT_FALSE(QDir(dir.path() + "/Laudos/" + QString::number(laudo.paciente)).exists());
}

TEST_F(LaudoNovo, ALeftoverFileOfTheSameNameIsNeitherReplacedNorTaken) {
    const int proximo = dm->selectInt("SELECT GEN_ID(Codigo_Laudos, 0) + 1 AS N FROM RDB$DATABASE", {}, "N",
                                      TDMPrincipal::Close::Yes);
    QDir().mkpath(pastaPaciente());
    const QString velho = CaminhoLaudo(QString::number(paciente), QString::number(proximo));
    QFile f(velho);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("antigo");
    f.close();
    EXPECT_THROW(GravaLaudoNovo(laudo), ArquivoExameError);
    EXPECT_EQ(laudos(), 0);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), "antigo");
}

// The clinic tools on real installations: the demonstration clinic a new installation gets
// (read back through the records layer, the exam loader and the JPEG unpacking), what the tool
// refuses to touch, and the large clinic of the benchmarks at a small size.
#include <QBuffer>
#include <QCryptographicHash>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>
#include <map>
#include <memory>

#include "DemoInstallation.h"
#include "records/UBJpeg.h"
#include "records/UDArquivos.h"
#include "records/UDExames.h"
#include "records/UDMedicos.h"
#include "records/UDPacientes.h"
#include "records/UfrmDataModule.h"
#include "reports/UBMapOperation.h"

using namespace norvix;

namespace {

const QString kNome50 = QStringLiteral("Antônio Carlos de Albuquerque Cavalcanti Magalhães");

struct Execucao {
    int codigo = -1;
    QString saida;
};

Execucao roda(const QString& programa, const QStringList& args,
              const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(programa, args);
    Execucao e;
    if (p.waitForFinished(300000) && p.exitStatus() == QProcess::NormalExit) e.codigo = p.exitCode();
    e.saida = QString::fromUtf8(p.readAll());
    return e;
}

QString bin(const char* nome) { return qEnvironmentVariable("NORVIX_BIN_DIR") + QLatin1Char('/') + QLatin1String(nome); }

// The setup script once more over the installation, the clinic not switched off.
Execucao preparaDeNovo(const DemoInstallation& demo) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("NORVIX_ROOT", demo.root());
    env.insert("NORVIX_DEMO_EXAMPLES", "0");
    return roda("bash", {qEnvironmentVariable("NORVIX_SOURCE_DIR") + "/scripts/prepare-demo.sh",
                         qEnvironmentVariable("NORVIX_BIN_DIR") + "/.."},
                env);
}

// Every file under a folder (relative path -> hash of its bytes).
std::map<QString, QByteArray> arquivosEm(const QString& pasta) {
    std::map<QString, QByteArray> m;
    QDirIterator it(pasta, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString caminho = it.next();
        QFile f(caminho);
        if (f.open(QIODevice::ReadOnly))
            m[caminho.mid(pasta.size())] = QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
    }
    return m;
}

QByteArray hashDe(const QString& arquivo) {
    QFile f(arquivo);
    return f.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256) : QByteArray();
}

// The database read through the program's data module, disconnected at the end of the scope
// (the embedded engine lets one process at a time open the file).
struct Banco {
    explicit Banco(const QString& arquivo) { ok = dm.PSetDataBaseName(arquivo); }
    int conta(const QString& sql, const FbParams& params = {}) { return dm.selectInt(sql, params, "COUNT", TDMPrincipal::Close::Yes); }
    TDMPrincipal dm;
    bool ok = false;
};

// Every row of the clinic's tables, as one hash: attaching alone rewrites the file's header, so
// "nothing changed" is said of the rows.
QByteArray linhasDoBanco(const QString& arquivo) {
    Banco b(arquivo);
    EXPECT_TRUE(b.ok);
    QCryptographicHash h(QCryptographicHash::Sha256);
    for (const char* sql : {"SELECT * FROM Medicos ORDER BY Codigo", "SELECT * FROM Pacientes ORDER BY Codigo",
                            "SELECT * FROM Exames ORDER BY Codigo", "SELECT * FROM ExamesOrto ORDER BY CodExame",
                            "SELECT * FROM Arquivos ORDER BY Codigo_Exames"}) {
        FbQuery& q = b.dm.openQuery(b.dm.IBOperation, QString::fromLatin1(sql));
        for (; !q.eof(); q.next()) {
            for (int c = 0; c < q.fieldCount(); ++c) {
                const QVariant v = q.value(c);
                h.addData(v.typeId() == QMetaType::QByteArray ? v.toByteArray() : v.toString().toUtf8());
                h.addData("|");
            }
        }
        q.close();
    }
    return h.result();
}

struct ExameLido {
    int codigo, paciente, medico;
    QDate data;
    QTime hora;
    QString olho, tipo, diag, tipoCone, backup;
    int aneis;
};

std::vector<ExameLido> exames(Banco& b) {
    std::vector<ExameLido> v;
    FbQuery& q = b.dm.openQuery(b.dm.IBOperation, "SELECT * FROM Exames ORDER BY Data, Hora, Codigo");
    for (; !q.eof(); q.next())
        v.push_back({q.asInt("CODIGO"), q.asInt("CODPACIENTE"), q.asInt("CODRESP"), q.asDate("DATA"), q.asTime("HORA"),
                     q.asString("OLHO"), q.asString("TIPOEXAME"), q.asString("DIAG"), q.asString("TIPOCONE"),
                     q.asString("BACKUP"), q.asInt("NUMANEL")});
    q.close();
    return v;
}

// Each patient's TOTALEXAMES counts its rows, and ULTIMOEXAME names its newest exam as the
// new-exam step writes it ("OD dd/MM/yyyy HH:mm:ss"); a patient without exams has neither.
void confereContadores(Banco& b, const std::vector<ExameLido>& lista) {
    std::map<int, int> total;
    std::map<int, const ExameLido*> primeiro, ultimo;
    for (const ExameLido& e : lista) {
        ++total[e.paciente];
        if (!primeiro[e.paciente]) primeiro[e.paciente] = &e;
        ultimo[e.paciente] = &e;  // the list runs in date and time order
    }
    FbQuery& q = b.dm.openQuery(b.dm.IBOperation, "SELECT Codigo, TotalExames, UltimoExame, DtCadastro FROM Pacientes");
    for (; !q.eof(); q.next()) {
        const int codigo = q.asInt("CODIGO");
        EXPECT_EQ(q.asInt("TOTALEXAMES"), total[codigo]) << codigo;
        const ExameLido* e = ultimo[codigo];
        EXPECT_EQ(q.asString("ULTIMOEXAME"),
                  e ? e->olho + " " + e->data.toString("dd/MM/yyyy") + " " + e->hora.toString("HH:mm:ss") : QString())
            << codigo;
        if (e) {
            EXPECT_LE(q.asDate("DTCADASTRO"), primeiro[codigo]->data) << codigo;
        }
    }
    q.close();
}

// The exam is the only one the new-exam step's lookup (patient, doctor, date, time) finds.
int achadosPelaBusca(Banco& b, const ExameLido& e) {
    return b.conta("SELECT COUNT(*) FROM Exames WHERE CodPaciente=:P AND CodResp=:M AND Data=:D AND Hora=:H",
                   {{"P", e.paciente}, {"M", e.medico}, {"D", e.data}, {"H", e.hora}});
}

// The exam's three files load as the browser loads them, and its central image unpacks to the
// 640 x 480 frame; the lateral image was not kept.
void confereArquivosEImagens(const QString& pastaExames, int paciente, int exame) {
    TBMapOperation leitor;
    QString erro;
    ASSERT_TRUE(leitor.Load(QStringLiteral("%1/%2/%3").arg(pastaExames).arg(paciente).arg(exame), true, &erro))
        << exame << ": " << erro.toStdString();
    EXPECT_GT(leitor.Meridianos()[0], 20) << exame;
    EXPECT_GT(leitor.M()[0][5], 6.0) << exame;
    EXPECT_LT(leitor.M()[0][5], 9.0) << exame;
    QBuffer central, lateral;
    DArquivos().SelectImagensByExame(exame, central, lateral);
    EXPECT_EQ(lateral.size(), 0) << exame;
    ASSERT_TRUE(TBJpeg().DescompactaImagem(central)) << exame;
    const TBitmapPixels bmp = LeBitmapWindows(central.data());
    EXPECT_EQ(bmp.Largura, 640);
    EXPECT_EQ(bmp.Altura, 480);
}

// Mean axial radius (mm) of rings 3 to 12 near the vertical and near the horizontal meridians.
std::pair<double, double> raiosVerticalHorizontal(const QString& pastaExames, int paciente, int exame) {
    TBMapOperation leitor;
    EXPECT_TRUE(leitor.Load(QStringLiteral("%1/%2/%3").arg(pastaExames).arg(paciente).arg(exame), true));
    double soma[2] = {0, 0};
    int n[2] = {0, 0};
    for (int k = 0; k < 360; ++k) {
        const int desvio = std::min(k % 180, 180 - k % 180);  // degrees from the horizontal
        const int lado = desvio >= 75 ? 0 : (desvio <= 15 ? 1 : -1);
        if (lado < 0) continue;
        for (int anel = 3; anel <= 12; ++anel, ++n[lado]) soma[lado] += leitor.M()[k][anel];
    }
    return {soma[0] / n[0], soma[1] / n[1]};
}

class ClinicaDemo : public ::testing::Test {
protected:
    static void SetUpTestSuite() { demo_ = new DemoInstallation(false, true); }
    static void TearDownTestSuite() {
        delete demo_;
        demo_ = nullptr;
    }
    static DemoInstallation* demo_;
};
DemoInstallation* ClinicaDemo::demo_ = nullptr;

TEST_F(ClinicaDemo, NovaInstalacaoTemOsRegistrosComoONovoExameOsGrava) {
    ASSERT_TRUE(demo_->ok()) << demo_->scriptOutput().toStdString();
    Banco b(demo_->database());
    ASSERT_TRUE(b.ok);
    EXPECT_EQ(DMedicos().CountMedicos(), 3);
    EXPECT_EQ(DPacientes().CountPacientes(), 12);
    EXPECT_EQ(DPacientes().CountPacientesSemExames(), 3);

    // Names kept whole: accents, apostrophes, and all 50 characters of the column.
    const int longo = DPacientes().SelectCodigoByNome(kNome50);
    ASSERT_NE(longo, 0);
    EXPECT_EQ(kNome50.size(), 50);
    EXPECT_EQ(DPacientes().SelectNomeByCodigo(longo), kNome50);
    EXPECT_NE(DPacientes().SelectCodigoByNome("Maria das Graças Sant'Anna"), 0);
    EXPECT_NE(DPacientes().SelectCodigoByNome("João Pedro D'Ávila"), 0);

    const std::vector<ExameLido> lista = exames(b);
    ASSERT_GE(lista.size(), 20u);
    confereContadores(b, lista);
    const QDate hoje = QDate::currentDate();
    std::map<QString, int> olhos;
    int comDiagnostico = 0;
    for (const ExameLido& e : lista) {
        EXPECT_EQ(e.tipo, "T");
        EXPECT_EQ(e.aneis, 32);
        EXPECT_EQ(e.tipoCone, "4");
        EXPECT_EQ(e.backup, "");
        EXPECT_TRUE(e.data <= hoje && e.data >= hoje.addDays(-731)) << e.data.toString().toStdString();
        EXPECT_EQ(achadosPelaBusca(b, e), 1);
        ++olhos[e.olho];
        comDiagnostico += !e.diag.isEmpty();
        confereArquivosEImagens(demo_->exams(), e.paciente, e.codigo);
    }
    EXPECT_GT(olhos["OD"], 0);
    EXPECT_GT(olhos["OS"], 0);
    EXPECT_GT(comDiagnostico, 0);
    EXPECT_LT(comDiagnostico, int(lista.size()));
    EXPECT_GT(lista.front().data.daysTo(lista.back().data), 600);  // spread over two years
    for (int medico = 1; medico <= 3; ++medico) EXPECT_GT(DExames().CountExamesByMedico(medico), 0);
}

TEST_F(ClinicaDemo, AsCorneasSaoAsQueODiagnosticoDescreve) {
    ASSERT_TRUE(demo_->ok());
    Banco b(demo_->database());
    ASSERT_TRUE(b.ok);
    auto primeiroExame = [&](const char* nome) {
        const int paciente = DPacientes().SelectCodigoByNome(QString::fromUtf8(nome));
        const int exame = b.dm.selectInt("SELECT MIN(Codigo) AS Codigo FROM Exames WHERE CodPaciente=:P",
                                         {{"P", paciente}}, "CODIGO", TDMPrincipal::Close::Yes);
        return raiosVerticalHorizontal(demo_->exams(), paciente, exame);
    };
    // With the rule: the vertical meridian steeper (smaller radius); against it, the horizontal.
    const auto [vAFavor, hAFavor] = primeiroExame("José Antônio da Conceição");
    EXPECT_LT(vAFavor + 0.2, hAFavor);
    const auto [vContra, hContra] = primeiroExame("Maria das Graças Sant'Anna");
    EXPECT_GT(vContra, hContra + 0.2);
    const auto [vNormal, hNormal] = primeiroExame("Ana Beatriz Gonçalves");
    EXPECT_NEAR(vNormal, hNormal, 0.15);
    EXPECT_GT((vNormal + hNormal) / 2, 7.5);
    const auto [vCurva, hCurva] = primeiroExame("Thiago Araújo Leão");
    EXPECT_LT((vCurva + hCurva) / 2, 7.2);  // above 47 D
}

TEST_F(ClinicaDemo, OutraPreparacaoEOProprioProgramaNaoMudamNada) {
    ASSERT_TRUE(demo_->ok());
    const QByteArray linhas = linhasDoBanco(demo_->database());
    const QByteArray banco = hashDe(demo_->database());
    const auto arquivos = arquivosEm(demo_->exams());
    ASSERT_GT(arquivos.size(), 60u);

    // The script does not even open the database it finds.
    const Execucao script = preparaDeNovo(*demo_);
    ASSERT_EQ(script.codigo, 0) << script.saida.toStdString();
    EXPECT_EQ(hashDe(demo_->database()), banco);
    EXPECT_EQ(arquivosEm(demo_->exams()), arquivos);

    const Execucao ferramenta = roda(bin("mkclinica"), {demo_->root()});
    EXPECT_EQ(ferramenta.codigo, 1);
    EXPECT_TRUE(ferramenta.saida.contains("já tem pacientes, médicos ou exames")) << ferramenta.saida.toStdString();
    EXPECT_EQ(linhasDoBanco(demo_->database()), linhas);
    EXPECT_EQ(arquivosEm(demo_->exams()), arquivos);
}

TEST(ClinicaDemoRecusa, ArquivoDeExameDeOutraInstalacaoNaoESubstituido) {
    DemoInstallation demo;  // its database stays empty
    ASSERT_TRUE(demo.ok()) << demo.scriptOutput().toStdString();
    const QString antigo = demo.exams() + "/1/1d.txt";
    QDir().mkpath(demo.exams() + "/1");
    {
        QFile f(antigo);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("03.26 \r\n");
    }
    const auto antes = arquivosEm(demo.exams());

    const Execucao ferramenta = roda(bin("mkclinica"), {demo.root()});
    EXPECT_EQ(ferramenta.codigo, 1);
    EXPECT_TRUE(ferramenta.saida.contains("já existe e não foi substituído")) << ferramenta.saida.toStdString();
    EXPECT_EQ(arquivosEm(demo.exams()), antes);  // nothing of this run left behind
    {
        Banco b(demo.database());
        ASSERT_TRUE(b.ok);
        EXPECT_EQ(DPacientes().CountPacientes() + DMedicos().CountMedicos() + DExames().CountExames(), 0);
    }

    // A new database made beside that file: the script says the clinic was left out, and the
    // installation is ready all the same.
    ASSERT_TRUE(QFile::remove(demo.database()));
    const Execucao script = preparaDeNovo(demo);
    EXPECT_EQ(script.codigo, 0) << script.saida.toStdString();
    EXPECT_TRUE(script.saida.contains("a clínica de demonstração não foi criada")) << script.saida.toStdString();
    EXPECT_EQ(arquivosEm(demo.exams()), antes);
    Banco b(demo.database());
    ASSERT_TRUE(b.ok);
    EXPECT_EQ(DPacientes().CountPacientes(), 0);
}

TEST(ClinicaGrande, PequenaMasCoerenteComoAGrande) {
    DemoInstallation demo;
    ASSERT_TRUE(demo.ok()) << demo.scriptOutput().toStdString();
    const QStringList args = {"--pacientes", "300", "--exames", "1200", "--com-arquivos", "12", demo.root()};
    const Execucao primeira = roda(bin("mkclinica_grande"), args);
    ASSERT_EQ(primeira.codigo, 0) << primeira.saida.toStdString();

    // Forced writes are back on when the tool is done.
    const Execucao estado = roda("fbstat", {"-h", demo.database()});
    EXPECT_TRUE(estado.saida.contains("force write")) << estado.saida.toStdString();
    {
        Banco b(demo.database());
        ASSERT_TRUE(b.ok);
        EXPECT_EQ(DPacientes().CountPacientes(), 300);
        EXPECT_EQ(DMedicos().CountMedicos(), 12);
        EXPECT_EQ(DExames().CountExames(), 1200);
        const std::vector<ExameLido> lista = exames(b);
        confereContadores(b, lista);
        for (const ExameLido& e : lista) EXPECT_EQ(achadosPelaBusca(b, e), 1) << e.codigo;
        // Orthokeratology: one EXAMESORTO row per exam, four captures per eye a second apart.
        const int ortos = b.conta("SELECT COUNT(*) FROM Exames WHERE TipoExame='O'");
        EXPECT_GT(ortos, 0);
        EXPECT_EQ(ortos % 8, 0);
        EXPECT_EQ(b.conta("SELECT COUNT(*) FROM ExamesOrto O JOIN Exames E ON E.Codigo=O.CodExame AND E.TipoExame='O' "
                          "WHERE O.Exc=0 AND O.Raio>7"),
                  ortos);
        for (int medico = 1; medico <= 12; ++medico) EXPECT_GT(DExames().CountExamesByMedico(medico), 0) << medico;
        EXPECT_LE(lista.back().data, QDate::currentDate());

        // Exactly the exams with an ARQUIVOS row have their files.
        std::vector<std::pair<int, int>> comArquivos;
        FbQuery& q = b.dm.openQuery(b.dm.IBOperation, "SELECT E.Codigo, E.CodPaciente, E.TipoExame FROM Arquivos A "
                                                      "JOIN Exames E ON E.Codigo=A.Codigo_Exames");
        for (; !q.eof(); q.next()) {
            EXPECT_EQ(q.asString("TIPOEXAME"), "T");
            comArquivos.emplace_back(q.asInt("CODPACIENTE"), q.asInt("CODIGO"));
        }
        q.close();
        ASSERT_EQ(comArquivos.size(), 12u);
        for (const auto& [paciente, exame] : comArquivos) confereArquivosEImagens(demo.exams(), paciente, exame);
        EXPECT_EQ(arquivosEm(demo.exams()).size(), 36u);
    }

    const QByteArray linhas = linhasDoBanco(demo.database());
    const Execucao segunda = roda(bin("mkclinica_grande"), args);
    EXPECT_EQ(segunda.codigo, 1);
    EXPECT_TRUE(segunda.saida.contains("já tem pacientes, médicos ou exames")) << segunda.saida.toStdString();
    EXPECT_EQ(linhasDoBanco(demo.database()), linhas);
}

}  // namespace

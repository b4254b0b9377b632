// The records store on the embedded engine:
//  1. one exam stored as the workflow stores it (exam row, code lookup, images, patient
//     counters), each write committed at once, against the same statements in one
//     transaction with a single commit;
//  2. the prefix search of patient names over 100,000 patients with the UPPER index against
//     the same search with that index inactive.
// Usage: bench_store_db [template.gdb]
#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "records/UBJpeg.h"
#include "records/UDArquivos.h"
#include "records/UDExames.h"
#include "records/UDMedicos.h"
#include "records/UDPacientes.h"
#include "records/UfrmDataModule.h"
#include "tests/records/BitmapFixture.h"

using namespace norvix;
using Commit = TDMPrincipal::Commit;
using Close = TDMPrincipal::Close;

namespace {

constexpr int kExames = 40;
const QDate kData(2025, 3, 4);

const char* const kBusca =
    "SELECT Codigo,Nome,Rg,TotalExames FROM Pacientes WHERE Upper(nome) like '%1%' "
    "ORDER BY Nome ASC";

QString copia(const QString& modelo, const QString& pasta, const QString& nome) {
    const QString caminho = pasta + "/" + nome;
    if (!QFile::copy(modelo, caminho)) {
        std::fprintf(stderr, "não foi possível copiar %s\n", qPrintable(modelo));
        std::exit(1);
    }
    QFile::setPermissions(caminho, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return caminho;
}

int codigoDoExame(TDMPrincipal& dm, int pac, int med, const QTime& hora) {
    return dm.selectInt("SELECT Codigo FROM Exames WHERE Exames.CodPaciente = :CodPac AND "
                        "Exames.CodResp = :CodMed AND Exames.Data = :Data AND Exames.Hora = :Hora",
                        {{"CodPac", pac}, {"CodMed", med}, {"Data", kData}, {"Hora", hora}},
                        "Codigo", Close::Yes);
}

// Exams stored one write, one commit, as the workflow does. Returns ms per exam.
double examesComCommit(TDMPrincipal& dm, int pac, int med, QBuffer& c, QBuffer& l, int inicio) {
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < kExames; ++i) {
        const QTime hora = QTime(0, 0).addSecs(inicio + i);
        DExames().InsertExames(pac, med, kData, hora, "OD", 0.9, "T", "", "", "", 32, "1");
        const int codigo = codigoDoExame(dm, pac, med, hora);
        DArquivos().InsertArquivos(codigo, c, l);
        DPacientes().UpdateExamesPacientesByCodigo(pac, "OD 04/03/2025 " + hora.toString("HH:mm:ss"),
                                                   inicio + i + 1);
    }
    return double(t.nsecsElapsed()) / 1e6 / kExames;
}

// The same statements in one transaction, committed once at the end.
double examesNumaTransacao(TDMPrincipal& dm, int pac, int med, const QByteArray& c,
                           const QByteArray& l, int inicio) {
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < kExames; ++i) {
        const QTime hora = QTime(0, 0).addSecs(inicio + i);
        dm.execProcedure("Execute Procedure InsertExames :CodPaciente,:CodResp,:Data,:Hora,:Olho,"
                         ":IndConf,:TipoExame,:Backup,:Diag,:Observacao,:NumAneis,:TipoCone",
                         {{"CodPaciente", pac}, {"CodResp", med}, {"Data", kData}, {"Hora", hora},
                          {"Olho", "OD"}, {"IndConf", 0.9}, {"TipoExame", "T"}, {"Backup", ""},
                          {"Diag", ""}, {"Observacao", ""}, {"NumAneis", 32}, {"TipoCone", "1"}},
                         Commit::No);
        const int codigo = codigoDoExame(dm, pac, med, hora);
        dm.execProcedure("Execute Procedure InsertArquivos  :Codigo_Exames,:Imagem_Central,"
                         ":Imagem_Lateral",
                         {{"Codigo_Exames", codigo}, {"Imagem_Central", c}, {"Imagem_Lateral", l}},
                         Commit::No);
        dm.execProcedure("Execute Procedure UpdateExamesPacientesByCodigo :Codigo,:UltimoExame,"
                         ":TotalExames",
                         {{"Codigo", pac}, {"UltimoExame", "OD 04/03/2025 " + hora.toString("HH:mm:ss")},
                          {"TotalExames", inicio + i + 1}},
                         Commit::No, Close::Yes);
    }
    dm.PCommitDataBase();
    return double(t.nsecsElapsed()) / 1e6 / kExames;
}

void preenchePacientes(TDMPrincipal& dm) {
    // One statement on the server: the numbers 0..99999 from five tables of digits, 100,000
    // rows in a few seconds. Names in mixed case, so that only the upper-cased comparison
    // finds them.
    QString digitos = QStringLiteral("(SELECT 0 AS n FROM RDB$DATABASE");
    for (int d = 1; d < 10; ++d)
        digitos += QStringLiteral(" UNION ALL SELECT %1 FROM RDB$DATABASE").arg(d);
    digitos += QLatin1Char(')');
    const QString i = QStringLiteral("(a.n + 10 * b.n + 100 * c.n + 1000 * d.n + 10000 * e.n)");
    dm.execProcedure(
        "INSERT INTO Pacientes (Codigo, CodMedico, Nome, Rg, TotalExames) "
        "SELECT GEN_ID(Codigo_Pacientes, 1), 0, "
        "DECODE(MOD(" + i + ", 5), 0, 'Ana', 1, 'Bruno', 2, 'Carla', 3, 'Diogo', 'Érica') || "
        "' da Silva ' || CAST(MOD(" + i + " * 7919, 100000) AS VARCHAR(10)), 'rg', 0 FROM " +
        digitos + " a, " + digitos + " b, " + digitos + " c, " + digitos + " d, " + digitos +
        " e");
}

// Median ms of one search (open and read every row) over several prefixes.
double busca(TDMPrincipal& dm, int* linhas, QString* plano) {
    const char* prefixos[] = {"CARLA DA SILVA 12", "ANA DA SILVA 345", "BRUNO DA SILVA 9",
                              "DIOGO DA SILVA 4711", "ÉRICA DA SILVA 80"};
    std::vector<double> tempos;
    *linhas = 0;
    for (int r = 0; r < 5; ++r) {
        for (const char* p : prefixos) {
            QElapsedTimer t;
            t.start();
            FbQuery& q = dm.openQuery(dm.IBQueryBuscaPac, QString::fromLatin1(kBusca)
                                                                .arg(QString::fromUtf8(p)));
            const int n = q.recordCount();
            tempos.push_back(double(t.nsecsElapsed()) / 1e6);
            if (r == 0) *linhas += n;
            if (plano->isEmpty()) *plano = q.plan();
            q.close();
        }
    }
    std::sort(tempos.begin(), tempos.end());
    return tempos[tempos.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString modelo = argc > 1 ? QString::fromLocal8Bit(argv[1])
                                    : QStringLiteral(NORVIX_TEMPLATE_DB_DEFAULT);
    QTemporaryDir pasta;

    // 1. Exam storage.
    {
        TDMPrincipal dm;
        if (!dm.PSetDataBaseName(copia(modelo, pasta.path(), "exames.gdb"))) return 1;
        DPacientes().InsertPacientes("P", "", "", "F", "S", "", "", "", "", "", "", "", "", "",
                                     "", "", "", "", "", "", "", "", kData, 0);
        const int pac = DPacientes().GenIdPacientes();
        DMedicos().InsertMedicos("M", "", "", "", "M", "C", "", "", "", "", "", "", "", "", "",
                                 "", "", "", "", "");
        const int med = DMedicos().GenIdMedicos();
        QBuffer bmp;
        bmp.setData(teste::bitmap(640, 480, 32));
        bmp.open(QIODevice::ReadOnly);
        const QByteArray jpeg = TBJpeg().CompactaImagem(bmp, 50)->Dados();
        QBuffer c, l;
        c.setData(jpeg);
        l.setData(jpeg);
        c.open(QIODevice::ReadOnly);
        l.open(QIODevice::ReadOnly);
        examesComCommit(dm, pac, med, c, l, 0);  // warm-up
        const double cada = examesComCommit(dm, pac, med, c, l, 1000);
        const double junto = examesNumaTransacao(dm, pac, med, jpeg, jpeg, 2000);
        std::printf("one exam stored (insert, code lookup, two %lld-byte images, patient update), "
                    "each write committed: %.2f ms per exam; same statements in one "
                    "transaction: %.2f ms; ratio %.2f\n",
                    static_cast<long long>(jpeg.size()), cada, junto, cada / junto);
    }

    // 2. Prefix search over 100,000 patients.
    QElapsedTimer t;
    t.start();
    const QString comIndice = copia(modelo, pasta.path(), "busca.gdb");
    {
        TDMPrincipal dm;
        if (!dm.PSetDataBaseName(comIndice)) return 1;
        preenchePacientes(dm);
    }
    const double preenchimento = double(t.elapsed()) / 1e3;
    const QString semIndice = pasta.path() + "/busca-sem-indice.gdb";
    QFile::copy(comIndice, semIndice);
    QString planoCom, planoSem;
    int linhasCom = 0, linhasSem = 0;
    double tempoCom = 0, tempoSem = 0;
    {
        TDMPrincipal dm;
        if (!dm.PSetDataBaseName(semIndice)) return 1;
        dm.execProcedure("ALTER INDEX IX_PACIENTES_NOME_UPPER INACTIVE");
        tempoSem = busca(dm, &linhasSem, &planoSem);
    }
    {
        TDMPrincipal dm;
        if (!dm.PSetDataBaseName(comIndice)) return 1;
        tempoCom = busca(dm, &linhasCom, &planoCom);
    }
    std::printf("%d patients inserted in %.1f s\n", 100000, preenchimento);
    std::printf("prefix search of patient names (%d rows over 5 prefixes): with the UPPER index "
                "%.2f ms, without it %.2f ms; ratio %.3f (%.0fx faster)\n",
                linhasCom, tempoCom, tempoSem, tempoCom / tempoSem, tempoSem / tempoCom);
    std::printf("  plan with index: %s\n  plan without:    %s\n", qPrintable(planoCom.simplified()),
                qPrintable(planoSem.simplified()));
    return linhasCom == linhasSem ? 0 : 1;
}

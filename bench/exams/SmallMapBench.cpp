// Selecting an exam in the exam browser while its panel shows, with "Automático" ticked (the
// exam's files read and the axial module's small map drawn), against the same selection with
// the box clear (the baseline: lookup, doctor and panel only). Two exams are selected in turn,
// so the small map is drawn at every selection; each figure includes the repaint.
// Usage: bench_exams_smallmap [template.gdb]
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "config/SharedRecords.h"
#include "exams/UfrmExames.h"
#include "records/UArquivosExame.h"
#include "records/UfrmDataModule.h"
#include "reports/UBMapOperation.h"

using namespace norvix;

namespace {

constexpr int kRounds = 40;

void fail(const char* what) {
    std::fprintf(stderr, "bench_exams_smallmap: %s\n", what);
    std::exit(1);
}

// The three files of a sphere of 7.8 mm on 32 rings.
void writeExam(int patient, int exam) {
    struct Tables {
        TMatrizAngAnel m, d;
    };
    auto t = std::make_unique<Tables>();
    TMatrizAng meridians{};
    for (int k = 0; k < 360; ++k) {
        meridians[k] = 32;
        for (int i = 0; i <= 32; ++i) {
            t->m[k][i] = 7.8;
            t->d[k][i] = 0.3 + 0.13 * i;
        }
    }
    const TPupila pupil = {0, 0, 0, 0};
    GravaArquivoM(patient, exam, t->m);
    GravaArquivoD(patient, exam, t->d);
    GravaArquivoA(patient, exam, meridians, 320, 240, pupil);
}

// Median milliseconds of selecting the two exams in turn.
double selections(QListWidget* list) {
    std::vector<double> ms;
    for (int i = 0; i < kRounds; ++i) {
        QElapsedTimer t;
        t.start();
        list->setCurrentRow(i % 2);
        QCoreApplication::processEvents();
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::nth_element(ms.begin(), ms.begin() + ms.size() / 2, ms.end());
    return ms[ms.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QLocale::setDefault(QLocale::c());
    QApplication app(argc, argv);
    const QString model = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(NORVIX_TEMPLATE_DB_DEFAULT);
    QTemporaryDir dir;
    const QString db = dir.filePath("DATABASE.GDB");
    if (!QFile::copy(model, db)) fail("não foi possível copiar o banco modelo");
    QFile::setPermissions(db, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QDir().mkpath(dir.filePath("Mapas"));
    if (!QFile::copy(QStringLiteral(BENCH_HALDEN), dir.filePath("Mapas/Halden.so"))) fail("Halden.so não encontrado");
    setRecordText(paths().Exames, dir.filePath("Exames"));
    setRecordText(paths().DirMapas, dir.filePath("Mapas"));
    infos().NumAneis = 32;
    setRecordText(infos().TipoCone, QStringLiteral("4"));

    TDMPrincipal dm;
    if (!dm.PSetDataBaseName(db)) fail("o banco não abriu");
    TBMapOperation loader;
    dm.execProcedure(
        "Execute Procedure InsertMedicos :Nome,:Rg,:CPF,:Crm,:Sexo,:EstadoCivil,:Conjuge,"
        ":DataNascimento,:Naturalidade,:NaturalidadeEstado,:Pai,:Mae,:Rua,:Complemento,:Bairro,"
        ":Cidade,:Estado,:Cep,:Fone,:Celular",
        {{"Nome", "Ana"}});
    dm.execProcedure(
        "Execute Procedure InsertPacientes :Nome,:Rg,:CPF,:Sexo,:EstadoCivil,:Conjuge,"
        ":DataNascimento,:Naturalidade,:NaturalidadeEstado,:Pai,:Mae,:Rua,:Complemento,:Bairro,"
        ":Cidade,:Estado,:Cep,:Fone,:Celular,:Convenio,:Profissao,:TipoSang,:DtCadastro,:TotalExames",
        {{"Nome", "Carla"}, {"DtCadastro", QDate(2025, 1, 2)}, {"TotalExames", 2}});
    const int doctor = dm.selectInt("SELECT MAX(Codigo) AS C FROM Medicos", {}, "C", TDMPrincipal::Close::Yes);
    const int patient = dm.selectInt("SELECT MAX(Codigo) AS C FROM Pacientes", {}, "C", TDMPrincipal::Close::Yes);
    QDir().mkpath(dir.filePath("Exames/") + QString::number(patient));
    for (int i = 0; i < 2; ++i) {
        dm.execProcedure(
            "Execute Procedure InsertExames :CodPaciente,:CodResp,:Data,:Hora,:Olho,:IndConf,"
            ":TipoExame,:Backup,:Diag,:Observacao,:NumAneis,:TipoCone",
            {{"CodPaciente", patient},
             {"CodResp", doctor},
             {"Data", QDate(2025, 3, 4 + i)},
             {"Hora", QTime(9, 0)},
             {"Olho", "OD"},
             {"IndConf", 95.0},
             {"TipoExame", "T"},
             {"Backup", ""},
             {"Diag", ""},
             {"Observacao", ""},
             {"NumAneis", 32},
             {"TipoCone", "4"}});
        writeExam(patient, dm.selectInt("SELECT MAX(Codigo) AS C FROM Exames", {}, "C", TDMPrincipal::Close::Yes));
    }

    auto* browser = new TfrmExames(nullptr);
    browser->show();
    QCoreApplication::processEvents();
    auto* list = browser->findChild<QListWidget*>("lswPrincipal");
    auto* automatic = browser->findChild<QCheckBox*>("cBoxMiniMapa");
    list->setCurrentRow(0);
    browser->lswPrincipalDblClick();
    if (list->count() != 2 || !browser->examPanelVisible()) fail("o painel do exame não apareceu");

    automatic->setChecked(false);
    selections(list);  // warm-up
    const double without = selections(list);
    automatic->setChecked(true);
    const double with = selections(list);
    if (browser->smallMapPicture()->pixmap().isNull()) fail("o mini mapa não foi desenhado");
    std::printf("selecionar um exame com o mini mapa automático: %.1f ms (mediana de %d)\n", with, kRounds);
    std::printf("selecionar um exame sem o mini mapa:            %.1f ms\n", without);
    std::printf("razão: %.2f\n", with / std::max(without, 1e-3));
    browser->close();
    return 0;
}

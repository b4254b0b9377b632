// The report windows on a small database with one exam per eye and the real axial module:
// opening a new report (editor made, both exams loaded, two Visualizar calls, the sentences)
// against the bare loads and Visualizar calls; the print preview to its first paint and the
// PDF of the page, each against printing an empty QTextDocument to PDF.
// Usage: bench_reports [template.gdb]
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocale>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QTemporaryDir>
#include <QTextDocument>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "config/SharedRecords.h"
#include "exams/UfrmExames.h"
#include "modules/HostStream.h"
#include "modules/ModuleBindings.h"
#include "platform/ui/MessageSeam.h"
#include "records/UArquivosExame.h"
#include "records/UfrmDataModule.h"
#include "reports/UBMapOperation.h"
#include "reports/UfrmLauRelat.h"
#include "reports/UfrmLaudo.h"

using namespace norvix;

namespace {

constexpr int kRounds = 20;

void fail(const char* what) {
    std::fprintf(stderr, "bench_reports: %s\n", what);
    std::exit(1);
}

double median(const std::function<void()>& work) {
    work();  // warm-up
    std::vector<double> ms;
    for (int i = 0; i < kRounds; ++i) {
        QElapsedTimer t;
        t.start();
        work();
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::nth_element(ms.begin(), ms.begin() + ms.size() / 2, ms.end());
    return ms[ms.size() / 2];
}

void writeExam(int patient, int exam) {
    struct Tables {
        TMatrizAngAnel m, d;
    };
    auto t = std::make_unique<Tables>();
    TMatrizAng meridians{};
    for (int k = 0; k < 360; ++k) {
        meridians[k] = 32;
        for (int i = 0; i <= 32; ++i) t->m[k][i] = 7.8 - 0.1 * std::cos(2 * k * M_PI / 180), t->d[k][i] = 0.3 + 0.13 * i;
    }
    GravaArquivoM(patient, exam, t->m);
    GravaArquivoD(patient, exam, t->d);
    GravaArquivoA(patient, exam, meridians, 320, 240, {0, 0, 0, 0});
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QLocale::setDefault(QLocale::c());
    QApplication app(argc, argv);
    RecordingMessageSeam seam;
    const QString model = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(NORVIX_TEMPLATE_DB_DEFAULT);
    QTemporaryDir dir;
    const QString db = dir.filePath("DATABASE.GDB");
    if (!QFile::copy(model, db)) fail("não foi possível copiar o banco modelo");
    QFile::setPermissions(db, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QDir().mkpath(dir.filePath("Mapas"));
    if (!QFile::copy(QStringLiteral(BENCH_HALDEN), dir.filePath("Mapas/Halden.so"))) fail("Halden.so não encontrado");
    setRecordText(paths().Exames, dir.filePath("Exames"));
    setRecordText(paths().Laudos, dir.filePath("Laudos"));
    setRecordText(paths().DirMapas, dir.filePath("Mapas"));
    setRecordText(infos().Nome, QStringLiteral("Clínica de Demonstração"));
    infos().NumAneis = 32;

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
    std::vector<int> exams;
    for (const char* eye : {"OD", "OS"}) {
        dm.execProcedure(
            "Execute Procedure InsertExames :CodPaciente,:CodResp,:Data,:Hora,:Olho,:IndConf,"
            ":TipoExame,:Backup,:Diag,:Observacao,:NumAneis,:TipoCone",
            {{"CodPaciente", patient}, {"CodResp", doctor}, {"Data", QDate(2025, 3, 4)}, {"Hora", QTime(9, 0)},
             {"Olho", eye}, {"IndConf", 95.0}, {"TipoExame", "T"}, {"Backup", ""}, {"Diag", ""},
             {"Observacao", ""}, {"NumAneis", 32}, {"TipoCone", "4"}});
        exams.push_back(dm.selectInt("SELECT MAX(Codigo) AS C FROM Exames", {}, "C", TDMPrincipal::Close::Yes));
        writeExam(patient, exams.back());
    }

    auto* browser = new TfrmExames(nullptr);
    browser->show();
    QCoreApplication::processEvents();
    browser->SelecionaPaciente(QStringLiteral("Carla"), QStringLiteral("Ana"));
    const QStringList captions = browser->itemCaptions();
    if (captions.size() != 2) fail("os exames não aparecem no navegador");

    // Opening a new report: the editor made and shown with its sentences.
    TfrmLaudo* last = nullptr;
    const double opening = median([&] {
        delete last;
        last = new TfrmLaudo(browser);
        last->setPaciente(QStringLiteral("Carla"), patient);
        if (!last->NewReport(captions[0], captions[1], TipoMapa::Axial)) fail("o laudo não foi gerado");
        last->show();
        QCoreApplication::processEvents();
    });
    if (!last->valores(TfrmLaudo::OD) || !seam.messages.empty()) fail("os valores do mapa não vieram");
    const double bare = median([&] {
        for (int exam : exams) {
            if (!MapOperation().Load(CaminhoArquivoExame(patient, exam, 'd').chopped(5))) fail("exame não carregou");
            TSingleMapBinding module;
            if (!module.LoadModule(dir.filePath("Mapas/Halden.so"))) fail("Halden não carregou");
            HostStream image;
            TResultadoMapa r{};
            const TBMapOperation& d = MapOperation();
            module.Visualizar(nullptr, image, nullptr, nullptr, d.CentroX(), d.CentroY(), &d.M(), &d.Meridianos(),
                              &d.D(), &d.Pupila(), &r, nullptr, &infos());
            module.ReleaseModule();
        }
    });

    // The printed page: preview to its first paint, and the PDF.
    TfrmLaudo::previewHook() = [](QPrintPreviewDialog& preview) {
        preview.show();
        QCoreApplication::processEvents();
    };
    const double preview = median([&] { last->sbtVisualizarImprClick(); });
    TfrmLauRelat page;
    page.PreparaRelat(*last);
    const QString pdf = dir.filePath("laudo.pdf");
    const double pdfMs = median([&] { page.GravaPdf(pdf); });
    // With the maps page: both maps drawn as their windows draw them, then the two pages.
    last->findChild<QCheckBox*>(QStringLiteral("chkIncluirMapas"))->setChecked(true);
    const double mapsMs = median([&] {
        TfrmLauRelat withMaps;
        withMaps.PreparaRelat(*last);
        withMaps.GravaPdf(pdf);
    });
    const double empty = median([&] {
        QTextDocument doc;
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(dir.filePath("vazio.pdf"));
        doc.print(&printer);
    });

    std::printf("abrir um laudo novo (2 exames, 2 Visualizar, frases): %.1f ms (mediana de %d)\n", opening, kRounds);
    std::printf("  só carregar os 2 exames e chamar Visualizar:       %.1f ms  razão %.2f\n", bare,
                opening / std::max(bare, 1e-3));
    std::printf("visualizar impressão até a primeira pintura:        %.1f ms\n", preview);
    std::printf("PDF da página do laudo:                             %.1f ms\n", pdfMs);
    std::printf("PDF com a página de mapas (2 mapas desenhados):     %.1f ms\n", mapsMs);
    std::printf("  QTextDocument vazio em PDF:                       %.1f ms  razões %.2f e %.2f\n", empty,
                preview / std::max(empty, 1e-3), pdfMs / std::max(empty, 1e-3));
    delete last;
    browser->close();
    return 0;
}

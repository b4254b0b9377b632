#include "NewExamSupport.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDirIterator>
#include <QLabel>

#include "config/SharedRecords.h"

using norvix::infos;
using norvix::paths;
using norvix::setRecordText;
using norvix::TfrmExames;
using norvix::TfrmNovoExame;

namespace newexam {

void NewExam::SetUp() {
    DbTest::SetUp();
    norvix::resetSharedRecords();
    examsDir = files.path() + "/Exames";
    setRecordText(paths().Exames, examsDir);
    setRecordText(paths().DirMapas, maps.path());
    setRecordText(paths().BancoDados, "/dados/Banco de Dados");
    setRecordText(paths().Digitalizacao, modtest::lib("capture_exam"));
    setRecordText(paths().DigitalizacaoOrto, modtest::lib("capture_orto_exam"));
    setRecordText(paths().Processamento, modtest::lib("processing_exam"));
    setRecordText(paths().ProcessamentoOrto, modtest::lib("processing_orto_exam"));
    infos().NumAneis = 32;
    infos().InstrumentModel = 3;
    setRecordText(infos().TipoCone, "4");
    setRecordText(infos().MapaPadraoNovoExame, "Axial");
    infos().sImagemCentral = 1;
    infos().QualidadeImagem = 75;
    ASSERT_FALSE(maps.copy("map_rec", "Halden.so").isEmpty());
    ASSERT_FALSE(maps.copy("map_novis", "Sorvik.so").isEmpty());
    ASSERT_FALSE(maps.copy("multi_mapas_orto", "Fennic.so").isEmpty());
    doctor = insertMedico("Bruno Alves");
    patient = insertPaciente("Carla Sant'Anna", 0);
}

void NewExam::TearDown() {
    if (window) window->close();
    if (browser) browser->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    qunsetenv("NORVIX_TEST_CAPTURE");
    qunsetenv("NORVIX_TEST_PROCESS");
    DbTest::TearDown();
}

TfrmNovoExame* NewExam::open(TfrmNovoExame::Tipo tipo, bool withBrowser) {
    if (withBrowser) {
        browser = new TfrmExames(nullptr);
        browser->show();
        QCoreApplication::processEvents();
        browser->SelecionaCodigoPaciente(patient);
    }
    window = new TfrmNovoExame(browser, tipo, nullptr, withBrowser ? 0 : patient);
    window->show();
    QCoreApplication::processEvents();
    return window;
}

void NewExam::chooseDoctor(const QString& name) {
    auto* combo = window->findChild<QComboBox*>("ComboMedicos");
    combo->setCurrentIndex(combo->findText(name));
}

void NewExam::run(int eye, int times) {
    for (int i = 0; i < times; ++i)
        eye == TfrmNovoExame::kDireito ? window->sbtExecutarDClick() : window->sbtExecutarSClick();
}

QLabel* NewExam::label(int eye, int tag) const {
    static const char* const names[] = {"lblDigit", "lblDetect", "lblMapa", "lblGrava"};
    return window->findChild<QLabel*>(QString::fromLatin1(names[tag - 1]) +
                                      (eye == TfrmNovoExame::kDireito ? "D" : "S"));
}

bool NewExam::isBlue(int eye, int tag) const {
    return label(eye, tag)->palette().color(QPalette::WindowText) == QColor(0, 0, 255);
}

QStringList NewExam::examsFolder() const {
    QStringList all;
    for (QDirIterator it(examsDir, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
         it.hasNext();)
        all << it.next().mid(examsDir.size() + 1);
    all.sort();
    return all;
}

void NewExam::installFailingTriggers() {
    using Commit = norvix::TDMPrincipal::Commit;
    dm->execProcedure("CREATE EXCEPTION FALHA_TESTE 'falha simulada do banco de dados'", {}, Commit::Yes);
    for (const char* table : {"EXAMES", "EXAMESORTO", "ARQUIVOS"})
        dm->execProcedure(QStringLiteral("CREATE TRIGGER FALHA_%1 FOR %1 BEFORE INSERT AS BEGIN IF "
                                         "(RDB$GET_CONTEXT('USER_SESSION', 'FALHA') = '%1') THEN EXCEPTION "
                                         "FALHA_TESTE; END")
                              .arg(QLatin1String(table)),
                          {}, Commit::Yes);
    dm->execProcedure("CREATE TRIGGER FALHA_PACIENTES FOR PACIENTES BEFORE UPDATE AS BEGIN IF "
                      "(RDB$GET_CONTEXT('USER_SESSION', 'FALHA') = 'PACIENTES') THEN EXCEPTION FALHA_TESTE; END",
                      {}, Commit::Yes);
}

void NewExam::failAt(const QString& table) {
    dm->selectInt(QStringLiteral("SELECT RDB$SET_CONTEXT('USER_SESSION', 'FALHA', :T) AS R FROM RDB$DATABASE"),
                  {{"T", table.isEmpty() ? norvix::FbValue() : norvix::FbValue(table)}}, QStringLiteral("R"),
                  norvix::TDMPrincipal::Close::Yes);
}

}  // namespace newexam

// Storing a new exam: what one save writes, and that a save failing at any of its writes (a
// full disk through the file layer, a database error through the access layer, a folder that
// cannot be made, a doctor deleted meanwhile) leaves the database and the exams folder as they
// were and can simply be run again.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

#include "NewExamSupport.h"
#include "config/SharedRecords.h"
#include "records/UArquivosExame.h"
#include "records/UBJpeg.h"
#include "records/UDArquivos.h"
#include "records/UDMedicos.h"

using norvix::TfrmNovoExame;

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

using newexam::NewExam;
constexpr int R = TfrmNovoExame::kDireito;
constexpr int L = TfrmNovoExame::kEsquerdo;
const QString kNaoSalvou = QStringLiteral(
    "Não foi possivel salvar o exame, verifique se o disco rigido\restá cheio ou entre em contato com a nossa "
    "assistência técnica.");

// A disk that fills up at the n-th file written (0: never).
struct FullDisk : norvix::TCamadaArquivos {
    int failAt = 0, writes = 0;
    FullDisk() { norvix::setCamadaArquivos(this); }
    ~FullDisk() override { norvix::setCamadaArquivos(nullptr); }
    void GravaAtomico(const QString& path, const QByteArray& bytes) override {
        if (++writes == failAt)
            throw norvix::ArquivoExameError(
                QStringLiteral("Não foi possível gravar o arquivo %1 (Não há espaço disponível no dispositivo).").arg(path));
        TCamadaArquivos::GravaAtomico(path, bytes);
    }
};

QByteArray image(int exam, bool central) {
    QBuffer c, l;
    norvix::DArquivos().SelectImagensByExame(exam, c, l);
    return central ? c.data() : l.data();
}

TEST_F(NewExam, StoredExamHasItsRowFilesImagesAndCounters) {
    newexam::StillClock clock;
    norvix::infos().sImagemLateral = 1;
    norvix::infos().QualidadeImagem = 40;
    qputenv("NORVIX_TEST_CAPTURE", "lateral");
    open();
    chooseDoctor();
    toStep4(R);
    const norvix::TMedidaOlho measure = *window->medida(R);
    run(R);
    ASSERT_EQ(window->passo(R), 5);

    norvix::FbQuery& q = dm->openQuery(dm->IBOperation, "SELECT * FROM Exames");
    const int code = q.asInt("CODIGO");
    EXPECT_EQ(q.asInt("CODPACIENTE"), patient);
    EXPECT_EQ(q.asInt("CODRESP"), doctor);
    EXPECT_EQ(q.asDate("DATA"), QDate(2025, 3, 14));
    EXPECT_EQ(q.asTime("HORA"), QTime(10, 20, 30));
    EXPECT_EQ(q.asString("OLHO"), "OD");
    EXPECT_EQ(q.asString("TIPOEXAME"), "T");
    EXPECT_EQ(q.asString("BACKUP"), "");
    EXPECT_EQ(q.asInt("NUMANEL"), 32);
    EXPECT_EQ(q.asString("TIPOCONE"), "4");
    EXPECT_EQ(q.asDouble("INDCONF"), 91);
    q.close();

    EXPECT_EQ(norvix::LeArquivoDados(norvix::CaminhoArquivoExame(patient, code, 'd')), norvix::TextoTabela(measure.d, 32));
    EXPECT_EQ(norvix::LeArquivoDados(norvix::CaminhoArquivoExame(patient, code, 'm')), norvix::TextoTabela(measure.m, 32));
    EXPECT_EQ(norvix::LeArquivoDados(norvix::CaminhoArquivoExame(patient, code, 'a')),
              norvix::TextoMeridianos(measure.meridianos, measure.centroX, measure.centroY, measure.pupila));
    // Both images packed at the configured quality.
    EXPECT_EQ(image(code, true), norvix::CompactaPixels(norvix::LeBitmapWindows(measure.frente), 40));
    EXPECT_EQ(image(code, false), norvix::CompactaPixels(norvix::LeBitmapWindows(measure.lateral), 40));

    EXPECT_EQ(totalExames(), 1);
    EXPECT_EQ(dm->selectString("SELECT UltimoExame FROM Pacientes WHERE Codigo = :C", {{"C", patient}}, "UltimoExame",
                               norvix::TDMPrincipal::Close::Yes),
              "OD 14/03/2025 10:20:30");
}

TEST_F(NewExam, ImageThatCannotBePackedIsStoredEmptyAndTheExamIsSaved) {
    norvix::infos().sImagemLateral = 1;
    qputenv("NORVIX_TEST_CAPTURE", "lateral-lixo");
    open();
    chooseDoctor();
    toStep4(L);
    run(L);
    EXPECT_EQ(window->passo(L), 5);
    EXPECT_EQ(seam.texts().mid(seam.texts().size() - 2),
              QStringList({"Não Foi possivel salvar as imagens", "Exame gravado com sucesso"}));
    const int code = dm->selectInt("SELECT Codigo FROM Exames", {}, "Codigo", norvix::TDMPrincipal::Close::Yes);
    EXPECT_TRUE(image(code, true).startsWith("\xFF\xD8"));
    EXPECT_TRUE(image(code, false).isEmpty());
}

// Each write of a save fails in turn; afterwards nothing of it is left and "Executar" again
// stores the exam.
TEST_F(NewExam, SaveFailingAtAnyWriteLeavesNothingAndCanBeRunAgain) {
    installFailingTriggers();
    FullDisk disk;
    open(TfrmNovoExame::Tipo::Topografia, true);
    chooseDoctor();
    toStep4(R);
    const QStringList before = examsFolder();
    struct Failure {
        const char* table;
        int file;
    };
    for (const Failure f : {Failure{"EXAMES", 0}, Failure{nullptr, 1}, Failure{nullptr, 2}, Failure{nullptr, 3},
                            Failure{"ARQUIVOS", 0}, Failure{"PACIENTES", 0}}) {
        const QString what = f.table ? QString(f.table) : QString("arquivo %1").arg(f.file);
        failAt(f.table ? f.table : "");
        disk.writes = 0;
        disk.failAt = f.file;
        seam.messages.clear();
        run(R);
        EXPECT_EQ(seam.texts(), QStringList{kNaoSalvou}) << what.toStdString();
        EXPECT_EQ(window->passo(R), 4) << what.toStdString();
        EXPECT_EQ(exams(), 0) << what.toStdString();
        EXPECT_EQ(count("SELECT COUNT(*) FROM Arquivos"), 0) << what.toStdString();
        EXPECT_EQ(totalExames(), 0) << what.toStdString();
        EXPECT_EQ(examsFolder(), before) << what.toStdString();
        EXPECT_TRUE(window->findChild<QWidget*>("Memo3")->isEnabled());
    }
    failAt("");
    disk.failAt = 0;
    seam.messages.clear();
    run(R);
    EXPECT_EQ(seam.texts(), QStringList{"Exame gravado com sucesso"});
    EXPECT_EQ(exams(), 1);
    EXPECT_EQ(totalExames(), 1);
    EXPECT_EQ(examsFolder().size(), 4);  // the patient's folder and the three files
    EXPECT_EQ(browser->itemCaptions().size(), 1);
}

TEST_F(NewExam, OrthokeratologySaveIsAllOrNothingToo) {
    newexam::StillClock clock;
    installFailingTriggers();
    FullDisk disk;
    open(TfrmNovoExame::Tipo::Ortoceratologia);
    chooseDoctor();
    toStep4(R);
    for (const char* table : {"EXAMESORTO", ""}) {
        failAt(table);
        disk.writes = 0;
        disk.failAt = *table ? 0 : 7;  // the third capture's d.txt
        run(R);
        EXPECT_EQ(seam.texts().last(), kNaoSalvou);
        EXPECT_EQ(exams(), 0);
        EXPECT_EQ(count("SELECT COUNT(*) FROM ExamesOrto"), 0);
        EXPECT_EQ(totalExames(), 0);
        EXPECT_TRUE(examsFolder().isEmpty());
    }
    disk.failAt = 0;
    failAt("");
    run(R);
    EXPECT_EQ(exams(), 4);
    EXPECT_EQ(totalExames(), 4);
}

TEST_F(NewExam, SavesInTheSameSecondWaitForTheNextOneSoTheBrowserTellsThemApart) {
    newexam::StillClock clock;
    open(TfrmNovoExame::Tipo::Topografia, true);
    chooseDoctor();
    toStep4(R);
    toStep4(L);
    run(R);
    run(L);  // the clock has not moved
    EXPECT_EQ(count("SELECT COUNT(*) FROM Exames WHERE Hora = '10:20:30' AND Olho = 'OD'"), 1);
    EXPECT_EQ(count("SELECT COUNT(*) FROM Exames WHERE Hora = '10:20:31' AND Olho = 'OS'"), 1);
    const QStringList captions = browser->itemCaptions();
    ASSERT_EQ(captions.size(), 2);
    for (const QString& caption : captions) {
        const auto exam = browser->LocalizaExame(caption);
        ASSERT_TRUE(exam);
        EXPECT_EQ(exam->olho, caption.left(2));
    }
    EXPECT_EQ(dm->selectString("SELECT UltimoExame FROM Pacientes WHERE Codigo = :C", {{"C", patient}}, "UltimoExame",
                               norvix::TDMPrincipal::Close::Yes),
              "OS 14/03/2025 10:20:31");
}

TEST_F(NewExam, DoctorDeletedMeanwhileIsReportedAndAnotherOneCanBeChosen) {
    open();
    chooseDoctor();
    toStep4(R);
    norvix::DMedicos().DeleteMedicosByCodigo(doctor);  // as another workstation would
    const int other = insertMedico("Ana Lima");
    run(R);
    EXPECT_TRUE(seam.texts().last().startsWith("O médico \"Bruno Alves\" não está mais cadastrado"));
    EXPECT_EQ(window->passo(R), 4);
    auto* combo = window->findChild<QComboBox*>("ComboMedicos");
    EXPECT_TRUE(combo->isEnabled());
    EXPECT_EQ(combo->findText("Bruno Alves"), -1);
    chooseDoctor("Ana Lima");
    run(R);
    EXPECT_EQ(window->passo(R), 5);
    EXPECT_EQ(count("SELECT COUNT(*) FROM Exames WHERE CodResp = :M", {{"M", other}}), 1);
}

TEST_F(NewExam, ExamsFolderThatCannotBeMadeFailsTheSaveCleanly) {
    QFile blocker(files.path() + "/arquivo");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    norvix::setRecordText(norvix::paths().Exames, blocker.fileName() + "/Exames");
    open();
    chooseDoctor();
    toStep4(R);
    run(R);
    EXPECT_EQ(seam.texts().last(), kNaoSalvou);
    EXPECT_EQ(exams(), 0);
    EXPECT_EQ(QDir(files.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList{"arquivo"});
    norvix::setRecordText(norvix::paths().Exames, examsDir);
    run(R);
    EXPECT_EQ(window->passo(R), 5);
}

}  // namespace

TEST_F(NewExam, TheHeaderNamesThePatientAndTheBrowserFindsItAgainByCodeAmongNamesakes) {
    const int namesake = insertPaciente("Carla Sant'Anna", 0);
    open(TfrmNovoExame::Tipo::Topografia, true);
    const QString code = QStringLiteral("%1").arg(patient, 4, 10, QLatin1Char('0'));
    auto* header = window->findChild<QLabel*>("lblPaciente");
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->text(), QStringLiteral("Carla Sant'Anna \u00B7 ") + code);
    chooseDoctor();
    toStep4(R);
    run(R);
    EXPECT_EQ(window->passo(R), 5);
    EXPECT_EQ(browser->patientCode(), patient);
    EXPECT_EQ(count("SELECT COUNT(*) FROM Exames WHERE CodPaciente = :P", {{"P", namesake}}), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM Exames WHERE CodPaciente = :P", {{"P", patient}}), 1);
}

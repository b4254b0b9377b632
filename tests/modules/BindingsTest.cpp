#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <cstring>
#include <unistd.h>
#include "ModuleTestSupport.h"
#include "modules/HostStream.h"
#include "modules/ModuleBindings.h"
#include "platform/DynamicLibrary.h"
#include "platform/MessageSeam.h"

using modtest::isLoaded;
using modtest::lib;
using norvix::DynamicLibrary;
using norvix::HostStream;

namespace {

void* const kWindow = reinterpret_cast<void*>(0x1234);

// Distinct values in every slot, so a swapped argument shows.
struct ExamData {
    TMatrizAngAnel m{};
    TMatrizAngAnel d{};
    TMatrizAng mer{};
    TPupila pupil{11, 12, 13, 14};
    TInfosQV infos{};
    TPathsQV paths{};
    ExamData() {
        m[1][2] = 7.25;
        d[4][5] = 3.5;
        mer[3] = 29;
        infos.NumAneis = 32;
        paths.DirQV = "/opt/NORVIX";
    }
};

}  // namespace

// ---- the library layer -------------------------------------------------------------------

TEST(DynamicLibrary, ErrorNumbersTellMissingForbiddenAndNonLibraryFiles) {
    modtest::MapsDir dir;
    DynamicLibrary l;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(l.load(dir.file("nada.so")));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(l.lastError(), 2);
    EXPECT_NE(err.find("dlopen:"), std::string::npos);  // the loader's text for support
    EXPECT_FALSE(l.lastErrorText().isEmpty());

    EXPECT_FALSE(l.load(dir.write("texto.so", "isto nao e uma biblioteca\n")));
    EXPECT_EQ(l.lastError(), 8);
    EXPECT_FALSE(l.load(dir.write("vazio.so", "")));
    EXPECT_EQ(l.lastError(), 8);
    QDir(dir.path()).mkdir(QStringLiteral("pasta.so"));
    EXPECT_FALSE(l.load(dir.file("pasta.so")));
    EXPECT_EQ(l.lastError(), 8);
    EXPECT_FALSE(l.load(QString()));  // never the program itself
    EXPECT_EQ(l.lastError(), 2);
    EXPECT_FALSE(l.isLoaded());

    const QString locked = dir.copy("map_single", QStringLiteral("trancado.so"));
    QFile::setPermissions(locked, QFileDevice::Permissions{});
    if (geteuid() != 0) {  // root reads it anyway
        EXPECT_FALSE(l.load(locked));
        EXPECT_EQ(l.lastError(), 13);
    }
}

TEST(DynamicLibrary, BareNameIsNotSearchedInTheSystemDirectories) {
    DynamicLibrary l;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(l.load(QStringLiteral("libc.so.6")));  // the system's would load otherwise
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(l.lastError(), 2);
}

TEST(DynamicLibrary, NewLoadFreesThePreviousFailedLoadKeepsIt) {
    DynamicLibrary l;
    ASSERT_TRUE(l.load(lib("map_single")));
    EXPECT_EQ(l.lastError(), 0);
    ASSERT_TRUE(l.load(lib("map_multi")));
    EXPECT_FALSE(isLoaded(lib("map_single")));
    EXPECT_TRUE(isLoaded(lib("map_multi")));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(l.load(lib("nao_existe")));
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(l.isLoaded());
    EXPECT_NE(l.resolve("Wizard"), nullptr);
    EXPECT_EQ(l.resolve("NaoExiste"), nullptr);
    EXPECT_EQ(l.resolve(nullptr), nullptr);
    l.unload();
    EXPECT_FALSE(isLoaded(lib("map_multi")));
    EXPECT_EQ(l.resolve("Wizard"), nullptr);
}

// ---- load conditions and release moments, one binding at a time ----------------------------

TEST(Bindings, CaptureNeedsDigitalizarAndIsReleasedAfterTheCall) {
    norvix::RecordingMessageSeam seam;
    modtest::Record record;
    TCaptureBinding b;
    ASSERT_TRUE(b.LoadModule(lib("capture")));
    HostStream image, spare;
    EXPECT_EQ(b.Digitalizar(kWindow, image, spare, 1, "Digitalizando Imagem do Olho"), 1);
    EXPECT_TRUE(image.data().startsWith("BM"));
    b.ReleaseModule();
    EXPECT_FALSE(isLoaded(lib("capture")));
    EXPECT_EQ(b.Digitalizar, nullptr);
    EXPECT_EQ(record.lines().value(0), "capture|Digitalizar|w=0x1234|spare=0|mode=1|caption=Digitalizando Imagem do Olho");

    EXPECT_FALSE(b.LoadModule(lib("map_single")));  // no Digitalizar
    EXPECT_FALSE(isLoaded(lib("map_single")));      // nothing left behind
    testing::internal::CaptureStderr();
    EXPECT_FALSE(b.LoadModule(lib("nao_existe")));
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(seam.messages.empty());  // the caller reports it
}

TEST(Bindings, OrthokeratologyCaptureTakesFourStreamsTwice) {
    modtest::Record record;
    TCaptureOrtoBinding b;
    ASSERT_TRUE(b.LoadModule(lib("capture_orto")));
    HostStream i0, i1, i2, i3, s0, s1, s2, s3(QByteArray("xyz"));
    ModuleStream* images[4] = {i0, i1, i2, i3};
    ModuleStream* spares[4] = {s0, s1, s2, s3};
    b.Digitalizar(kWindow, images, spares, 0, "Digitalizando Imagem do Olho");
    b.ReleaseModule();
    EXPECT_EQ(i3.size(), 12);
    EXPECT_EQ(record.lines().value(0), "capture_orto|DigitalizarOrto|w=0x1234|spare3=3|eye=0|caption=Digitalizando Imagem do Olho");
    EXPECT_FALSE(b.LoadModule(lib("processing")));
}

TEST(Bindings, ProcessingNeedsBothEntriesAndFillsEveryOutput) {
    modtest::Record record;
    TProcessingBinding b;
    EXPECT_FALSE(b.LoadModule(lib("processing_noesfera")));
    EXPECT_FALSE(isLoaded(lib("processing_noesfera")));
    ASSERT_TRUE(b.LoadModule(lib("processing")));
    ExamData e;
    HostStream image(QByteArray("BMimagem\r\n"));
    double cx = 0, cy = 0, confidence = 0;
    TPupila pupil{};
    EXPECT_EQ(b.ProcessaImagem(kWindow, image, &cx, &cy, &e.m, &e.mer, &e.d, &pupil, &confidence, &e.infos, &e.paths), 1);
    EXPECT_EQ(cx, 320.5);
    EXPECT_EQ(cy, 240.25);
    EXPECT_EQ(e.m[1][2], 7.5);
    EXPECT_EQ(e.mer[3], 32);
    EXPECT_EQ(e.d[4][5], 1.25);
    EXPECT_EQ(pupil[3], 4);
    EXPECT_EQ(confidence, 97.5);
    HostStream result;
    EXPECT_EQ(b.ProcessaEsfera(kWindow, image, "7.73", result, &e.infos), 1);
    EXPECT_EQ(result.lines(), QStringList{"7.73"});
    b.ReleaseModule();
    EXPECT_FALSE(isLoaded(lib("processing")));
    EXPECT_EQ(record.lines().value(0), "processing|ProcessaImagem|w=0x1234|image=BMimagem|pupil=0|rings=32|dir=/opt/NORVIX");
    EXPECT_EQ(record.lines().value(1), "processing|ProcessaEsfera|w=0x1234|image=BMimagem|radius=7.73|rings=32");
}

TEST(Bindings, OrthokeratologyProcessingNeedsProcessaImagemOnly) {
    modtest::Record record;
    TProcessingOrtoBinding b;
    EXPECT_FALSE(b.LoadModule(lib("capture")));
    ASSERT_TRUE(b.LoadModule(lib("processing_orto")));
    ExamData e;
    HostStream i0, i1, i2, i3(QByteArray("quarta\r\n")), m, d, params;
    ModuleStream* images[4] = {i0, i1, i2, i3};
    double confidences[4] = {};
    EXPECT_EQ(b.ProcessaImagem(kWindow, images, m, d, params, confidences, &e.infos, &e.paths), 1);
    b.ReleaseModule();
    EXPECT_FALSE(isLoaded(lib("processing_orto")));
    EXPECT_EQ(m.lines(), QStringList{"m"});
    EXPECT_EQ(d.lines(), QStringList{"d"});
    EXPECT_EQ(params.lines(), QStringList{"1.5"});
    EXPECT_EQ(confidences[3], 93);
    EXPECT_EQ(record.lines().value(0), "processing_orto|ProcessaImagemOrto|w=0x1234|image3=quarta|rings=32|dir=/opt/NORVIX");
}

TEST(Bindings, SingleMapNeedsInfoMapaAndOneMapEntryVisualizarOptional) {
    TSingleMapBinding b;
    ASSERT_TRUE(b.LoadModule(lib("map_single")));
    EXPECT_TRUE(b.CanVisualizar());
    b.ReleaseModule();
    EXPECT_FALSE(isLoaded(lib("map_single")));

    ASSERT_TRUE(b.LoadModule(lib("map_novis")));  // still binds without Visualizar
    EXPECT_FALSE(b.CanVisualizar());
    EXPECT_EQ(b.ProcessaMapaOrto, nullptr);
    b.ReleaseModule();

    ASSERT_TRUE(b.LoadModule(lib("map_orto_only")));
    EXPECT_EQ(b.ProcessaMapa, nullptr);
    EXPECT_NE(b.ProcessaMapaOrto, nullptr);
    b.ReleaseModule();

    EXPECT_FALSE(b.LoadModule(lib("map_info_only")));  // neither map entry
    EXPECT_FALSE(isLoaded(lib("map_info_only")));
    EXPECT_FALSE(b.LoadModule(lib("map_noinfo")));     // no InfoMapa
    EXPECT_FALSE(b.LoadModule(lib("map_multi")));
    EXPECT_EQ(b.InfoMapa, nullptr);
}

TEST(Bindings, SingleMapEntriesReceiveTheirArgumentsInOrder) {
    modtest::Record record;
    TSingleMapBinding b;
    ASSERT_TRUE(b.LoadModule(lib("map_single")));
    ExamData e;
    HostStream front(QByteArray("FRENTE")), header(QByteArray("Paciente: Ana\r\nOD\r\n"));
    b.ProcessaMapa(kWindow, front, nullptr, 310.5, 235.25, header, &e.m, &e.mer, &e.d, &e.pupil, &e.infos);
    const TValoresOrto ortho{1.5, 2.5, 7.8};
    b.ProcessaMapaOrto(kWindow, nullptr, nullptr, 1, 2, header, &e.m, &e.mer, &e.d, &e.pupil, &ortho, &e.infos);
    HostStream picture;
    TResultadoMapa result{};
    b.Visualizar(kWindow, picture, nullptr, nullptr, 3, 4, &e.m, &e.mer, &e.d, &e.pupil, &result, nullptr, &e.infos);
    b.ReleaseModule();
    EXPECT_EQ(picture.data(), QByteArray("PICTURE"));
    EXPECT_EQ(result[0], 40);
    EXPECT_EQ(result[8], 48);
    const QStringList r = record.lines();
    ASSERT_EQ(r.size(), 3);
    EXPECT_EQ(r[0], "map_single|ProcessaMapa|w=0x1234|front=6|lateral=-1|cx=310.5|cy=235.25|header=Paciente: Ana|m=7.25|mer=29|d=3.5|pupil=11,12,13,14|rings=32");
    EXPECT_EQ(r[1], "map_single|ProcessaMapaOrto|w=0x1234|front=-1|lateral=-1|cx=1|cy=2|header=Paciente: Ana|m=7.25|mer=29|d=3.5|pupil=14|orto=1.5,2.5,7.8|rings=32");
    EXPECT_EQ(r[2], "map_single|Visualizar|w=0x1234|nulls=111|cx=3|cy=4|m=7.25|mer=29|d=3.5|pupil=11|rings=32");
}

TEST(Bindings, MultiMapNeedsAllFiveReferences) {
    modtest::Record record;
    TMultiMapBinding b;
    EXPECT_FALSE(b.LoadModule(lib("map_multi_nowizard")));
    EXPECT_FALSE(isLoaded(lib("map_multi_nowizard")));
    EXPECT_FALSE(b.LoadModule(lib("map_single")));
    ASSERT_TRUE(b.LoadModule(lib("map_multi")));
    EXPECT_NE(b.ProcessaMapasOrto, nullptr);
    EXPECT_NE(b.WizardOrto, nullptr);

    ExamData e;
    HostStream list(QByteArray("Olho Direito - 01/02/2024 10:00:00\r\n")), selection, options;
    EXPECT_EQ(b.Wizard(kWindow, list, selection, options, &e.infos), 1);
    EXPECT_EQ(selection.lines(), QStringList{"Olho Direito - 01/02/2024 10:00:00"});
    options.rewind();

    HostStream h0(QByteArray("primeiro\r\n")), h1(QByteArray("segundo\r\n"));
    ModuleStream* headerItems[2] = {h0, h1};
    TMatrizAngAnel ms[2] = {}, ds[2] = {};
    TMatrizAng mers[2] = {};
    TPupila pupils[2] = {};
    ms[1][1][2] = 6.5;
    ds[1][4][5] = 2.5;
    mers[1][3] = 31;
    pupils[1][2] = 77;
    const TDadosPac headers{2, headerItems};
    const TMatrizesAngAnel mArr{2, ms}, dArr{2, ds};
    const TMatrizesAng merArr{2, mers};
    const TMatPup pupArr{2, pupils};
    b.ProcessaMapas(kWindow, &headers, &mArr, &merArr, &dArr, &pupArr, 2, options, &e.infos);
    b.ReleaseModule();
    EXPECT_FALSE(isLoaded(lib("map_multi")));
    const QStringList r = record.lines();
    ASSERT_EQ(r.size(), 2);
    EXPECT_EQ(r[0], "map_multi|Wizard|w=0x1234|list=Olho Direito - 01/02/2024 10:00:00|rings=32");
    EXPECT_EQ(r[1], "map_multi|ProcessaMapas|w=0x1234|headers=2:segundo|m=2:6.5|mer=2:31|d=2:2.5|pupils=2:77|count=2|options=opcao|rings=32");
}

TEST(Bindings, ContactLensNeedsProcessaLente) {
    modtest::Record record;
    modtest::MapsDir maps;
    maps.copy("lens", QString::fromLatin1(TContactLensBinding::kFileName));
    TContactLensBinding b;
    EXPECT_FALSE(b.LoadModule(lib("map_single")));
    ASSERT_TRUE(b.LoadModule(maps.file(QStringLiteral("Cadro.so"))));
    ExamData e;
    HostStream front(QByteArray("12345")), header(QByteArray("Paciente\r\n"));
    b.ProcessaLente(kWindow, front, header, 5.5, 6.5, &e.m, &e.mer, &e.d, &e.infos, &e.paths);
    b.ReleaseModule();
    EXPECT_FALSE(isLoaded(maps.file(QStringLiteral("Cadro.so"))));
    EXPECT_EQ(record.lines().value(0), "lens|ProcessaLente|w=0x1234|front=5|header=Paciente|cx=5.5|cy=6.5|m=7.25|mer=29|d=3.5|rings=32|dir=/opt/NORVIX");
}

TEST(Bindings, AberrometryLibraryStaysLoaded) {
    modtest::Record record;
    modtest::MapsDir maps;
    const QString path = maps.copy("aberrometry", QString::fromLatin1(TAberrometryBinding::kFileName));
    {
        TAberrometryBinding local;  // even a binding that goes away leaves it loaded
        EXPECT_FALSE(local.LoadModule(lib("map_single")));
        ASSERT_TRUE(local.LoadModule(path));
    }
    EXPECT_TRUE(isLoaded(path));
    TAberrometryBinding& b = TAberrometryBinding::instance();
    ASSERT_TRUE(b.LoadModule(path));
    ASSERT_TRUE(b.LoadModule(path));  // loading again replaces the references, keeps the library
    EXPECT_TRUE(isLoaded(path));
    ExamData e;
    HostStream header(QByteArray("Paciente\r\n"));
    const char* clinic[4] = {"Clinica", "Rua A", "Cidade", "5555"};
    b.ProcessaAberrometria(kWindow, &e.m, &e.d, &e.mer, "4", 32, 3, 3.0, 1.1, 0.5, 350, 350, 1, header, clinic);
    EXPECT_TRUE(isLoaded(path));
    EXPECT_EQ(record.lines().value(0),
              "aberrometry|ProcessaAberrometria|w=0x1234|m=7.25|d=3.5|mer=29|cone=4|rings=32|model=3|v1=3|fator=1.1|z0=0.5|350,350,1|header=Paciente|clinic=Clinica;Rua A;Cidade;5555");
}

TEST(Bindings, BackupNeedsAllThreeEntries) {
    modtest::Record record;
    TBackupBinding b;
    EXPECT_FALSE(b.LoadModule(lib("backup_norestore")));
    ASSERT_TRUE(b.LoadModule(lib("backup")));
    HostStream state, exams(QByteArray("12/345a.txt\r\n")), examResult, reports(QByteArray("12/7l.txt\r\n")), reportResult;
    EXPECT_EQ(b.InfoBackup(kWindow, state, 3), 'E');
    EXPECT_EQ(b.CriarBackup(kWindow, exams, examResult, reports, reportResult, 3, "/ex", "/la"), 0);
    EXPECT_EQ(b.RestaurarBackup(kWindow, "/ex", "/la"), -1);
    b.ReleaseModule();
    EXPECT_FALSE(isLoaded(lib("backup")));
    EXPECT_EQ(examResult.lines(), QStringList{"Pelk0001"});
    const QStringList r = record.lines();
    ASSERT_EQ(r.size(), 3);
    EXPECT_EQ(r[1], "backup|CriarBackup|w=0x1234|exams=12/345a.txt|reports=12/7l.txt|version=3|dirs=/ex;/la");
    EXPECT_EQ(r[2], "backup|RestaurarBackup|w=0x1234|dirs=/ex;/la");
}

// ---- module information -------------------------------------------------------------------

TEST(ModuleInfo, KindsResolveTheirOwnEntryIntoSeparateReferences) {
    norvix::RecordingMessageSeam seam;
    TModuleInfoBinding b;
    ASSERT_TRUE(b.ReadModuleInfo(lib("map_single"), 1));
    EXPECT_NE(b.InfoMapa, nullptr);
    EXPECT_EQ(b.Info, nullptr);
    b.ReleaseModule();
    ASSERT_TRUE(b.ReadModuleInfo(lib("processing"), 2));
    EXPECT_NE(b.Info, nullptr);
    EXPECT_EQ(b.InfoCaptura, nullptr);
    b.ReleaseModule();
    ASSERT_TRUE(b.ReadModuleInfo(lib("capture"), 3));
    EXPECT_NE(b.InfoCaptura, nullptr);
    EXPECT_EQ(b.Info, nullptr);
    EXPECT_EQ(b.Entry(), b.InfoCaptura);
    b.ReleaseModule();
    EXPECT_FALSE(isLoaded(lib("capture")));

    // A missing entry is silent and leaves nothing loaded.
    EXPECT_FALSE(b.ReadModuleInfo(lib("processing"), 1));
    EXPECT_FALSE(b.ReadModuleInfo(lib("map_single"), 2));
    EXPECT_FALSE(b.ReadModuleInfo(lib("capture"), 4));
    EXPECT_FALSE(isLoaded(lib("processing")));
    EXPECT_FALSE(isLoaded(lib("map_single")));
    EXPECT_TRUE(seam.messages.empty());
}

TEST(ModuleInfo, LoadFailureShowsOnlyTheErrorNumber) {
    norvix::RecordingMessageSeam seam;
    modtest::MapsDir dir;
    TModuleInfoBinding b;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(b.ReadModuleInfo(dir.write("falso.so", QByteArray("MZ\x90\0texto", 9)), 1));
    EXPECT_FALSE(b.ReadModuleInfo(dir.file("sumiu.so"), 2));
    testing::internal::GetCapturedStderr();
    ASSERT_EQ(seam.messages.size(), 2u);
    EXPECT_EQ(seam.messages[0].text, "8");
    EXPECT_EQ(seam.messages[0].caption, "Erro");
    EXPECT_EQ(seam.messages[0].icon, norvix::MsgIcon::Error);
    EXPECT_EQ(seam.messages[1].text, "2");
}

TEST(ModuleInfo, ReadModuleLinesLoadsCallsReadsAndReleases) {
    norvix::RecordingMessageSeam seam;
    bool ok = false;
    EXPECT_EQ(norvix::ReadModuleLines(lib("capture"), 3, &ok), QStringList{"Euresys Picolo Jr. 4"});
    EXPECT_TRUE(ok);
    EXPECT_FALSE(isLoaded(lib("capture")));
    EXPECT_EQ(norvix::ReadModuleLines(lib("processing"), 2, &ok),
              (QStringList{"Processamento de Teste", "ignorada"}));
    EXPECT_EQ(norvix::ReadModuleLines(lib("map_cp1252"), 1, &ok).value(0), QString::fromUtf8("Mapa Refração"));
    EXPECT_EQ(norvix::ReadModuleLines(lib("map_lf"), 1, &ok), (QStringList{"Mapa LF", "2", "3"}));

    // Floods and garbage stay harmless.
    const QStringList thousand = norvix::ReadModuleLines(lib("map_thousand"), 1, &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(thousand.size(), norvix::kMaxInfoLines);
    EXPECT_EQ(thousand[0], "Mil linhas");
    EXPECT_EQ(norvix::ReadModuleLines(lib("map_binary"), 1, &ok).size(), 1);  // ends at the zero byte
    EXPECT_TRUE(norvix::ReadModuleLines(lib("map_empty"), 1, &ok).isEmpty());
    EXPECT_TRUE(ok);
    EXPECT_EQ(norvix::ReadModuleLines(lib("map_pastlimit"), 1, &ok),
              (QStringList{"Depois do limite", "1", "1"}));
    EXPECT_TRUE(seam.messages.empty());

    testing::internal::CaptureStderr();
    EXPECT_TRUE(norvix::ReadModuleLines(lib("nao_existe"), 2, &ok).isEmpty());
    testing::internal::GetCapturedStderr();
    EXPECT_FALSE(ok);
    ASSERT_EQ(seam.messages.size(), 1u);
    EXPECT_EQ(seam.messages[0].text, "2");
}

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>
#include <unistd.h>
#include "ModuleTestSupport.h"
#include "modules/HostStream.h"
#include "modules/ModuleBindings.h"
#include "platform/DynamicLibrary.h"
#include "platform/ui/MessageSeam.h"

using norvix::TAberrometryBinding;
using norvix::TBackupBinding;
using norvix::TCaptureBinding;
using norvix::TCaptureOrtoBinding;
using norvix::TContactLensBinding;
using norvix::TModuleBinding;
using norvix::TModuleInfoBinding;
using norvix::TMultiMapBinding;
using norvix::TProcessingBinding;
using norvix::TProcessingOrtoBinding;
using norvix::TSingleMapBinding;

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

// Every row of the binding table: which libraries meet the binding's condition, which do not,
// and that nothing stays loaded after a release or a refused load.
TEST(Bindings, LoadConditionsAndReleaseOfEveryBinding) {
    norvix::RecordingMessageSeam seam;
    struct Row {
        const char* binding;
        std::function<std::unique_ptr<TModuleBinding>()> make;
        std::vector<const char*> accepted, refused;
    };
    const std::vector<Row> rows = {
        {"capture", [] { return std::make_unique<TCaptureBinding>(); }, {"capture"}, {"map_single", "processing"}},
        {"capture orto", [] { return std::make_unique<TCaptureOrtoBinding>(); }, {"capture_orto"}, {"processing"}},
        {"processing", [] { return std::make_unique<TProcessingBinding>(); }, {"processing"},
         {"processing_noesfera", "capture"}},
        {"processing orto", [] { return std::make_unique<TProcessingOrtoBinding>(); },
         {"processing_orto", "processing_noesfera"}, {"capture"}},
        {"single map", [] { return std::make_unique<TSingleMapBinding>(); },
         {"map_single", "map_novis", "map_orto_only"}, {"map_info_only", "map_noinfo", "map_multi"}},
        {"multi-map", [] { return std::make_unique<TMultiMapBinding>(); }, {"map_multi"},
         {"map_multi_nowizard", "map_single"}},
        {"contact lens", [] { return std::make_unique<TContactLensBinding>(); }, {"lens"}, {"map_single"}},
        {"backup", [] { return std::make_unique<TBackupBinding>(); }, {"backup"}, {"backup_norestore"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.binding);
        auto b = row.make();
        for (const char* name : row.accepted) {
            EXPECT_TRUE(b->LoadModule(lib(name))) << name;
            EXPECT_TRUE(isLoaded(lib(name))) << name;
            b->ReleaseModule();
            EXPECT_FALSE(isLoaded(lib(name))) << name;
        }
        for (const char* name : row.refused) {
            EXPECT_FALSE(b->LoadModule(lib(name))) << name;
            EXPECT_FALSE(b->IsLoaded()) << name;
            EXPECT_FALSE(isLoaded(lib(name))) << name;  // nothing left for a caller to release
        }
        testing::internal::CaptureStderr();
        EXPECT_FALSE(b->LoadModule(lib("nao_existe")));
        testing::internal::GetCapturedStderr();
    }
    EXPECT_TRUE(seam.messages.empty());  // LoadModule never reports: its caller does
}

TEST(Bindings, ReleaseAndReloadNeverLeaveStaleEntries) {
    TSingleMapBinding b;
    ASSERT_TRUE(b.LoadModule(lib("map_single")));
    EXPECT_TRUE(b.CanVisualizar());
    ASSERT_TRUE(b.LoadModule(lib("map_novis")));  // replaces the previous library
    EXPECT_FALSE(isLoaded(lib("map_single")));
    EXPECT_FALSE(b.CanVisualizar());  // still binds without Visualizar
    EXPECT_EQ(b.ProcessaMapaOrto, nullptr);
    b.ReleaseModule();
    EXPECT_EQ(b.ProcessaMapa, nullptr);
    EXPECT_EQ(b.InfoMapa, nullptr);

    TMultiMapBinding m;  // both call forms are the one export
    ASSERT_TRUE(m.LoadModule(lib("map_multi")));
    EXPECT_EQ(reinterpret_cast<void*>(m.Wizard), reinterpret_cast<void*>(m.WizardOrto));
    EXPECT_EQ(reinterpret_cast<void*>(m.ProcessaMapas), reinterpret_cast<void*>(m.ProcessaMapasOrto));
    m.ReleaseModule();
    EXPECT_EQ(m.WizardOrto, nullptr);
}

TEST(Bindings, ProcessingFillsEveryOutput) {
    modtest::Record record;
    TProcessingBinding b;
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
    EXPECT_EQ(record.lines().value(0), "processing|ProcessaImagem|w=0x1234|image=BMimagem|pupil=0|rings=32|dir=/opt/NORVIX");
    EXPECT_EQ(record.lines().value(1), "processing|ProcessaEsfera|w=0x1234|image=BMimagem|radius=7.73|rings=32");
}

TEST(Bindings, MapEntriesReceiveTheirArgumentsInOrder) {
    modtest::Record record;
    TSingleMapBinding b;
    ASSERT_TRUE(b.LoadModule(lib("map_single")));
    ExamData e;
    HostStream front(QByteArray("FRENTE")), header(QByteArray("Paciente: Ana\r\nOD\r\n"));
    b.ProcessaMapa(kWindow, front, nullptr, 310.5, 235.25, header, &e.m, &e.mer, &e.d, &e.pupil, &e.infos);
    HostStream picture;
    TResultadoMapa result{};
    b.Visualizar(kWindow, picture, nullptr, nullptr, 3, 4, &e.m, &e.mer, &e.d, &e.pupil, &result, nullptr, &e.infos);
    b.ReleaseModule();
    EXPECT_EQ(picture.data(), QByteArray("PICTURE"));
    EXPECT_EQ(result[0], 40);
    EXPECT_EQ(result[8], 48);
    const QStringList r = record.lines();
    ASSERT_EQ(r.size(), 2);
    EXPECT_EQ(r[0], "map_single|ProcessaMapa|w=0x1234|front=6|lateral=-1|cx=310.5|cy=235.25|header=Paciente: Ana|m=7.25|mer=29|d=3.5|pupil=11,12,13,14|rings=32");
    EXPECT_EQ(r[1], "map_single|Visualizar|w=0x1234|nulls=111|cx=3|cy=4|m=7.25|mer=29|d=3.5|pupil=11|rings=32");
}

TEST(Bindings, AberrometryLibraryStaysLoaded) {
    modtest::Record record;
    modtest::MapsDir maps;
    const QString path = maps.copy("aberrometry", QString::fromLatin1(TAberrometryBinding::kFileName));
    {
        TAberrometryBinding local;  // even a binding that goes away leaves it loaded
        EXPECT_FALSE(local.LoadModule(lib("map_single")));
        EXPECT_FALSE(local.IsLoaded());
        EXPECT_FALSE(isLoaded(lib("map_single")));  // a library that did not bind is not kept
        ASSERT_TRUE(local.LoadModule(path));
    }
    EXPECT_TRUE(isLoaded(path));
    TAberrometryBinding& b = TAberrometryBinding::instance();
    ASSERT_TRUE(b.LoadModule(path));
    ASSERT_TRUE(b.LoadModule(path));  // loading again replaces the references, keeps the library
    ExamData e;
    HostStream header(QByteArray("Paciente\r\n"));
    const char* clinic[4] = {"Clinica", "Rua A", "Cidade", "5555"};
    b.ProcessaAberrometria(kWindow, &e.m, &e.d, &e.mer, "4", 32, 3, 3.0, 1.1, 0.5, 350, 350, 1, header, clinic);
    EXPECT_TRUE(isLoaded(path));
    EXPECT_EQ(record.lines().value(0),
              "aberrometry|ProcessaAberrometria|w=0x1234|m=7.25|d=3.5|mer=29|cone=4|rings=32|model=3|v1=3|fator=1.1|z0=0.5|350,350,1|header=Paciente|clinic=Clinica;Rua A;Cidade;5555");
}

TEST(Bindings, AberrometryKeepsWhatItBoundThroughLaterLoads) {
    modtest::MapsDir maps;
    const QString first = maps.copy("aberrometry", QStringLiteral("WendleA.so"));
    const QString second = maps.copy("aberrometry", QStringLiteral("WendleB.so"));
    TAberrometryBinding b;
    ASSERT_TRUE(b.LoadModule(first));
    ASSERT_TRUE(b.LoadModule(second));
    EXPECT_TRUE(isLoaded(first));  // replaced, yet never freed
    EXPECT_FALSE(b.LoadModule(lib("lens")));
    EXPECT_EQ(b.ProcessaAberrometria, nullptr);
    EXPECT_FALSE(isLoaded(lib("lens")));
    EXPECT_TRUE(isLoaded(first) && isLoaded(second));
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

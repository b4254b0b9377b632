// The about window offscreen: the version text, the cone, the module rows and the names the
// machine is registered to.
#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>

#include "UBVersionInfo.h"
#include "UfrmSobre.h"
#include "config/SharedRecords.h"
#include "platform/ui/MessageSeam.h"

using norvix::TBVersionInfo;
using norvix::TfrmSobre;

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

using norvix::setRecordText;

class About : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        norvix::resetSharedRecords();
        setRecordText(norvix::infos().TipoCone, "4");
    }
    void TearDown() override {
        if (w) w->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    QString texto(const char* name) const {
        auto* l = w->findChild<QLabel*>(QLatin1String(name));
        EXPECT_NE(l, nullptr) << name;
        return l ? l->text() : QString();
    }
    void abre(const TBVersionInfo* programa) {
        w = new TfrmSobre(programa);
        w->show();
        QCoreApplication::processEvents();
    }
    const QString bin = qEnvironmentVariable("NORVIX_BIN_DIR");
    QTemporaryDir dir;
    norvix::RecordingMessageSeam seam;
    QPointer<TfrmSobre> w;
};

TEST_F(About, VersionIsReleaseOrStableByItsBuildPart) {
    TBVersionInfo v;
    v.ReadVersionInfo(bin + "/calib_tl_modulo.so");  // 2.5.0.3
    abre(&v);
    EXPECT_EQ(texto("lblversao"), "2.5.0.3 release");
    w->close();
    v.ReadVersionInfo(bin + "/Miral");  // build 1
    abre(&v);
    EXPECT_EQ(texto("lblversao"), v.FileVersion() + " release");
    w->close();
    QFile semNota(dir.filePath("sem-versao"));
    ASSERT_TRUE(semNota.open(QIODevice::WriteOnly));
    semNota.close();
    v.ReadVersionInfo(semNota.fileName());
    abre(&v);
    EXPECT_EQ(texto("lblversao"), "- - -");
    EXPECT_EQ(TfrmSobre::textoAneis(0), "");
}

TEST_F(About, ConeTypeAndRingText) {
    for (const auto& [tipo, aneis] : std::initializer_list<std::pair<const char*, const char*>>{
             {"1", "16 (cone pequeno)"}, {"2", "16 (cone grande)"}, {"3", "32 (1a versao)"}, {"4", "32 (atual)"}, {"7", "- - -"}}) {
        setRecordText(norvix::infos().TipoCone, tipo);
        abre(nullptr);
        EXPECT_EQ(texto("lblConeDesc1"), "Tipo do cone");
        EXPECT_EQ(texto("lblConeDesc2"), "Número de anéis");
        EXPECT_EQ(texto("lblConeVersao1"), tipo);
        EXPECT_EQ(texto("lblConeVersao2"), aneis);
        w->close();
    }
    EXPECT_TRUE(seam.messages.empty());
    setRecordText(norvix::infos().TipoCone, "x");
    abre(nullptr);
    EXPECT_EQ(seam.texts(), QStringList{"'x' não é um valor inteiro válido."});
    EXPECT_EQ(texto("lblConeVersao2"), "- - -");
    EXPECT_EQ(texto("lblDigitNome1"), "- - -");  // the rest of the window is still filled
}

TEST_F(About, ModuleRowsShowTheFirstInformationLineAndTheFileVersion) {
    QFile estragado(dir.filePath("Processamento.so"));
    ASSERT_TRUE(estragado.open(QIODevice::WriteOnly));
    estragado.write("não é uma biblioteca");
    estragado.close();
    setRecordText(norvix::paths().Digitalizacao, bin + "/calib_tl_modulo.so");
    setRecordText(norvix::paths().Processamento, estragado.fileName());
    setRecordText(norvix::paths().DigitalizacaoOrto, dir.filePath("GrabmodOrto.so"));  // not installed
    abre(nullptr);
    EXPECT_EQ(texto("lblDigitNome1"), "Modulo de calibracao de teste");
    EXPECT_EQ(texto("lblDigitVersao1"), "2.5.0.3");
    // A file that is no library is reported by its error number; a missing one is not.
    EXPECT_EQ(seam.texts(), QStringList{"8"});
    for (const char* vazio : {"lblProcDesc1", "lblProcVersao1", "lblDigitNome2", "lblDigitVersao2", "lblProcDesc2"})
        EXPECT_EQ(texto(vazio), "- - -") << vazio;
}

TEST_F(About, RegisteredNames) {
    const passwd* pw = getpwuid(getuid());
    ASSERT_NE(pw, nullptr);
    const QString gecos = QString::fromLocal8Bit(pw->pw_gecos).section(',', 0, 0);
    abre(nullptr);
    EXPECT_EQ(texto("lblNumSerie"), gecos.isEmpty() ? QString::fromLocal8Bit(pw->pw_name) : gecos);

    const QString ini = dir.filePath("registro.ini");
    EXPECT_EQ(norvix::organizacaoRegistrada(ini), "");
    QFile f(ini);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[Registro]\r\nRegisteredOrganization=Cl\xEDnica Vis\xE3o Clara\r\n");
    f.close();
    EXPECT_EQ(norvix::organizacaoRegistrada(ini), "Clínica Visão Clara");
}

}  // namespace

// The demonstration installation: complete on the first run, and a second run keeps every
// record the clinic made while bringing the build's own paths up to date.
#include <QCryptographicHash>
#include <QFileInfo>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include "DemoInstallation.h"
#include "platform/ProfileFile.h"
#include "skins/SkinPictures.h"

namespace {
QByteArray hashOf(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

bool rerun(const DemoInstallation& demo) {
    QProcess script;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("NORVIX_ROOT", demo.root());
    script.setProcessEnvironment(env);
    script.start("bash", {qEnvironmentVariable("NORVIX_SOURCE_DIR") + "/scripts/prepare-demo.sh",
                          qEnvironmentVariable("NORVIX_BIN_DIR") + "/.."});
    return script.waitForFinished(120000) && script.exitCode() == 0;
}
}  // namespace

TEST(DemoSetup, FirstRunMakesEverythingTheProgramLooksFor) {
    DemoInstallation demo(true);
    ASSERT_TRUE(demo.ok()) << demo.scriptOutput().toStdString();
    const QDir dirQv(demo.dirQv());
    for (const char* d : {"Banco de Dados", "Exames", "Exemplos", "Laudos", "Mapas", "Calibração", "imgs",
                          "ajuda/AjudaPrincipal"})
        EXPECT_TRUE(dirQv.exists(QString::fromUtf8(d))) << d;
    EXPECT_TRUE(QFile::exists(demo.database()));
    EXPECT_TRUE(QFile::exists(demo.dirQv() + "/BackUp.ini"));
    // The backup medium of the demonstration: a folder of its own, as drive E:.
    const QString midia = norvix::ProfileFile(demo.dirQv() + "/BackUp.ini").readString("UNIDADES", "E", {});
    EXPECT_EQ(midia, demo.root() + "/Disco de Backup");
    EXPECT_TRUE(QFileInfo(midia).isDir());
    EXPECT_TRUE(QFile::exists(demo.dirQv() + "/ajuda/AjudaPrincipal/index.html"));
    for (const char* f : {"Central01a.txt", "Central01d.txt", "Central01m.txt", "Normal06a.txt", "Orto04m.txt"})
        EXPECT_TRUE(QFile::exists(demo.dirQv() + "/Exemplos/" + f)) << f;
    for (const char* m : {"Halden.so", "Sorvik.so"})
        EXPECT_TRUE(QFileInfo(demo.dirQv() + "/Mapas/" + m).isFile()) << m;
    for (const char* m : {"Brennor.so", "Lumeva.so", "Wendle.so"})
        EXPECT_TRUE(QFileInfo(demo.dirQv() + "/Mapas/" + m).isFile()) << m;
    EXPECT_TRUE(QFileInfo(demo.dirQv() + "/Mapas/Cadro.so").isFile());
    // A calibration of the simulated instrument with its four spheres, plausible as any.
    QFile coef(demo.dirQv() + "/Calibração/Coef.txt");
    ASSERT_TRUE(coef.open(QIODevice::ReadOnly));
    const QList<QByteArray> linhas = coef.readAll().trimmed().split('\n');
    ASSERT_EQ(linhas.size(), 64);
    EXPECT_NEAR(linhas[1].trimmed().toDouble(), 1.0, 0.05);
    for (const char* f : {"1.txt", "2.txt", "3.txt", "4.txt"})
        EXPECT_TRUE(QFile::exists(demo.dirQv() + "/Calibração/" + f)) << f;
    EXPECT_TRUE(QDateTime::fromString(norvix::ProfileFile(demo.settingsFile()).readString("MODULOS", "ULTIMACALIB", ""),
                                      "dd/MM/yyyy HH:mm:ss").isValid());
    for (const char* f : {"qv0.dat", "qv3.dat", "qv0_sobre_Mir.dat", "qv0_sobre_MirDuo.dat", "qv3_sobre.dat",
                          "qv3_sobre_Duo.dat"})
        EXPECT_TRUE(QFile::exists(demo.imgs() + "/" + f)) << f;
    for (int i = 0; i < 7; ++i)
        for (bool orvent : {false, true})
            for (bool over : {false, true})
                EXPECT_TRUE(QFile::exists(demo.imgs() + "/" + norvix::skins::buttonFileName(orvent, over, i)));

    // The settings file is Windows-1252 with CR LF and holds the keys the program reads.
    QFile ini(demo.settingsFile());
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    const QByteArray bytes = ini.readAll();
    EXPECT_TRUE(bytes.contains("Cl\xednica de Demonstra\xe7\xe3o\r\n"));
    const norvix::ProfileFile settings(demo.settingsFile());
    EXPECT_EQ(settings.readString("QV", "TipoCone", ""), "4");
    EXPECT_EQ(settings.readString("DIRETORIOS", "BANCODADOS", ""), demo.dirQv() + "/Banco de Dados");
    EXPECT_TRUE(settings.readString("MODULOS", "DIGITALIZACAO", "").endsWith("/Grabmod.so"));
    EXPECT_EQ(settings.readString("MAPA", "CORCERATOMETRIAPONTUAL", ""), "Preta");

    // The capture module's own candidate resolves to the same file.
    const QString captureCandidate = demo.root() + "/Orvent/Orvent.ini";
    EXPECT_EQ(QFileInfo(captureCandidate).canonicalFilePath(), QFileInfo(demo.settingsFile()).canonicalFilePath());
    norvix::ProfileFile(captureCandidate).writeString("CAMERA", "BRILHO", "99");
    EXPECT_EQ(settings.readString("CAMERA", "BRILHO", ""), "99");
    EXPECT_TRUE(QFileInfo(captureCandidate).isSymLink());
}

TEST(DemoSetup, SecondRunKeepsDatabaseExamsReportsAndTheClinicsSettings) {
    DemoInstallation demo;
    ASSERT_TRUE(demo.ok()) << demo.scriptOutput().toStdString();
    const QString exam = demo.dirQv() + "/Exames/12/345d.txt";
    const QString report = demo.dirQv() + "/Laudos/12/7l.txt";
    writeFile(exam, "03.26 \r\n");
    writeFile(report, "Olho normal\r\n@\r\n*");
    writeFile(demo.database(), QByteArray(4096, 'x'));  // whatever the clinic's file holds
    demo.set("CLINICA", "NOME", "Clínica Visão");
    demo.set("MODULOS", "PROCESSAMENTO", "/antigo/Processamento.so");
    const QByteArray before = hashOf(demo.database());

    ASSERT_TRUE(rerun(demo));
    EXPECT_EQ(hashOf(demo.database()), before);
    EXPECT_EQ(hashOf(exam), QCryptographicHash::hash("03.26 \r\n", QCryptographicHash::Sha256));
    EXPECT_TRUE(QFile::exists(report));
    const norvix::ProfileFile settings(demo.settingsFile());
    EXPECT_EQ(settings.readString("CLINICA", "NOME", ""), "Clínica Visão");
    EXPECT_EQ(settings.readString("MODULOS", "PROCESSAMENTO", ""),
              QDir(qEnvironmentVariable("NORVIX_BIN_DIR")).absolutePath() + "/Processamento.so");
}

TEST(DemoSetup, DesktopEntryIsValidAndStartsThisInstallation) {
    QTemporaryDir data;
    const QString root = data.path() + "/Clínica \"A\" $teste";
    QProcess script;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_DATA_HOME", data.path());
    script.setProcessEnvironment(env);
    script.start("bash", {qEnvironmentVariable("NORVIX_SOURCE_DIR") + "/scripts/install-desktop-entry.sh", root});
    ASSERT_TRUE(script.waitForFinished(30000));
    ASSERT_EQ(script.exitCode(), 0) << script.readAllStandardError().toStdString();
    const QString entry = QString::fromUtf8(script.readAllStandardOutput()).trimmed();
    EXPECT_EQ(entry, data.path() + "/applications/norvix-miral.desktop");
    EXPECT_TRUE(QFile::exists(data.path() + "/icons/hicolor/scalable/apps/norvix-miral.svg"));

    QProcess validate;
    validate.start("desktop-file-validate", {entry});
    ASSERT_TRUE(validate.waitForFinished(30000)) << "desktop-file-validate ausente (scripts/install-deps.sh)";
    EXPECT_EQ(validate.exitCode(), 0) << validate.readAll().toStdString();

    // The Exec line, unescaped as a desktop reads it, names this installation exactly.
    QFile f(entry);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(f.readAll());
    EXPECT_TRUE(text.contains("\nIcon=norvix-miral\n"));
    QString exec = text.section("\nExec=", 1).section('\n', 0, 0);
    exec.replace("\\\\", "\\");
    EXPECT_TRUE(exec.startsWith(R"(env "NORVIX_ROOT=)" + QString(root).replace("\"", "\\\"").replace("$", "\\$") + "\" "))
        << exec.toStdString();
}

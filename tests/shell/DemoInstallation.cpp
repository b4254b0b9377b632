#include "DemoInstallation.h"

#include <QDir>
#include <QProcess>
#include "platform/ProfileFile.h"

DemoInstallation::DemoInstallation(bool withExamples, bool withClinic) {
    const QString source = qEnvironmentVariable("NORVIX_SOURCE_DIR");
    const QString bin = qEnvironmentVariable("NORVIX_BIN_DIR");
    QProcess script;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("NORVIX_ROOT", root());
    if (!withExamples) env.insert("NORVIX_DEMO_EXAMPLES", "0");
    if (!withClinic) env.insert("NORVIX_DEMO_CLINICA", "0");
    script.setProcessEnvironment(env);
    script.setProcessChannelMode(QProcess::MergedChannels);
    script.start("bash", {source + "/scripts/prepare-demo.sh", QDir(bin).absoluteFilePath("..")});
    ok_ = script.waitForFinished(120000) && script.exitStatus() == QProcess::NormalExit &&
          script.exitCode() == 0;
    output_ = QString::fromLocal8Bit(script.readAll());
    qputenv("NORVIX_ROOT", root().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (root() + "/config").toLocal8Bit());
}

DemoInstallation::~DemoInstallation() {
    qunsetenv("NORVIX_ROOT");
    qunsetenv("XDG_CONFIG_HOME");
}

void DemoInstallation::set(const QString& section, const QString& key, const QString& value) const {
    norvix::ProfileFile(settingsFile()).writeString(section, key, value);
}

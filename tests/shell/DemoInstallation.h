#pragma once
// A demonstration installation in a temporary folder, prepared by the real setup script, with
// the process pointed at it (NORVIX_ROOT, and the user's regional file inside it too).
#include <QString>
#include <QTemporaryDir>

class DemoInstallation {
public:
    // Without examples and clinic unless asked: each takes seconds per installation.
    explicit DemoInstallation(bool withExamples = false, bool withClinic = false);
    ~DemoInstallation();
    bool ok() const { return ok_; }
    QString root() const { return dir_.path(); }
    QString dirQv() const { return root() + "/OrventDuo"; }
    QString settingsFile() const { return dirQv() + "/Orvent.ini"; }
    QString database() const { return dirQv() + "/Banco de Dados/DATABASE.GDB"; }
    QString imgs() const { return dirQv() + "/imgs"; }
    QString exams() const { return dirQv() + "/Exames"; }
    QString regionalFile() const { return root() + "/config/NORVIX/registro.ini"; }
    QString scriptOutput() const { return output_; }
    // Writes one setting (the file keeps its other lines).
    void set(const QString& section, const QString& key, const QString& value) const;

private:
    QTemporaryDir dir_;
    bool ok_ = false;
    QString output_;
};

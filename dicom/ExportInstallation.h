#pragma once
// An installation opened for the command-line export, as the program opens it: the settings
// file under the root (OrventDuo/Orvent.ini), the shared path records the records layer reads
// (exams, reports, the installation folder) and the data module connected to its database.
#include <QString>
#include <memory>

#include "config/UBIniSettings.h"
#include "dicom/ExamExport.h"

namespace norvix {
class TDMPrincipal;
}

namespace norvix::dicom {

// Gives the installation its DICOM identity on first use (written into its settings), as every
// object's UIDs derive from it. False, with the reason in Portuguese, when it cannot be written.
bool ensureDicomIdentity(TBIniSettings& settings, QString* error);

// This installation and station as the objects name them.
Station stationOf(const TBIniSettings& settings);

class ExportInstallation {
public:
    ExportInstallation();
    ~ExportInstallation();
    ExportInstallation(const ExportInstallation&) = delete;
    ExportInstallation& operator=(const ExportInstallation&) = delete;

    // Opens the installation under root (NORVIX_ROOT is set to it, as the program finds its
    // settings there). The first export gives the installation its identity, written into the
    // settings file. False, with the reason in Portuguese, when the settings file is missing or
    // cannot take the identity, or the database does not open.
    bool open(const QString& root, QString* error);

    const TBIniSettings& settings() const { return *settings_; }
    Station station() const { return stationOf(*settings_); }

private:
    std::unique_ptr<TBIniSettings> settings_;
    std::unique_ptr<TDMPrincipal> data_;
};

}  // namespace norvix::dicom

#pragma once
// The start-up run of the workstation: settings into the shared records, the skin, the
// database, the map-module catalogue and a trial load of the processing and capture modules,
// shown in the "Iniciando . . ." window.
#include <QString>

namespace norvix {

class TfrmPrincipal;
class TBIniSettings;

class TStartUp {
public:
    explicit TStartUp(TfrmPrincipal& main);

    // One run; see TfrmPrincipal::ApplicationEvents1Activate for when it happens. Ends the
    // program (closes the main window) when the settings file, the skin or the database fail.
    void StartUp();

    // The installation's own settings before anything opens the database: the backup module's
    // folder, the permission mask and protected data folders, an interrupted restore undone.
    void PreparaInstalacao();
    // Removes the work folders a kill left behind, and sets the PACS outbox to follow deletions.
    void LimpaSobras();
    void CheckDatabase();
    void LocateModules();
    void StartModules();
    void CheckAutomaticBackup();

    static const char* kSupportPhone;

private:
    TfrmPrincipal& main_;
};

// Whether a database name is on a server: "host:/absolute/path" or "host/port:/absolute/path".
// Anything else is a local file, whatever colons it holds.
bool isDatabaseServerName(const QString& name);

// Copies the cached settings into TInfosQV and TPathsQV in the order the start-up uses
// (a conversion error of an accessor stops it where it happens).
void fillSharedRecords(const TBIniSettings& settings);

}  // namespace norvix

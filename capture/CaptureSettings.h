#pragma once
// The few settings the capture uses, kept in one module-level record that each capture call
// refreshes from the settings file, and the write-back of brightness and contrast.
#include <QString>

namespace norvix::captura {

struct CaptureSettings {
    int brilho = 0;
    int contraste = 0;
    int cameraCentral = 0;
    QString com;
    bool salvarImagemCaptura = false;
    bool autoPCaptura = false;    // "Capturar" arms the automatic capture
    int delayAutoPCaptura = 500;  // ms the eye must stay right before the frame is taken
    int tipoCone = 4;             // the Placido cone (ring count of the live assistance)
};

// The record; it lives as long as the module is loaded.
CaptureSettings& captureSettings();

// Refreshes record from the settings file (the Orvent candidates). When the file is missing,
// or its load is aborted by a value that does not convert, the record keeps its values and
// false is returned. A single unconvertible value among the ones used keeps its old value.
bool refreshCaptureSettings(CaptureSettings& record);

// Reads the settings file again after the window; when it loads, write is set (calibration
// mode, new values confirmed by the operator) and [CAMERA] BRILHO or CONTRASTE differs from the
// record, writes both from the record, BRILHO first. Returns true when it wrote both; a write
// that fails shows why in a message and gives false.
bool persistCameraValues(const CaptureSettings& record, bool write);

}  // namespace norvix::captura

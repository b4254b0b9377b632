#pragma once
// The bindings through which the program reaches its run-time modules. Each binding loads one
// library by full path, resolves its entry points by exact name and tells whether the library
// meets the binding's condition; the caller calls an entry point only after a successful
// LoadModule and releases the binding right after the call.
//
// Rules shared by every binding:
// - LoadModule returns false without a message when the library cannot be loaded or lacks a
//   required entry point; the caller reports it. A binding whose load returned false holds no
//   library (nothing is left loaded for a caller that, rightly, does not release it).
// - A new load replaces the references of the previous one; ReleaseModule clears them, so a
//   stale entry point is a null pointer, never a dangling one.
// - The aberrometry binding has no release: a library it bound stays loaded until the program
//   ends, even when a later load replaces it.
#include <QString>
#include <QStringList>
#include "modules/ModuleContract.h"
#include "platform/DynamicLibrary.h"

class QWidget;

namespace norvix {

class TModuleBinding {
public:
    virtual ~TModuleBinding();
    TModuleBinding(const TModuleBinding&) = delete;
    TModuleBinding& operator=(const TModuleBinding&) = delete;

    bool LoadModule(const QString& path);
    void ReleaseModule();

    bool IsLoaded() const { return library_.isLoaded(); }
    // Errno-style number of the last failed library load (see norvix::DynamicLibrary).
    int LastError() const { return library_.lastError(); }
    const norvix::DynamicLibrary& Library() const { return library_; }

protected:
    TModuleBinding() = default;
    // Resolves the binding's entries; returns whether its load condition holds.
    virtual bool resolveEntries(const norvix::DynamicLibrary& library) = 0;
    virtual void clearEntries() = 0;
    // True for a binding that never frees a library it bound.
    virtual bool keepsLibrary() const { return false; }
    norvix::DynamicLibrary library_;
};

// The capture module (DIGITALIZACAO): needs Digitalizar. GravarFilmeLacrimal is optional (a
// module without it cannot record the tear-film examination).
class TCaptureBinding : public TModuleBinding {
public:
    TDigitalizar Digitalizar = nullptr;
    TGravarFilmeLacrimal GravarFilmeLacrimal = nullptr;

protected:
    bool resolveEntries(const norvix::DynamicLibrary& library) override;
    void clearEntries() override {
        Digitalizar = nullptr;
        GravarFilmeLacrimal = nullptr;
    }
};

// The orthokeratology capture module (DIGITALIZACAO_ORTO): needs Digitalizar (four images).
class TCaptureOrtoBinding : public TModuleBinding {
public:
    TDigitalizarOrto Digitalizar = nullptr;

protected:
    bool resolveEntries(const norvix::DynamicLibrary& library) override;
    void clearEntries() override { Digitalizar = nullptr; }
};

// The processing module (PROCESSAMENTO): needs both ProcessaImagem and ProcessaEsfera.
class TProcessingBinding : public TModuleBinding {
public:
    TProcessaImagem ProcessaImagem = nullptr;
    TProcessaEsfera ProcessaEsfera = nullptr;

protected:
    bool resolveEntries(const norvix::DynamicLibrary& library) override;
    void clearEntries() override;
};

// The orthokeratology processing module (PROCESSAMENTO_ORTO): needs ProcessaImagem.
class TProcessingOrtoBinding : public TModuleBinding {
public:
    TProcessaImagemOrto ProcessaImagem = nullptr;

protected:
    bool resolveEntries(const norvix::DynamicLibrary& library) override;
    void clearEntries() override { ProcessaImagem = nullptr; }
};

// A single-map module of the maps directory: needs InfoMapa and at least one of ProcessaMapa
// and ProcessaMapaOrto. Visualizar may be missing: a caller that needs it checks
// CanVisualizar() and, when false, does not call it and shows nothing in its place (no small
// map, no result values), without a message.
class TSingleMapBinding : public TModuleBinding {
public:
    TProcessaMapa ProcessaMapa = nullptr;
    TProcessaMapaOrto ProcessaMapaOrto = nullptr;
    TVisualizar Visualizar = nullptr;
    TIndicesCeratoconeFn IndicesCeratocone = nullptr;  // optional: the report's keratoconus sentence
    TImagemMapa ImagemMapa = nullptr;                  // optional: the report's maps page
    TInfoMapa InfoMapa = nullptr;
    bool CanVisualizar() const { return Visualizar != nullptr; }

protected:
    bool resolveEntries(const norvix::DynamicLibrary& library) override;
    void clearEntries() override;
};

// A multi-map module of the maps directory. The two call forms of ProcessaMapas and of
// Wizard are the same export seen through two types; the caller picks the form by module
// (the orthokeratology forms for the modules that take orthokeratology exams). Needs InfoMapa,
// ProcessaMapas and Wizard.
class TMultiMapBinding : public TModuleBinding {
public:
    TProcessaMapas ProcessaMapas = nullptr;
    TProcessaMapasOrto ProcessaMapasOrto = nullptr;
    TWizard Wizard = nullptr;
    TWizardOrto WizardOrto = nullptr;
    TInfoMapa InfoMapa = nullptr;

protected:
    bool resolveEntries(const norvix::DynamicLibrary& library) override;
    void clearEntries() override;
};

// The contact-lens module, maps directory + "/" + kFileName: needs ProcessaLente.
class TContactLensBinding : public TModuleBinding {
public:
    static constexpr const char* kFileName = "Cadro.so";
    TProcessaLente ProcessaLente = nullptr;

protected:
    bool resolveEntries(const norvix::DynamicLibrary& library) override;
    void clearEntries() override { ProcessaLente = nullptr; }
};

// The aberrometry module, maps directory + "/" + kFileName: needs ProcessaAberrometria. Its
// library is never freed; use the process-wide instance so that it is loaded once and kept.
class TAberrometryBinding : public TModuleBinding {
public:
    static constexpr const char* kFileName = "Wendle.so";
    TProcessaAberrometria ProcessaAberrometria = nullptr;
    ~TAberrometryBinding() override;

    static TAberrometryBinding& instance();

private:
    using TModuleBinding::ReleaseModule;

protected:
    bool resolveEntries(const norvix::DynamicLibrary& library) override;
    void clearEntries() override { ProcessaAberrometria = nullptr; }
    bool keepsLibrary() const override { return true; }
};

// The backup module (BACKUP MODULO): needs InfoBackup, CriarBackup and RestaurarBackup.
class TBackupBinding : public TModuleBinding {
public:
    TInfoBackup InfoBackup = nullptr;
    TCriarBackup CriarBackup = nullptr;
    TRestaurarBackup RestaurarBackup = nullptr;

protected:
    bool resolveEntries(const norvix::DynamicLibrary& library) override;
    void clearEntries() override;
};

// Module information of any library: kind 1 resolves InfoMapa (map modules), kind 2 Info
// (processing and the about window's modules), kind 3 Info of the capture module, kept in its
// own reference. Any other kind resolves nothing.
class TModuleInfoBinding : public TModuleBinding {
public:
    TInfoMapa InfoMapa = nullptr;
    TInfo Info = nullptr;           // kind 2
    TInfo InfoCaptura = nullptr;    // kind 3

    // Loads the library and resolves the entry of the kind. When the library cannot be
    // loaded it shows the error number alone as decimal text (caption "Erro") and returns
    // false; a missing entry returns false silently. The caller calls the entry and releases
    // the binding right after reading the lines; on false nothing is left loaded.
    bool ReadModuleInfo(const QString& path, int kind, QWidget* parent = nullptr);
    // The entry of the kind last asked for, or null.
    TInfo Entry() const;

protected:
    bool resolveEntries(const norvix::DynamicLibrary& library) override;
    void clearEntries() override;

private:
    int kind_ = 0;
};

// At most this many information lines are read from a module, each cut at kMaxInfoLength
// characters: a module writing without end cannot flood the host.
constexpr qsizetype kMaxInfoLines = 64;
constexpr qsizetype kMaxInfoLength = 4096;

// ReadModuleInfo, then the entry called with a new stream, its lines read and the module
// released. ok (optional) tells whether the entry was found and called.
QStringList ReadModuleLines(const QString& path, int kind, bool* ok = nullptr,
                            QWidget* parent = nullptr);

}  // namespace norvix

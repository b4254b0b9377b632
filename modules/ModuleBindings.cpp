#include "ModuleBindings.h"

#include "modules/HostStream.h"
#include "platform/ui/MessageSeam.h"

namespace norvix {

TModuleBinding::~TModuleBinding() = default;

bool TModuleBinding::LoadModule(const QString& path) {
    clearEntries();
    // A kept library is never freed, not even by a new load that replaces it: it is only
    // forgotten.
    if (keepsLibrary()) library_.detach();
    if (!library_.load(path)) {
        library_.unload();
        return false;
    }
    if (resolveEntries(library_)) return true;
    // Keeping applies to a library that bound; one that did not is released like any other.
    clearEntries();
    library_.unload();
    return false;
}

void TModuleBinding::ReleaseModule() {
    clearEntries();
    library_.unload();
}

bool TCaptureBinding::resolveEntries(const DynamicLibrary& l) {
    Digitalizar = l.resolveAs<TDigitalizar>("Digitalizar");
    GravarFilmeLacrimal = l.resolveAs<TGravarFilmeLacrimal>("GravarFilmeLacrimal");
    return Digitalizar;
}

bool TCaptureOrtoBinding::resolveEntries(const DynamicLibrary& l) {
    Digitalizar = l.resolveAs<TDigitalizarOrto>("Digitalizar");
    return Digitalizar;
}

bool TProcessingBinding::resolveEntries(const DynamicLibrary& l) {
    ProcessaImagem = l.resolveAs<TProcessaImagem>("ProcessaImagem");
    ProcessaEsfera = l.resolveAs<TProcessaEsfera>("ProcessaEsfera");
    return ProcessaImagem && ProcessaEsfera;
}

void TProcessingBinding::clearEntries() {
    ProcessaImagem = nullptr;
    ProcessaEsfera = nullptr;
}

bool TProcessingOrtoBinding::resolveEntries(const DynamicLibrary& l) {
    ProcessaImagem = l.resolveAs<TProcessaImagemOrto>("ProcessaImagem");
    return ProcessaImagem;
}

bool TSingleMapBinding::resolveEntries(const DynamicLibrary& l) {
    ProcessaMapa = l.resolveAs<TProcessaMapa>("ProcessaMapa");
    ProcessaMapaOrto = l.resolveAs<TProcessaMapaOrto>("ProcessaMapaOrto");
    Visualizar = l.resolveAs<TVisualizar>("Visualizar");
    IndicesCeratocone = l.resolveAs<TIndicesCeratoconeFn>("IndicesCeratocone");
    ImagemMapa = l.resolveAs<TImagemMapa>("ImagemMapa");
    InfoMapa = l.resolveAs<TInfoMapa>("InfoMapa");
    return InfoMapa && (ProcessaMapa || ProcessaMapaOrto);
}

void TSingleMapBinding::clearEntries() {
    ProcessaMapa = nullptr;
    ProcessaMapaOrto = nullptr;
    Visualizar = nullptr;
    IndicesCeratocone = nullptr;
    ImagemMapa = nullptr;
    InfoMapa = nullptr;
}

bool TMultiMapBinding::resolveEntries(const DynamicLibrary& l) {
    ProcessaMapas = l.resolveAs<TProcessaMapas>("ProcessaMapas");
    // The second form under its own name where the module has it; otherwise the one name, as the
    // contract has other makers' modules take both forms.
    ProcessaMapasOrto = l.resolveAs<TProcessaMapasOrto>("ProcessaMapasOrto");
    if (!ProcessaMapasOrto) ProcessaMapasOrto = l.resolveAs<TProcessaMapasOrto>("ProcessaMapas");
    Wizard = l.resolveAs<TWizard>("Wizard");
    WizardOrto = l.resolveAs<TWizardOrto>("Wizard");
    InfoMapa = l.resolveAs<TInfoMapa>("InfoMapa");
    return ProcessaMapas && ProcessaMapasOrto && Wizard && WizardOrto && InfoMapa;
}

void TMultiMapBinding::clearEntries() {
    ProcessaMapas = nullptr;
    ProcessaMapasOrto = nullptr;
    Wizard = nullptr;
    WizardOrto = nullptr;
    InfoMapa = nullptr;
}

bool TContactLensBinding::resolveEntries(const DynamicLibrary& l) {
    ProcessaLente = l.resolveAs<TProcessaLente>("ProcessaLente");
    return ProcessaLente;
}

TAberrometryBinding::~TAberrometryBinding() {
    // Freed only by the end of the process: a module's own windows and threads may still
    // refer to its code while static objects are torn down.
    library_.detach();
}

TAberrometryBinding& TAberrometryBinding::instance() {
    static TAberrometryBinding binding;
    return binding;
}

bool TAberrometryBinding::resolveEntries(const DynamicLibrary& l) {
    ProcessaAberrometria = l.resolveAs<TProcessaAberrometria>("ProcessaAberrometria");
    return ProcessaAberrometria;
}

bool TBackupBinding::resolveEntries(const DynamicLibrary& l) {
    InfoBackup = l.resolveAs<TInfoBackup>("InfoBackup");
    CriarBackup = l.resolveAs<TCriarBackup>("CriarBackup");
    RestaurarBackup = l.resolveAs<TRestaurarBackup>("RestaurarBackup");
    return InfoBackup && CriarBackup && RestaurarBackup;
}

void TBackupBinding::clearEntries() {
    InfoBackup = nullptr;
    CriarBackup = nullptr;
    RestaurarBackup = nullptr;
}

bool TModuleInfoBinding::ReadModuleInfo(const QString& path, int kind, QWidget* parent) {
    kind_ = kind;
    if (LoadModule(path)) return true;
    // Only a library that could not be loaded is reported; a missing entry is silent.
    if (LastError() != 0)
        norvix::showMessage(QString::number(LastError()), QStringLiteral("Erro"), norvix::MsgIcon::Error,
                            norvix::MsgButtons::Ok, parent);
    return false;
}

TInfo TModuleInfoBinding::Entry() const {
    switch (kind_) {
        case 1: return InfoMapa;
        case 2: return Info;
        case 3: return InfoCaptura;
        default: return nullptr;
    }
}

bool TModuleInfoBinding::resolveEntries(const DynamicLibrary& l) {
    switch (kind_) {
        case 1: InfoMapa = l.resolveAs<TInfoMapa>("InfoMapa"); return InfoMapa;
        case 2: Info = l.resolveAs<TInfo>("Info"); return Info;
        case 3: InfoCaptura = l.resolveAs<TInfo>("Info"); return InfoCaptura;
        default: return false;
    }
}

void TModuleInfoBinding::clearEntries() {
    InfoMapa = nullptr;
    Info = nullptr;
    InfoCaptura = nullptr;
}

QStringList ReadModuleLines(const QString& path, int kind, bool* ok, QWidget* parent) {
    if (ok) *ok = false;
    TModuleInfoBinding binding;
    if (!binding.ReadModuleInfo(path, kind, parent)) return {};
    HostStream stream;
    binding.Entry()(stream.moduleStream());
    const QStringList lines = stream.lines(kMaxInfoLines, kMaxInfoLength);
    binding.ReleaseModule();
    if (ok) *ok = true;
    return lines;
}

}  // namespace norvix

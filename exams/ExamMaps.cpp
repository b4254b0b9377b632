#include "ExamMaps.h"

#include "UfrmExames.h"
#include "modules/HostStream.h"

struct TExamMaps::MultiMapArrays {};

TExamMaps::TExamMaps(TfrmExames& browser) : browser_(browser), arrays_(std::make_unique<MultiMapArrays>()) {}
TExamMaps::~TExamMaps() = default;

void TExamMaps::MostraMiniMapa() {}
void TExamMaps::MapaClick(const QString&) {}
void TExamMaps::MapasClick(const QString&) {}
void TExamMaps::MostraMapa(const QString&) {}
void TExamMaps::MostraMapas(const QString&) {}
void TExamMaps::MostraMapasExemplo(const QString&) {}
void TExamMaps::ChamaModuloMapa(const QString&, const QString&, ModuleStream*, ModuleStream*, int, norvix::HostStream&) {}

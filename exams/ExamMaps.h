#pragma once
// Map viewing from the exam browser: the small map of the exam panel, one map of a stored or
// example exam through a single-map, contact-lens or aberrometry module, and the multi-map
// layouts of several exams chosen in a module's own wizard. Every module is loaded for its
// call and released after it (the aberrometry module excepted).
#include <QString>
#include <memory>

#include "modules/ModuleContract.h"

class TfrmExames;
namespace norvix {
class HostStream;
}

class TExamMaps {
public:
    explicit TExamMaps(TfrmExames& browser);
    ~TExamMaps();

    // The small map (Halden's Visualizar picture) of the selected exam, while the exam panel
    // shows; the same exam is not drawn twice in a row.
    void MostraMiniMapa();
    // A click on a map button: caption is the module file name without extension.
    void MapaClick(const QString& caption);
    void MapasClick(const QString& caption);

    void MostraMapa(const QString& moduleFile);
    void MostraMapas(const QString& moduleFile);
    void MostraMapasExemplo(const QString& moduleFile);
    // Calls a single-map, contact-lens or aberrometry module with the exam loaded last; the
    // configuration record's ring count and cone type are the exam's during the call and
    // restored on every way out.
    void ChamaModuloMapa(const QString& moduleFile, const QString& cone, ModuleStream* front,
                         ModuleStream* lateral, int rings, norvix::HostStream& header);

private:
    struct MultiMapArrays;
    TfrmExames& browser_;
    std::unique_ptr<MultiMapArrays> arrays_;
};

#pragma once
// Map viewing from the exam browser: the small map of the exam panel, one map of a stored or
// example exam through a single-map, contact-lens or aberrometry module, and the multi-map
// layouts of several exams chosen in a module's own wizard. Every module is loaded for its
// call and released after it (the aberrometry module excepted).
#include <QString>
#include <QStringList>

#include "modules/ModuleContract.h"

namespace norvix {

class TfrmExames;
class HostStream;
struct TExame;

class TExamMaps {
public:
    explicit TExamMaps(TfrmExames& browser);
    ~TExamMaps();

    // The small map (Halden's Visualizar picture) of the selected exam, while the exam panel
    // shows; the same exam is not drawn twice in a row. A module that is missing, lacks
    // Visualizar or writes no PNG picture leaves the small map empty, without a message.
    void MostraMiniMapa();
    // A click on a map button: caption is the module file name without extension.
    void MapaClick(const QString& caption);
    void MapasClick(const QString& caption);

    void MostraMapa(const QString& moduleFile);
    void MostraMapas(const QString& moduleFile);
    void MostraMapasExemplo(const QString& moduleFile);
    // Calls a single-map, contact-lens or aberrometry module with the exam loaded last: exam
    // is the stored exam it is, null for an example of the examples page. The configuration
    // record's ring count and cone type are the given ones during the call and restored on
    // every way out. A single-map module without the entry the exam takes (ProcessaMapa, or
    // ProcessaMapaOrto for an orthokeratology exam) counts as not bound.
    void ChamaModuloMapa(const QString& moduleFile, const QString& cone, ModuleStream* front, ModuleStream* lateral,
                         int rings, norvix::HostStream& header, const norvix::TExame* exam = nullptr);

    // A wizard's selection line back into an exam item caption: "Olho Direito - " becomes
    // "OD - ", "Olho Esquerdo - " becomes "OS - ", the rest is kept.
    static QString LinhaParaItem(const QString& line);

    // The module files the map viewing knows by name.
    static const QString kHalden, kSorvik, kTruvan, kQuessel, kAmbrel, kFennic;

private:
    struct MultiMapArrays;
    // The multi-map arrays every call reuses; they keep their content until the next call.
    static MultiMapArrays& arrays();
    QString modulePath(const QString& moduleFile) const;
    // Binds the multi-map module, runs its wizard (the form the module takes) on the lines and
    // returns the chosen lines; none (module released) when it did not bind, the wizard did not
    // return 1 or chose nothing.
    struct MultiMapCall;
    QStringList runWizard(MultiMapCall& call, const QStringList& lines);
    // ProcessaMapas in the module's form with the first count elements of the arrays.
    void callProcessaMapas(MultiMapCall& call, int count);

    TfrmExames& browser_;
};

}  // namespace norvix

#pragma once
// What the multi-map modules share: the exams of one call read safely out of the host's arrays,
// the fields of their patient headers, the wizard in which the operator chooses the exams, and
// the window their layouts are shown in.
#include <QDateTime>
#include <QDialog>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

#include "MapPainter.h"
#include "modules/ModuleContract.h"
#include "outside/math/CornealMap.h"

class QGridLayout;
class QLabel;
class QScrollArea;
class QTableWidget;
class QTimer;
class QVBoxLayout;

namespace norvix::outside {

// The most exams a layout shows; the wizard offers no more.
constexpr int kMaxMultiExams = 8;

struct ExamHeader {
    QStringList lines;
    QString patient() const { return line(0); }
    bool rightEye() const { return line(3) == QLatin1String("Olho Direito"); }
    QString eyeText() const { return line(3); }
    QDateTime when() const;  // invalid when the date or time does not parse
    // The host's header of an example exam: "Exemplo", "00", "00", ...
    bool isExample() const;
    // "Olho Direito 10/01/2001 00:00:00" and the like, for captions.
    QString caption() const;
    QString line(int i) const { return i < lines.size() ? lines[i].trimmed() : QString(); }
};

// A difference carries the point noise of two exams, which near the centre (where a ring's few
// pixels of radius make each meridian's curvature uncertain) would outweigh a real change of a
// fraction of a dioptre: differences are taken between powers averaged over 1 mm of arc of their
// circle, kept on a polar grid so that a map of them draws quickly.
class SmoothedPower {
public:
    SmoothedPower(const CornealMap& map, MapKind kind);
    double at(double r, double thetaDeg) const;  // NaN outside the measured zone

private:
    static constexpr double kStepMm = 0.05;
    static constexpr int kRadii = int(MapPainter::kFieldMm / 2 / kStepMm) + 2;
    double grid_[kRadii][NORVIX_MERIDIANS];
};

struct Exam {
    ExamHeader header;
    CornealMap map;
    bool hasMap = false;
    QString why;    // when there is no map
    int rings = 0;  // rings present in its data
    // The host's arrays the exam was read from, valid during the call: the full single-map
    // window of a tile reads them again.
    const TMatrizAngAnel* d = nullptr;
    const TMatrizAngAnel* m = nullptr;
    const TMatrizAng* meridians = nullptr;
    const SmoothedPower& smoothed(MapKind kind) const;  // made on first use

private:
    mutable std::unique_ptr<SmoothedPower> smoothed_[2];
};

using Exams = std::vector<std::unique_ptr<Exam>>;

// The exams of a ProcessaMapas call (meridians null in the second form, whose element count is
// the headers'). False, with a Portuguese reason, when the arrays cannot be trusted: null, a
// count of 0, more elements claimed than an array holds. An exam whose data make no map is kept
// with hasMap false and its reason.
bool readExams(const TDadosPac* headers, const TMatrizesAngAnel* m, const TMatrizesAng* meridians,
               const TMatrizesAngAnel* d, int count, const TInfosQV* infos, Exams* out, QString* error);

// Exams sorted by date and time, those without either last, the order otherwise kept.
void sortByDate(Exams* exams);

// Rings present in an exam's data: the meridian vector's largest value, or without one the
// last ring with a measured point.
int ringsIn(const TMatrizAngAnel& d, const TMatrizAng* meridians);

// A notice when the exams were measured with different ring counts (their maps then compare
// over the zone both measured); empty otherwise.
QString ringCountNotice(const Exams& exams);

// ---- the wizard -----------------------------------------------------------------------------

struct WizardRules {
    QString title;
    QString instruction;
    int minimum = 2;
    int maximum = kMaxMultiExams;
    bool sameEye = false;       // every chosen exam of one eye
    bool oneOfEachEye = false;  // exactly one right and one left exam
    bool lettered = false;      // each list line begins with the exam's type letter
    bool orthoOnly = false;     // lettered: offer only orthokeratology exams ("O")
    bool offerMapKind = false;  // "Axial" / "Tangencial" choice, option MAPA
    MapKind defaultKind = MapKind::Axial;
    bool offerMirror = false;  // "Espelhar o olho esquerdo", option ESPELHAR
};

// Reads the exam list, shows the wizard and, on OK, writes the chosen lines (without the type
// letter) in date order (right eye first when one of each eye is asked) into selection and the
// options as "KEY=value" lines. Lines that are not exam lines are left out and said so. Returns
// 1 on OK, 0 on cancel or unusable arguments.
int32_t runWizard(void* hostWindow, ModuleStream* examList, ModuleStream* selection, ModuleStream* options,
                  const WizardRules& rules, const char* module);

// The options the wizard wrote (KEY=value lines); missing keys give the fallback.
MapKind optionKind(ModuleStream* options, MapKind fallback);
bool optionFlag(ModuleStream* options, const char* key);

// ---- the window ------------------------------------------------------------------------------

// Draws a tile's picture with the given side (pixels): maps are drawn again, not stretched, when
// the window gives them more room, so that their marks and digits stay sharp.
using TilePainter = std::function<QImage(int side)>;

class TileImage;

class MultiMapWindow : public QDialog {
    Q_OBJECT
public:
    MultiMapWindow(const QString& title, QWidget* parent);
    ~MultiMapWindow() override;
    // A map with its caption at (row, column) of the tile grid; name becomes the image's
    // objectName. The map grows with the window and never shrinks below tileSize().
    QLabel* addTile(int row, int column, const QString& name, const QString& caption, TilePainter paint);
    // A double click on the tile opens the exam in the single-map window, with everything that
    // window offers (marks, readout, scales, grid, export).
    void linkFullMap(QLabel* tile, const Exam& exam, MapKind kind, const TInfosQV* infos);
    // A colour scale as tall as the maps beside it.
    void addScale(int row, int column, const ColourScale& scale, const QString& name);
    // The notice line over the layout (red), e.g. why an exam has no map.
    void addNotice(const QString& text);
    QString noticeText() const;
    QVBoxLayout* below() const { return below_; }

    // Modal over the host's window (closing itself once drawn under NORVIX_MODULE_AUTOCLOSE=1).
    static bool show(MultiMapWindow& window);
    // The side the maps are drawn with now.
    int tileSide() const { return side_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Draws every map and scale again at the largest side the maps' room allows.
    void regrow();

    QScrollArea* scroll_ = nullptr;
    QGridLayout* tiles_ = nullptr;
    QLabel* notice_ = nullptr;
    QVBoxLayout* below_ = nullptr;
    QTimer* regrowTimer_ = nullptr;
    std::vector<TileImage*> maps_, scales_;
    std::vector<QLabel*> captions_;
    int side_ = 0;
};

// The window with nothing but the reason the exams cannot be shown, so the operator learns why.
void showFailure(void* hostWindow, const QString& title, const QString& why);

// Map tiles (pixels): 220 where four and a scale fit across the screen, smaller on a small one.
int tileSize();

// The map of an exam as a tile picture of the given side, or a grey square with the reason it
// has none.
QImage examPicture(const Exam& exam, MapKind kind, const ColourScale& scale, const MapOptions& options, int side);
// later - earlier (dioptres) where both have data, each averaged over 1 mm of arc; NaN elsewhere.
double powerDifference(const Exam& later, const Exam& earlier, MapKind kind, double r, double thetaDeg);
// Largest |later - earlier| over the field, for the difference scale.
double largestDifference(const Exam& later, const Exam& earlier, MapKind kind);
// The absolute scale, or the configured fixed increment centred on these exams' mean power.
ColourScale sharedScale(const Exams& exams, MapKind kind, const TInfosQV* infos);
QString dioptreText(double v);
// Columns stretched (the first fitted to its texts), rows fitted, tall enough for up to
// `visibleRows` rows without scrolling.
void fitTable(QTableWidget* table, int visibleRows);
QString kindText(MapKind kind);

// The first form of ProcessaMapas, guarded: the exams read and handed to show (the host gets
// 1); exams that cannot be trusted get the module's window saying why, and the host 0.
int32_t showExams(const char* module, const QString& title, void* hostWindow, const TDadosPac* headers,
                  const TMatrizesAngAnel* m, const TMatrizesAng* meridians, const TMatrizesAngAnel* d, int count,
                  const TInfosQV* infos, const std::function<void(Exams&)>& show);

}  // namespace norvix::outside

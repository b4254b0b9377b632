#pragma once
// The non-invasive tear-film break-up time (NIBUT) of a recording of the rings after a blink:
// what the analysis finds, how it is kept with the exam and how the report words it.
#include <QByteArray>
#include <QImage>
#include <QPointF>
#include <QString>
#include <QtGlobal>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <vector>

namespace norvix::lagrima {

// The analysed cornea is cut into sectors: ring bands (radii in mm on the cornea, from the
// apex outwards) times meridian groups of equal angle, group 0 centred on 0 degrees (the
// image's right), counted counter-clockwise. Sector index = band * kGroups + group.
constexpr int kBands = 4;
constexpr int kGroups = 8;
constexpr double kBandEdgesMm[kBands + 1] = {1.0, 2.0, 3.0, 4.0, 5.0};
// The sector of a point x mm to the image right and y mm up from the apex; -1 outside.
int sectorOf(double xMm, double yMm);

// A first break-up under this is counted as an unstable tear film.
constexpr double kAlteredBelowS = 10.0;
// breakS of a sector the analysis could not see (eyelid, lashes, a ring shadow): drawn hatched.
constexpr double kNotAnalysedS = -1.0;

struct TearFilmResult {
    static constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
    double firstS = kNone;      // first NIBUT, seconds after the blink; NaN: no break
    double averageS = kNone;    // mean break time of the sectors that broke; NaN: no break
    double recordedS = 0;       // seconds analysed after the blink
    double blinkS = kNone;      // when the blink that ended the recording came; NaN: none
    double fps = 0;
    std::vector<double> breakS;             // per sector (kBands * kGroups); NaN: never broke
    std::vector<QPointF> brokenArea;        // (seconds, percent of the analysed area broken)

    bool broke() const { return !std::isnan(firstS); }
    bool altered() const { return broke() && firstS < kAlteredBelowS; }
    double brokenPercentAtEnd() const { return brokenArea.empty() ? 0 : brokenArea.back().y(); }
};

// The result as stored with the exam, and back (false with a Portuguese message on a bad text).
QByteArray toJson(const TearFilmResult& result);
bool fromJson(const QByteArray& json, TearFilmResult* result, QString* error);

// The verdict on a result, the one every place that shows or sends it uses (the result window,
// the report, the DICOM object, analisa-lagrima). "Normal" needs the data for it: a recording of
// at least kAlteredBelowS seconds when nothing broke, and at least half of the sectors seen;
// anything less is "Inconclusivo" with the reason, never the favourable answer.
struct TearFilmVerdict {
    enum Kind { Normal, Altered, Inconclusive } kind = Inconclusive;
    QString words;   // "Normal", "Alterado (< 10 s)", "Inconclusivo"
    QString reason;  // why inconclusive, e.g. "registro de 6,0 s sem ruptura (mínimo 10 s)"; else empty
};
TearFilmVerdict verdictOf(const TearFilmResult& result);

// A time in seconds as every place writes it beside the verdict ("9,9"): cut down to the tenth,
// never rounded up, so a first break at 9.97 s does not read "10,0" next to "Alterado (< 10 s)"
// nor a 9.97 s recording "10,0" beside "mínimo 10 s". "\u2014" when there is no time.
QString secondsText(double seconds);

// The report's sentence, e.g. "Tempo de ruptura não invasivo: primeira ruptura em 6,2 s, média
// 9,8 s (alterado)." or "... sem ruptura em 14,0 s de registro." or, when inconclusive,
// "...: sem ruptura em 6,0 s de registro; inconclusivo: registro de 6,0 s sem ruptura (mínimo 10 s)."
QString reportSentence(const TearFilmResult& result);

// Frame by frame, as the frames come (memory does not grow with the frames' pixels).
class TearFilmAnalyser {
public:
    explicit TearFilmAnalyser(double fps);
    ~TearFilmAnalyser();
    TearFilmAnalyser(const TearFilmAnalyser&) = delete;
    TearFilmAnalyser& operator=(const TearFilmAnalyser&) = delete;
    // grey: QImage::Format_Grayscale8 (others are converted); ms since the recording started.
    void addFrame(const QImage& grey, qint64 ms);
    // False with a Portuguese message when the recording cannot be analysed: no rings (eye
    // closed, patient gone), too short (under 3 s), too dark.
    bool finish(TearFilmResult* result, QString* error);

private:
    struct State;
    std::unique_ptr<State> d_;
};

// A whole recording file; progress(done, total) may return false to cancel (then false and
// an empty error).
bool analyseRecording(const QString& path, TearFilmResult* result, QString* error,
                      const std::function<bool(int, int)>& progress = {});

}  // namespace norvix::lagrima

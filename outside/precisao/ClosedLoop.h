#pragma once
// The capture's closed loop on the simulated instrument: an eye that moves, an operator who
// follows the live assistance, the automatic capture, and the processing of the frame it froze,
// beside a manual capture taken at a random moment of the same session. What the whole chain
// gives back is compared with the surface's truth, sampled where the rings fell.
#include <QString>
#include <functional>
#include <memory>
#include <vector>

#include "capture/LiveAssist.h"
#include "capture/sim/FrameAssessment.h"
#include "capture/sim/SimulatedEye.h"
#include "outside/core/TopographyProcessor.h"
#include "outside/math/CornealMap.h"

namespace norvix::precisao {

// How the eye moves during a session (see sim::Target::Motion).
struct EyeMotion {
    double distanceDriftMm = 1.0, distanceHz = 0.15;  // working distance wandering +-1 mm
    double fixationDriftMm = 0.08, fixationHz = 0.3;  // slow wander off the axis
    double saccadeMm = 0.03, saccadesPerS = 1.0;      // micro-saccades
};

// One measured frame.
struct Take {
    bool measured = false;     // the processing accepted it
    QString refusal;           // why not
    double seconds = 0;        // from the start of the session
    double dzMm = 0;           // the eye's true distance error then (+: nearer than focus)
    double offsetMm = 0;       // and its true distance from the instrument axis
    double toldDzMm = NAN;     // the distance error the assistance told then (NaN: not known yet)
    std::shared_ptr<outside::Topography> topo;
};

struct Session {
    bool frozen = false;       // the automatic capture took a frame (otherwise it gave up)
    Take automatic, manual;
};

// Not thread-safe: one per thread.
class ClosedLoop {
public:
    static constexpr double kFps = 30;

    // delayMs: how long the eye must stay right before the frame is taken (DELAYAUTOPCAPTURA).
    explicit ClosedLoop(int coneType = 4, int rings = 32, int delayMs = 500);

    // One session, armed from its first frame: the operator starts with the instrument too far,
    // sweeps through focus until the assistance knows the distance, then follows its
    // "Aproxime" / "Afaste" a few frames late while the eye keeps moving. The manual capture is
    // taken at a moment drawn from the seed within the automatic capture's time limit.
    Session run(const sim::Target& surface, uint32_t seed, const EyeMotion& motion = {});

    int rings() const { return rings_; }

private:
    Take measure(const QImage& frame, uint32_t n, const sim::MotionState& state, const captura::LiveStatus& status);

    int rings_, delayMs_;
    sim::Renderer renderer_;
    sim::FrameAssessor assessor_;
    outside::TopographyProcessor processor_;
};

// Every surface's sessions at once, shared among two workers with an instrument each; session
// k of a surface is seeded from `seed` and k alone. progress(done, total) after each session,
// from the workers' threads.
std::vector<std::vector<Session>> runSessions(const std::vector<sim::Target>& surfaces, int repeats, uint32_t seed,
                                              int delayMs, const std::function<void(int, int)>& progress = {});

// ---- the truth -----------------------------------------------------------------------------

// Axial power (dioptres) of the surface at r mm from the apex on meridian theta (degrees,
// counter-clockwise from the image right), as a Placido instrument reads it: the distance from
// the point to the axis along the normal's meridional part. NaN off the surface.
double trueAxialPower(const sim::Target& t, double r, double thetaDeg);
// Height (mm, into the eye) of the surface at (x, y) mm from the apex. NaN off the surface.
double trueHeight(const sim::Target& t, double x, double y);
// The simulated keratometry the map would show of the true surface, sampled at the same ring
// points as the measured exam: the truth the measured keratometry is compared with.
bool trueKeratometry(const sim::Target& t, const outside::Topography& measured, int rings, outside::Keratometry* k);

// ---- the figures -----------------------------------------------------------------------------

// Mean and spread of a stream of differences.
class Spread {
public:
    void add(double v);
    long count() const { return n_; }
    double mean() const { return n_ ? mean_ : 0; }
    double sd() const;

private:
    long n_ = 0;
    double mean_ = 0, m2_ = 0;
};

// Zones of the map: the central 3 mm, 3 to 6 mm and 6 to 9 mm (diameters).
constexpr int kZones = 3;
extern const double kZoneMm[kZones + 1];

// What one group of surfaces gave over its sessions.
struct GroupFigures {
    Spread power[kZones];       // measured - true axial power, D
    Spread heightUm[kZones];    // measured - true height, micrometres
    Spread kError;              // automatic capture: measured - true mean K, D
    Spread kErrorManual;        // manual capture: the same
    double kWorst = 0, kWorstManual = 0;  // largest |K error|, either meridian
    double pooledK = 0, pooledAxis = 0;   // sums of squared deviations from each surface's mean
    int dofK = 0, dofAxis = 0;            // and their degrees of freedom
    int sessions = 0, frozen = 0;
    double secondsToFreeze = 0;           // summed over the frozen sessions

    double swK() const;     // within-subject standard deviation of mean K, D
    double swAxis() const;  // of the steep axis on astigmatic surfaces, degrees; NaN without any
};

// Adds the sessions of one surface to its group: the zones and K of the automatic captures,
// the K of the manual ones, and the repeatability of the automatic captures.
void addSurface(const sim::Target& t, const std::vector<Session>& sessions, int rings, GroupFigures* g);

}  // namespace norvix::precisao

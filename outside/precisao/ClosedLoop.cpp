#include "ClosedLoop.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <deque>
#include <random>
#include <thread>

#include "outside/math/CornealSurface.h"

namespace norvix::precisao {
namespace {

// The simulated operator: how far the instrument travels while looking for focus, how fast,
// how late the assistance's advice reaches the hand, and how hard the hand follows it.
constexpr double kSweepMm = 1.2;
constexpr double kSweepMmPerS = 1.5;
constexpr size_t kReactionFrames = 4;  // some 130 ms
constexpr double kFollowPerS = 6.0;    // mm/s of travel per mm of distance error
constexpr double kFastestMmPerS = 1.5;

double radians(double deg) { return deg * M_PI / 180; }

// Steep axis differences wrap at 180 degrees.
double axisDifference(double a, double b) {
    double d = std::fmod(a - b, 180.0);
    if (d > 90) d -= 180;
    if (d < -90) d += 180;
    return d;
}

}  // namespace

const double kZoneMm[kZones + 1] = {0, 3, 6, 9};

ClosedLoop::ClosedLoop(int coneType, int rings, int delayMs)
    : rings_(rings), delayMs_(delayMs), renderer_(coneType), assessor_(coneType), processor_(coneType, rings) {
    processor_.setThreads(1);  // sessions run side by side
}

Session ClosedLoop::run(const sim::Target& surface, uint32_t seed, const EyeMotion& motion) {
    sim::Target t = surface;
    t.motion.distanceDriftMm = motion.distanceDriftMm;
    t.motion.distanceHz = motion.distanceHz;
    t.motion.driftMm = motion.fixationDriftMm;
    t.motion.driftHz = motion.fixationHz;
    t.motion.saccadeMm = motion.saccadeMm;
    t.motion.saccadesPerS = motion.saccadesPerS;
    t.motion.seed = seed;

    const auto limitFrames = uint32_t(captura::AutoCapture::kLimitMs * kFps / 1000);
    std::mt19937 draw(seed * 2654435761u + 17u);
    const uint32_t manualFrame = std::uniform_int_distribution<uint32_t>(uint32_t(kFps / 2), limitFrames - 1)(draw);

    captura::LiveJudge judge;
    captura::AutoCapture autoCapture(delayMs_);
    autoCapture.arm(0);
    std::deque<captura::LiveStatus> seen;
    double instrument = -kSweepMm;  // the focal plane's offset the operator adds: starts too far
    double sweep = 1;
    bool autoDone = false;
    Session session;
    QImage frame;
    for (uint32_t n = 0; n <= limitFrames && !(autoDone && n > manualFrame); ++n) {
        t.motion.distanceMm = instrument;
        const auto ms = qint64(std::lround(n * 1000 / kFps));
        renderer_.liveFrame(t, n, &frame);
        const sim::MotionState state = sim::motionAt(t, n, kFps);
        const captura::LiveStatus status = judge.judge(assessor_.assess(frame), ms);
        if (!autoDone) {
            const captura::AutoCapture::Step step = autoCapture.feed(status.good, ms);
            if (step == captura::AutoCapture::Step::Freeze) {
                session.frozen = true;
                session.automatic = measure(frame, n, state, status);
            }
            autoDone = step != captura::AutoCapture::Step::Wait;
        }
        if (n == manualFrame) session.manual = measure(frame, n, state, status);

        seen.push_back(status);
        if (seen.size() <= kReactionFrames) continue;
        const captura::LiveStatus advice = seen.front();
        seen.pop_front();
        if (!advice.distanceKnown) {
            // "Aproxime e afaste para achar o foco": through focus and back.
            instrument += sweep * kSweepMmPerS / kFps;
            if (instrument >= kSweepMm) sweep = -1;
            if (instrument <= -kSweepMm) sweep = 1;
        } else {
            // "Afaste" when too near (positive), "Aproxime" when too far.
            const double speed = std::clamp(-kFollowPerS * advice.distanceMm, -kFastestMmPerS, kFastestMmPerS);
            instrument += speed / kFps;
        }
    }
    return session;
}

Take ClosedLoop::measure(const QImage& frame, uint32_t n, const sim::MotionState& state,
                         const captura::LiveStatus& status) {
    Take take;
    if (status.distanceKnown) take.toldDzMm = status.distanceMm;
    take.seconds = n / kFps;
    take.dzMm = state.dzMm;
    take.offsetMm = std::hypot(state.xMm, state.yMm);
    auto topo = std::make_shared<outside::Topography>();
    take.measured = processor_.process(frame, topo.get(), &take.refusal);
    if (take.measured) take.topo = std::move(topo);
    return take;
}

std::vector<std::vector<Session>> runSessions(const std::vector<sim::Target>& surfaces, int repeats, uint32_t seed,
                                              int delayMs, const std::function<void(int, int)>& progress) {
    const int total = int(surfaces.size()) * repeats;
    std::vector<std::vector<Session>> sessions(surfaces.size(), std::vector<Session>(size_t(repeats)));
    std::atomic<int> next{0}, done{0};
    auto work = [&] {
        ClosedLoop loop(4, 32, delayMs);
        for (int job; (job = next++) < total;) {
            const int surface = job / repeats, repeat = job % repeats;
            sessions[size_t(surface)][size_t(repeat)] = loop.run(surfaces[size_t(surface)], seed * 10007u + uint32_t(repeat) + 1u);
            const int finished = ++done;
            if (progress) progress(finished, total);
        }
    };
    std::thread second(work);
    work();
    second.join();
    return sessions;
}

// ---- the truth -----------------------------------------------------------------------------

double trueAxialPower(const sim::Target& t, double r, double thetaDeg) {
    r = std::max(r, 1e-3);  // at the apex: the limit along the meridian
    const double c = std::cos(radians(thetaDeg)), s = std::sin(radians(thetaDeg));
    double sag = 0, gx = 0, gy = 0;
    if (!sim::targetSurface(t, r * c, r * s, &sag, &gx, &gy)) return NAN;
    const double sinTilt = (gx * c + gy * s) / std::sqrt(1 + gx * gx + gy * gy);
    if (sinTilt <= 0) return NAN;
    return outside::kKeratometric * sinTilt / r;
}

double trueHeight(const sim::Target& t, double x, double y) {
    double sag = 0, apex = 0, gx = 0, gy = 0;
    if (!sim::targetSurface(t, x, y, &sag, &gx, &gy) || !sim::targetSurface(t, 0, 0, &apex, &gx, &gy)) return NAN;
    return sag - apex;
}

bool trueKeratometry(const sim::Target& t, const outside::Topography& measured, int rings, outside::Keratometry* k) {
    // The measured exam's copy, its radii replaced by the truth's at the same points.
    auto ideal = std::make_unique<outside::Topography>(measured);
    TMatrizAngAnel* m = &ideal->m;
    for (int mer = 0; mer < NORVIX_MERIDIANS; ++mer)
        for (int i = 0; i <= std::min(measured.found[mer], int32_t(rings)); ++i) {
            const double power = trueAxialPower(t, measured.d[mer][i], mer * 360.0 / NORVIX_MERIDIANS);
            (*m)[mer][i] = std::isfinite(power) ? outside::kKeratometric / power : 0;
        }
    outside::CornealMap map;
    QString why;
    if (!map.load(&measured.d, m, &measured.found, rings, &why)) return false;
    *k = map.keratometry(outside::MapKind::Axial);
    return true;
}

// ---- the figures -----------------------------------------------------------------------------

void Spread::add(double v) {
    ++n_;
    const double d = v - mean_;
    mean_ += d / double(n_);
    m2_ += d * (v - mean_);
}

double Spread::sd() const { return n_ > 1 ? std::sqrt(m2_ / double(n_ - 1)) : 0; }

double GroupFigures::swK() const { return dofK ? std::sqrt(pooledK / dofK) : NAN; }
double GroupFigures::swAxis() const { return dofAxis ? std::sqrt(pooledAxis / dofAxis) : NAN; }

void addSurface(const sim::Target& t, const std::vector<Session>& sessions, int rings, GroupFigures* g) {
    std::vector<double> meanK, steepAxis;
    bool astigmatic = false;
    auto keratometry = [&](const Take& take, outside::Keratometry* measured, outside::Keratometry* truth) {
        outside::CornealMap map;
        QString why;
        if (!take.measured || !map.load(&take.topo->d, &take.topo->m, &take.topo->found, rings, &why) ||
            !trueKeratometry(t, *take.topo, rings, truth))
            return false;
        *measured = map.keratometry(outside::MapKind::Axial);
        return true;
    };
    for (const Session& s : sessions) {
        ++g->sessions;
        outside::Keratometry k, truth;
        if (keratometry(s.manual, &k, &truth)) {
            g->kErrorManual.add(k.meanPower() - truth.meanPower());
            g->kWorstManual = std::max({g->kWorstManual, std::fabs(k.flatPower - truth.flatPower),
                                        std::fabs(k.steepPower - truth.steepPower)});
        }
        if (!s.frozen) continue;
        ++g->frozen;
        g->secondsToFreeze += s.automatic.seconds;
        if (!keratometry(s.automatic, &k, &truth)) continue;
        g->kError.add(k.meanPower() - truth.meanPower());
        g->kWorst = std::max({g->kWorst, std::fabs(k.flatPower - truth.flatPower),
                              std::fabs(k.steepPower - truth.steepPower)});
        meanK.push_back(k.meanPower());
        astigmatic = std::fabs(truth.astigmatism()) >= 0.5;
        steepAxis.push_back(k.steepAxis);

        outside::CornealMap map;
        outside::CornealSurface surface;
        QString why;
        const outside::Topography& topo = *s.automatic.topo;
        const bool mapped = map.load(&topo.d, &topo.m, &topo.found, rings, &why);
        const bool built = surface.build(&topo.d, &topo.m, &topo.found, rings, &why);
        for (int z = 0; z < kZones; ++z)
            for (double r = kZoneMm[z] / 2 + 0.125; r < kZoneMm[z + 1] / 2; r += 0.25)
                for (int deg = 0; deg < 360; deg += 10) {
                    const double x = r * std::cos(radians(deg)), y = r * std::sin(radians(deg));
                    const double power = mapped ? map.powerAt(outside::MapKind::Axial, r, deg) : NAN;
                    const double powerTruth = trueAxialPower(t, r, deg);
                    if (std::isfinite(power) && std::isfinite(powerTruth)) g->power[z].add(power - powerTruth);
                    const double height = built ? surface.height(x, y) : NAN;
                    const double heightTruth = trueHeight(t, x, y);
                    if (std::isfinite(height) && std::isfinite(heightTruth))
                        g->heightUm[z].add(1000 * (height - heightTruth));
                }
    }
    if (meanK.size() >= 2) {
        double mean = 0;
        for (double v : meanK) mean += v;
        mean /= double(meanK.size());
        for (double v : meanK) g->pooledK += (v - mean) * (v - mean);
        g->dofK += int(meanK.size()) - 1;
    }
    if (astigmatic && steepAxis.size() >= 2) {
        // The mean of axes on doubled angles, so 179 and 1 average to 180.
        double c = 0, s = 0;
        for (double a : steepAxis) {
            c += std::cos(radians(2 * a));
            s += std::sin(radians(2 * a));
        }
        const double mean = std::atan2(s, c) * 90 / M_PI;
        for (double a : steepAxis) g->pooledAxis += std::pow(axisDifference(a, mean), 2);
        g->dofAxis += int(steepAxis.size()) - 1;
    }
}

}  // namespace norvix::precisao

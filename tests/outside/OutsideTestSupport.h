#pragma once
// Shared by the outside-module tests: loading a module as the host does, exam buffers fenced
// by canaries, default configuration records, captured frames as BMP streams.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <QByteArray>
#include <QImage>
#include <QString>
#include <cstring>
#include <memory>

#include "capture/sim/Bmp32.h"
#include "capture/sim/InstrumentModel.h"
#include "capture/sim/SimulatedEye.h"
#include "modules/ModuleContract.h"
#include "outside/math/CornealSurface.h"
#include "outside/core/ModuleIo.h"
#include "outside/core/TopographyProcessor.h"

namespace outside_test {

class Module {
public:
    explicit Module(const char* fileName) {
        const QByteArray path = qgetenv("NORVIX_BIN_DIR") + "/" + fileName;
        handle_ = dlopen(path.constData(), RTLD_NOW | RTLD_LOCAL);
    }
    ~Module() {
        if (handle_) dlclose(handle_);
    }
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;
    bool loaded() const { return handle_ != nullptr; }
    template <typename F>
    F entry(const char* name) const {
        return handle_ ? reinterpret_cast<F>(dlsym(handle_, name)) : nullptr;
    }

private:
    void* handle_ = nullptr;
};

constexpr double kCanary = -12345.678;

// The outputs of one processing call, each followed by a fence the module must not touch.
struct ExamBuffers {
    TMatrizAngAnel m;
    double fenceM[8];
    TMatrizAngAnel d;
    double fenceD[8];
    TMatrizAng meridians;
    int32_t fenceA[8];
    TPupila pupil;
    int32_t fenceP[8];
    double centreX = kCanary, centreY = kCanary, confidence = kCanary;

    ExamBuffers() { fill(kCanary); }
    void fill(double v) {
        for (auto& row : m) for (double& x : row) x = v;
        for (auto& row : d) for (double& x : row) x = v;
        for (int32_t& x : meridians) x = -7;
        for (int32_t& x : pupil) x = 0;
        for (double& x : fenceM) x = kCanary;
        for (double& x : fenceD) x = kCanary;
        for (int32_t& x : fenceA) x = -7;
        for (int32_t& x : fenceP) x = -7;
    }
    // Rings of a sphere every `step` mm, as an ideal instrument would report them; the rest 0.
    void idealSphere(double radius, int rings, double step = 0.15) {
        fill(0);
        for (int k = 0; k < NORVIX_MERIDIANS; ++k) {
            meridians[k] = rings;
            for (int i = 0; i <= rings; ++i) {
                d[k][i] = i * step;
                m[k][i] = radius;
            }
        }
    }
    bool fencesIntact() const {
        for (double x : fenceM) if (x != kCanary) return false;
        for (double x : fenceD) if (x != kCanary) return false;
        for (int32_t x : fenceA) if (x != -7) return false;
        for (int32_t x : fenceP) if (x != -7) return false;
        return true;
    }
    bool outputsUntouched() const {
        for (auto& row : m) for (double x : row) if (x != kCanary) return false;
        for (auto& row : d) for (double x : row) if (x != kCanary) return false;
        for (int32_t x : meridians) if (x != -7) return false;
        return centreX == kCanary && centreY == kCanary && confidence == kCanary;
    }
};

inline TInfosQV infosFor(int rings, const char* cone) {
    TInfosQV infos;
    std::memset(&infos, 0, sizeof infos);
    infos.InstrumentModel = 3;
    infos.NumAneis = uint8_t(rings);
    infos.TipoCone = cone;
    return infos;
}

inline norvix::sim::Target sphere(double r) {
    norvix::sim::Target t;
    t.kind = norvix::sim::Target::Kind::Sphere;
    t.r1 = t.r2 = r;
    t.q = 0;
    return t;
}

inline norvix::sim::Target toric(double r1, double r2, double axis) {
    norvix::sim::Target t;
    t.kind = norvix::sim::Target::Kind::Toric;
    t.r1 = r1;
    t.r2 = r2;
    t.axisDeg = axis;
    t.q = 0;
    return t;
}

inline norvix::sim::Target conic(double r, double q) {
    norvix::sim::Target t;
    t.kind = norvix::sim::Target::Kind::Cornea;
    t.r1 = t.r2 = r;
    t.q = q;
    return t;
}

// One renderer per cone type for the whole test program: rendering is the slow part.
inline norvix::sim::Renderer& renderer(int cone = 4) {
    static norvix::sim::Renderer r1(1), r2(2), r3(3), r4(4);
    switch (cone) {
        case 1: return r1;
        case 2: return r2;
        case 3: return r3;
        default: return r4;
    }
}

inline QByteArray noisyBmp(const norvix::sim::Target& t, uint32_t frame, int cone = 4) {
    QImage img;
    renderer(cone).liveFrame(t, frame, &img);
    return norvix::sim::encodeBmp32(img);
}

// The same with cone 4 at one of the board's other capture sizes.
inline QByteArray noisyBmpAt(QSize size, const norvix::sim::Target& t, uint32_t frame) {
    static norvix::sim::Renderer quarter(4, 320, 240), wide(4, 720, 480);
    norvix::sim::Renderer& r = size == QSize(320, 240) ? quarter : size == QSize(720, 480) ? wide : renderer(4);
    QImage img;
    r.liveFrame(t, frame, &img);
    return norvix::sim::encodeBmp32(img);
}

// The corneal surface rebuilt from one noisy frame of t, measured as the processing module does.
inline bool measuredSurface(const norvix::sim::Target& t, uint32_t frame, norvix::outside::CornealSurface* s) {
    QImage image;
    renderer(4).liveFrame(t, frame, &image);
    auto topo = std::make_unique<norvix::outside::Topography>();
    QString why;
    return norvix::outside::TopographyProcessor(4, 32).process(image, topo.get(), &why) &&
           s->build(&topo->d, &topo->m, &topo->found, 32, &why);
}

}  // namespace outside_test

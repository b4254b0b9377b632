#pragma once
// Fake video and serial layers for driving the capture window without hardware, and a
// memory stream like the host's.
#include <QApplication>
#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QTest>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <unistd.h>
#include <vector>

#include "capture/TComPort.h"
#include "capture/VideoDevice.h"
#include "modules/ModuleContract.h"
#include "platform/Errors.h"

namespace captest {

using namespace norvix::captura;

class FakeVideoDevice : public VideoDevice {
public:
    static inline int alive = 0;  // devices not yet destroyed
    FakeVideoDevice() { ++alive; }
    ~FakeVideoDevice() override { --alive; }
    QList<int> standards{0, 7};  // NTSC M, PAL M
    QList<QSize> sizes{QSize(320, 240), QSize(640, 480), QSize(720, 480)};
    std::map<int, ControlRange> ranges{{PropBrilho, {0, 255, 1}}, {PropContraste, {0, 127, 1}}, {PropSaturacao, {0, 127, 1}}};
    std::map<int, int> values{{PropBrilho, 128}, {PropContraste, 64}, {PropSaturacao, 64}};
    std::vector<std::pair<int, int>> writes;  // every control write, in order
    int selectedStandard = -1;
    QSize selectedSize{-1, -1};
    bool started = false;
    bool failStart = false;

    QList<int> supportedStandards() const override { return standards; }
    void selectStandard(int i) override { selectedStandard = i; }
    QList<QSize> frameSizes() const override { return sizes; }
    void selectFrameSize(QSize s) override { selectedSize = s; }
    bool start(QString* error) override {
        if (failStart) {
            if (error) *error = QStringLiteral("falha simulada");
            return false;
        }
        started = true;
        return true;
    }
    void stop() override { started = false; }
    std::optional<ControlRange> controlRange(int p) const override {
        auto it = ranges.find(p);
        if (it == ranges.end()) return std::nullopt;
        return it->second;
    }
    std::optional<int> controlValue(int p) const override {
        if (!ranges.count(p)) return std::nullopt;
        return values.at(p);
    }
    bool setControlValue(int p, int v) override {
        if (!ranges.count(p)) return false;
        writes.push_back({p, v});
        values[p] = v;
        return true;
    }
    void push(const QImage& frame) { deliver(frame); }
    void fail(const QString& reason) { emit failed(reason); }
};

// A catalogue with one fake device; keeps a pointer to the device the last open returned.
class FakeCatalogue : public VideoDeviceCatalogue {
public:
    std::function<void(FakeVideoDevice&)> configure;
    FakeVideoDevice* last = nullptr;
    int openedIndex = -1;
    bool noDevice = false;

    FakeCatalogue() { setVideoDeviceCatalogue(this); }
    ~FakeCatalogue() override { setVideoDeviceCatalogue(nullptr); }
    QStringList deviceNames() override { return {QStringLiteral("Fake")}; }
    std::unique_ptr<VideoDevice> open(int index, QString* error) override {
        openedIndex = index;
        if (noDevice) {
            if (error) *error = QStringLiteral("nenhum dispositivo");
            return nullptr;
        }
        auto d = std::make_unique<FakeVideoDevice>();
        if (configure) configure(*d);
        last = d.get();
        return d;
    }
};

class FakeComPort : public TComPort {
public:
    static inline FakeComPort* last = nullptr;
    static inline bool failOpen = false;
    bool opened = false;
    explicit FakeComPort(QObject* owner) : TComPort(owner) { last = this; }
    ~FakeComPort() override {
        if (last == this) last = nullptr;
    }
    void open() override {
        if (failOpen) throw norvix::Error(QStringLiteral("porta inexistente"));
        opened = true;
    }
    void close() override { opened = false; }
    bool isOpen() const override { return opened; }
    // A CTS change as the port's thread would hand it over.
    void changeCts(bool level) { postCtsChange(level); }
};

struct FakeSerial {
    FakeSerial(bool fail = false) {
        FakeComPort::failOpen = fail;
        setComPortFactory([](QObject* owner) { return std::make_unique<FakeComPort>(owner); });
    }
    ~FakeSerial() {
        setComPortFactory({});
        FakeComPort::failOpen = false;
    }
};

// A pseudo-terminal standing for the foot switch's serial line (slave: the port to open).
struct Pty {
    int master = -1;
    QString slave;
    Pty() {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0) slave = QString::fromLatin1(::ptsname(master));
    }
    ~Pty() {
        if (master >= 0) ::close(master);
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;
};

// A host memory stream.
struct MemoryStream {
    QByteArray data;
    qint64 pos = 0;
    ModuleStream stream{};
    MemoryStream() {
        stream.context = this;
        stream.read = [](void* c, void* buf, int64_t n) -> int64_t {
            auto* m = static_cast<MemoryStream*>(c);
            const int64_t k = std::max<int64_t>(0, std::min<int64_t>(n, m->data.size() - m->pos));
            std::memcpy(buf, m->data.constData() + m->pos, size_t(k));
            m->pos += k;
            return k;
        };
        stream.write = [](void* c, const void* buf, int64_t n) -> int64_t {
            auto* m = static_cast<MemoryStream*>(c);
            if (m->pos + n > m->data.size()) m->data.resize(int(m->pos + n));
            std::memcpy(m->data.data() + m->pos, buf, size_t(n));
            m->pos += n;
            return n;
        };
        stream.seek = [](void* c, int64_t off, int32_t origin) -> int64_t {
            auto* m = static_cast<MemoryStream*>(c);
            const int64_t base = origin == 0 ? 0 : origin == 1 ? m->pos : m->data.size();
            m->pos = base + off;
            return m->pos;
        };
        stream.size = [](void* c) -> int64_t { return static_cast<MemoryStream*>(c)->data.size(); };
    }
};

// A recognisable frame: a gradient with the frame number in the first pixel.
inline QImage testFrame(int n, QSize size = QSize(640, 480)) {
    QImage img(size, QImage::Format_RGB32);
    for (int y = 0; y < img.height(); ++y) {
        auto* line = reinterpret_cast<quint32*>(img.scanLine(y));
        for (int x = 0; x < img.width(); ++x) line[x] = 0xff000000u | quint32((x * 255 / img.width()) << 16) | quint32((y * 255 / img.height()) << 8) | quint32(n & 0xff);
    }
    return img;
}

// What this process's file descriptors point at (device and file paths).
inline QStringList openFileTargets() {
    QStringList targets;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& fd : fds.entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System))
        targets << QFileInfo(fds.filePath(fd)).symLinkTarget();
    return targets;
}

// Runs events until pred holds or ms pass.
inline bool waitFor(const std::function<bool()>& pred, int ms = 2000) {
    return QTest::qWaitFor(pred, ms);
}

}  // namespace captest

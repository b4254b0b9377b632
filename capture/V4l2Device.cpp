#include "V4l2Device.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <libv4l2.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace norvix::captura {
namespace {

int xioctl(int fd, unsigned long request, void* arg) {
    int r;
    do {
        r = v4l2_ioctl(fd, request, arg);
    } while (r == -1 && errno == EINTR);
    return r;
}

QString errnoText(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

}  // namespace

quint64 v4l2StandardMask(int standardIndex) {
    static const quint64 masks[] = {
        V4L2_STD_NTSC_M,   V4L2_STD_NTSC_M_JP, V4L2_STD_NTSC_443, V4L2_STD_PAL_B | V4L2_STD_PAL_B1,
        V4L2_STD_PAL_D | V4L2_STD_PAL_D1, V4L2_STD_PAL_H, V4L2_STD_PAL_I, V4L2_STD_PAL_M,
        V4L2_STD_PAL_N,    V4L2_STD_PAL_60,    V4L2_STD_SECAM_B,  V4L2_STD_SECAM_D,
        V4L2_STD_SECAM_G,  V4L2_STD_SECAM_H,   V4L2_STD_SECAM_K,  V4L2_STD_SECAM_K1,
        V4L2_STD_SECAM_L,  V4L2_STD_SECAM_LC,  V4L2_STD_PAL_Nc};
    if (standardIndex < 0 || standardIndex >= int(std::size(masks))) return 0;
    return masks[standardIndex];
}

int openVideoNode(const QString& path) {
    return ::open(QFile::encodeName(path).constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
}

QList<V4l2DeviceInfo> listV4l2CaptureDevices() {
    QList<std::pair<int, V4l2DeviceInfo>> found;
    static const QRegularExpression nodeName(QStringLiteral("^video(\\d+)$"));
    const QStringList entries = QDir(QStringLiteral("/dev")).entryList({QStringLiteral("video*")}, QDir::System | QDir::Files);
    for (const QString& entry : entries) {
        const auto m = nodeName.match(entry);
        if (!m.hasMatch()) continue;
        const QString path = QStringLiteral("/dev/") + entry;
        const int fd = openVideoNode(path);
        if (fd < 0) continue;
        v4l2_capability cap{};
        if (::ioctl(fd, VIDIOC_QUERYCAP, &cap) == 0) {
            const quint32 caps = (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
            if ((caps & V4L2_CAP_VIDEO_CAPTURE) && (caps & V4L2_CAP_STREAMING))
                found.append({m.captured(1).toInt(),
                              {path, QString::fromUtf8(reinterpret_cast<const char*>(cap.card))}});
        }
        ::close(fd);
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    QList<V4l2DeviceInfo> result;
    for (const auto& f : found) result << f.second;
    return result;
}

V4l2Device::V4l2Device(QString path) : path_(std::move(path)) {}

V4l2Device::~V4l2Device() {
    stop();
    if (fd_ >= 0) v4l2_close(fd_);
}

bool V4l2Device::openDevice(QString* error) {
    // Opened here and handed to libv4l2 (what v4l2_open does), so both opens share the flags.
    fd_ = openVideoNode(path_);
    if (fd_ >= 0 && v4l2_fd_open(fd_, 0) < 0) {
        const int err = errno;
        ::close(fd_);
        fd_ = -1;
        errno = err;
    }
    if (fd_ < 0) {
        if (error) *error = QStringLiteral("Não foi possível abrir %1: %2").arg(path_, errnoText(errno));
        return false;
    }
    return true;
}

QList<int> V4l2Device::supportedStandards() const {
    quint64 all = 0;
    for (quint32 i = 0;; ++i) {
        v4l2_standard s{};
        s.index = i;
        if (xioctl(fd_, VIDIOC_ENUMSTD, &s) != 0) break;
        all |= s.id;
    }
    QList<int> result;
    for (int i = 0; i < analogStandardNames().size(); ++i)
        if (all & v4l2StandardMask(i)) result << i;
    return result;
}

void V4l2Device::selectStandard(int standardIndex) {
    v4l2_std_id id = v4l2StandardMask(standardIndex);
    if (id) xioctl(fd_, VIDIOC_S_STD, &id);
}

QList<QSize> V4l2Device::frameSizes() const {
    QList<QSize> sizes;
    for (quint32 i = 0;; ++i) {
        v4l2_frmsizeenum f{};
        f.index = i;
        f.pixel_format = V4L2_PIX_FMT_BGR24;
        if (xioctl(fd_, VIDIOC_ENUM_FRAMESIZES, &f) != 0) break;
        if (f.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
            sizes << QSize(int(f.discrete.width), int(f.discrete.height));
        } else {
            // A continuous or stepwise range: offer the usual analog sizes it contains.
            for (QSize s : {QSize(320, 240), QSize(640, 480), QSize(720, 480), QSize(720, 576)})
                if (quint32(s.width()) >= f.stepwise.min_width && quint32(s.width()) <= f.stepwise.max_width &&
                    quint32(s.height()) >= f.stepwise.min_height && quint32(s.height()) <= f.stepwise.max_height)
                    sizes << s;
            break;
        }
    }
    return sizes;
}

void V4l2Device::selectFrameSize(QSize size) { requested_ = size; }

bool V4l2Device::start(QString* error) {
    if (streaming_) return true;
    v4l2_format fmt{};
    fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    xioctl(fd_, VIDIOC_G_FMT, &fmt);
    if (requested_.isValid()) {
        fmt.fmt.pix.width = quint32(requested_.width());
        fmt.fmt.pix.height = quint32(requested_.height());
    }
    fmt.fmt.pix.pixelformat = V4L2_PIX_FMT_BGR24;
    fmt.fmt.pix.field = V4L2_FIELD_ANY;
    if (xioctl(fd_, VIDIOC_S_FMT, &fmt) != 0 || fmt.fmt.pix.pixelformat != V4L2_PIX_FMT_BGR24) {
        if (error) *error = QStringLiteral("O dispositivo %1 não aceitou o formato de captura.").arg(path_);
        return false;
    }
    width_ = int(fmt.fmt.pix.width);
    height_ = int(fmt.fmt.pix.height);
    bytesPerLine_ = std::max(int(fmt.fmt.pix.bytesperline), width_ * 3);
    fps_ = 0;
    v4l2_streamparm parm{};
    parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (xioctl(fd_, VIDIOC_G_PARM, &parm) == 0 && parm.parm.capture.timeperframe.numerator > 0)
        fps_ = double(parm.parm.capture.timeperframe.denominator) / parm.parm.capture.timeperframe.numerator;

    v4l2_requestbuffers req{};
    req.count = 4;
    req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    req.memory = V4L2_MEMORY_MMAP;
    if (xioctl(fd_, VIDIOC_REQBUFS, &req) != 0 || req.count < 2) {
        if (error) *error = QStringLiteral("O dispositivo %1 não oferece captura contínua.").arg(path_);
        return false;
    }
    for (quint32 i = 0; i < req.count; ++i) {
        v4l2_buffer b{};
        b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        b.memory = V4L2_MEMORY_MMAP;
        b.index = i;
        if (xioctl(fd_, VIDIOC_QUERYBUF, &b) != 0) break;
        void* p = v4l2_mmap(nullptr, b.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, b.m.offset);
        if (p == MAP_FAILED) break;
        buffers_.push_back({p, b.length});
        xioctl(fd_, VIDIOC_QBUF, &b);
    }
    v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (buffers_.size() != req.count || xioctl(fd_, VIDIOC_STREAMON, &type) != 0) {
        const int err = errno;
        releaseBuffers();
        if (error) *error = QStringLiteral("Não foi possível iniciar a captura em %1: %2").arg(path_, errnoText(err));
        return false;
    }
    streaming_ = true;
    stopping_ = false;
    worker_ = std::thread([this] { run(); });
    return true;
}

void V4l2Device::run() {
    while (!stopping_) {
        pollfd p{fd_, POLLIN, 0};
        const int r = ::poll(&p, 1, 100);
        if (r < 0 && errno == EINTR) continue;
        if (r == 0) continue;
        if (r < 0 || (p.revents & (POLLERR | POLLHUP | POLLNVAL))) {
            emit failed(QStringLiteral("A câmera deixou de responder (%1).").arg(path_));
            return;
        }
        v4l2_buffer b{};
        b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        b.memory = V4L2_MEMORY_MMAP;
        if (xioctl(fd_, VIDIOC_DQBUF, &b) != 0) {
            if (errno == EAGAIN) continue;
            emit failed(QStringLiteral("A câmera deixou de responder (%1): %2").arg(path_, errnoText(errno)));
            return;
        }
        QImage frame(width_, height_, QImage::Format_RGB32);
        const auto* src = static_cast<const uchar*>(buffers_[b.index].start);
        if (b.bytesused >= quint32(bytesPerLine_ * (height_ - 1) + width_ * 3)) {
            for (int y = 0; y < height_; ++y) {
                const uchar* s = src + size_t(y) * bytesPerLine_;
                auto* d = reinterpret_cast<quint32*>(frame.scanLine(y));
                for (int x = 0; x < width_; ++x, s += 3) d[x] = 0xff000000u | (quint32(s[2]) << 16) | (quint32(s[1]) << 8) | s[0];
            }
            // The driver's stamp when it is on the monotonic clock (the steady clock's), taken as
            // the frame was captured rather than when this thread got to it.
            if ((b.flags & V4L2_BUF_FLAG_TIMESTAMP_MASK) == V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC &&
                (b.timestamp.tv_sec || b.timestamp.tv_usec))
                deliver(std::move(frame), qint64(b.timestamp.tv_sec) * 1000000 + b.timestamp.tv_usec);
            else
                deliver(std::move(frame));
        }
        xioctl(fd_, VIDIOC_QBUF, &b);
    }
}

void V4l2Device::stop() {
    if (!streaming_) return;
    stopping_ = true;
    if (worker_.joinable()) worker_.join();
    v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    xioctl(fd_, VIDIOC_STREAMOFF, &type);
    releaseBuffers();
    streaming_ = false;
}

void V4l2Device::releaseBuffers() {
    for (const Buffer& b : buffers_) v4l2_munmap(b.start, b.length);
    buffers_.clear();
    v4l2_requestbuffers req{};
    req.count = 0;
    req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    req.memory = V4L2_MEMORY_MMAP;
    xioctl(fd_, VIDIOC_REQBUFS, &req);
}

unsigned V4l2Device::controlId(int property) {
    switch (property) {
    case PropBrilho: return V4L2_CID_BRIGHTNESS;
    case PropContraste: return V4L2_CID_CONTRAST;
    case PropSaturacao: return V4L2_CID_SATURATION;
    default: return 0;
    }
}

std::optional<ControlRange> V4l2Device::controlRange(int property) const {
    v4l2_queryctrl q{};
    q.id = controlId(property);
    if (!q.id || xioctl(fd_, VIDIOC_QUERYCTRL, &q) != 0 || (q.flags & V4L2_CTRL_FLAG_DISABLED)) return std::nullopt;
    return ControlRange{q.minimum, q.maximum, q.step};
}

std::optional<int> V4l2Device::controlValue(int property) const {
    if (!controlRange(property)) return std::nullopt;
    v4l2_control c{};
    c.id = controlId(property);
    if (xioctl(fd_, VIDIOC_G_CTRL, &c) != 0) return std::nullopt;
    return c.value;
}

bool V4l2Device::setControlValue(int property, int value) {
    if (!controlRange(property)) return false;
    // Manual mode: a board that adjusts brightness by itself would undo the operator's value.
    if (property == PropBrilho) {
        v4l2_control automatic{V4L2_CID_AUTOBRIGHTNESS, 0};
        xioctl(fd_, VIDIOC_S_CTRL, &automatic);
    }
    v4l2_control c{};
    c.id = controlId(property);
    c.value = value;
    return xioctl(fd_, VIDIOC_S_CTRL, &c) == 0;
}

}  // namespace norvix::captura

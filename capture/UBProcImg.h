#pragma once
// The frame holder: the still frame the capture window shows and Digitalizar returns. It keeps
// a shared (copy-on-write) reference, so the frame stays valid after the camera wrapper that
// delivered it has released its own copy or has gone with the window.
#include <QImage>

namespace norvix::captura {

class TBProcImg {
public:
    void Process(const QImage& bitmap) { frame_ = bitmap; }
    void SetFrame(const QImage& bitmap) { frame_ = bitmap; }
    const QImage& GetBitmap() const { return frame_; }
    bool HasFrame() const { return !frame_.isNull(); }
    void Clear() { frame_ = QImage(); }

private:
    QImage frame_;
};

// The module's holder: created by each capture window (replacing the earlier one) and kept
// until the call that showed the window has written the frame out.
TBProcImg* frameHolder();
TBProcImg& createFrameHolder();
void releaseFrameHolder();

}  // namespace norvix::captura

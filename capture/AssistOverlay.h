#pragma once
// What the live assistance shows over the picture: a mark at the instrument's axis with the
// rings' centre and an arrow from it when the eye is off axis, a focus bar with "Aproxime" or
// "Afaste", the rings' coverage, a blink, and the frame's quality. Drawn on the screen only:
// the frames themselves are never drawn on.
#include <QWidget>

#include "LiveAssist.h"

namespace norvix::captura {

class AssistOverlay : public QWidget {
    Q_OBJECT
public:
    explicit AssistOverlay(QWidget* parent);

    void setStatus(const LiveStatus& status);
    const LiveStatus& status() const { return status_; }
    // The line under the figures: the automatic capture waiting, or nothing.
    void setNotice(const QString& text);
    // Widths hidden at the left and right (the side mask of the eye's layout): the bar and
    // the words keep clear of them.
    void setHiddenSides(int left, int right);
    QString notice() const { return notice_; }
    // The texts shown, for the tests and the screen reader: centring, focus, quality.
    QString centringText() const;
    QString focusText() const;
    QString qualityText() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    LiveStatus status_;
    bool hasStatus_ = false;
    QString notice_;
    int hiddenLeft_ = 0, hiddenRight_ = 0;
};

}  // namespace norvix::captura

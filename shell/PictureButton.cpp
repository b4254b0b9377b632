#include "PictureButton.h"

#include <QKeyEvent>
#include <QPainter>
#include <QStyleOptionFocusRect>

namespace norvix {

TPictureButton::TPictureButton(QWidget* parent) : QAbstractButton(parent) {
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover);
}

void TPictureButton::setPictures(const QPixmap& normal, const QPixmap& pressed, const QPixmap& over) {
    normal_ = normal;
    pressed_ = pressed;
    over_ = over;
    resize(normal_.size());
    update();
}

const QPixmap& TPictureButton::currentPicture() const {
    if (isDown() && !pressed_.isNull()) return pressed_;
    // The keyboard's button looks like the one under the mouse: Enter or Space acts on it.
    if ((hovered_ || hasFocus()) && !over_.isNull()) return over_;
    return normal_;
}

QSize TPictureButton::sizeHint() const { return normal_.size(); }

void TPictureButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawPixmap(0, 0, currentPicture());
    if (hasFocus()) {
        QStyleOptionFocusRect frame;
        frame.initFrom(this);
        frame.rect = rect().adjusted(1, 1, -1, -1);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &frame, &p, this);
    }
}

void TPictureButton::focusInEvent(QFocusEvent* event) {
    QAbstractButton::focusInEvent(event);
    update();
}

void TPictureButton::focusOutEvent(QFocusEvent* event) {
    QAbstractButton::focusOutEvent(event);
    update();
}

void TPictureButton::keyPressEvent(QKeyEvent* event) {
    // Enter acts as Space does, as on the other buttons of the program.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && event->modifiers() == Qt::NoModifier) {
        animateClick();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

void TPictureButton::enterEvent(QEnterEvent*) {
    hovered_ = true;
    update();
}

void TPictureButton::leaveEvent(QEvent*) {
    hovered_ = false;
    update();
}

}  // namespace norvix

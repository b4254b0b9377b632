#include "PictureButton.h"

#include <QPainter>

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
    if (hovered_ && !over_.isNull()) return over_;
    return normal_;
}

QSize TPictureButton::sizeHint() const { return normal_.size(); }

void TPictureButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawPixmap(0, 0, currentPicture());
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

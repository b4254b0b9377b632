#pragma once
// A button drawn only by its pictures: one at rest (also pressed and released) and one while
// the mouse is over it or it has the keyboard's focus (with a focus frame). It sizes itself to
// its picture.
#include <QAbstractButton>
#include <QPixmap>

namespace norvix {

class TPictureButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit TPictureButton(QWidget* parent = nullptr);
    void setPictures(const QPixmap& normal, const QPixmap& pressed, const QPixmap& over);
    const QPixmap& normalPicture() const { return normal_; }
    const QPixmap& pressedPicture() const { return pressed_; }
    const QPixmap& overPicture() const { return over_; }
    // The picture painted now (mouse over and pressed states included).
    const QPixmap& currentPicture() const;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;
    void enterEvent(QEnterEvent*) override;
    void leaveEvent(QEvent*) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QPixmap normal_, pressed_, over_;
    bool hovered_ = false;
};

}  // namespace norvix

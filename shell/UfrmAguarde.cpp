#include "UfrmAguarde.h"

#include <QApplication>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QScreen>

namespace norvix {

QPointer<TfrmAguarde> TfrmAguarde::instance_;

namespace {
// An hourglass, drawn rather than shipped.
QPixmap hourglass() {
    QPixmap pm(30, 30);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(5, 94, 149), 2));
    p.setBrush(QColor(230, 200, 120));
    p.drawPolygon(QPolygonF({QPointF(7, 4), QPointF(23, 4), QPointF(15, 15), QPointF(23, 26),
                             QPointF(7, 26), QPointF(15, 15)}));
    p.drawLine(5, 3, 25, 3);
    p.drawLine(5, 27, 25, 27);
    return pm;
}
}  // namespace

TfrmAguarde::TfrmAguarde(QWidget* parent)
    : QDialog(parent, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool) {
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("frmAguarde"));
    setWindowTitle(QStringLiteral("Miral"));
    setFixedSize(191, 62);
    auto* panel = new QFrame(this);
    panel->setGeometry(0, 0, 191, 62);
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Raised);
    auto* picture = new QLabel(panel);
    picture->setGeometry(16, 16, 30, 30);
    picture->setPixmap(hourglass());
    auto* text = new QLabel(QStringLiteral("Aguarde..."), panel);
    text->setObjectName(QStringLiteral("lblAguarde"));
    text->setGeometry(0, 0, 191, 62);
    text->setAlignment(Qt::AlignCenter);
    text->setFont(QFont(QStringLiteral("Arial"), 11));
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - rect().center());
}

TfrmAguarde* TfrmAguarde::instance() {
    if (!instance_) instance_ = new TfrmAguarde();
    return instance_;
}

bool TfrmAguarde::exists() { return !instance_.isNull(); }

void TfrmAguarde::showNow() {
    show();
    raise();
    repaint();
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

}  // namespace norvix

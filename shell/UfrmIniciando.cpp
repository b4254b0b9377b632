#include "UfrmIniciando.h"

#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QScreen>
#include <QStyle>

namespace norvix {

QPointer<TfrmIniciando> TfrmIniciando::instance_;

namespace {
// A small check mark in a disc, the picture of a step that has begun.
QPixmap stepPicture() {
    QPixmap pm(17, 17);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(5, 94, 149));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QRectF(0.5, 0.5, 16, 16));
    p.setPen(QPen(Qt::white, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QPolygonF({QPointF(4.5, 8.5), QPointF(7.5, 11.5), QPointF(12.5, 5.5)}));
    return pm;
}
}  // namespace

TfrmIniciando::TfrmIniciando(QWidget* parent) : QDialog(parent, Qt::FramelessWindowHint | Qt::Dialog) {
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("frmIniciando"));
    setWindowTitle(QStringLiteral("Iniciando . . ."));
    setFixedSize(342, 178);
    auto* panel = new QFrame(this);
    panel->setGeometry(0, 0, 342, 178);
    panel->setAutoFillBackground(true);
    QPalette pal = panel->palette();
    pal.setColor(QPalette::Window, QColor(176, 176, 176));
    panel->setPalette(pal);

    static const char* const kTexts[4] = {
        "Verificando a integridade do banco de dados.", "Iniciando o banco de dados.",
        "Localizando os módulos instalados.", "Iniciando os módulos instalados."};
    const QPixmap picture = stepPicture();
    QFont font(QStringLiteral("Verdana"));
    font.setPointSize(8);
    for (int i = 0; i < 4; ++i) {
        images_[i] = new QLabel(panel);
        images_[i]->setObjectName(QStringLiteral("ImgStep%1").arg(i + 1));
        images_[i]->setGeometry(24, 22 + i * 28, 17, 17);
        images_[i]->setPixmap(picture);
        images_[i]->setVisible(i == 0);
        labels_[i] = new QLabel(QString::fromUtf8(kTexts[i]), panel);
        labels_[i]->setGeometry(50, 20 + i * 28, 280, 21);
        labels_[i]->setFont(font);
        QPalette lp = labels_[i]->palette();
        lp.setColor(QPalette::WindowText, QColor(5, 94, 149));
        labels_[i]->setPalette(lp);
    }
    bar_ = new QProgressBar(panel);
    bar_->setObjectName(QStringLiteral("PBProgress"));
    bar_->setGeometry(24, 140, 294, 16);
    bar_->setRange(0, 100);
    bar_->setValue(0);
    bar_->setTextVisible(false);

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - rect().center());
}

TfrmIniciando* TfrmIniciando::instance() {
    if (!instance_) instance_ = new TfrmIniciando();
    return instance_;
}

bool TfrmIniciando::exists() { return !instance_.isNull(); }

void TfrmIniciando::showStep(int step) {
    if (step >= 1 && step <= 4) images_[step - 1]->setVisible(true);
}

bool TfrmIniciando::stepVisible(int step) const {
    return step >= 1 && step <= 4 && !images_[step - 1]->isHidden();
}

void TfrmIniciando::setProgress(int value) { bar_->setValue(qBound(0, value, 100)); }

void TfrmIniciando::advance(int delta) { setProgress(bar_->value() + delta); }

int TfrmIniciando::progress() const { return bar_->value(); }

QString TfrmIniciando::stepText(int step) const {
    return step >= 1 && step <= 4 ? labels_[step - 1]->text() : QString();
}

}  // namespace norvix

#pragma once
// What the browser's translation units share: the examples' names, the item roles and the
// drawn icons and small control makers. Only UfrmExames*.cpp include it.
#include <QApplication>
#include <QHash>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>

namespace norvix::browser {

inline const QString kExamplesStems[5] = {QStringLiteral("Central0"), QStringLiteral("Periférico0"),
                                          QStringLiteral("Regular0"), QStringLiteral("Irregular0"),
                                          QStringLiteral("Normal0")};
inline const QString kExamplesRows[6] = {QStringLiteral("Ceratocone - Central"),
                                         QStringLiteral("Ceratocone - Periférico"),
                                         QStringLiteral("Astigmatismo - Regular"),
                                         QStringLiteral("Astigmatismo - Iregular"),
                                         QStringLiteral("Normal"),
                                         QStringLiteral("Ortoceratologia")};
constexpr int kImageTopography = 1;
constexpr int kImageOrto = 3;
constexpr int kImageRole = Qt::UserRole + 1;
constexpr int kCodeRole = Qt::UserRole + 2;  // the exam code an item stands for
constexpr int kImageTearFilm = 4;
// The tear-film exam (EXAMESLAGRIMA) code an item stands for; its kCodeRole stays 0, so the
// topography's operations never take it for an EXAMES row.
constexpr int kTearFilmRole = Qt::UserRole + 3;
constexpr int kMemoLimit = 240;              // DIAG and OBSERVACAO hold 240 characters

// The exam list's images, drawn rather than shipped: rings for a topography, a lens over
// rings for an orthokeratology exam.
inline QIcon drawExamIcon(int image) {
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(6, 47, 79));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QRectF(1, 1, 30, 30));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(240, 246, 250), 1.6));
    for (double r : {12.5, 9.0, 5.5}) p.drawEllipse(QPointF(16, 16), r, r);
    if (image == kImageOrto) {
        p.setPen(QPen(QColor(255, 210, 63), 2.4));
        p.drawArc(QRectF(4, 4, 24, 24), 20 * 16, 140 * 16);
    }
    if (image == kImageTearFilm) {
        // A tear drop over the rings.
        QPainterPath drop;
        drop.moveTo(16, 5);
        drop.cubicTo(22, 13, 24, 17, 24, 20);
        drop.arcTo(QRectF(8, 12, 16, 16), 0, -180);
        drop.cubicTo(8, 17, 10, 13, 16, 5);
        p.setPen(QPen(Qt::white, 1.2));
        p.setBrush(QColor(80, 170, 255));
        p.drawPath(drop);
    }
    return QIcon(pm);
}

// The style decodes its icons from PNG resources at every request; once per program is enough
// (the browser is built anew each time it opens).
inline QIcon examIcon(int image) {
    static const QIcon topography = drawExamIcon(kImageTopography), orto = drawExamIcon(kImageOrto),
                       tearFilm = drawExamIcon(kImageTearFilm);
    return image == kImageOrto ? orto : image == kImageTearFilm ? tearFilm : topography;
}

inline QIcon standardIcon(QStyle::StandardPixmap which) {
    static QHash<int, QIcon> cache;
    auto it = cache.find(which);
    if (it == cache.end()) it = cache.insert(which, QApplication::style()->standardIcon(which));
    return *it;
}

inline QToolButton* toolButton(QToolBar* bar, const char* name, const QString& text, const QIcon& icon) {
    auto* b = new QToolButton(bar);
    b->setObjectName(QLatin1String(name));
    b->setText(text);
    b->setIcon(icon);
    b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    b->setAutoRaise(true);
    bar->addWidget(b);
    return b;
}

inline QLabel* infoLabel(QWidget* parent, const char* name) {
    auto* l = new QLabel(parent);
    l->setObjectName(QLatin1String(name));
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return l;
}

}  // namespace norvix::browser

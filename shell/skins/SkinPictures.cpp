#include "SkinPictures.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QSaveFile>
#include <QtMath>

namespace norvix::skins {
namespace {

const QColor kDeep(5, 94, 149);
const QColor kSteel(97, 128, 154);

QImage background(bool orvent) {
    QImage img(800, 600, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 0, 600);
    g.setColorAt(0, orvent ? QColor(226, 232, 238) : QColor(232, 236, 228));
    g.setColorAt(1, orvent ? QColor(160, 178, 196) : QColor(170, 186, 160));
    p.fillRect(img.rect(), g);
    // Placido rings seen on an eye, the instrument's signature picture, in the right half.
    const QPointF c(640, 330);
    for (int i = 14; i >= 1; --i) {
        p.setPen(Qt::NoPen);
        p.setBrush(i % 2 ? QColor(255, 255, 255, 150) : QColor(30, 40, 60, 90));
        p.drawEllipse(c, i * 11.0, i * 11.0);
    }
    QRadialGradient pupil(c, 18);
    pupil.setColorAt(0, QColor(10, 10, 20));
    pupil.setColorAt(1, QColor(40, 50, 70));
    p.setBrush(pupil);
    p.drawEllipse(c, 16, 16);
    p.setPen(QPen(kSteel, 2));
    p.drawLine(0, 170, 800, 170);
    return img;
}

QImage banner(const QString& subtitle) {
    QImage img(802, 143, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    QLinearGradient g(0, 0, 802, 0);
    g.setColorAt(0, kDeep);
    g.setColorAt(1, kSteel);
    p.fillRect(img.rect(), g);
    p.setPen(Qt::white);
    QFont title(QStringLiteral("DejaVu Sans"), 30, QFont::Bold);
    p.setFont(title);
    p.drawText(QRect(30, 20, 740, 60), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Topógrafo de Córnea"));
    QFont sub(QStringLiteral("DejaVu Sans"), 15);
    p.setFont(sub);
    p.drawText(QRect(32, 80, 740, 40), Qt::AlignLeft | Qt::AlignVCenter, subtitle);
    return img;
}

QImage button(const QString& caption, bool orvent, bool over) {
    QImage img(190, 40, QImage::Format_RGB32);
    img.fill(orvent ? QColor(214, 222, 230) : QColor(220, 226, 214));
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(1.5, 1.5, 187, 37), 12, 12);
    QLinearGradient g(0, 0, 0, 40);
    const QColor base = orvent ? kDeep : QColor(60, 110, 70);
    g.setColorAt(0, over ? base.lighter(150) : base.lighter(115));
    g.setColorAt(1, over ? base.lighter(110) : base.darker(120));
    p.fillPath(path, g);
    p.setPen(QPen(over ? QColor(255, 220, 90) : QColor(230, 236, 240), 2));
    p.drawPath(path);
    p.setPen(Qt::white);
    p.setFont(QFont(QStringLiteral("DejaVu Sans"), 12, QFont::Bold));
    p.drawText(img.rect(), Qt::AlignCenter, caption);
    return img;
}

bool saveJpeg(const QImage& img, const QString& path) {
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly)) return false;
    if (!img.save(&f, "JPG", 90)) {
        f.cancelWriting();
        return false;
    }
    return f.commit();
}

}  // namespace

QStringList buttonCaptions() {
    return {QStringLiteral("Exames"),      QStringLiteral("Médicos"), QStringLiteral("Calibração"),
            QStringLiteral("Ferramentas"), QStringLiteral("Backup"),  QStringLiteral("Ajuda"),
            QStringLiteral("Sair")};
}

QString buttonFileName(bool orventFamily, bool mouseOver, int index) {
    return QStringLiteral("BList%1%2%3.dat")
        .arg(orventFamily ? QStringLiteral("Orvent") : QStringLiteral("Miral"),
             mouseOver ? QStringLiteral("Over") : QString())
        .arg(index);
}

QStringList writeSkinPictures(const QString& directory, bool overwrite) {
    QDir().mkpath(directory);
    const QDir dir(directory);
    QStringList failed;
    auto put = [&](const QString& name, const auto& draw) {
        const QString path = dir.filePath(name);
        if (!overwrite && QFileInfo::exists(path)) return;
        if (!saveJpeg(draw(), path)) failed << name;
    };
    put(QStringLiteral("qv0.dat"), [] { return background(false); });
    put(QStringLiteral("qv3.dat"), [] { return background(true); });
    put(QStringLiteral("qv0_sobre_Mir.dat"), [] { return banner(QStringLiteral("16 anéis")); });
    put(QStringLiteral("qv0_sobre_MirDuo.dat"), [] { return banner(QStringLiteral("32 anéis")); });
    put(QStringLiteral("qv3_sobre.dat"), [] { return banner(QStringLiteral("Topografia corneana")); });
    put(QStringLiteral("qv3_sobre_Duo.dat"),
        [] { return banner(QStringLiteral("Topografia corneana — 32 anéis")); });
    const QStringList captions = buttonCaptions();
    for (int family = 0; family < 2; ++family)
        for (int over = 0; over < 2; ++over)
            for (int i = 0; i < captions.size(); ++i)
                put(buttonFileName(family == 1, over == 1, i),
                    [&] { return button(captions[i], family == 1, over == 1); });
    return failed;
}

}  // namespace norvix::skins

#include "MapView.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QRegularExpression>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "ModuleSupport.h"
#include "capture/sim/InstrumentModel.h"
#include "platform/ui/FileDialogSeam.h"
#include "platform/ui/MessageSeam.h"

namespace norvix::outside {

using norvix::sim::InstrumentModel;
using norvix::sim::PixelPitch;

namespace {
constexpr double kPi = 3.14159265358979323846;
// A pupil is drawn only where it can be one: within the field and of a plausible size.
constexpr double kLargestPupilMm = 5.0;
}  // namespace

Eye eyeOf(const QStringList& header) {
    const QString line = header.size() > 3 ? header[3].trimmed() : QString();
    if (line == QLatin1String("Olho Direito")) return Eye::Right;
    if (line == QLatin1String("Olho Esquerdo")) return Eye::Left;
    return Eye::Unknown;
}

MapFrame MapFrame::fitting(const QSizeF& area, double margin) {
    const double side = std::max(32.0, std::min(area.width(), area.height()) - 2 * margin);
    MapFrame f;
    f.disc = QRectF((area.width() - side) / 2, (area.height() - side) / 2, side, side);
    return f;
}

QPointF MapFrame::point(double xMm, double yMm) const {
    return centre() + QPointF(xMm * pxPerMm(), -yMm * pxPerMm());
}

std::optional<std::pair<double, double>> MapFrame::polarAt(const QPointF& p) const {
    const double x = (p.x() - centre().x()) / pxPerMm(), y = -(p.y() - centre().y()) / pxPerMm();
    const double r = std::hypot(x, y);
    if (!(r <= MapPainter::kFieldMm / 2)) return std::nullopt;
    double th = std::atan2(y, x) * 180.0 / kPi;
    if (th < 0) th += 360.0;
    return std::make_pair(r, th);
}

std::vector<AngleMark> angleMarks(const MapFrame& frame, double gap) {
    std::vector<AngleMark> marks;
    const double r = MapPainter::kFieldMm / 2 + gap / frame.pxPerMm();
    for (int a = 0; a < 360; a += 30) {
        const double t = a * kPi / 180.0;
        marks.push_back({a, frame.point(r * std::cos(t), r * std::sin(t))});
    }
    return marks;
}

std::optional<bool> nasalAtRight(Eye eye) {
    if (eye == Eye::Unknown) return std::nullopt;
    return eye == Eye::Right;
}

std::optional<PupilMm> pupilInMm(const TPupila* pupil, double centreX, double centreY, QSize frame) {
    if (!pupil || (*pupil)[2] <= 0 || !std::isfinite(centreX) || !std::isfinite(centreY)) return std::nullopt;
    if (!frame.isValid() || frame.isEmpty()) frame = QSize(InstrumentModel::kWidth, InstrumentModel::kHeight);
    // The same pitch the processing measured with: every frame size spans the same field, and
    // the radius is counted in rows.
    const PixelPitch pitch = InstrumentModel::pixelPitch(frame.width(), frame.height());
    PupilMm p;
    p.x = ((*pupil)[0] - centreX) * pitch.x;
    p.y = -((*pupil)[1] - centreY) * pitch.y;
    p.radius = (*pupil)[2] * pitch.y;
    if (p.radius > kLargestPupilMm || std::hypot(p.x, p.y) > MapPainter::kFieldMm / 2) return std::nullopt;
    return p;
}

// ---- the view ----------------------------------------------------------------------------------

MapView::MapView(MapContent content, QWidget* parent) : QWidget(parent), content_(std::move(content)) {
    setObjectName(QStringLiteral("imgMapa"));
    if (content_.scales.empty()) content_.scales.push_back({QString(), ColourScale::absolute()});
    setMouseTracking(true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    // Rendering a field takes up to a few hundred milliseconds (the refractive map traces a ray
    // per pixel): while the window is being resized the last field is stretched instead.
    rerender_ = new QTimer(this);
    rerender_->setSingleShot(true);
    rerender_->setInterval(150);
    connect(rerender_, &QTimer::timeout, this, [this] {
        field_ = QImage();
        update();
    });
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);
}

double MapView::margin() const {
    // Room for the widest angle text around the field (the nasal and temporal words go in the
    // corners, which the round field leaves free).
    return fontMetrics().horizontalAdvance(QStringLiteral("330°")) + 10;
}

MapFrame MapView::frame() const { return MapFrame::fitting(size(), margin()); }

void MapView::setScaleIndex(int index) {
    if (index < 0 || index >= int(content_.scales.size()) || index == scaleIndex_) return;
    scaleIndex_ = index;
    update();
}

void MapView::setContent(MapContent content) {
    content_ = std::move(content);
    if (content_.scales.empty()) content_.scales.push_back({QString(), ColourScale::absolute()});
    scaleIndex_ = 0;
    field_ = QImage();
    update();
}

QString MapView::readoutAt(const QPointF& p) const {
    const auto polar = frame().polarAt(p);
    if (!polar || !content_.value) return QString();
    const auto [r, th] = *polar;
    const double v = content_.value(r, th);
    if (!std::isfinite(v)) return QString();
    return QStringLiteral("%1   Distância do vértice: %2 mm   Ângulo: %3°")
        .arg(content_.describe ? content_.describe(v) : decimal(v, 2), decimal(r, 2),
             QString::number(std::lround(th) % 360));
}

void MapView::mouseMoveEvent(QMouseEvent* e) { emit pointed(readoutAt(e->position())); }

void MapView::leaveEvent(QEvent*) { emit pointed(QString()); }

void MapView::paintEvent(QPaintEvent*) {
    const MapFrame f = frame();
    const int side = int(std::lround(f.disc.width()));
    if (content_.render && (field_.isNull() || fieldScale_ != scaleIndex_)) {
        field_ = content_.render(scale(), side);
        fieldScale_ = scaleIndex_;
    } else if (field_.width() != side) {
        rerender_->start();
    }
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    // The field picture is square and white around its circle.
    p.save();
    QPainterPath circle;
    circle.addEllipse(f.disc);
    p.setClipPath(circle);
    if (!field_.isNull()) {
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(f.disc, field_);
    }
    const double mm = f.pxPerMm(), half = MapPainter::kFieldMm / 2;
    if (content_.grid) {
        // A square millimetre grid, the axes darker.
        for (int i = -5; i <= 5; ++i) {
            p.setPen(QPen(QColor(0, 0, 0, i == 0 ? 170 : 90), i == 0 ? 1.2 : 0.8));
            p.drawLine(f.point(i, -half), f.point(i, half));
            p.drawLine(f.point(-half, i), f.point(half, i));
        }
    }
    auto meridian = [&](double axis, const QColor& colour, const QString& name) {
        if (!std::isfinite(axis)) return;
        const double t = axis * kPi / 180.0, c = std::cos(t), s = std::sin(t), reach = half - 0.35;
        p.setPen(QPen(colour, 2, Qt::DashLine));
        p.drawLine(f.point(-reach * c, -reach * s), f.point(reach * c, reach * s));
        // The name part way out, on a light box so that it reads over any colour and stays
        // clear of the angle marks.
        const QPointF at = f.point(0.6 * half * c, 0.6 * half * s);
        const double w = p.fontMetrics().horizontalAdvance(name) + 8, h = p.fontMetrics().height();
        const QRectF box(at.x() - w / 2, at.y() - h / 2, w, h);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255, 200));
        p.drawRoundedRect(box, 3, 3);
        p.setBrush(Qt::NoBrush);
        p.setPen(colour);
        p.drawText(box, Qt::AlignCenter, name);
    };
    meridian(content_.steepAxis, QColor(150, 0, 0), QStringLiteral("K curvo"));
    meridian(content_.flatAxis, QColor(0, 0, 140), QStringLiteral("K plano"));
    if (content_.pupil) {
        const PupilMm& pu = *content_.pupil;
        const QPointF c = f.point(pu.x, pu.y);
        p.setPen(QPen(Qt::black, 2, Qt::DashDotLine));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(c, pu.radius * mm, pu.radius * mm);
        p.setPen(QPen(Qt::black, 2));
        p.drawLine(c + QPointF(-6, 0), c + QPointF(6, 0));
        p.drawLine(c + QPointF(0, -6), c + QPointF(0, 6));
    }
    p.restore();
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(f.disc);
    const QFontMetrics fm = fontMetrics();
    for (const AngleMark& m : angleMarks(f, 4 + fm.height() / 2.0 + 2)) {
        const double t = m.degrees * kPi / 180.0;
        p.drawLine(f.point(half * std::cos(t), half * std::sin(t)),
                   f.point((half + 4 / mm) * std::cos(t), (half + 4 / mm) * std::sin(t)));
        const QString text = QStringLiteral("%1°").arg(m.degrees);
        const QRectF box(m.position.x() - fm.horizontalAdvance(text), m.position.y() - fm.height() / 2.0,
                         2 * fm.horizontalAdvance(text), fm.height());
        p.drawText(box, Qt::AlignCenter, text);
    }
    if (const auto nasal = nasalAtRight(content_.eye)) {
        // In the bottom corners, where no angle mark is.
        const QString right = *nasal ? QStringLiteral("Nasal") : QStringLiteral("Temporal");
        const QString left = *nasal ? QStringLiteral("Temporal") : QStringLiteral("Nasal");
        const QRectF area = rect().adjusted(4, 4, -4, -4);
        p.drawText(area, Qt::AlignLeft | Qt::AlignBottom, left);
        p.drawText(area, Qt::AlignRight | Qt::AlignBottom, right);
        p.drawText(area, Qt::AlignLeft | Qt::AlignTop,
                   content_.eye == Eye::Right ? QStringLiteral("OD") : QStringLiteral("OE"));
    }
}

void sizeForMap(QWidget* window) {
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    const QSize room = screen ? screen->availableGeometry().size() * 0.9 : QSize(1100, 780);
    window->resize(room.boundedTo(QSize(1200, 820)).expandedTo(window->minimumSizeHint()));
}

// ---- the colour bar and the panel ----------------------------------------------------------------

ScaleBar::ScaleBar(const ColourScale& scale, QWidget* parent) : QWidget(parent), scale_(scale) {
    setObjectName(QStringLiteral("imgEscala"));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
}

void ScaleBar::setScale(const ColourScale& scale) {
    scale_ = scale;
    update();
}

void ScaleBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawImage(0, 0, MapPainter::drawScale(scale_, width(), height()));
}

MapPanel::MapPanel(MapContent content, QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("pnlMapa"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    pictureArea_ = new QWidget(this);
    auto* row = new QHBoxLayout(pictureArea_);
    row->setContentsMargins(0, 0, 0, 0);
    view_ = new MapView(std::move(content), pictureArea_);
    row->addWidget(view_, 1);
    auto* side = new QVBoxLayout;
    bar_ = new ScaleBar(view_->scale(), pictureArea_);
    side->addWidget(bar_, 1);
    step_ = new QLabel(pictureArea_);
    step_->setObjectName(QStringLiteral("lblPasso"));
    step_->setAutoFillBackground(true);
    side->addWidget(step_);
    row->addLayout(side);
    QPalette pal = pictureArea_->palette();
    pal.setColor(QPalette::Window, Qt::white);
    pictureArea_->setPalette(pal);
    pictureArea_->setAutoFillBackground(true);
    column->addWidget(pictureArea_, 1);

    scaleChoice_ = new QComboBox(this);
    scaleChoice_->setObjectName(QStringLiteral("cmbEscala"));
    export_ = new QPushButton(QStringLiteral("Exportar PNG..."), this);
    export_->setObjectName(QStringLiteral("btnExportarPNG"));
    export_->setAutoDefault(false);  // Enter in the window's fields never opens the export
    status_ = new QStatusBar(this);
    status_->setObjectName(QStringLiteral("stbPosicao"));
    status_->setSizeGripEnabled(false);

    setContent(view_->content());
    connect(scaleChoice_, &QComboBox::currentIndexChanged, this, [this](int i) {
        view_->setScaleIndex(i);
        showScale();
    });
    connect(view_, &MapView::pointed, this, [this](const QString& text) {
        if (text.isEmpty())
            status_->clearMessage();
        else
            status_->showMessage(text);
    });
    connect(export_, &QPushButton::clicked, this, &MapPanel::exportPng);
}

void MapPanel::setContent(MapContent content) {
    view_->setContent(std::move(content));
    const QSignalBlocker quiet(scaleChoice_);
    scaleChoice_->clear();
    for (const auto& s : view_->content().scales) scaleChoice_->addItem(s.name);
    if (view_->content().scales.size() <= 1) scaleChoice_->hide();  // nothing to choose
    showScale();
}

void MapPanel::showScale() {
    bar_->setScale(view_->scale());
    const double st = view_->scale().step();
    step_->setText(QStringLiteral("Passo:\n%1 %2").arg(decimal(st, st < 1 ? 2 : 1), view_->content().unit));
}

QString MapPanel::stepText() const { return step_->text(); }

QImage MapPanel::picture() const { return pictureArea_->grab().toImage(); }

void MapPanel::setExportIdentity(const QStringList& headerLines, const QString& fileName) {
    exportHeader_ = headerLines;
    proposedName_ = fileName;
}

QImage MapPanel::exportedPicture() const {
    const QImage mapa = picture();
    if (exportHeader_.isEmpty() || mapa.isNull()) return mapa;
    QFont fonte = font();
    fonte.setPixelSize(14);
    const int linha = QFontMetrics(fonte).height();
    QImage saida(mapa.width(), mapa.height() + linha * int(exportHeader_.size()) + 12, QImage::Format_RGB32);
    saida.fill(Qt::white);
    QPainter p(&saida);
    p.setFont(fonte);
    p.setPen(Qt::black);
    for (int i = 0; i < exportHeader_.size(); ++i)
        p.drawText(QRect(8, 6 + i * linha, saida.width() - 16, linha), Qt::AlignLeft | Qt::AlignVCenter, exportHeader_[i]);
    p.drawImage(0, linha * int(exportHeader_.size()) + 12, mapa);
    return saida;
}

void setExportIdentity(MapPanel* panel, const QStringList& header, const QString& mapName) {
    auto line = [&](int i) { return i < header.size() ? header[i].trimmed() : QString(); };
    QStringList linhas;
    for (const QString& l : {line(0), line(3), QStringLiteral("%1 %2").arg(line(4), line(5)).trimmed(), mapName})
        if (!l.isEmpty()) linhas << l;
    // A file name of the patient, the eye and the date, without what a file system refuses.
    QString nome = QStringList{line(0), line(3), QString(line(4)).replace(QLatin1Char('/'), QLatin1Char('-')), mapName}
                       .join(QLatin1Char(' '))
                       .simplified();
    static const QRegularExpression proibidos(QStringLiteral("[\\\\/:*?\"<>|]"));
    nome.replace(proibidos, QStringLiteral("-"));
    panel->setExportIdentity(linhas, (nome.isEmpty() ? QStringLiteral("mapa") : nome) + QStringLiteral(".png"));
}

void MapPanel::exportPng() {
    FileDialogRequest request{FileDialogRequest::Save, QStringLiteral("Exportar PNG"), QDir::homePath(),
                              proposedName_, QStringLiteral("Imagem PNG (*.png)")};
    QString path = askFileName(request, this);
    if (path.isEmpty()) return;
    if (!path.endsWith(QLatin1String(".png"), Qt::CaseInsensitive)) path += QStringLiteral(".png");
    QString why;
    if (savePng(exportedPicture(), path, &why))
        status_->showMessage(QStringLiteral("Imagem gravada em %1").arg(QDir::toNativeSeparators(path)));
    else
        showMessage(why, QStringLiteral("Exportar PNG"), MsgIcon::Error, MsgButtons::Ok, this);
}

bool savePng(const QImage& image, const QString& path, QString* error) {
    // QSaveFile writes beside the target and renames on commit, so a failed or interrupted export
    // never leaves half a picture, nor spoils a picture of the same name.
    QSaveFile file(path);
    QString why;
    if (image.isNull())
        why = QStringLiteral("não há imagem para gravar");
    else if (!file.open(QIODevice::WriteOnly))
        why = QStringLiteral("a pasta não existe ou não permite gravação");
    else if (!image.save(&file, "PNG") || !file.commit())
        why = QStringLiteral("falha ao gravar o arquivo (disco cheio?)");
    if (why.isEmpty()) return true;
    if (error) *error = QStringLiteral("Não foi possível gravar a imagem em %1: %2.").arg(QDir::toNativeSeparators(path), why);
    return false;
}

}  // namespace norvix::outside

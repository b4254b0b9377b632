#include "MapWindow.h"

#include <QBuffer>
#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>
#include <cmath>
#include <memory>

#include "outside/math/KeratoconusIndices.h"
#include "ModuleSupport.h"
#include "platform/Cp1252.h"
#include "platform/Paths.h"
#include "platform/ProfileFile.h"

namespace norvix::outside {

namespace {

QString dioptres(double v) { return decimal(v, 2) + QStringLiteral(" D"); }
QString degrees(double v) { return QString::number(v, 'f', 0) + QStringLiteral("º"); }

int ringsOf(const TInfosQV* infos) { return infos ? int(infos->NumAneis) : 0; }

QString kindName(MapKind kind) {
    return kind == MapKind::Axial ? QStringLiteral("Axial") : QStringLiteral("Tangencial");
}

}  // namespace

ColourScale scaleFor(const TInfosQV* infos, double meanPower) {
    if (infos && infos->AutoIncMap) return ColourScale::fixedIncrement(infos->IncMap, meanPower);
    return ColourScale::absolute();
}

std::vector<MapContent::Scale> powerScales(const TInfosQV* infos, double lowest, double highest) {
    std::vector<MapContent::Scale> scales;
    const double middle = 0.5 * (lowest + highest);
    if (infos && infos->AutoIncMap) {
        const ColourScale fixed = ColourScale::fixedIncrement(infos->IncMap, middle);
        scales.push_back({QStringLiteral("Incremento fixo (%1 D)").arg(decimal(fixed.step(), 2)), fixed});
    }
    scales.push_back({QStringLiteral("Absoluta padronizada"), ColourScale::absolute()});
    scales.push_back({QStringLiteral("Normalizada ao exame"), ColourScale::normalised(lowest, highest)});
    return scales;
}

MapOptions optionsFor(const TInfosQV* infos) {
    MapOptions o;
    if (!infos) return o;
    o.grid = infos->ExibeGrade != 0;
    o.pointKeratometry = infos->ExibeCeratometriaPontual != 0;
    o.pointColour = colourFromSetting(norvix::fromCp1252(infos->CorCeratometriaPontual));
    return o;
}

MapWindow::MapWindow(const MapRequest& req, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmMapa"));
    setWindowTitle(QStringLiteral("Mapa %1%2").arg(kindName(req.kind), req.ortho ? QStringLiteral(" - Ortoceratologia") : QString()));
    setModal(true);
    auto* outer = new QVBoxLayout(this);
    auto* root = new QHBoxLayout;
    outer->addLayout(root, 1);
    auto* side = new QVBoxLayout;
    root->addLayout(side);

    const TInfosQV* infos = req.infos;
    // Patient header: name, code, RG, eye, date, time, doctor, exam code, confidence index.
    QStringList lines;
    const QStringList& h = req.header;
    auto line = [&](int i) { return i < h.size() ? h[i].trimmed() : QString(); };
    if (!line(0).isEmpty()) lines << line(0);
    if (!line(3).isEmpty()) lines << line(3);
    if (!line(4).isEmpty() || !line(5).isEmpty()) lines << QStringLiteral("%1 %2").arg(line(4), line(5)).trimmed();
    if (infos && infos->Opt2 && !line(6).isEmpty()) lines << QStringLiteral("Médico: %1").arg(line(6));
    if (!line(8).isEmpty()) lines << QStringLiteral("Índice de confiança: %1%").arg(line(8));
    if (h.isEmpty()) lines << QStringLiteral("Cabeçalho do paciente ausente.");
    header_ = new QLabel(lines.join(QLatin1Char('\n')), this);
    header_->setObjectName(QStringLiteral("lblCabecalho"));
    side->addWidget(header_);

    if (infos && infos->Opt3) {
        // The logo lives in the installation directory (where the tools window saves it); the
        // map call carries no paths, so the module reads that directory from the settings file.
        const QString dirQv = norvix::ProfileFile(norvix::installRoot() + QStringLiteral("/OrventDuo/Orvent.ini"))
                                  .readString(QStringLiteral("DIRETORIOS"), QStringLiteral("DIRQV"), norvix::installRoot());
        const QString logo = dirQv + QStringLiteral("/LogoClinica.bmp");
        QPixmap pm;
        if (QFileInfo::exists(logo) && pm.load(logo)) {
            auto* l = new QLabel(this);
            l->setObjectName(QStringLiteral("imgLogo"));
            l->setPixmap(pm.scaled(160, 80, Qt::KeepAspectRatio, Qt::SmoothTransformation));
            side->addWidget(l);
        }
    }
    if (infos && infos->Opt1) {
        QStringList c;
        for (const char* t : {infos->Nome, infos->Endereco, infos->CidadeEst, infos->Telefone}) {
            const QString s = norvix::fromCp1252(t).trimmed();
            if (!s.isEmpty()) c << s;
        }
        clinic_ = new QLabel(c.join(QLatin1Char('\n')), this);
        clinic_->setObjectName(QStringLiteral("lblClinica"));
        side->addWidget(clinic_);
    }

    CornealMap map;
    QString why;
    hasMap_ = map.load(req.d, req.m, req.meridians, ringsOf(infos), &why);
    if (!hasMap_) {
        warning_ = new QLabel(QStringLiteral("Não é possível desenhar o mapa: %1").arg(why), this);
        warning_->setObjectName(QStringLiteral("lblAviso"));
        warning_->setStyleSheet(QStringLiteral("color: #b00000; font-weight: bold;"));
        warning_->setWordWrap(true);
        warning_->setMinimumWidth(360);
        root->addWidget(warning_, 1);
    } else {
        const Keratometry k = map.keratometry(req.kind);
        double lowest = 0, highest = 0;
        map.powerRange(req.kind, &lowest, &highest);
        MapContent content;
        const auto shared = std::make_shared<const CornealMap>(map);
        const MapKind kind = req.kind;
        MapOptions options = optionsFor(infos);
        options.grid = false;  // the view draws its own, at the window's size
        content.value = [shared, kind](double r, double th) { return shared->powerAt(kind, r, th); };
        content.render = [shared, kind, options](const ColourScale& scale, int size) {
            return MapPainter::drawMap(*shared, kind, scale, size, options);
        };
        content.describe = [](double power) {
            return QStringLiteral("Poder: %1   Raio: %2 mm").arg(dioptres(power), decimal(kKeratometric / power, 2));
        };
        content.unit = QStringLiteral("D");
        content.scales = powerScales(infos, lowest, highest);
        content.eye = eyeOf(req.header);
        content.grid = infos && infos->ExibeGrade;
        content.pupil = req.pupil;
        if (std::fabs(k.astigmatism()) >= kDrawnAstigmatism) {
            content.steepAxis = k.steepAxis;
            content.flatAxis = k.flatAxis;
        }
        panel_ = new MapPanel(std::move(content), this);
        setExportIdentity(panel_, req.header, windowTitle());
        root->addWidget(panel_, 1);
        keratometry_ = new QLabel(QStringLiteral("Ceratometria simulada (3 mm centrais)\n"
                                                 "K plano: %1 @ %2\nK curvo: %3 @ %4\n"
                                                 "Astigmatismo: %5\nK médio: %6\nAsfericidade (Q): %7")
                                      .arg(dioptres(k.flatPower), degrees(clinicalAxis(k.flatAxis)), dioptres(k.steepPower),
                                           degrees(clinicalAxis(k.steepAxis)), dioptres(k.astigmatism()),
                                           dioptres(k.meanPower()), decimal(map.asphericity(), 2)),
                                  this);
        keratometry_->setObjectName(QStringLiteral("lblCeratometria"));
        side->addWidget(keratometry_);
        const KeratoconusIndices ki = keratoconusIndices(map);
        auto number = [](double v, int decimals) {
            return std::isnan(v) ? QStringLiteral("—") : decimal(v, decimals);
        };
        keratoconus_ = new QLabel(QStringLiteral("Índices de ceratocone\nI-S (3 mm): %1\nSAI: %2\nSRI: %3\nKISA%: %4\n%5")
                                      .arg(std::isnan(ki.inferiorSuperior) ? QStringLiteral("—") : dioptres(ki.inferiorSuperior),
                                           number(ki.sai, 2), number(ki.sri, 2), number(ki.kisa, 0),
                                           screeningText(ki.screening)),
                                  this);
        keratoconus_->setObjectName(QStringLiteral("lblCeratocone"));
        if (ki.screening == KeratoconusScreening::Keratoconus || ki.screening == KeratoconusScreening::Suspect)
            keratoconus_->setStyleSheet(QStringLiteral("color: #b00000;"));
        side->addWidget(keratoconus_);
    }
    if (req.ortho) {
        const auto& o = *req.ortho;
        // Three zeros are figures never measured (an example carries none), not a measure.
        const bool medidos = o[0] != 0 || o[1] != 0 || o[2] != 0;
        auto valor = [&](int i) { return medidos ? decimal(o[i], 2) : QStringLiteral("—"); };
        ortho_ = new QLabel(QStringLiteral("Sag: %1\nDiv: %2\nRaio: %3").arg(valor(0), valor(1), valor(2)), this);
        ortho_->setObjectName(QStringLiteral("lblOrto"));
        side->addWidget(ortho_);
    }
    side->addStretch(1);
    if (panel_) {
        auto* scaleRow = new QHBoxLayout;
        scaleRow->addWidget(new QLabel(QStringLiteral("Escala:"), this));
        scaleRow->addWidget(panel_->scaleChoice(), 1);
        side->addLayout(scaleRow);
        side->addWidget(panel_->exportButton());
    }
    auto* close = new QPushButton(QStringLiteral("Fechar"), this);
    close->setObjectName(QStringLiteral("btnFechar"));
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    side->addWidget(close);
    if (panel_) {
        outer->addWidget(panel_->statusLine());
        sizeForMap(this);
    }
}

QString MapWindow::warningText() const { return warning_ ? warning_->text() : QString(); }
QString MapWindow::keratometryText() const { return keratometry_ ? keratometry_->text() : QString(); }
QString MapWindow::headerText() const { return header_ ? header_->text() : QString(); }
QString MapWindow::clinicText() const { return clinic_ ? clinic_->text() : QString(); }
QString MapWindow::keratoconusText() const { return keratoconus_ ? keratoconus_->text() : QString(); }
QString MapWindow::orthoText() const { return ortho_ ? ortho_->text() : QString(); }

void showMapWindow(const MapRequest& request, void* hostWindow) {
    MapWindow window(request, static_cast<QWidget*>(hostWindow));
    runModal(window);
}

bool smallMap(const MapRequest& request, std::array<double, 9>* results, QByteArray* png) {
    results->fill(0.0);
    CornealMap map;
    QString why;
    QImage picture;
    const bool ok = map.load(request.d, request.m, request.meridians, ringsOf(request.infos), &why);
    if (ok) {
        *results = map.results(request.kind);
        const ColourScale scale = scaleFor(request.infos, (*results)[2]);
        MapOptions options = optionsFor(request.infos);
        options.pointKeratometry = false;  // too small to read
        picture = MapPainter::drawMap(map, request.kind, scale, kSmallMapSize, options);
    }
    *png = smallMapPng(picture, why);
    return ok;
}

QByteArray smallMapPng(const QImage& map, const QString& why) {
    QImage picture = map;
    if (picture.isNull()) {
        picture = QImage(kSmallMapSize, kSmallMapSize, QImage::Format_RGB32);
        picture.fill(Qt::white);
        // Text needs the fonts of a running graphical application, which a host always has.
        if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
            QPainter p(&picture);
            QFont f = p.font();
            f.setPixelSize(11);
            p.setFont(f);
            p.setPen(QColor(176, 0, 0));
            p.drawText(picture.rect().adjusted(6, 6, -6, -6), Qt::AlignCenter | Qt::TextWordWrap,
                       QStringLiteral("Sem mapa: %1").arg(why));
        }
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "PNG");
    return png;
}

}  // namespace norvix::outside

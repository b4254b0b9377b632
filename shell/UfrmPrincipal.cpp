#include "UfrmPrincipal.h"

#include <QApplication>
#include <QBuffer>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QUrl>
#include <utility>
#include "HelpViewer.h"
#include "PictureButton.h"
#include "UBRegConfig.h"
#include "UBVersionInfo.h"
#include "UStartUp.h"
#include "UfrmSobre.h"
#include "UfrmIniciando.h"
#include "backup/UfrmBackup.h"
#include "calibration/UfrmCalib.h"
#include "config/SharedRecords.h"
#include "exams/UfrmExames.h"
#include "exams/UfrmNovoExame.h"
#include "config/UBIniSettings.h"
#include "modules/MapCatalogue.h"
#include "platform/ui/MessageSeam.h"
#include "platform/Paths.h"
#include "records/UBJpeg.h"
#include "reports/UBMapOperation.h"
#include "reports/UfrmWizLaudo.h"
#include "records/UDMedicos.h"
#include "registration/Registration.h"
#include "exams/TearFilmExam.h"
#include "registration/UfrmCadastroMedicos.h"
#include "skins/SkinPictures.h"
#include "tools/UfrmFerramentas.h"

namespace norvix {

QPointer<TfrmPrincipal> TfrmPrincipal::instance_;
const char* TfrmPrincipal::kMakerWebPage = "https://www.norvix.com.br/";

namespace {
const QPoint kButtonPlaces[7] = {{469, 250}, {406, 294}, {328, 340}, {267, 393},
                                 {289, 441}, {289, 492}, {320, 540}};

// Reads a skin picture whatever its extension says. The ".dat" files hold JPEG content, read
// straight through libjpeg-turbo: Qt's image plugins would first be loaded and probed, which
// costs more than the sixteen pictures themselves. Any other content goes through Qt.
bool loadPicture(const QString& path, QImage* out) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    const QByteArray data = file.readAll();
    if (data.startsWith("\xFF\xD8")) {
        *out = norvix::DescompactaParaImagem(data);
    } else {
        QBuffer buffer;
        buffer.setData(data);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer);
        reader.setDecideFormatFromContent(true);
        *out = reader.read();
    }
    return !out->isNull();
}
// The picture that leads to the maker's web page: its address, drawn rather than shipped.
QPixmap webPagePicture() {
    QPixmap pm(183, 74);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(5, 94, 149), 2));
    p.setBrush(QColor(255, 255, 255, 170));
    p.drawRoundedRect(QRectF(1, 1, 181, 72), 10, 10);
    p.setPen(QColor(5, 94, 149));
    p.setFont(QFont(QStringLiteral("DejaVu Sans"), 10, QFont::Bold));
    p.drawText(QRect(0, 8, 183, 30), Qt::AlignCenter, QStringLiteral("NORVIX"));
    p.setFont(QFont(QStringLiteral("DejaVu Sans"), 8));
    p.drawText(QRect(0, 36, 183, 28), Qt::AlignCenter, QUrl(QString::fromLatin1(TfrmPrincipal::kMakerWebPage)).host());
    return pm;
}

}  // namespace

TfrmPrincipal::TfrmPrincipal(QWidget* parent) : QWidget(parent, Qt::FramelessWindowHint) {
    instance_ = this;
    setObjectName(QStringLiteral("frmPrincipal"));
    setWindowTitle(QStringLiteral("Topógrafo de Córnea"));
    setAttribute(Qt::WA_DeleteOnClose);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(192, 192, 192));  // silver
    setPalette(pal);
    setAutoFillBackground(true);
    norvix::help::setContext(this, 1);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(0, 0, 800, 600);
    Image2 = new QLabel(this);
    Image2->setObjectName(QStringLiteral("Image2"));
    Image2->setGeometry(0, 22, 802, 143);
    Image2->setCursor(Qt::PointingHandCursor);
    Image2->installEventFilter(this);
    for (int i = 0; i < 7; ++i) {
        buttons_[i] = new TPictureButton(this);
        buttons_[i]->setObjectName(QStringLiteral("BtnImage%1").arg(i));
        buttons_[i]->move(kButtonPlaces[i]);
    }
    connect(buttons_[0], &QAbstractButton::clicked, this, &TfrmPrincipal::BtnImage0Click);
    connect(buttons_[1], &QAbstractButton::clicked, this, &TfrmPrincipal::BtnImage1Click);
    connect(buttons_[2], &QAbstractButton::clicked, this, &TfrmPrincipal::BtnImage2Click);
    connect(buttons_[3], &QAbstractButton::clicked, this, &TfrmPrincipal::BtnImage3Click);
    connect(buttons_[4], &QAbstractButton::clicked, this, &TfrmPrincipal::BtnImage4Click);
    connect(buttons_[5], &QAbstractButton::clicked, this, &TfrmPrincipal::BtnImage5Click);
    connect(buttons_[6], &QAbstractButton::clicked, this, &TfrmPrincipal::BtnImage6Click);
    Image3 = new QLabel(this);
    Image3->setObjectName(QStringLiteral("Image3"));
    Image3->setGeometry(606, 518, 183, 74);
    Image3->setCursor(Qt::PointingHandCursor);
    // Its picture holds text, and the first text drawn loads the font database: that waits for
    // the skin, when the database attach already runs on its thread.
    Image3->setToolTip(QString::fromLatin1(kMakerWebPage));
    Image3->installEventFilter(this);

    // The program's own notation, whatever the user's locale says.
    QLocale::setDefault(QLocale::c());
    // The exam loader of the report phrases and the exam browser lives as long as the program.
    mapOperation_ = std::make_unique<norvix::TBMapOperation>();
    regConfig_ = std::make_unique<TBRegConfig>();
    regConfig_->SaveCurrent();
    regConfig_->SetValues(QStringLiteral("."), QStringLiteral("dd/MM/yyyy"), QStringLiteral(","),
                          QStringLiteral("HH:mm:ss"), QString(), QString());
    regConfig_->Apply();
    norvix::help::setHelpFolder(norvix::programDirectory() + QStringLiteral("ajuda/AjudaPrincipal"));
    registerNewExamWindow();
    norvix::bindTearFilmSeams(norvix::TearFilmExam::seams());
    registerRegistrationWindows();
    registerReportWindows();

    setFixedSize(800, 600);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - rect().center());

    // Each activation of the application runs the start-up until one run has completed. The
    // state change arrives outside the event delivery that turns an error into the general
    // error message, so the run is posted as an event of its own.
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState s) {
        if (s != Qt::ApplicationActive) return;
        if (std::exchange(firstActivationTaken_, false)) return;
        requestStartUp();
    });
}

TfrmPrincipal::~TfrmPrincipal() { FormClose(); }

TfrmPrincipal* TfrmPrincipal::instance() { return instance_; }

bool TfrmPrincipal::ApplySkin(uint8_t model, uint8_t rings) {
    const bool orvent = model == 2 || model == 3;
    const QString imgs = norvix::recordText(norvix::paths().DirQV) + QStringLiteral("/imgs/");
    QString banner;
    if (!orvent && rings == 16)
        banner = QStringLiteral("qv0_sobre_Mir.dat");
    else if (!orvent && rings == 32)
        banner = QStringLiteral("qv0_sobre_MirDuo.dat");
    else
        banner = rings == 32 ? QStringLiteral("qv3_sobre_Duo.dat") : QStringLiteral("qv3_sobre.dat");
    const QString background = orvent ? QStringLiteral("qv3.dat") : QStringLiteral("qv0.dat");

    bool ok = true;
    QImage bg, bn;
    ok = ok && loadPicture(imgs + background, &bg);
    ok = ok && loadPicture(imgs + banner, &bn);
    std::array<QPixmap, 7> normal, over;
    for (int i = 0; ok && i < 7; ++i) {
        QImage n, o;
        ok = loadPicture(imgs + norvix::skins::buttonFileName(orvent, false, i), &n) &&
             loadPicture(imgs + norvix::skins::buttonFileName(orvent, true, i), &o);
        normal[i] = QPixmap::fromImage(n);
        over[i] = QPixmap::fromImage(o);
    }
    if (!ok) {
        norvix::showMessage(QStringLiteral("Não foi possivel inicializar o sistema - Erro IMG001"),
                            QStringLiteral("ERRO"), norvix::MsgIcon::Error, norvix::MsgButtons::Ok, this);
        return false;
    }
    Image1->setPixmap(QPixmap::fromImage(bg));
    if (Image3->pixmap().isNull()) Image3->setPixmap(webPagePicture());
    Image2->setPixmap(QPixmap::fromImage(bn));
    backgroundFile_ = imgs + background;
    bannerFile_ = imgs + banner;
    for (int i = 0; i < 7; ++i) buttons_[i]->setPictures(normal[i], normal[i], over[i]);
    return true;
}

void TfrmPrincipal::ApplicationEvents1Activate() {
    if (started_ || startUpRunning_ || closed_) return;
    // A message box of the run lets the operator switch away and back; that activation must
    // not start a second run on top of this one.
    startUpRunning_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{startUpRunning_};
    TStartUp(*this).StartUp();
}

void TfrmPrincipal::requestStartUp() {
    if (startUpQueued_ || started_ || closed_) return;
    startUpQueued_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            startUpQueued_ = false;
            struct Finished {
                TfrmPrincipal* window;
                ~Finished() { emit window->startUpFinished(); }
            } finished{this};
            ApplicationEvents1Activate();
        },
        Qt::QueuedConnection);
}

void TfrmPrincipal::requestFirstStartUp() {
    firstActivationTaken_ = true;
    requestStartUp();
}

void TfrmPrincipal::buildCatalogue(bool withProgress) {
    auto catalogue = std::make_unique<TMapCatalogue>(this);
    std::function<void()> advance;
    if (withProgress)
        advance = [] {
            if (TfrmIniciando::exists()) TfrmIniciando::instance()->advance(6);
        };
    catalogue->BuildCatalogue(norvix::recordText(norvix::paths().DirMapas), advance);
    catalogue_ = std::move(catalogue);
    if (TfrmExames::exists()) TfrmExames::instance()->placeMapButtons(*catalogue_);
}

TfrmExames* TfrmPrincipal::createExamBrowser() {
    // A new browser each time the last one closed (it frees itself), with the map buttons of a
    // catalogue built for it.
    if (!TfrmExames::exists()) new TfrmExames(settings_.get(), this);
    return TfrmExames::instance();
}

void TfrmPrincipal::openBrowser() {
    if (norvix::DMedicos().CountMedicos() == 0) {
        norvix::showMessage(QStringLiteral("Será necessário cadastrar um médico antes de utilizar o navegador."),
                            QStringLiteral("Informação"), norvix::MsgIcon::Information,
                            norvix::MsgButtons::Ok, this);
        return;
    }
    if (!TfrmExames::exists()) {
        createExamBrowser();
        buildCatalogue(false);
    }
    TfrmExames::instance()->exec();
}

void TfrmPrincipal::openDoctors() { TfrmCadastroMedicos::Executa(this); }

void TfrmPrincipal::openCalibration() { TfrmCalib::Executa(settings_.get(), this); }

void TfrmPrincipal::openTools() { TfrmFerramentas::Executa(catalogue_.get(), settings_.get(), this); }

void TfrmPrincipal::openBackup() { TfrmBackup::Executa(settings_.get(), this); }

void TfrmPrincipal::openHelp() {
    QWidget* active = QApplication::activeWindow() ? QApplication::activeWindow() : this;
    norvix::help::showHelp(0, active);
}

void TfrmPrincipal::Image2Click() { TfrmSobre::Executa(versionInfo_.get(), this); }

void TfrmPrincipal::Image3Click() {
    if (!QDesktopServices::openUrl(QUrl(QString::fromLatin1(kMakerWebPage))))
        norvix::showMessage(QStringLiteral("Não foi possível abrir a página %1").arg(QLatin1String(kMakerWebPage)),
                            QStringLiteral("Erro"), norvix::MsgIcon::Error);
}

bool TfrmPrincipal::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease) {
        if (watched == Image2) Image2Click();
        if (watched == Image3) Image3Click();
    }
    return QWidget::eventFilter(watched, event);
}

void TfrmPrincipal::closeEvent(QCloseEvent* event) {
    FormClose();
    event->accept();
}

void TfrmPrincipal::FormClose() {
    if (closed_) return;
    closed_ = true;
    if (regConfig_) regConfig_->Restore();
    catalogue_.reset();
    settings_.reset();
    versionInfo_.reset();
}

}  // namespace norvix

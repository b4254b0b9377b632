#include "UfrmCapturar.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QSlider>
#include <QStyle>
#include <QToolButton>
#include <cstdio>

#include "AssistOverlay.h"
#include "Bitmap32.h"
#include "TComPort.h"
#include "UBProcImg.h"
#include "UVGrabber_Tavro.h"
#include "platform/ui/FileDialogSeam.h"
#include "platform/ui/MessageSeam.h"
#include "platform/Logging.h"

namespace norvix::captura {
namespace {

constexpr int kTopBarHeight = 36;
constexpr int kCentralWidth = 800;
constexpr int kCentralHeight = 600;
constexpr int kCameraWidth = 640;
constexpr int kCameraHeight = 480;
constexpr int kMaskWidth = 62;
constexpr int kPanelHeight = 500;

const char* kBarStyle = "color: white; background-color: rgb(97, 128, 154); font-family: Arial; font-weight: bold;";

int R(double x) { return int(roundHalfEven(x)); }

QLabel* tagLabel(QWidget* parent, const char* name, const QString& text, QRect geometry, int pixelSize) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setGeometry(geometry);
    l->setAlignment(Qt::AlignCenter);
    l->setStyleSheet(QString::fromLatin1(kBarStyle) + QStringLiteral(" font-size: %1px;").arg(pixelSize));
    return l;
}

QToolButton* button(QWidget* parent, const char* name, const QString& text, QRect geometry, bool enabled) {
    auto* b = new QToolButton(parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setText(text);
    b->setGeometry(geometry);
    b->setEnabled(enabled);
    b->setFocusPolicy(Qt::NoFocus);  // keys belong to the window's key table
    return b;
}

// The maker's mark: rings on the bar colour.
QPixmap logoPicture() {
    QPixmap pm(83, 32);
    pm.fill(QColor(97, 128, 154));
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::white, 1.2));
    for (int r = 3; r <= 13; r += 3) p.drawEllipse(QPointF(16, 16), r, r);
    QFont f(QStringLiteral("Arial"));
    f.setBold(true);
    f.setPixelSize(10);
    p.setFont(f);
    p.drawText(QRect(32, 0, 51, 32), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("NORVIX"));
    return pm;
}

}  // namespace

TfrmCapturar::TfrmCapturar(QWidget* owner, CaptureSettings& settings)
    : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint), settings_(settings) {
    setObjectName(QStringLiteral("frmCapturar"));
    setWindowTitle(QStringLiteral("Digitalizando Imagem"));
    setModal(true);
    // FormCreate: a fresh frame holder for this capture.
    createFrameHolder();
    buildControls();
    tmrSync.setInterval(60);
    connect(&tmrSync, &QTimer::timeout, this, &TfrmCapturar::tmrSyncTimer);
    // Keyboard preview: the window sees every key before its controls.
    qApp->installEventFilter(this);
}

TfrmCapturar::~TfrmCapturar() {
    qApp->removeEventFilter(this);
    tmrSync.stop();
    assistant_.reset();  // before the camera whose frames it takes
    if (port_) {
        port_->close();
        delete port_.data();
    }
    camera_.reset();
}

void TfrmCapturar::buildControls() {
    pnlNomeModulo = new QFrame(this);
    pnlNomeModulo->setObjectName(QStringLiteral("pnlNomeModulo"));
    pnlNomeModulo->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    pnlNomeModulo->setGeometry(0, 0, kCentralWidth, kTopBarHeight);
    lblNomeModulo = new QLabel(QStringLiteral("Digitalizando Imagem "), pnlNomeModulo);
    lblNomeModulo->setObjectName(QStringLiteral("lblNomeModulo"));
    lblNomeModulo->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblNomeModulo->setStyleSheet(QString::fromLatin1(kBarStyle) + QStringLiteral(" font-size: 19px;"));
    lblNomeModulo->setGeometry(pnlNomeModulo->rect());

    pnlLogo = new QFrame(pnlNomeModulo);
    pnlLogo->setObjectName(QStringLiteral("pnlLogo"));
    pnlLogo->setGeometry(0, 0, 87, 36);
    imgLogo = new QLabel(pnlLogo);
    imgLogo->setObjectName(QStringLiteral("imgLogo"));
    imgLogo->setGeometry(2, 2, 83, 32);
    imgLogo->setPixmap(logoPicture());

    pnlCentral = new QFrame(this);
    pnlCentral->setObjectName(QStringLiteral("pnlCentral"));
    pnlCentral->setFrameStyle(QFrame::NoFrame);
    pnlCentral->setGeometry(0, kTopBarHeight, kCentralWidth, kCentralHeight);

    pnlCamCentral = new QFrame(pnlCentral);
    pnlCamCentral->setObjectName(QStringLiteral("pnlCamCentral"));
    pnlCamCentral->setFrameStyle(QFrame::Box | QFrame::Plain);
    pnlCamCentral->setLineWidth(1);
    pnlCamCentral->setGeometry(80, 1, kCameraWidth, kPanelHeight);
    lblCameraCentral = tagLabel(pnlCamCentral, "lblCameraCentral", QStringLiteral("Imagem Frontal"),
                                QRect(0, 0, kCameraWidth, 18), 15);
    lblOS = tagLabel(pnlCamCentral, "lblOS", QStringLiteral("OS"), QRect(0, 1, 58, 18), 15);
    lblOD = tagLabel(pnlCamCentral, "lblOD", QStringLiteral("OD"), QRect(584, 1, 58, 18), 15);
    imgCentral = new QLabel(pnlCamCentral);
    imgCentral->setObjectName(QStringLiteral("imgCentral"));
    imgCentral->setGeometry(0, 19, kCameraWidth, kCameraHeight);
    imgCentral->hide();

    pnlCamLateral = new QFrame(pnlCentral);
    pnlCamLateral->setObjectName(QStringLiteral("pnlCamLateral"));
    pnlCamLateral->setAutoFillBackground(true);
    pnlCamLateral->setGeometry(16, 1, kMaskWidth, kPanelHeight);
    pnlCamLateral->raise();

    lblBrilho = new QLabel(QStringLiteral("Brilho:"), pnlCentral);
    lblBrilho->setObjectName(QStringLiteral("lblBrilho"));
    lblBrilho->move(747, 4);
    trBrilho = new QSlider(Qt::Horizontal, pnlCentral);
    trBrilho->setObjectName(QStringLiteral("trBrilho"));
    trBrilho->setGeometry(723, 19, 77, 15);
    trBrilho->setRange(0, 255);
    trBrilho->setValue(120);
    trBrilho->setTickInterval(1);
    lblContraste = new QLabel(QStringLiteral("Contraste:"), pnlCentral);
    lblContraste->setObjectName(QStringLiteral("lblContraste"));
    lblContraste->move(737, 41);
    trContraste = new QSlider(Qt::Horizontal, pnlCentral);
    trContraste->setObjectName(QStringLiteral("trContraste"));
    trContraste->setGeometry(723, 52, 77, 15);
    trContraste->setRange(0, 63);
    trContraste->setValue(32);
    trContraste->setTickInterval(1);
    for (QSlider* s : {trBrilho, trContraste}) s->setFocusPolicy(Qt::NoFocus);
    connect(trBrilho, &QSlider::valueChanged, this, &TfrmCapturar::trBrilhoChange);
    connect(trContraste, &QSlider::valueChanged, this, &TfrmCapturar::trContrasteChange);

    pnlBtns = new QFrame(pnlCentral);
    pnlBtns->setObjectName(QStringLiteral("pnlBtns"));
    pnlBtns->setGeometry(110, 506, 580, 25);
    QFont buttonFont = pnlBtns->font();
    buttonFont.setPixelSize(11);  // the design sizes were made for an 8-point face
    pnlBtns->setFont(buttonFont);
    spbCapturar = button(pnlBtns, "spbCapturar", QStringLiteral("&Capturar"), QRect(0, 0, 75, 25), true);
    spbDescongelar = button(pnlBtns, "spbDescongelar", QStringLiteral("&Descongelar"), QRect(80, 0, 75, 25), false);
    spbSalvarImagem = button(pnlBtns, "spbSalvarImagem", QStringLiteral("&Salvar Imagem"), QRect(161, 0, 111, 25), true);
    spbSalvarImagem->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
    spbSalvarImagem->setIconSize(QSize(14, 14));
    spbSalvarImagem->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    spbSalvarImagem->setToolTip(QStringLiteral("Salva a imagem Central"));
    spbSalvarImagem->hide();
    spbOK = button(pnlBtns, "spbOK", QStringLiteral("&OK"), QRect(426, 0, 75, 25), false);
    spbCancelar = button(pnlBtns, "spbCancelar", QStringLiteral("Cancela&r"), QRect(505, 0, 75, 25), true);
    connect(spbCapturar, &QToolButton::clicked, this, &TfrmCapturar::spbCapturarClick);
    connect(spbDescongelar, &QToolButton::clicked, this, &TfrmCapturar::spbDescongelarClick);
    connect(spbSalvarImagem, &QToolButton::clicked, this, &TfrmCapturar::spbSalvarImagemClick);
    connect(spbOK, &QToolButton::clicked, this, &TfrmCapturar::spbOKClick);
    connect(spbCancelar, &QToolButton::clicked, this, &TfrmCapturar::spbCancelarClick);
}

void TfrmCapturar::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (shown_) return;
    shown_ = true;
    showing_ = true;
    FormShow();
    showing_ = false;
}

void TfrmCapturar::openSerialPort() {
    try {
        port_ = createComPort(this).release();
        port_->setBaudRate(19200);
        port_->setPort(settings_.com);
        port_->setWatchCtsOnly();
        port_->setFlowControlNone();
        port_->setRtsOn(true);
        connect(port_, &TComPort::ctsChanged, this, &TfrmCapturar::ComPortCTSChange);
        port_->open();
    } catch (const std::exception& e) {
        qCWarning(lcCapture, "Captura: %s", e.what());
        delete port_.data();
        showMessage(QStringLiteral("Problemas na conexão com a serial"), QStringLiteral("Captura"), MsgIcon::None,
                    MsgButtons::Ok, this);
    }
}

void TfrmCapturar::setTitle(const QString& text) { lblNomeModulo->setText(text); }

void TfrmCapturar::FormShow() {
    openSerialPort();

    camera_ = std::make_unique<TVGrabber_Tavro>(pnlCamCentral, kCameraWidth, kCameraHeight, 19, 0,
                                                quint8(settings_.cameraCentral), 100, QStringLiteral("NTSC"));
    connect(camera_.get(), &TVGrabber::frameCaptured, this, [this] {
        if (!closing_ && state_ == State::Requested && syncOverdue_) takeOverStillFrame();
    });
    connect(camera_.get(), &TVGrabber::cameraFailed, this, &TfrmCapturar::cameraFailed);
    imgCentral->raise();
    if (!camera_->IsRunning())
        showMessage(QStringLiteral("Não foi possível iniciar a câmera: %1").arg(camera_->failure()),
                    QStringLiteral("Erro"), MsgIcon::Error, MsgButtons::Ok, this);

    const auto available = [](int min, int max) { return !(min == kValorIndisponivel && max == kValorIndisponivel); };
    const bool brilhoOk = camera_->IsRunning() && available(camera_->BrilhoMin(), camera_->BrilhoMax());
    const bool contrasteOk = camera_->IsRunning() && available(camera_->ContrasteMin(), camera_->ContrasteMax());
    if (brilhoOk) {
        trBrilho->setMaximum(camera_->BrilhoMax());
        trBrilho->setMinimum(camera_->BrilhoMin());
        trBrilho->setTickInterval(camera_->BrilhoStep());
    }
    if (contrasteOk) {
        trContraste->setMaximum(camera_->ContrasteMax());
        trContraste->setMinimum(camera_->ContrasteMin());
        trContraste->setTickInterval(camera_->ContrasteStep());
    }
    camera_->SetSaturacao(0);
    camera_->SetBrilho(settings_.brilho);
    camera_->SetContraste(settings_.contraste);
    // Without the control there is nothing to adjust: the trackbar shows the stored value,
    // so that closing does not offer an unavailable value as the new default.
    const auto place = [](QSlider* s, bool ok, int value) {
        if (!ok) {
            const QSignalBlocker block(s);
            s->setRange(std::min(s->minimum(), value), std::max(s->maximum(), value));
            s->setValue(value);
            s->setEnabled(false);
            return;
        }
        s->setValue(value);
    };
    place(trBrilho, brilhoOk, brilhoOk ? camera_->GetBrilho() : settings_.brilho);
    place(trContraste, contrasteOk, contrasteOk ? camera_->GetContraste() : settings_.contraste);
    trBrilho->setToolTip(QStringLiteral("Brilho: %1").arg(trBrilho->value()));
    trContraste->setToolTip(QStringLiteral("Contraste: %1").arg(trContraste->value()));

    ctsCount_ = 0;
    spbSalvarImagem->setVisible(settings_.salvarImagemCaptura);
    FitToScreen();
    if (mode_ == 0 || mode_ == 1) {
        ArrangeForEye(mode_);
        HideCameraControls();
    } else {
        ShowCameraControls();
    }
    startAssistance();
}

void TfrmCapturar::startAssistance() {
    if (!camera_ || !camera_->IsRunning()) return;
    clock_.start();
    autoCapture_ = AutoCapture(settings_.delayAutoPCaptura);
    assistant_ = std::make_unique<LiveAssistant>(settings_.tipoCone);
    connect(camera_->video(), &TVideoGrabber::frameShown, assistant_.get(), &LiveAssistant::offer);
    connect(assistant_.get(), &LiveAssistant::assessed, this, &TfrmCapturar::statusAssessed);
    overlay_ = new AssistOverlay(pnlCamCentral);
    overlay_->setGeometry(0, 19, kCameraWidth, kCameraHeight);
    if (mode_ == 1) overlay_->setHiddenSides(kMaskWidth, 0);
    if (mode_ == 0) overlay_->setHiddenSides(0, kMaskWidth);
    overlay_->show();
    overlay_->raise();
}

void TfrmCapturar::statusAssessed(const LiveStatus& status) {
    // A frozen picture keeps the figures of the frame taken.
    if (state_ != State::Live || closing_) return;
    overlay_->setStatus(status);
    if (!autoCapture_.armed()) return;
    switch (autoCapture_.feed(status.good, clock_.elapsed())) {
    case AutoCapture::Step::Wait: break;
    case AutoCapture::Step::Freeze:
        Freeze();
        autoFrozen_ = true;
        break;
    case AutoCapture::Step::GiveUp:
        disarmAutoCapture();
        showMessage(QStringLiteral("Não foi possível capturar automaticamente. Ajuste o paciente ou capture "
                                   "manualmente."),
                    QStringLiteral("Captura"), MsgIcon::Warning, MsgButtons::Ok, this);
        break;
    }
}

void TfrmCapturar::disarmAutoCapture() {
    autoCapture_.disarm();
    if (overlay_) overlay_->setNotice(QString());
    if (state_ == State::Live) spbDescongelar->setEnabled(false);
}

void TfrmCapturar::FitToScreen() {
    QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
    const QRect area = s ? s->geometry() : QRect(0, 0, kCentralWidth, kCentralHeight + kTopBarHeight);
    setGeometry(area);
    pnlNomeModulo->setGeometry(0, 0, area.width(), kTopBarHeight);
    lblNomeModulo->setGeometry(pnlNomeModulo->rect());
    pnlCentral->resize(kCentralWidth, kCentralHeight);
    pnlCentral->move(R(area.width() / 2.0) - R(kCentralWidth / 2.0),
                     R(area.height() / 2.0) + pnlNomeModulo->height() - R(kCentralHeight / 2.0));
}

void TfrmCapturar::ArrangeForEye(quint8 mode) {
    pnlCamLateral->resize(kMaskWidth, kPanelHeight);
    const double half = pnlCentral->width() / 2.0 - pnlCamCentral->width() / 2.0;
    const int maskHalf = pnlCamLateral->width();
    if (mode == 1) {
        pnlCamCentral->move(R(half - maskHalf / 2.0), pnlCamCentral->y());
        pnlCamLateral->move(pnlCamCentral->x(), pnlCamLateral->y());
    } else if (mode == 0) {
        pnlCamCentral->move(R(half + maskHalf / 2.0), pnlCamCentral->y());
        pnlCamLateral->move(pnlCamCentral->x() + pnlCamCentral->width() - pnlCamLateral->width(), pnlCamLateral->y());
    }
    pnlCamLateral->raise();
}

void TfrmCapturar::ShowCameraControls() {
    for (QWidget* w : {static_cast<QWidget*>(lblBrilho), static_cast<QWidget*>(lblContraste),
                       static_cast<QWidget*>(trBrilho), static_cast<QWidget*>(trContraste)})
        w->show();
}

void TfrmCapturar::HideCameraControls() {
    for (QWidget* w : {static_cast<QWidget*>(lblBrilho), static_cast<QWidget*>(lblContraste),
                       static_cast<QWidget*>(trBrilho), static_cast<QWidget*>(trContraste)})
        w->hide();
}

bool TfrmCapturar::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress || closing_ || !isVisible()) return QDialog::eventFilter(watched, event);
    auto* target = qobject_cast<QWidget*>(watched);
    if (!target || (target != this && !isAncestorOf(target))) return QDialog::eventFilter(watched, event);
    // While a message box of ours is up (the show sequence may raise one), keys are its own.
    if (QApplication::activeModalWidget() != this) return QDialog::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (!key->isAutoRepeat() && spbOK->isEnabled()) spbOK->click();
        return true;
    case Qt::Key_Escape:
        if (key->isAutoRepeat()) return true;
        // The first Esc disarms an armed automatic capture; the next one cancels. An Esc meant
        // to disarm may come just after the automatic capture took its frame: that frame goes
        // only when the operator says so.
        if (autoCapture_.armed()) disarmAutoCapture();
        else if (autoFrozen_ && state_ != State::Live && !confirmDiscardAutoFrame()) return true;
        else if (spbCancelar->isEnabled()) spbCancelar->click();
        return true;
    case Qt::Key_Space:
    case Qt::Key_F5:
    case Qt::Key_F6:
    case Qt::Key_F7:
    case Qt::Key_F8:
        // A held key would otherwise flicker between live and frozen.
        if (!key->isAutoRepeat()) takeKey();
        return true;
    default:
        return QDialog::eventFilter(watched, event);
    }
}

void TfrmCapturar::trBrilhoChange(int position) {
    if (camera_) camera_->SetBrilho(position);
    trBrilho->setToolTip(QStringLiteral("Brilho: %1").arg(position));
}

void TfrmCapturar::trContrasteChange(int position) {
    if (camera_) camera_->SetContraste(position);
    trContraste->setToolTip(QStringLiteral("Contraste: %1").arg(position));
}

void TfrmCapturar::spbCapturarClick() {
    // With the automatic capture the first press arms it (the frame is taken once the eye is
    // right); a second press takes the frame at once.
    if (settings_.autoPCaptura && assistant_ && state_ == State::Live && !autoCapture_.armed()) {
        autoCapture_.arm(clock_.elapsed());
        overlay_->setNotice(QStringLiteral("Captura automática: aguardando o olho centrado e em foco"));
        spbDescongelar->setEnabled(true);  // disarms
        return;
    }
    Freeze();
}

void TfrmCapturar::Freeze() {
    if (!camera_ || !camera_->IsRunning()) return;  // no live picture: nothing to freeze
    autoCapture_.disarm();
    if (overlay_) overlay_->setNotice(QString());
    camera_->CaptureFrame();
    autoFrozen_ = false;
    syncOverdue_ = false;
    tmrSync.start();
    spbCapturar->setEnabled(false);
    spbDescongelar->setEnabled(true);
    spbOK->setEnabled(true);
    state_ = State::Requested;
}

void TfrmCapturar::tmrSyncTimer() {
    if (camera_ && camera_->HasFrame()) {
        takeOverStillFrame();
        return;
    }
    // The frame is late: take it over as soon as it arrives.
    tmrSync.stop();
    syncOverdue_ = true;
}

void TfrmCapturar::takeOverStillFrame() {
    tmrSync.stop();
    syncOverdue_ = false;
    const QImage& frame = camera_->GetFrame();
    if (TBProcImg* holder = frameHolder()) holder->Process(frame);
    camera_->HideVideo();
    imgCentral->setPixmap(QPixmap::fromImage(frame));
    imgCentral->adjustSize();
    imgCentral->show();
    state_ = State::Frozen;
    if (overlay_ && assistant_) {
        // The frame taken is judged as the live frames were (the automatic capture took it
        // because that judgement found it right).
        overlay_->setStatus(assistant_->judgeStill(frame));
        overlay_->raise();
    }
}

void TfrmCapturar::spbDescongelarClick() {
    if (state_ == State::Live) {  // the automatic capture was armed
        disarmAutoCapture();
        return;
    }
    tmrSync.stop();
    syncOverdue_ = false;
    autoFrozen_ = false;
    if (camera_) {
        camera_->ShowVideo();
        camera_->ReleaseFrame();
    }
    // The holder must not keep a frame the operator has let go of.
    if (TBProcImg* holder = frameHolder()) holder->Clear();
    imgCentral->hide();
    spbCapturar->setEnabled(true);
    spbDescongelar->setEnabled(false);
    spbOK->setEnabled(false);
    state_ = State::Live;
}

bool TfrmCapturar::awaitStillFrame() {
    if (state_ == State::Frozen) return true;
    if (state_ != State::Requested || !camera_) return false;
    if (!camera_->HasFrame() && camera_->IsRunning()) {
        QEventLoop loop;
        connect(camera_.get(), &TVGrabber::frameCaptured, &loop, &QEventLoop::quit);
        connect(camera_.get(), &TVGrabber::cameraFailed, &loop, &QEventLoop::quit);
        // A timer of our own rather than a single shot: a pending single shot would outlive
        // this call, and its slot code would be gone once the host unloads the module.
        QTimer limit;
        limit.setSingleShot(true);
        connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
        limit.start(kStillFrameWaitMs);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    if (state_ == State::Requested && camera_->HasFrame()) takeOverStillFrame();
    return state_ == State::Frozen;
}

void TfrmCapturar::saveHeldFrame() {
    FileDialogRequest request{FileDialogRequest::Save, QStringLiteral("Salvar imagem da captura"), QString(),
                              QStringLiteral("imagem.bmp"), QStringLiteral("Bitmap (*.bmp)")};
    const QString path = askFileName(request, this);
    if (path.isEmpty()) return;
    TBProcImg* holder = frameHolder();
    if (!awaitStillFrame() || !holder || !holder->HasFrame()) {
        showMessage(QStringLiteral("Nenhuma imagem foi recebida da câmera; não há imagem para salvar."),
                    QStringLiteral("Erro"), MsgIcon::Error, MsgButtons::Ok, this);
        return;
    }
    QString error;
    if (!saveBmp32(path, holder->GetBitmap(), &error))
        showMessage(error, QStringLiteral("Erro"), MsgIcon::Error, MsgButtons::Ok, this);
}

void TfrmCapturar::spbSalvarImagemClick() {
    if (spbCapturar->isEnabled()) {
        Freeze();
        saveHeldFrame();
        spbDescongelarClick();
    } else {
        saveHeldFrame();
    }
}

bool TfrmCapturar::confirmDiscardAutoFrame() {
    return showMessage(QStringLiteral("A imagem foi capturada automaticamente. Deseja descartá-la e cancelar a "
                                      "captura?"),
                       QStringLiteral("Captura"), MsgIcon::Question, MsgButtons::YesNo, this,
                       MsgAnswer::No) == MsgAnswer::Yes;
}

void TfrmCapturar::spbOKClick() {
    awaitStillFrame();
    accepted_ = true;
    accept();
}

void TfrmCapturar::spbCancelarClick() {
    accepted_ = false;
    reject();
}

void TfrmCapturar::ComPortCTSChange(bool) {
    // Events that were still queued when the window closed find nothing to do.
    if (closing_ || !camera_ || !camera_->IsRunning()) return;
    ++ctsCount_;
    if (ctsCount_ % 2 == 1) return;  // a press gives two changes: act on the release
    takeKey();
}

void TfrmCapturar::takeKey() {
    // A press over a frame the automatic capture has just taken was meant to take that frame:
    // it keeps it, as the operator's own; only a further press lets it go.
    if (autoFrozen_ && state_ != State::Live) {
        autoFrozen_ = false;
        return;
    }
    if (spbCapturar->isEnabled()) spbCapturar->click();
    else if (spbDescongelar->isEnabled()) spbDescongelar->click();
}

void TfrmCapturar::cameraFailed(const QString& reason) {
    if (closing_) return;
    showMessage(QStringLiteral("Problemas na conexão com a câmera: %1\nCancele a captura e verifique a câmera.").arg(reason),
                QStringLiteral("Erro"), MsgIcon::Error, MsgButtons::Ok, this);
    // A requested frame will not come; a frozen one stays valid.
    if (state_ == State::Requested && !(camera_ && camera_->HasFrame())) spbDescongelarClick();
}

void TfrmCapturar::done(int result) {
    if (showing_) {
        // Closing from inside the show sequence (from one of its message boxes' event loops)
        // would end the modal loop before it starts: close once it runs.
        QMetaObject::invokeMethod(this, [this, result] { done(result); }, Qt::QueuedConnection);
        return;
    }
    if (closing_) return;
    closing_ = true;
    tmrSync.stop();
    autoCapture_.disarm();
    FormClose();
    QDialog::done(result);
}

void TfrmCapturar::closeEvent(QCloseEvent* event) {
    // The window's close button cancels as Esc does, so it asks as Esc does.
    if (!closing_ && autoFrozen_ && state_ != State::Live && !confirmDiscardAutoFrame()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void TfrmCapturar::FormClose() {
    if (mode_ != 2) return;
    if (trBrilho->value() == settings_.brilho && trContraste->value() == settings_.contraste) return;
    const MsgAnswer answer = showMessage(
        QStringLiteral("Os valores de brilho e contraste foram alterados.\rPressione OK para tornar padrão os novos "
                       "valores ou Cancelar\rpara manter os valores anteriores."),
        QStringLiteral("Aviso - Captura"), MsgIcon::Warning, MsgButtons::OkCancel, nullptr);
    if (answer == MsgAnswer::Ok) {
        settings_.brilho = trBrilho->value();
        settings_.contraste = trContraste->value();
        newDefaultsConfirmed_ = true;
        showMessage(QStringLiteral("Novos valores de brilho e contraste definidos com sucesso.\rCaso você esteja no "
                                   "meio de processo de calibração,  por\rfavor, cancele a operação, saia do programa "
                                   "e entre  nova-\rmente. Caso o processo de calibração  já  tenha  sido con-\rcluído, "
                                   "será necessário refazê-lo após reiniciar o programa."),
                    QStringLiteral("Aviso - Captura"), MsgIcon::Information, MsgButtons::Ok, nullptr);
    } else {
        showMessage(QStringLiteral("Os valores anteriores serão restaurados na próxima \rvez que o programa for iniciado."),
                    QStringLiteral("Aviso - Captura"), MsgIcon::Information, MsgButtons::OkCancel, nullptr);
    }
}

}  // namespace norvix::captura

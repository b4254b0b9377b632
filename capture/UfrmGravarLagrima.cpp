#include "UfrmGravarLagrima.h"

#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>

#include "UVGrabber_Tavro.h"
#include "platform/Convert.h"
#include "platform/ui/MessageSeam.h"

namespace norvix::captura {
namespace {

constexpr int kCameraWidth = 640;
constexpr int kCameraHeight = 480;
constexpr double kDefaultFps = 30;

const char* kBarStyle = "color: white; background-color: rgb(97, 128, 154); font-family: Arial; font-weight: bold;";

QString seconds(qint64 ms) { return textoDecimal(ms / 1000.0, 1); }

QPushButton* button(QWidget* parent, const char* name, const QString& text) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setAutoDefault(false);
    b->setFocusPolicy(Qt::NoFocus);  // Enter and space belong to the window's keys
    return b;
}

}  // namespace

TfrmGravarLagrima::TfrmGravarLagrima(QWidget* owner, const CaptureSettings& settings, const QString& path,
                                     int maxSeconds, int eye)
    : QDialog(owner), settings_(settings), path_(path), maxUs_(qint64(maxSeconds) * 1000000), eye_(eye) {
    setObjectName(QStringLiteral("frmGravarLagrima"));
    setWindowTitle(QStringLiteral("Filme Lacrimal"));
    setModal(true);
    buildControls();
    newTake();
}

TfrmGravarLagrima::~TfrmGravarLagrima() {
    assistant_.reset();  // before the camera whose frames it takes
    queue_.reset();
    camera_.reset();
}

void TfrmGravarLagrima::buildControls() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 10);
    layout->setSpacing(8);

    lblTitulo = new QLabel(eye_ == 1 ? QStringLiteral("Filme Lacrimal - Olho Direito (OD) ")
                                     : QStringLiteral("Filme Lacrimal - Olho Esquerdo (OS) "),
                           this);
    lblTitulo->setObjectName(QStringLiteral("lblTitulo"));
    lblTitulo->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblTitulo->setMinimumHeight(36);
    lblTitulo->setStyleSheet(QString::fromLatin1(kBarStyle) + QStringLiteral(" font-size: 19px;"));
    layout->addWidget(lblTitulo);

    lblInstrucao = new QLabel(QStringLiteral("Peça ao paciente que pisque e mantenha o olho aberto."), this);
    lblInstrucao->setObjectName(QStringLiteral("lblInstrucao"));
    lblInstrucao->setAlignment(Qt::AlignCenter);
    QFont big = lblInstrucao->font();
    big.setPointSizeF(big.pointSizeF() * 1.3);
    big.setBold(true);
    lblInstrucao->setFont(big);
    layout->addWidget(lblInstrucao);

    pnlVideo = new QFrame(this);
    pnlVideo->setObjectName(QStringLiteral("pnlVideo"));
    pnlVideo->setFixedSize(kCameraWidth, kCameraHeight);
    pnlVideo->setStyleSheet(QStringLiteral("background-color: black;"));
    auto* videoRow = new QHBoxLayout;
    videoRow->setContentsMargins(10, 0, 10, 0);
    videoRow->addStretch();
    videoRow->addWidget(pnlVideo);
    videoRow->addStretch();
    layout->addLayout(videoRow);

    lblRelogio = new QLabel(pnlVideo);
    lblRelogio->setObjectName(QStringLiteral("lblRelogio"));
    lblRelogio->setTextFormat(Qt::RichText);
    lblRelogio->setStyleSheet(QStringLiteral("color: white; background-color: rgba(0, 0, 0, 160); font-family: Arial; "
                                             "font-size: 22px; font-weight: bold; padding: 2px 8px;"));
    lblRelogio->hide();

    lblSituacao = new QLabel(this);
    lblSituacao->setObjectName(QStringLiteral("lblSituacao"));
    lblSituacao->setAlignment(Qt::AlignCenter);
    lblSituacao->setWordWrap(true);
    layout->addWidget(lblSituacao);

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(10, 0, 10, 0);
    btnIniciar = button(this, "btnIniciar", QStringLiteral("&Iniciar"));
    btnParar = button(this, "btnParar", QStringLiteral("&Parar"));
    btnUsar = button(this, "btnUsar", QStringLiteral("&Usar gravação"));
    btnRegravar = button(this, "btnRegravar", QStringLiteral("&Gravar de novo"));
    btnCancelar = button(this, "btnCancelar", QStringLiteral("Cancelar"));
    buttons->addStretch();
    for (QPushButton* b : {btnIniciar, btnParar, btnUsar, btnRegravar, btnCancelar}) buttons->addWidget(b);
    buttons->addStretch();
    layout->addLayout(buttons);
    connect(btnIniciar, &QPushButton::clicked, this, &TfrmGravarLagrima::iniciar);
    connect(btnParar, &QPushButton::clicked, this, &TfrmGravarLagrima::parar);
    connect(btnUsar, &QPushButton::clicked, this, &TfrmGravarLagrima::usar);
    connect(btnRegravar, &QPushButton::clicked, this, &TfrmGravarLagrima::newTake);
    connect(btnCancelar, &QPushButton::clicked, this, &QDialog::reject);
}

bool TfrmGravarLagrima::startCamera() {
    camera_ = std::make_unique<TVGrabber_Tavro>(pnlVideo, kCameraWidth, kCameraHeight, 0, 0,
                                                quint8(settings_.cameraCentral), 100, QStringLiteral("NTSC"));
    lblRelogio->raise();
    if (!camera_->IsRunning()) {
        failure_ = QStringLiteral("Não foi possível iniciar a câmera: %1").arg(camera_->failure());
        return false;
    }
    VideoDevice* device = camera_->video()->device();
    fps_ = device && device->framesPerSecond() > 0 ? device->framesPerSecond() : kDefaultFps;
    assistant_ = std::make_unique<LiveAssistant>(settings_.tipoCone);
    connect(camera_->video(), &TVideoGrabber::frameStamped, this, &TfrmGravarLagrima::onFrame);
    connect(assistant_.get(), &LiveAssistant::assessed, this, &TfrmGravarLagrima::onStatus);
    connect(camera_.get(), &TVGrabber::cameraFailed, this, [this](const QString& reason) {
        fail(QStringLiteral("Problemas na conexão com a câmera: %1").arg(reason));
    });
    return true;
}

void TfrmGravarLagrima::newTake() {
    // The old queue goes with its unfinished file.
    clip_ = std::make_unique<TearClip>(maxUs_);
    queue_ = std::make_unique<RecordingQueue>();
    firstUs_ = lastUs_ = -1;
    frames_ = gaps_ = 0;
    state_ = State::Waiting;
    showState();
}

void TfrmGravarLagrima::onFrame(const QImage& frame, qint64 stampUs) {
    if (closing_) return;
    ++framesSeen_;
    if (assistant_) assistant_->offerStamped(frame, stampUs);
    write(clip_->frame(frame, stampUs));
    afterClip();
}

void TfrmGravarLagrima::onStatus(const LiveStatus& status) {
    if (closing_) return;
    ++statuses_;
    write(clip_->status(status));
    afterClip();
}

void TfrmGravarLagrima::write(std::vector<StampedFrame> frames) {
    for (StampedFrame& f : frames) {
        if (closing_) return;
        if (!queue_->isOpen()) {
            QString error;
            if (!queue_->open(path_, f.image.width(), f.image.height(), fps_, &error)) {
                fail(QStringLiteral("Não foi possível gravar o filme lacrimal: %1").arg(error));
                return;
            }
            firstUs_ = f.us;
        }
        // Frames the live picture never got leave a gap in the stamps.
        const double periodUs = 1e6 / fps_;
        if (lastUs_ >= 0) gaps_ += std::max(0, int(std::lround((f.us - lastUs_) / periodUs)) - 1);
        queue_->push(f.image, (f.us - firstUs_ + 500) / 1000);
        lastUs_ = f.us;
        ++frames_;
    }
    const QString failure = queue_->failure();
    if (!failure.isEmpty()) fail(QStringLiteral("Não foi possível gravar o filme lacrimal: %1").arg(failure));
}

void TfrmGravarLagrima::afterClip() {
    if (closing_) return;
    const TearClip::Phase phase = clip_->phase();
    if (state_ == State::Waiting && phase != TearClip::Phase::Waiting) state_ = State::Recording;
    if (state_ == State::Recording && phase == TearClip::Phase::Ended) state_ = State::Done;
    showState();
}

int TfrmGravarLagrima::framesRecorded() const { return frames_ - (queue_ ? queue_->dropped() : 0); }

int TfrmGravarLagrima::framesLost() const { return gaps_ + (queue_ ? queue_->dropped() : 0); }

qint64 TfrmGravarLagrima::recordedMs() const {
    if (frames_ == 0) return 0;
    return (lastUs_ - firstUs_) / 1000 + std::lround(1000 / fps_);
}

QString TfrmGravarLagrima::clockText(qint64 ms) {
    ms = std::max<qint64>(0, ms);
    const qint64 tenths = ms / 100;
    return QStringLiteral("%1:%2,%3")
        .arg(tenths / 600, 2, 10, QLatin1Char('0'))
        .arg(tenths / 10 % 60, 2, 10, QLatin1Char('0'))
        .arg(tenths % 10);
}

QString TfrmGravarLagrima::summary() const {
    if (framesRecorded() == 0) return QStringLiteral("Nenhum quadro foi gravado.");
    QString text = QStringLiteral("Gravados %1 s (%2 quadros).").arg(seconds(recordedMs())).arg(framesRecorded());
    if (const int lost = framesLost(); lost > 0) text += QStringLiteral(" %1 quadros da câmera se perderam.").arg(lost);
    switch (clip_->end()) {
    case TearClip::End::Blink: text += QStringLiteral(" A gravação parou na piscada."); break;
    case TearClip::End::Time: text += QStringLiteral(" A gravação chegou ao limite de tempo."); break;
    default: break;
    }
    if (recordedMs() < kShortestMs)
        text += QStringLiteral("\nA gravação é curta demais para a análise (mínimo de %1 s); grave de novo.")
                    .arg(kShortestMs / 1000);
    return text;
}

void TfrmGravarLagrima::showState() {
    const bool waiting = state_ == State::Waiting, recording = state_ == State::Recording, done = state_ == State::Done;
    btnIniciar->setVisible(waiting);
    btnParar->setVisible(recording);
    btnUsar->setVisible(done);
    btnRegravar->setVisible(done);
    btnUsar->setEnabled(done && recordedMs() >= kShortestMs && !failed_);
    lblRelogio->setVisible(recording);
    if (recording) {
        lblRelogio->setText(QStringLiteral("<span style=\"color: #ff2020;\">&#9679;</span> %1")
                                .arg(clockText(clip_->elapsedUs() / 1000)));
        lblRelogio->adjustSize();
        lblRelogio->move(pnlVideo->width() - lblRelogio->width() - 8, 8);
        lblSituacao->setText(QStringLiteral("Gravando... A gravação para na próxima piscada, em %1 s ou em Parar.")
                                 .arg(maxUs_ / 1000000));
    } else if (waiting) {
        lblSituacao->setText(QStringLiteral("A gravação começa sozinha ao fim da piscada; ou pressione Iniciar."));
    } else {
        lblSituacao->setText(summary());
    }
}

void TfrmGravarLagrima::iniciar() {
    if (state_ == State::Waiting && camera_ && camera_->IsRunning()) clip_->start();
}

void TfrmGravarLagrima::parar() {
    if (state_ != State::Recording) return;
    write(clip_->stop());
    afterClip();
}

void TfrmGravarLagrima::usar() {
    if (state_ != State::Done || !btnUsar->isEnabled()) return;
    // Whatever the worker has not written yet is written now (a fraction of a second at most).
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    QString error;
    const bool ok = queue_->finish(&error);
    QGuiApplication::restoreOverrideCursor();
    if (!ok) {
        fail(QStringLiteral("Não foi possível gravar o filme lacrimal: %1").arg(error));
        return;
    }
    kept_ = true;
    accept();
}

void TfrmGravarLagrima::fail(const QString& text) {
    if (closing_) return;
    closing_ = true;  // the frames still coming find nothing to do
    failed_ = true;
    showMessage(text, QStringLiteral("Erro"), MsgIcon::Error, MsgButtons::Ok, this);
    QDialog::done(QDialog::Rejected);
}

void TfrmGravarLagrima::keyPressEvent(QKeyEvent* event) {
    if (event->isAutoRepeat()) return;  // a held key would start and stop at once
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        if (state_ == State::Waiting) iniciar();
        else if (state_ == State::Recording) parar();
        else if (event->key() != Qt::Key_Space) usar();
        return;
    case Qt::Key_Escape: reject(); return;
    default: QDialog::keyPressEvent(event);
    }
}

void TfrmGravarLagrima::reject() {
    if (!closing_ && state_ == State::Done && btnUsar->isEnabled() &&
        showMessage(QStringLiteral("Descartar a gravação de %1 s do filme lacrimal?").arg(seconds(recordedMs())),
                    QStringLiteral("Filme Lacrimal"), MsgIcon::Question, MsgButtons::YesNo, this) != MsgAnswer::Yes)
        return;
    QDialog::reject();
}

void TfrmGravarLagrima::done(int result) {
    closing_ = true;
    QDialog::done(result);
}

}  // namespace norvix::captura

#include "CaptureCall.h"

#include <QApplication>
#include <QEventLoop>
#include <QPointer>
#include <cstdio>
#include <cstring>
#include <exception>

#include "Bitmap32.h"
#include "CaptureSettings.h"
#include "UBProcImg.h"
#include "UfrmCapturar.h"
#include "UfrmGravarLagrima.h"
#include "platform/ui/MessageSeam.h"
#include "platform/Logging.h"

namespace norvix::captura {

namespace {

// What one call creates, freed on every way out of it: the window (with it its event filter,
// the camera and its streaming, the serial port and its thread) and the frame holder. The host
// unloads the library right after the call, so nothing of it may outlive the call. The window
// is a child of the host window, which would delete it first if it went during the call: hence
// a guarded pointer rather than a unique_ptr.
struct CaptureScope {
    QPointer<TfrmCapturar> window;
    CaptureScope() = default;
    CaptureScope(const CaptureScope&) = delete;
    CaptureScope& operator=(const CaptureScope&) = delete;
    ~CaptureScope() {
        delete window.data();
        releaseFrameHolder();
    }
};

// A failure report that cannot itself throw out of the module.
void reportFailure(const QString& text, QWidget* host) noexcept {
    try {
        showMessage(text, QStringLiteral("Erro"), MsgIcon::Error, MsgButtons::Ok, host);
    } catch (...) {
        // The box could not be shown; showMessage has written the text to standard error first.
    }
}

// The host ends the program by QCoreApplication::exit, which makes every running event loop
// return (the window's, and any nested one of a handler that then closes the window as if
// the operator had) and every later loop return -1 at once until the host's own loop has
// ended. Nothing else tells: aboutToQuit comes only after that. So a loop started here, which
// ends on its own with 1, tells whether the host is ending the program.
bool hostIsEnding() {
    QEventLoop probe;
    QMetaObject::invokeMethod(&probe, [&probe] { probe.exit(1); }, Qt::QueuedConnection);
    return probe.exec(QEventLoop::ExcludeUserInputEvents) != 1;
}

// One showing of the capture window; the accepted frame in *frame. A title replaces the
// window's own top-bar text (the orthokeratology call numbers its captures there).
bool runCapture(QWidget* host, uint8_t mode, const QString& title, QImage* frame) {
    CaptureSettings& record = captureSettings();
    CaptureScope scope;
    QPointer<TfrmCapturar>& window = scope.window;
    // The window is owned by the host window, so it and our messages stay in front of it.
    window = new TfrmCapturar(host, record);
    window->setMode(mode);
    if (!title.isEmpty()) window->setTitle(title);
    refreshCaptureSettings(record);

    window->exec();
    // A host that is ending the program gets no image, whatever state the window was left in.
    const bool ending = hostIsEnding();

    const bool accepted = !ending && window && window->accepted();
    const bool confirmed = window && window->newDefaultsConfirmed();
    // Only values the operator confirmed in the closing question become the new defaults:
    // a record that was never refreshed (file missing at the start) must not overwrite them.
    persistCameraValues(record, mode == 2 && confirmed);

    if (!accepted) return false;
    TBProcImg* holder = frameHolder();
    if (!holder || !holder->HasFrame()) {
        showMessage(QStringLiteral("Nenhuma imagem foi recebida da câmera; a captura não foi concluída."),
                    QStringLiteral("Erro"), MsgIcon::Error, MsgButtons::Ok, host);
        return false;
    }
    *frame = holder->GetBitmap().copy();
    return true;
}

bool writeCapture(QWidget* host, ModuleStream* image, const QImage& frame) {
    if (writeBmp32(image, frame)) return true;
    showMessage(QStringLiteral("Não foi possível gravar a imagem capturada."), QStringLiteral("Erro"), MsgIcon::Error,
                MsgButtons::Ok, host);
    return false;
}

uint8_t captureOne(QWidget* host, ModuleStream* image, uint8_t mode) {
    QImage frame;
    if (!runCapture(host, mode, QString(), &frame)) return 0;
    if (!image) {
        qCWarning(lcCapture, "Captura: nenhum fluxo de imagem foi fornecido.");
        return 0;
    }
    return writeCapture(host, image, frame) ? 1 : 0;
}

uint8_t captureFour(QWidget* host, ModuleStream** images, uint8_t eye) {
    if (!images) {
        qCWarning(lcCapture, "Captura: nenhum fluxo de imagem foi fornecido.");
        return 0;
    }
    for (int c = 0; c < kOrthoCaptures; ++c) {
        if (!images[c]) {
            qCWarning(lcCapture, "Captura: o fluxo de imagem %d não foi fornecido.", c + 1);
            return 0;
        }
    }
    // Nothing reaches the host's streams until all four are accepted: a capture cancelled half
    // way leaves the streams as they were, and the host sees no exam rather than part of one.
    QImage frames[kOrthoCaptures];
    for (int c = 0; c < kOrthoCaptures; ++c) {
        const QString title = QStringLiteral("Ortoceratologia - Captura %1 de %2 ").arg(c + 1).arg(kOrthoCaptures);
        if (!runCapture(host, eye, title, &frames[c])) return 0;
    }
    for (int c = 0; c < kOrthoCaptures; ++c)
        if (!writeCapture(host, images[c], frames[c])) return 0;
    return 1;
}

// Nothing may cross the module boundary as an exception; failed: what the call returns then.
template <typename F>
uint8_t guarded(QWidget* host, F&& run, uint8_t failed = 0) {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
        qCWarning(lcCapture, "Captura: o programa chamador não tem interface gráfica.");
        return failed;
    }
    try {
        return run();
    } catch (const std::exception& e) {
        reportFailure(QStringLiteral("Erro na captura: %1").arg(QString::fromUtf8(e.what())), host);
    } catch (...) {
        reportFailure(QStringLiteral("Erro desconhecido na captura."), host);
    }
    return failed;
}

// What one recording call creates, freed on every way out of it (see CaptureScope).
struct TearScope {
    QPointer<TfrmGravarLagrima> window;
    TearScope() = default;
    TearScope(const TearScope&) = delete;
    TearScope& operator=(const TearScope&) = delete;
    ~TearScope() { delete window.data(); }
};

uint8_t recordTear(QWidget* host, const QString& path, uint32_t maxSeconds, uint8_t eye) {
    CaptureSettings& record = captureSettings();
    refreshCaptureSettings(record);
    TearScope scope;
    QPointer<TfrmGravarLagrima>& window = scope.window;
    window = new TfrmGravarLagrima(host, record, path, int(maxSeconds), eye);
    if (!window->startCamera()) {
        reportFailure(window->failure(), host);
        return 2;
    }
    window->exec();
    // A kept recording is at the path whatever ends the window; an unkept one goes with it.
    if (window && window->kept()) return 1;
    return window && window->failed() ? 2 : 0;
}

}  // namespace

uint8_t digitalizar(QWidget* hostWindow, ModuleStream* image, uint8_t mode) {
    return guarded(hostWindow, [&] { return captureOne(hostWindow, image, mode); });
}

uint8_t digitalizarOrto(QWidget* hostWindow, ModuleStream** images, uint8_t eye) {
    if (eye > 1) {
        qCWarning(lcCapture, "Captura: olho inválido (%d) na captura de ortoceratologia.", int(eye));
        return 0;
    }
    return guarded(hostWindow, [&] { return captureFour(hostWindow, images, eye); });
}

uint8_t gravarFilmeLacrimal(QWidget* hostWindow, const char* pathUtf8, uint32_t maxSeconds, uint8_t eye) {
    return guarded(
        hostWindow,
        [&]() -> uint8_t {
            const QString path = pathUtf8 ? QString::fromUtf8(pathUtf8) : QString();
            QString problem;
            if (path.isEmpty()) problem = QStringLiteral("Nenhum arquivo foi indicado para a gravação do filme lacrimal.");
            else if (eye > 1) problem = QStringLiteral("Olho inválido (%1) para a gravação do filme lacrimal.").arg(eye);
            else if (maxSeconds < kShortestTearSeconds || maxSeconds > kLongestTearSeconds)
                problem = QStringLiteral("Duração inválida para a gravação do filme lacrimal: %1 s (de %2 a %3 s).")
                              .arg(maxSeconds)
                              .arg(kShortestTearSeconds)
                              .arg(kLongestTearSeconds);
            if (!problem.isEmpty()) {
                reportFailure(problem, hostWindow);
                return 2;
            }
            return recordTear(hostWindow, path, maxSeconds, eye);
        },
        2);
}

void writeInfo(ModuleStream* out) {
    if (!out || !out->write) return;
    static const char line[] = "Euresys Picolo Jr. 4\r\n";
    static_assert(sizeof(line) - 1 == 22);
    out->write(out->context, line, int64_t(sizeof(line) - 1));
}

}  // namespace norvix::captura

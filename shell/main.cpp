// The workstation program: one instance per user, the data module, then the main window.
#include <QFontDatabase>
#include <QLocale>
#include <QPointer>
#include <QTimer>
#include "MiralApplication.h"
#include "SignalClose.h"
#include "SingleInstance.h"
#include "UfrmPrincipal.h"
#include "platform/Paths.h"
#include "platform/QtTranslations.h"
#include "platform/StartupPhases.h"
#include "records/UfrmDataModule.h"
#include <thread>

int main(int argc, char** argv) {
    norvix::markStartupPhase("main");
    norvix::ensureRuntimeDirectory();
    norvix::MiralApplication app(argc, argv);
    norvix::markStartupPhase("aplicacao");
    norvix::TSingleInstance single;
    if (single.anotherIsRunning()) return 0;  // the running one shows itself
    norvix::TSignalClose signalClose;
    // Loading the font database (reading the system's font configuration) is the largest piece
    // of the start-up's own work; it runs here while the settings, the skin pictures and the
    // database attach go on, and the first text drawn takes it over when ready.
    std::thread fonts([] { QFontDatabase::families(); });
    struct Join {
        std::thread& t;
        ~Join() { t.join(); }
    } joinFonts{fonts};

    QApplication::setApplicationName(QStringLiteral("OrventDuo"));
    QApplication::setApplicationDisplayName(QStringLiteral("OrventDuo"));
    QLocale::setDefault(QLocale::c());
    norvix::installQtTranslations();

    // Declared before the data module: marks once the module has committed and detached.
    struct MarkDetached {
        ~MarkDetached() { norvix::markStartupPhase("banco-fechado"); }
    } markDetached;
    norvix::TDMPrincipal dataModule;
    QPointer<norvix::TfrmPrincipal> main = new norvix::TfrmPrincipal();
    QObject::connect(&single, &norvix::TSingleInstance::showRequested, main, [main] {
        main->showNormal();
        main->raise();
        main->activateWindow();
    });
    main->show();
    norvix::markStartupPhase("janela");
    main->requestFirstStartUp();
    if (qEnvironmentVariableIsSet("NORVIX_EXIT_AFTER_STARTUP")) {
        // Used by the start-up benchmark: end as soon as the run is over.
        QObject::connect(main, &norvix::TfrmPrincipal::startUpFinished, &app,
                         [main] { QCoreApplication::exit(main && main->started() ? 0 : 1); });
    }
    const int status = app.exec();
    norvix::markStartupPhase("laco-encerrado");
    // After a signal the event loops were left with the main window still open: close it as
    // its close button would. The data module then commits and detaches as it goes.
    if (main) {
        main->close();
        delete main.data();
    }
    return signalClose.received() ? 0 : status;
}

// The workstation program: one instance per user, the data module, then the main window.
#include <QLocale>
#include <QPointer>
#include <QTimer>
#include "MiralApplication.h"
#include "SingleInstance.h"
#include "UfrmPrincipal.h"
#include "records/UfrmDataModule.h"

int main(int argc, char** argv) {
    MiralApplication app(argc, argv);
    TSingleInstance single;
    if (single.anotherIsRunning()) return 0;  // the running one shows itself

    QApplication::setApplicationName(QStringLiteral("OrventDuo"));
    QApplication::setApplicationDisplayName(QStringLiteral("OrventDuo"));
    QLocale::setDefault(QLocale::c());

    norvix::TDMPrincipal dataModule;
    auto* main = new TfrmPrincipal();
    QObject::connect(&single, &TSingleInstance::showRequested, main, [main] {
        main->showNormal();
        main->raise();
        main->activateWindow();
    });
    main->show();
    // Showing the window is its first activation; a desktop without a window manager never
    // reports one, so the start-up is queued here too (a run that has begun ignores it).
    const bool exitAfterStartUp = qEnvironmentVariableIsSet("NORVIX_EXIT_AFTER_STARTUP");
    QTimer::singleShot(0, main, [window = QPointer<TfrmPrincipal>(main), exitAfterStartUp] {
        if (window) window->ApplicationEvents1Activate();
        // Used by the start-up benchmark: end as soon as the run is over.
        if (exitAfterStartUp) QCoreApplication::exit(window && window->started() ? 0 : 1);
    });
    return app.exec();
}

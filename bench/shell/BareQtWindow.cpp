// The baselines: a Qt Widgets program that shows one window and ends once it is up; built a
// second time (BARE_WITH_DATABASE) to also attach and detach the embedded database named by
// its argument, the least any program must do before its start-up can end.
#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <ctime>

// The program's own phase marks (platform/StartupPhases), written here without its library so
// that the baseline loads nothing the bare window would not: the benchmark sets them side by side.
static void mark(const char* name) {
    static const bool wanted = std::getenv("NORVIX_STARTUP_PHASES") != nullptr;
    if (!wanted) return;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    std::fprintf(stderr, "norvix-fase %s %lld\n", name, static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
}

#ifdef BARE_WITH_DATABASE
#include <firebird/Interface.h>

static bool attachAndDetach(const char* file) {
    using namespace Firebird;
    IMaster* master = fb_get_master_interface();
    ThrowStatusWrapper status(master->getStatus());
    try {
        IXpbBuilder* dpb = master->getUtilInterface()->getXpbBuilder(&status, IXpbBuilder::DPB, nullptr, 0);
        dpb->insertString(&status, isc_dpb_user_name, "sysdba");
        dpb->insertString(&status, isc_dpb_password, "rqmz71");
        dpb->insertString(&status, isc_dpb_lc_ctype, "WIN1252");
        IProvider* provider = master->getDispatcher();
        IAttachment* attachment = provider->attachDatabase(&status, file, dpb->getBufferLength(&status),
                                                           dpb->getBuffer(&status));
        attachment->detach(&status);
        provider->release();
        dpb->dispose();
        return true;
    } catch (const FbException& e) {
        char text[512];
        master->getUtilInterface()->formatStatus(text, sizeof text, e.getStatus());
        std::fprintf(stderr, "%s\n", text);
        return false;
    }
}
#endif

int main(int argc, char** argv) {
    mark("main");
    QApplication app(argc, argv);
    mark("aplicacao");
    QWidget window;
    window.resize(800, 600);
    window.show();
    mark("janela");
#ifdef BARE_WITH_DATABASE
    const QByteArray file = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    QTimer::singleShot(0, &app, [file] {
        const bool attached = attachAndDetach(file.constData());
        mark("banco");
        QCoreApplication::exit(attached ? 0 : 1);
    });
#else
    QTimer::singleShot(0, &app, [] { QCoreApplication::exit(0); });
#endif
    const int status = app.exec();
    mark("laco-encerrado");
    return status;
}

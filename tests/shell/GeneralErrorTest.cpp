// The application's general error message: an error raised inside an event handler reaches
// the operator as a message and the program goes on. Runs under the program's own
// application object, hence its own main().
#include <QFile>
#include <QTimer>
#include <functional>
#include <new>
#include <gtest/gtest.h>
#include "DemoInstallation.h"
#include "MiralApplication.h"
#include "UfrmPrincipal.h"
#include "config/SharedRecords.h"
#include "platform/Errors.h"
#include "platform/ui/MessageSeam.h"
#include "records/UfrmDataModule.h"

using norvix::MiralApplication;
using norvix::TfrmPrincipal;

namespace {
class Thrower : public QObject {
public:
    std::function<void()> raise = [] { throw norvix::ConversionError("'abc' não é um valor inteiro válido"); };
    bool event(QEvent* e) override {
        if (e->type() == QEvent::User) raise();
        return QObject::event(e);
    }
};
}  // namespace

TEST(GeneralError, ErrorInAnEventHandlerIsShownAndTheLoopGoesOn) {
    norvix::RecordingMessageSeam seam;
    Thrower thrower;
    QEvent event(QEvent::User);
    EXPECT_FALSE(QCoreApplication::sendEvent(&thrower, &event));
    ASSERT_EQ(seam.messages.size(), 1u);
    EXPECT_EQ(seam.messages[0].text, "'abc' não é um valor inteiro válido");
    EXPECT_EQ(seam.messages[0].caption, "OrventDuo");
    EXPECT_EQ(seam.messages[0].icon, norvix::MsgIcon::Error);
}

TEST(GeneralError, AnErrorOfNoKnownKindStillSaysWhatIsKnown) {
    norvix::RecordingMessageSeam seam;
    Thrower thrower;
    QEvent event(QEvent::User);
    thrower.raise = [] { throw 42; };
    QCoreApplication::sendEvent(&thrower, &event);
    thrower.raise = [] { throw std::bad_alloc(); };
    QCoreApplication::sendEvent(&thrower, &event);
    thrower.raise = [] { throw "cabeçalho inválido"; };
    QCoreApplication::sendEvent(&thrower, &event);
    EXPECT_EQ(seam.texts(), QStringList({"Erro inesperado (int).", "Erro inesperado: std::bad_alloc (std::bad_alloc).",
                                         "Erro inesperado: cabeçalho inválido."}));
}

TEST(GeneralError, ConversionErrorOfTheStartUpIsShownAndTheNextActivationRetries) {
    DemoInstallation demo;
    ASSERT_TRUE(demo.ok());
    QFile f(demo.settingsFile());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.close();
    norvix::resetSharedRecords();
    norvix::RecordingMessageSeam seam;
    norvix::TDMPrincipal dm;
    QPointer<TfrmPrincipal> main = new TfrmPrincipal();
    main->show();
    main->requestFirstStartUp();
    // As the program starts (the first show and the application's activation), then one more
    // activation: one run each.
    size_t before = 0;
    for (int round = 0; round < 2; ++round) {
        if (round == 1) QTimer::singleShot(0, main, &TfrmPrincipal::ApplicationEvents1Activate);
        QTimer::singleShot(100, qApp, [] { QCoreApplication::exit(0); });  // quit() would close the windows
        qApp->exec();
        const size_t added = seam.messages.size() - before;
        ASSERT_EQ(added, 7u) << seam.texts().join(" | ").toStdString();
        const auto& last = seam.messages.back();
        EXPECT_EQ(last.caption, "OrventDuo");
        EXPECT_TRUE(last.text.contains("FatorCorrecao")) << last.text.toStdString();
        EXPECT_FALSE(main->started());
        before = seam.messages.size();
    }
    main->close();
}

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    MiralApplication app(argc, argv);
    QApplication::setApplicationDisplayName("OrventDuo");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

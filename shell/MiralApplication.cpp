#include "MiralApplication.h"

#include <QKeyEvent>
#include <exception>
#include "HelpViewer.h"
#include "platform/Errors.h"
#include "platform/MessageSeam.h"

MiralApplication::MiralApplication(int& argc, char** argv) : QApplication(argc, argv) {}

void MiralApplication::showGeneralError(const QString& text) {
    const QString title = applicationDisplayName().isEmpty() ? QStringLiteral("OrventDuo")
                                                             : applicationDisplayName();
    norvix::showMessage(text, title, norvix::MsgIcon::Error);
}

bool MiralApplication::notify(QObject* receiver, QEvent* event) {
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_F1 &&
        receiver->isWidgetType()) {
        QWidget* active = activeModalWidget() ? activeModalWidget() : activeWindow();
        norvix::help::showHelp(norvix::help::contextOf(active), active);
        return true;
    }
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        showGeneralError(QString::fromUtf8(e.what()));
    } catch (...) {
        showGeneralError(QStringLiteral("Erro inesperado."));
    }
    return false;
}

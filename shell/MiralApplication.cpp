#include "MiralApplication.h"

#include <QKeyEvent>
#include <cstdlib>
#include <cxxabi.h>
#include <exception>
#include <memory>
#include <typeinfo>
#include "HelpViewer.h"
#include "platform/Errors.h"
#include "platform/ui/MessageSeam.h"

namespace norvix {

namespace {
// The type of the exception being handled, as the compiler names it ("int", "std::bad_alloc").
QString exceptionTypeName() {
    const std::type_info* type = abi::__cxa_current_exception_type();
    if (!type) return QStringLiteral("tipo desconhecido");
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> name(abi::__cxa_demangle(type->name(), nullptr, nullptr, &status),
                                                std::free);
    return QString::fromUtf8(status == 0 && name ? name.get() : type->name());
}
}  // namespace

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
    } catch (const norvix::Error& e) {
        showGeneralError(e.message());
    } catch (const std::exception& e) {
        showGeneralError(QStringLiteral("Erro inesperado: %1 (%2).")
                             .arg(QString::fromUtf8(e.what()), exceptionTypeName()));
    } catch (const char* text) {
        showGeneralError(QStringLiteral("Erro inesperado: %1.").arg(QString::fromUtf8(text)));
    } catch (const QString& text) {
        showGeneralError(QStringLiteral("Erro inesperado: %1.").arg(text));
    } catch (...) {
        showGeneralError(QStringLiteral("Erro inesperado (%1).").arg(exceptionTypeName()));
    }
    return false;
}

}  // namespace norvix

#pragma once
// The workstation's application object: shows an error raised inside any event handler as
// the application's general error message and returns to the event loop, and opens the help
// of the active window on F1.
#include <QApplication>

namespace norvix {

class MiralApplication : public QApplication {
    Q_OBJECT
public:
    MiralApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;

    // Shows the error text with an error icon, captioned with the application title.
    static void showGeneralError(const QString& text);
};

}  // namespace norvix

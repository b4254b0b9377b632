#pragma once
// The program's help: HTML pages, index.html for the contents and <context>.html per help
// context number, shown over the active window. Every window carries its context number in
// the property "helpContext"; F1 shows the topic of the active window.
#include <QDialog>
#include <QPointer>

class QTextBrowser;
class QWidget;

namespace norvix {

namespace help {

// The folder of the pages (set at main window creation).
void setHelpFolder(const QString& folder);
QString helpFolder();
// The folder actually used: the one set, else the installation's ajuda/AjudaPrincipal.
QString effectiveHelpFolder();

void setContext(QWidget* window, int context);
int contextOf(const QWidget* window);  // 0 when none

// Opens the viewer at a context (0: the table of contents). Returns the page shown, or the
// empty text when no page exists (the viewer then says so).
QString showHelp(int context, QWidget* over = nullptr);
// The page for a context, or the empty text.
QString pageFor(int context);

}  // namespace help

class THelpViewer : public QDialog {
    Q_OBJECT
public:
    explicit THelpViewer(QWidget* parent = nullptr);
    static THelpViewer* instance(QWidget* parent);
    using QDialog::open;  // the window-modal show stays reachable beside the page opener
    void open(const QString& page);
    QString currentPage() const;

private:
    QTextBrowser* browser_;
    static QPointer<THelpViewer> instance_;
};

}  // namespace norvix

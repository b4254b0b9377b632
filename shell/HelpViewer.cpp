#include "HelpViewer.h"

#include <QDir>
#include <QFileInfo>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>
#include <QVariant>
#include "config/SharedRecords.h"
#include "platform/ui/MessageSeam.h"
#include "platform/Paths.h"

namespace norvix {

namespace help {
namespace {
QString g_folder;
}

void setHelpFolder(const QString& folder) { g_folder = folder; }
QString helpFolder() { return g_folder; }

QString effectiveHelpFolder() {
    if (!g_folder.isEmpty() && QFileInfo(g_folder).isDir()) return g_folder;
    // The demonstration installation keeps the pages beside its data, not beside the program.
    const QString dirQv = recordText(paths().DirQV);
    const QString installed = (dirQv.isEmpty() ? installRoot() + QStringLiteral("/OrventDuo") : dirQv) +
                              QStringLiteral("/ajuda/AjudaPrincipal");
    return QFileInfo(installed).isDir() ? installed : g_folder;
}

void setContext(QWidget* window, int context) { window->setProperty("helpContext", context); }

int contextOf(const QWidget* window) {
    for (const QWidget* w = window; w; w = w->parentWidget()) {
        const QVariant v = w->property("helpContext");
        if (v.isValid()) return v.toInt();
    }
    return 0;
}

QString pageFor(int context) {
    const QDir dir(effectiveHelpFolder());
    if (context > 0) {
        const QString page = dir.filePath(QStringLiteral("%1.html").arg(context));
        if (QFileInfo::exists(page)) return page;
    }
    const QString index = dir.filePath(QStringLiteral("index.html"));
    return QFileInfo::exists(index) ? index : QString();
}

QString showHelp(int context, QWidget* over) {
    const QString page = pageFor(context);
    if (page.isEmpty()) {
        showMessage(QStringLiteral("Arquivo de ajuda não encontrado: %1").arg(effectiveHelpFolder()),
                    QStringLiteral("Informação"), MsgIcon::Information);
        return {};
    }
    THelpViewer* viewer = THelpViewer::instance(over);
    viewer->open(page);
    viewer->show();
    viewer->raise();
    return page;
}

}  // namespace help

QPointer<THelpViewer> THelpViewer::instance_;

THelpViewer::THelpViewer(QWidget* parent) : QDialog(parent) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Ajuda - Topógrafo de Córnea"));
    resize(720, 540);
    browser_ = new QTextBrowser(this);
    browser_->setOpenExternalLinks(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(browser_);
}

THelpViewer* THelpViewer::instance(QWidget* parent) {
    if (!instance_) instance_ = new THelpViewer(parent);
    return instance_;
}

void THelpViewer::open(const QString& page) { browser_->setSource(QUrl::fromLocalFile(page)); }

QString THelpViewer::currentPage() const { return browser_->source().toLocalFile(); }

}  // namespace norvix

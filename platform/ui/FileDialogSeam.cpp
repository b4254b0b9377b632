#include "FileDialogSeam.h"

#include <QDir>
#include <QFileDialog>

namespace norvix {
namespace {

class QtFileDialogSeam : public FileDialogSeam {
public:
    QString ask(QWidget* parent, const FileDialogRequest& r) override {
        switch (r.kind) {
        case FileDialogRequest::Open:
            return QFileDialog::getOpenFileName(parent, r.title, r.directory, r.filter);
        case FileDialogRequest::Save:
            return QFileDialog::getSaveFileName(
                parent, r.title, QDir(r.directory.isEmpty() ? QDir::currentPath() : r.directory)
                                     .filePath(r.proposedName),
                r.filter);
        case FileDialogRequest::Directory:
            return QFileDialog::getExistingDirectory(parent, r.title, r.directory);
        }
        return {};
    }
};

QtFileDialogSeam g_qtDialogs;
FileDialogSeam* g_dialogs = &g_qtDialogs;

}  // namespace

QString askFileName(const FileDialogRequest& request, QWidget* parent) {
    return g_dialogs->ask(parent, request);
}

void setFileDialogSeam(FileDialogSeam* seam) { g_dialogs = seam ? seam : &g_qtDialogs; }

ScriptedFileDialogSeam::ScriptedFileDialogSeam() { setFileDialogSeam(this); }
ScriptedFileDialogSeam::~ScriptedFileDialogSeam() { setFileDialogSeam(nullptr); }

QString ScriptedFileDialogSeam::ask(QWidget*, const FileDialogRequest& request) {
    requests.push_back(request);
    if (answers.empty()) return {};
    QString a = answers.front();
    answers.pop_front();
    return a;
}

}  // namespace norvix

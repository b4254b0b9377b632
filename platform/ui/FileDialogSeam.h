#pragma once
// The one way windows ask for a file or folder name; tests replace it to answer by themselves.
#include <QString>
#include <deque>

class QWidget;

namespace norvix {

struct FileDialogRequest {
    enum Kind { Open, Save, Directory } kind;
    QString title;
    QString directory;     // start folder
    QString proposedName;  // Save: proposed file name
    QString filter;        // Qt filter text, such as "Bitmap (*.bmp)"
};

class FileDialogSeam {
public:
    virtual ~FileDialogSeam() = default;
    // The chosen path, or the empty text when the operator cancelled.
    virtual QString ask(QWidget* parent, const FileDialogRequest& request) = 0;
};

QString askFileName(const FileDialogRequest& request, QWidget* parent = nullptr);
void setFileDialogSeam(FileDialogSeam* seam);  // not owned; nullptr restores QFileDialog

// Test seam: records the requests and answers from a queue (empty queue: cancel).
class ScriptedFileDialogSeam : public FileDialogSeam {
public:
    ScriptedFileDialogSeam();
    ~ScriptedFileDialogSeam() override;
    QString ask(QWidget* parent, const FileDialogRequest& request) override;
    std::deque<QString> answers;
    std::deque<FileDialogRequest> requests;
};

}  // namespace norvix

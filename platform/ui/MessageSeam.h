#pragma once
// The one way every window shows a message box. Each message is also written to standard
// error as one line "caption: text", so that a clinic's support can read what the operator saw.
// Tests replace the seam to record the messages and choose the answers.
#include <QString>
#include <QStringList>
#include <deque>
#include <optional>
#include <vector>

class QWidget;

namespace norvix {

enum class MsgIcon { None, Information, Warning, Error, Question };
enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MsgAnswer { Ok, Cancel, Yes, No };

struct ShownMessage {
    QString text;
    QString caption;
    MsgIcon icon;
    MsgButtons buttons;
    // The button Enter presses; none for the first one. A question that destroys something
    // makes the safe answer the default.
    std::optional<MsgAnswer> defaultButton = std::nullopt;
    // Words for the buttons in place of the usual ones, in their order (Sim, Não, Cancelar;
    // OK, Cancelar): a choice between two actions names them ("Tentar novamente").
    QStringList labels = {};
};

class MessageSeam {
public:
    virtual ~MessageSeam() = default;
    virtual MsgAnswer show(QWidget* parent, const ShownMessage& message) = 0;
};

// Shows a message through the installed seam (a QMessageBox by default).
MsgAnswer showMessage(const QString& text, const QString& caption,
                      MsgIcon icon = MsgIcon::None, MsgButtons buttons = MsgButtons::Ok,
                      QWidget* parent = nullptr,
                      std::optional<MsgAnswer> defaultButton = std::nullopt);

// The same with the buttons named by `labels` (see ShownMessage::labels).
MsgAnswer showChoice(const QString& text, const QString& caption, MsgIcon icon, MsgButtons buttons,
                     const QStringList& labels, QWidget* parent = nullptr,
                     std::optional<MsgAnswer> defaultButton = std::nullopt);

// Installs a seam (not owned); nullptr restores the QMessageBox seam.
void setMessageSeam(MessageSeam* seam);
MessageSeam* messageSeam();

// Test seam: records every message and answers from a queue (default: the first button).
class RecordingMessageSeam : public MessageSeam {
public:
    RecordingMessageSeam();   // installs itself
    ~RecordingMessageSeam() override;  // restores the default seam
    MsgAnswer show(QWidget* parent, const ShownMessage& message) override;

    std::vector<ShownMessage> messages;
    std::deque<MsgAnswer> answers;
    QStringList texts() const;
};

}  // namespace norvix

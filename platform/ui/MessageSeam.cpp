#include "MessageSeam.h"
#include "QuestionGuard.h"
#include "platform/Logging.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <cstdio>

namespace norvix {
namespace {

class QtMessageSeam : public MessageSeam {
public:
    MsgAnswer show(QWidget* parent, const ShownMessage& m) override {
        if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return MsgAnswer::Ok;
        QMessageBox box(parent ? parent : QApplication::activeWindow());
        box.setWindowTitle(m.caption);
        // A server error or a file name may hold '<': never drawn as markup.
        box.setTextFormat(Qt::PlainText);
        box.setText(m.text);
        switch (m.icon) {
        case MsgIcon::None: box.setIcon(QMessageBox::NoIcon); break;
        case MsgIcon::Information: box.setIcon(QMessageBox::Information); break;
        case MsgIcon::Warning: box.setIcon(QMessageBox::Warning); break;
        case MsgIcon::Error: box.setIcon(QMessageBox::Critical); break;
        case MsgIcon::Question: box.setIcon(QMessageBox::Question); break;
        }
        const auto label = [&m](int i, const char* usual) {
            return i < m.labels.size() ? m.labels.at(i) : QString::fromUtf8(usual);
        };
        QAbstractButton* ok = nullptr;
        QAbstractButton* cancel = nullptr;
        QAbstractButton* yes = nullptr;
        QAbstractButton* no = nullptr;
        switch (m.buttons) {
        case MsgButtons::Ok: ok = box.addButton(label(0, "OK"), QMessageBox::AcceptRole); break;
        case MsgButtons::OkCancel:
            ok = box.addButton(label(0, "OK"), QMessageBox::AcceptRole);
            cancel = box.addButton(label(1, "Cancelar"), QMessageBox::RejectRole);
            break;
        case MsgButtons::YesNoCancel:
            cancel = box.addButton(label(2, "Cancelar"), QMessageBox::RejectRole);
            [[fallthrough]];
        case MsgButtons::YesNo:
            yes = box.addButton(label(0, "&Sim"), QMessageBox::YesRole);
            no = box.addButton(label(1, "&Não"), QMessageBox::NoRole);
            break;
        }
        if (m.defaultButton) {
            QAbstractButton* chosen = *m.defaultButton == MsgAnswer::Yes  ? yes
                                      : *m.defaultButton == MsgAnswer::No ? no
                                      : *m.defaultButton == MsgAnswer::Ok ? ok
                                                                          : cancel;
            if (auto* button = qobject_cast<QPushButton*>(chosen)) box.setDefaultButton(button);
        }
        discardQueuedInput();
        {
            const QuestionKeyGuard guard(&box);
            box.exec();
        }
        QAbstractButton* clicked = box.clickedButton();
        if (clicked && clicked == yes) return MsgAnswer::Yes;
        if (clicked && clicked == no) return MsgAnswer::No;
        if (clicked && clicked == ok) return MsgAnswer::Ok;
        if (cancel) return MsgAnswer::Cancel;
        return no ? MsgAnswer::No : MsgAnswer::Ok;
    }
};

QtMessageSeam g_qtSeam;
MessageSeam* g_seam = &g_qtSeam;

MsgAnswer firstAnswer(MsgButtons b) {
    return (b == MsgButtons::YesNo || b == MsgButtons::YesNoCancel) ? MsgAnswer::Yes : MsgAnswer::Ok;
}

}  // namespace

MsgAnswer showMessage(const QString& text, const QString& caption, MsgIcon icon,
                      MsgButtons buttons, QWidget* parent, std::optional<MsgAnswer> defaultButton) {
    qCInfo(lcPlatform).noquote() << caption + QStringLiteral(":") << text;
    return g_seam->show(parent, ShownMessage{text, caption, icon, buttons, defaultButton});
}

MsgAnswer showChoice(const QString& text, const QString& caption, MsgIcon icon, MsgButtons buttons,
                     const QStringList& labels, QWidget* parent, std::optional<MsgAnswer> defaultButton) {
    qCInfo(lcPlatform).noquote() << caption + QStringLiteral(":") << text << labels.join(QStringLiteral(" / "));
    return g_seam->show(parent, ShownMessage{text, caption, icon, buttons, defaultButton, labels});
}

void setMessageSeam(MessageSeam* seam) { g_seam = seam ? seam : &g_qtSeam; }
MessageSeam* messageSeam() { return g_seam; }

RecordingMessageSeam::RecordingMessageSeam() { setMessageSeam(this); }
RecordingMessageSeam::~RecordingMessageSeam() {
    if (messageSeam() == this) setMessageSeam(nullptr);
}

MsgAnswer RecordingMessageSeam::show(QWidget*, const ShownMessage& message) {
    messages.push_back(message);
    if (answers.empty()) return firstAnswer(message.buttons);
    const MsgAnswer a = answers.front();
    answers.pop_front();
    return a;
}

QStringList RecordingMessageSeam::texts() const {
    QStringList out;
    for (const auto& m : messages) out << m.text;
    return out;
}

}  // namespace norvix

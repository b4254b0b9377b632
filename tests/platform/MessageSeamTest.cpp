// The real message box offscreen: a question takes only the keys the operator meant for it.
#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <optional>

#include "platform/ui/MessageSeam.h"
#include "platform/ui/QuestionGuard.h"

using norvix::MsgAnswer;

namespace {

// Keys as the keyboard queues them: delivered to whatever has the focus when their turn comes.
class Keyboard : public QObject {
public:
    void type(int key, Qt::KeyboardModifiers mods = Qt::NoModifier, const QString& text = {}) {
        QCoreApplication::postEvent(this, new QKeyEvent(QEvent::KeyPress, key, mods, text));
        QCoreApplication::postEvent(this, new QKeyEvent(QEvent::KeyRelease, key, mods, text));
    }
    bool event(QEvent* e) override {
        if (e->type() != QEvent::KeyPress && e->type() != QEvent::KeyRelease) return QObject::event(e);
        QWidget* to = QApplication::focusWidget() ? QApplication::focusWidget() : QApplication::activeModalWidget();
        if (to) {
            auto* k = static_cast<QKeyEvent*>(e);
            QKeyEvent copy(k->type(), k->key(), k->modifiers(), k->text());
            QCoreApplication::sendEvent(to, &copy);
        }
        return true;
    }
};

struct Key {
    int key;
    Qt::KeyboardModifiers mods = Qt::NoModifier;
    const char* text = "";
};

void click(QWidget* box, const Key& k) { QTest::keyClick(box, Qt::Key(k.key), k.mods); }

}  // namespace

TEST(Question, TakesOnlyTheKeysMeantForIt) {
    const struct {
        const char* what;
        std::vector<Key> queued;      // typed before the question came up
        std::vector<Key> typing;      // typed on as it shows, in one burst
        std::optional<Key> deliberate;  // after the keyboard rested
        std::optional<MsgAnswer> answer;  // none: still waiting for an answer
    } cases[] = {
        {"name queued, Enter", {{Qt::Key_S, {}, "s"}, {Qt::Key_N, {}, "n"}, {Qt::Key_Return}}, {}, {}, {}},
        {"typing on with s, n, Space, Enter", {}, {{Qt::Key_S, {}, "s"}, {Qt::Key_Space, {}, " "}, {Qt::Key_N, {}, "n"}, {Qt::Key_Return}}, {}, {}},
        {"plain letter after a rest", {}, {}, Key{Qt::Key_N, {}, "n"}, {}},
        {"Enter after a rest", {{Qt::Key_N, {}, "n"}}, {{Qt::Key_S, {}, "s"}}, Key{Qt::Key_Return}, MsgAnswer::No},
        {"Esc after a rest", {}, {{Qt::Key_Escape}}, Key{Qt::Key_Escape}, MsgAnswer::Cancel},
        {"Alt+S", {}, {{Qt::Key_N, {}, "n"}}, Key{Qt::Key_S, Qt::AltModifier}, MsgAnswer::Yes},
    };
    Keyboard keyboard;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (const Key& k : c.queued) keyboard.type(k.key, k.mods, QString::fromLatin1(k.text));
        bool stillUp = false;
        QTimer::singleShot(100, [&] {
            // Guarded: a later question may come up at the same address.
            QPointer<QMessageBox> box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            for (const Key& k : c.typing) click(box, k);
            QTimer::singleShot(norvix::kQuestionQuietMs + 300, [&, box] {
                if (!box || QApplication::activeModalWidget() != box) return;
                if (c.deliberate) click(box, *c.deliberate);
                QTimer::singleShot(300, [&, box] {
                    if (!box || QApplication::activeModalWidget() != box) return;
                    stillUp = true;
                    box->reject();
                });
            });
        });
        const MsgAnswer got = norvix::showMessage("Deseja salvar as alterações do diagnóstico?", "Informação",
                                                  norvix::MsgIcon::Question, norvix::MsgButtons::YesNoCancel,
                                                  nullptr, MsgAnswer::No);
        EXPECT_EQ(stillUp, !c.answer.has_value());
        if (c.answer) EXPECT_EQ(got, *c.answer);
    }
}

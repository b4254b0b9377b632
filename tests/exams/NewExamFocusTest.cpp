// (The window's own focus widget: offscreen, the wait window that comes and goes leaves no
// window active.)
// Where the keyboard's focus lands after each step of the new exam: Space presses the focused
// "Executar", so it must stay with the eye being examined.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QTest>

#include "NewExamSupport.h"

using norvix::TfrmNovoExame;

using newexam::NewExam;

TEST_F(NewExam, FocusStaysWithTheEyeBeingExamined) {
    constexpr int R = TfrmNovoExame::kDireito, L = TfrmNovoExame::kEsquerdo;
    open();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    chooseDoctor();
    auto* executarD = window->findChild<QPushButton*>("sbtExecutarD");
    auto* executarS = window->findChild<QPushButton*>("sbtExecutarS");
    auto* fechar = window->findChild<QPushButton*>("sbtFechar");
    // Each row: the eye whose button Space presses, then the step it reaches and the focus.
    const struct { int eye; int step; QPushButton* focus; } presses[] = {
        {R, 2, executarD}, {R, 3, executarD}, {R, 4, executarD},
        {R, 5, executarS},  // stored: on to the other eye
        {L, 2, executarS}, {L, 3, executarS}, {L, 4, executarS}, {L, 5, fechar},
    };
    executarD->setFocus();
    for (const auto& p : presses) {
        SCOPED_TRACE(testing::Message() << (p.eye == R ? "OD" : "OS") << " step " << p.step);
        ASSERT_EQ(window->focusWidget(), p.eye == R ? executarD : executarS);
        QTest::keyClick(window->focusWidget(), Qt::Key_Space);
        EXPECT_EQ(window->passo(p.eye), p.step);
        EXPECT_EQ(window->focusWidget(), p.focus);
    }
    EXPECT_EQ(window->passo(R), 5);  // never a step of the right eye taken for the left
}

#pragma once
// Shared by the registration tests: a fresh database, the message seam, acting on a modal
// window while the call that opened it waits, typing into a named control, and a second
// workstation that writes through an attachment of its own.
#include <QApplication>
#include <QLineEdit>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

#include "config/SharedRecords.h"
#include "db/DbTestSupport.h"
#include "platform/ui/MessageSeam.h"
#include "records/FbDatabase.h"

namespace regtest {

class Registro : public dbtest::DbTest {
protected:
    void SetUp() override {
        DbTest::SetUp();
        norvix::resetSharedRecords();
    }
    void TearDown() override {
        for (QWidget* w : QApplication::topLevelWidgets()) w->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        DbTest::TearDown();
    }

    // Runs action on the modal window named name once it is up (during the call that opens
    // it); closes it afterwards if the action left it open. False afterwards when it never came.
    void quandoAbrir(const QString& name, std::function<void(QWidget*)> action) {
        auto* timer = new QTimer;
        timer->setInterval(5);
        abertas_.push_back(false);
        const size_t i = abertas_.size() - 1;
        QObject::connect(timer, &QTimer::timeout, [this, timer, name, action, i] {
            QWidget* w = QApplication::activeModalWidget();
            if (!w || w->objectName() != name) return;
            timer->stop();
            timer->deleteLater();
            abertas_[i] = true;
            QPointer<QWidget> guard = w;
            action(w);
            if (guard && guard->isVisible()) guard->close();
        });
        timer->start();
    }
    bool todasAbriram() const {
        for (bool b : abertas_)
            if (!b) return false;
        return true;
    }

    template <typename T>
    static T* filho(QWidget* w, const char* name) {
        T* c = w->findChild<T*>(QLatin1String(name));
        EXPECT_NE(c, nullptr) << name;
        return c;
    }
    // Types text into an edit as the operator would (validators and limits apply).
    static void digita(QWidget* w, const char* name, const QString& text, bool clear = true) {
        auto* e = filho<QLineEdit>(w, name);
        if (!e) return;
        if (clear) e->clear();
        // QTest::keyClicks knows only ASCII keys: other letters come as the text of a key.
        for (const QChar c : text) {
            if (c.unicode() < 128)
                QTest::keyClick(e, char(c.unicode()));
            else
                QTest::sendKeyEvent(QTest::Click, e, Qt::Key_unknown, QString(c), Qt::NoModifier);
        }
    }
    QString coluna(const QString& table, int codigo, const QString& column) {
        return dm->selectString(QStringLiteral("SELECT %1 FROM %2 WHERE Codigo = :Codigo").arg(column, table),
                                {{"Codigo", codigo}}, column, norvix::TDMPrincipal::Close::Yes);
    }
    // The integer the statement gives in its column V.
    int valor(const QString& sql) {
        return dm->selectInt(sql, {}, QStringLiteral("V"), norvix::TDMPrincipal::Close::Yes);
    }
    QString texts() const { return seam.texts().join(QStringLiteral(" | ")); }

    norvix::RecordingMessageSeam seam;

private:
    std::vector<bool> abertas_;
};

// Another workstation on the same database: its own attachment and transaction.
class OutraEstacao {
public:
    explicit OutraEstacao(const QString& path) : transacao(banco), cursor(transacao) {
        banco.setDatabaseName(path);
        banco.params() << QStringLiteral("user_name=sysdba") << QStringLiteral("password=rqmz71");
        banco.open();
    }
    void executa(const QString& sql, const norvix::FbParams& params) {
        cursor.setSql(sql);
        cursor.setParams(params);
        cursor.execSql();
    }
    norvix::FbDatabase banco;
    norvix::FbTransaction transacao;
    norvix::FbQuery cursor;
};

}  // namespace regtest

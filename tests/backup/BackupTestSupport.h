#pragma once
// Shared by the backup tests: a program folder with BackUp.ini naming a medium folder, exam
// files to copy, and an answerer for the message boxes the backup module shows itself.
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>

#include "platform/ui/MessageSeam.h"

namespace backup_test {

inline bool escreve(const QString& caminho, const QByteArray& conteudo) {
    QDir().mkpath(caminho.left(caminho.lastIndexOf(QLatin1Char('/'))));
    QFile f(caminho);
    return f.open(QIODevice::WriteOnly) && f.write(conteudo) == conteudo.size();
}

inline QByteArray le(const QString& caminho) {
    QFile f(caminho);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<ausente>");
}

// Everything under a folder, hidden entries and folders included, as one text (a file by its
// content): what a restore that is undone must leave exactly as it was.
inline QString arvore(const QString& pasta) {
    QStringList linhas;
    const QDir raiz(pasta);
    for (QDirIterator it(pasta, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                         QDirIterator::Subdirectories);
         it.hasNext();) {
        const QString caminho = it.next();
        linhas << raiz.relativeFilePath(caminho) + QLatin1Char('|') +
                      (it.fileInfo().isDir() ? QStringLiteral("<pasta>") : QString::fromLatin1(le(caminho).toBase64()));
    }
    linhas.sort();
    return linhas.join(QLatin1Char('\n'));
}

// The program folder (BackUp.ini, logs) and the medium, both in a temporary folder; the process
// is pointed at them through NORVIX_BACKUP_DIR.
struct Bancada {
    QTemporaryDir raiz;
    QString programa() const { return raiz.path() + "/prog"; }
    QString midia() const { return raiz.path() + "/midia"; }
    QString exames() const { return raiz.path() + "/Exames"; }
    QString laudos() const { return raiz.path() + "/Laudos"; }
    QString ini() const { return programa() + "/BackUp.ini"; }

    Bancada() {
        QDir().mkpath(programa());
        QDir().mkpath(midia());
        QDir().mkpath(exames());
        QDir().mkpath(laudos());
        escreve(ini(), "[BACKUP]\r\nTipoBkp=ZIP\r\nDiscoAtual=1\r\nDrive=e\r\n[UNIDADES]\r\nE=" + midia().toUtf8() + "\r\n");
        qputenv("NORVIX_BACKUP_DIR", programa().toUtf8());
        qunsetenv("NORVIX_BACKUP_CAPACIDADE");
    }
    ~Bancada() {
        qunsetenv("NORVIX_BACKUP_DIR");
        qunsetenv("NORVIX_BACKUP_CAPACIDADE");
    }
    // Three files of an exam, each `tamanho` bytes of a pattern of its own.
    void exame(int paciente, int codigo, int tamanho = 1000) const {
        for (char letra : {'a', 'd', 'm'})
            escreve(QStringLiteral("%1/%2/%3%4.txt").arg(exames()).arg(paciente).arg(codigo).arg(letra),
                    QByteArray(tamanho, char('A' + (codigo + letra) % 26)));
    }
};

// The program's message boxes answered by a function that may also act (swap the medium...);
// every message recorded. Installed while it lives (over any seam installed before).
class SeamComAcao : public norvix::MessageSeam {
public:
    using Acao = std::function<norvix::MsgAnswer(const norvix::ShownMessage&)>;
    explicit SeamComAcao(Acao acao) : acao_(std::move(acao)), anterior_(norvix::messageSeam()) {
        norvix::setMessageSeam(this);
    }
    ~SeamComAcao() override { norvix::setMessageSeam(anterior_); }
    norvix::MsgAnswer show(QWidget*, const norvix::ShownMessage& m) override {
        textos << m.text;
        return acao_(m);
    }
    QStringList textos;

private:
    Acao acao_;
    norvix::MessageSeam* anterior_;
};

// One of the engine's tools replaced, while the object lives, by a script that fails (placed
// first in PATH).
class FerramentaQueFalha {
public:
    explicit FerramentaQueFalha(const QString& nome) : caminhoAntes_(qgetenv("PATH")) {
        const QString script = pasta_.path() + QLatin1Char('/') + nome;
        escreve(script, "#!/bin/sh\necho \"falha simulada de $0\" >&2\nexit 1\n");
        QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("PATH", QFile::encodeName(pasta_.path()) + ':' + caminhoAntes_);
    }
    ~FerramentaQueFalha() { qputenv("PATH", caminhoAntes_); }

private:
    QTemporaryDir pasta_;
    QByteArray caminhoAntes_;
};

// Answers every message box the code under test shows: records its text, lets `acao` act
// (swap the medium, ...) and pick the button; without an answer the default button is pressed.
class Respondedor {
public:
    using Acao = std::function<QMessageBox::StandardButton(const QString& texto)>;
    explicit Respondedor(Acao acao = {}) : acao_(std::move(acao)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            auto* caixa = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!caixa || caixa->property("respondida").toBool()) return;
            caixa->setProperty("respondida", true);
            // A deep copy: a text the module made from a literal lives in the module's memory,
            // which is gone once the module is unloaded.
            textos << QString(caixa->text().constData(), caixa->text().size());
            // A restore without the database copy asks for a further disk: none by default.
            QMessageBox::StandardButton botao = acao_                                    ? acao_(caixa->text())
                                                : caixa->text().contains("não é o último") ? QMessageBox::Cancel
                                                                                           : QMessageBox::NoButton;
            QAbstractButton* b = caixa->defaultButton();
            if (botao != QMessageBox::NoButton) b = caixa->button(botao);
            if (!b) b = caixa->buttons().value(0);
            b->click();
        });
        timer_.start(10);
    }
    QStringList textos;

private:
    Acao acao_;
    QTimer timer_;
};

}  // namespace backup_test

#include "UfrmDica.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

QPointer<TfrmDica> TfrmDica::instance_;

TfrmDica::TfrmDica(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint) {
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("frmDica"));
    setWindowTitle(QStringLiteral("Dica de Busca"));
    setFixedSize(540, 168);

    auto* icon = new QLabel(this);
    icon->setGeometry(12, 12, 32, 32);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(32, 32));

    auto label = [this](const char* name, const QString& text, int top, int height) {
        auto* l = new QLabel(text, this);
        l->setObjectName(QLatin1String(name));
        l->setWordWrap(true);
        l->setGeometry(56, top, 472, height);
        return l;
    };
    label("lblTexto1",
          QStringLiteral("A busca por Diagnóstico do Exame é sensível a letras maiúsculas/minúsculas, ou "
                         "seja, faz diferença entre as mesmas. Uma busca por \"Astigmatismo\" trará "
                         "resultado diferente de \"astigmatismo\" devido a letra inicial maiúscula."),
          8, 48);
    label("lblTexto2",
          QStringLiteral("A busca por diagnótico também pode ser feita por qualquer parte do mesmo, como "
                         "por exemplo, uma busca para \"astigmatismo irregular\" poderá ser digitado "
                         "somente \"irreg\"."),
          58, 34);
    label("lblTexto3",
          QStringLiteral("O paciente ou exame encontrado pela busca é exibido no \"Painel de Navegação\" "
                         "após um duplo clique sobre o seu nome ou um clique no "
                         "botão \"Ver Paciente/Exame\"."),
          94, 34);
    auto* ok = new QPushButton(QStringLiteral("&OK"), this);
    ok->setObjectName(QStringLiteral("btnOK"));
    ok->setGeometry(232, 134, 75, 25);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

TfrmDica* TfrmDica::instance(QWidget* parent) {
    if (!instance_) instance_ = new TfrmDica(parent);
    return instance_;
}

bool TfrmDica::exists() { return !instance_.isNull(); }

#include "UfrmDica.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QHBoxLayout>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>

namespace norvix {

QPointer<TfrmDica> TfrmDica::instance_;

namespace {
constexpr int kWidth = 540;
constexpr int kHeight = 168;
}  // namespace

TfrmDica::TfrmDica(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint) {
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("frmDica"));
    setWindowTitle(QStringLiteral("Dica de Busca"));

    auto* icon = new QLabel(this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(32, 32));
    icon->setAlignment(Qt::AlignTop);
    // The paragraphs in a layout: each takes the height its wrapped text needs at the font in
    // use, so none overlaps the next or is cut.
    auto* texts = new QVBoxLayout;
    texts->setSpacing(8);
    auto label = [this, texts](const char* name, const QString& text) {
        auto* l = new QLabel(text, this);
        l->setObjectName(QLatin1String(name));
        l->setWordWrap(true);
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        texts->addWidget(l);
    };
    label("lblTexto1",
          QStringLiteral("A busca por Diagnóstico do Exame é sensível a letras maiúsculas/minúsculas, ou "
                         "seja, faz diferença entre as mesmas. Uma busca por \"Astigmatismo\" trará "
                         "resultado diferente de \"astigmatismo\" devido a letra inicial maiúscula."));
    label("lblTexto2",
          QStringLiteral("A busca por diagnótico também pode ser feita por qualquer parte do mesmo, como "
                         "por exemplo, uma busca para \"astigmatismo irregular\" poderá ser digitado "
                         "somente \"irreg\"."));
    label("lblTexto3",
          QStringLiteral("O paciente ou exame encontrado pela busca é exibido no \"Painel de Navegação\" "
                         "após um duplo clique sobre o seu nome ou um clique no "
                         "botão \"Ver Paciente/Exame\"."));
    auto* ok = new QPushButton(QStringLiteral("&OK"), this);
    ok->setObjectName(QStringLiteral("btnOK"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* body = new QHBoxLayout;
    body->setSpacing(12);
    body->addWidget(icon, 0, Qt::AlignTop);
    body->addLayout(texts, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 10, 12, 10);
    layout->addLayout(body);
    layout->addWidget(ok, 0, Qt::AlignHCenter);
    // 540 pixels wide as designed; as tall as the texts need, at least the designed 168.
    setFixedSize(kWidth, std::max(kHeight, layout->heightForWidth(kWidth)));
}

TfrmDica* TfrmDica::instance(QWidget* parent) {
    if (!instance_) instance_ = new TfrmDica(parent);
    return instance_;
}

bool TfrmDica::exists() { return !instance_.isNull(); }

}  // namespace norvix

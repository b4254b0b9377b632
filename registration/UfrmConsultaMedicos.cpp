#include "UfrmConsultaMedicos.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "CadastroComum.h"
#include "RecordBuffer.h"
#include "platform/ui/MessageSeam.h"
#include "records/FbDatabase.h"
#include "records/UArquivosExameTexto.h"
#include "records/UfrmDataModule.h"
#include "shell/HelpViewer.h"

namespace norvix {

namespace {
constexpr int kMaxTexto = 50;  // the widest column searched (NOME)
// Every escaped character doubles, and a wildcard goes on each side.
#define PADRAO "CAST(:Texto AS VARCHAR(102)) ESCAPE '\\'"
static_assert(2 * kMaxTexto + 2 == 102, "the escaped text and its wildcards fit the pattern");
const char* const kConsultas[] = {
    "SELECT Codigo,Nome FROM Medicos WHERE Upper(nome) like " PADRAO " ORDER BY Nome ASC",
    "SELECT Codigo,Nome FROM Medicos WHERE Upper(rg) like " PADRAO " ORDER BY Nome ASC",
    "SELECT Codigo,Nome FROM Medicos WHERE Upper(cpf) like " PADRAO " ORDER BY Nome ASC",
    "SELECT Codigo,Nome FROM Medicos WHERE Upper(crm) like " PADRAO " ORDER BY Nome ASC",
};
#undef PADRAO
}  // namespace

TfrmConsultaMedicos::TfrmConsultaMedicos(norvix::TRecordBuffer& medicos, QWidget* parent)
    : QDialog(parent), medicos_(medicos) {
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("frmConsultaMedicos"));
    setWindowTitle(QStringLiteral("Assistente de Consulta"));
    norvix::help::setContext(this, 4);

    auto* rotulo = new QLabel(QStringLiteral("Pesquisa:"), this);
    edtPesquisa_ = new QLineEdit(this);
    edtPesquisa_->setObjectName(QStringLiteral("edtPesquisa"));
    edtPesquisa_->setMaxLength(kMaxTexto);
    rotulo->setBuddy(edtPesquisa_);

    auto* grupo = new QGroupBox(QStringLiteral("Consultar por"), this);
    grupo->setObjectName(QStringLiteral("rgConsultar"));
    auto* opcoes = new QHBoxLayout(grupo);
    rgConsultar_ = new QButtonGroup(this);
    const char* const nomes[] = {"rbtNome", "rbtRG", "rbtCPF", "rbtCRM"};
    const QString legendas[] = {QStringLiteral("Nome"), QStringLiteral("RG"), QStringLiteral("CPF"),
                                QStringLiteral("CRM")};
    for (int i = 0; i < 4; ++i) {
        auto* b = new QRadioButton(legendas[i], grupo);
        b->setObjectName(QLatin1String(nomes[i]));
        rgConsultar_->addButton(b, i);
        opcoes->addWidget(b);
    }
    rgConsultar_->button(Nome)->setChecked(true);

    btnConsultar_ = new QPushButton(QStringLiteral("Consultar Agora"), this);
    btnConsultar_->setObjectName(QStringLiteral("btnConsultar"));
    btnConsultar_->setDefault(true);
    btnConsultar_->setEnabled(false);
    auto* btnFechar = new QPushButton(QStringLiteral("Fechar"), this);
    btnFechar->setObjectName(QStringLiteral("btnFechar"));
    btnFechar->setAutoDefault(false);

    auto* rotuloResultado = new QLabel(QStringLiteral("Resultado:"), this);
    lswResultado_ = new QTreeWidget(this);
    lswResultado_->setObjectName(QStringLiteral("lswResultado"));
    lswResultado_->setHeaderLabels({QStringLiteral("Código"), QStringLiteral("Nome")});
    lswResultado_->setRootIsDecorated(false);
    lswResultado_->setColumnWidth(0, 70);
    rotuloResultado->setBuddy(lswResultado_);

    connect(edtPesquisa_, &QLineEdit::textChanged, this,
            [this](const QString& t) { btnConsultar_->setEnabled(!t.isEmpty()); });
    connect(btnConsultar_, &QPushButton::clicked, this, &TfrmConsultaMedicos::btnConsultarClick);
    connect(btnFechar, &QPushButton::clicked, this, &QDialog::reject);
    connect(lswResultado_, &QTreeWidget::itemDoubleClicked, this, &TfrmConsultaMedicos::lswResultadoDblClick);

    auto* linha = new QHBoxLayout;
    linha->addWidget(rotulo);
    linha->addWidget(edtPesquisa_, 1);
    auto* botoes = new QHBoxLayout;
    botoes->addWidget(grupo, 1);
    botoes->addWidget(btnConsultar_);
    botoes->addWidget(btnFechar);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(linha);
    layout->addLayout(botoes);
    layout->addWidget(rotuloResultado);
    layout->addWidget(lswResultado_, 1);
    resize(520, 360);
}

void TfrmConsultaMedicos::btnConsultarClick() {
    lswResultado_->clear();
    const int campo = rgConsultar_->checkedId();
    QString texto = norvix::MaiusculasComAcentos(edtPesquisa_->text());
    // A CPF is stored as its digits: the mask's punctuation typed with it finds nothing.
    if (campo == Cpf) texto.remove(QLatin1Char('.')).remove(QLatin1Char('-')).remove(QLatin1Char(' '));
    try {
        norvix::FbQuery& q =
            DMPrincipal().openQuery(DMPrincipal().IBOperation, QString::fromLatin1(kConsultas[campo < 0 ? 0 : campo]),
                                    {{QStringLiteral("Texto"), norvix::PadraoLikeLiteral(texto, true, true)}});
        for (; !q.eof(); q.next())
            new QTreeWidgetItem(lswResultado_, {QString::number(q.asInt(QStringLiteral("CODIGO"))),
                                                q.asString(QStringLiteral("NOME"))});
        q.close();
    } catch (const norvix::Error& e) {
        norvix::cadastro::mostraErro(e, this);
    }
}

void TfrmConsultaMedicos::lswResultadoDblClick() {
    QTreeWidgetItem* item = lswResultado_->currentItem();
    if (!item) return;
    const int codigo = item->text(0).toInt();
    try {
        // A doctor registered elsewhere after the table was opened is found once it is read
        // again.
        if (!medicos_.locate(QStringLiteral("CODIGO"), codigo)) {
            const int antes = medicos_.storedInt(QStringLiteral("CODIGO"));
            medicos_.table().close();
            medicos_.open();
            if (!medicos_.locate(QStringLiteral("CODIGO"), codigo)) {
                medicos_.locate(QStringLiteral("CODIGO"), antes);  // the window stays where it was
                norvix::showMessage(QStringLiteral("Este médico não está mais cadastrado: foi excluído em outra "
                                                   "estação de trabalho."),
                                    QStringLiteral("Informação"), norvix::MsgIcon::Information,
                                    norvix::MsgButtons::Ok, this);
                delete item;
                return;
            }
        }
    } catch (const norvix::Error& e) {
        norvix::cadastro::mostraErro(e, this);
        return;
    }
    accept();
}

}  // namespace norvix

#include "registration/PainelVinculosRis.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "CadastroComum.h"
#include "platform/Errors.h"
#include "platform/ui/MessageSeam.h"
#include "records/UDPacientesRis.h"

namespace norvix {

TPainelVinculosRis::TPainelVinculosRis(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("pnlVinculosRis"));
    auto* explicacao = new QLabel(QStringLiteral("IDs do paciente no RIS da clínica. Os exames são enviados ao PACS "
                                                 "com o primeiro; os demais vão junto como outros IDs."),
                                  this);
    explicacao->setWordWrap(true);
    tabela_ = new QTableWidget(0, 3, this);
    tabela_->setObjectName(QStringLiteral("tblVinculosRis"));
    tabela_->setHorizontalHeaderLabels(
        {QStringLiteral("ID no RIS"), QStringLiteral("Emissor"), QStringLiteral("Ligado em")});
    tabela_->setSelectionBehavior(QAbstractItemView::SelectRows);
    tabela_->setSelectionMode(QAbstractItemView::SingleSelection);
    tabela_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tabela_->verticalHeader()->hide();
    tabela_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    desvincular_ = new QPushButton(QStringLiteral("&Desfazer ligação"), this);
    desvincular_->setObjectName(QStringLiteral("btnDesvincular"));
    desvincular_->setAutoDefault(false);
    connect(desvincular_, &QPushButton::clicked, this, &TPainelVinculosRis::desvincula);
    auto* botoes = new QHBoxLayout;
    botoes->addStretch();
    botoes->addWidget(desvincular_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(explicacao);
    layout->addWidget(tabela_, 1);
    layout->addLayout(botoes);
}

int TPainelVinculosRis::linhas() const { return tabela_->rowCount(); }

void TPainelVinculosRis::carrega(int paciente) {
    paciente_ = paciente;
    tabela_->setRowCount(0);
    QList<VinculoRis> vinculos;
    try {
        vinculos = DPacientesRis().Vinculos(paciente);
    } catch (const Error& e) {
        cadastro::mostraErro(e, this);
    }
    for (const VinculoRis& v : std::as_const(vinculos)) {
        const int linha = tabela_->rowCount();
        tabela_->insertRow(linha);
        const QStringList colunas{v.idRis, v.emissor,
                                  v.vinculadoEm.isValid() ? v.vinculadoEm.toString(QStringLiteral("dd/MM/yyyy HH:mm"))
                                                          : QStringLiteral("(antes do registro da data)")};
        for (int c = 0; c < colunas.size(); ++c) {
            auto* item = new QTableWidgetItem(colunas[c]);
            item->setData(Qt::UserRole, v.idRis);
            tabela_->setItem(linha, c, item);
        }
    }
    if (tabela_->rowCount() > 0) tabela_->selectRow(0);
    desvincular_->setEnabled(tabela_->rowCount() > 0);
}

void TPainelVinculosRis::desvincula() {
    const int linha = tabela_->currentRow();
    if (linha < 0 || !tabela_->item(linha, 0)) return;
    const QString id = tabela_->item(linha, 0)->data(Qt::UserRole).toString();
    if (showMessage(QStringLiteral("Desfazer a ligação deste paciente ao ID %1 do RIS? Itens da lista de trabalho "
                                   "com esse ID voltarão a ser conferidos antes de se ligarem a um paciente.")
                        .arg(id),
                    QStringLiteral("Atenção"), MsgIcon::Question, MsgButtons::YesNo, this,
                    MsgAnswer::No) != MsgAnswer::Yes)
        return;
    try {
        // What was queued for the PACS under the ID and is taken out, said to the operator.
        if (const QStringList avisos = DPacientesRis().Desvincula(paciente_, id); !avisos.isEmpty())
            showMessage(avisos.join(u'\n'), QStringLiteral("Atenção"), MsgIcon::Warning, MsgButtons::Ok, this);
    } catch (const Error& e) {
        cadastro::mostraErro(e, this);
    }
    carrega(paciente_);
}

}  // namespace norvix

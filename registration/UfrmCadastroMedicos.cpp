#include "UfrmCadastroMedicos.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include "CadastroComum.h"
#include "FichaCadastro.h"
#include "RecordBuffer.h"
#include "UfrmConsultaMedicos.h"
#include "config/SharedRecords.h"
#include "platform/ui/MessageSeam.h"
#include "records/UDExames.h"
#include "records/UDMedicos.h"
#include "records/UfrmDataModule.h"
#include "shell/HelpViewer.h"

namespace norvix {

QPointer<TfrmCadastroMedicos> TfrmCadastroMedicos::instance_;

namespace {
constexpr int kHelpContext = 4;

QPushButton* botao(QWidget* parent, const char* name, const QString& text) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(name));
    b->setAutoDefault(false);  // Enter in a field saves nothing by itself
    return b;
}

QToolButton* botaoNavegador(QWidget* parent, const char* name, QStyle::StandardPixmap icon, const QString& hint) {
    auto* b = new QToolButton(parent);
    b->setObjectName(QLatin1String(name));
    b->setIcon(QApplication::style()->standardIcon(icon));
    b->setToolTip(hint);
    b->setAutoRaise(true);
    return b;
}
}  // namespace

TfrmCadastroMedicos::TfrmCadastroMedicos(QWidget* parent) : QDialog(parent) {
    instance_ = this;
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("frmCadastroMedicos"));
    setWindowTitle(QStringLiteral("Cadastro de Médicos"));
    norvix::help::setContext(this, kHelpContext);

    buffer_ = new TRecordBuffer(DMPrincipal().IBMedicos, QStringLiteral("DSMedicos"), this);
    ficha_ = new TFichaCadastro(TFichaCadastro::Tipo::Medico, *buffer_, this);

    sbtAdd_ = botao(this, "sbtAdd", QStringLiteral("Adicionar"));
    sbtAlterar_ = botao(this, "sbtAlterar", QStringLiteral("Alterar"));
    sbtAtualizar_ = botao(this, "sbtAtualizar", QStringLiteral("Atualizar"));
    sbtDel_ = botao(this, "sbtDel", QStringLiteral("Excluir"));
    sbtFind_ = botao(this, "sbtFind", QStringLiteral("Localizar"));
    sbtFechar_ = botao(this, "sbtFechar", QStringLiteral("Fechar"));
    connect(sbtAdd_, &QPushButton::clicked, this, &TfrmCadastroMedicos::sbtAddClick);
    connect(sbtAlterar_, &QPushButton::clicked, this, &TfrmCadastroMedicos::sbtAlterarClick);
    connect(sbtAtualizar_, &QPushButton::clicked, this, &TfrmCadastroMedicos::sbtAtualizarClick);
    connect(sbtDel_, &QPushButton::clicked, this, &TfrmCadastroMedicos::sbtDelClick);
    connect(sbtFind_, &QPushButton::clicked, this, &TfrmCadastroMedicos::sbtFindClick);
    connect(sbtFechar_, &QPushButton::clicked, this, &QWidget::close);

    nvgMedicos_ = new QWidget(this);
    nvgMedicos_->setObjectName(QStringLiteral("nvgMedicos"));
    nvgPrimeiro_ = botaoNavegador(nvgMedicos_, "nvgPrimeiro", QStyle::SP_MediaSkipBackward, QStringLiteral("Primeiro Registro"));
    nvgAnterior_ = botaoNavegador(nvgMedicos_, "nvgAnterior", QStyle::SP_MediaSeekBackward, QStringLiteral("Registro Anterior"));
    nvgProximo_ = botaoNavegador(nvgMedicos_, "nvgProximo", QStyle::SP_MediaSeekForward, QStringLiteral("Próximo Registro"));
    nvgUltimo_ = botaoNavegador(nvgMedicos_, "nvgUltimo", QStyle::SP_MediaSkipForward, QStringLiteral("Último Registro"));
    auto* navegador = new QHBoxLayout(nvgMedicos_);
    navegador->setContentsMargins(0, 0, 0, 0);
    for (QToolButton* b : {nvgPrimeiro_, nvgAnterior_, nvgProximo_, nvgUltimo_}) navegador->addWidget(b);
    connect(nvgPrimeiro_, &QToolButton::clicked, this, [this] { buffer_->first(); atualizaNavegador(); });
    connect(nvgAnterior_, &QToolButton::clicked, this, [this] { buffer_->prior(); atualizaNavegador(); });
    connect(nvgProximo_, &QToolButton::clicked, this, [this] { buffer_->next(); atualizaNavegador(); });
    connect(nvgUltimo_, &QToolButton::clicked, this, [this] { buffer_->last(); atualizaNavegador(); });

    auto* lateral = new QVBoxLayout;
    for (QPushButton* b : {sbtAdd_, sbtAlterar_, sbtAtualizar_, sbtDel_, sbtFind_}) lateral->addWidget(b);
    lateral->addStretch();
    lateral->addWidget(sbtFechar_);
    auto* topo = new QHBoxLayout;
    topo->addWidget(ficha_, 1);
    topo->addLayout(lateral);
    auto* baixo = new QHBoxLayout;
    baixo->addWidget(nvgMedicos_);
    baixo->addStretch();
    baixo->addWidget(norvix::cadastro::botaoAjuda(this, kHelpContext));
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(topo);
    layout->addLayout(baixo);
    DesabilitaEdicao();
    setFixedSize(sizeHint().expandedTo(QSize(680, 0)));
}

TfrmCadastroMedicos::~TfrmCadastroMedicos() = default;

TfrmCadastroMedicos* TfrmCadastroMedicos::instance() { return instance_; }

void TfrmCadastroMedicos::Executa(QWidget* parent) {
    TfrmCadastroMedicos* w = instance_ ? instance_.data() : new TfrmCadastroMedicos(parent);
    w->exec();
}

// ---- showing and the states -----------------------------------------------------------------

void TfrmCadastroMedicos::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!shown_) {
        shown_ = true;
        FormShow();
    }
}

void TfrmCadastroMedicos::FormShow() {
    DMedicos().AtivaTabela(true);
    buffer_->refresh();
    estadoNavegacao();
    const QString ativo = norvix::recordText(norvix::infos().MedicoAtivo);
    if (!ativo.isEmpty()) buffer_->locateIgnoringCase(QStringLiteral("NOME"), ativo);
    atualizaNavegador();
}

void TfrmCadastroMedicos::estadoNavegacao(bool recount) {
    modo_.clear();
    nvgMedicos_->setEnabled(true);
    sbtAtualizar_->setEnabled(false);
    sbtAdd_->setEnabled(true);
    sbtDel_->setText(QStringLiteral("Excluir"));
    const bool algum = !recount || DMedicos().CountMedicos() > 0;
    for (QPushButton* b : {sbtAlterar_, sbtDel_, sbtFind_}) b->setEnabled(algum);
    ficha_->setCodigo(algum ? QStringLiteral("Código:") : QStringLiteral("Nenhum médico cadastrado!!!"), algum);
    atualizaNavegador();
}

void TfrmCadastroMedicos::estadoEdicao(const QString& modo) {
    modo_ = modo;
    for (QWidget* w : {static_cast<QWidget*>(sbtFind_), nvgMedicos_, static_cast<QWidget*>(sbtAdd_),
                       static_cast<QWidget*>(sbtAlterar_)})
        w->setEnabled(false);
    sbtDel_->setText(QStringLiteral("Cancelar"));
    sbtDel_->setEnabled(true);
    sbtAtualizar_->setEnabled(true);
    HabilitaEdicao();
}

void TfrmCadastroMedicos::atualizaNavegador() {
    const bool linha = !buffer_->editing() && buffer_->hasRow();
    const bool primeiro = buffer_->atFirst();
    const bool ultimo = buffer_->atLast();
    nvgPrimeiro_->setEnabled(linha && !primeiro);
    nvgAnterior_->setEnabled(linha && !primeiro);
    nvgProximo_->setEnabled(linha && !ultimo);
    nvgUltimo_->setEnabled(linha && !ultimo);
}

void TfrmCadastroMedicos::HabilitaEdicao() { buffer_->setReadOnly(false); }

void TfrmCadastroMedicos::DesabilitaEdicao() {
    buffer_->setReadOnly(true);
    buffer_->cancel();
}

void TfrmCadastroMedicos::LimparCampos() {
    buffer_->append();
    buffer_->setValue(QStringLiteral("SEXO"), QStringLiteral("M"));
    buffer_->setValue(QStringLiteral("ESTADOCIVIL"), QStringLiteral("S"));
    ficha_->setCurrentIndex(0);
    ficha_->edtNome->setFocus();
}

// ---- the buttons ----------------------------------------------------------------------------

void TfrmCadastroMedicos::sbtAddClick() {
    estadoEdicao(QStringLiteral("Add"));
    ficha_->setCodigo(QStringLiteral("Adcionando um novo médico"), false);
    LimparCampos();
}

void TfrmCadastroMedicos::sbtAlterarClick() {
    if (!buffer_->hasRow()) return;
    estadoEdicao(QStringLiteral("Atualiza"));
    buffer_->edit();
}

void TfrmCadastroMedicos::sbtAtualizarClick() {
    if (!buffer_->editing()) return;
    const QString nome = v("NOME");
    // A name of blanks only is refused like an empty one, also when changing a doctor: the
    // doctor filter of the browser would list a blank.
    if (norvix::cadastro::nomeVazio(nome)) {
        showMessage(QStringLiteral("Campo NOME é obrigatório!!!"), QStringLiteral("Informação"), MsgIcon::Information,
                    MsgButtons::Ok, this);
        ficha_->setCurrentIndex(0);
        ficha_->edtNome->setFocus();
        return;
    }
    if (!norvix::cadastro::confirmaCpf(*buffer_, *ficha_, this) ||
        !norvix::cadastro::confirmaDataNascimento(*buffer_, *ficha_, this))
        return;
    const bool gravou = modo_ == QLatin1String("Add") ? insereMedico(nome) : salvaAlteracao(nome);
    if (!gravou) return;
    estadoNavegacao(false);
    DesabilitaEdicao();
    atualizaNavegador();
    // "Atualizar" is disabled now; the focus must not fall to "Excluir", where a Space or an
    // Enter would ask to delete the doctor just saved.
    sbtAlterar_->setFocus();
}

QString TfrmCadastroMedicos::v(const char* coluna) const { return buffer_->value(QLatin1String(coluna)); }

bool TfrmCadastroMedicos::insereMedico(const QString& nome) {
    int codigo = 0;
    try {
        norvix::TDMPrincipal::Batch lote(DMPrincipal());
        DMedicos().InsertMedicos(nome, v("RG"), v("CPF"), v("CRM"), v("SEXO"), v("ESTADOCIVIL"), v("CONJUGE"),
                                 v("DATANASCIMENTO"), v("NATURALIDADE"), v("NATURALIDADEESTADO"), v("PAI"),
                                 v("MAE"), v("RUA"), v("COMPLEMENTO"), v("BAIRRO"), v("CIDADE"), v("ESTADO"),
                                 v("CEP"), v("FONE"), v("CELULAR"));
        // The new row by its code: another doctor of the same name is not this one.
        codigo = DMedicos().SelectCodigoInseridoByNome(nome);
        lote.commit();
    } catch (const norvix::Error& e) {
        norvix::cadastro::mostraErro(e, this);
        return false;
    }
    if (!buffer_->locate(QStringLiteral("CODIGO"), codigo)) buffer_->refresh();
    ficha_->setCurrentIndex(0);
    ficha_->setCodigo(QStringLiteral("Código:"), true);
    return true;
}

bool TfrmCadastroMedicos::salvaAlteracao(const QString& nome) {
    const int codigo = buffer_->storedInt(QStringLiteral("CODIGO"));
    bool existe = true;
    try {
        norvix::TDMPrincipal::Batch lote(DMPrincipal());
        DMedicos().UpdateMedicosByCodigo(codigo, nome, v("RG"), v("CPF"), v("CRM"), v("SEXO"), v("ESTADOCIVIL"),
                                         v("CONJUGE"), v("DATANASCIMENTO"), v("NATURALIDADE"),
                                         v("NATURALIDADEESTADO"), v("PAI"), v("MAE"), v("RUA"), v("COMPLEMENTO"),
                                         v("BAIRRO"), v("CIDADE"), v("ESTADO"), v("CEP"), v("FONE"), v("CELULAR"));
        // The procedure changes no row when another workstation deleted the doctor meanwhile;
        // that must not pass for a save.
        existe = DMedicos().ExisteCodigo(codigo);
        if (existe) lote.commit();
    } catch (const norvix::Error& e) {
        norvix::cadastro::mostraErro(e, this);
        return false;
    }
    if (!existe) {
        if (!norvix::cadastro::perguntaCadastrarDeNovo(QStringLiteral("o médico"), this)) return false;
        modo_ = QStringLiteral("Add");
        return insereMedico(nome);
    }
    buffer_->locate(QStringLiteral("CODIGO"), codigo);
    ficha_->setCurrentIndex(0);
    ficha_->edtNome->setFocus();
    return true;
}

void TfrmCadastroMedicos::sbtDelClick() {
    if (buffer_->editing()) {  // "Cancelar"
        estadoNavegacao();
        DesabilitaEdicao();
        atualizaNavegador();
        return;
    }
    excluir();
}

void TfrmCadastroMedicos::excluir() {
    if (!buffer_->hasRow()) return;
    const int codigo = buffer_->storedInt(QStringLiteral("CODIGO"));
    const QString nome = buffer_->storedValue(QStringLiteral("NOME"));
    auto recusa = [&] {
        showMessage(QStringLiteral("Não é possivel excluir o Dr(a) ") + nome +
                        QStringLiteral(".\nPara excluir é preciso excluir todos os pacientes vinculados."),
                    QStringLiteral("Infomração"), MsgIcon::Question, MsgButtons::Ok, this);
    };
    try {
        if (norvix::DExames().CountExamesByMedico(codigo) > 0) {
            recusa();
            return;
        }
        if (showMessage(QStringLiteral("Deseja excluir o médico ") + nome + QStringLiteral(" ?"),
                        QStringLiteral("Informação"), MsgIcon::Error, MsgButtons::YesNo, this,
                        MsgAnswer::No) == MsgAnswer::Yes) {
            try {
                DMedicos().DeleteMedicosByCodigo(codigo);
            } catch (const norvix::DatabaseError&) {
                // An exam stored by another workstation since the count: the table's key
                // refuses the deletion, and the operator gets the reason.
                if (norvix::DExames().CountExamesByMedico(codigo) == 0) throw;
                recusa();
            }
        }
        DesabilitaEdicao();
        buffer_->table().close();
        buffer_->open();
        estadoNavegacao();
    } catch (const norvix::Error& e) {
        norvix::cadastro::mostraErro(e, this);
    }
}

void TfrmCadastroMedicos::sbtFindClick() {
    auto* consulta = new TfrmConsultaMedicos(*buffer_, this);
    consulta->exec();
    atualizaNavegador();
}

// ---- closing --------------------------------------------------------------------------------

void TfrmCadastroMedicos::reject() { close(); }

void TfrmCadastroMedicos::closeEvent(QCloseEvent* event) {
    if (buffer_->editing()) {
        if (showMessage(QStringLiteral("Deseja salvar as alterações?"), QStringLiteral("Informação"),
                        MsgIcon::Question, MsgButtons::YesNo, this) == MsgAnswer::Yes) {
            sbtAtualizarClick();
            // A save that did not happen (no name, an invalid CPF kept back, a database error)
            // keeps the window open with what was typed.
            if (buffer_->editing()) {
                event->ignore();
                return;
            }
        }
        DesabilitaEdicao();
    }
    DMedicos().AtivaTabela(false);
    event->accept();
}

}  // namespace norvix

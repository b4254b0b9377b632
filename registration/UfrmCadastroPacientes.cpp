#include "UfrmCadastroPacientes.h"

#include <QDate>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "CadastroComum.h"
#include "ConferenciaRis.h"
#include "FichaCadastro.h"
#include "PainelVinculosRis.h"
#include "RecordBuffer.h"
#include "UfrmComparaPacientes.h"
#include "platform/ui/MessageSeam.h"
#include "records/UDPacientes.h"
#include "records/UfrmDataModule.h"
#include "shell/HelpViewer.h"

namespace norvix {

QPointer<TfrmCadastroPacientes> TfrmCadastroPacientes::instance_;

namespace {
QString g_ultimoNome;
int g_ultimoCodigo = 0;
constexpr int kHelpContext = 6;
}  // namespace

TfrmCadastroPacientes::TfrmCadastroPacientes(QWidget* parent) : QDialog(parent) {
    instance_ = this;
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("frmCadastroPacientes"));
    setWindowTitle(QStringLiteral("Cadastro de Pacientes"));
    norvix::help::setContext(this, kHelpContext);

    buffer_ = new TRecordBuffer(DMPrincipal().IBPacientes, QStringLiteral("DSPacientes"), this);
    ficha_ = new TFichaCadastro(TFichaCadastro::Tipo::Paciente, *buffer_, this);
    sbtOk_ = new QPushButton(QStringLiteral("OK"), this);
    sbtOk_->setObjectName(QStringLiteral("sbtOk"));
    sbtCancelar_ = new QPushButton(QStringLiteral("Cancelar"), this);
    sbtCancelar_->setObjectName(QStringLiteral("sbtCancelar"));
    sbtAjuda_ = norvix::cadastro::botaoAjuda(this, kHelpContext);
    // Enter in a field must not save half a record: the buttons act only when pressed.
    for (QPushButton* b : {sbtOk_, sbtCancelar_}) b->setAutoDefault(false);
    connect(sbtOk_, &QPushButton::clicked, this, &TfrmCadastroPacientes::sbtOkClick);
    connect(sbtCancelar_, &QPushButton::clicked, this, &TfrmCadastroPacientes::sbtCancelarClick);

    auto* botoes = new QHBoxLayout;
    botoes->addWidget(sbtAjuda_);
    botoes->addStretch();
    botoes->addWidget(sbtOk_);
    botoes->addWidget(sbtCancelar_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(ficha_);
    layout->addLayout(botoes);
    DesabilitaEdicao();
    setFixedSize(sizeHint().expandedTo(QSize(600, 0)));
}

TfrmCadastroPacientes::~TfrmCadastroPacientes() = default;

TfrmCadastroPacientes* TfrmCadastroPacientes::instance() { return instance_; }
QString TfrmCadastroPacientes::ultimoNomeCadastrado() { return g_ultimoNome; }
int TfrmCadastroPacientes::ultimoCodigoCadastrado() { return g_ultimoCodigo; }

int TfrmCadastroPacientes::Inclui(const QString& nome, QWidget* parent,
                                  const QList<std::pair<QString, QString>>& preenchidos) {
    norvix::FbTable& tabela = DMPrincipal().IBPacientes;
    tabela.open();
    auto* w = new TfrmCadastroPacientes(parent);
    w->setModo(QStringLiteral("Add"));
    w->HabilitaEdicao();
    w->ficha().setCodigo(QStringLiteral("Adcionando um novo paciente"), false);
    w->buffer().append();
    w->buffer().setValue(QStringLiteral("SEXO"), QStringLiteral("M"));
    w->buffer().setValue(QStringLiteral("ESTADOCIVIL"), QStringLiteral("S"));
    w->buffer().setValue(QStringLiteral("NOME"), nome);
    for (const auto& [coluna, valor] : preenchidos) w->buffer().setValue(coluna, valor);
    w->nomeInicial_ = nome;
    int codigo = 0;
    connect(w, &QDialog::accepted, w, [w, &codigo] { codigo = w->codigoGravado_; });
    w->exec();
    tabela.close();
    return codigo;
}

int TfrmCadastroPacientes::Altera(int codigo, QWidget* parent) {
    norvix::FbTable& tabela = DMPrincipal().IBPacientes;
    tabela.close();
    tabela.setFilter(QStringLiteral("Codigo=") + QString::number(codigo));
    tabela.open();
    auto restaura = [&tabela] {
        tabela.close();
        tabela.setFilter(QString());
    };
    if (tabela.recNo() < 0) {
        restaura();
        norvix::showMessage(QStringLiteral("O paciente selecionado não existe mais; a lista será atualizada."),
                            QStringLiteral("Informação"), norvix::MsgIcon::Information, norvix::MsgButtons::Ok,
                            parent);
        return -1;
    }
    auto* w = new TfrmCadastroPacientes(parent);
    w->setModo(QStringLiteral("Atualiza"));
    w->HabilitaEdicao();
    w->buffer().refresh();
    w->buffer().edit();
    w->vinculos_ = new TPainelVinculosRis(w->ficha_);
    w->ficha_->addTab(w->vinculos_, QStringLiteral("Ligações com o RIS"));
    w->vinculos_->carrega(codigo);
    int gravado = 0;
    connect(w, &QDialog::accepted, w, [w, &gravado] { gravado = w->codigoGravado_; });
    w->exec();
    restaura();
    return gravado;
}

void TfrmCadastroPacientes::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    ficha_->setCurrentIndex(0);
    QWidget* foco = ficha_->edtNome->text().isEmpty() ? static_cast<QWidget*>(ficha_->edtNome) : ficha_->edtRG;
    foco->setFocus();
}

void TfrmCadastroPacientes::HabilitaEdicao() { buffer_->setReadOnly(false); }
void TfrmCadastroPacientes::DesabilitaEdicao() { buffer_->setReadOnly(true); }

void TfrmCadastroPacientes::sbtOkClick() {
    namespace cadastro = norvix::cadastro;
    if (modo_ == QLatin1String("Add")) {
        const QString nome = buffer_->value(QStringLiteral("NOME"));
        if (cadastro::nomeVazio(nome)) {
            norvix::showMessage(QStringLiteral("Digite o nome do paciente ..."), QStringLiteral("Atenção"),
                                norvix::MsgIcon::Information, norvix::MsgButtons::Ok, this);
            ficha_->setCurrentIndex(0);
            ficha_->edtNome->setFocus();
            return;
        }
        if (!confirmaDocumentos(0) || !confirmaHomonimos(nome)) return;
        const int codigo = inserePaciente(nome);
        if (codigo == 0) return;
        codigoGravado_ = codigo;
        ficha_->setCodigo(QStringLiteral("Código:"), true);
        norvix::FbQuery& pacientes = DMPrincipal().IBQueryPacientes;
        pacientes.close();
        pacientes.open();
    } else {
        if (!confirmaDocumentos(buffer_->storedInt(QStringLiteral("CODIGO")))) return;
        if (!salvaAlteracao()) return;
    }
    terminaGravacao();
}

bool TfrmCadastroPacientes::confirmaDocumentos(int codigo) {
    namespace cadastro = norvix::cadastro;
    try {
        return cadastro::confirmaCpf(*buffer_, *ficha_, this) &&
               cadastro::confirmaCpfUnico(*buffer_, *ficha_, codigo, this) &&
               cadastro::confirmaDataNascimento(*buffer_, *ficha_, this);
    } catch (const norvix::Error& e) {
        cadastro::mostraErro(e, this);
        return false;
    }
}

bool TfrmCadastroPacientes::confirmaHomonimos(const QString& nome) {
    QList<PessoaCadastrada> mesmos;
    try {
        mesmos = homonimos(nome);
    } catch (const norvix::Error& e) {
        norvix::cadastro::mostraErro(e, this);
        return false;
    }
    if (mesmos.isEmpty()) return true;
    QStringList linhas;
    for (const PessoaCadastrada& p : std::as_const(mesmos)) linhas << QStringLiteral("- ") + descrevePaciente(p);
    const QString texto = (mesmos.size() == 1 ? QStringLiteral("Já há um paciente cadastrado com este nome:\n")
                                              : QStringLiteral("Já há %1 pacientes cadastrados com este nome:\n")
                                                    .arg(mesmos.size())) +
                          linhas.join(QLatin1Char('\n')) +
                          QStringLiteral("\n\nCadastrar mesmo assim um novo paciente com este nome?");
    if (norvix::showMessage(texto, QStringLiteral("Atenção"), norvix::MsgIcon::Question, norvix::MsgButtons::YesNo,
                            this, norvix::MsgAnswer::No) == norvix::MsgAnswer::Yes)
        return true;
    ficha_->setCurrentIndex(0);
    ficha_->edtNome->setFocus();
    return false;
}

int TfrmCadastroPacientes::inserePaciente(const QString& nome) {
    const TRecordBuffer& b = *buffer_;
    auto v = [&b](const char* coluna) { return b.value(QLatin1String(coluna)); };
    try {
        norvix::TDMPrincipal::Batch lote(DMPrincipal());
        DPacientes().InsertPacientes(nome, v("RG"), v("CPF"), v("SEXO"), v("ESTADOCIVIL"), v("CONJUGE"),
                                     v("DATANASCIMENTO"), v("NATURALIDADE"), v("NATURALIDADEESTADO"), v("PAI"),
                                     v("MAE"), v("RUA"), v("COMPLEMENTO"), v("BAIRRO"), v("CIDADE"), v("ESTADO"),
                                     v("CEP"), v("FONE"), v("CELULAR"), v("CONVENIO"), v("PROFISSAO"),
                                     v("TIPOSANG"), QDate::currentDate(), 0);
        // By its code: a patient of the same name registered elsewhere at the same moment is
        // another row.
        const int codigo = DPacientes().SelectCodigoInseridoByNome(nome);
        lote.commit();
        g_ultimoNome = nome;
        g_ultimoCodigo = codigo;
        return codigo;
    } catch (const norvix::Error& e) {
        norvix::cadastro::mostraErro(e, this);
        return 0;
    }
}

bool TfrmCadastroPacientes::salvaAlteracao() {
    const TRecordBuffer& b = *buffer_;
    auto v = [&b](const char* coluna) { return b.value(QLatin1String(coluna)); };
    QString nome = v("NOME");
    if (norvix::cadastro::nomeVazio(nome)) nome = b.storedValue(QStringLiteral("NOME"));
    const int codigo = b.storedInt(QStringLiteral("CODIGO"));
    try {
        norvix::TDMPrincipal::Batch lote(DMPrincipal());
        DPacientes().UpdatePacientesByCodigo(codigo, nome, v("RG"), v("CPF"), v("SEXO"), v("ESTADOCIVIL"),
                                             v("CONJUGE"), v("DATANASCIMENTO"), v("NATURALIDADE"),
                                             v("NATURALIDADEESTADO"), v("PAI"), v("MAE"), v("RUA"),
                                             v("COMPLEMENTO"), v("BAIRRO"), v("CIDADE"), v("ESTADO"), v("CEP"),
                                             v("FONE"), v("CELULAR"), v("CONVENIO"), v("PROFISSAO"), v("TIPOSANG"));
        // The procedure changes no row when another workstation deleted the patient: that
        // must not pass for a save.
        if (DPacientes().ExisteCodigo(codigo)) {
            lote.commit();
            codigoGravado_ = codigo;
            return true;
        }
    } catch (const norvix::Error& e) {
        norvix::cadastro::mostraErro(e, this);
        return false;
    }
    if (!norvix::cadastro::perguntaCadastrarDeNovo(QStringLiteral("o paciente"), this)) return false;
    codigoGravado_ = inserePaciente(nome);
    return codigoGravado_ != 0;
}

void TfrmCadastroPacientes::terminaGravacao() {
    norvix::FbTable& tabela = DMPrincipal().IBPacientes;
    tabela.close();
    tabela.open();
    buffer_->refresh();
    DesabilitaEdicao();
    QDialog::accept();
}

void TfrmCadastroPacientes::sbtCancelarClick() {
    buffer_->cancel();
    QDialog::reject();
}

bool TfrmCadastroPacientes::alterado() const {
    if (!buffer_->editing()) return false;
    for (const QString& coluna : buffer_->editedColumns())
        if (buffer_->value(coluna) != buffer_->storedValue(coluna)) {
            // A new patient arrives with the name typed in the picker and the two default
            // choices: only what the operator typed here counts.
            if (modo_ == QLatin1String("Add") && coluna == QLatin1String("NOME") && buffer_->value(coluna) == nomeInicial_)
                continue;
            if (modo_ == QLatin1String("Add") && (coluna == QLatin1String("SEXO") || coluna == QLatin1String("ESTADOCIVIL")) &&
                buffer_->value(coluna) == (coluna == QLatin1String("SEXO") ? QStringLiteral("M") : QStringLiteral("S")))
                continue;
            return true;
        }
    return false;
}

void TfrmCadastroPacientes::reject() {
    // Esc and the title bar's button (QDialog's closeEvent calls this): typed data is not
    // dropped without asking, as in the doctor window.
    if (alterado()) {
        const norvix::MsgAnswer resposta =
            norvix::showMessage(QStringLiteral("Deseja salvar as alterações?"), QStringLiteral("Informação"),
                                norvix::MsgIcon::Question, norvix::MsgButtons::YesNoCancel, this);
        if (resposta == norvix::MsgAnswer::Cancel) return;
        if (resposta == norvix::MsgAnswer::Yes) {
            sbtOkClick();  // the window closes when the save went through, and stays when not
            return;
        }
    }
    sbtCancelarClick();
}

}  // namespace norvix

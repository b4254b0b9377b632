#include "UfrmNovoPaciente.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QVBoxLayout>

#include "CadastroComum.h"
#include "UfrmCadastroPacientes.h"
#include "UfrmListaTrabalho.h"
#include "records/ExameNovo.h"
#include "config/SharedRecords.h"
#include "config/UBIniSettings.h"
#include "dicom/ExamExport.h"
#include "exams/UfrmExames.h"
#include "platform/Errors.h"
#include "platform/ui/MessageSeam.h"
#include "records/CursorModel.h"
#include "records/UArquivosExameTexto.h"
#include "records/UDPacientes.h"
#include "records/UDPacientesRis.h"
#include "records/UfrmDataModule.h"

namespace norvix {

QPointer<TfrmNovoPaciente> TfrmNovoPaciente::instance_;

namespace {

const QString kTodosPacientes =
    QStringLiteral("SELECT Codigo,Nome,DataNascimento,Rg,TotalExames FROM Pacientes ORDER BY Nome ASC");
// The typed text is a bound prefix: STARTING WITH takes "%", "_" and apostrophes literally, and
// the index on UPPER(NOME) finds the names that begin with it wherever they lie.
const QString kPrefixo = QStringLiteral(
    "SELECT Codigo,Nome,DataNascimento,Rg,TotalExames FROM Pacientes WHERE Upper(nome) STARTING WITH "
    "CAST(:Texto AS VARCHAR(50)) ORDER BY Nome ASC");

// The list's columns; RG is right-aligned like the numbers. The birth date and the code tell
// namesakes apart.
class ListaPacientes : public norvix::CursorModel {
public:
    using CursorModel::CursorModel;
    QVariant data(const QModelIndex& index, int role) const override {
        if (role == Qt::TextAlignmentRole && index.column() == 3) return int(Qt::AlignRight | Qt::AlignVCenter);
        return CursorModel::data(index, role);
    }
};

}  // namespace

TfrmNovoPaciente::TfrmNovoPaciente(TfrmExames& browser, QWidget* parent) : QDialog(parent), browser_(browser) {
    instance_ = this;
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("frmNovoPaciente"));
    setWindowTitle(QStringLiteral("Cadastro de Paciente"));

    auto* rotuloNome = new QLabel(QStringLiteral("Nome do Paciente:"), this);
    edtNomePac_ = new QLineEdit(this);
    edtNomePac_->setObjectName(QStringLiteral("edtNomePac"));
    edtNomePac_->setMaxLength(50);  // the list's NOME column tells, once it is read
    rotuloNome->setBuddy(edtNomePac_);
    Button1_ = new QPushButton(QStringLiteral("Continuar"), this);
    Button1_->setObjectName(QStringLiteral("Button1"));
    Button1_->setDefault(true);
    btnListaTrabalho_ = new QPushButton(QStringLiteral("Lista de &trabalho"), this);
    btnListaTrabalho_->setObjectName(QStringLiteral("btnListaTrabalho"));
    btnListaTrabalho_->setToolTip(QStringLiteral("Pacientes agendados para hoje nesta estação pelo RIS da clínica."));
    btnListaTrabalho_->setVisible(browser.settings() && worklistPeer(*browser.settings()));
    auto* rotuloLista = new QLabel(QStringLiteral("Pacientes já cadastrados"), this);
    DBGrid1_ = new QTableView(this);
    DBGrid1_->setObjectName(QStringLiteral("DBGrid1"));
    DSQueryBuscaPac_ = new ListaPacientes(&DMPrincipal().IBQueryBuscaPac, this);
    DSQueryBuscaPac_->setObjectName(QStringLiteral("DSQueryBuscaPac"));
    DSQueryBuscaPac_->setColumns(
        {QStringLiteral("CODIGO"), QStringLiteral("NOME"), QStringLiteral("DATANASCIMENTO"), QStringLiteral("RG"),
         QStringLiteral("TOTALEXAMES")},
        {QStringLiteral("ID"), QStringLiteral("NOME"), QStringLiteral("NASCIMENTO"), QStringLiteral("RG"),
         QStringLiteral("QTD EXAMES")});
    DBGrid1_->setModel(DSQueryBuscaPac_);
    DBGrid1_->setSelectionBehavior(QAbstractItemView::SelectRows);
    DBGrid1_->setSelectionMode(QAbstractItemView::SingleSelection);
    DBGrid1_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    DBGrid1_->verticalHeader()->hide();
    DBGrid1_->verticalHeader()->setDefaultSectionSize(DBGrid1_->fontMetrics().height() + 6);
    DBGrid1_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    DBGrid1_->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    DBGrid1_->setColumnWidth(0, 50);
    DBGrid1_->horizontalHeader()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
    DBGrid1_->setColumnWidth(3, 90);
    DBGrid1_->horizontalHeader()->setSectionResizeMode(4, QHeaderView::ResizeToContents);
    rotuloLista->setBuddy(DBGrid1_);

    connect(edtNomePac_, &QLineEdit::textEdited, this, &TfrmNovoPaciente::edtNomePacKeyUp);
    connect(DBGrid1_, &QTableView::clicked, this, &TfrmNovoPaciente::DBGrid1CellClick);
    connect(DBGrid1_, &QTableView::doubleClicked, this, &TfrmNovoPaciente::DBGrid1DblClick);
    connect(Button1_, &QPushButton::clicked, this, &TfrmNovoPaciente::Button1Click);
    connect(btnListaTrabalho_, &QPushButton::clicked, this, &TfrmNovoPaciente::btnListaTrabalhoClick);

    auto* linha = new QHBoxLayout;
    linha->addWidget(edtNomePac_, 1);
    linha->addWidget(Button1_);
    linha->addWidget(btnListaTrabalho_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(rotuloNome);
    layout->addLayout(linha);
    layout->addWidget(rotuloLista);
    layout->addWidget(DBGrid1_, 1);
}

TfrmNovoPaciente::~TfrmNovoPaciente() = default;

TfrmNovoPaciente* TfrmNovoPaciente::instance() { return instance_; }

void TfrmNovoPaciente::Executa(TfrmExames& browser) {
    auto* w = new TfrmNovoPaciente(browser, &browser);
    w->resize(575, 285);
    w->exec();
}

void TfrmNovoPaciente::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (shown_) return;
    shown_ = true;
    // The centre of an 800 × 600 area: the main window's, which stands at the centre of the
    // screen.
    if (const QScreen* tela = screen() ? screen() : QGuiApplication::primaryScreen()) {
        QRect area(0, 0, 800, 600);
        area.moveCenter(tela->availableGeometry().center());
        move(area.left() + qRound((800 - width()) / 2.0), area.top() + qRound((600 - height()) / 2.0));
    }
    CarregaLista(QString());
    edtNomePac_->setFocus();
}

void TfrmNovoPaciente::CarregaLista(const QString& texto) {
    norvix::FbQuery& q = DMPrincipal().IBQueryBuscaPac;
    try {
        if (texto.isEmpty())
            DMPrincipal().openQuery(q, kTodosPacientes);
        else
            DMPrincipal().openQuery(q, kPrefixo, {{QStringLiteral("Texto"), norvix::MaiusculasComAcentos(texto)}});
    } catch (const norvix::Error& e) {
        q.close();
        DSQueryBuscaPac_->refresh();
        norvix::cadastro::mostraErro(e, this);
        return;
    }
    if (const int largura = q.textWidth(QStringLiteral("NOME")); largura > 0) edtNomePac_->setMaxLength(largura);
    DSQueryBuscaPac_->refresh();
    if (DSQueryBuscaPac_->rowCount() > 0) DBGrid1_->setCurrentIndex(DSQueryBuscaPac_->index(0, 1));
}

void TfrmNovoPaciente::edtNomePacKeyUp() {
    escolhido_ = 0;
    CarregaLista(edtNomePac_->text());
}

int TfrmNovoPaciente::posicionaNaLinha() {
    const QModelIndex index = DBGrid1_->currentIndex();
    return index.isValid() && DSQueryBuscaPac_->setCurrentRow(index.row()) ? index.row() : -1;
}

void TfrmNovoPaciente::DBGrid1CellClick() {
    if (posicionaNaLinha() < 0) return;
    edtNomePac_->setText(DMPrincipal().IBQueryBuscaPac.asString(QStringLiteral("NOME")));
    escolhido_ = DMPrincipal().IBQueryBuscaPac.asInt(QStringLiteral("CODIGO"));
}

void TfrmNovoPaciente::DBGrid1DblClick() {
    if (posicionaNaLinha() < 0) return;
    const int codigo = DMPrincipal().IBQueryBuscaPac.asInt(QStringLiteral("CODIGO"));
    // The row chosen, also when another patient has the same name.
    browser_.SelecionaPacientePorCodigo(codigo, TfrmExames::kTodos);
    fecha(true);
}

void TfrmNovoPaciente::Button1Click() {
    const QString nome = edtNomePac_->text();
    if (norvix::cadastro::nomeVazio(nome)) {
        norvix::showMessage(QStringLiteral("Digite o nome do Paciente!!!"), QStringLiteral("Informação"),
                            norvix::MsgIcon::Information, norvix::MsgButtons::Ok, this);
        edtNomePac_->setFocus();
        return;
    }
    QList<int> codigos;
    try {
        codigos = norvix::DPacientes().SelectCodigosByNome(nome);
    } catch (const norvix::Error& e) {
        norvix::cadastro::mostraErro(e, this);
        return;
    }
    if (!codigos.isEmpty()) {
        // The patient of that exact name; among namesakes the one the operator clicked in the
        // list, and none until one is clicked: two patients of one name are never confused.
        int codigo = codigos.size() == 1 ? codigos.first() : (codigos.contains(escolhido_) ? escolhido_ : 0);
        if (codigo == 0) {
            norvix::showMessage(QStringLiteral("Há %1 pacientes com o nome %2. Escolha um deles na lista.")
                                    .arg(codigos.size())
                                    .arg(nome),
                                QStringLiteral("Informação"), norvix::MsgIcon::Information, norvix::MsgButtons::Ok,
                                this);
            DBGrid1_->setFocus();
            return;
        }
        const QString filtro = browser_.filterEntries().size() < 2 ? browser_.filterText() : TfrmExames::kTodos;
        browser_.SelecionaPacientePorCodigo(codigo, filtro);
        fecha(false);
        return;
    }
    // Whether a patient was registered is the registration window's answer: counting the
    // patients before and after would also count what other workstations do meanwhile.
    const int novo = TfrmCadastroPacientes::Inclui(nome, this);
    if (novo > 0) {
        browser_.CarregaFiltroMedicos();
        browser_.SelecionaPacientePorCodigo(novo, TfrmExames::kSemExames);
    }
    fecha(novo > 0);
}

void TfrmNovoPaciente::btnListaTrabalhoClick() {
    const std::optional<dicom::PacsPeer> peer = browser_.settings() ? worklistPeer(*browser_.settings()) : std::nullopt;
    if (!peer) return;
    if (const QString aviso = AvisoTabelaRis(); !aviso.isEmpty()) {
        showMessage(aviso, QStringLiteral("Atenção"), MsgIcon::Warning, MsgButtons::Ok, this);
        return;
    }
    TfrmListaTrabalho lista(*peer, Relogio().Agora().date(), this);
    if (lista.exec() != QDialog::Accepted || !lista.escolhido()) return;
    const int codigo = pacienteDaListaDeTrabalho(*lista.escolhido(), this);
    if (codigo <= 0) return;
    registraPedidoDaListaDeTrabalho(*lista.escolhido(), codigo, this);
    perguntaVisitasEnviadasComOutroId(codigo);
    browser_.CarregaFiltroMedicos();
    browser_.SelecionaPacientePorCodigo(codigo, TfrmExames::kTodos);
    fecha(true);
}

// Visits of the patient sent before the link went out under this installation's ID and keep
// it; the operator is told, and may pass them to the RIS ID for their next send.
void TfrmNovoPaciente::perguntaVisitasEnviadasComOutroId(int paciente) {
    const QString instalacao = browser_.settings() ? browser_.settings()->IdentidadeDicom() : QString();
    if (instalacao.isEmpty()) return;
    try {
        const QList<dicom::SentVisit> enviadas = dicom::visitsSentUnderAnotherId(instalacao, paciente);
        if (enviadas.isEmpty()) return;
        const dicom::IssuedId agora = dicom::patientIdentities(instalacao, paciente).first();
        if (showMessage(dicom::sentUnderAnotherIdQuestion(enviadas, agora), QStringLiteral("Atenção"),
                        MsgIcon::Question, MsgButtons::YesNo, this, MsgAnswer::No) == MsgAnswer::Yes)
            dicom::passVisitsToCurrentId(paciente);
    } catch (const Error& e) {
        cadastro::mostraErro(e, this);
    }
}

void TfrmNovoPaciente::fecha(bool novoExame) {
    TfrmExames& browser = browser_;
    close();
    if (novoExame && norvix::infos().AutoExame != 0) browser.tbNovoExameClick();
}

}  // namespace norvix

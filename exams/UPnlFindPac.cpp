#include "UPnlFindPac.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QVBoxLayout>

#include "UfrmDica.h"
#include "UfrmExames.h"
#include "config/UBIniSettings.h"
#include "platform/ui/MessageSeam.h"
#include "records/CursorModel.h"
#include "records/UArquivosExameTexto.h"
#include "records/UDMedicos.h"
#include "records/UfrmDataModule.h"

namespace norvix {

namespace {

const char* const kKindCaptions[TPnlFindPac::KindCount] = {
    "&Primeiro Nome do Pac.", "Parte do &Nome do Pac.", "&Código do Paciente", "&RG do Paciente",
    "Códi&go do Exame",       "&Diagnóstico do Exame",  "&Observação do Exame"};

// The longest text the operator can type: the widest column searched (Diag, Observacao).
constexpr int kMaxText = 240;
// The typed text as the pattern of a LIKE. The parameter has a width of its own: the server
// would give it the compared column's width, and the escapes and wildcards can make a text
// that fits the column longer than that.
#define LIKE_PATTERN "CAST(:Texto AS VARCHAR(482)) ESCAPE '\\'"
static_assert(2 * kMaxText + 2 == 482, "every escaped text with its two wildcards fits the pattern");

const QString kAllPatients = QStringLiteral("SELECT * FROM Pacientes ORDER BY Nome ASC");

// Kind 0 with a doctor chosen: that doctor's patients.
const QString kDoctorPatients = QStringLiteral(
    "Select DISTINCT(Pacientes.Nome), Pacientes.Codigo, Pacientes.RG, Pacientes.DtCadastro, "
    "Pacientes.UltimoExame, Pacientes.TotalExames FROM Exames JOIN Pacientes ON Exames.CodPaciente = "
    "Pacientes.Codigo WHERE CodResp=:CodigoMedico Order by Pacientes.Nome Asc");

// Kind 0, the list following the text: a prefix, which STARTING WITH tests literally and which
// the index on UPPER(NOME) answers at every keystroke (a LIKE with a parameter uses no index).
#define PREFIX_PATTERN "STARTING WITH CAST(:Texto AS VARCHAR(240))"
const QString kFirstName =
    QStringLiteral("SELECT * FROM Pacientes WHERE Upper(nome) " PREFIX_PATTERN " ORDER BY Nome ASC");
// The code goes with the name, so that namesakes are two rows and the one chosen is found.
const QString kDoctorFirstName = QStringLiteral(
    "Select DISTINCT(Pacientes.Nome), Pacientes.Codigo, Pacientes.RG FROM Exames JOIN Pacientes ON Exames.CodPaciente = "
    "Pacientes.Codigo WHERE Upper(nome) " PREFIX_PATTERN " AND CodResp=:CodigoMedico Order by "
    "Pacientes.Nome Asc");

// "&Localizar", kinds 1 to 6 (the exam kinds continue kJoin). The typed text is the parameter
// Texto, upper-cased or as typed, with "%" on both sides or none. A code is compared as its
// decimal text, which is what the operator typed.
struct Search {
    const char* sql;
    bool upper;
    bool infix;
};
const QString kJoin = QStringLiteral(
    "SELECT DISTINCT Pacientes.Nome, Pacientes.Rg, Pacientes.Codigo FROM Exames JOIN Pacientes ON "
    "Exames.CodPaciente = Pacientes.Codigo WHERE ");
const Search kSearches[TPnlFindPac::KindCount] = {
    {nullptr, true, false},
    {"SELECT Codigo,Nome,Rg FROM Pacientes WHERE Upper(nome) like " LIKE_PATTERN " ORDER BY Nome ASC", true, true},
    {"SELECT Codigo,Nome,Rg FROM Pacientes WHERE CAST(Codigo AS VARCHAR(11)) LIKE " LIKE_PATTERN
     " ORDER BY Nome ASC", false, false},
    {"SELECT Codigo,Nome,Rg FROM Pacientes WHERE Rg LIKE " LIKE_PATTERN " ORDER BY Nome ASC", false, true},
    {"CAST(Exames.Codigo AS VARCHAR(11)) like " LIKE_PATTERN " ORDER BY Nome ASC", false, false},
    {"Upper(diag) like " LIKE_PATTERN " ORDER BY Nome ASC", true, true},
    {"Upper(Observacao) like " LIKE_PATTERN " ORDER BY Nome ASC", true, true},
};

}  // namespace

TPnlFindPac::TPnlFindPac(TfrmExames& browser, QWidget* parent) : QWidget(parent), browser_(browser) {
    setObjectName(QStringLiteral("pnlFindPac"));
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    auto* title = new QLabel(QStringLiteral("Localizar Paciente"), this);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    root->addWidget(title);

    auto* top = new QHBoxLayout;
    auto* group = new QGroupBox(QStringLiteral("Consultar por"), this);
    group->setObjectName(QStringLiteral("rgpPaciente"));
    auto* kinds = new QVBoxLayout(group);
    rgpPaciente_ = new QButtonGroup(this);
    for (int k = 0; k < KindCount; ++k) {
        auto* b = new QRadioButton(QString::fromUtf8(kKindCaptions[k]), group);
        b->setObjectName(QStringLiteral("rgpPaciente%1").arg(k));
        rgpPaciente_->addButton(b, k);
        kinds->addWidget(b);
    }
    connect(rgpPaciente_, &QButtonGroup::idClicked, this, [this] { rgpPacienteClick(); });
    top->addWidget(group);

    auto* fields = new QGridLayout;
    auto* lblFind = new QLabel(QStringLiteral("Pesquisa:"), this);
    lblFind->setObjectName(QStringLiteral("lblFind"));
    edtFind_ = new QLineEdit(this);
    edtFind_->setObjectName(QStringLiteral("edtFind"));
    edtFind_->setMaxLength(kMaxText);
    lblFind->setBuddy(edtFind_);
    connect(edtFind_, &QLineEdit::textChanged, this, [this] { edtFindChange(); });
    lblCbFind_ = new QLabel(QStringLiteral("(Médico responsável)"), this);
    lblCbFind_->setObjectName(QStringLiteral("lblCbFind"));
    CbFind_ = new QComboBox(this);
    CbFind_->setObjectName(QStringLiteral("CbFind"));
    CbFind_->setMinimumContentsLength(24);
    connect(CbFind_, &QComboBox::activated, this, [this] { CbFindChange(); });
    btnLocPac_ = new QPushButton(QStringLiteral("&Localizar"), this);
    btnLocPac_->setObjectName(QStringLiteral("btnLocPac"));
    connect(btnLocPac_, &QPushButton::clicked, this, &TPnlFindPac::btnLocPacClick);
    btnLocDBGrid_ = new QPushButton(QStringLiteral("&Ver paciente"), this);
    btnLocDBGrid_->setObjectName(QStringLiteral("btnLocDBGrid"));
    connect(btnLocDBGrid_, &QPushButton::clicked, this, &TPnlFindPac::btnLocDBGridClick);
    fields->addWidget(lblFind, 0, 0);
    fields->addWidget(edtFind_, 1, 0);
    fields->addWidget(btnLocPac_, 1, 1);
    fields->addWidget(lblCbFind_, 2, 0);
    fields->addWidget(CbFind_, 3, 0);
    fields->addWidget(btnLocDBGrid_, 3, 1);
    fields->setRowStretch(4, 1);
    fields->setColumnStretch(0, 1);
    top->addLayout(fields, 1);
    root->addLayout(top);

    dbGridPacLoc_ = new QTableView(this);
    dbGridPacLoc_->setObjectName(QStringLiteral("dbGridPacLoc"));
    model_ = new norvix::CursorModel(&DMPrincipal().IBQueryBuscaPac, this);
    model_->setColumns({QStringLiteral("CODIGO"), QStringLiteral("NOME"), QStringLiteral("RG")},
                       {QStringLiteral("Código"), QStringLiteral("Nome"), QStringLiteral("RG")});
    dbGridPacLoc_->setModel(model_);
    dbGridPacLoc_->setSelectionBehavior(QAbstractItemView::SelectRows);
    dbGridPacLoc_->setSelectionMode(QAbstractItemView::SingleSelection);
    dbGridPacLoc_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    dbGridPacLoc_->verticalHeader()->hide();
    dbGridPacLoc_->verticalHeader()->setDefaultSectionSize(dbGridPacLoc_->fontMetrics().height() + 6);
    dbGridPacLoc_->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    dbGridPacLoc_->setTabKeyNavigation(false);
    connect(dbGridPacLoc_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid()) model_->setCurrentRow(current.row());
            });
    connect(dbGridPacLoc_, &QTableView::doubleClicked, this, &TPnlFindPac::dbGridPacLocDblClick);
    // A click on a list without rows hits no cell, so the view's own signals never see it.
    dbGridPacLoc_->viewport()->installEventFilter(this);
    root->addWidget(dbGridPacLoc_, 1);

    cbDicas_ = new QCheckBox(QStringLiteral("&Mostrar aviso ao carregar busca de pacientes/exames"), this);
    cbDicas_->setObjectName(QStringLiteral("cbDicas"));
    root->addWidget(cbDicas_);
}

int TPnlFindPac::kind() const { return std::max(0, rgpPaciente_->checkedId()); }

// ---- opening and closing ---------------------------------------------------------------------

void TPnlFindPac::openSearch() {
    cbDicas_->setChecked(false);
    btnLocDBGrid_->setEnabled(false);
    btnLocPac_->setEnabled(false);
    if (TBIniSettings* settings = browser_.settings(); settings && settings->Dicas()) {
        cbDicas_->setChecked(true);
        TfrmDica::instance(&browser_)->exec();
    }
    browser_.setPatientButtonsEnabled(false);
    setDoctorChoiceEnabled(true);
    CbFind_->clear();
    CbFind_->addItems(browser_.filterEntries());
    CbFind_->setCurrentIndex(CbFind_->findText(TfrmExames::kTodos, Qt::MatchExactly | Qt::MatchCaseSensitive));
    {
        // The list is loaded for kind 0 right below; the text's own reload would be thrown away.
        const QSignalBlocker block(edtFind_);
        edtFind_->clear();
    }
    edtFind_->setFocus();
    rgpPaciente_->button(PrimeiroNome)->setChecked(true);
    // With the doctor choice on "*** Todos" the doctor's list (CarregaBusca) is every
    // patient, which the kind has just loaded.
    rgpPacienteClick();
}

void TPnlFindPac::closeSearch() {
    if (TBIniSettings* settings = browser_.settings()) {
        try {
            settings->WriteParameter(QStringLiteral("Bool"), QStringLiteral("OPCOES"), QStringLiteral("DICAS"), QString(),
                                     cbDicas_->isChecked());
        } catch (const norvix::SettingsWriteError& e) {
            showMessage(e.message(), QStringLiteral("Atenção"), MsgIcon::Warning, MsgButtons::Ok, this);
        }
    }
    // No server cursor stays open behind a hidden list.
    closeList();
    browser_.setPatientButtonsEnabled(true);
}

void TPnlFindPac::focusSearchText() { edtFind_->setFocus(); }

void TPnlFindPac::enterPressed() {
    const bool inList = dbGridPacLoc_->hasFocus();
    if (inList || kind() == PrimeiroNome) {
        if (listHasRows() && (inList || !edtFind_->text().isEmpty()))
            btnLocDBGridClick();
        else
            edtFind_->setFocus();
        return;
    }
    btnLocPacClick();
    if (btnLocDBGrid_->isEnabled()) dbGridPacLoc_->setFocus();
}

void TPnlFindPac::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The browser shows the panel after openSearch, when a hidden field could not take focus.
    edtFind_->setFocus();
}

void TPnlFindPac::setDoctorChoiceEnabled(bool enabled) {
    CbFind_->setEnabled(enabled);
    lblCbFind_->setEnabled(enabled);
}

// ---- the list --------------------------------------------------------------------------------

void TPnlFindPac::loadList(const QString& sql, const norvix::FbParams& params) {
    DMPrincipal().openQuery(DMPrincipal().IBQueryBuscaPac, sql, params);
    model_->refresh();
    if (model_->rowCount() > 0) dbGridPacLoc_->setCurrentIndex(model_->index(0, 0));
}

void TPnlFindPac::closeList() {
    DMPrincipal().IBQueryBuscaPac.close();
    model_->refresh();
}

bool TPnlFindPac::listHasRows() const { return model_->rowCount() > 0; }

int TPnlFindPac::chosenDoctor() const {
    const QString doctor = CbFind_->currentText();
    if (doctor.isEmpty() || doctor == TfrmExames::kTodos || doctor == TfrmExames::kSemExames) return 0;
    return norvix::DMedicos().SelectCodigoByNome(doctor);
}

void TPnlFindPac::CarregaBusca() {
    if (const int doctor = chosenDoctor()) {
        loadList(kDoctorPatients, {{QStringLiteral("CodigoMedico"), doctor}});
    } else {
        loadList(kAllPatients);
    }
}

void TPnlFindPac::CbFindChange() { CarregaBusca(); }

void TPnlFindPac::rgpPacienteClick() {
    if (kind() == PrimeiroNome || kind() == ParteNome) {
        setDoctorChoiceEnabled(true);
        loadList(kAllPatients);
    } else {
        setDoctorChoiceEnabled(false);
        CbFind_->setCurrentIndex(CbFind_->findText(TfrmExames::kTodos, Qt::MatchExactly | Qt::MatchCaseSensitive));
        closeList();
    }
    edtFind_->clear();
    edtFind_->setFocus();
}

void TPnlFindPac::edtFindChange() {
    const QString text = edtFind_->text();
    btnLocPac_->setEnabled(!text.isEmpty() && kind() != PrimeiroNome);
    btnLocDBGrid_->setEnabled(false);
    if (kind() != PrimeiroNome) return;
    const QString pattern = norvix::MaiusculasComAcentos(text);
    if (const int doctor = chosenDoctor()) {
        loadList(kDoctorFirstName, {{QStringLiteral("Texto"), pattern}, {QStringLiteral("CodigoMedico"), doctor}});
    } else {
        loadList(kFirstName, {{QStringLiteral("Texto"), pattern}});
    }
}

// ---- searching -------------------------------------------------------------------------------

void TPnlFindPac::btnLocPacClick() {
    const int k = kind();
    if (k == PrimeiroNome) return;  // its list follows the text
    const QString text = edtFind_->text();
    if (text.isEmpty()) {
        showMessage(QStringLiteral("Campo de busca vazio"), QStringLiteral("Atenção"), MsgIcon::Information,
                    MsgButtons::Ok, this);
        return;
    }
    const Search& s = kSearches[k];
    const QString sql = k >= CodigoExame ? kJoin + QLatin1String(s.sql) : QLatin1String(s.sql);
    loadList(sql, {{QStringLiteral("Texto"),
                    norvix::PadraoLikeLiteral(s.upper ? norvix::MaiusculasComAcentos(text) : text, s.infix, s.infix)}});
    if (listHasRows()) {
        btnLocDBGrid_->setEnabled(true);
    } else {
        askSearchAgain();
    }
}

void TPnlFindPac::askSearchAgain() {
    if (showMessage(QStringLiteral("Paciente não encontrado! \n Deseja realizar outra busca?"),
                    QStringLiteral("Informação"), MsgIcon::Question, MsgButtons::YesNo, this) == MsgAnswer::Yes) {
        edtFind_->clear();
        edtFind_->setFocus();
    } else {
        browser_.showFindPanel(false);
    }
}

void TPnlFindPac::dbGridPacLocCellClick() {
    if (!listHasRows()) askSearchAgain();
}

bool TPnlFindPac::eventFilter(QObject* watched, QEvent* event) {
    if (watched == dbGridPacLoc_->viewport() && event->type() == QEvent::MouseButtonRelease) dbGridPacLocCellClick();
    return QWidget::eventFilter(watched, event);
}

// ---- choosing --------------------------------------------------------------------------------

void TPnlFindPac::dbGridPacLocDblClick() { btnLocDBGridClick(); }

void TPnlFindPac::btnLocDBGridClick() {
    norvix::FbQuery& found = DMPrincipal().IBQueryBuscaPac;
    const int row = std::max(0, dbGridPacLoc_->currentIndex().row());
    if (!found.active() || !found.moveTo(row)) return;
    const QString name = found.asString(QStringLiteral("NOME"));
    // Kind 0 with a doctor lists names only; every other list carries the code.
    const int code = found.hasField(QStringLiteral("CODIGO")) ? found.asInt(QStringLiteral("CODIGO")) : 0;
    const int k = kind();
    const QString text = edtFind_->text();

    // An exam found is shown under its own doctor, whose filter lets the diagnosis be edited
    // ("*** Todos" would not); a doctor since deleted leaves all the patients listed.
    QString examDoctor;
    const QString caption = k >= CodigoExame ? foundExamCaption(code, text, &examDoctor) : QString();
    QString filter = k == PrimeiroNome ? CbFind_->currentText() : TfrmExames::kTodos;
    if (!examDoctor.isEmpty() && browser_.filterEntries().contains(examDoctor)) filter = examDoctor;
    if (code > 0) {
        // By its code: a namesake must not stand in for the one chosen; a patient the doctor
        // filter hides is looked for among all.
        browser_.SelecionaPacientePorCodigo(code, filter);
        if (browser_.patientCode() != code) browser_.SelecionaPacientePorCodigo(code, TfrmExames::kTodos);
    } else {
        browser_.SelecionaPaciente(name, filter);
    }
    browser_.showFindPanel(false);
    // After the panel has made way for the exam list, which takes the focus.
    if (!caption.isEmpty()) browser_.SelecionaExame(caption, k == ObservacaoExame ? 1 : 0);
}

QString TPnlFindPac::foundExamCaption(int patientCode, const QString& text, QString* doctor) {
    norvix::TDMPrincipal& dm = DMPrincipal();
    if (kind() == CodigoExame) {
        bool isNumber = false;
        const int exam = text.trimmed().toInt(&isNumber);
        if (!isNumber) {
            showMessage(QStringLiteral("O código do exame \"%1\" não é válido: digite somente números.").arg(text),
                        QStringLiteral("Atenção"), MsgIcon::Warning, MsgButtons::Ok, this);
            return QString();
        }
        dm.openQuery(dm.IBOperation, QStringLiteral("SELECT * FROM Exames WHERE Exames.Codigo =:CodigoProcurado"),
                     {{QStringLiteral("CodigoProcurado"), exam}});
    } else {
        const QString column = kind() == ObservacaoExame ? QStringLiteral("Observacao") : QStringLiteral("Diag");
        dm.openQuery(dm.IBOperation,
                     QStringLiteral("SELECT * FROM Exames WHERE Exames.CodPaciente =:CodigoPaciente and "
                                    "Upper(Exames.%1) like " LIKE_PATTERN)
                         .arg(column),
                     {{QStringLiteral("CodigoPaciente"), patientCode},
                      {QStringLiteral("Texto"), norvix::PadraoLikeLiteral(norvix::MaiusculasComAcentos(text), true, true)}});
    }
    norvix::FbQuery& exam = dm.IBOperation;
    QString caption;
    int doctorCode = 0;
    if (!exam.isEmpty()) {
        caption = exam.asString(QStringLiteral("OLHO")) + QStringLiteral(" - ") +
                  exam.asDate(QStringLiteral("DATA")).toString(QStringLiteral("dd/MM/yyyy")) + QLatin1Char(' ') +
                  exam.asTime(QStringLiteral("HORA")).toString(QStringLiteral("HH:mm:ss"));
        doctorCode = exam.asInt(QStringLiteral("CODRESP"));
    }
    exam.close();
    if (doctorCode > 0) *doctor = norvix::DMedicos().SelectNomeByCodigo(doctorCode);
    return caption;
}

}  // namespace norvix

#include "FichaCadastro.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

#include "RecordBuffer.h"

namespace norvix {

const QStringList TFichaCadastro::kEstados = {
    QStringLiteral("AC"), QStringLiteral("AL"), QStringLiteral("AM"), QStringLiteral("AP"), QStringLiteral("BA"),
    QStringLiteral("CE"), QStringLiteral("DF"), QStringLiteral("ES"), QStringLiteral("GO"), QStringLiteral("MA"),
    QStringLiteral("MG"), QStringLiteral("MS"), QStringLiteral("MT"), QStringLiteral("PA"), QStringLiteral("PB"),
    QStringLiteral("PE"), QStringLiteral("PI"), QStringLiteral("PR"), QStringLiteral("RJ"), QStringLiteral("RN"),
    QStringLiteral("RO"), QStringLiteral("RR"), QStringLiteral("RS"), QStringLiteral("SC"), QStringLiteral("SE"),
    QStringLiteral("SP"), QStringLiteral("TO")};
const QStringList TFichaCadastro::kTiposSanguineos = {
    QStringLiteral("AB+"), QStringLiteral("A+"), QStringLiteral("B+"), QStringLiteral("O+"),
    QStringLiteral("AB-"), QStringLiteral("A-"), QStringLiteral("B-"), QStringLiteral("O-")};

namespace {

using Format = TRecordBuffer::Format;

// A grid of caption and field pairs, two pairs a line; a wide field takes the whole line.
class Grade {
public:
    explicit Grade(QWidget* page) : grid_(new QGridLayout(page)) {
        grid_->setColumnStretch(1, 1);
        grid_->setColumnStretch(3, 1);
        grid_->setHorizontalSpacing(8);
    }
    void add(const QString& caption, QWidget* field, bool wide = false) {
        auto* label = new QLabel(caption, field->parentWidget());
        label->setBuddy(field);
        if (wide && column_ != 0) next();
        grid_->addWidget(label, row_, column_);
        grid_->addWidget(field, row_, column_ + 1, 1, wide ? 3 : 1);
        column_ += 2;
        if (wide || column_ > 2) next();
    }
    void addLayout(QLayout* l) {
        if (column_ != 0) next();
        grid_->addLayout(l, row_, 0, 1, 4);
        next();
    }
    void finish() { grid_->setRowStretch(row_ + (column_ ? 1 : 0), 1); }

private:
    void next() {
        ++row_;
        column_ = 0;
    }
    QGridLayout* grid_;
    int row_ = 0;
    int column_ = 0;
};

}  // namespace

TFichaCadastro::TFichaCadastro(Tipo tipo, TRecordBuffer& buffer, QWidget* parent)
    : QTabWidget(parent), buffer_(buffer) {
    setObjectName(QStringLiteral("pgcCadastro"));
    const bool paciente = tipo == Tipo::Paciente;

    auto* pessoais = new QWidget(this);
    pessoais->setObjectName(QStringLiteral("tsPessoais"));
    Grade p(pessoais);
    edtNome = edit(pessoais, "edtNome", QStringLiteral("NOME"), int(Format::Text));
    p.add(QStringLiteral("Nome:"), edtNome, true);
    edtRG = edit(pessoais, "edtRG", QStringLiteral("RG"), int(Format::Text));
    edtCPF = edit(pessoais, "edtCPF", QStringLiteral("CPF"), int(Format::Cpf));
    edtCPF->setPlaceholderText(QStringLiteral("000.000.000-00"));
    p.add(QStringLiteral("RG:"), edtRG);
    if (!paciente) p.add(QStringLiteral("CRM:"), edit(pessoais, "edtCRM", QStringLiteral("CRM"), int(Format::Text)));
    p.add(QStringLiteral("CPF:"), edtCPF);
    edtDataNascimento = edit(pessoais, "edtDataNascimento", QStringLiteral("DATANASCIMENTO"), int(Format::Date));
    edtDataNascimento->setPlaceholderText(QStringLiteral("dd/mm/aaaa"));
    p.add(QStringLiteral("Data de Nascimento:"), edtDataNascimento);
    p.add(QStringLiteral("Conjuge:"), edit(pessoais, "edtConjuge", QStringLiteral("CONJUGE"), int(Format::Text)));
    p.add(QStringLiteral("Naturalidade:"),
          edit(pessoais, "edtNaturalidade", QStringLiteral("NATURALIDADE"), int(Format::Text)));
    p.add(QStringLiteral("Estado Naturalidade:"),
          combo(pessoais, "cbxNaturalidadeEstado", QStringLiteral("NATURALIDADEESTADO"), kEstados, !paciente));
    p.add(QStringLiteral("Pai:"), edit(pessoais, "edtPai", QStringLiteral("PAI"), int(Format::Text)), true);
    p.add(QStringLiteral("Mãe:"), edit(pessoais, "edtMae", QStringLiteral("MAE"), int(Format::Text)), true);
    if (paciente) {
        p.add(QStringLiteral("Profissão:"), edit(pessoais, "edtProfissao", QStringLiteral("PROFISSAO"), int(Format::Text)));
        p.add(QStringLiteral("Convênio:"), edit(pessoais, "edtConvenio", QStringLiteral("CONVENIO"), int(Format::Text)));
        p.add(QStringLiteral("Tipo Sanguineo:"),
              combo(pessoais, "cbxTipoSang", QStringLiteral("TIPOSANG"), kTiposSanguineos, false));
    }
    auto* grupos = new QHBoxLayout;
    static const char* const kSexo[] = {"rbtMasculino", "rbtFeminino"};
    static const char* const kEstadoCivil[] = {"rbtCasado", "rbtSolteiro", "rbtDivorciado"};
    grupos->addWidget(choice(pessoais, "rgSexo", QStringLiteral("Sexo"),
                             {QStringLiteral("Masculino"), QStringLiteral("Feminino")},
                             {QStringLiteral("M"), QStringLiteral("F")}, QStringLiteral("SEXO"), kSexo));
    grupos->addWidget(choice(pessoais, "rgEstadoCivil", QStringLiteral("Estado Civil"),
                             {QStringLiteral("Casado(a)"), QStringLiteral("Solteiro(a)"), QStringLiteral("Divorciado(a)")},
                             {QStringLiteral("C"), QStringLiteral("S"), QStringLiteral("D")},
                             QStringLiteral("ESTADOCIVIL"), kEstadoCivil));
    p.addLayout(grupos);
    auto* linhaCodigo = new QHBoxLayout;
    lblCodigo_ = new QLabel(paciente ? QStringLiteral("Código:") : QStringLiteral("Codigo:"), pessoais);
    lblCodigo_->setObjectName(QStringLiteral("lblCodigo"));
    dbtCodigo_ = new QLabel(pessoais);
    dbtCodigo_->setObjectName(QStringLiteral("dbtCodigo"));
    QFont negrito = dbtCodigo_->font();
    negrito.setBold(true);
    dbtCodigo_->setFont(negrito);
    buffer_.bind(dbtCodigo_, QStringLiteral("CODIGO"));
    linhaCodigo->setSpacing(6);
    linhaCodigo->addWidget(lblCodigo_);
    linhaCodigo->addWidget(dbtCodigo_);
    linhaCodigo->addStretch();
    p.addLayout(linhaCodigo);
    p.finish();
    addTab(pessoais, QStringLiteral("Informações Pessoais"));

    auto* residenciais = new QWidget(this);
    residenciais->setObjectName(QStringLiteral("tsResidenciais"));
    Grade r(residenciais);
    r.add(QStringLiteral("Rua:"), edit(residenciais, "edtRua", QStringLiteral("RUA"), int(Format::Text)), true);
    r.add(QStringLiteral("Complemento:"),
          edit(residenciais, "edtComplemento", QStringLiteral("COMPLEMENTO"), int(Format::Text)));
    r.add(QStringLiteral("Bairro:"), edit(residenciais, "edtBairro", QStringLiteral("BAIRRO"), int(Format::Text)));
    r.add(QStringLiteral("Cidade:"), edit(residenciais, "edtCidade", QStringLiteral("CIDADE"), int(Format::Text)));
    r.add(QStringLiteral("Estado:"), combo(residenciais, "cbxEstado", QStringLiteral("ESTADO"), kEstados, !paciente));
    auto* cep = edit(residenciais, "edtCEP", QStringLiteral("CEP"), int(Format::Cep));
    cep->setPlaceholderText(QStringLiteral("00000-000"));
    r.add(QStringLiteral("CEP:"), cep);
    r.add(QStringLiteral("Fone:"), edit(residenciais, "edtFone", QStringLiteral("FONE"), int(Format::Digits)));
    r.add(QStringLiteral("Celular:"), edit(residenciais, "edtCelular", QStringLiteral("CELULAR"), int(Format::Digits)));
    r.finish();
    addTab(residenciais, QStringLiteral("Informações Residenciais"));
}

QLineEdit* TFichaCadastro::edit(QWidget* page, const char* name, const QString& column, int format) {
    auto* e = new QLineEdit(page);
    e->setObjectName(QLatin1String(name));
    buffer_.bind(e, column, TRecordBuffer::Format(format));
    return e;
}

QComboBox* TFichaCadastro::combo(QWidget* page, const char* name, const QString& column, const QStringList& items,
                                 bool editable) {
    auto* c = new QComboBox(page);
    c->setObjectName(QLatin1String(name));
    c->setEditable(editable);
    c->addItems(items);
    c->setMaxVisibleItems(12);
    buffer_.bind(c, column);
    return c;
}

QGroupBox* TFichaCadastro::choice(QWidget* page, const char* name, const QString& caption,
                                     const QStringList& captions, const QStringList& values, const QString& column,
                                     const char* const* names) {
    auto* box = new QGroupBox(caption, page);
    box->setObjectName(QLatin1String(name));
    auto* layout = new QHBoxLayout(box);
    auto* group = new QButtonGroup(box);
    group->setObjectName(QLatin1String(name) + QStringLiteral("Grupo"));
    for (int i = 0; i < captions.size(); ++i) {
        auto* b = new QRadioButton(captions.at(i), box);
        b->setObjectName(QLatin1String(names[i]));
        group->addButton(b, i);
        layout->addWidget(b);
    }
    buffer_.bind(group, column, values);
    return box;
}

void TFichaCadastro::setCodigo(const QString& caption, bool visible) {
    lblCodigo_->setText(caption);
    dbtCodigo_->setVisible(visible);
}

QString TFichaCadastro::codigoCaption() const { return lblCodigo_->text(); }
bool TFichaCadastro::codigoVisible() const { return !dbtCodigo_->isHidden(); }
int TFichaCadastro::codigo() const { return dbtCodigo_->text().toInt(); }

}  // namespace norvix

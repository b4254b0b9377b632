#include "registration/UfrmComparaPacientes.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace norvix {

QString descreveSexo(const QString& sexo) {
    const QString s = sexo.trimmed().toUpper();
    if (s == u'M') return QStringLiteral("Masculino");
    if (s == u'F') return QStringLiteral("Feminino");
    if (s == u'O') return QStringLiteral("Outro");
    return s.isEmpty() ? QStringLiteral("(não informado)") : s;
}

QString descrevePaciente(const PessoaCadastrada& p) {
    const QString nascimento =
        p.nascimento.isEmpty() ? QStringLiteral("nascimento não informado") : QStringLiteral("nasc. ") + p.nascimento;
    return QStringLiteral("%1 (%2, código %3)").arg(p.nome.trimmed(), nascimento).arg(p.codigo);
}

namespace {
const char* const kCampos[] = {"Nome:", "Nascimento:", "Sexo:", "Código:", "ID no RIS:"};
constexpr int kNCampos = 5;
}  // namespace

TfrmComparaPacientes::TfrmComparaPacientes(const PessoaRis& ris, const QList<PessoaCadastrada>& candidatos,
                                           const QList<QStringList>& idsDosCandidatos, const QString& texto,
                                           const QString& outraPessoa, QWidget* parent)
    : QDialog(parent), ris_(ris), candidatos_(candidatos), ids_(idsDosCandidatos) {
    setObjectName(QStringLiteral("frmComparaPacientes"));
    setWindowTitle(QStringLiteral("Conferir Paciente"));
    auto* explicacao = new QLabel(texto, this);
    explicacao->setObjectName(QStringLiteral("lblExplicacao"));
    explicacao->setWordWrap(true);

    auto* grade = new QGridLayout;
    auto* tituloRis = new QLabel(QStringLiteral("<b>Agendado pelo RIS</b>"), this);
    auto* tituloLocal = new QLabel(QStringLiteral("<b>Cadastrado nesta clínica</b>"), this);
    grade->addWidget(tituloRis, 0, 1);
    grade->addWidget(tituloLocal, 0, 3);
    const QString idRis = ris.emissor.isEmpty() ? ris.idRis : QStringLiteral("%1 (%2)").arg(ris.idRis, ris.emissor);
    const QStringList valoresRis{ris.nome,
                                 ris.nascimento.isValid() ? ris.nascimento.toString(QStringLiteral("dd/MM/yyyy"))
                                                          : QStringLiteral("(não informado)"),
                                 descreveSexo(ris.sexo), QString(), idRis};
    for (int i = 0; i < kNCampos; ++i) {
        grade->addWidget(new QLabel(QString::fromUtf8(kCampos[i]), this), i + 1, 0);
        grade->addWidget(new QLabel(valoresRis[i], this), i + 1, 1);
        auto* marca = new QLabel(this);
        marca->setObjectName(QStringLiteral("lblDifere%1").arg(i));
        marcas_ << marca;
        grade->addWidget(marca, i + 1, 2);
        auto* valor = new QLabel(this);
        valor->setObjectName(QStringLiteral("lblLocal%1").arg(i));
        valor->setTextInteractionFlags(Qt::TextSelectableByMouse);
        local_ << valor;
        grade->addWidget(valor, i + 1, 3);
    }
    grade->setColumnStretch(1, 1);
    grade->setColumnStretch(3, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(explicacao);
    if (candidatos_.size() > 1) {
        cbxCandidato_ = new QComboBox(this);
        cbxCandidato_->setObjectName(QStringLiteral("cbxCandidato"));
        for (const PessoaCadastrada& p : std::as_const(candidatos_)) cbxCandidato_->addItem(descrevePaciente(p));
        connect(cbxCandidato_, &QComboBox::currentIndexChanged, this, &TfrmComparaPacientes::mostraCandidato);
        auto* linha = new QHBoxLayout;
        linha->addWidget(new QLabel(QStringLiteral("Paciente cadastrado:"), this));
        linha->addWidget(cbxCandidato_, 1);
        layout->addLayout(linha);
    }
    layout->addLayout(grade);

    auto* mesma = new QPushButton(QStringLiteral("É a &mesma pessoa"), this);
    mesma->setObjectName(QStringLiteral("btnMesmaPessoa"));
    auto* outra = new QPushButton(outraPessoa, this);
    outra->setObjectName(QStringLiteral("btnOutraPessoa"));
    auto* cancelar = new QPushButton(QStringLiteral("Cancelar"), this);
    cancelar->setObjectName(QStringLiteral("btnCancelar"));
    // Enter answers nothing but "Cancelar": the link is made only by a button pressed for it.
    mesma->setAutoDefault(false);
    outra->setAutoDefault(false);
    cancelar->setDefault(true);
    connect(mesma, &QPushButton::clicked, this, [this] { responde(Resposta::MesmaPessoa); });
    connect(outra, &QPushButton::clicked, this, [this] { responde(Resposta::OutraPessoa); });
    connect(cancelar, &QPushButton::clicked, this, [this] { responde(Resposta::Cancelar); });
    auto* botoes = new QHBoxLayout;
    botoes->addWidget(mesma);
    botoes->addWidget(outra);
    botoes->addStretch();
    botoes->addWidget(cancelar);
    layout->addLayout(botoes);
    mostraCandidato(0);
    setMinimumWidth(620);
    cancelar->setFocus();
}

void TfrmComparaPacientes::mostraCandidato(int indice) {
    if (indice < 0 || indice >= candidatos_.size()) return;
    atual_ = indice;
    const PessoaCadastrada& p = candidatos_[indice];
    const QStringList valores{
        p.nome, p.nascimento.isEmpty() ? QStringLiteral("(não informado)") : p.nascimento, descreveSexo(p.sexo),
        QString::number(p.codigo),
        ids_.value(indice).isEmpty() ? QStringLiteral("(nenhum)") : ids_.value(indice).join(", ")};
    const int d = diferencas(ris_, p);
    const bool difere[kNCampos] = {bool(d & int(Diferenca::Nome)), bool(d & int(Diferenca::Nascimento)),
                                   bool(d & int(Diferenca::Sexo)), false,
                                   !ids_.value(indice).isEmpty() && !ids_.value(indice).contains(ris_.idRis)};
    for (int i = 0; i < kNCampos; ++i) {
        local_[i]->setText(valores[i]);
        local_[i]->setStyleSheet(difere[i] ? QStringLiteral("color: #b00000; font-weight: bold;") : QString());
        marcas_[i]->setText(difere[i] ? QStringLiteral("≠") : QString());
        marcas_[i]->setToolTip(difere[i] ? QStringLiteral("Não confere") : QString());
    }
}

void TfrmComparaPacientes::responde(Resposta r) {
    resposta_ = r;
    if (r == Resposta::Cancelar)
        reject();
    else
        accept();
}

}  // namespace norvix

#include "UfrmLagrima.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <cmath>

#include "TearFilmExam.h"
#include "platform/Convert.h"
#include "platform/Errors.h"
#include "platform/ui/MessageSeam.h"
#include "tearfilm/TearFilmMap.h"

namespace norvix {

namespace {

constexpr QSize kMapa(460, 360);

QLabel* rotulo(QWidget* parent, const char* name, const QString& text = QString()) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(QLatin1String(name));
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return l;
}

// The broken area over time, painted at the size the layout gives.
class CurvaArea : public QWidget {
public:
    CurvaArea(const lagrima::TearFilmResult& r, QWidget* parent) : QWidget(parent), r_(r) {
        setObjectName(QStringLiteral("imgAreaRompida"));
        setMinimumSize(300, 150);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), Qt::white);
        lagrima::paintBrokenArea(p, QRectF(rect()).adjusted(4, 4, -4, -4), r_);
    }

private:
    lagrima::TearFilmResult r_;
};

}  // namespace

QString TfrmLagrima::segundos(double s) {
    return lagrima::secondsText(s) + QStringLiteral(" s");
}

TfrmLagrima::TfrmLagrima(const TExameLagrima& exame, const lagrima::TearFilmResult& result, const QString& paciente,
                         Modo modo, QWidget* parent)
    : QDialog(parent), modo_(modo) {
    setObjectName(QStringLiteral("frmLagrima"));
    setWindowTitle(TearFilmExam::kCaption);
    buildUi(exame, result, paciente, modo);
}

void TfrmLagrima::buildUi(const TExameLagrima& e, const lagrima::TearFilmResult& r, const QString& paciente, Modo modo) {
    auto* root = new QVBoxLayout(this);

    // Who, which eye, when.
    auto* cabecalho = new QGridLayout;
    QFont negrito = font();
    negrito.setBold(true);
    auto* nome = rotulo(this, "lblPaciente", paciente);
    nome->setFont(negrito);
    cabecalho->addWidget(rotulo(this, "lblPacienteTitulo", QStringLiteral("Paciente:")), 0, 0);
    cabecalho->addWidget(nome, 0, 1);
    cabecalho->addWidget(rotulo(this, "lblOlhoTitulo", QStringLiteral("Olho:")), 0, 2);
    cabecalho->addWidget(rotulo(this, "lblOlho",
                                e.direito() ? QStringLiteral("Direito (OD)") : QStringLiteral("Esquerdo (OS)")),
                         0, 3);
    cabecalho->addWidget(rotulo(this, "lblDataTitulo", QStringLiteral("Data:")), 1, 0);
    cabecalho->addWidget(rotulo(this, "lblData",
                                e.data.toString(QStringLiteral("dd/MM/yyyy")) + QLatin1Char(' ') +
                                    e.hora.toString(QStringLiteral("HH:mm:ss"))),
                         1, 1);
    cabecalho->addWidget(rotulo(this, "lblMedicoTitulo", QStringLiteral("Médico:")), 1, 2);
    cabecalho->addWidget(rotulo(this, "lblMedico", e.nomeMedico), 1, 3);
    cabecalho->setColumnStretch(1, 1);
    cabecalho->setColumnStretch(3, 1);
    root->addLayout(cabecalho);

    auto* corpo = new QHBoxLayout;
    // The figures on the left.
    auto* valores = new QGroupBox(QStringLiteral("Tempo de ruptura não invasivo"), this);
    valores->setObjectName(QStringLiteral("gbValores"));
    auto* v = new QVBoxLayout(valores);
    QFont grande = font();
    grande.setPointSizeF(font().pointSizeF() * 1.25);
    grande.setBold(true);
    auto* classificacao = rotulo(valores, "lblClassificacao");
    classificacao->setFont(grande);
    classificacao->setAutoFillBackground(true);
    classificacao->setMargin(4);
    QPalette pal = classificacao->palette();
    if (r.broke()) {
        v->addWidget(rotulo(valores, "lblPrimeira", QStringLiteral("Primeira ruptura: ") + segundos(r.firstS)));
        if (!std::isnan(r.averageS))
            v->addWidget(rotulo(valores, "lblMedia", QStringLiteral("Ruptura média: ") + segundos(r.averageS)));
    } else {
        v->addWidget(rotulo(valores, "lblSemRuptura",
                            QStringLiteral("Sem ruptura em %1 de registro").arg(segundos(r.recordedS))));
    }
    // The verdict as the report and the PACS get it; an inconclusive one says why.
    const lagrima::TearFilmVerdict veredito = lagrima::verdictOf(r);
    classificacao->setText(veredito.words);
    pal.setColor(QPalette::Window, veredito.kind == lagrima::TearFilmVerdict::Altered    ? QColor(200, 30, 30)
                                   : veredito.kind == lagrima::TearFilmVerdict::Normal ? QColor(30, 130, 60)
                                                                                       : QColor(230, 160, 0));
    pal.setColor(QPalette::WindowText, Qt::white);
    classificacao->setPalette(pal);
    v->addWidget(classificacao);
    if (!veredito.reason.isEmpty()) {
        auto* motivo = rotulo(valores, "lblMotivo", QStringLiteral("Motivo: ") + veredito.reason);
        motivo->setWordWrap(true);
        v->addWidget(motivo);
    }
    if (!std::isnan(r.blinkS))
        v->addWidget(rotulo(valores, "lblPiscada", QStringLiteral("Piscada aos ") + segundos(r.blinkS)));
    v->addWidget(rotulo(valores, "lblArea",
                        QStringLiteral("Área rompida ao final: %1%").arg(std::lround(r.brokenPercentAtEnd()))));
    v->addWidget(rotulo(valores, "lblRegistro",
                        QStringLiteral("Registro: %1 a %2 quadros/s")
                            .arg(segundos(r.recordedS), QString::number(r.fps, 'f', 0))));
    auto* frase = rotulo(valores, "lblFrase", lagrima::reportSentence(r));
    frase->setWordWrap(true);
    v->addSpacing(8);
    v->addWidget(frase);
    v->addStretch();
    valores->setMinimumWidth(260);
    corpo->addWidget(valores, 0);

    // The map and the curve on the right.
    auto* figuras = new QVBoxLayout;
    auto* mapa = new QLabel(this);
    mapa->setObjectName(QStringLiteral("imgMapaRuptura"));
    mapa->setPixmap(QPixmap::fromImage(lagrima::drawBreakTimeMap(r, kMapa)));
    mapa->setFixedSize(kMapa);
    figuras->addWidget(mapa, 0, Qt::AlignHCenter);
    figuras->addWidget(rotulo(this, "lblCurvaTitulo", QStringLiteral("Área rompida (%) ao longo do registro (s)")));
    figuras->addWidget(new CurvaArea(r, this), 1);
    corpo->addLayout(figuras, 1);
    root->addLayout(corpo, 1);

    auto* botoes = new QDialogButtonBox(this);
    botoes->setObjectName(QStringLiteral("pnlBotoes"));
    if (modo == Modo::Novo) {
        auto* gravar = botoes->addButton(QStringLiteral("&Gravar"), QDialogButtonBox::AcceptRole);
        gravar->setObjectName(QStringLiteral("btnGravar"));
        gravar->setDefault(true);
        auto* descartar = botoes->addButton(QStringLiteral("&Descartar"), QDialogButtonBox::RejectRole);
        descartar->setObjectName(QStringLiteral("btnDescartar"));
        descartar->setAutoDefault(false);
    } else {
        auto* fechar = botoes->addButton(QStringLiteral("&Fechar"), QDialogButtonBox::RejectRole);
        fechar->setObjectName(QStringLiteral("btnFechar"));
        fechar->setDefault(true);
    }
    connect(botoes, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(botoes, &QDialogButtonBox::rejected, this, &QDialog::reject);
    root->addWidget(botoes);
    // Fits a 1024 x 768 screen with its task bar and the window frame.
    resize(940, 620);
}

void TfrmLagrima::reject() {
    if (modo_ == Modo::Novo &&
        showMessage(QStringLiteral("Descartar este exame de filme lacrimal? O resultado e a gravação não serão guardados."),
                    TearFilmExam::kCaption, MsgIcon::Question, MsgButtons::YesNo, this) != MsgAnswer::Yes)
        return;
    QDialog::reject();
}

bool TfrmLagrima::decide(QWidget* parent, const QString& paciente, const TExameLagrima& exame,
                         const lagrima::TearFilmResult& result) {
    TfrmLagrima w(exame, result, paciente, Modo::Novo, parent);
    return w.exec() == QDialog::Accepted;
}

void TfrmLagrima::mostra(QWidget* parent, int codigo, const QString& paciente) {
    std::optional<TExameLagrima> e;
    try {
        e = DLagrima().SelectByCodigo(codigo);
    } catch (const Error& err) {
        showMessage(err.message(), TearFilmExam::kCaption, MsgIcon::Error, MsgButtons::Ok, parent);
        return;
    }
    if (!e) {
        showMessage(QStringLiteral("O exame não foi encontrado (pode ter sido excluído em outra estação de trabalho)."),
                    TearFilmExam::kCaption, MsgIcon::Error, MsgButtons::Ok, parent);
        return;
    }
    lagrima::TearFilmResult r;
    QString erro;
    if (!e->result(&r, &erro)) {
        showMessage(erro, TearFilmExam::kCaption, MsgIcon::Error, MsgButtons::Ok, parent);
        return;
    }
    TfrmLagrima w(*e, r, paciente, Modo::Gravado, parent);
    w.exec();
}

bool TfrmLagrima::escolheOlho(QWidget* parent, const QStringList& medicos, int* olho, QString* medico) {
    QDialog d(parent);
    d.setObjectName(QStringLiteral("frmLagrimaOlho"));
    d.setWindowTitle(TearFilmExam::kCaption);
    auto* l = new QVBoxLayout(&d);
    auto* grupo = new QGroupBox(QStringLiteral("Olho"), &d);
    auto* g = new QHBoxLayout(grupo);
    auto* direito = new QRadioButton(QStringLiteral("&Direito (OD)"), grupo);
    direito->setObjectName(QStringLiteral("rbtDireito"));
    auto* esquerdo = new QRadioButton(QStringLiteral("&Esquerdo (OS)"), grupo);
    esquerdo->setObjectName(QStringLiteral("rbtEsquerdo"));
    (*olho == 0 ? esquerdo : direito)->setChecked(true);
    g->addWidget(direito);
    g->addWidget(esquerdo);
    l->addWidget(grupo);
    auto* form = new QFormLayout;
    auto* combo = new QComboBox(&d);
    combo->setObjectName(QStringLiteral("cbMedico"));
    combo->addItems(medicos);
    combo->setCurrentIndex(std::max(0, int(medicos.indexOf(*medico))));
    form->addRow(QStringLiteral("&Médico responsável:"), combo);
    l->addLayout(form);
    auto* aviso = new QLabel(QStringLiteral("Peça ao paciente que pisque e mantenha o olho aberto; a gravação começa "
                                            "logo após a piscada e vai até a próxima, ou até %1 s.")
                                 .arg(TearFilmExam::kMaxSeconds),
                             &d);
    aviso->setWordWrap(true);
    l->addWidget(aviso);
    auto* botoes = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &d);
    botoes->button(QDialogButtonBox::Ok)->setText(QStringLiteral("&Gravar filme"));
    botoes->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Cancelar"));
    QObject::connect(botoes, &QDialogButtonBox::accepted, &d, &QDialog::accept);
    QObject::connect(botoes, &QDialogButtonBox::rejected, &d, &QDialog::reject);
    l->addWidget(botoes);
    if (d.exec() != QDialog::Accepted) return false;
    *olho = direito->isChecked() ? 1 : 0;
    *medico = combo->currentText();
    return true;
}

}  // namespace norvix

#include "UfrmWizLaudo.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QStringDecoder>
#include <QVBoxLayout>

#include "LaudoPdf.h"
#include "UfrmLaudo.h"
#include "exams/UfrmExames.h"
#include "platform/Cp1252.h"
#include "platform/ui/MessageSeam.h"
#include "records/Exclusao.h"
#include "records/UArquivosExame.h"
#include "records/UDLaudos.h"
#include "records/UfrmDataModule.h"
#include "shell/HelpViewer.h"

namespace norvix {

QPointer<TfrmWizLaudo> TfrmWizLaudo::instance_;

namespace {

const QString kInformacao = QStringLiteral("Informação");

// The picture panel at the left of the wizard.
class PainelFigura : public QFrame {
public:
    using QFrame::QFrame;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        QLinearGradient g(0, 0, 0, height());
        g.setColorAt(0, QColor(31, 78, 140));
        g.setColorAt(1, QColor(160, 196, 232));
        p.fillRect(rect(), g);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(QColor(255, 255, 255, 170), 2));
        const QPointF c(width() / 2.0, height() * 0.42);
        for (int r = 8; r <= 64; r += 8) p.drawEllipse(c, r, r);
        p.setPen(Qt::white);
        QFont f = font();
        f.setBold(true);
        f.setPixelSize(16);
        p.setFont(f);
        p.drawText(QRect(0, int(height() * 0.72), width(), 30), Qt::AlignCenter, QStringLiteral("Laudo"));
    }
};

// One stored report of the patient as the lists need it.
struct LaudoDoPaciente {
    int codigo = 0, medidaOD = -1, medidaOS = -1;
    QDate data;
    QTime hora;
};

QString medicoDoExame(int exame) {
    if (exame < 1) return {};
    return norvix::DMPrincipal().selectString(
        QStringLiteral("SELECT Medicos.Nome FROM Exames JOIN Medicos ON Medicos.Codigo = Exames.CodResp "
                       "WHERE Exames.Codigo = :Codigo"),
        {{"Codigo", exame}}, QStringLiteral("Nome"), norvix::TDMPrincipal::Close::Yes);
}

QList<LaudoDoPaciente> laudosDoPaciente(int paciente) {
    QList<LaudoDoPaciente> laudos;
    norvix::FbQuery& q = norvix::DMPrincipal().openQuery(
        norvix::DMPrincipal().IBOperation,
        QStringLiteral("SELECT Codigo, MedidaOD, MedidaOS, Data, Hora FROM Laudos WHERE Laudos.CodPaciente = "
                       ":CodPaciente ORDER BY Codigo"),
        {{"CodPaciente", paciente}});
    for (; !q.eof(); q.next()) {
        laudos.append({q.asInt(QStringLiteral("Codigo")),
                       q.isNull(QStringLiteral("MedidaOD")) ? -1 : q.asInt(QStringLiteral("MedidaOD")),
                       q.isNull(QStringLiteral("MedidaOS")) ? -1 : q.asInt(QStringLiteral("MedidaOS")),
                       q.asDate(QStringLiteral("Data")), q.asTime(QStringLiteral("Hora"))});
    }
    q.close();
    return laudos;
}

// "OD - dd/MM/yyyy HH:mm:ss" of a stored exam; false when the exam no longer exists.
bool linhaDoExame(const QString& olho, int exame, QString* linha) {
    linha->clear();
    if (exame < 1) return true;
    norvix::FbQuery& q = norvix::DMPrincipal().openQuery(
        norvix::DMPrincipal().IBOperation,
        QStringLiteral("SELECT Data, Hora FROM Exames WHERE Exames.Codigo = :Codigo"), {{"Codigo", exame}});
    const bool existe = !q.eof();
    if (existe)
        *linha = olho + QStringLiteral(" - ") + q.asDate(QStringLiteral("Data")).toString(QStringLiteral("dd/MM/yyyy")) +
                 QLatin1Char(' ') + q.asTime(QStringLiteral("Hora")).toString(QStringLiteral("HH:mm:ss"));
    q.close();
    return existe;
}

}  // namespace

void registerReportWindows() {
    TfrmExames::openers().laudo = [](TfrmExames& browser) { TfrmWizLaudo::Abre(browser); };
    TfrmExames::openers().laudoPdf = imprimeLaudoSalvo;
}

TfrmWizLaudo::TfrmWizLaudo(TfrmExames* browser, QWidget* parent) : QDialog(parent), browser_(browser) {
    setObjectName(QStringLiteral("frmWizLaudo"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Assistente de Laudo"));
    norvix::help::setContext(this, 25);
    buildUi();
    instance_ = this;
}

TfrmWizLaudo::~TfrmWizLaudo() = default;

void TfrmWizLaudo::Abre(TfrmExames& browser) {
    if (instance_) return;
    auto* w = new TfrmWizLaudo(&browser, &browser);
    w->FormShow();
    w->exec();
}

QString TfrmWizLaudo::TextoLaudo(int codigo, const QDate& data, const QTime& hora) {
    return QStringLiteral("Laudo %1 - %2 %3")
        .arg(codigo)
        .arg(data.toString(QStringLiteral("dd/MM/yyyy")), hora.toString(QStringLiteral("HH:mm:ss")));
}

int TfrmWizLaudo::CodigoDoTexto(const QString& texto) {
    const int traco = texto.indexOf(QLatin1Char('-'), 6);
    if (traco < 7) return 0;
    bool ok = false;
    const int codigo = texto.mid(6, traco - 6).chopped(1).toInt(&ok);
    return ok ? codigo : 0;
}

void TfrmWizLaudo::buildUi() {
    setFixedSize(585, 420);
    auto* raiz = new QHBoxLayout(this);
    raiz->setContentsMargins(0, 0, 12, 12);
    auto* figura = new PainelFigura(this);
    figura->setObjectName(QStringLiteral("pnlFigura"));
    figura->setFixedWidth(161);
    raiz->addWidget(figura);

    auto* direita = new QVBoxLayout;
    direita->setContentsMargins(8, 12, 0, 0);
    auto* titulo = new QLabel(QStringLiteral("Seleção de Exames e Laudos"), this);
    titulo->setObjectName(QStringLiteral("lblTitulo"));
    QFont tf = titulo->font();
    tf.setBold(true);
    tf.setPixelSize(16);
    titulo->setFont(tf);
    direita->addWidget(titulo);
    direita->addSpacing(6);

    auto combo = [this](const char* nome) {
        auto* c = new QComboBox(this);
        c->setObjectName(QLatin1String(nome));
        return c;
    };
    auto opcao = [this](const char* nome, const QString& texto) {
        auto* r = new QRadioButton(texto, this);
        r->setObjectName(QLatin1String(nome));
        return r;
    };
    rgNovoLau_ = opcao("rgNovoLau", QStringLiteral("Gerar novo laudo"));
    Label2_ = new QLabel(QStringLiteral("Olho Direito"), this);
    Label2_->setObjectName(QStringLiteral("Label2"));
    cmbOD_ = combo("cmbOD");
    Label1_ = new QLabel(QStringLiteral("Olho Esquerdo"), this);
    Label1_->setObjectName(QStringLiteral("Label1"));
    cmbOS_ = combo("cmbOS");
    rbLauExist_ = opcao("rbLauExist", QStringLiteral("Abrir laudo existente"));
    cmbEscLaudo_ = combo("cmbEscLaudo");
    rbExcLaudo_ = opcao("rbExcLaudo", QStringLiteral("Excluir laudo"));
    cmbExcLaudo_ = combo("cmbExcLaudo");
    auto* grupo = new QButtonGroup(this);
    grupo->addButton(rgNovoLau_, 0);
    grupo->addButton(rbLauExist_, 1);
    grupo->addButton(rbExcLaudo_, 2);
    connect(grupo, &QButtonGroup::idClicked, this, [this](int id) { escolhe(id); });

    direita->addWidget(rgNovoLau_);
    auto* olhos = new QGridLayout;
    olhos->setContentsMargins(22, 0, 0, 0);
    olhos->addWidget(Label2_, 0, 0);
    olhos->addWidget(cmbOD_, 0, 1);
    olhos->addWidget(Label1_, 1, 0);
    olhos->addWidget(cmbOS_, 1, 1);
    olhos->setColumnStretch(1, 1);
    direita->addLayout(olhos);
    direita->addSpacing(6);
    direita->addWidget(rbLauExist_);
    auto recuo = [](QWidget* w) {
        auto* l = new QHBoxLayout;
        l->setContentsMargins(22, 0, 0, 0);
        l->addWidget(w);
        return l;
    };
    direita->addLayout(recuo(cmbEscLaudo_));
    direita->addSpacing(6);
    direita->addWidget(rbExcLaudo_);
    direita->addLayout(recuo(cmbExcLaudo_));
    direita->addSpacing(6);

    auto* rgTipoMapa = new QGroupBox(QStringLiteral("Tipo Mapa  "), this);
    rgTipoMapa->setObjectName(QStringLiteral("rgTipoMapa"));
    auto* tipos = new QHBoxLayout(rgTipoMapa);
    rbAxial_ = new QRadioButton(QStringLiteral("Axial"), rgTipoMapa);
    rbAxial_->setObjectName(QStringLiteral("rbAxial"));
    rbTangencial_ = new QRadioButton(QStringLiteral("Tangencial"), rgTipoMapa);
    rbTangencial_->setObjectName(QStringLiteral("rbTangencial"));
    rbAxial_->setChecked(true);
    tipos->addWidget(rbAxial_);
    tipos->addWidget(rbTangencial_);
    direita->addWidget(rgTipoMapa);
    direita->addStretch();

    auto* botoes = new QHBoxLayout;
    botoes->addStretch();
    auto* ok = new QPushButton(QStringLiteral("&OK"), this);
    ok->setObjectName(QStringLiteral("btnOK"));
    ok->setDefault(true);
    auto* cancelar = new QPushButton(QStringLiteral("&Cancelar"), this);
    cancelar->setObjectName(QStringLiteral("btnCancelar"));
    botoes->addWidget(ok);
    botoes->addWidget(cancelar);
    direita->addLayout(botoes);
    raiz->addLayout(direita, 1);
    connect(ok, &QPushButton::clicked, this, [this] { btnOKClick(); });
    connect(cancelar, &QPushButton::clicked, this, [this] { btnCancelarClick(); });

    rgNovoLau_->setChecked(true);
    escolhe(0);
}

void TfrmWizLaudo::FormShow() {
    cmbOD_->clear();
    cmbOS_->clear();
    cmbEscLaudo_->clear();
    cmbExcLaudo_->clear();
    for (const QString& caption : browser_->itemCaptions())
        (caption.startsWith(QLatin1String("OD")) ? cmbOD_ : cmbOS_)->addItem(caption);
    cmbOD_->addItem(QLatin1String(TfrmLaudo::kNenhum));
    cmbOS_->addItem(QLatin1String(TfrmLaudo::kNenhum));

    const QString medico = browser_->filterText();
    try {
        for (const LaudoDoPaciente& l : laudosDoPaciente(browser_->patientCode())) {
            if (medicoDoExame(l.medidaOD) == medico || medicoDoExame(l.medidaOS) == medico) {
                const QString texto = TextoLaudo(l.codigo, l.data, l.hora);
                cmbEscLaudo_->addItem(texto);
                cmbExcLaudo_->addItem(texto);
            }
        }
    } catch (const norvix::Error& e) {
        norvix::showMessage(e.message(), QStringLiteral("Erro"), MsgIcon::Error, MsgButtons::Ok, this);
    }
    cmbEscLaudo_->setCurrentIndex(-1);
    cmbExcLaudo_->setCurrentIndex(-1);
    const bool ha = cmbEscLaudo_->count() > 0;
    rbLauExist_->setEnabled(ha);
    rbExcLaudo_->setEnabled(ha);
}

void TfrmWizLaudo::escolhe(int opcao) {
    for (QWidget* w : std::initializer_list<QWidget*>{cmbOD_, cmbOS_, Label1_, Label2_}) w->setEnabled(opcao == 0);
    cmbEscLaudo_->setEnabled(opcao == 1);
    cmbExcLaudo_->setEnabled(opcao == 2);
    QRadioButton* marcar = opcao == 0 ? rgNovoLau_ : opcao == 1 ? rbLauExist_ : rbExcLaudo_;
    if (!marcar->isChecked()) marcar->setChecked(true);
}

void TfrmWizLaudo::btnOKClick() {
    browser_->showWait();
    browser_->startWaitTimer();
    if (rgNovoLau_->isChecked())
        novoLaudo();
    else if (rbLauExist_->isChecked())
        abreLaudo();
    else
        excluiLaudo();
    browser_->hideWait();
}

void TfrmWizLaudo::novoLaudo() {
    if (!editor_) editor_ = new TfrmLaudo(browser_, this);
    editor_->setPaciente(browser_->patientName(), browser_->patientCode());
    editor_->limpaArvore();
    const auto tipo = rbTangencial_->isChecked() ? norvix::TipoMapa::Tangencial : norvix::TipoMapa::Axial;
    if (!editor_->NewReport(cmbOD_->currentText(), cmbOS_->currentText(), tipo)) {
        delete editor_;
        return;
    }
    editor_->showMaximized();
}

void TfrmWizLaudo::abreLaudo() {
    if (cmbEscLaudo_->currentIndex() < 0) {
        norvix::showMessage(QStringLiteral("Por favor, selecione um laudo para ser aberto."), kInformacao,
                            MsgIcon::Information, MsgButtons::Ok, this);
        return;
    }
    TfrmLaudo::TLaudoAberto laudo;
    laudo.codigo = CodigoDoTexto(cmbEscLaudo_->currentText());
    bool faltamExames = false;
    QString arquivo;
    try {
        norvix::FbQuery& q = norvix::DMPrincipal().openQuery(
            norvix::DMPrincipal().IBOperation,
            QStringLiteral("SELECT MedidaOD, MedidaOS, Data, Hora FROM Laudos WHERE Laudos.Codigo = :Codigo"),
            {{"Codigo", laudo.codigo}});
        const bool existe = !q.eof();
        if (existe) {
            laudo.medidaOD = q.isNull(QStringLiteral("MedidaOD")) ? -1 : q.asInt(QStringLiteral("MedidaOD"));
            laudo.medidaOS = q.isNull(QStringLiteral("MedidaOS")) ? -1 : q.asInt(QStringLiteral("MedidaOS"));
            laudo.data = q.asDate(QStringLiteral("Data"));
            laudo.hora = q.asTime(QStringLiteral("Hora"));
        }
        q.close();
        if (!existe) {
            norvix::showMessage(QStringLiteral("Este laudo foi excluído por outra estação."), kInformacao,
                                MsgIcon::Error, MsgButtons::Ok, this);
            return;
        }
        faltamExames = !linhaDoExame(QStringLiteral("OD"), laudo.medidaOD, &laudo.linhaOD);
        faltamExames = !linhaDoExame(QStringLiteral("OS"), laudo.medidaOS, &laudo.linhaOS) || faltamExames;
        arquivo = norvix::CaminhoLaudo(QString::number(browser_->patientCode()), QString::number(laudo.codigo));
    } catch (const norvix::Error& e) {
        norvix::showMessage(e.message(), QStringLiteral("Erro"), MsgIcon::Error, MsgButtons::Ok, this);
        return;
    }
    if (!QFile::exists(arquivo)) {
        norvix::showMessage(QStringLiteral("Arquivo de laudo não encontrado."), kInformacao, MsgIcon::Error,
                            MsgButtons::Ok, this);
        return;
    }
    try {
        QByteArray dados = norvix::LeArquivoDados(arquivo);
        // A report file saved as UTF-8 by another program: its accents read as such, not garbled.
        QStringDecoder utf8(QStringDecoder::Utf8);
        const QString comoUtf8 = utf8(dados);
        if (!utf8.hasError() && comoUtf8.size() < dados.size()) dados = norvix::toCp1252(comoUtf8);
        const norvix::TSecoesLaudo secoes = norvix::LeLaudo(dados);
        for (size_t i = 0; i < 5; ++i)
            for (const QString& linha : secoes.Linhas[i]) laudo.secoes[i] += QLatin1Char(' ') + linha;
    } catch (const norvix::Error& e) {
        norvix::showMessage(QStringLiteral("Arquivo de laudo %1 inválido: %2")
                                .arg(QDir::toNativeSeparators(arquivo), e.message()),
                            kInformacao, MsgIcon::Error, MsgButtons::Ok, this);
        return;
    }
    if (!editor_) editor_ = new TfrmLaudo(browser_, this);
    editor_->setPaciente(browser_->patientName(), browser_->patientCode());
    editor_->OpenReport(laudo, rbTangencial_->isChecked() ? norvix::TipoMapa::Tangencial : norvix::TipoMapa::Axial);
    if (faltamExames)
        norvix::showMessage(QStringLiteral("Este laudo possui dados de exames já excluídos!"), kInformacao,
                            MsgIcon::Information, MsgButtons::Ok, this);
    editor_->showMaximized();
}

void TfrmWizLaudo::excluiLaudo() {
    const int posicao = cmbExcLaudo_->currentIndex();
    if (posicao < 0) {
        norvix::showMessage(QStringLiteral("Por favor, selecione um laudo para ser excluído."), kInformacao,
                            MsgIcon::Information, MsgButtons::Ok, this);
        return;
    }
    const QString texto = cmbExcLaudo_->currentText();
    if (norvix::showMessage(QStringLiteral("Confirma exclusão do ") + texto + QLatin1Char('?'), kInformacao,
                            MsgIcon::Question, MsgButtons::YesNo, this) == MsgAnswer::Yes) {
        const int codigo = CodigoDoTexto(texto);
        try {
            norvix::DLaudos().DeleteLaudosByCodigo(codigo);
        } catch (const norvix::Error& e) {
            norvix::showMessage(e.message(), QStringLiteral("Erro"), MsgIcon::Error, MsgButtons::Ok, this);
            close();
            return;
        }
        // The outbox's visit holding the report is taken out and the rest of it queued again.
        browser_->afterDeletion(norvix::AnunciaLaudoExcluido(browser_->patientCode(), codigo));
        const QString arquivo =
            norvix::CaminhoLaudo(QString::number(browser_->patientCode()), QString::number(codigo));
        if (QFile::exists(arquivo)) {
            cmbEscLaudo_->removeItem(posicao);
            cmbExcLaudo_->removeItem(posicao);
            if (QFile::remove(arquivo))
                norvix::showMessage(texto + QStringLiteral(" excluído com sucesso."), kInformacao,
                                    MsgIcon::Information, MsgButtons::Ok, this);
            else  // the row is gone; say so rather than claim the file went too
                norvix::showMessage(texto + QStringLiteral(" excluído, mas o arquivo %1 não pôde ser apagado.")
                                                .arg(QDir::toNativeSeparators(arquivo)),
                                    kInformacao, MsgIcon::Warning, MsgButtons::Ok, this);
        } else {
            norvix::showMessage(texto + QStringLiteral(" não encontrado."), kInformacao, MsgIcon::Information,
                                MsgButtons::Ok, this);
        }
    }
    close();
}

}  // namespace norvix

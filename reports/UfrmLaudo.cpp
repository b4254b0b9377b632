#include "UfrmLaudo.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QPushButton>
#include <QTextCursor>
#include <QTextEdit>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "UfrmLauRelat.h"
#include "config/SharedRecords.h"
#include "exams/UfrmExames.h"
#include "modules/HostStream.h"
#include "modules/ModuleBindings.h"
#include "platform/ui/FileDialogSeam.h"
#include "platform/ui/MemoKeys.h"
#include "platform/ui/MessageSeam.h"
#include "records/ExameNovo.h"
#include "records/LaudoNovo.h"
#include "records/UArquivosExame.h"
#include "records/UArquivosExameTexto.h"
#include "records/UDLagrima.h"
#include "records/UDLaudos.h"
#include "records/UfrmDataModule.h"
#include "reports/Lacunas.h"
#include "reports/UBMapOperation.h"
#include "shell/HelpViewer.h"

namespace norvix {

QPointer<TfrmLaudo> TfrmLaudo::instance_;

namespace {

const QColor kCorAtiva(255, 255, 230);
const QColor kCorLacuna(0, 0, 255);
const QColor kCorLacunaAtual(255, 0, 0);
constexpr int kLacunasPintadas = 18;
constexpr int kRoleCodigo = Qt::UserRole;
constexpr int kRoleTexto = Qt::UserRole + 1;

struct CaixaInfo {
    const char* nome;
    const char* rotuloNome;
    const char* rotulo;
    const char* textos;  // lblCaixaSelec while the box is current
    const char* codigo;  // LAUDOSTEXTO.LOCAL
    int grupos;
};
const CaixaInfo kCaixas[5] = {
    {"reCE", "lblCondExames", "Condições do Exame", "Textos para Condições do Exame", "CE", 3},
    {"reOD", "lblOlhoDireito", "Olho Direito", "Textos para o Olho Direito", "DS", 7},
    {"reOS", "lblOlhoEsquerdo", "Olho Esquerdo", "Textos para o Olho Esquerdo", "DS", 7},
    {"reCO", "lblConclusao", "Conclusão", "Textos para a Conclusão", "CO", 16},
    {"reCM", "lblComentarios", "Comentários", nullptr, nullptr, 0},
};

void pintaFundo(QTextEdit* box, const QColor& cor) {
    QPalette p = box->palette();
    p.setColor(QPalette::Base, cor);
    box->setPalette(p);
}

QPushButton* botao(QWidget* pai, const char* nome, const QString& texto) {
    auto* b = new QPushButton(texto, pai);
    b->setObjectName(QLatin1String(nome));
    return b;
}

QString mapaDoTipo(TipoMapa tipo) {
    return norvix::recordText(norvix::paths().DirMapas) + QLatin1Char('/') +
           (tipo == TipoMapa::Axial ? QStringLiteral("Halden.so") : QStringLiteral("Sorvik.so"));
}

}  // namespace

std::function<void(QPrintPreviewDialog&)>& TfrmLaudo::previewHook() {
    static std::function<void(QPrintPreviewDialog&)> hook;
    return hook;
}

norvix::TNotacao& TfrmLaudo::notacao() {
    static norvix::TNotacao n;
    return n;
}

TfrmLaudo::TfrmLaudo(TfrmExames* browser, QWidget* parent) : QDialog(parent), browser_(browser) {
    setObjectName(QStringLiteral("frmLaudo"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Edição de Laudo"));
    norvix::help::setContext(this, 25);
    buildUi();
    instance_ = this;
}

TfrmLaudo::~TfrmLaudo() = default;

void TfrmLaudo::buildUi() {
    resize(790, 597);
    auto* raiz = new QVBoxLayout(this);
    raiz->setContentsMargins(0, 0, 0, 6);
    raiz->setSpacing(4);

    auto* Panel7 = new QFrame(this);
    Panel7->setObjectName(QStringLiteral("Panel7"));
    Panel7->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel7->setAutoFillBackground(true);
    QPalette branco = Panel7->palette();
    branco.setColor(QPalette::Window, Qt::white);
    Panel7->setPalette(branco);
    auto* cabecalho = new QHBoxLayout(Panel7);
    auto* Image1 = new QLabel(Panel7);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setFixedSize(83, 32);
    Image1->setText(QStringLiteral("<b><font color='#1f4e8c'>NORVIX</font></b>"));
    cabecalho->addWidget(Image1);
    cabecalho->addStretch();
    auto* titulo = new QLabel(QStringLiteral("Edição de Laudo  "), Panel7);
    titulo->setObjectName(QStringLiteral("lblTituloLaudo"));
    QFont f = titulo->font();
    f.setFamily(QStringLiteral("Arial"));
    f.setPixelSize(16);
    f.setBold(true);
    titulo->setFont(f);
    cabecalho->addWidget(titulo);
    raiz->addWidget(Panel7);

    auto* Panel8 = new QFrame(this);
    Panel8->setObjectName(QStringLiteral("Panel8"));
    Panel8->setAutoFillBackground(true);
    QPalette creme = Panel8->palette();
    creme.setColor(QPalette::Window, kCorAtiva);
    Panel8->setPalette(creme);
    auto* faixa = new QHBoxLayout(Panel8);
    faixa->setContentsMargins(8, 2, 8, 2);
    lblNome_ = new QLabel(Panel8);
    lblNome_->setObjectName(QStringLiteral("lblNome"));
    QFont fn = lblNome_->font();
    fn.setFamily(QStringLiteral("Arial"));
    fn.setPixelSize(15);
    fn.setBold(true);
    lblNome_->setFont(fn);
    QPalette azul = lblNome_->palette();
    azul.setColor(QPalette::WindowText, Qt::blue);
    lblNome_->setPalette(azul);
    faixa->addWidget(lblNome_);
    raiz->addWidget(Panel8);

    auto* corpo = new QGridLayout;
    corpo->setContentsMargins(8, 4, 8, 0);
    corpo->setHorizontalSpacing(10);
    corpo->setVerticalSpacing(2);
    lblCaixaSelec_ = new QLabel(QStringLiteral("Textos Padrão"), this);
    lblCaixaSelec_->setObjectName(QStringLiteral("lblCaixaSelec"));
    trwLaudo_ = new QTreeWidget(this);
    trwLaudo_->setObjectName(QStringLiteral("trwLaudo"));
    trwLaudo_->setHeaderHidden(true);
    trwLaudo_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    trwLaudo_->setMinimumWidth(177);
    trwLaudo_->setWordWrap(true);
    trwLaudo_->header()->setStretchLastSection(true);
    connect(trwLaudo_, &QTreeWidget::currentItemChanged, this, [this] { trwLaudoChange(); });
    connect(trwLaudo_, &QTreeWidget::itemDoubleClicked, this, [this] { trwLaudoDblClick(); });
    // By keyboard: Shift+Tab in a box brings its texts, Enter fills the gap, Tab goes back.
    trwLaudo_->installEventFilter(this);
    corpo->addWidget(lblCaixaSelec_, 0, 0);
    corpo->addWidget(trwLaudo_, 1, 0, 7, 1);

    for (int i = 0; i < 5; ++i) {
        labels_[size_t(i)] = new QLabel(QString::fromUtf8(kCaixas[i].rotulo), this);
        labels_[size_t(i)]->setObjectName(QLatin1String(kCaixas[i].rotuloNome));
        auto* box = new QTextEdit(this);
        box->setObjectName(QLatin1String(kCaixas[i].nome));
        QFont bf = box->font();
        bf.setFamily(QStringLiteral("Arial"));
        bf.setPixelSize(11);
        box->setFont(bf);
        box->setAcceptRichText(true);
        box->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        box->viewport()->installEventFilter(this);
        box->installEventFilter(this);
        norvix::tabMovesOn(box);
        boxes_[size_t(i)] = box;
    }
    // Conditions across, the two eyes side by side, conclusion and comments across.
    corpo->addWidget(labels_[CE], 0, 1, 1, 2);
    corpo->addWidget(boxes_[CE], 1, 1, 1, 2);
    corpo->addWidget(labels_[OD], 2, 1);
    corpo->addWidget(labels_[OS], 2, 2);
    corpo->addWidget(boxes_[OD], 3, 1);
    corpo->addWidget(boxes_[OS], 3, 2);
    corpo->addWidget(labels_[CO], 4, 1, 1, 2);
    corpo->addWidget(boxes_[CO], 5, 1, 1, 2);
    corpo->addWidget(labels_[CM], 6, 1, 1, 2);
    corpo->addWidget(boxes_[CM], 7, 1, 1, 2);
    corpo->setRowStretch(1, 60);
    corpo->setRowStretch(3, 151);
    corpo->setRowStretch(5, 72);
    corpo->setRowStretch(7, 60);
    corpo->setColumnStretch(0, 177);
    corpo->setColumnStretch(1, 290);
    corpo->setColumnStretch(2, 290);
    raiz->addLayout(corpo, 1);

    auto* botoes = new QHBoxLayout;
    botoes->setContentsMargins(8, 4, 8, 0);
    auto* imprimir = botao(this, "sbtImprimir", QStringLiteral("&Imprimir"));
    auto* visualizar = botao(this, "sbtVisualizarImpr", QStringLiteral("Vi&sualizar Impressão"));
    auto* pdf = botao(this, "sbtSalvarPdf", QStringLiteral("Salvar &PDF"));
    chkIncluirMapas_ = new QCheckBox(QStringLiteral("Incluir mapas"), this);
    chkIncluirMapas_->setObjectName(QStringLiteral("chkIncluirMapas"));
    chkIncluirMapas_->setToolTip(QStringLiteral("Imprime numa página a mais os mapas axiais dos exames do laudo."));
    chkMesmoLau_ = new QCheckBox(QStringLiteral("Mesmo laudo para ambos os olhos"), this);
    chkMesmoLau_->setObjectName(QStringLiteral("chkMesmoLau"));
    chkMesmoLau_->setToolTip(QStringLiteral("Após selecionar clique em um olho pendente."));
    sbtSalvar_ = botao(this, "sbtSalvar", QStringLiteral("Salvar Laudo"));
    // A saved report goes with its exams' visits, as the PACS files them.
    sbtEnviarPacs_ = botao(this, "sbtEnviarPacs", QStringLiteral("E&nviar ao PACS"));
    sbtEnviarPacs_->setToolTip(QStringLiteral("Envia ao PACS o laudo gravado com os exames dele."));
    sbtEnviarPacs_->setEnabled(false);
    sbtEnviarPacs_->setVisible(browser_ && browser_->pacsConfigurado());
    auto* fechar = botao(this, "sbtFechar", QStringLiteral("Fecha&r"));
    auto* ajuda = botao(this, "SpeedButton1", QStringLiteral("?"));
    ajuda->setToolTip(QStringLiteral("Ajuda"));
    ajuda->setFixedWidth(32);
    for (QWidget* w : std::initializer_list<QWidget*>{imprimir, visualizar, pdf, chkIncluirMapas_})
        botoes->addWidget(w);
    botoes->addSpacing(16);
    botoes->addWidget(chkMesmoLau_);
    botoes->addStretch();
    for (QWidget* w : std::initializer_list<QWidget*>{sbtEnviarPacs_, sbtSalvar_, fechar, ajuda}) botoes->addWidget(w);
    raiz->addLayout(botoes);

    connect(imprimir, &QPushButton::clicked, this, [this] { sbtImprimirClick(); });
    connect(visualizar, &QPushButton::clicked, this, [this] { sbtVisualizarImprClick(); });
    connect(pdf, &QPushButton::clicked, this, [this] { sbtSalvarPdfClick(); });
    connect(sbtSalvar_, &QPushButton::clicked, this, [this] { sbtSalvarClick(); });
    connect(sbtEnviarPacs_, &QPushButton::clicked, this, [this] {
        if (browser_ && codLaudo_ > 0) browser_->enviaAoPacs({codOD_, codOS_}, true);
    });
    connect(fechar, &QPushButton::clicked, this, [this] { sbtFecharClick(); });
    connect(ajuda, &QPushButton::clicked, this, [this] { norvix::help::showHelp(25, this); });
}

void TfrmLaudo::setPaciente(const QString& nome, int codigo) {
    lblNome_->setText(nome);
    codPaciente_ = codigo;
}

QString TfrmLaudo::nomePaciente() const { return lblNome_->text(); }

QString TfrmLaudo::medicoEscolhido() const { return browser_ ? browser_->filterText() : QString(); }

bool TfrmLaudo::incluiMapas() const { return chkIncluirMapas_->isChecked(); }

bool TfrmLaudo::emEdicao() const { return sbtSalvar_->isEnabled(); }

void TfrmLaudo::limpaArvore() { trwLaudo_->clear(); }

QString TfrmLaudo::textoResolvido(Caixa c) const { return norvix::TextoImpresso(boxes_[size_t(c)]->toPlainText()); }

void TfrmLaudo::setSomenteLeitura() {
    trwLaudo_->clear();
    trwLaudo_->setEnabled(false);
    lblCaixaSelec_->setEnabled(false);
    for (QTextEdit* b : boxes_) b->setReadOnly(true), b->setEnabled(false);
    chkMesmoLau_->setEnabled(false);
    sbtSalvar_->setEnabled(false);
    sbtEnviarPacs_->setEnabled(codLaudo_ > 0);
}

// ---- a new report -------------------------------------------------------------------------------

void TfrmLaudo::adiciona(Caixa c, const QString& linha) {
    QTextEdit* box = boxes_[size_t(c)];
    QString texto = box->toPlainText();
    if (!texto.isEmpty()) texto += QLatin1Char('\n');
    box->setPlainText(texto + linha);
    pintaLacunas(c);
}

void TfrmLaudo::adicionaFilmeLacrimal(Caixa olho) {
    // The patient's latest tear-film exam of the eye, when there is one and its table exists.
    if (codPaciente_ <= 0 || !norvix::AvisoTabelaLagrima().isEmpty()) return;
    try {
        const auto exame = norvix::DLagrima().UltimoDoOlho(codPaciente_, olho == OD ? QStringLiteral("OD") : QStringLiteral("OS"));
        if (!exame) return;
        const QString frase = norvix::FraseFilmeLacrimal(exame->data, exame->resultado);
        if (!frase.isEmpty()) adiciona(olho, frase);
    } catch (const norvix::Error& e) {
        norvix::showMessage(e.message(), QStringLiteral("Erro"), MsgIcon::Error, MsgButtons::Ok, this);
    }
}

bool TfrmLaudo::calculaOlho(const QString& caption) {
    const bool direito = caption.startsWith(QLatin1String("OD"));
    std::optional<norvix::TValoresMapa>& valores = direito ? valoresOD_ : valoresOS_;
    const std::optional<norvix::TExame> exame = browser_ ? browser_->LocalizaExame(caption) : std::nullopt;
    if (!exame) {
        norvix::showMessage(QStringLiteral("Não foi possivel selecionar o exame."), QStringLiteral("Erro"),
                            MsgIcon::Error, MsgButtons::Ok, this);
        return false;
    }
    const int codigo = exame->codigo;
    const int paciente = exame->paciente;
    // The exam belongs to the report once it is found, whatever the map module does with it.
    (direito ? codOD_ : codOS_) = codigo;
    bool carregou = false;
    try {
        carregou = norvix::MapOperation().Load(norvix::CaminhoArquivoExame(paciente, codigo, 'd').chopped(5));
    } catch (const norvix::Error& e) {
        norvix::showMessage(e.message(), QStringLiteral("Erro"), MsgIcon::Error, MsgButtons::Ok, this);
    }
    if (!carregou) {
        norvix::showMessage(QStringLiteral("Não foi possível processar o mapa selecionado. ERROMAP03"),
                            QStringLiteral("Informação"), MsgIcon::Error, MsgButtons::Ok, this);
        return false;
    }
    TSingleMapBinding modulo;
    if (modulo.LoadModule(mapaDoTipo(tipo_)) && modulo.CanVisualizar()) {
        const norvix::TBMapOperation& dados = norvix::MapOperation();
        norvix::HostStream imagem;
        TResultadoMapa resultado{};
        const int32_t r = modulo.Visualizar(static_cast<QWidget*>(this), imagem, nullptr, nullptr, dados.CentroX(),
                                            dados.CentroY(), &dados.M(), &dados.Meridianos(), &dados.D(), &dados.Pupila(),
                                            &resultado, nullptr, &norvix::infos());
        valores = norvix::ValoresDoMapa(r, resultado);
        TIndicesCeratocone indices{};
        if (valores && modulo.IndicesCeratocone &&
            modulo.IndicesCeratocone(&dados.M(), &dados.Meridianos(), &dados.D(), &norvix::infos(), &indices) == 1)
            (direito ? indicesOD_ : indicesOS_) = indices;
    }
    modulo.ReleaseModule();
    if (!valores) {
        // Another exam's figures must never stand in this report: the sentence keeps blanks.
        norvix::showMessage(QStringLiteral("Não foi possível usar o módulo de mapas para o exame %1: os valores "
                                           "ceratométricos deste olho ficam em branco no laudo.")
                                .arg(caption),
                            QStringLiteral("Atenção"), MsgIcon::Warning, MsgButtons::Ok, this);
    }
    return true;
}

bool TfrmLaudo::NewReport(const QString& captionOD, const QString& captionOS, TipoMapa tipo) {
    if (captionOD.isEmpty() || captionOS.isEmpty()) {
        norvix::showMessage(QStringLiteral("Por favor, verifique se umas das caixas está vazia. Se não desejar um dos "
                                           "olhos, escolha a opção \"Nenhum\"."),
                            QStringLiteral("Informação"), MsgIcon::Error, MsgButtons::Ok, this);
        return false;
    }
    const QString nenhum = QLatin1String(kNenhum);
    linhaOD_ = captionOD;
    linhaOS_ = captionOS;
    tipo_ = tipo;
    codOD_ = codOS_ = -1;
    valoresOD_.reset();
    valoresOS_.reset();
    indicesOD_.reset();
    indicesOS_.reset();
    // The wizard may hand the same editor a second report: everything editable again.
    codLaudo_ = 0;
    sbtEnviarPacs_->setEnabled(false);
    currentBox_ = lastBox_ = -1;
    for (int i = 0; i < 5; ++i) {
        QTextEdit* b = boxes_[size_t(i)];
        b->clear();
        b->setReadOnly(false);
        b->setEnabled(true);
        labels_[size_t(i)]->setEnabled(true);
        pintaFundo(b, Qt::white);
    }
    for (QWidget* w : std::initializer_list<QWidget*>{trwLaudo_, lblCaixaSelec_, chkMesmoLau_, sbtSalvar_})
        w->setEnabled(true);
    gerado_ = {};

    for (const QString& caption : {captionOD, captionOS})
        if (caption != nenhum && !calculaOlho(caption)) return true;  // the editor opens with empty boxes

    for (const QString& linha : norvix::FrasesCondicoes()) adiciona(CE, linha);
    for (Caixa olho : {OS, OD}) {
        const bool tem = (olho == OD ? captionOD : captionOS) != nenhum;
        if (tem) {
            adiciona(olho, norvix::FraseOlho(tipo, olho == OD ? valoresOD_ : valoresOS_, notacao()));
            if (const auto& i = olho == OD ? indicesOD_ : indicesOS_; i && !norvix::FraseCeratocone(*i).isEmpty())
                adiciona(olho, norvix::FraseCeratocone(*i, notacao()));
            adicionaFilmeLacrimal(olho);
        } else {
            boxes_[size_t(olho)]->setEnabled(false);
            labels_[size_t(olho)]->setEnabled(false);
            chkMesmoLau_->setEnabled(false);
        }
    }
    adiciona(CO, norvix::FraseConclusao());
    if (const QString ceratocone = norvix::ConclusaoCeratocone(indicesOD_, indicesOS_); !ceratocone.isEmpty())
        adiciona(CO, ceratocone);
    for (int i = 0; i < 5; ++i) gerado_[size_t(i)] = boxes_[size_t(i)]->toPlainText();
    return true;
}

void TfrmLaudo::OpenReport(const TLaudoAberto& l, TipoMapa tipo) {
    tipo_ = tipo;
    codLaudo_ = l.codigo;
    codOD_ = l.medidaOD;
    codOS_ = l.medidaOS;
    linhaOD_ = l.linhaOD;
    linhaOS_ = l.linhaOS;
    dataLaudo_ = l.data;
    horaLaudo_ = l.hora;
    for (int i = 0; i < 5; ++i) boxes_[size_t(i)]->setPlainText(l.secoes[size_t(i)]);
    setSomenteLeitura();
}

// ---- gaps and standard texts --------------------------------------------------------------------

void TfrmLaudo::clicaCaixa(Caixa c) {
    if (c == CM) {
        for (int i = CE; i <= CO; ++i) pintaFundo(boxes_[size_t(i)], Qt::white);
        pintaLacunas(lastBox_);
        return;
    }
    currentBox_ = c;
    lblCaixaSelec_->setText(QString::fromUtf8(kCaixas[c].textos));
    for (int i = CE; i <= CO; ++i) pintaFundo(boxes_[size_t(i)], i == c ? kCorAtiva : QColor(Qt::white));
    carregaTextosPadrao(QLatin1String(kCaixas[c].codigo), kCaixas[c].grupos);
    pintaLacunas(lastBox_);
}

void TfrmLaudo::saiCaixa() { lastBox_ = currentBox_; }

void TfrmLaudo::carregaTextosPadrao(const QString& codigo, int grupos) {
    trwLaudo_->clear();
    for (int n = 1; n <= grupos; ++n) {
        auto* no = new QTreeWidgetItem(trwLaudo_, {QString::number(n)});
        QList<norvix::TFraseLaudo> frases;
        try {
            frases = norvix::DLaudos().SelectFrases(codigo, n);
        } catch (const norvix::Error& e) {
            norvix::showMessage(e.message(), QStringLiteral("Erro"), MsgIcon::Error, MsgButtons::Ok, this);
            return;
        }
        for (const norvix::TFraseLaudo& frase : frases) {
            auto* filho = new QTreeWidgetItem(
                no, {frase.Texto.isEmpty() ? QStringLiteral("\"Em Branco\"") : frase.Texto});
            filho->setToolTip(0, frase.Texto);
            filho->setData(0, kRoleCodigo, frase.Codigo);
            filho->setData(0, kRoleTexto, frase.Texto);
        }
    }
}

int TfrmLaudo::numeroSelecionado() const {
    const QTreeWidgetItem* item = trwLaudo_->currentItem();
    if (!item) return 0;
    if (item->parent()) item = item->parent();
    return trwLaudo_->indexOfTopLevelItem(const_cast<QTreeWidgetItem*>(item)) + 1;
}

void TfrmLaudo::pintaLacunas(int caixa) {
    if (caixa < CE || caixa > CO) return;
    QTextEdit* box = boxes_[size_t(caixa)];
    const int atual = numeroSelecionado();
    const QList<norvix::TLacuna> lacunas = norvix::Lacunas(box->toPlainText());
    QTextCursor cursor(box->document());
    for (int k = 0; k < lacunas.size() && k < kLacunasPintadas; ++k) {
        cursor.setPosition(lacunas[k].inicio);
        cursor.setPosition(lacunas[k].inicio + lacunas[k].tamanho, QTextCursor::KeepAnchor);
        QTextCharFormat formato;
        formato.setForeground(k + 1 == atual ? kCorLacunaAtual : kCorLacuna);
        cursor.mergeCharFormat(formato);
    }
}

void TfrmLaudo::trwLaudoChange() {
    pintaLacunas(currentBox_);
    if (currentBox_ >= 0) pintaFundo(boxes_[size_t(currentBox_)], kCorAtiva);
}

void TfrmLaudo::preenche(int caixa, int n, const QString& texto) {
    QTextEdit* box = boxes_[size_t(caixa)];
    const QString antes = box->toPlainText();
    const QList<norvix::TLacuna> lacunas = norvix::Lacunas(antes);
    if (n <= lacunas.size() && !lacunas[n - 1].preenchivel()) {
        norvix::showMessage(QStringLiteral("A lacuna %1 da caixa \"%2\" não pôde ser preenchida: há um \"#\" sem par "
                                           "antes dela. Corrija o texto da caixa e tente de novo.")
                                .arg(n)
                                .arg(QString::fromUtf8(kCaixas[caixa].rotulo)),
                            QStringLiteral("Atenção"), MsgIcon::Warning, MsgButtons::Ok, this);
        return;
    }
    const QString depois = norvix::PreencheLacuna(antes, n, texto);
    if (depois == antes) return;
    box->setPlainText(depois);
    pintaLacunas(caixa);
}

void TfrmLaudo::trwLaudoDblClick() {
    const QTreeWidgetItem* item = trwLaudo_->currentItem();
    if (!item || !item->parent() || currentBox_ < 0) return;
    const int n = trwLaudo_->indexOfTopLevelItem(item->parent()) + 1;
    const QString texto = item->data(0, kRoleTexto).toString();
    preenche(currentBox_, n, texto);
    if (chkMesmoLau_->isChecked() && (currentBox_ == OD || currentBox_ == OS))
        preenche(currentBox_ == OD ? OS : OD, n, texto);
}

// ---- saving -------------------------------------------------------------------------------------

void TfrmLaudo::sbtSalvarClick() {
    auto lista = [](const QList<int>& numeros) {
        QString s;
        for (int n : numeros) s += QString::number(n) + QLatin1Char(' ');
        return s;
    };
    const QList<int> od = norvix::LacunasObrigatoriasAbertas(boxes_[OD]->toPlainText());
    const QList<int> os = norvix::LacunasObrigatoriasAbertas(
        boxes_[chkMesmoLau_->isChecked() ? OD : OS]->toPlainText());
    const QList<int> co = norvix::LacunasObrigatoriasAbertas(boxes_[CO]->toPlainText());
    QString texto;
    if (!od.isEmpty()) texto += QStringLiteral("Caixa Olho Direito: ") + lista(od) + QLatin1Char(' ');
    if (!os.isEmpty()) texto += QStringLiteral("Caixa Olho Esquerdo: ") + lista(os);
    if (!co.isEmpty()) texto += QStringLiteral("Caixa Conclusão: ") + lista(co);
    if (!od.isEmpty() || !os.isEmpty() || !co.isEmpty()) {
        const MsgAnswer r = norvix::showMessage(
            QStringLiteral("Algumas caixas obrigatórias estão sem preencher. Deseja alterá-las?\n\r") + texto,
            QStringLiteral("Informação"), MsgIcon::Question, MsgButtons::YesNo, this);
        if (r == MsgAnswer::Yes) return;
    }
    salva();
}

void TfrmLaudo::salva() {
    norvix::TLaudoNovo laudo;
    laudo.paciente = codPaciente_;
    laudo.medidaOD = codOD_;
    laudo.medidaOS = codOS_;
    const QDateTime agora = norvix::Relogio().Agora();
    laudo.data = agora.date();
    laudo.hora = QTime(agora.time().hour(), agora.time().minute(), agora.time().second());
    for (int i = 0; i < 5; ++i) laudo.caixas[size_t(i)] = boxes_[size_t(i)]->toPlainText();
    try {
        codLaudo_ = norvix::GravaLaudoNovo(laudo);
    } catch (const norvix::Error& e) {
        norvix::showMessage(QStringLiteral("Não foi possível gravar o arquivo de laudo.\n") + e.message(),
                            QStringLiteral("Informação"), MsgIcon::Error, MsgButtons::Ok, this);
        return;
    }
    dataLaudo_ = laudo.data;
    horaLaudo_ = laudo.hora;
    norvix::showMessage(QStringLiteral("Laudo gravado com sucesso."), QStringLiteral("Informação"),
                        MsgIcon::Information, MsgButtons::Ok, this);
    setSomenteLeitura();
    if (browser_) browser_->enviaAoPacsSeAutomatico({codOD_, codOS_});
}

// ---- the printed page ---------------------------------------------------------------------------

void TfrmLaudo::sbtVisualizarImprClick() {
    TfrmLauRelat relat;
    relat.PreparaRelat(*this);
    QPrintPreviewDialog previa(this);
    previa.setObjectName(QStringLiteral("dlgVisualizarImpr"));
    previa.setWindowTitle(QStringLiteral("Visualizar Impressão"));
    TfrmLauRelat::ConfiguraImpressora(*previa.printer());
    connect(&previa, &QPrintPreviewDialog::paintRequested, &previa, [&relat](QPrinter* printer) {
        relat.Desenha(*printer);
    });
    if (previewHook())
        previewHook()(previa);
    else
        previa.exec();
}

std::function<void(QPrinter&)>& TfrmLaudo::impressoraHook() {
    static std::function<void(QPrinter&)> hook;
    return hook;
}

void TfrmLaudo::sbtImprimirClick() {
    TfrmLauRelat relat;
    relat.PreparaRelat(*this);
    QPrinter printer(QPrinter::HighResolution);
    TfrmLauRelat::ConfiguraImpressora(printer);
    if (impressoraHook()) impressoraHook()(printer);
    if (!relat.Desenha(printer)) {
        norvix::showMessage(QStringLiteral("Não foi possível imprimir o laudo. Verifique a impressora e tente de "
                                           "novo; o laudo continua aberto."),
                            QStringLiteral("Erro"), MsgIcon::Error, MsgButtons::Ok, this);
    }
}

void TfrmLaudo::sbtSalvarPdfClick() {
    QString nome = nomePaciente().trimmed();
    nome.replace(QLatin1Char('/'), QLatin1Char('-'));
    const QDate dia = codLaudo_ ? dataLaudo_ : norvix::Relogio().Agora().date();
    nome += QLatin1Char(' ') + dia.toString(QStringLiteral("dd-MM-yyyy")) + QStringLiteral(".pdf");
    QString caminho = norvix::askFileName({norvix::FileDialogRequest::Save, QStringLiteral("Salvar PDF"),
                                           QDir::homePath(), nome, QStringLiteral("Documento PDF (*.pdf)")},
                                          this);
    if (caminho.isEmpty()) return;
    if (!caminho.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive)) caminho += QStringLiteral(".pdf");
    TfrmLauRelat relat;
    relat.PreparaRelat(*this);
    try {
        relat.GravaPdf(caminho);
    } catch (const norvix::Error& e) {
        norvix::showMessage(e.message(), QStringLiteral("Erro"), MsgIcon::Error, MsgButtons::Ok, this);
        return;
    }
    norvix::showMessage(QStringLiteral("Laudo gravado em PDF: %1").arg(QDir::toNativeSeparators(caminho)),
                        QStringLiteral("Informação"), MsgIcon::Information, MsgButtons::Ok, this);
}

// ---- events -------------------------------------------------------------------------------------

bool TfrmLaudo::eventFilter(QObject* watched, QEvent* event) {
    if (watched == trwLaudo_ && event->type() == QEvent::KeyPress && teclaNaArvore(static_cast<QKeyEvent*>(event)))
        return true;
    for (int i = 0; i < 5; ++i) {
        QTextEdit* box = boxes_[size_t(i)];
        if (event->type() == QEvent::MouseButtonPress && watched == box->viewport() && box->isEnabled())
            clicaCaixa(Caixa(i));
        else if (event->type() == QEvent::FocusOut && watched == box && i != CM)
            saiCaixa();
        else if (event->type() == QEvent::FocusIn && watched == box && box->isEnabled()) {
            // Reached by Tab as by a click; a focus that comes back from a message keeps the tree.
            const Qt::FocusReason why = static_cast<QFocusEvent*>(event)->reason();
            if (why == Qt::TabFocusReason || why == Qt::BacktabFocusReason || why == Qt::ShortcutFocusReason)
                clicaCaixa(Caixa(i));
        } else if (event->type() == QEvent::KeyPress && watched == box && i != CM && box->isEnabled() &&
                   static_cast<QKeyEvent*>(event)->key() == Qt::Key_Backtab) {
            trwLaudo_->setFocus(Qt::BacktabFocusReason);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

bool TfrmLaudo::teclaNaArvore(QKeyEvent* key) {
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
        QTreeWidgetItem* item = trwLaudo_->currentItem();
        if (item && !item->parent()) {
            item->setExpanded(!item->isExpanded());
        } else {
            trwLaudoDblClick();
        }
        return true;
    }
    if (key->key() == Qt::Key_Tab && key->modifiers() == Qt::NoModifier && currentBox_ >= 0) {
        boxes_[size_t(currentBox_)]->setFocus(Qt::OtherFocusReason);
        return true;
    }
    return false;
}

bool TfrmLaudo::alterado() const {
    if (!emEdicao()) return false;
    for (int i = 0; i < 5; ++i)
        if (boxes_[size_t(i)]->toPlainText() != gerado_[size_t(i)]) return true;
    return false;
}

bool TfrmLaudo::podeFechar() {
    if (!alterado()) return true;
    const MsgAnswer r = norvix::showMessage(QStringLiteral("Deseja salvar o laudo?"), QStringLiteral("Informação"),
                                            MsgIcon::Question, MsgButtons::YesNoCancel, this);
    if (r == MsgAnswer::No) return true;
    if (r != MsgAnswer::Yes) return false;
    sbtSalvarClick();
    return !emEdicao();  // saved; otherwise the operator goes back to the gaps or the failure
}

void TfrmLaudo::reject() {
    // Esc comes straight here, "Fechar" and the close box through closeEvent: all of them take
    // the wizard along.
    if (!podeFechar()) return;
    QDialog::reject();
    fechaAssistente();
}

void TfrmLaudo::closeEvent(QCloseEvent* event) {
    QDialog::closeEvent(event);  // through reject(), which may keep the editor open
    if (event->isAccepted()) fechaAssistente();
}

void TfrmLaudo::fechaAssistente() {
    if (auto* assistente = qobject_cast<QDialog*>(parentWidget()))
        QMetaObject::invokeMethod(assistente, "close", Qt::QueuedConnection);
}

}  // namespace norvix

#include "UfrmNovoExame.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <cmath>

#include "ExamMaps.h"
#include "OrthokeratologyExam.h"
#include "TopographyExam.h"
#include "UfrmExames.h"
#include "config/SharedRecords.h"
#include "platform/Logging.h"
#include "platform/ui/MemoKeys.h"
#include "platform/ui/MemoLimit.h"
#include "platform/ui/MessageSeam.h"
#include "records/ExameNovo.h"
#include "records/UDMedicos.h"
#include "records/UDPacientes.h"
#include "records/UfrmDataModule.h"
#include "shell/HelpViewer.h"
#include "shell/UfrmAguarde.h"
#include "shell/UfrmDica.h"

namespace norvix {

QPointer<TfrmNovoExame> TfrmNovoExame::instance_;

namespace {

constexpr int kLargura = 760;
constexpr int kAlturaCompacta = 320;
constexpr int kAlturaExpandida = 582;
constexpr int kLimiteMemo = 240;    // DIAG and OBSERVACAO hold 240 characters
const QColor kVermelho(255, 0, 0);  // colour value 255
const QColor kAzul(0, 0, 255);      // colour value 16711680
const char* const kPassos[4] = {"Digitalizar Imagem", "Detectar Aneis", "Visualizar Mapa", "Gravar Exame"};

QString kNaoSalvou() {
    return QStringLiteral(
        "Não foi possivel salvar o exame, verifique se o disco rigido\r"
        "está cheio ou entre em contato com a nossa assistência técnica.");
}

QString kOutraEstacao() {
    return QStringLiteral(
        "Outra estação de trabalho está alterando o cadastro deste paciente neste momento, e o exame ainda "
        "não foi gravado. Nada foi perdido: o exame continua nesta janela.\n\n"
        "Escolha \"Tentar novamente\" em alguns instantes, ou \"Cancelar\" para gravá-lo depois com \"Executar\".");
}

// The step pictures, drawn rather than shipped: an arrow at the step to perform, a check at
// each step done.
QPixmap seta() {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(5, 94, 149));
    p.drawPolygon(QPolygonF({QPointF(3, 2), QPointF(14, 8), QPointF(3, 14)}));
    return pm;
}

QPixmap visto() {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0, 140, 60), 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QPolygonF({QPointF(2.5, 8.5), QPointF(6.5, 12.5), QPointF(13.5, 3.5)}));
    return pm;
}

QPixmap ajuda() {
    QPixmap pm(28, 36);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(5, 94, 149), 2));
    p.setBrush(QColor(255, 236, 150));
    p.drawEllipse(QRectF(6, 6, 17, 23));
    p.setPen(QColor(5, 94, 149));
    p.setFont(QFont(QStringLiteral("DejaVu Sans"), 11, QFont::Bold));
    p.drawText(QRectF(6, 6, 17, 23), Qt::AlignCenter, QStringLiteral("?"));
    return pm;
}

QLabel* rotulo(QWidget* pai, const char* nome, const QString& texto) {
    auto* l = new QLabel(texto, pai);
    l->setObjectName(QLatin1String(nome));
    return l;
}

void pinta(QLabel* l, const QColor& cor) {
    QPalette pal = l->palette();
    pal.setColor(QPalette::WindowText, cor);
    l->setPalette(pal);
}

// A memo that holds at most what its column takes.
QPlainTextEdit* memo(QWidget* pai, const char* nome) {
    auto* m = new QPlainTextEdit(pai);
    m->setObjectName(QLatin1String(nome));
    norvix::limitMemo(m, kLimiteMemo);
    norvix::tabMovesOn(m);
    return m;
}

QString textoOlho(int olho) {
    return olho == TfrmNovoExame::kDireito ? QStringLiteral("Olho Direito") : QStringLiteral("Olho Esquerdo");
}

}  // namespace

// ---- construction ----------------------------------------------------------------------------

TfrmNovoExame::TfrmNovoExame(TfrmExames* browser, Tipo tipo, QWidget* parent, int paciente)
    : QDialog(parent, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      browser_(browser),
      tipo_(tipo),
      kind_(norvix::makeExamKind(tipo == Tipo::Ortoceratologia ? norvix::ExamKind::Id::Orthokeratology
                                                               : norvix::ExamKind::Id::Topography)) {
    instance_ = this;
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("frmNovoExame"));
    setWindowTitle(QStringLiteral("Assistente para criação do exame") + kind_->titleSuffix());
    setModal(true);
    norvix::help::setContext(this, 7);
    for (Olho& o : olhos_) {
        o.bitmap = QImage(640, 480, QImage::Format_RGB32);
        o.bitmap.fill(Qt::black);
    }
    // The patient examined is the browser's current patient, read by its code now; a later
    // move of the browser (its refresh after the first eye's save) does not change it.
    if (paciente == 0 && browser_) paciente = browser_->patientCode();
    if (paciente > 0) {
        if (const auto p = norvix::DPacientes().SelectPacienteByCodigo(paciente)) {
            paciente_ = p->codigo;
            nomePaciente_ = p->nome;
            rgPaciente_ = p->rg;
        }
    }
    buildUi();
}

TfrmNovoExame::~TfrmNovoExame() = default;

const norvix::TMedidaOlho* TfrmNovoExame::medida(int olho) const {
    const auto* topografia = dynamic_cast<const norvix::TopographyExam*>(kind_.get());
    return topografia ? topografia->measure(olho) : nullptr;
}

std::array<double, 4> TfrmNovoExame::confiancasOrto(int olho) const {
    const auto* orto = dynamic_cast<const norvix::OrthokeratologyExam*>(kind_.get());
    return orto ? orto->confidences(olho) : std::array<double, 4>{};
}

void TfrmNovoExame::Abre(TfrmExames& browser, bool orto) {
    if (browser.patientCode() <= 0) {
        showMessage(QStringLiteral("Selecione um Paciente para efetuar o exame!"), QStringLiteral("Informação"),
                    MsgIcon::Error, MsgButtons::Ok, &browser);
        return;
    }
    if (!instance_) new TfrmNovoExame(&browser, orto ? Tipo::Ortoceratologia : Tipo::Topografia, &browser);
    instance_->rbtAxial_->setEnabled(true);
    instance_->rbtTangencial_->setEnabled(true);
    instance_->exec();
}

void registerNewExamWindow() {
    TfrmExames::openers().novoExame = [](TfrmExames& browser, bool orto) { TfrmNovoExame::Abre(browser, orto); };
}

void TfrmNovoExame::buildUi() {
    setFixedSize(kLargura, kAlturaCompacta);

    // The help icon, its hint and the notice beside it.
    Image4_ = new QLabel(this);
    Image4_->setObjectName(QStringLiteral("Image4"));
    Image4_->setPixmap(ajuda());
    Image4_->setGeometry(8, 8, 28, 36);
    Image4_->setMouseTracking(true);
    Image4_->installEventFilter(this);
    auto* importante = rotulo(this, "lblMens1", QStringLiteral("Importante:"));
    QFont negrito = importante->font();
    negrito.setBold(true);
    importante->setFont(negrito);
    importante->setGeometry(44, 6, 420, 18);
    auto* aviso = rotulo(this, "lblMens2",
                         QStringLiteral("As imagens frontal e lateral somente serão impressas na primeira vez em que o "
                                        "exame for visualizado, ou seja, no momento da criação do exame. Ao revê-lo as "
                                        "imagens serão perdidas."));
    aviso->setWordWrap(true);
    aviso->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    aviso->setGeometry(44, 24, 420, 50);
    lblMens3_ =
        rotulo(this, "lblMens3",
               QStringLiteral("Siga os passos do assistente de forma sequencial e em caso de dúvidas consulte a "
                              "nossa Ajuda que esta disponível em todas as etapas deste processo."));
    lblMens3_->setWordWrap(true);
    lblMens3_->setAutoFillBackground(true);
    lblMens3_->setFrameShape(QFrame::Box);
    QPalette dica = lblMens3_->palette();
    dica.setColor(QPalette::Window, QColor(255, 255, 225));
    lblMens3_->setPalette(dica);
    lblMens3_->setGeometry(44, 6, 420, 66);
    lblMens3_->hide();

    // The patient examined (name and code), the doctor, the date and the time.
    lblPaciente_ = rotulo(this, "lblPaciente", QString());
    QFont destaque = lblPaciente_->font();
    destaque.setBold(true);
    lblPaciente_->setFont(destaque);
    lblPaciente_->setGeometry(480, 4, 272, 20);
    const QString codigo = QStringLiteral("%1").arg(paciente_, 4, 10, QLatin1Char('0'));
    lblPaciente_->setToolTip(QStringLiteral("Paciente: %1 (código %2)").arg(nomePaciente_, codigo));
    lblPaciente_->setText(lblPaciente_->fontMetrics().elidedText(nomePaciente_, Qt::ElideRight,
                                                                 272 - lblPaciente_->fontMetrics().horizontalAdvance(
                                                                           QStringLiteral(" \u00B7 ") + codigo)) +
                          QStringLiteral(" \u00B7 ") + codigo);
    auto* medico = rotulo(this, "lblMedico", QStringLiteral("Médico responsável:"));
    medico->setGeometry(480, 26, 150, 18);
    lblData_ = rotulo(this, "lblData", QString());
    lblData_->setGeometry(632, 26, 60, 18);
    lblHora_ = rotulo(this, "lblHora", QString());
    lblHora_->setGeometry(692, 26, 60, 18);
    lblHora_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    ComboMedicos_ = new QComboBox(this);
    ComboMedicos_->setObjectName(QStringLiteral("ComboMedicos"));
    ComboMedicos_->setGeometry(480, 46, 272, 26);

    Bevel1_ = new QFrame(this);
    Bevel1_->setObjectName(QStringLiteral("Bevel1"));
    Bevel1_->setFrameShape(QFrame::StyledPanel);
    Bevel1_->setFrameShadow(QFrame::Sunken);
    Bevel1_->move(4, 76);

    // The two eye columns: the right eye on the left of the window.
    for (int olho : {kDireito, kEsquerdo}) {
        Olho& o = olhos_[size_t(olho)];
        const bool d = olho == kDireito;
        const char* s = d ? "D" : "S";
        auto nome = [&](const char* base) { return QString::fromLatin1(base) + QLatin1String(s); };
        o.caixa = new QGroupBox(textoOlho(olho), this);
        o.caixa->setObjectName(d ? QStringLiteral("gbxOlhoDireito") : QStringLiteral("gbxOlhoEsquerdo"));
        o.caixa->move(d ? 10 : 384, 80);
        o.seta = new QLabel(o.caixa);
        o.seta->setObjectName(nome("ImgSeta"));
        o.seta->setPixmap(seta());
        o.seta->resize(16, 16);
        const char* rotulos[4] = {"lblDigit", "lblDetect", "lblMapa", "lblGrava"};
        for (int i = 0; i < 4; ++i) {
            const int y = 24 + 22 * i;
            o.checks[size_t(i)] = new QLabel(o.caixa);
            o.checks[size_t(i)]->setObjectName(nome(QStringLiteral("ImgStep%1").arg(i + 1).toLatin1().constData()));
            o.checks[size_t(i)]->setPixmap(visto());
            o.checks[size_t(i)]->setGeometry(28, y + 2, 16, 16);
            QLabel* r = rotulo(o.caixa, nome(rotulos[i]).toLatin1().constData(), QString::fromUtf8(kPassos[i]));
            r->setProperty("Tag", i + 1);
            r->setGeometry(48, y, 140, 20);
            r->installEventFilter(this);
            o.rotulos[size_t(i)] = r;
        }
        o.executar = new QPushButton(QStringLiteral("Executar"), o.caixa);
        o.executar->setObjectName(nome("sbtExecutar"));
        o.executar->setGeometry(8, 118, 130, 28);
        connect(o.executar, &QPushButton::clicked, this, [this, olho] { ExecutaPasso(olho); });
        o.painel = new QLabel(o.caixa);
        o.painel->setObjectName(d ? QStringLiteral("Olho1") : QStringLiteral("Olho0"));
        o.painel->setGeometry(196, 24, 160, 120);
        o.painel->setFrameShape(QFrame::Box);
        o.painel->setAlignment(Qt::AlignCenter);

        o.memos = new QWidget(o.caixa);
        o.memos->setObjectName(nome("pnlMemos"));
        o.memos->setGeometry(8, 152, 350, 262);
        rotulo(o.memos, nome("lblDiag").toLatin1().constData(), QStringLiteral("Diagnóstico:"))
            ->setGeometry(0, 0, 350, 18);
        o.diag = memo(o.memos, d ? "Memo3" : "Memo1");
        o.diag->setGeometry(0, 20, 350, 100);
        rotulo(o.memos, nome("lblObs").toLatin1().constData(), QStringLiteral("Observações"))
            ->setGeometry(0, 130, 350, 18);
        o.obs = memo(o.memos, d ? "Memo4" : "Memo2");
        o.obs->setGeometry(0, 150, 350, 100);
    }

    Bevel2_ = new QFrame(this);
    Bevel2_->setObjectName(QStringLiteral("Bevel2"));
    Bevel2_->setFrameShape(QFrame::HLine);
    Bevel2_->setFrameShadow(QFrame::Sunken);

    // The map choice and the closing button, moved together by the layouts.
    barra_ = new QWidget(this);
    barra_->setObjectName(QStringLiteral("pnlBarra"));
    auto* visMapa = rotulo(barra_, "lblVisMapa", QStringLiteral("Visualização dos mapas:"));
    rbtAxial_ = new QRadioButton(QStringLiteral("&Axial"), barra_);
    rbtAxial_->setObjectName(QStringLiteral("rbtAxial"));
    rbtAxial_->setChecked(true);
    rbtTangencial_ = new QRadioButton(QStringLiteral("&Tangencial"), barra_);
    rbtTangencial_->setObjectName(QStringLiteral("rbtTangencial"));
    rbtFennic_ = new QRadioButton(QStringLiteral("&Quessel Orto"), barra_);
    rbtFennic_->setObjectName(QStringLiteral("rbtFennic"));
    rbtFennic_->hide();
    sbtFechar_ = new QPushButton(QStringLiteral("&Fechar"), barra_);
    sbtFechar_->setObjectName(QStringLiteral("sbtFechar"));
    connect(sbtFechar_, &QPushButton::clicked, this, &TfrmNovoExame::sbtFecharClick);
    // Within the bar (top 263): the label at 267, the radio buttons at 266, the button at 263.
    barra_->setGeometry(0, 263, kLargura, 30);
    int x = 12;
    visMapa->setGeometry(x, 4, visMapa->sizeHint().width(), 20);
    x += visMapa->sizeHint().width() + 14;
    rbtAxial_->setGeometry(x, 3, rbtAxial_->sizeHint().width(), 22);
    rbtFennic_->setGeometry(x, 3, rbtFennic_->sizeHint().width(), 22);
    x += rbtAxial_->sizeHint().width() + 14;
    rbtTangencial_->setGeometry(x, 3, rbtTangencial_->sizeHint().width(), 22);
    sbtFechar_->setGeometry(kLargura - 122, 0, 110, 28);

    DiminuiForm();
}

// ---- showing and closing ---------------------------------------------------------------------

void TfrmNovoExame::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!mostrada_) {
        mostrada_ = true;
        FormShow();
    }
}

void TfrmNovoExame::FormShow() {
    if (TfrmDica::exists()) TfrmDica::instance()->close();
    for (int olho : {kEsquerdo, kDireito}) {
        DefinePasso(olho, 1);
        Olho& o = olhos_[size_t(olho)];
        o.executar->setEnabled(true);
        o.bitmap.fill(Qt::black);
        mostraImagem(olho, QByteArray());
    }
    DiminuiForm();
    centraVerticalmente();
    atualizaDataHora();
    CarregaMedicos();
    if (!kind_->choosesMap()) {
        rbtFennic_->setChecked(true);
        rbtFennic_->show();
        rbtAxial_->hide();
        rbtTangencial_->hide();
    } else if (recordText(infos().MapaPadraoNovoExame) == QLatin1String("Axial")) {
        rbtAxial_->setChecked(true);
    } else {
        rbtTangencial_->setChecked(true);
    }
}

void TfrmNovoExame::sbtFecharClick() { close(); }

bool TfrmNovoExame::confirmaCancelamento() {
    // An eye captured and not yet stored is the operator's work: it goes only on "Sim".
    if (!entre2e4(olhos_[0].passo) && !entre2e4(olhos_[1].passo)) return true;
    return showMessage(QStringLiteral("Tem ceteza que deseja cancelar o exame?"), QStringLiteral("Informação"),
                       MsgIcon::Question, MsgButtons::YesNo, this, MsgAnswer::No) == MsgAnswer::Yes;
}

void TfrmNovoExame::reject() {
    // Every way of closing comes here (the close button through QDialog's closeEvent, Esc,
    // "Fechar"/"Cancelar"): the window ends only when nothing half done is lost unasked.
    if (!confirmaCancelamento()) return;
    FormClose();
    QDialog::reject();
}

void TfrmNovoExame::closeEvent(QCloseEvent* event) {
    // A module's window is up (or a save runs): the window goes when the step is over.
    if (ocupada_) {
        fecharDepois_ = true;
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void TfrmNovoExame::FormClose() {
    // The next opening makes a fresh window, even before this one is gone.
    if (instance_ == this) instance_ = nullptr;
    hideWait();
    for (int olho : {kEsquerdo, kDireito}) {
        kind_->clear(olho);
        olhos_[size_t(olho)].bitmap = QImage();
    }
}

void TfrmNovoExame::keyPressEvent(QKeyEvent* event) {
    // Esc is "Cancelar": it asks while an eye is half done. Only a press that reaches this
    // window counts; the release of an Esc that closed a capture, map or message window (and
    // so arrives here) is no request to close.
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool TfrmNovoExame::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Image4_ && event->type() == QEvent::MouseMove) {
        const QPoint p = static_cast<QMouseEvent*>(event)->position().toPoint();
        lblMens3_->setVisible(p.x() >= 6 && p.x() <= 22 && p.y() >= 6 && p.y() <= 29);
        if (lblMens3_->isVisible()) lblMens3_->raise();
    } else if (watched == Image4_ && event->type() == QEvent::Leave) {
        lblMens3_->hide();
    } else if (event->type() == QEvent::MouseButtonRelease &&
               static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        for (int olho : {kEsquerdo, kDireito})
            for (QLabel* r : olhos_[size_t(olho)].rotulos)
                if (watched == r) clicaRotulo(olho, r->property("Tag").toInt());
    }
    return QDialog::eventFilter(watched, event);
}

// ---- layouts and places ----------------------------------------------------------------------

void TfrmNovoExame::AumentaForm() {
    expandido_ = true;
    setFixedHeight(kAlturaExpandida);
    Bevel1_->resize(kLargura - 8, 430);
    for (Olho& o : olhos_) {
        o.caixa->resize(366, 422);
        o.memos->show();
    }
    Bevel2_->setGeometry(4, 508, kLargura - 8, 3);
    barra_->move(0, 521);
}

void TfrmNovoExame::DiminuiForm() {
    expandido_ = false;
    setFixedHeight(kAlturaCompacta);
    Bevel1_->resize(kLargura - 8, 161);
    for (Olho& o : olhos_) {
        o.caixa->resize(366, 153);
        o.memos->hide();
    }
    Bevel2_->setGeometry(4, 250, kLargura - 8, 3);
    barra_->move(0, 263);
}

// The design screen of the placing rules is the screen the window is on.
void TfrmNovoExame::centraVerticalmente() {
    const QScreen* tela = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!tela) return;
    const QRect area = tela->availableGeometry();
    move(area.x() + int(std::lround((area.width() - width()) / 2.0)),
         area.y() + int(std::lround((area.height() - height()) / 2.0)));
}

void TfrmNovoExame::posicionaNoTopo() {
    const QScreen* tela = screen() ? screen() : QGuiApplication::primaryScreen();
    if (tela) move(x(), tela->availableGeometry().y());
}

void TfrmNovoExame::atualizaDataHora() {
    const QDateTime agora = norvix::Relogio().Agora();
    lblData_->setText(agora.toString(QStringLiteral("dd/MM/yy")));
    lblHora_->setText(agora.toString(QStringLiteral("HH:mm:ss")));
}

void TfrmNovoExame::showWait(bool withTimer) {
    if (browser_) {
        browser_->showWait();
        if (withTimer) browser_->startWaitTimer();
    } else {
        TfrmAguarde::instance()->showNow();
    }
}

void TfrmNovoExame::hideWait() {
    if (TfrmAguarde::exists()) TfrmAguarde::instance()->hide();
}

void TfrmNovoExame::CarregaMedicos() {
    ComboMedicos_->clear();
    ComboMedicos_->addItem(QString());
    ComboMedicos_->addItems(norvix::DMedicos().NomesMedicos());
    const int filtro =
        browser_ ? ComboMedicos_->findText(browser_->filterText(), Qt::MatchExactly | Qt::MatchCaseSensitive) : -1;
    ComboMedicos_->setCurrentIndex(filtro > 0 ? filtro : 0);
}

// ---- the steps -------------------------------------------------------------------------------

void TfrmNovoExame::DefinePasso(int olho, int passo) {
    Olho& o = olhos_[size_t(olho)];
    o.passo = std::clamp(passo, 1, 5);
    for (QLabel* c : o.checks) c->hide();
    o.seta->show();
    for (QLabel* r : o.rotulos) {
        pinta(r, kVermelho);
        r->setCursor(Qt::ArrowCursor);
    }
    if (o.passo == 5) o.seta->hide();
    for (int i = 0; i < 4; ++i) {
        if (i + 1 < o.passo) o.checks[size_t(i)]->show();
        if (i + 1 <= o.passo && o.passo <= 4) {
            pinta(o.rotulos[size_t(i)], kAzul);
            o.rotulos[size_t(i)]->setCursor(Qt::PointingHandCursor);
        }
    }
    if (o.passo <= 4) o.seta->move(8, 26 + 22 * (o.passo - 1));
}

void TfrmNovoExame::clicaRotulo(int olho, int tag) {
    const Olho& o = olhos_[size_t(olho)];
    // A blue label: a step done or the one to perform next, while the eye is not stored.
    if (ocupada_ || o.passo > 4 || tag < 1 || tag > o.passo) return;
    // A step run again that does not come through (a capture cancelled, a module missing)
    // leaves the eye where it was: its picture, measure and map stay the eye's work.
    const int anterior = o.passo;
    DefinePasso(olho, tag);
    ExecutaPasso(olho, anterior);
}

void TfrmNovoExame::ExecutaPasso(int olho, int seFalhar) {
    Olho& o = olhos_[size_t(olho)];
    if (ocupada_ || o.passo > 4) return;
    ocupada_ = true;
    o.executar->setEnabled(false);
    bool ok = false;
    try {
        switch (o.passo) {
            case 1:
                if (ComboMedicos_->currentText().isEmpty()) {
                    showMessage(QStringLiteral("Selecione um médico responsável pelo exame."), QStringLiteral("Erro"),
                                MsgIcon::Error, MsgButtons::Ok, this);
                    break;
                }
                ok = DigitalizaImagem(olho);
                if (ok) {
                    sbtFechar_->setText(QStringLiteral("Cancelar"));
                    ComboMedicos_->setEnabled(false);
                }
                break;
            case 2: ok = DetectaAneis(olho); break;
            case 3: ok = VisualizaMapa(olho); break;
            case 4: ok = GravaExame(olho); break;
        }
    } catch (const std::exception& e) {
        hideWait();
        showMessage(QString::fromUtf8(e.what()), QStringLiteral("Erro"), MsgIcon::Error, MsgButtons::Ok, this);
        ok = false;
    }
    if (ok) DefinePasso(olho, o.passo + 1);
    else if (seFalhar > o.passo) DefinePasso(olho, seFalhar);
    capturaDada_.reset();
    ocupada_ = false;
    o.executar->setEnabled(true);
    if (!entre2e4(olhos_[0].passo) && !entre2e4(olhos_[1].passo)) sbtFechar_->setText(QStringLiteral("&Fechar"));
    for (Olho& x : olhos_)
        if (x.passo == 5) x.executar->setEnabled(false);
    focaDepoisDoPasso(olho);
    if (fecharDepois_) {
        fecharDepois_ = false;
        close();
    }
}

void TfrmNovoExame::focaDepoisDoPasso(int olho) {
    // Disabling "Executar" for the step sent the focus to the other eye's: Space would then
    // capture this eye's picture into the other eye's column. The focus stays with this eye
    // while it has steps left; once stored, it moves on to the other eye, or to "Fechar".
    const Olho& este = olhos_[size_t(olho)];
    const Olho& outro = olhos_[size_t(olho == kDireito ? kEsquerdo : kDireito)];
    if (este.executar->isEnabled())
        este.executar->setFocus(Qt::OtherFocusReason);
    else if (outro.executar->isEnabled())
        outro.executar->setFocus(Qt::OtherFocusReason);
    else
        sbtFechar_->setFocus(Qt::OtherFocusReason);
}

bool TfrmNovoExame::TomaCaptura(int olho, const QByteArray& frente, const QByteArray& lateral) {
    if (passo(olho) != 1) return false;
    capturaDada_ = std::array<QByteArray, 2>{frente, lateral};
    ExecutaPasso(olho);
    return passo(olho) == 2;
}

void TfrmNovoExame::mostraImagem(int olho, const QByteArray& bitmap) {
    Olho& o = olhos_[size_t(olho)];
    QImage imagem = bitmap.isEmpty() ? QImage() : QImage::fromData(bitmap, "BMP");
    if (imagem.isNull()) {
        o.bitmap.fill(Qt::black);
    } else {
        o.bitmap = imagem.convertToFormat(QImage::Format_RGB32);
    }
    o.painel->setPixmap(QPixmap::fromImage(
        o.bitmap.scaled(o.painel->contentsRect().size(), Qt::KeepAspectRatio, Qt::SmoothTransformation)));
}

bool TfrmNovoExame::conclui(const norvix::StepOutcome& resultado) {
    if (!resultado.message.isEmpty())
        showMessage(resultado.message, QStringLiteral("Erro"), MsgIcon::Error, MsgButtons::Ok, this);
    return resultado.ok;
}

bool TfrmNovoExame::DigitalizaImagem(int olho) {
    const norvix::CaptureOutcome resultado = kind_->capture(static_cast<QWidget*>(this), olho, capturaDada_);
    // Only a capture that came through replaces the picture the eye already shows.
    if (resultado.ok) mostraImagem(olho, resultado.shown);
    return conclui(resultado);
}

bool TfrmNovoExame::DetectaAneis(int olho) { return conclui(kind_->detect(static_cast<QWidget*>(this), olho)); }

QStringList TfrmNovoExame::cabecalho(int olho, double confianca) const {
    const QDateTime agora = norvix::Relogio().Agora();
    return QStringList{nomePaciente_,
                       QStringLiteral("%1").arg(paciente_, 4, 10, QLatin1Char('0')),
                       rgPaciente_ + QLatin1Char(' '),
                       textoOlho(olho),
                       agora.toString(QStringLiteral("dd/MM/yyyy")),
                       agora.toString(QStringLiteral("HH:mm:ss")),
                       ComboMedicos_->currentText()} +
           kind_->headerTail(QString::number(std::lround(confianca)), recordText(paths().BancoDados));
}

bool TfrmNovoExame::VisualizaMapa(int olho) {
    const QString arquivo = rbtFennic_->isChecked()  ? TExamMaps::kFennic
                            : rbtAxial_->isChecked() ? TExamMaps::kHalden
                                                     : TExamMaps::kSorvik;
    showWait(true);
    const bool ok =
        kind_->showMap(static_cast<QWidget*>(this), olho, recordText(paths().DirMapas) + QLatin1Char('/') + arquivo,
                       [this, olho](double confianca) { return cabecalho(olho, confianca); });
    hideWait();
    posicionaNoTopo();
    AumentaForm();
    return ok;
}

// ---- storing ---------------------------------------------------------------------------------

bool TfrmNovoExame::GravaExame(int olho) {
    Olho& o = olhos_[size_t(olho)];
    if (!kind_->readyToStore(olho)) return false;
    showWait(false);
    o.diag->setEnabled(false);
    o.obs->setEnabled(false);
    ComboMedicos_->setEnabled(false);
    const QString nomeMedico = ComboMedicos_->currentText();
    bool ok = false, imagensOk = true;
    try {
        const int medico = norvix::DMedicos().SelectCodigoByNome(nomeMedico);
        if (medico == 0) {
            // Deleted by another workstation since it was chosen: the operator chooses again.
            hideWait();
            showMessage(QStringLiteral("O médico \"%1\" não está mais cadastrado (pode ter sido excluído em outra "
                                       "estação de trabalho). Escolha o médico responsável e grave o exame novamente.")
                            .arg(nomeMedico),
                        QStringLiteral("Atenção"), MsgIcon::Warning, MsgButtons::Ok, this);
            CarregaMedicos();
            ComboMedicos_->setEnabled(true);
        } else {
            norvix::TExameNovo exame;
            exame.paciente = paciente_;
            exame.medico = medico;
            exame.olho = olho == kDireito ? QStringLiteral("OD") : QStringLiteral("OS");
            exame.diag = o.diag->toPlainText();
            exame.observacao = o.obs->toPlainText();
            for (;;) {
                try {
                    norvix::GravaTudoOuNada(
                        [&](norvix::TArquivosNovos& arquivos) { imagensOk = kind_->store(olho, exame, arquivos); });
                    ok = true;
                    break;
                } catch (const norvix::DatabaseError& e) {
                    if (e.kind() != norvix::DatabaseError::Kind::LockConflict) throw;
                    // Nothing was written and the exam is still in this window: the operator
                    // tries again once the other station is done, or later with "Executar".
                    hideWait();
                    if (showChoice(kOutraEstacao(), QStringLiteral("Atenção"), MsgIcon::Warning, MsgButtons::OkCancel,
                                   {QStringLiteral("Tentar novamente"), QStringLiteral("Cancelar")},
                                   this) != MsgAnswer::Ok)
                        break;
                    showWait(false);
                }
            }
        }
    } catch (const std::exception& e) {
        qCWarning(lcExams, "Gravar Exame: %s", e.what());
        hideWait();
        showMessage(kNaoSalvou(), QStringLiteral("Informação"), MsgIcon::Warning, MsgButtons::Ok, this);
    }
    if (ok && browser_) {
        // The browser shows the new exam under its doctor, on this patient.
        try {
            browser_->CarregaFiltroMedicos();
            browser_->SelecionaPacientePorCodigo(paciente_, nomeMedico);
        } catch (const std::exception& e) {
            showMessage(QString::fromUtf8(e.what()), QStringLiteral("Atenção"), MsgIcon::Warning, MsgButtons::Ok, this);
        }
    }
    hideWait();
    if (ok) {
        if (!imagensOk)
            showMessage(QStringLiteral("Não Foi possivel salvar as imagens"), QStringLiteral("Informação"),
                        MsgIcon::Warning, MsgButtons::Ok, this);
        atualizaDataHora();
        showMessage(QStringLiteral("Exame gravado com sucesso"), QStringLiteral("Informação"), MsgIcon::Information,
                    MsgButtons::Ok, this);
        // With automatic sending on, the browser queues the new exam for the PACS and sends it
        // in the background; what the PACS does not take waits in its outbox.
        if (browser_ && kind_->storedExam(olho) > 0) browser_->enviaAoPacsSeAutomatico({kind_->storedExam(olho)});
    } else {
        // Nothing was stored: the texts can be changed and the step run again.
        o.diag->setEnabled(true);
        o.obs->setEnabled(true);
    }
    if (!entre2e4(olhos_[size_t(1 - olho)].passo)) {
        DiminuiForm();
        centraVerticalmente();
    }
    return ok;
}

}  // namespace norvix

#include "UfrmCalib.h"

#include <QButtonGroup>
#include <algorithm>
#include <QDir>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QMovie>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSaveFile>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>
#include <QToolButton>

#include "CalibrationFit.h"
#include "HelpViewer.h"
#include "config/SharedRecords.h"
#include "config/UBIniSettings.h"
#include "modules/HostStream.h"
#include "modules/ModuleBindings.h"
#include "platform/Convert.h"
#include "platform/Cp1252.h"
#include "platform/Errors.h"
#include "platform/ui/MessageSeam.h"
#include "skins/CalibratorPictures.h"

namespace norvix {

using calibracao::raioEsfera;

QPointer<TfrmCalib> TfrmCalib::instance_;

namespace {

const QString kFormatoMomento = QStringLiteral("dd/MM/yyyy HH:mm:ss");
const QString kProcessar = QStringLiteral("Processar Esfera");
const QString kSalvar = QStringLiteral("Salvar Calibração");

// The yellow outline or ring that marks a sphere; shown or hidden, never drawn half.
class TAnel : public QWidget {
public:
    explicit TAnel(QWidget* parent) : QWidget(parent) { setAttribute(Qt::WA_TransparentForMouseEvents); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(QColor(255, 220, 0), 3));
        p.drawEllipse(QRectF(rect()).adjusted(2, 2, -2, -2));
    }
};

QPixmap marcaVisto() {
    QPixmap pm(20, 20);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(30, 150, 60));
    p.drawEllipse(QRectF(1, 1, 18, 18));
    p.setPen(QPen(Qt::white, 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QPolygonF({QPointF(5.5, 10.5), QPointF(8.5, 13.5), QPointF(14.5, 6.5)}));
    return pm;
}

QLabel* rotulo(QWidget* parent, const char* nome, const QString& texto, const QRect& r) {
    auto* l = new QLabel(texto, parent);
    if (nome) l->setObjectName(QLatin1String(nome));
    l->setGeometry(r);
    return l;
}

void mensagemFatal(int codigo, QWidget* parent) {
    showMessage(QStringLiteral("Ocorreu um erro fatal no sistema.\r\nEntre em contato com o nosso suporte técnico."
                               "\r\r\nCódigo do Erro: %1").arg(codigo),
                QStringLiteral("Informação"), MsgIcon::Error, MsgButtons::Ok, parent);
}

}  // namespace

TfrmCalib::TfrmCalib(TBIniSettings* settings, QWidget* parent) : QDialog(parent), settings_(settings) {
    instance_ = this;
    setObjectName(QStringLiteral("frmCalib"));
    setWindowTitle(QStringLiteral("Calibração"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    help::setContext(this, 3);
    buildUi();

    // Nothing stored means never calibrated: the label keeps its dashes without a message.
    const QString gravado = settings_ ? settings_->UltimaCalib().trimmed() : QString();
    ultima_ = QDateTime::fromString(gravado, kFormatoMomento);
    if (!gravado.isEmpty() && !ultima_.isValid())
        showMessage(QStringLiteral("'%1' não é uma data e hora válida (última calibração).").arg(gravado),
                    QStringLiteral("Erro"), MsgIcon::Error, MsgButtons::Ok, this);
    // The stored type needs no writing back: it is what the file already holds.
    aplicaTipo(infos().TipoCalibrador == 1 ? 1 : 0);
}

TfrmCalib::~TfrmCalib() = default;

TfrmCalib* TfrmCalib::instance() { return instance_; }

void TfrmCalib::Executa(TBIniSettings* settings, QWidget* parent) {
    if (!instance_) new TfrmCalib(settings, parent);
    instance_->exec();
}

QString TfrmCalib::diretorio() {
    QString d = recordText(paths().Calibracao);
    if (!d.endsWith(QLatin1Char('/'))) d += QLatin1Char('/');
    return d;
}

void TfrmCalib::buildUi() {
    // A strip below the picture shows what each sphere measured, so a sphere out of place is
    // seen before the save.
    setFixedSize(443, 376);

    // Type 0: the still holder with an outline around the current sphere.
    pnlCalibQuad_ = new QWidget(this);
    pnlCalibQuad_->setObjectName(QStringLiteral("pnlCalibQuad"));
    pnlCalibQuad_->setGeometry(0, 0, 260, 330);
    auto* quadro = new QLabel(pnlCalibQuad_);
    quadro->setPixmap(QPixmap::fromImage(skins::calibradorQuadrado()));
    quadro->setGeometry(0, 0, 260, 330);
    const QPixmap visto = marcaVisto();
    for (int k = 0; k < 4; ++k) {
        const QRect r = skins::contornoEsfera(k + 1);
        Esf_[size_t(k)] = new TAnel(pnlCalibQuad_);
        Esf_[size_t(k)]->setObjectName(QStringLiteral("Esf%1").arg(k + 1));
        Esf_[size_t(k)]->setGeometry(r.adjusted(-4, -4, 4, 4));
        Esf_[size_t(k)]->hide();
        imgChk_[size_t(k)] = rotulo(pnlCalibQuad_, nullptr, QString(), QRect(r.right() - 14, r.bottom() - 18, 20, 20));
        imgChk_[size_t(k)]->setObjectName(QStringLiteral("imgChk%1").arg(k + 1));
        imgChk_[size_t(k)]->setPixmap(visto);
        imgChk_[size_t(k)]->hide();
    }

    // Type 1: the turning disc, with a marker over each of the four places.
    pnlCalibRedondo_ = new QWidget(this);
    pnlCalibRedondo_->setObjectName(QStringLiteral("pnlCalibRedondo"));
    pnlCalibRedondo_->setGeometry(0, 0, 260, 330);
    flaCalibrador_ = rotulo(pnlCalibRedondo_, "flaCalibrador", QString(), QRect(7, 0, 245, 317));
    movie_ = new QMovie(this);
    flaCalibrador_->setMovie(movie_);
    for (int k = 0; k < 4; ++k) {
        auto* marcador = new QWidget(pnlCalibRedondo_);
        marcador->setObjectName(QStringLiteral("imgEsf%1").arg(k + 1));
        marcador->setGeometry(skins::posicaoMarcador(k + 1).translated(flaCalibrador_->pos()));
        marcador->setAttribute(Qt::WA_TransparentForMouseEvents);
        imgEsf_[size_t(k)] = marcador;
        CircEsf_[size_t(k)] = new TAnel(marcador);
        CircEsf_[size_t(k)]->setObjectName(QStringLiteral("CircEsf%1").arg(k + 1));
        CircEsf_[size_t(k)]->setGeometry(0, 0, 54, 54);
        CircEsf_[size_t(k)]->hide();
        chkEsf_[size_t(k)] = rotulo(marcador, nullptr, QString(), QRect(34, 34, 20, 20));
        chkEsf_[size_t(k)]->setObjectName(QStringLiteral("chkEsf%1").arg(k + 1));
        chkEsf_[size_t(k)]->setPixmap(visto);
        chkEsf_[size_t(k)]->hide();
    }
    auto* gire = rotulo(pnlCalibRedondo_, "lblGire", QStringLiteral("Gire o calibrador manualmente para alternar de esfera."),
                        QRect(8, 282, 244, 44));
    gire->setWordWrap(true);
    gire->setAlignment(Qt::AlignCenter);
    QFont negrito = gire->font();
    negrito.setBold(true);
    gire->setFont(negrito);
    gire->setStyleSheet(QStringLiteral("color: rgb(255, 0, 0);"));

    // The right column.
    lblRaio_ = rotulo(this, "lblRaio", raioEsfera(1), QRect(268, 8, 167, 36));
    lblRaio_->setAlignment(Qt::AlignCenter);
    lblRaio_->setStyleSheet(QStringLiteral("color: white; background: rgb(97, 128, 154); font-family: Tahoma; "
                                           "font-weight: bold; font-size: 27px;"));
    auto botao = [this](const char* nome, const QString& texto, const QRect& r) {
        auto* b = new QPushButton(texto, this);
        b->setObjectName(QLatin1String(nome));
        b->setGeometry(r);
        b->setAutoDefault(false);
        return b;
    };
    sbtPrev_ = botao("sbtPrev", QStringLiteral("Esfera Anterior"), QRect(268, 52, 167, 28));
    sbtPrev_->setEnabled(false);
    sbtNext_ = botao("sbtNext", QStringLiteral("Próxima Esfera"), QRect(268, 84, 167, 28));
    sbtProcEsf_ = botao("sbtProcEsf", kProcessar, QRect(268, 120, 167, 34));
    QFont forte = sbtProcEsf_->font();
    forte.setBold(true);
    sbtProcEsf_->setFont(forte);
    rotulo(this, "lblUltCalibTitulo", QStringLiteral("Última calibração realizada:"), QRect(268, 162, 170, 18));
    lblUltCalib_ = rotulo(this, "lblUltCalib", QStringLiteral("--:--:-- --/--/----"), QRect(268, 180, 167, 18));
    lblUltCalib_->setStyleSheet(QStringLiteral("color: navy;"));
    rgpTpCalib_ = new QGroupBox(QStringLiteral("Tipo de calibrador"), this);
    rgpTpCalib_->setObjectName(QStringLiteral("rgpTpCalib"));
    rgpTpCalib_->setGeometry(268, 204, 167, 80);
    grupoTipo_ = new QButtonGroup(this);
    for (int i = 0; i < 2; ++i) {
        rbtTipo_[size_t(i)] = new QRadioButton(QStringLiteral("Calibrador %1").arg(i + 1), rgpTpCalib_);
        rbtTipo_[size_t(i)]->setObjectName(QStringLiteral("rbtCalibrador%1").arg(i + 1));
        rbtTipo_[size_t(i)]->setGeometry(10, 24 + i * 26, 150, 22);
        grupoTipo_->addButton(rbtTipo_[size_t(i)], i);
    }
    auto* ajuda = new QToolButton(this);
    ajuda->setObjectName(QStringLiteral("sbtAjuda"));
    ajuda->setText(QStringLiteral("?"));
    ajuda->setToolTip(QStringLiteral("Ajuda"));
    ajuda->setGeometry(268, 294, 34, 28);
    sbtFechar_ = botao("sbtFechar", QStringLiteral("Fechar"), QRect(308, 294, 127, 28));
    lblMedidas_ = rotulo(this, "lblMedidas", QString(), QRect(8, 334, 427, 36));
    lblMedidas_->setStyleSheet(QStringLiteral("color: rgb(40, 40, 40);"));
    mostraMedidas();

    Timer_ = new QTimer(this);
    Timer_->setObjectName(QStringLiteral("Timer"));
    Timer_->setSingleShot(true);
    Timer_->setInterval(1200);

    connect(sbtPrev_, &QPushButton::clicked, this, &TfrmCalib::sbtPrevClick);
    connect(sbtNext_, &QPushButton::clicked, this, &TfrmCalib::sbtNextClick);
    connect(sbtProcEsf_, &QPushButton::clicked, this, &TfrmCalib::sbtProcEsfClick);
    connect(sbtFechar_, &QPushButton::clicked, this, &QDialog::close);
    connect(ajuda, &QToolButton::clicked, this, [this] { help::showHelp(3, this); });
    connect(Timer_, &QTimer::timeout, this, &TfrmCalib::TimerTimer);
    connect(grupoTipo_, &QButtonGroup::idClicked, this, &TfrmCalib::rgpTpCalibClick);
}

void TfrmCalib::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) FormShow();
}

void TfrmCalib::FormShow() {
    MostraEsfera(1);
    paraFilme();
    lblUltCalib_->setText(ultima_.isValid() ? ultima_.toString(kFormatoMomento) : QStringLiteral("--:--:-- --/--/----"));
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - rect().center());
}

void TfrmCalib::aplicaTipo(int item) {
    tipo_ = item;
    rbtTipo_[size_t(item)]->setChecked(true);
    infos().TipoCalibrador = uint8_t(item);
    pnlCalibQuad_->setVisible(item == 0);
    pnlCalibRedondo_->setVisible(item == 1);
}

void TfrmCalib::rgpTpCalibClick(int item) {
    if (item != 0 && item != 1) return;
    try {
        if (settings_) settings_->WriteParameter(QStringLiteral("Str"), QStringLiteral("OPCOES"),
                                                 QStringLiteral("TIPOCALIBRADOR"), QString::number(item), false);
    } catch (const SettingsWriteError& e) {
        // The type stays the stored one, so that the window and the file agree.
        showMessage(e.message(), QStringLiteral("ERRO"), MsgIcon::Error, MsgButtons::Ok, this);
        rbtTipo_[size_t(tipo_)]->setChecked(true);
        return;
    }
    aplicaTipo(item);
    // A new start: only sphere 1 is reached, nothing is marked as processed on the disc.
    for (int k = 1; k < 4; ++k) CircEsf_[size_t(k)]->hide();
    for (QLabel* c : chkEsf_) c->hide();
    MostraEsfera(1);
    paraFilme();
}

void TfrmCalib::MostraEsfera(int k) {
    sbtProcEsf_->setText(kProcessar);
    atual_ = std::clamp(k, 1, 5);
    const size_t i = size_t(atual_ - 1);
    if (tipo_ == 0) {
        for (QWidget* e : Esf_) e->hide();
        if (atual_ <= 4) {
            Esf_[i]->show();
            lblRaio_->setText(raioEsfera(atual_));
        }
        sbtPrev_->setEnabled(atual_ != 1);
        sbtNext_->setEnabled(atual_ < 4);
        if (atual_ == 5) {
            sbtProcEsf_->setEnabled(true);
            sbtProcEsf_->setText(kSalvar);
        }
        return;
    }
    if (atual_ <= 4) {
        CircEsf_[i]->show();
        lblRaio_->setText(raioEsfera(atual_));
        if (atual_ > anterior_) {
            static const char* const kFrente[4] = {"cbr_mov1.dat", "cbr_mov1.dat", "cbr_mov2.dat", "cbr_mov3.dat"};
            carregaFilme(QLatin1String(kFrente[i]));
        } else {
            if (atual_ < 4) carregaFilme(QStringLiteral("cbr_mov%1_ant.dat").arg(atual_));
            processada_[size_t(atual_)] = false;
            if (atual_ <= 3) CircEsf_[i + 1]->hide();
        }
    }
    sbtPrev_->setEnabled(false);
    sbtNext_->setEnabled(atual_ == 1);
    if (atual_ == 5) sbtProcEsf_->setText(kSalvar);
}

void TfrmCalib::mostraMarcadores(bool visiveis) {
    for (QWidget* m : imgEsf_) m->setVisible(visiveis);
}

void TfrmCalib::sbtNextClick() {
    mostraMarcadores(false);
    anterior_ = atual_;
    MostraEsfera(atual_ + 1);
    if (tipo_ == 1) tocaFilme();
    if (atual_ > 1) rgpTpCalib_->setEnabled(false);
    Timer_->start();
}

void TfrmCalib::sbtPrevClick() {
    mostraMarcadores(false);
    anterior_ = atual_;
    MostraEsfera(atual_ - 1);
    if (atual_ < 4) tocaFilme();
    Timer_->start();
}

void TfrmCalib::TimerTimer() {
    mostraMarcadores(true);
    if (atual_ > 1) sbtPrev_->setEnabled(true);
    if (atual_ < 4) sbtNext_->setEnabled(true);
    if (atual_ == 1) rgpTpCalib_->setEnabled(true);
    Timer_->stop();

    // The markers stay where they are while the disc turns under them: after a turn the
    // sphere at a place is another one.
    auto marca = [this](int lugar, int esfera) { chkEsf_[size_t(lugar - 1)]->setVisible(processada_[size_t(esfera)]); };
    if (atual_ < anterior_) {
        switch (atual_) {
        case 1: marca(2, 4); break;
        case 2: marca(3, 4); marca(2, 1); break;
        case 3: marca(4, 4); marca(3, 1); marca(2, 2); break;
        case 4: marca(1, 4); break;
        }
    } else {
        switch (atual_) {
        case 2: marca(2, 1); break;
        case 3: marca(2, 2); marca(3, 1); break;
        case 4: marca(2, 3); marca(3, 2); marca(4, 1); break;
        case 5: marca(1, 4); break;
        }
    }
}

void TfrmCalib::sbtProcEsfClick() {
    if (sbtProcEsf_->text() == kSalvar) {
        GravaCalibracao();
        return;
    }
    const int k = atual_;
    if (k < 1 || k > 4 || !processaEsferaAtual()) return;
    if (tipo_ == 1) {
        processada_[size_t(k)] = true;
        mostraMarcadores(false);
        anterior_ = atual_;
        MostraEsfera(atual_ + 1);
        sbtPrev_->setEnabled(false);
        sbtNext_->setEnabled(false);
        if (atual_ == 5) {
            TimerTimer();
        } else {
            tocaFilme();
            Timer_->start();
        }
    } else {
        for (int j = 0; j < 4; ++j) imgChk_[size_t(j)]->setVisible(j < k);
        MostraEsfera(k + 1);
    }
}

bool TfrmCalib::processaEsferaAtual() {
    TCaptureBinding captura;
    if (!captura.LoadModule(recordText(paths().Digitalizacao))) {
        mensagemFatal(300, this);
        return false;
    }
    TProcessingBinding processamento;
    if (!processamento.LoadModule(recordText(paths().Processamento))) {
        mensagemFatal(301, this);
        captura.ReleaseModule();
        return false;
    }
    resultado_ = std::make_unique<HostStream>();
    imagem_ = std::make_unique<HostStream>();
    reserva_ = std::make_unique<HostStream>();
    const QString raio = raioEsfera(atual_);
    const QByteArray legenda = toCp1252(QStringLiteral("Digitalizando Esfera (%1)").arg(raio));
    captura.Digitalizar(this, *imagem_, *reserva_, 2, legenda.constData());
    if (imagem_->size() < 10) {
        processamento.ReleaseModule();
        captura.ReleaseModule();
        return false;  // cancelled by the operator
    }
    imagem_->rewind();
    const QByteArray raioCp = toCp1252(raio);
    const int32_t r = processamento.ProcessaEsfera(this, *imagem_, raioCp.constData(), *resultado_, &infos());
    processamento.ReleaseModule();
    captura.ReleaseModule();

    // A result that the save could not read later is refused now, while the sphere is still
    // before the camera.
    calibracao::ArquivoEsfera lido;
    QString motivo;
    if (r != 1 || resultado_->size() == 0) {
        motivo = QStringLiteral("o módulo de processamento não mediu nenhum anel na imagem");
    } else if (resultado_->size() > calibracao::kMaxArquivoEsfera || !calibracao::LeArquivoEsfera(resultado_->data(), &lido, &motivo)) {
        motivo = QStringLiteral("o resultado do módulo de processamento não pôde ser lido: %1").arg(motivo);
    } else if (lido.aneis.empty()) {
        motivo = QStringLiteral("o módulo de processamento não mediu nenhum anel na imagem");
    } else if (const QString outra = calibracao::ConfereEsfera(lido, raio.toDouble()); !outra.isEmpty()) {
        medida_[size_t(atual_)] = calibracao::RaioMedio(lido);
        mostraMedidas();
        showMessage(outra, QStringLiteral("Atenção"), MsgIcon::Warning, MsgButtons::Ok, this);
        return false;
    } else {
        const QString nome = diretorio() + QString::number(atual_) + QStringLiteral(".txt");
        QDir().mkpath(diretorio());
        QSaveFile arquivo(nome);
        if (arquivo.open(QIODevice::WriteOnly) && arquivo.write(resultado_->data()) == resultado_->size() &&
            arquivo.commit()) {
            medida_[size_t(atual_)] = calibracao::RaioMedio(lido);
            mostraMedidas();
            return true;
        }
        motivo = QStringLiteral("não foi possível gravar %1 (%2)").arg(nome, arquivo.errorString());
    }
    showMessage(QStringLiteral("A esfera %1 não foi processada: %2.\r\nVerifique o calibrador e processe a esfera "
                               "novamente.").arg(raio, motivo),
                QStringLiteral("Atenção"), MsgIcon::Warning, MsgButtons::Ok, this);
    return false;
}

void TfrmCalib::GravaCalibracao() {
    QString motivo;
    calibracao::Ajuste ajuste;
    bool ok = calibracao::GravaCoef(diretorio(), infos().NumAneis, &ajuste, &motivo);
    if (ok) {
        const QDateTime agora = QDateTime::currentDateTime();
        try {
            if (settings_) {
                settings_->WriteParameter(QStringLiteral("Str"), QStringLiteral("MODULOS"), QStringLiteral("ULTIMACALIB"),
                                          agora.toString(kFormatoMomento), false);
                settings_->LoadCamera(infos().InstrumentModel);
                for (const QString& aviso : settings_->loadWarnings())
                    showMessage(aviso, QStringLiteral("ERRO"), MsgIcon::Error, MsgButtons::Ok, this);
            }
            ultima_ = agora;
            lblUltCalib_->setText(agora.toString(kFormatoMomento));
        } catch (const SettingsWriteError& e) {
            motivo = e.message();
            ok = false;
        }
    }
    if (ok) {
        QString texto = QStringLiteral("A Calibração foi realizada com sucesso.");
        const int n = infos().NumAneis;
        if (ajuste.aneisMedidos < n)
            texto += QStringLiteral("\r\n\r\nAs esferas foram medidas em %1 dos %2 anéis: os outros ficam sem calibração.")
                         .arg(ajuste.aneisMedidos).arg(n);
        showMessage(texto, QStringLiteral("Informação"), MsgIcon::Information, MsgButtons::Ok, this);
    } else {
        showMessage(QStringLiteral("A Calibração não foi realizada com sucesso.\r\n\r\nMotivo: %1.").arg(motivo),
                    QStringLiteral("Informação"), MsgIcon::Information, MsgButtons::Ok, this);
    }
    close();
}

void TfrmCalib::mostraMedidas() {
    QStringList partes;
    for (int k = 1; k <= calibracao::kEsferas; ++k) {
        const double m = medida_[size_t(k)];
        partes << QStringLiteral("%1 → %2").arg(QString(raioEsfera(k)).replace(QLatin1Char('.'), QLatin1Char(',')),
                                               m > 0 ? textoDecimal(m, 2)
                                                     : QStringLiteral("—"));
    }
    lblMedidas_->setText(QStringLiteral("Raio esperado → medido (mm):\n") + partes.join(QStringLiteral("      ")));
}

void TfrmCalib::carregaFilme(const QString& nome) {
    filme_ = nome;
    movie_->stop();
    movie_->setFileName(recordText(paths().DirQV) + QStringLiteral("/imgs/") + nome);
    movie_->jumpToFrame(0);
}

// The animation files carry no loop count: started, a turn plays once and stays on its last
// picture.
void TfrmCalib::tocaFilme() {
    if (movie_->isValid()) movie_->start();
}

void TfrmCalib::paraFilme() { movie_->stop(); }

}  // namespace norvix

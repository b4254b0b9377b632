#include "PaginaDicom.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QThreadPool>
#include <QVBoxLayout>

#include "config/UBIniSettings.h"
#include "dicom/PacsClient.h"
#include "platform/ui/MessageSeam.h"

namespace norvix {

namespace {

using Row = settings::Row;

// As the settings load them: at most 16 printable ASCII characters; the backslash separates
// values inside the objects, so it can never be part of one.
bool aeValido(const QString& ae) {
    if (ae.size() > 16) return false;
    for (QChar c : ae)
        if (c.unicode() < 0x20 || c.unicode() > 0x7E || c == u'\\') return false;
    return true;
}

QString aeInvalido(const char* de, const QString& ae) {
    return QStringLiteral("O AE title %1 (\"%2\") deve ter até 16 caracteres, sem acentos nem barra invertida (\\).")
        .arg(QString::fromUtf8(de), ae);
}

template <class T>
T* nomeado(T* w, const char* nome) {
    w->setObjectName(QLatin1String(nome));
    return w;
}

QString porta(const QString& texto) { return texto.isEmpty() ? QStringLiteral("104") : texto; }

}  // namespace

TPaginaDicom::TPaginaDicom(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("tshDicom"));
    auto* l = new QVBoxLayout(this);
    auto* estacao = new QGridLayout;
    aeEstacao_ = nomeado(new QLineEdit, "edtDicomAeEstacao");
    aeEstacao_->setMaxLength(64);  // longer texts are refused by name, not cut silently
    auto* rotulo = new QLabel(QStringLiteral("AE title desta &estação:"));
    rotulo->setBuddy(aeEstacao_);
    estacao->addWidget(rotulo, 0, 0);
    estacao->addWidget(aeEstacao_, 0, 1);
    estacao->setColumnStretch(2, 1);
    l->addLayout(estacao);
    pacs_.nome = "do PACS";
    worklist_.nome = "da lista de trabalho";
    l->addWidget(grupo(pacs_, QStringLiteral("PACS"), "Pacs"));
    l->addWidget(grupo(worklist_, QStringLiteral("Lista de trabalho"), "Worklist"));
    envioAutomatico_ = nomeado(new QCheckBox(QStringLiteral("Enviar ao PACS a&utomaticamente cada exame e laudo gravado")),
                               "chkDicomEnvioAutomatico");
    l->addWidget(envioAutomatico_);
    l->addStretch();
    // Top to bottom, whatever order the layouts parented the fields in.
    const QList<QWidget*> ordem = {aeEstacao_,     pacs_.ae,       pacs_.host,      pacs_.porta,      pacs_.testar,
                                   worklist_.ae,   worklist_.host, worklist_.porta, worklist_.testar, envioAutomatico_};
    for (qsizetype i = 1; i < ordem.size(); ++i) setTabOrder(ordem[i - 1], ordem[i]);
    connect(aeEstacao_, &QLineEdit::textChanged, this, [this] {
        valoresMudaram(pacs_);
        valoresMudaram(worklist_);
    });
}

void TPaginaDicom::valoresMudaram(Servidor& s) {
    ++s.versao;
    s.resposta->clear();
}

QWidget* TPaginaDicom::grupo(Servidor& s, const QString& titulo, const char* prefixo) {
    const bool pacs = &s == &pacs_;
    auto* g = new QGroupBox(titulo);
    auto* grade = new QGridLayout(g);
    auto campo = [&](const char* tipo) {
        auto* e = new QLineEdit;
        e->setObjectName(QStringLiteral("edt%1%2").arg(QLatin1String(prefixo), QLatin1String(tipo)));
        return e;
    };
    s.ae = campo("AeTitle");
    s.ae->setMaxLength(64);
    s.host = campo("Servidor");
    s.porta = campo("Porta");
    s.porta->setMaximumWidth(70);
    // Distinct mnemonics on the page: the two groups have the same captions.
    const QString rotulos[3] = {pacs ? QStringLiteral("&AE title:") : QStringLiteral("AE t&itle:"),
                                pacs ? QStringLiteral("&Servidor:") : QStringLiteral("Se&rvidor:"),
                                pacs ? QStringLiteral("&Porta:") : QStringLiteral("Por&ta:")};
    QLineEdit* campos[3] = {s.ae, s.host, s.porta};
    const int linha[3] = {0, 1, 1}, coluna[3] = {0, 0, 2};
    for (int i = 0; i < 3; ++i) {
        auto* r = new QLabel(rotulos[i]);
        r->setBuddy(campos[i]);
        grade->addWidget(r, linha[i], coluna[i]);
        // An AE title is short: its field keeps its own width, the server's takes the rest.
        grade->addWidget(campos[i], linha[i], coluna[i] + 1, i == 0 ? Qt::AlignLeft : Qt::Alignment());
    }
    s.testar = new QPushButton(pacs ? QStringLiteral("Testar &conexão") : QStringLiteral("Testar co&nexão"));
    s.testar->setObjectName(QStringLiteral("btn%1Testar").arg(QLatin1String(prefixo)));
    s.testar->setAutoDefault(false);
    s.resposta = new QLabel;
    s.resposta->setObjectName(QStringLiteral("lbl%1Resposta").arg(QLatin1String(prefixo)));
    s.resposta->setWordWrap(true);
    s.resposta->setTextInteractionFlags(Qt::TextSelectableByMouse);
    grade->addWidget(s.testar, 2, 0, Qt::AlignTop);
    grade->addWidget(s.resposta, 2, 1, 1, 3);
    grade->setColumnStretch(1, 1);
    connect(s.testar, &QPushButton::clicked, this, [this, &s] { testa(s); });
    for (QLineEdit* e : campos) connect(e, &QLineEdit::textChanged, this, [this, &s] { valoresMudaram(s); });
    return g;
}

void TPaginaDicom::carrega(TBIniSettings& settings, int model) {
    // Fresh from the file; its faults were reported when the program loaded it, and each
    // faulty row reads as its default.
    settings.LoadDicom(model);
    aeEstacao_->setText(settings.value(Row::DicomAeTitle));
    pacs_.ae->setText(settings.value(Row::DicomPacsAeTitle));
    pacs_.host->setText(settings.value(Row::DicomPacsHost));
    pacs_.porta->setText(porta(settings.value(Row::DicomPacsPorta)));
    worklist_.ae->setText(settings.value(Row::DicomWorklistAeTitle));
    worklist_.host->setText(settings.value(Row::DicomWorklistHost));
    worklist_.porta->setText(porta(settings.value(Row::DicomWorklistPorta)));
    envioAutomatico_->setChecked(settings.EnvioAutomaticoDicom());
}

QString TPaginaDicom::validaServidor(const Servidor& s, QWidget** campo) const {
    const QString ae = s.ae->text().trimmed(), host = s.host->text().trimmed();
    const auto falha = [campo](QLineEdit* errado, const QString& texto) {
        if (campo) *campo = errado;
        return texto;
    };
    if (!aeValido(ae)) return falha(s.ae, aeInvalido(s.nome, ae));
    for (QChar c : host)
        if (c.isSpace() || c.unicode() < 0x20)
            return falha(s.host, QStringLiteral("O servidor %1 (\"%2\") não pode ter espaços.").arg(QString::fromUtf8(s.nome), host));
    if (!ae.isEmpty() && host.isEmpty())
        return falha(s.host, QStringLiteral("Informe o servidor %1, cujo AE title foi preenchido.").arg(QString::fromUtf8(s.nome)));
    if (ae.isEmpty() && !host.isEmpty())
        return falha(s.ae, QStringLiteral("Informe o AE title %1, cujo servidor foi preenchido.").arg(QString::fromUtf8(s.nome)));
    bool ok = false;
    const int p = s.porta->text().trimmed().toInt(&ok);
    if (!ok || p < 1 || p > 65535)
        return falha(s.porta, QStringLiteral("A porta %1 (\"%2\") deve ser um número de 1 a 65535.")
                                  .arg(QString::fromUtf8(s.nome), s.porta->text()));
    return {};
}

QString TPaginaDicom::validaEstacao(QWidget** campo) const {
    const QString ae = aeEstacao_->text().trimmed();
    if (!aeValido(ae) || (ae.isEmpty() && !(pacs_.ae->text().trimmed() + worklist_.ae->text().trimmed()).isEmpty())) {
        if (campo) *campo = aeEstacao_;
        return ae.isEmpty() ? QStringLiteral("Informe o AE title desta estação: o PACS e a lista de trabalho a reconhecem por ele.")
                            : aeInvalido("desta estação", ae);
    }
    return {};
}

QString TPaginaDicom::valida(QWidget** campo) const {
    if (QString falha = validaEstacao(campo); !falha.isEmpty()) return falha;
    if (QString falha = validaServidor(pacs_, campo); !falha.isEmpty()) return falha;
    return validaServidor(worklist_, campo);
}

bool TPaginaDicom::confirma(QTabWidget* abas) {
    QWidget* campo = nullptr;
    const QString falha = valida(&campo);
    if (falha.isEmpty()) return true;
    abas->setCurrentWidget(this);
    campo->setFocus();
    showMessage(falha, QStringLiteral("Atenção"), MsgIcon::Warning, MsgButtons::Ok, window());
    return false;
}

void TPaginaDicom::grava(TBIniSettings& settings) const {
    const QString secao = QStringLiteral("DICOM");
    auto texto = [&](const char* chave, const QLineEdit* campo) {
        settings.WriteParameter(QStringLiteral("Str"), secao, QLatin1String(chave), campo->text().trimmed(), false);
    };
    texto("AETITLE", aeEstacao_);
    texto("PACS_AETITLE", pacs_.ae);
    texto("PACS_HOST", pacs_.host);
    texto("PACS_PORTA", pacs_.porta);
    texto("WORKLIST_AETITLE", worklist_.ae);
    texto("WORKLIST_HOST", worklist_.host);
    texto("WORKLIST_PORTA", worklist_.porta);
    settings.WriteParameter(QStringLiteral("Bool"), secao, QStringLiteral("ENVIO_AUTOMATICO"), QString(),
                            envioAutomatico_->isChecked());
}

void TPaginaDicom::testa(Servidor& s) {
    QString falha = validaEstacao(nullptr);
    if (falha.isEmpty()) falha = validaServidor(s, nullptr);
    if (falha.isEmpty() && s.ae->text().trimmed().isEmpty())
        falha = QStringLiteral("Informe o AE title e o servidor %1 para testar.").arg(QString::fromUtf8(s.nome));
    if (!falha.isEmpty()) {
        s.resposta->setText(falha);
        return;
    }
    dicom::PacsPeer peer;
    peer.localAeTitle = aeEstacao_->text().trimmed();
    peer.peerAeTitle = s.ae->text().trimmed();
    peer.host = s.host->text().trimmed();
    peer.port = s.porta->text().trimmed().toInt();
    const bool pacs = &s == &pacs_;
    if (!pacs) peer.serverName = QStringLiteral("servidor da lista de trabalho");
    s.testar->setEnabled(false);
    s.resposta->setText(QStringLiteral("Testando..."));
    // The echo waits on the network for up to its timeout: never on the GUI thread. The answer
    // comes back queued to the application object, which outlives the page, and is shown only
    // if the page still exists by then (checked on the GUI thread).
    const QPointer<TPaginaDicom> pagina(this);
    const int versao = s.versao;
    QThreadPool::globalInstance()->start([pagina, pacs, peer, versao] {
        QString resposta;
        dicom::echo(peer, &resposta);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [pagina, pacs, resposta, versao] {
                if (!pagina) return;
                Servidor& s = pacs ? pagina->pacs_ : pagina->worklist_;
                // Values edited while the test ran: the answer is about others, not shown.
                if (s.versao == versao) s.resposta->setText(resposta);
                s.testar->setEnabled(true);
            },
            Qt::QueuedConnection);
    });
}

}  // namespace norvix

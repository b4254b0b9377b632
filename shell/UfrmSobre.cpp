#include "UfrmSobre.h"

#include <pwd.h>
#include <unistd.h>

#include <QFileInfo>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>

#include "UBVersionInfo.h"
#include "config/SharedRecords.h"
#include "modules/ModuleBindings.h"
#include "platform/ui/MessageSeam.h"
#include "platform/ProfileFile.h"

namespace norvix {

QPointer<TfrmSobre> TfrmSobre::instance_;

namespace {
const QString kVazio = QStringLiteral("- - -");

QPixmap faixa() {
    QPixmap pm(445, 48);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 445, 0);
    g.setColorAt(0, QColor(5, 94, 149));
    g.setColorAt(1, QColor(97, 128, 154));
    p.fillRect(pm.rect(), g);
    for (int i = 5; i >= 1; --i) {
        p.setPen(QPen(QColor(255, 255, 255, 60 + i * 25), 1.5));
        p.drawEllipse(QPointF(400, 24), i * 4.0, i * 4.0);
    }
    p.setPen(Qt::white);
    p.setFont(QFont(QStringLiteral("DejaVu Sans"), 15, QFont::Bold));
    p.drawText(QRect(16, 0, 360, 48), Qt::AlignVCenter, QStringLiteral("Topógrafo de Córnea"));
    return pm;
}

QLabel* texto(QWidget* parent, const QString& t, const QRect& r) {
    auto* l = new QLabel(t, parent);
    l->setGeometry(r);
    return l;
}
}  // namespace

QString proprietarioRegistrado() {
    const passwd* pw = getpwuid(getuid());
    if (!pw) return QString();
    const QString nome = QString::fromLocal8Bit(pw->pw_gecos ? pw->pw_gecos : "").section(QLatin1Char(','), 0, 0).trimmed();
    return nome.isEmpty() ? QString::fromLocal8Bit(pw->pw_name) : nome;
}

QString organizacaoRegistrada(const QString& arquivo) {
    return ProfileFile(arquivo).readString(QStringLiteral("Registro"), QStringLiteral("RegisteredOrganization"), QString());
}

TfrmSobre::TfrmSobre(const TBVersionInfo* programa, QWidget* parent) : QDialog(parent), programa_(programa) {
    instance_ = this;
    setObjectName(QStringLiteral("frmSobre"));
    setWindowTitle(QStringLiteral("Sobre o Topógrafo de Córnea ..."));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(445, 467);

    auto* banda = texto(this, QString(), QRect(0, 0, 445, 48));
    banda->setObjectName(QStringLiteral("imgTopo"));
    banda->setPixmap(faixa());
    texto(this, QStringLiteral("Versão:"), QRect(14, 54, 60, 18));
    lblversao_ = valor(this, "lblversao", QRect(74, 54, 357, 18), true);

    auto* moldura = new QFrame(this);
    moldura->setFrameShape(QFrame::StyledPanel);
    moldura->setGeometry(12, 76, 421, 48);
    texto(moldura, QStringLiteral("Licenciado para:"), QRect(8, 4, 130, 20));
    texto(moldura, QStringLiteral("Usuário:"), QRect(8, 24, 130, 20));
    valor(moldura, "lblEmpresa", QRect(140, 4, 275, 20), true)->setText(organizacaoRegistrada());
    valor(moldura, "lblNumSerie", QRect(140, 24, 275, 20), true)->setText(proprietarioRegistrado());

    auto* aviso = texto(this,
                        QStringLiteral("Este programa é protegido pelas leis de direitos autorais. Sua reprodução "
                                       "ou distribuição sem autorização é proibida."),
                        QRect(12, 126, 421, 36));
    aviso->setWordWrap(true);
    QFont pequena = aviso->font();
    pequena.setPointSizeF(pequena.pointSizeF() * 0.85);
    aviso->setFont(pequena);

    // Two rows of modules per section; a description may take two lines.
    auto secao = [this](const QString& titulo, int y, int altura, const QString& versao) {
        auto* g = new QGroupBox(titulo, this);
        g->setGeometry(12, y, 421, altura);
        QFont negrito = g->font();
        negrito.setBold(true);
        texto(g, QStringLiteral("Descrição do Módulo:"), QRect(10, 18, 270, 16))->setFont(negrito);
        texto(g, versao, QRect(283, 18, 134, 16))->setFont(negrito);
        return g;
    };
    QGroupBox* digit = secao(QStringLiteral("  Digitalização  "), 164, 92, QStringLiteral("Versão do Módulo:"));
    QGroupBox* proc = secao(QStringLiteral("  Processamento de Imagem  "), 258, 92, QStringLiteral("Versão do Módulo:"));
    QGroupBox* cone = secao(QStringLiteral("Cone"), 352, 72, QStringLiteral("Versão:"));
    for (int i = 1; i <= 2; ++i) {
        const int y = 34 + (i - 1) * 28;
        valor(digit, qPrintable(QStringLiteral("lblDigitNome%1").arg(i)), QRect(10, y, 270, 28))->setWordWrap(true);
        valor(digit, qPrintable(QStringLiteral("lblDigitVersao%1").arg(i)), QRect(283, y, 134, 28));
        valor(proc, qPrintable(QStringLiteral("lblProcDesc%1").arg(i)), QRect(10, y, 270, 28))->setWordWrap(true);
        valor(proc, qPrintable(QStringLiteral("lblProcVersao%1").arg(i)), QRect(283, y, 134, 28));
        valor(cone, qPrintable(QStringLiteral("lblConeDesc%1").arg(i)), QRect(10, 34 + (i - 1) * 18, 270, 18));
        valor(cone, qPrintable(QStringLiteral("lblConeVersao%1").arg(i)), QRect(283, 34 + (i - 1) * 18, 134, 18));
    }

    auto* fechar = new QPushButton(QStringLiteral("Fechar"), this);
    fechar->setObjectName(QStringLiteral("Button1"));
    fechar->setGeometry(345, 432, 88, 28);
    fechar->setDefault(true);
    connect(fechar, &QPushButton::clicked, this, &QDialog::close);
}

TfrmSobre::~TfrmSobre() = default;

TfrmSobre* TfrmSobre::instance() { return instance_; }

void TfrmSobre::Executa(const TBVersionInfo* programa, QWidget* parent) {
    if (!instance_) new TfrmSobre(programa, parent);
    instance_->exec();
}

QLabel* TfrmSobre::valor(QWidget* parent, const char* nome, const QRect& r, bool negrito) {
    auto* l = texto(parent, kVazio, r);
    l->setObjectName(QLatin1String(nome));
    l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    if (negrito) {
        QFont f = l->font();
        f.setBold(true);
        l->setFont(f);
    }
    return l;
}

QString TfrmSobre::textoAneis(int tipoCone) {
    switch (tipoCone) {
    case 1: return QStringLiteral("16 (cone pequeno)");
    case 2: return QStringLiteral("16 (cone grande)");
    case 3: return QStringLiteral("32 (1a versao)");
    case 4: return QStringLiteral("32 (atual)");
    default: return QString();
    }
}

void TfrmSobre::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) FormShow();
}

void TfrmSobre::FormShow() {
    TBVersionInfo proprio;
    const TBVersionInfo* v = programa_;
    if (!v) {
        proprio.ReadVersionInfo(QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget());
        v = &proprio;
    }
    if (!v->FileVersion().isEmpty())
        lblversao_->setText(v->FileVersion() + (v->BuildNumber() != 0 ? QStringLiteral(" release") : QStringLiteral(" stable")));

    findChild<QLabel*>(QStringLiteral("lblConeDesc1"))->setText(QStringLiteral("Tipo do cone"));
    findChild<QLabel*>(QStringLiteral("lblConeDesc2"))->setText(QStringLiteral("Número de anéis"));
    const QString cone = recordText(infos().TipoCone);
    findChild<QLabel*>(QStringLiteral("lblConeVersao1"))->setText(cone);
    bool numero = false;
    const int tipo = cone.trimmed().toInt(&numero);
    if (!numero)
        showMessage(QStringLiteral("'%1' não é um valor inteiro válido.").arg(cone), QStringLiteral("Erro"),
                    MsgIcon::Error, MsgButtons::Ok, this);
    else if (!textoAneis(tipo).isEmpty())
        findChild<QLabel*>(QStringLiteral("lblConeVersao2"))->setText(textoAneis(tipo));

    const TPathsQV& p = paths();
    const struct {
        const char* campo;
        const char* descricao;
        const char* versao;
    } linhas[] = {
        {p.Digitalizacao, "lblDigitNome1", "lblDigitVersao1"},
        {p.Processamento, "lblProcDesc1", "lblProcVersao1"},
        {p.DigitalizacaoOrto, "lblDigitNome2", "lblDigitVersao2"},
        {p.ProcessamentoOrto, "lblProcDesc2", "lblProcVersao2"},
    };
    TBVersionInfo versoes;
    for (const auto& linha : linhas) {
        const QString caminho = recordText(linha.campo);
        // A module that is not installed is no load failure: its row just stays empty.
        if (caminho.isEmpty() || !QFileInfo::exists(caminho)) continue;
        bool ok = false;
        const QStringList info = ReadModuleLines(caminho, 2, &ok, this);
        if (!ok) continue;
        findChild<QLabel*>(QLatin1String(linha.descricao))->setText(info.value(0));
        const QString versao = versoes.FileVersionText(caminho);
        if (!versao.isEmpty()) findChild<QLabel*>(QLatin1String(linha.versao))->setText(versao);
    }
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - rect().center());
}

}  // namespace norvix

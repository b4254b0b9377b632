#include "ExameNovo.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <cmath>

#include "UArquivosExame.h"
#include "UBJpeg.h"
#include "UDArquivos.h"
#include "UDPedidosRis.h"
#include "UDExames.h"
#include "UDPacientes.h"
#include "UfrmDataModule.h"
#include "config/SharedRecords.h"

namespace norvix {

namespace {

constexpr int Meridianos = NORVIX_MERIDIANS;

QString problemaNaTabela(const TMatrizAngAnel& t, const char* qual, bool negativoProibido) {
    for (int k = 0; k < Meridianos; ++k) {
        for (int c = 0; c < NORVIX_RING_COLUMNS; ++c) {
            const double v = t[k][c];
            if (!std::isfinite(v))
                return QStringLiteral("a matriz %1 tem um valor que não é um número (meridiano %2, anel %3)")
                    .arg(QLatin1String(qual)).arg(k).arg(c);
            if (negativoProibido && v < 0)
                return QStringLiteral("a matriz %1 tem um valor negativo (meridiano %2, anel %3: %4)")
                    .arg(QLatin1String(qual)).arg(k).arg(c).arg(v);
        }
    }
    return {};
}

// The packed image of a bitmap file; empty for an empty file, and for one that cannot be
// packed (then *ok becomes false).
QByteArray jpegDe(const QByteArray& bitmap, bool* ok) {
    if (bitmap.isEmpty()) return {};
    try {
        QBuffer fluxo;
        fluxo.setData(bitmap);
        fluxo.open(QIODevice::ReadOnly);
        return TBJpeg().CompactaImagem(fluxo, infos().QualidadeImagem)->Dados();
    } catch (const Error&) {
        *ok = false;
        return {};
    }
}

}  // namespace

QString ProblemaNasMatrizes(const TMatrizAngAnel& m, const TMatrizAngAnel& d) {
    // m holds radii of curvature and d distances from the centre: neither is ever negative (a
    // point the module did not measure is 0).
    QString problema = problemaNaTabela(m, "m", true);
    if (problema.isEmpty()) problema = problemaNaTabela(d, "d", true);
    return problema;
}

QString ProblemaNaMedida(const TMedidaOlho& o) {
    if (!std::isfinite(o.centroX) || !std::isfinite(o.centroY))
        return QStringLiteral("o centro não é um número");
    if (!std::isfinite(o.indConf)) return QStringLiteral("o índice de confiabilidade não é um número");
    for (int k = 0; k < Meridianos; ++k)
        if (o.meridianos[k] < 0 || o.meridianos[k] > NORVIX_MAX_RINGS)
            return QStringLiteral("o meridiano %1 tem %2 anéis").arg(k).arg(o.meridianos[k]);
    return ProblemaNasMatrizes(o.m, o.d);
}

void ComoGravada(TMedidaOlho& medida) {
    const int aneis = infos().NumAneis;
    LeTabela(TextoTabela(medida.m, aneis), medida.m);
    LeTabela(TextoTabela(medida.d, aneis), medida.d);
    TArquivoA a;
    LeMeridianos(TextoMeridianos(medida.meridianos, medida.centroX, medida.centroY, medida.pupila), a);
    medida.centroX = a.CentroX;
    medida.centroY = a.CentroY;
}

// ---- files of one save ------------------------------------------------------------------------

void TArquivosNovos::criaPasta(const QString& pasta) {
    QStringList novas;
    for (QDir d(pasta); !d.exists();) {
        novas.prepend(d.absolutePath());
        if (!d.cdUp()) break;
    }
    if (!QDir().mkpath(pasta))
        throw ArquivoExameError(QStringLiteral("Não foi possível criar a pasta %1.").arg(pasta));
    pastas_ << novas;
}

void TArquivosNovos::reserva(const QString& caminho) {
    if (QFileInfo::exists(caminho))
        throw ArquivoExameError(QStringLiteral("O arquivo %1 já existe e não foi substituído.").arg(caminho));
    arquivos_ << caminho;
}

void TArquivosNovos::removeTodos() {
    for (const QString& c : std::as_const(arquivos_)) QFile::remove(c);
    for (auto p = pastas_.crbegin(); p != pastas_.crend(); ++p) QDir().rmdir(*p);
    arquivos_.clear();
    pastas_.clear();
}

// ---- rows and files ---------------------------------------------------------------------------

QString TextoUltimoExame(const QString& olho, const QDate& data, const QTime& hora) {
    return olho + QLatin1Char(' ') + data.toString(QStringLiteral("dd/MM/yyyy")) + QLatin1Char(' ') +
           hora.toString(QStringLiteral("HH:mm:ss"));
}

int CodigoDoExame(int paciente, int medico, const QDate& data, const QTime& hora) {
    return DMPrincipal().selectInt(
        QStringLiteral("SELECT Codigo FROM Exames WHERE Exames.CodPaciente = :CodPac AND Exames.CodResp = "
                       ":CodMed AND Exames.Data = :Data AND Exames.Hora = :Hora"),
        {{"CodPac", paciente}, {"CodMed", medico}, {"Data", data}, {"Hora", hora}}, QStringLiteral("Codigo"),
        TDMPrincipal::Close::Yes);
}

namespace {

// The row of a new exam and its code; raises Error when the row cannot be found again.
int insereExame(const TExameNovo& e, double indConf, const char* tipo) {
    DExames().InsertExames(e.paciente, e.medico, e.data, e.hora, e.olho, indConf, QLatin1String(tipo), QString(),
                           e.diag, e.observacao, infos().NumAneis, recordText(infos().TipoCone));
    const int codigo = CodigoDoExame(e.paciente, e.medico, e.data, e.hora);
    if (codigo == 0)
        throw Error(QStringLiteral("O exame do paciente %1 não foi encontrado depois de gravado.").arg(e.paciente));
    return codigo;
}

void reservaArquivos(int paciente, int codigo, TArquivosNovos& arquivos) {
    arquivos.criaPasta(QFileInfo(CaminhoArquivoExame(paciente, codigo, 'd')).path());
    for (char letra : {'d', 'm', 'a'}) arquivos.reserva(CaminhoArquivoExame(paciente, codigo, letra));
}

}  // namespace

void GravaArquivosDoExame(int paciente, int codigo, const TMedidaOlho& olho, TArquivosNovos& arquivos,
                          bool* imagensEmpacotadas) {
    reservaArquivos(paciente, codigo, arquivos);
    GravaArquivoD(paciente, codigo, olho.d);
    GravaArquivoM(paciente, codigo, olho.m);
    GravaArquivoA(paciente, codigo, olho.meridianos, olho.centroX, olho.centroY, olho.pupila);

    bool ok = true;
    QBuffer central, lateral;
    central.setData(infos().sImagemCentral ? jpegDe(olho.frente, &ok) : QByteArray());
    lateral.setData(infos().sImagemLateral ? jpegDe(olho.lateral, &ok) : QByteArray());
    DArquivos().InsertArquivos(codigo, central, lateral);
    if (imagensEmpacotadas) *imagensEmpacotadas = ok;
}

int GravaExameTopografia(const TExameNovo& e, const TMedidaOlho& olho, TArquivosNovos& arquivos,
                         bool* imagensEmpacotadas) {
    DPacientes().BloqueiaPaciente(e.paciente);
    const int codigo = insereExame(e, olho.indConf, "T");
    DPedidosRis().Anexa(e.paciente, codigo, e.data);  // the worklist order chosen for this exam
    GravaArquivosDoExame(e.paciente, codigo, olho, arquivos, imagensEmpacotadas);
    DPacientes().AtualizaContadores(e.paciente, TextoUltimoExame(e.olho, e.data, e.hora));
    return codigo;
}

int GravaExameOrto(const TExameNovo& e, const TCapturaOrto& c, TArquivosNovos& arquivos) {
    if (c.linhasM.size() != Meridianos || c.linhasD.size() != Meridianos)
        throw Error(QStringLiteral("Dados de ortoceratologia incompletos: são necessárias %1 linhas por tabela.")
                        .arg(Meridianos));
    DPacientes().BloqueiaPaciente(e.paciente);
    const int codigo = insereExame(e, c.indConf, "O");
    // As the values would read back from their text with four decimals.
    auto quatroCasas = [](double v) { return QString::number(v, 'f', 4).toDouble(); };
    DExames().InsertExamesOrto(codigo, quatroCasas(c.div), 0, quatroCasas(c.raio), quatroCasas(c.sag));

    reservaArquivos(e.paciente, codigo, arquivos);
    GravaArquivoTexto(CaminhoArquivoExame(e.paciente, codigo, 'd'), c.linhasD);
    GravaArquivoTexto(CaminhoArquivoExame(e.paciente, codigo, 'm'), c.linhasM);
    QStringList a{QStringLiteral("320"), QStringLiteral("240"), QStringLiteral("@"), QStringLiteral("0"),
                  QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("0")};
    for (int k = 0; k < Meridianos; ++k) a << QString::number(infos().NumAneis);
    GravaArquivoTexto(CaminhoArquivoExame(e.paciente, codigo, 'a'), a);

    DPacientes().AtualizaContadores(e.paciente, TextoUltimoExame(e.olho, e.data, e.hora));
    return codigo;
}

// ---- the clock --------------------------------------------------------------------------------

namespace {
TRelogio* relogioInstalado = nullptr;
}  // namespace

QDateTime TRelogio::Agora() { return QDateTime::currentDateTime(); }
void TRelogio::Espera(int ms) { QThread::msleep(static_cast<unsigned long>(std::max(ms, 0))); }

TRelogio& Relogio() {
    static TRelogio sistema;
    return relogioInstalado ? *relogioInstalado : sistema;
}

void setRelogio(TRelogio* relogio) { relogioInstalado = relogio; }

QDateTime MomentoLivre(int paciente) {
    for (;;) {
        QDateTime agora = Relogio().Agora();
        const QTime t = agora.time();
        agora.setTime(QTime(t.hour(), t.minute(), t.second()));
        const bool ocupado =
            DMPrincipal().selectInt(
                QStringLiteral("SELECT COUNT(*) FROM Exames WHERE Exames.CodPaciente = :CodPac AND "
                               "Exames.Data = :Data AND Exames.Hora = :Hora"),
                {{"CodPac", paciente}, {"Data", agora.date()}, {"Hora", agora.time()}}, QStringLiteral("COUNT"),
                TDMPrincipal::Close::Yes) > 0;
        if (!ocupado) return agora;
        Relogio().Espera(1000 - t.msec() + 1);
    }
}

// ---- all or nothing ---------------------------------------------------------------------------

void GravaTudoOuNada(const std::function<void(TArquivosNovos&)>& grava) {
    TArquivosNovos arquivos;
    // Another workstation's save holds the patient's row for well under a second (an
    // orthokeratology save, four rows a second apart, longer): a few short tries, then the
    // conflict goes to the caller, which asks the operator (no long wait).
    DMPrincipal().runBatch([&] { grava(arquivos); }, [&] { arquivos.removeTodos(); }, 8);
}

}  // namespace norvix

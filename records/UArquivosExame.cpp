#include "UArquivosExame.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>
#include <charconv>
#include <cstring>
#include <memory>

#include "UArquivosExameTexto.h"
#include "config/SharedRecords.h"
#include "platform/Cp1252.h"

namespace norvix {

namespace {

constexpr int Meridianos = NORVIX_MERIDIANS;
constexpr int Colunas = NORVIX_RING_COLUMNS;

// Walks the lines of a content: LF or CR LF ends a line, the last line may lack it.
class CursorLinhas {
public:
    explicit CursorLinhas(const QByteArray& conteudo)
        : p_(conteudo.constData()), fim_(conteudo.constData() + conteudo.size()) {}
    bool proxima(const char*& inicio, const char*& fim) {
        if (p_ >= fim_) return false;
        inicio = p_;
        const void* lf = std::memchr(p_, '\n', static_cast<size_t>(fim_ - p_));
        fim = lf ? static_cast<const char*>(lf) : fim_;
        p_ = lf ? fim + 1 : fim_;
        if (fim > inicio && fim[-1] == '\r') --fim;
        ++numero_;
        return true;
    }
    int numero() const { return numero_; }

private:
    const char* p_;
    const char* fim_;
    int numero_ = 0;
};

// A carriage return left on a line by a caller that split on LF alone counts as a blank.
bool ehBranco(char c) { return c == ' ' || c == '\t' || c == '\r'; }

QString textoValor(const char* inicio, const char* fim) {
    // Only a short, printable excerpt goes into the message.
    QByteArray v(inicio, std::min<std::ptrdiff_t>(fim - inicio, 20));
    for (char& c : v)
        if (static_cast<unsigned char>(c) < 0x20) c = '?';
    return fromCp1252(v);
}

// One table line into one matrix row. A line with fewer values than columns leaves the rest
// 0 (files of a cone with fewer rings); values after the 33rd are ignored unread.
void leLinhaTabela(const char* p, const char* fim, double* linha, int numeroLinha) {
    int coluna = 0;
    while (p < fim && coluna < Colunas) {
        while (p < fim && ehBranco(*p)) ++p;
        if (p >= fim) break;
        const char* inicio = p;
        while (p < fim && !ehBranco(*p)) ++p;
        if (!LeValor(inicio, p, &linha[coluna]))
            throw ArquivoExameError(QStringLiteral("linha %1: o valor \"%2\" não é um número.")
                                        .arg(numeroLinha).arg(textoValor(inicio, p)));
        ++coluna;
    }
    for (; coluna < Colunas; ++coluna) linha[coluna] = 0;
}

int leInteiro(const char* p, const char* fim, int numeroLinha) {
    while (p < fim && ehBranco(*p)) ++p;
    while (fim > p && ehBranco(fim[-1])) --fim;
    int32_t v = 0;
    const auto r = std::from_chars(p, fim, v);
    if (p == fim || r.ec != std::errc() || r.ptr != fim)
        throw ArquivoExameError(QStringLiteral("linha %1: \"%2\" não é um número inteiro.")
                                    .arg(numeroLinha).arg(textoValor(p, fim)));
    return v;
}

double leReal(const char* p, const char* fim, int numeroLinha) {
    while (p < fim && ehBranco(*p)) ++p;
    while (fim > p && ehBranco(fim[-1])) --fim;
    double v = 0;
    if (!LeValor(p, fim, &v))
        throw ArquivoExameError(QStringLiteral("linha %1: o valor \"%2\" não é um número.")
                                    .arg(numeroLinha).arg(textoValor(p, fim)));
    return v;
}

void gravaAtomico(const QString& caminho, const QByteArray& dados) {
    CamadaArquivos().GravaAtomico(caminho, dados);
}

TCamadaArquivos* camadaInstalada = nullptr;

}  // namespace

TCamadaArquivos& CamadaArquivos() {
    static TCamadaArquivos real;
    return camadaInstalada ? *camadaInstalada : real;
}

void setCamadaArquivos(TCamadaArquivos* camada) { camadaInstalada = camada; }

void TCamadaArquivos::GravaAtomico(const QString& caminho, const QByteArray& dados) {
    QSaveFile arquivo(caminho);
    // Unbuffered: a buffered QSaveFile can commit a file cut short when the disk fills up
    // during its final flush (a short write is not reported there); written directly, a short
    // write shows in the count below and the old file stays.
    if (!arquivo.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw ArquivoExameError(QStringLiteral("Não foi possível criar o arquivo %1 (%2).")
                                    .arg(caminho, arquivo.errorString()));
    if (arquivo.write(dados) != dados.size()) {
        const QString motivo = arquivo.errorString();
        arquivo.cancelWriting();
        throw ArquivoExameError(QStringLiteral("Não foi possível gravar o arquivo %1 (%2).")
                                    .arg(caminho, motivo));
    }
    if (!arquivo.commit())
        throw ArquivoExameError(QStringLiteral("Não foi possível gravar o arquivo %1 (%2).")
                                    .arg(caminho, arquivo.errorString()));
}

namespace {

int aneisAtuais() {
    // The record holds a byte; a value above the 32 rings of the cone would write columns
    // that the matrix does not have.
    return std::min<int>(infos().NumAneis, NORVIX_MAX_RINGS);
}

bool ehCodigo(const QString& codigo) {
    if (codigo.isEmpty() || codigo.size() > 10) return false;
    for (QChar c : codigo)
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
    return true;
}

QString nomeArquivo(const QString& caminho) { return QFileInfo(caminho).fileName(); }

}  // namespace

namespace {
// Without the setting the path would start at the root of the file system.
QString diretorio(const char* campo, const char* qual) {
    const QString d = recordText(campo);
    if (d.isEmpty())
        throw ArquivoExameError(
            QStringLiteral("O diretório de %1 não está configurado.").arg(QString::fromUtf8(qual)));
    return d;
}
}  // namespace

QString CaminhoArquivoExame(int codPaciente, int codExame, char letra) {
    return diretorio(paths().Exames, "exames") + QLatin1Char('/') + QString::number(codPaciente) +
           QLatin1Char('/') + QString::number(codExame) + QLatin1Char(letra) +
           QLatin1String(".txt");
}

QString CaminhoLaudo(const QString& codPaciente, const QString& codLaudo) {
    return diretorio(paths().Laudos, "laudos") + QLatin1Char('/') + codPaciente +
           QLatin1Char('/') + codLaudo + QLatin1String("l.txt");
}

QByteArray TextoTabela(const TMatrizAngAnel& matriz, int numAneis) {
    const int n = std::clamp(numAneis, 0, NORVIX_MAX_RINGS);
    QByteArray saida;
    saida.reserve(Meridianos * ((n + 1) * 8 + 2));
    for (int k = 0; k < Meridianos; ++k) {
        for (int c = 0; c <= n; ++c) {
            FormataValor0000(saida, matriz[k][c]);
            saida.append(' ');
        }
        saida.append("\r\n", 2);
    }
    return saida;
}

QByteArray TextoMeridianos(const TMatrizAng& meridianos, double centroX, double centroY,
                           const TPupila& pupila) {
    QByteArray saida;
    saida.reserve(8 * (Meridianos + 7));
    FormataInteiro(saida, centroX);
    saida.append("\r\n", 2);
    FormataInteiro(saida, centroY);
    saida.append("\r\n@\r\n", 5);
    char buf[16];
    for (int i = 0; i < 4; ++i) {
        saida.append(buf, std::to_chars(buf, buf + sizeof buf, pupila[i]).ptr - buf);
        saida.append("\r\n", 2);
    }
    for (int k = 0; k < Meridianos; ++k) {
        saida.append(buf, std::to_chars(buf, buf + sizeof buf, meridianos[k]).ptr - buf);
        saida.append("\r\n", 2);
    }
    return saida;
}

QByteArray TextoLaudo(const std::array<QString, 5>& caixas) {
    QString texto;
    for (size_t i = 0; i < caixas.size(); ++i) {
        QString caixa = TextoSemMarcas(caixas[i]);
        caixa.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        caixa.replace(QLatin1Char('\r'), QLatin1Char('\n'));
        caixa.replace(QChar(QChar::ParagraphSeparator), QLatin1Char('\n'));
        caixa.replace(QChar(QChar::LineSeparator), QLatin1Char('\n'));
        QStringList linhas = caixa.split(QLatin1Char('\n'));
        for (QString& linha : linhas) {
            // A box line that is exactly "@" or "*" would end its section early when read
            // back and shift every later box; a trailing blank keeps it a text line.
            if (linha == QLatin1String("@") || linha == QLatin1String("*"))
                linha.append(QLatin1Char(' '));
        }
        texto += linhas.join(QLatin1String("\r\n"));
        texto += QLatin1String("\r\n");
        texto += i + 1 < caixas.size() ? QLatin1String("@\r\n") : QLatin1String("*");
    }
    return toCp1252(texto);
}

void GravaArquivoD(int codPaciente, int codExame, const TMatrizAngAnel& d) {
    gravaAtomico(CaminhoArquivoExame(codPaciente, codExame, 'd'), TextoTabela(d, aneisAtuais()));
}

void GravaArquivoM(int codPaciente, int codExame, const TMatrizAngAnel& m) {
    gravaAtomico(CaminhoArquivoExame(codPaciente, codExame, 'm'), TextoTabela(m, aneisAtuais()));
}

void GravaArquivoA(int codPaciente, int codExame, const TMatrizAng& meridianos,
                   double centroX, double centroY, const TPupila& pupila) {
    gravaAtomico(CaminhoArquivoExame(codPaciente, codExame, 'a'),
                 TextoMeridianos(meridianos, centroX, centroY, pupila));
}

void GravaArquivoTexto(const QString& caminho, const QStringList& linhas) {
    QByteArray dados;
    for (const QString& linha : linhas) {
        dados += toCp1252(linha);
        dados.append("\r\n", 2);
    }
    gravaAtomico(caminho, dados);
}

bool GravaLaudo(const QString& codPaciente, const QString& codLaudo,
                const QString& condicoes, const QString& olhoDireito,
                const QString& olhoEsquerdo, const QString& conclusao,
                const QString& comentarios) {
    bool existe = false;
    if (ehCodigo(codPaciente) && ehCodigo(codLaudo)) {
        try {
            const QString caminho = CaminhoLaudo(codPaciente, codLaudo);
            gravaAtomico(caminho, TextoLaudo({condicoes, olhoDireito, olhoEsquerdo, conclusao,
                                              comentarios}));
            existe = QFileInfo::exists(caminho);
        } catch (const ArquivoExameError&) {
            // An older file of the same report may still be there; it is not this text, so
            // the save failed all the same.
        }
    }
    return existe;
}

void LeMatrizAngAnel(const QStringList& linhas, int& indice, TMatrizAngAnel& matriz) {
    if (indice < -1 || qint64(indice) + 1 + Meridianos > linhas.size())
        throw ArquivoExameError(
            QStringLiteral("Dados incompletos: são necessárias %1 linhas a partir da linha %2, "
                           "há %3.")
                .arg(Meridianos)
                .arg(indice + 2)
                .arg(std::max<qsizetype>(0, linhas.size() - indice - 1)));
    for (int k = 0; k < Meridianos; ++k) {
        const QByteArray linha = linhas.at(indice + 1 + k).toLatin1();
        leLinhaTabela(linha.constData(), linha.constData() + linha.size(), matriz[k],
                      indice + 2 + k);
    }
    indice += Meridianos;
}

void LeTabela(const QByteArray& conteudo, TMatrizAngAnel& matriz) {
    CursorLinhas cursor(conteudo);
    const char* inicio;
    const char* fim;
    int k = 0;
    for (; k < Meridianos && cursor.proxima(inicio, fim); ++k)
        leLinhaTabela(inicio, fim, matriz[k], k + 1);
    if (k < Meridianos)
        throw ArquivoExameError(
            QStringLiteral("arquivo incompleto: %1 de %2 linhas.").arg(k).arg(Meridianos));
}

void LeMeridianos(const QByteArray& conteudo, TArquivoA& a) {
    CursorLinhas cursor(conteudo);
    const char* inicio;
    const char* fim;
    auto proxima = [&](const char* falta) {
        if (!cursor.proxima(inicio, fim))
            throw ArquivoExameError(QStringLiteral("arquivo incompleto: falta %1.")
                                        .arg(QString::fromUtf8(falta)));
    };
    proxima("o centro X");
    a.CentroX = leReal(inicio, fim, cursor.numero());
    proxima("o centro Y");
    a.CentroY = leReal(inicio, fim, cursor.numero());
    proxima("o vetor de meridianos");
    const char* p = inicio;
    const char* q = fim;
    while (p < q && ehBranco(*p)) ++p;
    while (q > p && ehBranco(q[-1])) --q;
    int k = 0;
    a.LayoutAntigo = !(q - p == 1 && *p == '@');
    if (a.LayoutAntigo) {
        for (int& v : a.Pupila) v = 0;
        a.Meridianos[k++] = leInteiro(inicio, fim, cursor.numero());
    } else {
        for (int& v : a.Pupila) {
            proxima("o registro da pupila");
            v = leInteiro(inicio, fim, cursor.numero());
        }
    }
    for (; k < Meridianos; ++k) {
        if (!cursor.proxima(inicio, fim))
            throw ArquivoExameError(
                QStringLiteral("arquivo incompleto: %1 de %2 valores de meridiano.")
                    .arg(k).arg(Meridianos));
        a.Meridianos[k] = leInteiro(inicio, fim, cursor.numero());
    }
}

QString TSecoesLaudo::Texto(int i) const {
    return Linhas.at(static_cast<size_t>(i)).join(QLatin1Char(' '));
}

TSecoesLaudo LeLaudo(const QByteArray& conteudo) {
    TSecoesLaudo secoes;
    CursorLinhas cursor(conteudo);
    const char* inicio;
    const char* fim;
    size_t secao = 0;
    while (secao < secoes.Linhas.size() && cursor.proxima(inicio, fim)) {
        const QByteArray linha = QByteArray::fromRawData(inicio, fim - inicio);
        const bool ultima = secao + 1 == secoes.Linhas.size();
        if (linha == "@" || (ultima && linha == "*"))
            ++secao;
        else
            secoes.Linhas[secao].append(fromCp1252(QByteArray(inicio, fim - inicio)));
    }
    if (secao < secoes.Linhas.size())
        throw ArquivoExameError(
            QStringLiteral("arquivo incompleto: %1 de 5 seções.").arg(secao));
    return secoes;
}

QByteArray LeArquivoDados(const QString& caminho) {
    QFile arquivo(caminho);
    if (!arquivo.exists())
        throw ArquivoExameError(
            QStringLiteral("Arquivo %1 não encontrado!").arg(nomeArquivo(caminho)));
    if (!arquivo.open(QIODevice::ReadOnly))
        throw ArquivoExameError(QStringLiteral("Não foi possível abrir o arquivo %1 (%2).")
                                    .arg(caminho, arquivo.errorString()));
    if (arquivo.size() > TamanhoMaximoArquivoExame)
        throw ArquivoExameError(
            QStringLiteral("O arquivo %1 é grande demais para um arquivo de exame.").arg(caminho));
    QByteArray dados = arquivo.read(TamanhoMaximoArquivoExame + 1);
    if (dados.size() > TamanhoMaximoArquivoExame)
        throw ArquivoExameError(
            QStringLiteral("O arquivo %1 é grande demais para um arquivo de exame.").arg(caminho));
    if (dados.isEmpty())
        throw ArquivoExameError(QStringLiteral("O arquivo %1 está vazio.").arg(caminho));
    return dados;
}

namespace {
template <typename Leitura>
auto comNome(const QString& caminho, Leitura leitura) {
    const QByteArray dados = LeArquivoDados(caminho);
    try {
        return leitura(dados);
    } catch (const ArquivoExameError& e) {
        throw ArquivoExameError(
            QStringLiteral("Arquivo %1 inválido: %2").arg(caminho, e.message()));
    }
}
}  // namespace

void LeArquivoTabela(const QString& caminho, TMatrizAngAnel& matriz) {
    // Read into a scratch matrix so that a bad file leaves the caller's values as they were.
    struct Matriz { TMatrizAngAnel valores; };
    auto lida = std::make_unique<Matriz>();
    comNome(caminho, [&](const QByteArray& d) { LeTabela(d, lida->valores); return 0; });
    std::memcpy(matriz, lida->valores, sizeof(TMatrizAngAnel));
}

void LeArquivoA(const QString& caminho, TArquivoA& a) {
    TArquivoA lido;
    comNome(caminho, [&](const QByteArray& d) { LeMeridianos(d, lido); return 0; });
    a = lido;
}

TSecoesLaudo LeArquivoLaudo(const QString& caminho) {
    return comNome(caminho, [](const QByteArray& d) { return LeLaudo(d); });
}

}  // namespace norvix

#include "UfrmLauRelat.h"

#include <QAbstractTextDocumentLayout>
#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <QPrinter>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <QTextDocument>
#include <QTextOption>
#include <cstdio>

#include "UfrmLaudo.h"
#include "config/SharedRecords.h"
#include "modules/HostStream.h"
#include "modules/ModuleBindings.h"
#include "platform/ui/MessageSeam.h"
#include "platform/Paths.h"
#include "records/UArquivosExame.h"
#include "records/UfrmDataModule.h"
#include "reports/UBMapOperation.h"
#include "platform/Logging.h"

namespace norvix {

namespace {

constexpr int kLarguraTexto = 681;
constexpr int kFonteTexto = 13;
constexpr int kAlturaTitulo = 22;
constexpr int kInicioContinuacao = 116;
constexpr int kFimPagina = TfrmLauRelat::kAltura - 10;
// A logo is a small picture; a larger one is refused before it is decoded.
constexpr int kMaiorLadoLogo = 4000;

// The five sections on the first page: heading place, text place and height.
struct Secao {
    const char* titulo;
    int xTitulo, yTitulo, xTexto, yTexto, altura;
};
const Secao kSecoes[5] = {
    {"Condições do Exame", 15, 264, 16, 287, 89}, {"Olho Direito", 15, 384, 16, 406, 119},
    {"Olho Esquerdo", 15, 533, 16, 553, 119},     {"Conclusão", 15, 685, 16, 705, 89},
    {"Comentários", 15, 789, 16, 833, 89},
};

QFont arial(int px, bool negrito = false) {
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(px);
    f.setBold(negrito);
    // No ligatures: the PDF's text must read back (and be searched) letter for letter.
    f.setStyleStrategy(QFont::PreferNoShaping);
    return f;
}

// A section's text as laid out: plain text, wrapped at word boundaries within the width.
struct Documento {
    QTextDocument doc;
    Documento(const QString& texto, int px) {
        doc.setDocumentMargin(0);
        doc.setDefaultFont(arial(px));
        QTextOption opcao;
        opcao.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        doc.setDefaultTextOption(opcao);
        doc.setPlainText(texto);
        doc.setTextWidth(kLarguraTexto);
    }
    double altura() const { return doc.size().height(); }
};

bool cabe(const QString& texto, int px, int altura) { return Documento(texto, px).altura() <= altura; }

// The longest run of whole words from the start that fits the height, and the rest. A word
// longer than kPedaco characters counts as several, so that even a text without blanks is
// never cut; at least one piece is taken, so that a run always ends.
constexpr int kPedaco = 40;
std::pair<QString, QString> corta(const QString& texto, int px, int altura) {
    if (cabe(texto, px, altura)) return {texto, QString()};
    static const QRegularExpression pedacos(QStringLiteral("\\S{1,%1}\\s*|\\s+").arg(kPedaco));
    QStringList partes;
    for (auto it = pedacos.globalMatch(texto); it.hasNext();) partes << it.next().captured();
    auto junta = [&](qsizetype de, qsizetype ate) { return partes.mid(de, ate - de).join(QString()); };
    qsizetype cabem = 1, naoCabem = partes.size() + 1;
    while (naoCabem - cabem > 1) {
        const qsizetype meio = (cabem + naoCabem) / 2;
        if (cabe(junta(0, meio), px, altura))
            cabem = meio;
        else
            naoCabem = meio;
    }
    return {junta(0, cabem).trimmed(), junta(cabem, partes.size()).trimmed()};
}

void desenhaTexto(QPainter& p, const QString& texto, int px, int x, int y, int altura) {
    Documento d(texto, px);
    p.save();
    p.translate(x, y);
    d.doc.drawContents(&p, QRectF(0, 0, kLarguraTexto, altura));
    p.restore();
}

QString nomeDoMedicoDoExame(int exame) {
    if (exame <= 0) return {};
    return norvix::DMPrincipal().selectString(
        QStringLiteral("SELECT Medicos.Nome FROM Exames JOIN Medicos ON Medicos.Codigo = Exames.CodResp "
                       "WHERE Exames.Codigo = :Codigo"),
        {{"Codigo", exame}}, QStringLiteral("Nome"), norvix::TDMPrincipal::Close::Yes);
}

// The axial map of a stored exam as its window draws it (scale, step, marks, the exam's
// header), or the small map where the module cannot draw that, and its simulated keratometry.
TDadosRelat::Mapa mapaDoExame(const QString& titulo, const QString& nomePaciente, int paciente, int exame) {
    TDadosRelat::Mapa mapa{titulo, {}, QStringLiteral("Mapa indisponível para este exame.")};
    if (!norvix::hasMapOperation()) return mapa;
    norvix::TBMapOperation& dados = norvix::MapOperation();
    QString erro;
    if (!dados.Load(norvix::CaminhoArquivoExame(paciente, exame, 'd').chopped(5), true, &erro)) return mapa;
    TSingleMapBinding modulo;
    const QString caminho = norvix::recordText(norvix::paths().DirMapas) + QStringLiteral("/Halden.so");
    if (modulo.LoadModule(caminho) && modulo.CanVisualizar()) {
        norvix::HostStream imagem;
        TResultadoMapa r{};
        const int32_t retorno = modulo.Visualizar(nullptr, imagem, nullptr, nullptr, dados.CentroX(), dados.CentroY(),
                                                  &dados.M(), &dados.Meridianos(), &dados.D(), &dados.Pupila(), &r,
                                                  nullptr, &norvix::infos());
        // A map the module says it could not compute is not printed, nor its figures.
        const std::optional<norvix::TValoresMapa> valores = norvix::ValoresDoMapa(retorno, r);
        QByteArray png = retorno == 1 ? imagem.data() : QByteArray();
        if (retorno == 1 && modulo.ImagemMapa) {
            // "OD - 14/03/2025 09:00:00": the eye, the date and the time of the exam's header.
            const QStringList partes = titulo.split(QLatin1Char(' '), Qt::SkipEmptyParts);
            norvix::HostStream cabecalho, pagina;
            cabecalho.writeLines({nomePaciente, QString(), QString(),
                                  titulo.startsWith(QLatin1String("OD")) ? QStringLiteral("Olho Direito") : QStringLiteral("Olho Esquerdo"),
                                  partes.value(2), partes.value(3)});
            cabecalho.rewind();
            if (modulo.ImagemMapa(pagina, cabecalho, &dados.M(), &dados.Meridianos(), &dados.D(), &norvix::infos(), 680) == 1)
                png = pagina.data();
        }
        QBuffer buffer(&png);
        buffer.open(QIODevice::ReadOnly);
        if (QImageReader::imageFormat(&buffer) == "png") {
            buffer.seek(0);
            mapa.imagem = QImageReader(&buffer, "png").read();
        }
        if (valores) {
            const norvix::TValoresMapa& v = *valores;
            mapa.valores = QStringLiteral("Ceratometria simulada: K1 %1 D @ %2º, K2 %3 D @ %4º; astigmatismo %5 D @ "
                                          "%6º; curvatura máxima %7 D.")
                               .arg(FormatoF(v[0]), FormatoG(v[6]), FormatoF(v[1]), FormatoG(v[7]), FormatoF(v[4]),
                                    FormatoG(v[6]), FormatoF(v[8]));
        }
    }
    modulo.ReleaseModule();
    return mapa;
}

}  // namespace

// ---- filling ------------------------------------------------------------------------------------

QImage TfrmLauRelat::CarregaLogo(const QString& caminho, QString* problema) {
    if (!QFileInfo::exists(caminho)) return {};
    QImageReader leitor(caminho);
    QString motivo;
    QImage logo;
    if (leitor.format() != "bmp") {
        motivo = QStringLiteral("não é um bitmap");
    } else if (const QSize s = leitor.size(); !s.isValid() || s.width() > kMaiorLadoLogo || s.height() > kMaiorLadoLogo) {
        motivo = QStringLiteral("é grande demais (no máximo %1 × %1 pixels)").arg(kMaiorLadoLogo);
    } else {
        logo = leitor.read();
        if (logo.isNull()) motivo = QStringLiteral("não pôde ser lido");
    }
    if (!motivo.isEmpty() && problema)
        *problema = QStringLiteral("O logotipo %1 %2; o laudo é impresso sem ele.").arg(caminho, motivo);
    return logo;
}

void TfrmLauRelat::PreparaRelat(const TfrmLaudo& editor) {
    dados_ = {};
    QString problema;
    // The clinic's logo lies in its installation, where the tools window saves it.
    dados_.logo = CarregaLogo(norvix::recordText(norvix::paths().DirQV) + QStringLiteral("/LogoClinica.bmp"), &problema);
    if (!problema.isEmpty())
        norvix::showMessage(problema, QStringLiteral("Atenção"), norvix::MsgIcon::Warning, norvix::MsgButtons::Ok,
                            const_cast<TfrmLaudo*>(&editor));
    const TInfosQV& i = norvix::infos();
    dados_.nomeCli = norvix::recordText(i.Nome);
    dados_.enderecoCli = norvix::recordText(i.Endereco);
    dados_.cidadeEst = norvix::recordText(i.CidadeEst);
    dados_.fone = norvix::recordText(i.Telefone);
    dados_.nomePac = editor.nomePaciente();
    if (editor.emEdicao()) {
        dados_.nomeMed = editor.medicoEscolhido();
        const QDateTime agora = QDateTime::currentDateTime();
        dados_.dataEmissao = agora.toString(QStringLiteral("dd/MM/yy")) + QLatin1Char(' ') +
                             agora.toString(QStringLiteral("HH:mm:ss"));
    } else {
        // A report for the left eye only still names its doctor, through that exam.
        try {
            dados_.nomeMed = nomeDoMedicoDoExame(editor.codigoExame(TfrmLaudo::OD));
            if (dados_.nomeMed.isEmpty()) dados_.nomeMed = nomeDoMedicoDoExame(editor.codigoExame(TfrmLaudo::OS));
        } catch (const norvix::Error& e) {
            qCWarning(lcReports, "Laudo: %s", e.what());
        }
        dados_.dataEmissao = editor.dataLaudo().toString(QStringLiteral("dd/MM/yyyy")) + QLatin1Char(' ') +
                             editor.horaLaudo().toString(QStringLiteral("HH:mm:ss"));
    }
    dados_.exames = editor.linhaExame(TfrmLaudo::OD) + QStringLiteral("  ") + editor.linhaExame(TfrmLaudo::OS);
    dados_.tipoMapa = editor.tipoMapa() == norvix::TipoMapa::Axial ? QStringLiteral("Mapa Tipo Axial")
                                                                    : QStringLiteral("Mapa Tipo Tangencial");
    for (int c = 0; c < 5; ++c) dados_.secoes[size_t(c)] = editor.textoResolvido(TfrmLaudo::Caixa(c));
    if (editor.incluiMapas()) {
        for (TfrmLaudo::Caixa olho : {TfrmLaudo::OD, TfrmLaudo::OS})
            if (editor.codigoExame(olho) > 0)
                dados_.mapas.append(
                    mapaDoExame(editor.linhaExame(olho), editor.nomePaciente(), editor.codigoPaciente(), editor.codigoExame(olho)));
    }
}

// ---- layout -------------------------------------------------------------------------------------

struct TfrmLauRelat::Layout {
    struct Bloco {
        QString titulo, texto;
        int y = 0;
    };
    std::array<int, 5> fonte{};
    std::array<QString, 5> texto;
    std::array<bool, 5> continua{};
    QList<QList<Bloco>> continuacao;  // the pages after the first
    bool paginaMapas = false;
    int paginas() const { return 1 + int(continuacao.size()) + (paginaMapas ? 1 : 0); }
};

TfrmLauRelat::Layout TfrmLauRelat::monta() const {
    Layout l;
    QList<std::pair<QString, QString>> restos;  // heading, text still to print
    for (int c = 0; c < 5; ++c) {
        const QString& texto = dados_.secoes[size_t(c)];
        const int altura = kSecoes[c].altura;
        int px = kFonteTexto;
        while (px > kMenorFonte && !cabe(texto, px, altura)) --px;
        l.fonte[size_t(c)] = px;
        auto [cabeAqui, resto] = corta(texto, px, altura);
        l.texto[size_t(c)] = cabeAqui;
        if (!resto.isEmpty()) {
            l.continua[size_t(c)] = true;
            restos.append({QString::fromUtf8(kSecoes[c].titulo), resto});
        }
    }
    int y = kFimPagina;  // forces a new page for the first block
    for (auto [titulo, resto] : restos) {
        while (!resto.isEmpty()) {
            if (kFimPagina - (y + kAlturaTitulo) < 40) {
                l.continuacao.append(QList<Layout::Bloco>());
                y = kInicioContinuacao;
            }
            auto [parte, sobra] = corta(resto, kFonteTexto, kFimPagina - (y + kAlturaTitulo));
            l.continuacao.back().append({titulo + QStringLiteral(" (continuação)"), parte, y});
            y += kAlturaTitulo + int(Documento(parte, kFonteTexto).altura()) + 10;
            resto = sobra;
        }
    }
    l.paginaMapas = !dados_.mapas.isEmpty();
    return l;
}

int TfrmLauRelat::Paginas() const { return monta().paginas(); }

// ---- drawing ------------------------------------------------------------------------------------

void TfrmLauRelat::desenhaPagina(QPainter& p, const Layout& l, int pagina) const {
    auto rotulo = [&](int x, int y, const QString& texto, const QFont& fonte, int largura = 600,
                      Qt::Alignment alinhamento = Qt::AlignLeft | Qt::AlignTop) {
        p.setFont(fonte);
        const int altura = fonte.pixelSize() + 8;
        const QRect r = alinhamento & Qt::AlignRight ? QRect(x - largura, y, largura, altura)
                                                     : QRect(x, y, largura, altura);
        p.drawText(r, int(alinhamento) | Qt::TextSingleLine, texto);
    };
    auto linha = [&](int x, int y, int comprimento, int pena) {
        p.setPen(QPen(Qt::black, pena));
        p.drawLine(x, y, x + comprimento, y);
        p.setPen(Qt::black);
    };
    auto faixa = [&](int y, const QString& texto) {
        p.fillRect(QRect(10, y, 705, 30), QColor(238, 238, 238));
        p.setFont(arial(24, true));
        p.drawText(QRect(10, y, 705, 30), Qt::AlignCenter, texto);
    };
    // "Data/Hora Emissão:" and the date end at 708; the caption moves left when a wider font
    // than the design's would make the two overlap.
    auto emissao = [&](int y) {
        const QString legenda = QStringLiteral("Data/Hora Emissão:");
        const int larguraData = QFontMetrics(arial(13, true)).horizontalAdvance(dados_.dataEmissao);
        const int larguraLegenda = QFontMetrics(arial(13)).horizontalAdvance(legenda);
        const int x = std::min(464, 708 - larguraData - 6 - larguraLegenda);
        rotulo(x, y, legenda, arial(13), larguraLegenda + 4);
        rotulo(708, y, dados_.dataEmissao, arial(13, true), larguraData + 4, Qt::AlignRight | Qt::AlignTop);
    };
    // Patient, doctor and date head every page after the first.
    auto cabecalhoCurto = [&](const QString& titulo) {
        rotulo(14, 13, dados_.nomePac, arial(19, true), 690);
        rotulo(14, 40, QStringLiteral("Responsável:"), arial(13));
        rotulo(114, 39, dados_.nomeMed, arial(16, true), 340);
        emissao(42);
        linha(9, 68, 705, 2);
        faixa(76, titulo);
    };
    p.setPen(Qt::black);
    if (pagina == 0) {
        if (!dados_.logo.isNull()) {
            const QImage logo = dados_.logo.scaled(100, 100, Qt::KeepAspectRatio, Qt::SmoothTransformation);
            p.drawImage(QPoint(14 + (100 - logo.width()) / 2, 8 + (100 - logo.height()) / 2), logo);
        }
        rotulo(127, 13, dados_.nomeCli, arial(19, true), 420);
        rotulo(127, 39, dados_.enderecoCli, arial(13), 420);
        rotulo(127, 57, dados_.cidadeEst, arial(13), 420);
        rotulo(127, 75, dados_.fone, arial(13), 420);
        linha(9, 112, 705, 2);
        rotulo(14, 126, dados_.nomePac, arial(19, true), 690);
        rotulo(14, 148, QStringLiteral("Responsável:"), arial(13));
        rotulo(114, 147, dados_.nomeMed, arial(16, true), 340);
        emissao(144);
        rotulo(14, 170, QStringLiteral("Exame(s):"), arial(13));
        rotulo(79, 170, dados_.exames, arial(13), 630);
        rotulo(14, 192, dados_.tipoMapa, arial(13));
        faixa(227, QStringLiteral("Laudo"));
        const int total = l.paginas() - (l.paginaMapas ? 1 : 0);
        for (int c = 0; c < 5; ++c) {
            const Secao& s = kSecoes[c];
            if (c == TfrmLaudo::CM && dados_.secoes[4].isEmpty()) continue;
            QString titulo = QString::fromUtf8(s.titulo);
            if (l.continua[size_t(c)]) titulo += QStringLiteral(" (continua na página %1)").arg(total > 1 ? 2 : 1);
            rotulo(s.xTitulo, s.yTitulo, titulo, arial(16, true), 690);
            desenhaTexto(p, l.texto[size_t(c)], l.fonte[size_t(c)], s.xTexto, s.yTexto, s.altura);
        }
        rotulo(705, 941, QStringLiteral("Atenciosamente"), arial(16), 200, Qt::AlignRight | Qt::AlignTop);
        rotulo(705, 993, dados_.nomeMed, arial(16, true), 600, Qt::AlignRight | Qt::AlignTop);
        return;
    }
    if (pagina <= l.continuacao.size()) {
        cabecalhoCurto(QStringLiteral("Laudo (continuação)"));
        for (const Layout::Bloco& b : l.continuacao[pagina - 1]) {
            rotulo(15, b.y, b.titulo, arial(16, true), 690);
            desenhaTexto(p, b.texto, kFonteTexto, 16, b.y + kAlturaTitulo, kFimPagina - b.y - kAlturaTitulo);
        }
        return;
    }
    cabecalhoCurto(QStringLiteral("Mapas Axiais"));
    for (int i = 0; i < dados_.mapas.size() && i < 2; ++i) {
        const TDadosRelat::Mapa& m = dados_.mapas[i];
        const int x = 14 + i * 356;
        rotulo(x, 120, m.titulo, arial(16, true), 340);
        if (!m.imagem.isNull()) {
            const QImage img = m.imagem.scaled(340, 400, Qt::KeepAspectRatio, Qt::SmoothTransformation);
            p.drawImage(QPoint(x, 150), img);
        }
        p.setFont(arial(13));
        p.drawText(QRect(x, 560, 340, 80), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, m.valores);
    }
}

void TfrmLauRelat::ConfiguraImpressora(QPrinter& printer) {
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setPageOrientation(QPageLayout::Portrait);
    printer.setPageMargins(QMarginsF(10, 10, 10, 10), QPageLayout::Millimeter);
    printer.setDocName(QStringLiteral("Laudo"));
    printer.setCreator(QStringLiteral("Miral"));
}

bool TfrmLauRelat::Desenha(QPrinter& printer) const {
    const Layout l = monta();
    QPainter p;
    if (!p.begin(&printer)) return false;
    const QRectF area = printer.pageLayout().paintRectPixels(printer.resolution());
    const double escala = std::min(area.width() / kLargura, area.height() / kAltura);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    for (int pagina = 0; pagina < l.paginas(); ++pagina) {
        if (pagina > 0 && !printer.newPage()) return false;
        p.save();
        p.scale(escala, escala);
        desenhaPagina(p, l, pagina);
        p.restore();
    }
    return p.end();
}

void TfrmLauRelat::GravaPdf(const QString& caminho) const {
    const QFileInfo destino(caminho);
    auto falha = [&](const QString& motivo) {
        return norvix::Error(QStringLiteral("Não foi possível gravar o arquivo PDF %1: %2.")
                                 .arg(QDir::toNativeSeparators(caminho), motivo));
    };
    // Written beside the target and renamed over it: a failure leaves the earlier file whole.
    QTemporaryFile temporario(destino.absolutePath() + QStringLiteral("/.laudo-XXXXXX.pdf"));
    if (!temporario.open()) throw falha(QStringLiteral("sem permissão de escrita na pasta ou pasta inexistente"));
    temporario.close();
    QPrinter pdf(QPrinter::HighResolution);
    pdf.setOutputFormat(QPrinter::PdfFormat);
    pdf.setOutputFileName(temporario.fileName());
    ConfiguraImpressora(pdf);
    if (!Desenha(pdf) || QFileInfo(temporario.fileName()).size() == 0)
        throw falha(QStringLiteral("a gravação do arquivo falhou"));
    if (std::rename(QFile::encodeName(temporario.fileName()).constData(),
                    QFile::encodeName(destino.absoluteFilePath()).constData()) != 0)
        throw falha(QStringLiteral("o arquivo não pôde ser substituído"));
    temporario.setAutoRemove(false);
}

}  // namespace norvix

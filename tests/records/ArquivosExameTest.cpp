// Exam data files and report files: exact bytes written, tolerant reading, refusal of bad
// content, and atomic replacement.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <sys/stat.h>
#include <charconv>
#include <limits>
#include <random>
#include <memory>

#include "config/SharedRecords.h"
#include "platform/ui/MessageSeam.h"
#include "platform/Permissoes.h"
#include "records/ExameNovo.h"
#include "records/UArquivosExame.h"
#include "records/UArquivosExameTexto.h"

using namespace norvix;

namespace {

QByteArray formata(double x) {
    QByteArray s;
    FormataValor0000(s, x);
    return s;
}

struct Matriz {
    TMatrizAngAnel v;
};

std::unique_ptr<Matriz> matrizExemplo() {
    auto m = std::make_unique<Matriz>();
    for (int k = 0; k < 360; ++k)
        for (int c = 0; c < 33; ++c) m->v[k][c] = k * 0.01 + c - 5.125;
    return m;
}

QByteArray leArquivo(const QString& caminho) {
    QFile f(caminho);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << caminho.toStdString();
    return f.readAll();
}

class PastaExames : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        setRecordText(paths().Exames, dir.path() + "/exames");
        setRecordText(paths().Laudos, dir.path() + "/laudos");
        QDir().mkpath(dir.path() + "/exames/12");
        QDir().mkpath(dir.path() + "/laudos/12");
        infos().NumAneis = 32;
    }
    void TearDown() override { resetSharedRecords(); }
    QTemporaryDir dir;
};

}  // namespace

TEST(FormatoNumeros, PadraoDuasCasasComDoisDigitosInteiros) {
    EXPECT_EQ(formata(3.256), "03.26");
    EXPECT_EQ(formata(12.5), "12.50");
    EXPECT_EQ(formata(-1.5), "-01.50");
    EXPECT_EQ(formata(0), "00.00");
    EXPECT_EQ(formata(123.456), "123.46");
    EXPECT_EQ(formata(9.999), "10.00");
    // Exact halves round away from zero; values just below a half stay below.
    EXPECT_EQ(formata(0.125), "00.13");
    EXPECT_EQ(formata(-0.125), "-00.13");
    EXPECT_EQ(formata(1.005), "01.00");  // 1.00499999... in binary
    // Nothing to show a sign for.
    EXPECT_EQ(formata(-0.001), "00.00");
    EXPECT_EQ(formata(std::numeric_limits<double>::quiet_NaN()), "00.00");
    EXPECT_EQ(formata(-std::numeric_limits<double>::infinity()), "00.00");
}

TEST(FormatoNumeros, IgualAoArredondamentoExatoEmQualquerMagnitude) {
    // The quick path must agree with the correctly rounded digits of the binary value
    // (apart from exact halves, which round away from zero on purpose).
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> mantissa(-1, 1);
    int comparados = 0;
    for (int i = 0; i < 200000; ++i) {
        const double x = mantissa(rng) * std::pow(10.0, double(int(rng() % 12)) - 3);
        const double oitavos = std::fabs(x) * 8;
        if (oitavos == std::floor(oitavos)) continue;
        char buf[64];
        char* fim = std::to_chars(buf, buf + sizeof buf, std::fabs(x), std::chars_format::fixed, 2).ptr;
        QByteArray esperado(buf, fim - buf);
        if (esperado.indexOf('.') == 1) esperado.prepend('0');
        if (std::signbit(x) && esperado.count('0') + 1 != esperado.size()) esperado.prepend('-');
        ASSERT_EQ(formata(x), esperado) << std::scientific << x;
        ++comparados;
    }
    EXPECT_GT(comparados, 190000);
    // Products that land on a half although the value does not.
    EXPECT_EQ(formata(12.345), "12.35");  // 12.3450000000000006... in binary
    EXPECT_EQ(formata(0.145), "00.14");   // 0.1449999999999999955...
    EXPECT_EQ(formata(2.675), "02.67");
    EXPECT_EQ(formata(1e300).size(), 304);
}

TEST(FormatoNumeros, InteiroArredondado) {
    auto f = [](double x) { QByteArray s; FormataInteiro(s, x); return s; };
    EXPECT_EQ(f(320.4), "320");
    EXPECT_EQ(f(239.5), "240");
    EXPECT_EQ(f(-2.5), "-3");
    EXPECT_EQ(f(-0.2), "0");
}

TEST(LeituraValores, AceitaPontoOuVirgulaERecusaLixo) {
    auto le = [](const char* s, double* v) { return LeValor(s, s + std::strlen(s), v); };
    double v = 0;
    ASSERT_TRUE(le("3,75", &v));
    EXPECT_DOUBLE_EQ(v, 3.75);
    ASSERT_TRUE(le("3.75", &v));
    EXPECT_DOUBLE_EQ(v, 3.75);
    ASSERT_TRUE(le("-01.50", &v));
    EXPECT_DOUBLE_EQ(v, -1.5);
    for (const char* ruim : {"1e400", "nan", "inf", "--3", "3,5,5", "3.5.5", "", "3a", "0x10"})
        EXPECT_FALSE(le(ruim, &v)) << ruim;
}

TEST(ConverteDecimal, SeparadorDoPrograma) {
    EXPECT_EQ(ConverteDecimal("3,75"), "3.75");
    EXPECT_EQ(ConverteDecimal("3.75"), "3.75");
    EXPECT_EQ(ConverteDecimal("1,234,5"), "1.234,5");  // only the first
    EXPECT_EQ(ConverteDecimal("3.75", QLatin1Char(',')), "3,75");
    EXPECT_EQ(ConverteDecimal("3,75", QLatin1Char(',')), "3,75");
}

TEST(Maiusculas, LetrasAcentuadasPortuguesas) {
    EXPECT_EQ(MaiusculasComAcentos(QStringLiteral("joão ação éêí ü ç-1")),
              QStringLiteral("JOÃO AÇÃO ÉÊÍ Ü Ç-1"));
    EXPECT_EQ(MaiusculasComAcentos(QStringLiteral("ñ ß ÿ")), QStringLiteral("ñ ß ÿ"));
    const QString longo(1000, QChar(u'á'));
    EXPECT_EQ(MaiusculasComAcentos(longo), QString(1000, QChar(u'Á')));
}

TEST(TextoSemMarcas, MarcadoresPreenchidosEVazios) {
    EXPECT_EQ(TextoSemMarcas("Ceratometria #12-normal# em AO"), "Ceratometria normal em AO");
    EXPECT_EQ(TextoSemMarcas("#1-x#"), "x");
    EXPECT_EQ(TextoSemMarcas("a#ab#b"), "ab");
    EXPECT_EQ(TextoSemMarcas("#3##4-com - traço#"), "com - traço");
    EXPECT_EQ(TextoSemMarcas("#12-#fim"), "fim");
    EXPECT_EQ(TextoSemMarcas(""), "");
}

TEST(TextoSemMarcas, MarcadoresQueNaoFechamTerminamEGuardamOTexto) {
    EXPECT_EQ(TextoSemMarcas("valor # sem fim"), "valor # sem fim");
    EXPECT_EQ(TextoSemMarcas("#1-x# e #"), "x e #");
    EXPECT_EQ(TextoSemMarcas("#texto livre#!"), "texto livre!");
    EXPECT_EQ(TextoSemMarcas("####"), "");
    EXPECT_EQ(TextoSemMarcas(QString(100000, QChar('#')) + "#"), "#");
}

TEST_F(PastaExames, TabelaCom32AneisTem33ValoresPorLinha) {
    auto m = matrizExemplo();
    GravaArquivoD(12, 345, m->v);
    const QByteArray dados = leArquivo(dir.path() + "/exames/12/345d.txt");
    const QList<QByteArray> linhas = dados.split('\n');
    ASSERT_EQ(linhas.size(), 361);  // the last "line" is what follows the final LF
    EXPECT_TRUE(linhas.last().isEmpty());
    for (int k = 0; k < 360; ++k) {
        ASSERT_TRUE(linhas[k].endsWith(" \r")) << k;
        EXPECT_EQ(linhas[k].count(' '), 33) << k;
    }
    EXPECT_TRUE(linhas[0].startsWith("-05.13 -04.13 -03.13 "));
    EXPECT_EQ(linhas[1].left(6), "-05.12");  // 0.01 - 5.125 = -5.115 -> -05.12
}

TEST_F(PastaExames, TabelaCom16AneisLidaComRestoZerado) {
    infos().NumAneis = 16;
    auto m = matrizExemplo();
    GravaArquivoM(12, 7, m->v);
    const QByteArray dados = leArquivo(dir.path() + "/exames/12/7m.txt");
    EXPECT_EQ(dados.left(dados.indexOf('\n')).count(' '), 17);

    auto lida = std::make_unique<Matriz>();
    LeArquivoTabela(dir.path() + "/exames/12/7m.txt", lida->v);
    for (int k : {0, 180, 359}) {
        for (int c = 0; c <= 16; ++c)
            EXPECT_NEAR(lida->v[k][c], m->v[k][c], 0.005 + 1e-9) << k << "," << c;
        for (int c = 17; c < 33; ++c) EXPECT_EQ(lida->v[k][c], 0.0);
    }
}

TEST_F(PastaExames, NumeroDeAneisForaDoLimiteFicaEm32) {
    infos().NumAneis = 200;
    auto m = matrizExemplo();
    GravaArquivoD(12, 8, m->v);
    const QByteArray dados = leArquivo(dir.path() + "/exames/12/8d.txt");
    EXPECT_EQ(dados.left(dados.indexOf('\n')).count(' '), 33);
}

TEST(LeituraTabela, VirgulaLinhasCurtasLongasEFinaisDeLinha) {
    QByteArray conteudo;
    conteudo += "3,75 3.75\n";  // LF only, both separators, fewer values
    QByteArray longa;
    for (int c = 0; c < 40; ++c) longa += QByteArray::number(c) + ' ';
    conteudo += longa + "\r\n";
    for (int k = 2; k < 360; ++k) conteudo += "01.00 \r\n";
    conteudo += "lixo depois da ultima linha\r\n";  // after the 360th: not read
    auto m = std::make_unique<Matriz>();
    LeTabela(conteudo, m->v);
    EXPECT_DOUBLE_EQ(m->v[0][0], 3.75);
    EXPECT_DOUBLE_EQ(m->v[0][1], 3.75);
    EXPECT_EQ(m->v[0][2], 0.0);
    EXPECT_EQ(m->v[1][32], 32.0);
    EXPECT_EQ(m->v[359][0], 1.0);
}

TEST(LeituraTabela, ConteudoRuimDaErroClaro) {
    auto m = std::make_unique<Matriz>();
    QByteArray curta;
    for (int k = 0; k < 359; ++k) curta += "01.00 \r\n";
    EXPECT_THROW(LeTabela(curta, m->v), ArquivoExameError);
    EXPECT_THROW(LeTabela(QByteArray(), m->v), ArquivoExameError);
    QByteArray numeroRuim = curta + "01.00 1e400 \r\n";
    try {
        LeTabela(numeroRuim, m->v);
        FAIL() << "aceitou 1e400";
    } catch (const ArquivoExameError& e) {
        EXPECT_TRUE(e.message().contains("linha 360")) << e.message().toStdString();
        EXPECT_TRUE(e.message().contains("1e400"));
    }
    QByteArray binario(5000, '\0');
    EXPECT_THROW(LeTabela(binario, m->v), ArquivoExameError);
}

TEST(LeMatrizAngAnel, BlocosConsecutivosAvancamOIndice) {
    QStringList linhas{"cabeçalho"};
    for (int b = 0; b < 2; ++b)
        for (int k = 0; k < 360; ++k) linhas << QString("%1,5 %2 ").arg(b).arg(k);
    auto m = std::make_unique<Matriz>();
    int indice = 0;
    LeMatrizAngAnel(linhas, indice, m->v);
    EXPECT_EQ(indice, 360);
    EXPECT_DOUBLE_EQ(m->v[0][0], 0.5);
    EXPECT_DOUBLE_EQ(m->v[359][1], 359);
    LeMatrizAngAnel(linhas, indice, m->v);
    EXPECT_EQ(indice, 720);
    EXPECT_DOUBLE_EQ(m->v[10][0], 1.5);
    // A third block is not there: error, index unchanged.
    EXPECT_THROW(LeMatrizAngAnel(linhas, indice, m->v), ArquivoExameError);
    EXPECT_EQ(indice, 720);
    linhas[1] = "1,5 2\r";  // a line split on LF alone keeps its CR
    indice = 0;
    LeMatrizAngAnel(linhas, indice, m->v);
    EXPECT_DOUBLE_EQ(m->v[0][1], 2);
    linhas[5] = "--3";
    indice = 0;
    EXPECT_THROW(LeMatrizAngAnel(linhas, indice, m->v), ArquivoExameError);
}

TEST_F(PastaExames, ArquivoDeMeridianosAtualEAntigo) {
    TMatrizAng mer;
    for (int k = 0; k < 360; ++k) mer[k] = (k % 33) - 1;
    const TPupila pupila = {1, -2, 30, 40};
    GravaArquivoA(12, 345, mer, 320.6, 239.5, pupila);
    const QString caminho = dir.path() + "/exames/12/345a.txt";
    const QByteArray dados = leArquivo(caminho);
    EXPECT_TRUE(dados.startsWith("321\r\n240\r\n@\r\n1\r\n-2\r\n30\r\n40\r\n-1\r\n0\r\n"));
    EXPECT_EQ(dados.count("\r\n"), 367);

    TArquivoA a;
    LeArquivoA(caminho, a);
    EXPECT_FALSE(a.LayoutAntigo);
    EXPECT_EQ(a.CentroX, 321);
    EXPECT_EQ(a.Pupila[1], -2);
    EXPECT_EQ(a.Meridianos[359], mer[359]);

    // The older layout: no "@" and no pupil record; a decimal comma in the centre.
    QByteArray antigo = "320,5\r\n240\r\n";
    for (int k = 0; k < 360; ++k) antigo += QByteArray::number(k) + "\r\n";
    TArquivoA b;
    b.Pupila[0] = 99;
    LeMeridianos(antigo, b);
    EXPECT_TRUE(b.LayoutAntigo);
    EXPECT_DOUBLE_EQ(b.CentroX, 320.5);
    EXPECT_EQ(b.Pupila[0], 0);
    EXPECT_EQ(b.Meridianos[0], 0);
    EXPECT_EQ(b.Meridianos[359], 359);
}

TEST(LeituraMeridianos, MenosDe360ValoresOuValoresRuins) {
    QByteArray curto = "320\r\n240\r\n@\r\n0\r\n0\r\n0\r\n0\r\n";
    for (int k = 0; k < 359; ++k) curto += "32\r\n";
    TArquivoA a;
    try {
        LeMeridianos(curto, a);
        FAIL();
    } catch (const ArquivoExameError& e) {
        EXPECT_TRUE(e.message().contains("359 de 360")) << e.message().toStdString();
    }
    EXPECT_THROW(LeMeridianos("320\r\n", a), ArquivoExameError);
    EXPECT_THROW(LeMeridianos("nan\r\n240\r\n@\r\n", a), ArquivoExameError);
    QByteArray real = "320\r\n240\r\n@\r\n0\r\n0\r\n0\r\n0\r\n3.5\r\n";
    EXPECT_THROW(LeMeridianos(real, a), ArquivoExameError);
}

TEST_F(PastaExames, FalhaNaGravacaoPreservaArquivoAnterior) {
    auto m = matrizExemplo();
    GravaArquivoD(12, 1, m->v);
    const QString caminho = dir.path() + "/exames/12/1d.txt";
    const QByteArray antes = leArquivo(caminho);
    // A disk that fills up half-way: files may not grow past 4 kB (root ignores permissions,
    // not this limit).
    rlimit anterior{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &anterior), 0);
    const auto sinal = std::signal(SIGXFSZ, SIG_IGN);
    rlimit pequeno = anterior;
    pequeno.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &pequeno), 0);
    for (auto& l : m->v) l[0] = 77;
    bool falhou = false;
    try {
        GravaArquivoD(12, 1, m->v);
    } catch (const ArquivoExameError& e) {
        falhou = e.message().startsWith(QStringLiteral("Não foi possível gravar o arquivo"));
    }
    setrlimit(RLIMIT_FSIZE, &anterior);
    std::signal(SIGXFSZ, sinal);
    EXPECT_TRUE(falhou);
    EXPECT_EQ(leArquivo(caminho), antes);
    EXPECT_EQ(QDir(dir.path() + "/exames/12").entryList(QDir::Files), QStringList{"1d.txt"});
}

TEST_F(PastaExames, PastaDoPacienteAusenteDaErroSemArquivo) {
    auto m = matrizExemplo();
    try {
        GravaArquivoD(99, 1, m->v);
        FAIL();
    } catch (const ArquivoExameError& e) {
        EXPECT_TRUE(e.message().startsWith(QStringLiteral("Não foi possível criar o arquivo")));
    }
    EXPECT_FALSE(QFile::exists(dir.path() + "/exames/99/1d.txt"));
}

TEST_F(PastaExames, DiretorioNaoConfiguradoNaoGravaNaRaiz) {
    RecordingMessageSeam mensagens;
    setRecordText(paths().Exames, QString());
    setRecordText(paths().Laudos, QString());
    auto m = matrizExemplo();
    try {
        GravaArquivoM(12, 1, m->v);
        FAIL();
    } catch (const ArquivoExameError& e) {
        EXPECT_EQ(e.message(), QStringLiteral("O diretório de exames não está configurado."));
    }
    EXPECT_FALSE(GravaLaudo("12", "1", "", "", "", "", ""));
    EXPECT_FALSE(QFile::exists("/12/1m.txt"));
    int indice = INT32_MAX - 10;  // far past any list, without overflowing
    EXPECT_THROW(LeMatrizAngAnel(QStringList{"1"}, indice, m->v), ArquivoExameError);
}

TEST_F(PastaExames, LeitorRecusaArquivoAusenteVazioOuEnorme) {
    auto m = std::make_unique<Matriz>();
    m->v[0][0] = 42;
    try {
        LeArquivoTabela(dir.path() + "/exames/12/5d.txt", m->v);
        FAIL();
    } catch (const ArquivoExameError& e) {
        EXPECT_EQ(e.message(), QStringLiteral("Arquivo 5d.txt não encontrado!"));
    }
    QFile vazio(dir.path() + "/exames/12/6d.txt");
    ASSERT_TRUE(vazio.open(QIODevice::WriteOnly));
    vazio.close();
    EXPECT_THROW(LeArquivoTabela(vazio.fileName(), m->v), ArquivoExameError);
    QFile enorme(dir.path() + "/exames/12/7d.txt");
    ASSERT_TRUE(enorme.open(QIODevice::WriteOnly));
    ASSERT_TRUE(enorme.resize(TamanhoMaximoArquivoExame + 1));
    enorme.close();
    EXPECT_THROW(LeArquivoTabela(enorme.fileName(), m->v), ArquivoExameError);
    EXPECT_EQ(m->v[0][0], 42);  // a refused file leaves the caller's matrix as it was
}

TEST_F(PastaExames, LaudoGravadoELidoDeVolta) {
    RecordingMessageSeam mensagens;
    ASSERT_TRUE(GravaLaudo("12", "40", "Exame #1-bom#", "linha 1\nlinha 2", "#3#",
                           QStringLiteral("Conclusão: ação"), ""));
    EXPECT_TRUE(mensagens.messages.empty());  // the window that saves says so, not the files

    const QString caminho = dir.path() + "/laudos/12/40l.txt";
    const QByteArray dados = leArquivo(caminho);
    EXPECT_EQ(dados, QByteArray("Exame bom\r\n@\r\nlinha 1\r\nlinha 2\r\n@\r\n\r\n@\r\n"
                                "Conclus\xe3o: a\xe7\xe3o\r\n@\r\n\r\n*"));
    const TSecoesLaudo s = LeArquivoLaudo(caminho);
    EXPECT_EQ(s.Texto(0), "Exame bom");
    EXPECT_EQ(s.Texto(1), "linha 1 linha 2");
    EXPECT_EQ(s.Texto(2), "");
    EXPECT_EQ(s.Texto(3), QStringLiteral("Conclusão: ação"));
    EXPECT_EQ(s.Texto(4), "");  // the empty comments box
}

// An exam's and a report's files, and the patient's folder a new exam makes, are the clinic's
// alone: other accounts get nothing, the clinic's group (when named) reads and writes.
TEST_F(PastaExames, ArquivosEPastasSemAcessoDeOutrasContas) {
    const mode_t antes = ::umask(0);
    auto modo = [](const QString& caminho) {
        struct stat st {};
        return ::stat(QFile::encodeName(caminho).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
    };
    struct Caso { QString grupo; int pasta, arquivo; };
    for (const Caso& c : {Caso{{}, 0750, 0640}, Caso{QStringLiteral("clinica"), 0770, 0660}}) {
        aplicaMascaraDaClinica(c.grupo);
        const int paciente = c.grupo.isEmpty() ? 30 : 31;
        TArquivosNovos novos;
        novos.criaPasta(QStringLiteral("%1/exames/%2").arg(dir.path()).arg(paciente));
        auto d = std::make_unique<Matriz>();
        GravaArquivoD(paciente, 1, d->v);
        GravaArquivoTexto(CaminhoArquivoExame(paciente, 1, 'm'), {QStringLiteral("1")});
        QDir().mkpath(QStringLiteral("%1/laudos/%2").arg(dir.path()).arg(paciente));
        RecordingMessageSeam mensagens;
        ASSERT_TRUE(GravaLaudo(QString::number(paciente), "2", "", "", "", "", ""));
        EXPECT_EQ(modo(QStringLiteral("%1/exames/%2").arg(dir.path()).arg(paciente)), c.pasta);
        for (const QString& arquivo : {CaminhoArquivoExame(paciente, 1, 'd'), CaminhoArquivoExame(paciente, 1, 'm'),
                                       CaminhoLaudo(QString::number(paciente), "2")})
            EXPECT_EQ(modo(arquivo), c.arquivo) << arquivo.toStdString();
    }
    ::umask(antes);
}

// What the map windows are shown while an exam is taken is, value for value, what its files
// give back when the stored exam is opened.
TEST_F(PastaExames, AMedidaComoGravadaEhOQueOsArquivosDevolvem) {
    infos().NumAneis = 16;
    auto medida = std::make_unique<TMedidaOlho>();
    const double valores[] = {7.80499999, 7.805, 0.125, 1e-9, 43.994999, 12345.678};
    for (int k = 0; k < 360; ++k) {
        medida->meridianos[k] = 16;
        for (int c = 0; c < 33; ++c) {
            medida->m[k][c] = valores[(k + c) % 6];
            medida->d[k][c] = valores[(k + 2 * c) % 6] / 3;  // c beyond 16 is not stored
        }
    }
    medida->centroX = 320.5;
    medida->centroY = 239.49;
    ComoGravada(*medida);
    GravaArquivoD(12, 9, medida->d);
    GravaArquivoM(12, 9, medida->m);
    GravaArquivoA(12, 9, medida->meridianos, medida->centroX, medida->centroY, medida->pupila);
    auto lida = std::make_unique<TMedidaOlho>();
    LeArquivoTabela(CaminhoArquivoExame(12, 9, 'd'), lida->d);
    LeArquivoTabela(CaminhoArquivoExame(12, 9, 'm'), lida->m);
    TArquivoA a;
    LeArquivoA(CaminhoArquivoExame(12, 9, 'a'), a);
    EXPECT_EQ(std::memcmp(lida->m, medida->m, sizeof lida->m), 0);
    EXPECT_EQ(std::memcmp(lida->d, medida->d, sizeof lida->d), 0);
    EXPECT_EQ(a.CentroX, medida->centroX);
    EXPECT_EQ(a.CentroY, medida->centroY);
    EXPECT_EQ(medida->d[0][20], 0.0);
    const auto antes = std::make_unique<TMedidaOlho>(*medida);
    ComoGravada(*medida);  // a second time changes nothing
    EXPECT_EQ(std::memcmp(antes->m, medida->m, sizeof medida->m), 0);
}

TEST_F(PastaExames, LinhaComSoArrobaNaoDesalinhaAsSecoes) {
    RecordingMessageSeam mensagens;
    ASSERT_TRUE(GravaLaudo("12", "41", "a\n@\nb", "x", "*", "y", "z"));
    const TSecoesLaudo s = LeArquivoLaudo(dir.path() + "/laudos/12/41l.txt");
    EXPECT_EQ(s.Texto(0), "a @  b");
    EXPECT_EQ(s.Texto(1), "x");
    EXPECT_EQ(s.Texto(2), "* ");
    EXPECT_EQ(s.Texto(4), "z");
}

TEST_F(PastaExames, LaudoQueNaoPodeSerGravado) {
    RecordingMessageSeam mensagens;
    EXPECT_FALSE(GravaLaudo("13", "1", "a", "b", "c", "d", "e"));  // no patient folder
    EXPECT_FALSE(GravaLaudo("../12", "1", "a", "b", "c", "d", "e"));
    EXPECT_FALSE(QFile::exists(dir.path() + "/laudos/12/1l.txt"));
    EXPECT_TRUE(mensagens.messages.empty());
}

TEST_F(PastaExames, FalhaAoRegravarLaudoNaoEhSucesso) {
    RecordingMessageSeam mensagens;
    ASSERT_TRUE(GravaLaudo("12", "42", "primeiro", "", "", "", ""));
    const QString caminho = dir.path() + "/laudos/12/42l.txt";
    const QByteArray antes = leArquivo(caminho);
    rlimit anterior{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &anterior), 0);
    const auto sinal = std::signal(SIGXFSZ, SIG_IGN);
    rlimit pequeno = anterior;
    pequeno.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &pequeno), 0);
    const bool gravou = GravaLaudo("12", "42", QString(500, 'x'), "", "", "", "");
    setrlimit(RLIMIT_FSIZE, &anterior);
    std::signal(SIGXFSZ, sinal);
    EXPECT_FALSE(gravou);  // the old file still exists, but it is not this report
    EXPECT_EQ(leArquivo(caminho), antes);
}

TEST(LeituraLaudo, ArquivoTruncado) {
    EXPECT_THROW(LeLaudo("a\r\n@\r\nb\r\n@\r\n"), ArquivoExameError);
    EXPECT_THROW(LeLaudo("a\r\n@\r\nb\r\n@\r\nc\r\n@\r\nd\r\n@\r\ne\r\n"), ArquivoExameError);
    const TSecoesLaudo s = LeLaudo("a\n@\nb\n@\nc\n@\nd\n@\ne\n@");
    EXPECT_EQ(s.Texto(4), "e");
}

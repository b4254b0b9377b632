// analisa-exame [opções] <exame>...
// The figures of many exams in one table, for research and batch work: simulated keratometry,
// keratoconus indices, best-fit sphere and conic, and the Zernike coefficients of the corneal
// wavefront, one line per exam, as CSV or JSON lines. An exam is given as its d, m and a
// files (by their common prefix, one of the files, or a folder holding any number of exams) or
// as a BMP frame of the instrument, measured as the processing module measures it. An exam
// that cannot be read is said on standard error and the others are still printed.
#include <exception>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

#include <malloc.h>
#include <cmath>
#include <cstdio>
#include <memory>

#include "outside/core/ExamAnalysis.h"
#include "outside/core/ExamFiles.h"
#include "outside/core/TopographyProcessor.h"
#include "outside/math/Zernike.h"

using namespace norvix::outside;

namespace {

const char* const kHelp =
    "Uso: analisa-exame [opções] <exame>...\n"
    "\n"
    "Imprime, uma linha por exame, a ceratometria simulada, os índices de ceratocone, a esfera\n"
    "e a cônica que melhor se ajustam à superfície da córnea e os coeficientes de Zernike da\n"
    "frente de onda corneana.\n"
    "\n"
    "Cada <exame> pode ser:\n"
    "  - uma pasta: todos os exames nela (cada um com seus arquivos d.txt, m.txt e a.txt,\n"
    "    por exemplo 345d.txt, 345m.txt e 345a.txt);\n"
    "  - o prefixo de um exame (pasta/345) ou um dos seus três arquivos (pasta/345d.txt);\n"
    "  - uma imagem BMP do instrumento, processada como faz o módulo de processamento.\n"
    "\n"
    "Opções:\n"
    "  --json          uma linha JSON (um objeto) por exame, em vez de CSV\n"
    "  --pupila MM     diâmetro da pupila para os coeficientes de Zernike, de 1 a 10 mm\n"
    "                  (padrão 6)\n"
    "  --cone N        tipo de cone do instrumento, de 1 a 4, para imagens BMP (padrão 4)\n"
    "  --aneis N       número de anéis medidos nas imagens BMP, de 1 a 32 (padrão 32)\n"
    "  --calibracao D  pasta com o Coef.txt da calibração, para imagens BMP\n"
    "  --help          mostra esta ajuda\n"
    "\n"
    "Saída CSV: uma linha de cabeçalho e uma linha por exame, separador vírgula, ponto decimal.\n"
    "Colunas: exame; aneis; zona_mm (diâmetro medido); k_plano_d, eixo_plano, k_curvo_d,\n"
    "eixo_curvo, astigmatismo_d, k_medio_d (3 mm centrais); asfericidade_q; i_s_d, sai_d, sri,\n"
    "srax_graus, kisa_pct, triagem; ajuste_zona_mm, esfera_raio_mm, conica_raio_mm, conica_q;\n"
    "pupila_mm, rms_total_um, rms_alta_ordem_um, coma_um, esferica_um; z0_um a z27_um\n"
    "(OSA/ANSI, índice único j, micrômetros). Valor vazio (null em JSON): não calculado, por\n"
    "exemplo uma pupila maior que a zona medida (o motivo vai para a saída de erro).\n"
    "\n"
    "Saída de erro: um aviso por exame que não pôde ser lido ou calculado. Código de saída 0\n"
    "quando todos os exames foram lidos, 1 quando algum falhou, 2 para opções inválidas.\n";

struct Options {
    bool json = false;
    double pupilMm = 6.0;
    int cone = 4, rings = NORVIX_MAX_RINGS;
    QString calibration;
    QStringList inputs;
};

void warn(const QString& text) { std::fprintf(stderr, "analisa-exame: %s\n", text.toUtf8().constData()); }

// False after saying what is wrong.
bool parseOptions(const QStringList& args, Options* o, bool* help) {
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        auto value = [&](QString* out) {
            if (i + 1 >= args.size()) {
                warn(QStringLiteral("a opção %1 precisa de um valor.").arg(a));
                return false;
            }
            *out = args[++i];
            return true;
        };
        auto numberIn = [&](double lo, double hi, double* out, bool whole = false) {
            QString text;
            if (!value(&text)) return false;
            bool ok = false;
            const double v = QString(text).replace(u',', u'.').toDouble(&ok);
            if (!ok || !(v >= lo && v <= hi) || (whole && v != std::floor(v))) {
                warn(QStringLiteral("valor inválido para %1: \"%2\" (de %3 a %4).").arg(a, text).arg(lo).arg(hi));
                return false;
            }
            *out = v;
            return true;
        };
        double v = 0;
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            *help = true;
        } else if (a == QLatin1String("--json")) {
            o->json = true;
        } else if (a == QLatin1String("--pupila")) {
            if (!numberIn(1, 10, &o->pupilMm)) return false;
        } else if (a == QLatin1String("--cone")) {
            if (!numberIn(1, 4, &v, true)) return false;
            o->cone = int(v);
        } else if (a == QLatin1String("--aneis")) {
            if (!numberIn(1, NORVIX_MAX_RINGS, &v, true)) return false;
            o->rings = int(v);
        } else if (a == QLatin1String("--calibracao")) {
            if (!value(&o->calibration)) return false;
        } else if (a.startsWith(QLatin1String("--"))) {
            warn(QStringLiteral("opção desconhecida: %1 (veja --help).").arg(a));
            return false;
        } else {
            o->inputs << a;
        }
    }
    return true;
}

// The exams an argument names: BMP files as they are, exam files by their prefix (the path
// without "d.txt"); a folder gives every prefix of its exam files. Empty, after a warning,
// when there is none.
QStringList examsOf(const QString& arg) {
    const QFileInfo info(arg);
    static const QStringList suffixes{QStringLiteral("d.txt"), QStringLiteral("m.txt"), QStringLiteral("a.txt")};
    if (info.isDir()) {
        QStringList prefixes;
        const QDir dir(arg);
        for (const QString& name : dir.entryList(QDir::Files, QDir::Name))
            for (const QString& s : suffixes)
                if (name.size() > s.size() && name.endsWith(s, Qt::CaseInsensitive)) {
                    const QString prefix = dir.filePath(name.chopped(s.size()));
                    if (!prefixes.contains(prefix)) prefixes << prefix;
                }
        for (const QString& name : dir.entryList({QStringLiteral("*.bmp")}, QDir::Files, QDir::Name))
            prefixes << dir.filePath(name);
        if (prefixes.isEmpty()) warn(QStringLiteral("%1: nenhum exame (arquivos d.txt, m.txt e a.txt ou BMP) na pasta.").arg(arg));
        return prefixes;
    }
    if (info.isFile()) {
        if (arg.endsWith(QLatin1String(".bmp"), Qt::CaseInsensitive)) return {arg};
        for (const QString& s : suffixes)
            if (arg.endsWith(s, Qt::CaseInsensitive)) return {arg.chopped(s.size())};
        warn(QStringLiteral("%1: não é um arquivo de exame (d.txt, m.txt, a.txt) nem uma imagem BMP.").arg(arg));
        return {};
    }
    // A prefix: at least one of its files must be there for it to name an exam.
    for (const QString& s : suffixes)
        if (QFileInfo::exists(arg + s)) return {arg};
    warn(QStringLiteral("%1: pasta ou exame não encontrado.").arg(arg));
    return {};
}

bool measureBitmap(const QString& path, const Options& o, Topography* t, QString* why) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *why = QStringLiteral("não foi possível ler a imagem %1.").arg(path);
        return false;
    }
    QImage frame;
    if (!TopographyProcessor::decodeBitmap(f.read(64 << 20), &frame, why)) return false;
    TopographyProcessor processor(o.cone, o.rings);
    CalibrationCoefficients coefficients;
    if (!o.calibration.isEmpty()) {
        if (!coefficients.load(QDir(o.calibration).filePath(QStringLiteral("Coef.txt")), why)) return false;
        processor.setCoefficients(&coefficients);
    }
    return processor.process(frame, t, why);
}

// One output field: its column name and its text (empty when not worked out); quoted texts
// are strings in JSON.
struct Field {
    QString name, text;
    bool quoted = false;
};

QString fixed(double v, int decimals) {
    if (!std::isfinite(v)) return QString();
    const QString text = QString::number(v, 'f', decimals);
    return text.toDouble() == 0 ? QString::number(0.0, 'f', decimals) : text;  // no "-0.00"
}

std::vector<Field> fieldsOf(const QString& exam, const ExamAnalysis* a, double pupilMm) {
    const ExamAnalysis none;
    const ExamAnalysis& e = a ? *a : none;
    const KeratoconusIndices& ki = e.indices;
    const bool assessed = a && ki.screening != KeratoconusScreening::NotAssessed;
    const bool wave = !e.wavefront.zernikeUm.empty();
    std::vector<Field> f{
        {QStringLiteral("exame"), exam, true},
        {QStringLiteral("aneis"), a ? QString::number(e.rings) : QString()},
        {QStringLiteral("zona_mm"), a ? fixed(2 * e.measuredRadiusMm, 2) : QString()},
        {QStringLiteral("k_plano_d"), a ? fixed(e.simK.flatPower, 2) : QString()},
        {QStringLiteral("eixo_plano"), a ? QString::number(clinicalAxis(e.simK.flatAxis)) : QString()},
        {QStringLiteral("k_curvo_d"), a ? fixed(e.simK.steepPower, 2) : QString()},
        {QStringLiteral("eixo_curvo"), a ? QString::number(clinicalAxis(e.simK.steepAxis)) : QString()},
        {QStringLiteral("astigmatismo_d"), a ? fixed(e.simK.astigmatism(), 2) : QString()},
        {QStringLiteral("k_medio_d"), a ? fixed(e.simK.meanPower(), 2) : QString()},
        {QStringLiteral("asfericidade_q"), a ? fixed(e.asphericity, 3) : QString()},
        {QStringLiteral("i_s_d"), assessed ? fixed(ki.inferiorSuperior, 2) : QString()},
        {QStringLiteral("sai_d"), a ? fixed(ki.sai, 2) : QString()},
        {QStringLiteral("sri"), a ? fixed(ki.sri, 2) : QString()},
        {QStringLiteral("srax_graus"), a ? fixed(ki.srax, 0) : QString()},
        {QStringLiteral("kisa_pct"), assessed ? fixed(ki.kisa, 0) : QString()},
        {QStringLiteral("triagem"), a ? screeningText(ki.screening) : QString(), true},
        {QStringLiteral("ajuste_zona_mm"), fixed(e.fitZoneMm, 2)},
        {QStringLiteral("esfera_raio_mm"), fixed(e.sphereRadiusMm, 3)},
        {QStringLiteral("conica_raio_mm"), fixed(e.conicRadiusMm, 3)},
        {QStringLiteral("conica_q"), fixed(e.conicQ, 3)},
        {QStringLiteral("pupila_mm"), fixed(pupilMm, 2)},
        {QStringLiteral("rms_total_um"), wave ? fixed(e.wavefront.rmsTotalUm, 4) : QString()},
        {QStringLiteral("rms_alta_ordem_um"), wave ? fixed(e.wavefront.rmsHigherUm, 4) : QString()},
        {QStringLiteral("coma_um"), wave ? fixed(e.wavefront.comaUm, 4) : QString()},
        {QStringLiteral("esferica_um"), wave ? fixed(e.wavefront.sphericalUm, 4) : QString()},
    };
    for (int j = 0; j < zernike::termsUpTo(CornealWavefront::kOrder); ++j)
        f.push_back({QStringLiteral("z%1_um").arg(j), wave ? fixed(e.wavefront.zernikeUm[size_t(j)], 4) : QString()});
    return f;
}

QString csvText(const QString& s) {
    if (!s.contains(u',') && !s.contains(u'"') && !s.contains(u'\n')) return s;
    return QLatin1Char('"') + QString(s).replace(QLatin1String("\""), QLatin1String("\"\"")) + QLatin1Char('"');
}

QString jsonString(const QString& s) {
    const QByteArray a = QJsonDocument(QJsonArray{s}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(a.mid(1, a.size() - 2));
}

void print(const std::vector<Field>& fields, bool json) {
    QStringList parts;
    for (const Field& f : fields) {
        if (!json)
            parts << csvText(f.text);
        else
            parts << jsonString(f.name) + QLatin1Char(':') +
                         (f.quoted ? jsonString(f.text) : f.text.isEmpty() ? QStringLiteral("null") : f.text);
    }
    const QString line = json ? QLatin1Char('{') + parts.join(QLatin1Char(',')) + QLatin1Char('}') : parts.join(QLatin1Char(','));
    std::fputs(line.toUtf8().append('\n').constData(), stdout);
}

}  // namespace

int main(int argc, char** argv) {
    // Each exam's surface takes and frees a few megabytes in small blocks; by default the C
    // library hands the freed top of the heap back at once and the next exam faults every
    // page in again, which doubled the time of a batch.
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    QCoreApplication app(argc, argv);
    Options o;
    bool help = false;
    if (!parseOptions(app.arguments(), &o, &help)) return 2;
    if (help) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (o.inputs.isEmpty()) {
        std::fputs("Uso: analisa-exame [opções] <exame>... (veja --help)\n", stderr);
        return 2;
    }
    if (!o.json) {
        QStringList names;
        for (const Field& f : fieldsOf(QString(), nullptr, o.pupilMm)) names << f.name;
        std::fputs(names.join(QLatin1Char(',')).toUtf8().append('\n').constData(), stdout);
    }
    bool failed = false;
    // Held on the heap: the measurement's matrices are some 200 kB.
    auto t = std::make_unique<Topography>();
    auto analysis = std::make_unique<ExamAnalysis>();
    for (const QString& input : o.inputs) {
        const QStringList exams = examsOf(input);
        if (exams.isEmpty()) failed = true;
        for (const QString& exam : exams) {
            *t = Topography{};
            QString why;
            QStringList notes;
            const bool bitmap = exam.endsWith(QLatin1String(".bmp"), Qt::CaseInsensitive);
            bool ok = false;
            // One exam that exhausts memory or throws is reported; the next ones are still analysed.
            try {
                ok = (bitmap ? measureBitmap(exam, o, t.get(), &why) : readExamFiles(exam, t.get(), &why)) &&
                     analysis->analyse(*t, o.pupilMm, &why, &notes);
            } catch (const std::exception& e) {
                why = QStringLiteral("erro interno ao analisar o exame (%1)").arg(QString::fromLocal8Bit(e.what()));
            }
            if (!ok) {
                warn(QStringLiteral("%1: %2").arg(exam, why));
                failed = true;
                continue;
            }
            for (const QString& n : notes) warn(QStringLiteral("%1: aviso: %2").arg(exam, n));
            print(fieldsOf(exam, analysis.get(), o.pupilMm), o.json);
            std::fflush(stdout);
        }
    }
    return failed ? 1 : 0;
}

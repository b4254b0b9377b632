// analisa-exame on the example exams against the figures the windows compute from the same
// files, on folders that are missing or half written, on a frame of the instrument, and the
// shape of its CSV and JSON; the conic fit it reports, in closed loop.
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <cmath>
#include <cstring>
#include <functional>

#include "OutsideTestSupport.h"
#include "outside/math/BestFitSphere.h"
#include "outside/math/CornealWavefront.h"
#include "outside/core/ExamFiles.h"
#include "outside/math/KeratoconusIndices.h"
#include "outside/core/SurfaceMaps.h"
#include "outside/core/TopographyProcessor.h"

using namespace outside_test;
using namespace norvix::outside;

namespace {

struct ToolRun {
    int status = -1;
    QStringList lines;  // standard output
    QString errors;
};

ToolRun analyse(const QStringList& args) {
    QProcess p;
    p.start(qEnvironmentVariable("NORVIX_BIN_DIR") + QStringLiteral("/analisa-exame"), args);
    ToolRun r;
    if (!p.waitForFinished(120000)) return r;
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.lines = QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    r.errors = QString::fromUtf8(p.readAllStandardError());
    return r;
}

// The example exams, made once for the whole program.
class AnalisaExame : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new QTemporaryDir;
        QProcess p;
        p.start(qEnvironmentVariable("NORVIX_BIN_DIR") + QStringLiteral("/mkexemplos"), {examples()});
        p.waitForFinished(300000);
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static QString examples() { return dir_->filePath(QStringLiteral("Exemplos")); }
    static QTemporaryDir* dir_;
};
QTemporaryDir* AnalisaExame::dir_ = nullptr;

QStringList csvFields(const QString& line) {
    // No quoted fields in these exams: the names hold no commas.
    return line.split(QLatin1Char(','));
}

double field(const QStringList& header, const QStringList& values, const char* name) {
    const qsizetype i = header.indexOf(QLatin1String(name));
    return i >= 0 && i < values.size() && !values[i].isEmpty() ? values[i].toDouble() : NAN;
}

}  // namespace

TEST_F(AnalisaExame, ExamplesGiveTheFiguresTheMapWindowsShow) {
    const ToolRun r = analyse({examples()});
    ASSERT_EQ(r.status, 0) << r.errors.toStdString();
    ASSERT_EQ(r.lines.size(), 1 + 34) << r.errors.toStdString();
    const QStringList header = csvFields(r.lines[0]);
    EXPECT_EQ(header.size(), 25 + 28);
    EXPECT_EQ(header.first(), QStringLiteral("exame"));
    EXPECT_EQ(header.last(), QStringLiteral("z27_um"));

    int withZernike = 0;
    for (int i = 1; i < r.lines.size(); ++i) {
        const QStringList v = csvFields(r.lines[i]);
        ASSERT_EQ(v.size(), header.size()) << r.lines[i].toStdString();
        // The same files read as the browser hands them to the windows (16 rings for the
        // examples) and the same core arithmetic.
        auto t = std::make_unique<Topography>();
        QString why;
        ASSERT_TRUE(readExamFiles(v[0], t.get(), &why)) << why.toStdString();
        EXPECT_EQ(t->rings, 16);
        CornealMap map;
        ASSERT_TRUE(map.load(&t->d, &t->m, &t->found, 16, &why));
        const Keratometry k = map.keratometry(MapKind::Axial);
        const KeratoconusIndices ki = keratoconusIndices(map);
        const std::string name = v[0].toStdString();
        EXPECT_NEAR(field(header, v, "k_plano_d"), k.flatPower, 0.005) << name;
        EXPECT_NEAR(field(header, v, "k_curvo_d"), k.steepPower, 0.005) << name;
        EXPECT_EQ(field(header, v, "eixo_curvo"), clinicalAxis(k.steepAxis)) << name;
        EXPECT_NEAR(field(header, v, "asfericidade_q"), map.asphericity(), 0.0005) << name;
        EXPECT_EQ(v[header.indexOf(QStringLiteral("triagem"))], screeningText(ki.screening)) << name;
        if (!std::isnan(ki.inferiorSuperior)) {
            EXPECT_NEAR(field(header, v, "i_s_d"), ki.inferiorSuperior, 0.005) << name;
            EXPECT_NEAR(field(header, v, "kisa_pct"), ki.kisa, 0.5) << name;
        }
        EXPECT_NEAR(field(header, v, "sai_d"), ki.sai, 0.005) << name;
        EXPECT_NEAR(field(header, v, "sri"), ki.sri, 0.005) << name;

        // The elevation window's sphere and the aberrometry window's coefficients.
        SurfaceMapData elevation;
        if (elevation.load(SurfaceMapKind::Elevation, &t->d, &t->m, &t->found, 16, &why)) {
            EXPECT_NEAR(field(header, v, "esfera_raio_mm"), elevation.sphere.radius(), 0.0005) << name;
            EXPECT_NEAR(field(header, v, "ajuste_zona_mm"), 2 * elevation.sphere.zoneRadius(), 0.005) << name;
        }
        CornealWavefront w;
        if (w.compute(elevation.surface, 6.0, &why)) {
            ++withZernike;
            EXPECT_NEAR(field(header, v, "esferica_um"), w.sphericalUm, 0.00005) << name;
            EXPECT_NEAR(field(header, v, "z7_um"), w.zernikeUm[7], 0.00005) << name;
            EXPECT_NEAR(field(header, v, "rms_alta_ordem_um"), w.rmsHigherUm, 0.00005) << name;
        } else {
            EXPECT_TRUE(std::isnan(field(header, v, "z0_um"))) << name;
            EXPECT_TRUE(r.errors.contains(v[0] + QStringLiteral(": aviso:"))) << name;
        }
    }
    EXPECT_GT(withZernike, 0);

    // What the examples are: the cones screened as suspect at least, the normal corneas clear.
    for (int i = 1; i < r.lines.size(); ++i) {
        const QStringList v = csvFields(r.lines[i]);
        const QString triage = v[header.indexOf(QStringLiteral("triagem"))];
        if (v[0].contains(QStringLiteral("Central0")) || v[0].contains(QStringLiteral("Periférico0"))) {
            EXPECT_NE(triage, QStringLiteral("Sem sinais de ceratocone")) << v[0].toStdString();
        }
        if (v[0].contains(QStringLiteral("Normal0"))) {
            EXPECT_EQ(triage, QStringLiteral("Sem sinais de ceratocone")) << v[0].toStdString();
        }
    }
}

TEST_F(AnalisaExame, JsonLinesHoldTheSameFiguresAndNullForWhatWasNotWorkedOut) {
    const QString one = QDir(examples()).filePath(QStringLiteral("Normal01"));
    const ToolRun csv = analyse({one + QStringLiteral("m.txt")});
    const ToolRun json = analyse({QStringLiteral("--json"), one});
    ASSERT_EQ(csv.status, 0);
    ASSERT_EQ(json.status, 0) << json.errors.toStdString();
    ASSERT_EQ(csv.lines.size(), 2);
    ASSERT_EQ(json.lines.size(), 1);
    QJsonParseError error;
    const QJsonObject o = QJsonDocument::fromJson(json.lines[0].toUtf8(), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << json.lines[0].toStdString();
    const QStringList header = csvFields(csv.lines[0]), values = csvFields(csv.lines[1]);
    EXPECT_EQ(o.keys().size(), header.size());
    for (qsizetype i = 1; i < header.size(); ++i) {
        const QJsonValue v = o.value(header[i]);
        if (values[i].isEmpty())
            EXPECT_TRUE(v.isNull()) << header[i].toStdString();
        else if (v.isString())
            EXPECT_EQ(v.toString(), values[i]);
        else
            EXPECT_DOUBLE_EQ(v.toDouble(), values[i].toDouble()) << header[i].toStdString();
    }
    EXPECT_EQ(o.value(QStringLiteral("exame")).toString(), one);

    // A pupil wider than the rings reach: the exam is printed, its coefficients null, and the
    // reason with the zone measured on standard error; not a failure.
    const ToolRun wide = analyse({QStringLiteral("--json"), QStringLiteral("--pupila"), QStringLiteral("10"), one});
    EXPECT_EQ(wide.status, 0);
    ASSERT_EQ(wide.lines.size(), 1);
    const QJsonObject w = QJsonDocument::fromJson(wide.lines[0].toUtf8()).object();
    EXPECT_TRUE(w.value(QStringLiteral("z4_um")).isNull());
    EXPECT_FALSE(w.value(QStringLiteral("k_medio_d")).isNull());
    EXPECT_TRUE(wide.errors.contains(QStringLiteral("Zona medida"))) << wide.errors.toStdString();
}

TEST_F(AnalisaExame, MissingOrHalfWrittenExamsAreSaidAndTheOthersStillPrinted) {
    QTemporaryDir work;
    const QString src = QDir(examples()).filePath(QStringLiteral("Normal02"));
    auto copy = [&](const QString& prefix, const char* skip = "") {
        for (const char* s : {"d.txt", "m.txt", "a.txt"})
            if (std::strcmp(s, skip) != 0) {
                ASSERT_TRUE(QFile::copy(src + QLatin1String(s), prefix + QLatin1String(s)));
            }
    };
    const QString good = work.filePath(QStringLiteral("1")), noA = work.filePath(QStringLiteral("2")),
                  cut = work.filePath(QStringLiteral("3")), cutLine = work.filePath(QStringLiteral("4")),
                  text = work.filePath(QStringLiteral("5")), older = work.filePath(QStringLiteral("6")),
                  far = work.filePath(QStringLiteral("7")), huge = work.filePath(QStringLiteral("8")),
                  negative = work.filePath(QStringLiteral("9")), zero = work.filePath(QStringLiteral("10"));
    copy(good);
    copy(negative);
    copy(zero);
    copy(noA, "a.txt");
    copy(cut);
    copy(cutLine);
    copy(text);
    copy(older);
    copy(far);
    copy(huge);
    auto rewrite = [](const QString& path, const std::function<QByteArray(QByteArray)>& change) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        const QByteArray changed = change(f.readAll());
        f.resize(0);
        f.write(changed);
    };
    rewrite(cut + QStringLiteral("m.txt"), [](QByteArray b) { return b.left(b.indexOf("\r\n", b.size() / 2) + 2); });
    rewrite(cutLine + QStringLiteral("d.txt"), [](QByteArray b) { return b.left(b.size() - 5); });
    rewrite(text + QStringLiteral("d.txt"), [](QByteArray b) { return b.replace(b.indexOf("\r\n") + 2, 5, "ab.cd"); });
    // Ring points beyond the instrument's field (a damaged file): refused at once, no stall; a
    // found ring at a negative or zero distance likewise (it once shrank the zone silently).
    for (const auto& [exam, distancia] : {std::pair{far, QByteArray("2000")}, std::pair{huge, QByteArray("99999.99")},
                                          std::pair{negative, QByteArray("-05.00")}, std::pair{zero, QByteArray("00.00")}})
        rewrite(exam + QStringLiteral("d.txt"), [value = distancia](QByteArray b) {
            QList<QByteArray> values = b.left(b.indexOf("\r\n")).split(' ');
            values[3] = value;
            return values.join(' ') + b.mid(b.indexOf("\r\n"));
        });
    // The older meridian file: no "@" and pupil record, the meridians from line 3 on.
    rewrite(older + QStringLiteral("a.txt"), [](QByteArray b) {
        QList<QByteArray> lines = b.split('\n');
        lines.remove(2, 5);
        return lines.join('\n');
    });

    const ToolRun r = analyse({good, work.filePath(QStringLiteral("nada")), work.path()});
    EXPECT_EQ(r.status, 1);
    // The good exam twice (by itself and in its folder) and the older layout the same as it;
    // every other one said on standard error.
    ASSERT_EQ(r.lines.size(), 4) << r.errors.toStdString();
    EXPECT_TRUE(r.lines[1].startsWith(good + QLatin1Char(',')));
    EXPECT_TRUE(r.lines[2].startsWith(QDir(work.path()).filePath(QStringLiteral("1,"))));
    EXPECT_EQ(r.lines[3], QString(r.lines[2]).replace(good + QLatin1Char(','), older + QLatin1Char(',')));
    const QStringList errors = r.errors.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    auto said = [&](const QString& exam, const QString& what) {
        for (const QString& e : errors)
            if (e.startsWith(QStringLiteral("analisa-exame: ") + exam + QLatin1Char(':')) && e.contains(what)) return true;
        return false;
    };
    EXPECT_TRUE(said(work.filePath(QStringLiteral("nada")), QStringLiteral("não encontrad"))) << r.errors.toStdString();
    EXPECT_TRUE(said(noA, QStringLiteral("2a.txt não encontrado"))) << r.errors.toStdString();
    EXPECT_TRUE(said(cut, QStringLiteral("incompleto"))) << r.errors.toStdString();
    EXPECT_TRUE(said(cutLine, QStringLiteral("incompleto"))) << r.errors.toStdString();
    EXPECT_TRUE(said(text, QStringLiteral("não é número"))) << r.errors.toStdString();
    EXPECT_TRUE(said(far, QStringLiteral("fora do campo do instrumento"))) << r.errors.toStdString();
    EXPECT_TRUE(said(huge, QStringLiteral("a 99999,99 mm do centro"))) << r.errors.toStdString();
    EXPECT_TRUE(said(negative, QStringLiteral("a -5,00 mm do centro: uma distância negativa ou nula"))) << r.errors.toStdString();
    EXPECT_TRUE(said(zero, QStringLiteral("a 0,00 mm do centro: uma distância negativa ou nula"))) << r.errors.toStdString();
    EXPECT_EQ(errors.size(), 9) << r.errors.toStdString();

    // An empty folder, a folder of other files, bad options.
    QDir(work.path()).mkdir(QStringLiteral("vazia"));
    const ToolRun empty = analyse({work.filePath(QStringLiteral("vazia"))});
    EXPECT_EQ(empty.status, 1);
    EXPECT_TRUE(empty.errors.contains(QStringLiteral("nenhum exame"))) << empty.errors.toStdString();
    EXPECT_EQ(analyse({QStringLiteral("--pupila"), QStringLiteral("0"), good}).status, 2);
    EXPECT_EQ(analyse({QStringLiteral("--formato"), good}).status, 2);
    const ToolRun help = analyse({QStringLiteral("--help")});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.lines.join(QLatin1Char('\n')).contains(QStringLiteral("Uso: analisa-exame")));
}

TEST_F(AnalisaExame, InstrumentFrameIsMeasuredAsTheProcessingModuleDoes) {
    QTemporaryDir work;
    const QString bmp = work.filePath(QStringLiteral("olho, direito.bmp"));
    QFile f(bmp);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(noisyBmp(sphere(7.80), 77));
    f.close();
    const ToolRun r = analyse({QStringLiteral("--cone"), QStringLiteral("4"), QStringLiteral("--aneis"), QStringLiteral("32"), bmp});
    ASSERT_EQ(r.status, 0) << r.errors.toStdString();
    ASSERT_EQ(r.lines.size(), 2);
    // The name holds a comma: quoted, and the rest of the line in place.
    ASSERT_TRUE(r.lines[1].startsWith(QLatin1Char('"') + bmp + QStringLiteral("\",")));
    const QStringList header = csvFields(r.lines[0]);
    const QStringList v = csvFields(r.lines[1].mid(bmp.size() + 3).prepend(QStringLiteral("x,")));
    ASSERT_EQ(v.size(), header.size());
    EXPECT_EQ(field(header, v, "aneis"), 32);
    EXPECT_NEAR(field(header, v, "k_medio_d"), 337.5 / 7.80, 0.05);
    EXPECT_NEAR(field(header, v, "esfera_raio_mm"), 7.80, 0.01);
    EXPECT_NEAR(field(header, v, "conica_raio_mm"), 7.80, 0.02);
    EXPECT_NEAR(field(header, v, "conica_q"), 0, 0.05);

    // A file that is no picture of the rings.
    QFile bad(work.filePath(QStringLiteral("x.bmp")));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("BM not really");
    bad.close();
    const ToolRun no = analyse({bad.fileName()});
    EXPECT_EQ(no.status, 1);
    EXPECT_TRUE(no.errors.startsWith(QStringLiteral("analisa-exame: ") + bad.fileName() + QLatin1Char(':')));
}

TEST(BestFitConic, ClosedLoopOnConicsAndTheMeanOfAToricSurface) {
    struct Case {
        const char* name;
        norvix::sim::Target target;
        double radius, q;
    };
    norvix::sim::Target prolate;
    prolate.kind = norvix::sim::Target::Kind::Cornea;
    prolate.r1 = prolate.r2 = 7.70;
    prolate.q = -0.40;
    const Case cases[] = {
        {"esfera 7,20", sphere(7.20), 7.20, 0},
        {"cônica 7,70 Q -0,40", prolate, 7.70, -0.40},
        {"tórica 7,60/8,00", toric(7.60, 8.00, 30), 7.80, 0},
    };
    uint32_t frame = 901;
    for (const Case& c : cases) {
        QImage image;
        renderer(4).liveFrame(c.target, frame++, &image);
        auto t = std::make_unique<Topography>();
        QString why;
        ASSERT_TRUE(TopographyProcessor(4, 32).process(image, t.get(), &why)) << c.name << why.toStdString();
        CornealSurface s;
        ASSERT_TRUE(s.build(&t->d, &t->m, &t->found, 32, &why)) << c.name;
        BestFitConic conic;
        ASSERT_TRUE(conic.fit(s, widestFitZone(s), &why)) << c.name << why.toStdString();
        EXPECT_NEAR(conic.radius, c.radius, 0.02) << c.name;
        EXPECT_NEAR(conic.asphericity, c.q, 0.05) << c.name;
    }
    BestFitConic conic;
    QString why;
    EXPECT_FALSE(conic.fit(CornealSurface{}, 3.0, &why));
    EXPECT_TRUE(why.contains(QStringLiteral("não cobre"))) << why.toStdString();
}

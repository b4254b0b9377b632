// precisao-captura [opções]
// The instrument's accuracy, measured: the capture's closed loop (moving eye, operator following
// the live assistance, automatic capture, processing) over sets of test surfaces of known shape,
// each captured many times, and the tables of how far the maps and the keratometry fall from
// the truth and how well they repeat.
#include <QCoreApplication>
#include <QStringList>

#include <cmath>
#include <cstdio>
#include <vector>

#include "ClosedLoop.h"

using namespace norvix;
using namespace norvix::precisao;

namespace {

const char* const kHelp =
    "Uso: precisao-captura [opções]\n"
    "\n"
    "Mede a precisão do instrumento simulado de ponta a ponta: para cada superfície de teste\n"
    "(esferas íngremes, médias e planas, tóricas até 4 D e asféricas), captura o olho várias\n"
    "vezes com a captura automática enquanto ele se move (distância de trabalho +-1 mm, deriva\n"
    "da fixação, microssacadas) e um operador simulado segue a assistência ao vivo; cada quadro\n"
    "capturado é processado como no exame. Imprime, em tabelas Markdown:\n"
    "  - por conjunto e zona (3 mm centrais, 3 a 6 mm, 6 a 9 mm): a diferença média e duas vezes\n"
    "    o desvio padrão do poder axial (D) e da altura (micrômetros) contra a superfície real;\n"
    "  - por conjunto: a diferença média e o maior erro da ceratometria simulada (K), o desvio\n"
    "    padrão intrassujeito (Sw) do K médio e o limite de repetibilidade (2,77 Sw), o Sw do\n"
    "    eixo mais curvo nas tóricas, e o K de uma captura manual em momento qualquer da mesma\n"
    "    sessão, para comparação.\n"
    "\n"
    "Opções:\n"
    "  --repeticoes N   capturas por superfície, de 2 a 100 (padrão 20)\n"
    "  --semente N      semente do movimento e do ruído (padrão 1)\n"
    "  --atraso MS      tempo que o olho precisa ficar certo antes da captura, de 0 a 2000 ms\n"
    "                   (padrão 500, o DELAYAUTOPCAPTURA de fábrica)\n"
    "  --superficie D   mede só a superfície descrita por D (como no instrumento simulado, por\n"
    "                   exemplo \"torica 7.60 8.20 90\"); pode ser repetida\n"
    "  --sessoes        antes das tabelas, uma linha por captura: superfície, segundos até a\n"
    "                   captura, distância e descentração reais do olho nesse quadro (mm) e o\n"
    "                   erro do K médio (D), da captura automática e da manual\n"
    "  --help           mostra esta ajuda\n"
    "\n"
    "Código de saída 0 quando tudo foi medido, 2 para opções ou superfícies inválidas.\n";

struct Group {
    const char* name;
    std::vector<const char*> surfaces;
};

const std::vector<Group> kGroups = {
    {"Esferas de 6,8 mm ou menos", {"esfera 6.50", "esfera 6.80"}},
    {"Esferas de 7,5 a 8,1 mm", {"esfera 7.50", "esfera 7.80", "esfera 8.10"}},
    {"Esferas de 9,1 mm ou mais", {"esfera 9.10", "esfera 9.50"}},
    {"Tóricas de 1 a 4 D", {"torica 7.70 7.88 30", "torica 7.60 8.05 90", "torica 7.40 8.10 0"}},
    {"Asféricas", {"cornea 7.80 -0.26", "cornea 7.50 -0.50", "cornea 8.00 0.20"}},
};

// Numbers as the README writes them: decimal comma, explicit sign where asked.
QString number(double v, int decimals, bool sign = false) {
    if (!std::isfinite(v)) return QStringLiteral("—");
    QString s = QString::number(v, 'f', decimals).replace(QLatin1Char('.'), QLatin1Char(','));
    if (sign && v >= 0) s.prepend(QLatin1Char('+'));
    return s;
}

// One capture: when, where the eye truly was, and its mean K error.
QString describe(const sim::Target& t, bool taken, const Take& take) {
    if (!taken) return QStringLiteral("sem captura");
    if (!take.measured) return QStringLiteral("%1 s, recusada: %2").arg(number(take.seconds, 2), take.refusal);
    outside::CornealMap map;
    outside::Keratometry k, truth;
    QString why;
    const bool ok = map.load(&take.topo->d, &take.topo->m, &take.topo->found, 32, &why) &&
                    trueKeratometry(t, *take.topo, 32, &truth);
    if (ok) k = map.keratometry(outside::MapKind::Axial);
    return QStringLiteral("%1 s, distância %2 (assistência: %3), descentração %4, erro do K %5")
        .arg(number(take.seconds, 2), number(take.dzMm, 3, true), number(take.toldDzMm, 3, true), number(take.offsetMm, 3),
             ok ? number(k.meanPower() - truth.meanPower(), 3, true) : QStringLiteral("—"));
}

bool intOption(const QStringList& args, int* i, int lowest, int highest, int* out) {
    bool ok = false;
    const int v = *i + 1 < args.size() ? args[*i + 1].toInt(&ok) : 0;
    if (!ok || v < lowest || v > highest) {
        std::fprintf(stderr, "precisao-captura: %s precisa de um número de %d a %d.\n", qPrintable(args[*i]), lowest,
                     highest);
        return false;
    }
    *out = v;
    ++*i;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    int repeats = 20, seed = 1, delay = 500;
    bool perSession = false;
    Group chosen{"Superfícies escolhidas", {}};
    std::vector<QByteArray> chosenText;
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--help")) {
            std::fputs(kHelp, stdout);
            return 0;
        }
        bool ok = true;
        if (a == QLatin1String("--sessoes")) perSession = true;
        else if (a == QLatin1String("--superficie")) {
            ok = i + 1 < args.size();
            if (ok) chosenText.push_back(args[++i].toUtf8());
            else std::fputs("precisao-captura: --superficie precisa da descrição de uma superfície.\n", stderr);
        }
        else if (a == QLatin1String("--repeticoes")) ok = intOption(args, &i, 2, 100, &repeats);
        else if (a == QLatin1String("--semente")) ok = intOption(args, &i, 0, 1000000, &seed);
        else if (a == QLatin1String("--atraso")) ok = intOption(args, &i, 0, 2000, &delay);
        else {
            std::fprintf(stderr, "precisao-captura: opção desconhecida: %s (veja --help)\n", qPrintable(a));
            ok = false;
        }
        if (!ok) return 2;
    }

    for (const QByteArray& text : chosenText) chosen.surfaces.push_back(text.constData());
    const std::vector<Group> groups = chosen.surfaces.empty() ? kGroups : std::vector<Group>{chosen};
    std::vector<sim::Target> targets;
    for (const Group& g : groups)
        for (const char* text : g.surfaces) {
            sim::Target t;
            QString why;
            if (!sim::parseTarget(QString::fromUtf8(text), &t, &why)) {
                std::fprintf(stderr, "precisao-captura: superfície %s: %s\n", text, qPrintable(why));
                return 2;
            }
            targets.push_back(t);
        }

    const std::vector<std::vector<Session>> sessions =
        runSessions(targets, repeats, uint32_t(seed), delay, [](int done, int total) {
            std::fprintf(stderr, "\rprecisao-captura: %d de %d capturas", done, total);
        });
    std::fputs("\n", stderr);

    if (perSession) {
        size_t surface = 0;
        for (const Group& g : groups)
            for (const char* text : g.surfaces) {
                for (const Session& s : sessions[surface])
                    std::printf("%s: %s | manual %s\n", text, qPrintable(describe(targets[surface], s.frozen, s.automatic)),
                                qPrintable(describe(targets[surface], true, s.manual)));
                ++surface;
            }
        std::printf("\n");
    }

    std::vector<GroupFigures> figures(groups.size());
    size_t surface = 0;
    for (size_t g = 0; g < groups.size(); ++g)
        for (size_t s = 0; s < groups[g].surfaces.size(); ++s, ++surface)
            addSurface(targets[surface], sessions[surface], 32, &figures[g]);

    const EyeMotion motion;
    std::printf("Instrumento simulado, cone 4, 32 anéis; %d capturas automáticas por superfície (semente %d, "
                "atraso %d ms).\nO olho se move durante a captura: distância de trabalho +-%s mm, deriva da fixação "
                "%s mm, microssacadas de %s mm.\n\n",
                repeats, seed, delay, qPrintable(number(motion.distanceDriftMm, 1)),
                qPrintable(number(motion.fixationDriftMm, 2)), qPrintable(number(motion.saccadeMm, 2)));
    std::printf("| Conjunto | Zona | Poder: dif. média (D) | Poder: 2 DP (D) | Altura: dif. média (µm) | "
                "Altura: 2 DP (µm) |\n|---|---|---|---|---|---|\n");
    static const char* const zones[kZones] = {"0 a 3 mm", "3 a 6 mm", "6 a 9 mm"};
    for (size_t g = 0; g < groups.size(); ++g)
        for (int z = 0; z < kZones; ++z) {
            const Spread& p = figures[g].power[z];
            const Spread& h = figures[g].heightUm[z];
            const bool anyPower = p.count() > 0, anyHeight = h.count() > 0;
            std::printf("| %s | %s | %s | %s | %s | %s |\n", groups[g].name, zones[z],
                        anyPower ? qPrintable(number(p.mean(), 3, true)) : "sem dados",
                        anyPower ? qPrintable(number(2 * p.sd(), 3)) : "—",
                        anyHeight ? qPrintable(number(h.mean(), 2, true)) : "sem dados",
                        anyHeight ? qPrintable(number(2 * h.sd(), 2)) : "—");
        }
    std::printf("\n| Conjunto | Capturadas | Tempo médio (s) | K: dif. média (D) | K: maior erro (D) | Sw do K (D) | "
                "2,77 Sw (D) | Sw do eixo (°) | Manual: dif. média (D) | Manual: maior erro (D) |\n"
                "|---|---|---|---|---|---|---|---|---|---|\n");
    for (size_t g = 0; g < groups.size(); ++g) {
        const GroupFigures& f = figures[g];
        std::printf("| %s | %d de %d | %s | %s | %s | %s | %s | %s | %s | %s |\n", groups[g].name, f.frozen,
                    f.sessions, qPrintable(number(f.frozen ? f.secondsToFreeze / f.frozen : NAN, 1)),
                    qPrintable(number(f.kError.mean(), 3, true)), qPrintable(number(f.kWorst, 3)),
                    qPrintable(number(f.swK(), 3)), qPrintable(number(2.77 * f.swK(), 3)),
                    qPrintable(number(f.swAxis(), 1)), qPrintable(number(f.kErrorManual.mean(), 2, true)),
                    qPrintable(number(f.kWorstManual, 2)));
    }
    return 0;
}

// What a target description says and how a target moves over the frames: the words of the
// simulated instrument's descriptions, NORVIX_SIM_TARGET, and frame number to motion state.
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>

#include "SimulatedEye.h"

namespace norvix::sim {

namespace {

constexpr double kPi = 3.14159265358979323846;
bool parseNumber(QString text, double* value) {
    text.replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (!ok || !std::isfinite(v)) return false;
    *value = v;
    return true;
}

QString folded(const QString& word) {
    QString w = word.toLower();
    w.replace(QStringLiteral("ó"), QStringLiteral("o"));
    w.replace(QStringLiteral("ô"), QStringLiteral("o"));
    w.replace(QStringLiteral("á"), QStringLiteral("a"));
    w.replace(QStringLiteral("ã"), QStringLiteral("a"));
    w.replace(QStringLiteral("í"), QStringLiteral("i"));
    w.replace(QStringLiteral("ç"), QStringLiteral("c"));
    return w;
}

bool radiusOk(double r) { return r >= 4.0 && r <= 15.0; }

double hashed(uint32_t seed, int channel, int64_t index);

// Spot k of "rupturas": anywhere within 4.5 mm of the apex (uniform over the area), breaking
// 3 to 15 s after the blink, of the default size, depth and growth.
Target::TearFilm::Spot drawnSpot(uint32_t seed, int k) {
    Target::TearFilm::Spot spot;
    const double r = 4.5 * std::sqrt(hashed(seed, 20, k)), a = 2 * kPi * hashed(seed, 21, k);
    // Rounded to 0.01 mm and 0.01 s, so a spot can be written back as the words that name it.
    spot.xMm = std::round(100 * r * std::cos(a)) / 100;
    spot.yMm = std::round(100 * r * std::sin(a)) / 100;
    spot.onsetS = std::round(100 * (3.0 + 12.0 * hashed(seed, 22, k))) / 100;
    return spot;
}

}  // namespace

bool parseTarget(const QString& text, Target* out, QString* error) {
    auto fail = [&](const QString& message) {
        if (error) *error = message;
        return false;
    };
    const QStringList words = text.trimmed().split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    if (words.isEmpty()) return fail(QStringLiteral("Descrição do alvo vazia."));
    const QString kind = folded(words.first());
    // The kind's numbers, then what the capture shows: option words, each with its numbers.
    std::vector<double> n;
    int i = 1;
    for (; i < words.size(); ++i) {
        double v = 0;
        if (!parseNumber(words[i], &v)) break;
        n.push_back(v);
    }
    std::vector<std::pair<QString, std::vector<double>>> options;
    for (; i < words.size(); ++i) {
        double v = 0;
        if (parseNumber(words[i], &v)) {
            options.back().second.push_back(v);
        } else if (words[i].front().isLetter()) {
            options.push_back({folded(words[i]), {}});
        } else {
            return fail(QStringLiteral("Número inválido na descrição do alvo: \"%1\".").arg(words[i]));
        }
    }
    Target t;
    if (kind == QLatin1String("esfera") || kind == QLatin1String("sphere")) {
        if (n.size() != 1) return fail(QStringLiteral("A esfera pede um raio em mm, por exemplo \"esfera 7.80\"."));
        t.kind = Target::Kind::Sphere;
        t.r1 = t.r2 = n[0];
        t.q = 0;
    } else if (kind == QLatin1String("torica") || kind == QLatin1String("toric")) {
        if (n.size() != 3)
            return fail(
                QStringLiteral("A superfície tórica pede dois raios e um eixo, por exemplo \"torica 7.70 7.90 90\"."));
        t.kind = Target::Kind::Toric;
        t.r1 = n[0];
        t.r2 = n[1];
        t.axisDeg = n[2];
        t.q = 0;
    } else if (kind == QLatin1String("cornea")) {
        t.kind = Target::Kind::Cornea;
        if (n.size() == 1 || n.size() == 2) {
            t.r1 = t.r2 = n[0];
            if (n.size() == 2) t.q = n[1];
        } else if (n.size() == 4) {
            t.r1 = n[0];
            t.r2 = n[1];
            t.axisDeg = n[2];
            t.q = n[3];
        } else if (!n.empty()) {
            return fail(
                QStringLiteral("A córnea aceita \"cornea\", \"cornea R\", \"cornea R Q\" ou \"cornea R1 R2 EIXO Q\"."));
        }
    } else if (kind == QLatin1String("orto") || kind == QLatin1String("ortho")) {
        if (n.size() != 4)
            return fail(
                QStringLiteral("A córnea tratada pede raio, asfericidade, diâmetro da zona e profundidade em mm, "
                               "por exemplo \"orto 7.80 -0.20 5.2 0.02\"."));
        t.kind = Target::Kind::Treated;
        t.r1 = t.r2 = n[0];
        t.q = n[1];
        t.zoneMm = n[2];
        t.depthMm = n[3];
        if (t.zoneMm < 2.0 || t.zoneMm > 9.0)
            return fail(QStringLiteral("Diâmetro da zona fora da faixa de 2 a 9 mm."));
        if (t.depthMm < 0.0 || t.depthMm > 0.1)
            return fail(QStringLiteral("Profundidade do tratamento fora da faixa de 0 a 0,1 mm."));
    } else if (kind == QLatin1String("ceratocone") || kind == QLatin1String("keratoconus")) {
        t.kind = Target::Kind::Cornea;
        Target::Bump cone{-0.5, -1.6, 1.1, 0.035};
        size_t at = 0;
        if (n.size() == 6) {
            t.r1 = t.r2 = n[0];
            t.q = n[1];
            at = 2;
        } else if (n.size() != 4 && !n.empty()) {
            return fail(
                QStringLiteral("O ceratocone aceita \"ceratocone\", \"ceratocone X Y LARGURA ALTURA\" ou "
                               "\"ceratocone R Q X Y LARGURA ALTURA\" (mm)."));
        }
        if (!n.empty()) cone = {n[at], n[at + 1], n[at + 2], n[at + 3]};
        if (std::hypot(cone.xMm, cone.yMm) > 4.0 || cone.sigmaMm < 0.3 || cone.sigmaMm > 3.0 || cone.heightMm <= 0 ||
            cone.heightMm > 0.1)
            return fail(
                QStringLiteral("Cone fora da faixa: centro a até 4 mm do ápice, largura de 0,3 a 3 mm e "
                               "altura de 0 a 0,1 mm."));
        t.bumps.push_back(cone);
    } else {
        return fail(QStringLiteral("Tipo de alvo desconhecido: \"%1\" (use esfera, torica, cornea, orto ou "
                                   "ceratocone).")
                        .arg(words.first()));
    }
    if (!radiusOk(t.r1) || !radiusOk(t.r2)) return fail(QStringLiteral("Raio fora da faixa de 4 a 15 mm."));
    if (!std::isfinite(t.axisDeg) || t.q < -3.0 || t.q > 3.0)
        return fail(QStringLiteral("Asfericidade fora da faixa de -3 a 3."));
    auto is = [](const QString& word, const char* pt, const char* en) {
        return word == QLatin1String(pt) || word == QLatin1String(en);
    };
    for (const auto& [word, v] : options) {
        const bool moves = is(word, "deriva", "drift") || is(word, "sacadas", "saccades") ||
                           is(word, "distancia", "distance") || is(word, "semente", "seed");
        if (!moves && !t.isEye())
            return fail(
                QStringLiteral("Pupila, pálpebras, cílios, fixação, desfoco, piscadas e filme lacrimal só valem "
                               "para um olho (cornea, orto ou ceratocone)."));
    }
    int drawnSpots = 0;
    bool film = false, filmWords = false;
    Target::Motion& m = t.motion;
    for (const auto& [word, v] : options) {
        if (is(word, "deriva", "drift")) {
            if (v.empty() || v.size() > 2 || v[0] < 0 || v[0] > 1.0 || (v.size() == 2 && (v[1] <= 0 || v[1] > 5)))
                return fail(
                    QStringLiteral("A deriva pede a amplitude (até 1 mm) e, se quiser, a frequência (até 5 Hz): "
                                   "\"deriva 0.1 0.3\"."));
            m.driftMm = v[0];
            if (v.size() == 2) m.driftHz = v[1];
        } else if (is(word, "sacadas", "saccades")) {
            if (v.size() != 2 || v[0] < 0 || v[0] > 1.0 || v[1] < 0 || v[1] > 5)
                return fail(
                    QStringLiteral("As sacadas pedem a amplitude (até 1 mm) e quantas por segundo (até 5): "
                                   "\"sacadas 0.05 2\"."));
            m.saccadeMm = v[0];
            m.saccadesPerS = v[1];
        } else if (is(word, "distancia", "distance")) {
            if ((v.size() != 1 && v.size() != 3) || (v.size() == 3 && (v[1] < 0 || v[2] <= 0 || v[2] > 5)) ||
                std::fabs(v[0]) + (v.size() == 3 ? v[1] : 0) > 1.5 + 1e-9)
                return fail(QStringLiteral(
                    "A distância pede o erro em mm (+: mais perto) e, se quiser, a oscilação em mm e "
                    "sua frequência em Hz, com |erro| + oscilação até 1,5 mm: \"distancia 0.5 0.3 0.4\"."));
            m.distanceMm = v[0];
            if (v.size() == 3) {
                m.distanceDriftMm = v[1];
                m.distanceHz = v[2];
            }
        } else if (is(word, "piscadas", "blinks")) {
            if (v.empty() || v.size() > 2 || v[0] <= 0 || v[0] > 60 || (v.size() == 2 && (v[1] < 50 || v[1] > 1000)))
                return fail(
                    QStringLiteral("As piscadas pedem quantas por minuto (até 60) e, se quiser, a duração de cada "
                                   "uma (50 a 1000 ms): \"piscadas 15 150\"."));
            m.blinksPerMin = v[0];
            if (v.size() == 2) m.blinkMs = v[1];
            // Blinks never overlap: see motionAt.
            if (m.blinkMs / 1000 > 0.4 * 60 / m.blinksPerMin)
                return fail(QStringLiteral("Piscadas longas demais para tantas por minuto."));
        } else if (is(word, "semente", "seed")) {
            if (v.size() != 1 || v[0] < 0 || v[0] > 4294967295.0 || v[0] != std::floor(v[0]))
                return fail(QStringLiteral("A semente pede um número inteiro de 0 a 4294967295: \"semente 7\"."));
            m.seed = uint32_t(v[0]);
        } else if (is(word, "lagrima", "tearfilm")) {
            if (!v.empty()) return fail(QStringLiteral("\"%1\" não leva números.").arg(word));
            film = true;
        } else if (is(word, "ruptura", "breakup")) {
            filmWords = true;
            if (v.size() < 3 || v.size() > 6)
                return fail(QStringLiteral(
                    "A ruptura pede o centro em mm a partir do ápice, o início em segundos após a piscada e, se "
                    "quiser, o raio (mm), a profundidade (0 a 1) e a velocidade (mm/s): \"ruptura 1.0 -1.5 6.0 0.8\"."));
            Target::TearFilm::Spot spot;
            spot.xMm = v[0];
            spot.yMm = v[1];
            spot.onsetS = v[2];
            if (std::hypot(spot.xMm, spot.yMm) > 5.0 + 1e-9)
                return fail(QStringLiteral("Ruptura a mais de 5 mm do ápice."));
            if (spot.onsetS < 0 || spot.onsetS > 600)
                return fail(QStringLiteral("Início da ruptura fora da faixa de 0 a 600 s após a piscada."));
            if (v.size() >= 4) spot.radiusMm = v[3];
            if (v.size() >= 5) spot.depth = v[4];
            if (v.size() >= 6) spot.growthMmPerS = v[5];
            if (spot.radiusMm < 0.1 || spot.radiusMm > 3.0)
                return fail(QStringLiteral("Raio da ruptura fora da faixa de 0,1 a 3 mm."));
            if (spot.depth <= 0 || spot.depth > 1.0)
                return fail(QStringLiteral("Profundidade da ruptura fora da faixa de 0 a 1."));
            if (spot.growthMmPerS <= 0 || spot.growthMmPerS > 20)
                return fail(QStringLiteral("Velocidade da ruptura fora da faixa de 0 a 20 mm/s."));
            t.tearFilm.spots.push_back(spot);
        } else if (is(word, "rupturas", "breakups")) {
            filmWords = true;
            if (v.size() != 1 || v[0] < 0 || v[0] > 20 || v[0] != std::floor(v[0]))
                return fail(QStringLiteral("As rupturas sorteadas pedem quantas (de 0 a 20): \"rupturas 3\"."));
            drawnSpots += int(v[0]);
        } else if (is(word, "piscar", "blink")) {
            filmWords = true;
            if (v.size() != 1 || v[0] <= 0 || v[0] > 600)
                return fail(QStringLiteral(
                    "A piscada final pede quando vem, em segundos após a primeira (mais de 0, até 600): \"piscar 11.5\"."));
            if (t.tearFilm.blinkS > 0) return fail(QStringLiteral("Só uma piscada final (\"piscar\") por descrição."));
            t.tearFilm.blinkS = v[0];
        } else if (word == QLatin1String("olho") || word == QLatin1String("eye")) {
            if (!v.empty()) return fail(QStringLiteral("\"%1\" não leva números.").arg(word));
            t.pupilRadiusMm = 1.8;
            t.pupilXMm = 0.15;
            t.pupilYMm = 0.05;
            t.upperLidMm = 3.9;
            t.lowerLidMm = 4.3;
            t.lashes = true;
            t.fixationXMm = 0.2;
            t.fixationYMm = -0.15;
            t.defocusMm = 0.015;
        } else if (word == QLatin1String("pupila") || word == QLatin1String("pupil")) {
            if (v.size() != 1 && v.size() != 3)
                return fail(QStringLiteral("A pupila pede o diâmetro e, se quiser, o centro: \"pupila 3.5 0.2 0.1\"."));
            if (v[0] < 1.0 || v[0] > 8.0) return fail(QStringLiteral("Diâmetro da pupila fora da faixa de 1 a 8 mm."));
            t.pupilRadiusMm = v[0] / 2;
            if (v.size() == 3) {
                if (std::hypot(v[1], v[2]) > 1.5)
                    return fail(QStringLiteral("Centro da pupila a mais de 1,5 mm do ápice."));
                t.pupilXMm = v[1];
                t.pupilYMm = v[2];
            }
        } else if (word == QLatin1String("palpebras") || word == QLatin1String("palpebra") ||
                   word == QLatin1String("eyelids")) {
            if (v.size() != 2)
                return fail(
                    QStringLiteral("As pálpebras pedem as distâncias da superior e da inferior ao ápice: "
                                   "\"palpebras 3.5 4.5\"."));
            for (double d : v)
                if (d != 0 && (d < 0.5 || d > 8.0))
                    return fail(QStringLiteral("Pálpebra fora da faixa de 0,5 a 8 mm do ápice (0: fora da imagem)."));
            t.upperLidMm = v[0];
            t.lowerLidMm = v[1];
        } else if (word == QLatin1String("cilios") || word == QLatin1String("lashes")) {
            if (!v.empty()) return fail(QStringLiteral("\"%1\" não leva números.").arg(word));
            t.lashes = true;
        } else if (word == QLatin1String("fixacao") || word == QLatin1String("fixation")) {
            if (v.size() != 2 || std::hypot(v[0], v[1]) > 0.5 + 1e-9)
                return fail(QStringLiteral(
                    "A fixação pede o deslocamento do ápice em x e y, até 0,5 mm: \"fixacao 0.3 -0.2\"."));
            t.fixationXMm = v[0];
            t.fixationYMm = v[1];
        } else if (word == QLatin1String("desfoco") || word == QLatin1String("defocus")) {
            if (v.size() != 1 || v[0] < 0 || v[0] > 0.05)
                return fail(QStringLiteral("O desfoco pede um desvio de 0 a 0,05 mm: \"desfoco 0.02\"."));
            t.defocusMm = v[0];
        } else {
            return fail(QStringLiteral("Palavra desconhecida na descrição do alvo: \"%1\" (use pupila, palpebras, "
                                       "cilios, fixacao, desfoco, olho, deriva, sacadas, distancia, piscadas, "
                                       "semente, lagrima, ruptura, rupturas ou piscar).")
                            .arg(word));
        }
    }
    if (filmWords && !film)
        return fail(QStringLiteral("Ruptura, rupturas e piscar descrevem o filme lacrimal: falta \"lagrima\"."));
    t.tearFilm.on = film;
    if (t.tearFilm.spots.size() + size_t(drawnSpots) > 40)
        return fail(QStringLiteral("Rupturas demais: no máximo 40."));
    for (int k = 0; k < drawnSpots; ++k) t.tearFilm.spots.push_back(drawnSpot(m.seed, k));
    *out = t;
    return true;
}

Target targetFromEnvironment() {
    Target t;
    const QString value = qEnvironmentVariable("NORVIX_SIM_TARGET").trimmed();
    if (value.isEmpty()) return t;
    QString description = value;
    const QFileInfo info(value);
    if (info.isFile()) {
        QFile f(value);
        if (!f.open(QIODevice::ReadOnly)) return t;
        description = QString::fromUtf8(f.read(4096)).trimmed();
    }
    Target parsed;
    QString error;
    if (parseTarget(description, &parsed, &error)) return parsed;
    return t;
}

namespace {

uint64_t mix64(uint64_t x) {
    x += 0x9e3779b97f4a7c15ull;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
    return x ^ (x >> 31);
}

// A number in [0, 1) fixed by the seed, a channel (what it is drawn for) and an index: any
// moment of the motion is found without replaying the ones before it.
double hashed(uint32_t seed, int channel, int64_t index) {
    return double(mix64(mix64((uint64_t(seed) << 8) ^ uint64_t(channel)) + uint64_t(index)) >> 11) * 0x1.0p-53;
}

// Smooth random values in [-1, 1]: random knots at the integers joined by a smoothstep.
double valueNoise(uint32_t seed, int channel, double s) {
    const double k = std::floor(s), f = s - k;
    const double a = 2 * hashed(seed, channel, int64_t(k)) - 1, b = 2 * hashed(seed, channel, int64_t(k) + 1) - 1;
    return a + (b - a) * f * f * (3 - 2 * f);
}

// A slow wander in [-1, 1], s in cycles: half three sinusoids of unrelated frequencies near 1
// (regular sway), half a smooth random walk with a knot per cycle (the aimless part).
double wander(uint32_t seed, int channel, double s) {
    constexpr double weight[3] = {0.5, 0.3, 0.2};
    constexpr double ratio[3] = {1.0, 1.618, 0.57};
    double sines = 0;
    for (int i = 0; i < 3; ++i) {
        const double f = ratio[i] * (0.9 + 0.2 * hashed(seed, channel, 100 + i));
        sines += weight[i] * std::sin(2 * kPi * (f * s + hashed(seed, channel, 200 + i)));
    }
    return 0.5 * sines + 0.5 * valueNoise(seed, channel + 1000, s);
}

double smoothstep(double x) {
    x = std::clamp(x, 0.0, 1.0);
    return x * x * (3 - 2 * x);
}

}  // namespace

double tearFilmSeconds(const Target& t, uint32_t frame, double fps) {
    double time = frame / (fps > 0 ? fps : 30.0);
    if (!t.tearFilm.on) return time;
    if (t.tearFilm.blinkS > 0) {
        // One test: the lids opening, the film, the final blink closing them and a moment closed.
        const double cycle = kTearOpenS + t.tearFilm.blinkS + kTearCloseS + kTearClosedS;
        time -= cycle * std::floor(time / cycle);
    }
    return time - kTearOpenS;
}

TearFilmState tearFilmAt(const Target& t, double filmSeconds) {
    TearFilmState f;
    f.filmS = filmSeconds;
    if (!t.tearFilm.on) return f;
    const double blink = t.tearFilm.blinkS;
    if (filmSeconds < 0)
        f.lidClosure = 1.0 - smoothstep((filmSeconds + kTearOpenS) / kTearOpenS);
    else if (blink > 0 && filmSeconds >= blink)
        f.lidClosure = smoothstep((filmSeconds - blink) / kTearCloseS);
    // Uneven right after the blink, then settling smoothly.
    f.buildUp = 1.0 - smoothstep(filmSeconds / kTearBuildUpS);
    // A patch: its radius grows from 0 at the onset, at first at growthMmPerS, slowing as it
    // nears radiusMm; the film there thins quickly (most of the way in a quarter of a second).
    constexpr double kThinningS = 0.12;
    f.patches.reserve(t.tearFilm.spots.size());
    for (const Target::TearFilm::Spot& spot : t.tearFilm.spots) {
        TearFilmState::Patch p;
        p.xMm = spot.xMm;
        p.yMm = spot.yMm;
        const double age = filmSeconds - spot.onsetS;
        if (age > 0) {
            p.radiusMm = spot.radiusMm * (1.0 - std::exp(-age * spot.growthMmPerS / spot.radiusMm));
            p.depth = spot.depth * (1.0 - std::exp(-age / kThinningS));
        }
        f.patches.push_back(p);
    }
    return f;
}

MotionState motionAt(const Target& t, uint32_t frame, double fps) {
    MotionState s;
    if (t.isEye()) {
        s.xMm = t.fixationXMm;
        s.yMm = t.fixationYMm;
    }
    if (t.tearFilm.on) {
        s.filmS = tearFilmSeconds(t, frame, fps);
        s.lidClosure = tearFilmAt(t, s.filmS).lidClosure;
    }
    const Target::Motion& m = t.motion;
    if (!m.active()) return s;
    const double time = frame / (fps > 0 ? fps : 30.0);
    const uint32_t seed = m.seed;
    if (m.driftMm > 0) {
        s.xMm += m.driftMm * wander(seed, 1, m.driftHz * time);
        s.yMm += m.driftMm * wander(seed, 2, m.driftHz * time);
    }
    if (m.saccadeMm > 0 && m.saccadesPerS > 0) {
        // Saccade k comes at (k + 0.5 +- 0.4) / rate s, so the last one before a moment is k or
        // k - 1 of its second. After it the apex rests on a circle of radius A/2, nearly
        // opposite where it was (beta turns slowly): every jump is close to A and the mean
        // offset stays nil, as corrective micro-saccades keep it.
        const double rate = m.saccadesPerS;
        auto at = [&](int64_t k) { return (double(k) + 0.5 + 0.8 * (hashed(seed, 3, k) - 0.5)) / rate; };
        int64_t k = int64_t(std::floor(time * rate));
        if (at(k) > time) --k;
        const double beta = kPi * valueNoise(seed, 4, 0.15 * double(k)) + 0.4 * (hashed(seed, 5, k) - 0.5);
        const double phi = kPi * double(k & 1) + beta;
        s.xMm += 0.5 * m.saccadeMm * std::cos(phi);
        s.yMm += 0.5 * m.saccadeMm * std::sin(phi);
    }
    s.dzMm = m.distanceMm;
    if (m.distanceDriftMm > 0) s.dzMm += m.distanceDriftMm * wander(seed, 6, m.distanceHz * time);
    if (m.blinksPerMin > 0 && t.isEye()) {
        // Blink k starts at (k + 0.5 +- 0.3) / rate and lasts at most 0.4 / rate (parseTarget),
        // so only blinks k and k - 1 of a moment's period can cover it. The lids close in a
        // quarter of it, stay closed a quarter (longer than a frame at 30 fps for the default
        // 150 ms) and open in the other half.
        const double rate = m.blinksPerMin / 60.0, d = m.blinkMs / 1000.0;
        const int64_t k0 = int64_t(std::floor(time * rate));
        for (int64_t k = k0; k >= k0 - 1; --k) {
            const double p = (time - (double(k) + 0.5 + 0.6 * (hashed(seed, 7, k) - 0.5)) / rate) / d;
            if (p < 0 || p >= 1) continue;
            const double closure = p < 0.25 ? smoothstep(p / 0.25) : p < 0.5 ? 1.0 : 1.0 - smoothstep((p - 0.5) / 0.5);
            s.lidClosure = std::max(s.lidClosure, closure);
            break;
        }
    }
    return s;
}

}  // namespace norvix::sim

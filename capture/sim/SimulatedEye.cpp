#include "SimulatedEye.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <random>

#include "InstrumentModel.h"

namespace norvix::sim {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kLimbusMm = 5.9;   // corneal radius: beyond it the sclera, which does not mirror
constexpr int kSuper = 4;           // sub-samples per pixel side: the pixel integrates its area
constexpr size_t kCacheSize = 6;    // a calibration walks four spheres; keep them all

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

}  // namespace

bool parseTarget(const QString& text, Target* out, QString* error) {
    auto fail = [&](const QString& message) {
        if (error) *error = message;
        return false;
    };
    const QStringList words =
        text.trimmed().split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
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
            return fail(QStringLiteral("A superfície tórica pede dois raios e um eixo, por exemplo \"torica 7.70 7.90 90\"."));
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
            return fail(QStringLiteral("A córnea aceita \"cornea\", \"cornea R\", \"cornea R Q\" ou \"cornea R1 R2 EIXO Q\"."));
        }
    } else if (kind == QLatin1String("orto") || kind == QLatin1String("ortho")) {
        if (n.size() != 4)
            return fail(QStringLiteral("A córnea tratada pede raio, asfericidade, diâmetro da zona e profundidade em mm, "
                                       "por exemplo \"orto 7.80 -0.20 5.2 0.02\"."));
        t.kind = Target::Kind::Treated;
        t.r1 = t.r2 = n[0];
        t.q = n[1];
        t.zoneMm = n[2];
        t.depthMm = n[3];
        if (t.zoneMm < 2.0 || t.zoneMm > 9.0) return fail(QStringLiteral("Diâmetro da zona fora da faixa de 2 a 9 mm."));
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
            return fail(QStringLiteral("O ceratocone aceita \"ceratocone\", \"ceratocone X Y LARGURA ALTURA\" ou "
                                       "\"ceratocone R Q X Y LARGURA ALTURA\" (mm)."));
        }
        if (!n.empty()) cone = {n[at], n[at + 1], n[at + 2], n[at + 3]};
        if (std::hypot(cone.xMm, cone.yMm) > 4.0 || cone.sigmaMm < 0.3 || cone.sigmaMm > 3.0 ||
            cone.heightMm <= 0 || cone.heightMm > 0.1)
            return fail(QStringLiteral("Cone fora da faixa: centro a até 4 mm do ápice, largura de 0,3 a 3 mm e "
                                       "altura de 0 a 0,1 mm."));
        t.bumps.push_back(cone);
    } else {
        return fail(QStringLiteral("Tipo de alvo desconhecido: \"%1\" (use esfera, torica, cornea, orto ou "
                                   "ceratocone).").arg(words.first()));
    }
    if (!radiusOk(t.r1) || !radiusOk(t.r2))
        return fail(QStringLiteral("Raio fora da faixa de 4 a 15 mm."));
    if (!std::isfinite(t.axisDeg) || t.q < -3.0 || t.q > 3.0)
        return fail(QStringLiteral("Asfericidade fora da faixa de -3 a 3."));
    auto is = [](const QString& word, const char* pt, const char* en) {
        return word == QLatin1String(pt) || word == QLatin1String(en);
    };
    for (const auto& [word, v] : options) {
        const bool moves = is(word, "deriva", "drift") || is(word, "sacadas", "saccades") ||
                           is(word, "distancia", "distance") || is(word, "semente", "seed");
        if (!moves && !t.isEye())
            return fail(QStringLiteral("Pupila, pálpebras, cílios, fixação, desfoco e piscadas só valem para um olho "
                                       "(cornea, orto ou ceratocone)."));
    }
    Target::Motion& m = t.motion;
    for (const auto& [word, v] : options) {
        if (is(word, "deriva", "drift")) {
            if (v.empty() || v.size() > 2 || v[0] < 0 || v[0] > 1.0 || (v.size() == 2 && (v[1] <= 0 || v[1] > 5)))
                return fail(QStringLiteral("A deriva pede a amplitude (até 1 mm) e, se quiser, a frequência (até 5 Hz): "
                                           "\"deriva 0.1 0.3\"."));
            m.driftMm = v[0];
            if (v.size() == 2) m.driftHz = v[1];
        } else if (is(word, "sacadas", "saccades")) {
            if (v.size() != 2 || v[0] < 0 || v[0] > 1.0 || v[1] < 0 || v[1] > 5)
                return fail(QStringLiteral("As sacadas pedem a amplitude (até 1 mm) e quantas por segundo (até 5): "
                                           "\"sacadas 0.05 2\"."));
            m.saccadeMm = v[0];
            m.saccadesPerS = v[1];
        } else if (is(word, "distancia", "distance")) {
            if ((v.size() != 1 && v.size() != 3) || (v.size() == 3 && (v[1] < 0 || v[2] <= 0 || v[2] > 5)) ||
                std::fabs(v[0]) + (v.size() == 3 ? v[1] : 0) > 1.5 + 1e-9)
                return fail(QStringLiteral("A distância pede o erro em mm (+: mais perto) e, se quiser, a oscilação em mm e "
                                           "sua frequência em Hz, com |erro| + oscilação até 1,5 mm: \"distancia 0.5 0.3 0.4\"."));
            m.distanceMm = v[0];
            if (v.size() == 3) {
                m.distanceDriftMm = v[1];
                m.distanceHz = v[2];
            }
        } else if (is(word, "piscadas", "blinks")) {
            if (v.empty() || v.size() > 2 || v[0] <= 0 || v[0] > 60 || (v.size() == 2 && (v[1] < 50 || v[1] > 1000)))
                return fail(QStringLiteral("As piscadas pedem quantas por minuto (até 60) e, se quiser, a duração de cada "
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
                if (std::hypot(v[1], v[2]) > 1.5) return fail(QStringLiteral("Centro da pupila a mais de 1,5 mm do ápice."));
                t.pupilXMm = v[1];
                t.pupilYMm = v[2];
            }
        } else if (word == QLatin1String("palpebras") || word == QLatin1String("palpebra") ||
                   word == QLatin1String("eyelids")) {
            if (v.size() != 2)
                return fail(QStringLiteral("As pálpebras pedem as distâncias da superior e da inferior ao ápice: "
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
                return fail(QStringLiteral("A fixação pede o deslocamento do ápice em x e y, até 0,5 mm: \"fixacao 0.3 -0.2\"."));
            t.fixationXMm = v[0];
            t.fixationYMm = v[1];
        } else if (word == QLatin1String("desfoco") || word == QLatin1String("defocus")) {
            if (v.size() != 1 || v[0] < 0 || v[0] > 0.05)
                return fail(QStringLiteral("O desfoco pede um desvio de 0 a 0,05 mm: \"desfoco 0.02\"."));
            t.defocusMm = v[0];
        } else {
            return fail(QStringLiteral("Palavra desconhecida na descrição do alvo: \"%1\" (use pupila, palpebras, "
                                       "cilios, fixacao, desfoco, olho, deriva, sacadas, distancia, piscadas ou "
                                       "semente).").arg(word));
        }
    }
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

MotionState motionAt(const Target& t, uint32_t frame, double fps) {
    MotionState s;
    if (t.isEye()) {
        s.xMm = t.fixationXMm;
        s.yMm = t.fixationYMm;
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
            s.lidClosure = p < 0.25 ? smoothstep(p / 0.25) : p < 0.5 ? 1.0 : 1.0 - smoothstep((p - 0.5) / 0.5);
            break;
        }
    }
    return s;
}

void treatmentSag(const Target& t, double r, double* sag, double* dsdr) {
    *sag = 0;
    *dsdr = 0;
    if (t.kind != Target::Kind::Treated || t.zoneMm <= 0 || t.depthMm <= 0) return;
    const double rho2 = 0.25 * t.zoneMm * t.zoneMm;
    const double u = r * r / rho2;
    const double w = 1 + u * u * u * u;
    *sag = -t.depthMm * u / std::pow(w, 0.25);
    *dsdr = -t.depthMm * std::pow(w, -1.25) * 2 * r / rho2;
}

bool targetSurface(const Target& t, double x, double y, double* sag, double* dsdx, double* dsdy) {
    const double r = std::hypot(x, y);
    if (t.isEye() && r > kLimbusMm) return false;
    if (!t.isEye() && r > 0.97 * std::min(t.r1, t.r2)) return false;
    // Biconic base surface in the frame of the r1 meridian.
    const double a = t.axisDeg * kPi / 180.0;
    const double ca = std::cos(a), sa = std::sin(a);
    const double xp = x * ca + y * sa, yp = -x * sa + y * ca;
    const double cx = 1.0 / t.r1, cy = 1.0 / t.r2;
    const double k = t.isEye() ? t.q : 0.0;
    const double num = cx * xp * xp + cy * yp * yp;
    const double p = (1 + k) * (cx * cx * xp * xp + cy * cy * yp * yp);
    if (p >= 0.999) return false;
    const double s = std::sqrt(1 - p);
    const double den = 1 + s;
    const double numX = 2 * cx * xp, numY = 2 * cy * yp;
    const double sX = -(1 + k) * cx * cx * xp / s, sY = -(1 + k) * cy * cy * yp / s;
    const double gxp = (numX * den - num * sX) / (den * den);
    const double gyp = (numY * den - num * sY) / (den * den);
    double z = num / den;
    double gx = gxp * ca - gyp * sa;
    double gy = gxp * sa + gyp * ca;
    if (t.kind == Target::Kind::Treated && r > 1e-12) {
        double ts = 0, tr = 0;
        treatmentSag(t, r, &ts, &tr);
        z += ts;
        gx += tr * x / r;
        gy += tr * y / r;
    }
    for (const Target::Bump& b : t.bumps) {
        const double dx = x - b.xMm, dy = y - b.yMm;
        const double e = std::exp(-(dx * dx + dy * dy) / (2 * b.sigmaMm * b.sigmaMm));
        z -= b.heightMm * e;
        gx += b.heightMm * e * dx / (b.sigmaMm * b.sigmaMm);
        gy += b.heightMm * e * dy / (b.sigmaMm * b.sigmaMm);
    }
    if (!t.waves.empty() && r > 1e-9) {
        const double th = std::atan2(y, x);
        const double rho = r / 4.0;
        for (const Target::Wave& w : t.waves) {
            const double ang = w.order * (th - w.angleDeg * kPi / 180.0);
            const double pw = std::pow(rho, w.radialPower);
            z += w.amplitudeMm * pw * std::cos(ang);
            const double dr = w.amplitudeMm * w.radialPower * std::pow(rho, w.radialPower - 1) / 4.0 * std::cos(ang);
            const double dth = -w.amplitudeMm * pw * w.order * std::sin(ang);
            gx += std::cos(th) * dr - std::sin(th) / r * dth;
            gy += std::sin(th) * dr + std::cos(th) / r * dth;
        }
    }
    *sag = z;
    *dsdx = gx;
    *dsdy = gy;
    return true;
}

// A moving target: what the trace finds per pixel does not depend on the frame, only where the
// reflected ray meets the cone does (the working distance moves the cone along the axis). So the
// picture without reflections and, per mirror pixel, the reflecting point and the reflected ray
// are kept; each frame intersects those rays with the shifted cone, paints the rings, closes the
// lids of a blink and moves and blurs the whole.
struct Renderer::Still {
    std::vector<float> eye;  // 3 linear channels per pixel: the picture with no reflection
    struct Mirror {
        int32_t pixel;
        float x, y, z;        // reflecting point (mm; x, y from the instrument axis)
        float rx, ry, rz;     // reflected ray
        float weight;         // mirror share of the pixel times the light reaching it
        float base[3];        // what the mirror shows where it reflects no ring: iris, pupil, paint
    };
    std::vector<Mirror> mirrors;
    // Blinks: the lid skin as drawn at rest, reaching upRows above the picture and downRows
    // below it, so a closing lid slides its skin over the eye.
    bool lids = false;
    double upper = 0, lower = 0, meet = 0;  // margins at rest above / below the apex; where they meet
    int upRows = 0, downRows = 0;
    std::vector<uint32_t> skin;             // 0xRRGGBB rows of width
};

namespace {
constexpr uint8_t kMirrorBit = 0x80;  // a material seen through the cornea (or on the sphere)
}  // namespace

Renderer::Renderer(int coneType, int width, int height)
    : coneType_(InstrumentModel::cone(coneType) ? coneType : 4),
      width_(std::max(16, width)),
      height_(std::max(16, height)) {
    // The optics do not change with the board's capture size.
    pitch_ = InstrumentModel::pixelPitch(width_, height_);
    // Sensor noise: an approximately Gaussian table (sum of four uniforms, sigma about 2.3
    // grey levels) that each frame reads from a different offset.
    std::mt19937 gen(12345);
    std::uniform_int_distribution<int> uni(-4, 4);
    noise_.resize(1u << 20);
    for (int8_t& v : noise_) v = int8_t((uni(gen) + uni(gen) + uni(gen) + uni(gen)) / 2);
}

Renderer::~Renderer() = default;

const QImage& Renderer::render(const Target& t) {
    if (t.motion.active()) return render(t, 0);
    for (auto it = cache_.begin(); it != cache_.end(); ++it) {
        if (it->first == t) {
            if (it != cache_.begin()) cache_.splice(cache_.begin(), cache_, it);
            return cache_.front().second;
        }
    }
    QImage drawn = draw(t);
    if (drawn.isNull()) return none_;
    cache_.emplace_front(t, std::move(drawn));
    if (cache_.size() > kCacheSize) cache_.pop_back();
    return cache_.front().second;
}

const QImage& Renderer::render(const Target& t, uint32_t frameNumber) {
    if (!t.motion.active()) return render(t);
    const Still* still = prepare(t);
    if (!still) return none_;
    compose(*still, t, motionAt(t, frameNumber, fps_), &moving_);
    return moving_;
}

void Renderer::liveFrame(const Target& t, uint32_t frameNumber, QImage* out) {
    const QImage& clean = render(t, frameNumber);
    if (clean.isNull()) {
        *out = QImage();
        return;
    }
    addSensorNoise(clean, frameNumber, out);
}

void Renderer::addSensorNoise(const QImage& clean, uint32_t frameNumber, QImage* out) const {
    if (out->size() != clean.size() || out->format() != QImage::Format_RGB32)
        *out = QImage(clean.size(), QImage::Format_RGB32);
    const size_t mask = noise_.size() - 1;
    size_t idx = (size_t(frameNumber) * 2654435761u) & mask;
    for (int y = 0; y < clean.height(); ++y) {
        const uchar* src = clean.constScanLine(y);
        uchar* dst = out->scanLine(y);
        for (int x = 0; x < clean.width(); ++x) {
            const int n = noise_[idx];
            idx = (idx + 1) & mask;
            for (int c = 0; c < 3; ++c) {
                const int v = src[4 * x + c] + n;
                dst[4 * x + c] = uchar(v < 0 ? 0 : (v > 255 ? 255 : v));
            }
            dst[4 * x + 3] = 0xff;
        }
    }
}

namespace {

// What one point of the picture shows; the colour then depends on the point too (textures).
enum Material : uint8_t { kRing, kLight, kWall, kPupil, kIris, kSclera, kSkin, kMargin, kLash, kBlack };

// A lash seen from the front: a thin curved stroke from its root on a lid margin, as a polyline.
struct Lash {
    std::array<double, 2> p[5];
    double width = 0.04;
    double minX = 0, maxX = 0, minY = 0, maxY = 0;
};

double segmentDistance2(double x, double y, const std::array<double, 2>& a, const std::array<double, 2>& b) {
    const double ux = b[0] - a[0], uy = b[1] - a[1];
    const double len2 = ux * ux + uy * uy;
    double f = len2 > 0 ? ((x - a[0]) * ux + (y - a[1]) * uy) / len2 : 0;
    f = std::clamp(f, 0.0, 1.0);
    const double dx = x - a[0] - f * ux, dy = y - a[1] - f * uy;
    return dx * dx + dy * dy;
}

double lashDistance2(const Lash& l, double x, double y) {
    double best = 1e9;
    for (int i = 0; i < 4; ++i) best = std::min(best, segmentDistance2(x, y, l.p[i], l.p[i + 1]));
    return best;
}

// The eye's parts around the cornea, in mm from the corneal apex (x to the right, y up).
struct Face {
    double upper = 0, lower = 0;       // lid margins at the middle; 0: none
    struct Lashes {
        std::vector<Lash> all;
        double low = 1e9, high = -1e9;  // the band of heights they cover
    } upperLashes, lowerLashes;
    static constexpr double kUpperBend = 14.0, kLowerBend = 20.0;  // margin curvature radii (mm)
    static constexpr double kMarginMm = 0.22;                      // lid margin seen edge-on
    static constexpr double kShadowDrop = 0.28;                    // lash shadow below its lash

    double upperAt(double x) const { return upper - x * x / (2 * kUpperBend); }
    double lowerAt(double x) const { return -lower + x * x / (2 * kLowerBend); }

    explicit Face(const Target& t) : upper(t.upperLidMm), lower(t.lowerLidMm) {
        if (!t.lashes) return;
        // A fixed seed: the same target always has the same lashes, so frames can be cached.
        std::mt19937 gen(777);
        std::uniform_real_distribution<double> uni(0, 1);
        auto add = [&](Lashes* set, double x0, double y0, double len, double angle, double bend, double width) {
            Lash l;
            const double dx = std::sin(angle) * len, dy = -std::cos(angle) * len;
            for (int i = 0; i < 5; ++i) {
                const double f = i / 4.0, curl = bend * 4 * f * (1 - f);
                l.p[i] = {x0 + f * dx + curl * std::cos(angle), y0 + f * dy + curl * std::sin(angle)};
            }
            l.width = width;
            l.minX = l.maxX = x0;
            l.minY = l.maxY = y0;
            for (const auto& q : l.p) {
                l.minX = std::min(l.minX, q[0]);
                l.maxX = std::max(l.maxX, q[0]);
                l.minY = std::min(l.minY, q[1]);
                l.maxY = std::max(l.maxY, q[1]);
            }
            set->low = std::min(set->low, l.minY - l.width);
            set->high = std::max(set->high, l.maxY + l.width);
            set->all.push_back(l);
        };
        if (upper > 0)
            for (int i = 0; i < 110; ++i) {
                const double x0 = -6.8 + 13.6 * uni(gen);
                // Drooping lashes fan out from the middle and curl outwards.
                const double angle = 0.45 * x0 / 6.8 + 0.25 * (uni(gen) - 0.5);
                add(&upperLashes, x0, upperAt(x0) + 0.04, 0.3 + 0.45 * uni(gen), angle, (x0 >= 0 ? 0.12 : -0.12) * uni(gen),
                    0.03 + 0.02 * uni(gen));
            }
        if (lower > 0)
            for (int i = 0; i < 45; ++i) {
                const double x0 = -5.5 + 11.0 * uni(gen);
                const double angle = 0.4 * x0 / 5.5 + 0.3 * (uni(gen) - 0.5);  // down over the lower lid
                add(&lowerLashes, x0, lowerAt(x0) - 0.03, 0.25 + 0.3 * uni(gen), angle, 0.05 * (uni(gen) - 0.5), 0.025);
            }
    }

    // A lid, its margin or a lash in front of the eye at (x, y); kBlack when none.
    Material front(double x, double y) const {
        if (upper > 0) {
            const double yu = upperAt(x);
            if (y > yu + kMarginMm) return kSkin;
            if (y > yu) return kMargin;
        }
        if (lower > 0) {
            const double yl = lowerAt(x);
            if (y < yl - kMarginMm) return kSkin;
            if (y < yl) return kMargin;
        }
        for (const Lashes* set : {&upperLashes, &lowerLashes}) {
            if (y < set->low || y > set->high) continue;
            for (const Lash& l : set->all) {
                if (x < l.minX - l.width || x > l.maxX + l.width || y < l.minY - l.width || y > l.maxY + l.width) continue;
                if (lashDistance2(l, x, y) < 0.25 * l.width * l.width) return kLash;
            }
        }
        return kBlack;
    }

    // How much light reaches the eye at (x, y): the upper lid and the lashes shade the cornea
    // below them (1: full light).
    double light(double x, double y) const {
        if (upper <= 0) return 1;
        const double below = upperAt(x) - y;
        if (below < 0 || below > 2.0) return 1;
        double f = 1 - 0.35 * std::exp(-below / 0.3);
        constexpr double kSoft = 0.05;  // shadows of lashes are soft: the cone lights from all round
        if (y + kShadowDrop < upperLashes.low - 0.2) return f;
        for (const Lash& l : upperLashes.all) {
            if (x < l.minX - 0.2 || x > l.maxX + 0.2 || y + kShadowDrop < l.minY - 0.2 || y + kShadowDrop > l.maxY + 0.2)
                continue;
            const double d2 = lashDistance2(l, x, y + kShadowDrop);
            f *= 1 - 0.5 * std::exp(-d2 / (2 * kSoft * kSoft));
        }
        return f;
    }
};

// Colour (B, G, R, 0..255) of a material at (x, y) mm from the apex.
void colourOf(Material m, double x, double y, const Target& t, float* out) {
    auto set = [&](double b, double g, double r) {
        out[0] = float(b);
        out[1] = float(g);
        out[2] = float(r);
    };
    switch (m) {
    case kRing: set(236, 236, 232); return;
    case kLight: set(250, 250, 250); return;
    case kWall: set(14, 14, 16); return;   // dark paint between the rings
    case kPupil: set(6, 6, 8); return;
    case kLash: set(18, 16, 17); return;
    case kBlack: set(4, 4, 4); return;
    case kMargin: set(58, 64, 88); return;
    case kIris: {
        // Brown-green stroma: radial fibres, the collarette a little out from the pupil, a
        // darker pupillary ruff and limbal ring. Never as dark as the pupil.
        const double px = x - t.pupilXMm, py = y - t.pupilYMm;
        const double rho = std::hypot(px, py), phi = std::atan2(py, px);
        const double fib = 0.5 + 0.5 * std::sin(61 * phi + 2.3 * std::sin(7 * phi) + 3 * rho);
        const double fine = 0.5 + 0.5 * std::sin(137 * phi + 9 * rho + 1.3);
        const double collar = std::exp(-std::pow((rho - t.pupilRadiusMm - 0.8) / 0.18, 2));
        double k = 0.78 + 0.25 * fib + 0.15 * fine + 0.3 * collar;
        if (rho < t.pupilRadiusMm + 0.12) k *= 0.8;
        const double r = std::hypot(x, y);
        if (r > 4.9) k *= 1 - 0.4 * std::min(1.0, (r - 4.9) / 0.9);
        set(k * 30 + 6 * fine, k * 46, k * 62 + 8 * fib);
        return;
    }
    case kSclera: {
        // White of the eye, a little grey under the instrument's light, with a few vessels.
        const double w = std::sin(3.1 * y + 1.7 * std::sin(2.3 * x) + 0.7 * x);
        const double w2 = std::sin(4.3 * x - 2.1 * std::sin(1.9 * y));
        const double vessel = 0.6 * std::exp(-w * w / 0.004) + 0.4 * std::exp(-w2 * w2 / 0.003);
        set(132 - 50 * vessel, 136 - 45 * vessel, 150 - 15 * vessel);
        return;
    }
    case kSkin: {
        // Lid skin: darker where it rounds over the margin, a crease higher up, fine texture.
        const double above = std::max(y - (t.upperLidMm > 0 && y > 0 ? t.upperLidMm - x * x / 28 : 0), 0.0);
        const double below = std::max((t.lowerLidMm > 0 && y < 0 ? -t.lowerLidMm + x * x / 40 : 0) - y, 0.0);
        const double d = y > 0 ? above : below;
        double k = 0.72 + 0.28 * std::min(1.0, d / 0.7);
        if (y > 0) k *= 1 - 0.15 * std::exp(-std::pow((d - 2.2) / 0.15, 2));
        k *= 0.97 + 0.03 * std::sin(23 * y + 3 * std::sin(1.3 * x)) + 0.02 * std::sin(5.1 * x + 2.3 * std::sin(3.7 * y));
        set(k * 108, k * 124, k * 150);
        return;
    }
    }
}

// Separable Gaussian blur of an interleaved 3-channel float picture, edges clamped.
void gaussianBlur(std::vector<float>* img, int w, int h, double sigmaX, double sigmaY) {
    auto kernel = [](double sigma) {
        const int half = std::max(1, int(std::ceil(3 * sigma)));
        std::vector<float> k(size_t(2 * half + 1));
        double sum = 0;
        for (int i = -half; i <= half; ++i) sum += k[size_t(i + half)] = float(std::exp(-0.5 * i * i / (sigma * sigma)));
        for (float& v : k) v = float(v / sum);
        return k;
    };
    std::vector<float> tmp(img->size());
    const std::vector<float> kx = kernel(sigmaX), ky = kernel(sigmaY);
    const int hx = int(kx.size() / 2), hy = int(ky.size() / 2);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                float s = 0;
                for (int i = -hx; i <= hx; ++i)
                    s += kx[size_t(i + hx)] * (*img)[(size_t(y) * w + std::clamp(x + i, 0, w - 1)) * 3 + c];
                tmp[(size_t(y) * w + x) * 3 + c] = s;
            }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                float s = 0;
                for (int i = -hy; i <= hy; ++i)
                    s += ky[size_t(i + hy)] * tmp[(size_t(std::clamp(y + i, 0, h - 1)) * w + x) * 3 + c];
                (*img)[(size_t(y) * w + x) * 3 + c] = s;
            }
}

}  // namespace

QImage Renderer::draw(const Target& t) const {
    const ConeGeometry& cone = *InstrumentModel::cone(coneType_);
    const bool isEye = t.isEye();
    const Face face(isEye ? t : Target());
    const bool shaded = isEye && t.upperLidMm > 0;
    // The eye (and face) sits off the axis by the fixation error; the cone does not move.
    const double fx = isEye ? t.fixationXMm : 0, fy = isEye ? t.fixationYMm : 0;
    // Linear intensities per channel (0..255) accumulated over the sub-samples.
    std::vector<float> acc(size_t(width_) * height_ * 3, 0.0f);
    const double cxPix = width_ / 2.0, cyPix = height_ / 2.0;
    const double sub = 1.0 / kSuper;
    // What one point of the image (x, y mm from the instrument axis) shows.
    auto shade = [&](double x, double y) -> Material {
        const double xe = x - fx, ye = y - fy;
        if (isEye) {
            const Material f = face.front(xe, ye);
            if (f != kBlack) return f;
        }
        double sag = 0, gx = 0, gy = 0;
        if (!targetSurface(t, xe, ye, &sag, &gx, &gy)) return isEye ? kSclera : kBlack;
        // What lies behind the mirror: iris and pupil for an eye, nothing for a steel sphere.
        Material base = kWall;
        if (isEye) base = std::hypot(xe - t.pupilXMm, ye - t.pupilYMm) < t.pupilRadiusMm ? kPupil : kIris;
        // Outward normal (towards the camera) of z = -sag.
        const double nn = std::sqrt(gx * gx + gy * gy + 1);
        const Vec3 n{gx / nn, gy / nn, 1 / nn};
        double u = 0, back = 0;
        if (!InstrumentModel::traceToCone(cone, Vec3{x, y, -sag}, n, &u, &back)) return base;
        if (back >= 0) return back < InstrumentModel::kFixationLightMm ? kLight : base;
        for (int i = 1; i <= cone.rings; ++i) {
            if (u < cone.startU[i]) break;
            if (u < cone.edgeU[i]) return kRing;
        }
        return base;
    };
    auto colour = [&](Material m, double x, double y, float* out) { colourOf(m, x - fx, y - fy, t, out); };
    // Shade the pixel corners first; a pixel whose four corners agree is uniform (every
    // feature is wider than a pixel) and takes the colour of its centre, the others integrate
    // kSuper x kSuper sub-samples.
    const int cw = width_ + 1;
    std::vector<Material> corner(size_t(cw) * (height_ + 1));
    for (int cy = 0; cy <= height_; ++cy) {
        if (cancelled()) return QImage();
        for (int cx = 0; cx <= width_; ++cx)
            corner[size_t(cy) * cw + cx] = shade((cx - cxPix) * pitch_.x, -(cy - cyPix) * pitch_.y);
    }
    for (int py = 0; py < height_; ++py) {
        if (cancelled()) return QImage();
        for (int px = 0; px < width_; ++px) {
            float* a = &acc[(size_t(py) * width_ + px) * 3];
            const Material c0 = corner[size_t(py) * cw + px];
            const double x = (px + 0.5 - cxPix) * pitch_.x, y = -(py + 0.5 - cyPix) * pitch_.y;
            if (c0 == corner[size_t(py) * cw + px + 1] && c0 == corner[size_t(py + 1) * cw + px] &&
                c0 == corner[size_t(py + 1) * cw + px + 1]) {
                colour(c0, x, y, a);
            } else {
                float sum[3] = {0, 0, 0}, col[3];
                for (int sy = 0; sy < kSuper; ++sy) {
                    for (int sx = 0; sx < kSuper; ++sx) {
                        const double xs = (px + (sx + 0.5) * sub - cxPix) * pitch_.x;
                        const double ys = -(py + (sy + 0.5) * sub - cyPix) * pitch_.y;
                        colour(shade(xs, ys), xs, ys, col);
                        sum[0] += col[0];
                        sum[1] += col[1];
                        sum[2] += col[2];
                    }
                }
                for (int c = 0; c < 3; ++c) a[c] = sum[c] / float(kSuper * kSuper);
            }
            if (shaded && c0 != kSkin && c0 != kMargin && c0 != kLash) {
                const float f = float(face.light(x - fx, y - fy));
                for (int c = 0; c < 3; ++c) a[c] *= f;
            }
        }
    }
    if (isEye && t.defocusMm > 0) gaussianBlur(&acc, width_, height_, t.defocusMm / pitch_.x, t.defocusMm / pitch_.y);
    // The lens blurs a little: a separable [1 6 1] / 8 kernel, edges clamped; the rings keep
    // their plateau, as a focused instrument's do.
    std::vector<float> tmp(acc.size());
    for (int y = 0; y < height_; ++y)
        for (int x = 0; x < width_; ++x)
            for (int c = 0; c < 3; ++c) {
                const int xl = std::max(0, x - 1), xr = std::min(width_ - 1, x + 1);
                tmp[(size_t(y) * width_ + x) * 3 + c] =
                    0.125f * acc[(size_t(y) * width_ + xl) * 3 + c] + 0.75f * acc[(size_t(y) * width_ + x) * 3 + c] +
                    0.125f * acc[(size_t(y) * width_ + xr) * 3 + c];
            }
    QImage img(width_, height_, QImage::Format_RGB32);
    for (int y = 0; y < height_; ++y) {
        uchar* line = img.scanLine(y);
        const int yu = std::max(0, y - 1), yd = std::min(height_ - 1, y + 1);
        for (int x = 0; x < width_; ++x) {
            for (int c = 0; c < 3; ++c) {
                const float v = 0.125f * tmp[(size_t(yu) * width_ + x) * 3 + c] + 0.75f * tmp[(size_t(y) * width_ + x) * 3 + c] +
                                0.125f * tmp[(size_t(yd) * width_ + x) * 3 + c];
                line[4 * x + c] = uchar(std::clamp(int(std::lround(v)), 0, 255));
            }
            line[4 * x + 3] = 0xff;
        }
    }
    return img;
}

const Renderer::Still* Renderer::prepare(const Target& t) {
    Target key = t;
    key.motion = Target::Motion();
    Still* still = nullptr;
    for (auto it = stills_.begin(); it != stills_.end(); ++it) {
        if (it->first == key) {
            if (it != stills_.begin()) stills_.splice(stills_.begin(), stills_, it);
            still = stills_.front().second.get();
            break;
        }
    }
    const bool isEye = t.isEye();
    const double fx = isEye ? t.fixationXMm : 0, fy = isEye ? t.fixationYMm : 0;
    const double cxPix = width_ / 2.0, cyPix = height_ / 2.0;
    if (!still) {
        auto made = std::make_unique<Still>();
        const Face face(isEye ? t : Target());
        const bool shaded = isEye && t.upperLidMm > 0;
        // As draw's shade, with the reflection left out: the material, kMirrorBit where the
        // surface can reflect the cone.
        auto shade = [&](double x, double y) -> uint8_t {
            const double xe = x - fx, ye = y - fy;
            if (isEye) {
                const Material f = face.front(xe, ye);
                if (f != kBlack) return f;
            }
            double sag = 0, gx = 0, gy = 0;
            if (!targetSurface(t, xe, ye, &sag, &gx, &gy)) return isEye ? kSclera : kBlack;
            Material base = kWall;
            if (isEye) base = std::hypot(xe - t.pupilXMm, ye - t.pupilYMm) < t.pupilRadiusMm ? kPupil : kIris;
            return uint8_t(base | kMirrorBit);
        };
        auto colour = [&](uint8_t m, double x, double y, float* out) {
            colourOf(Material(m & ~kMirrorBit), x - fx, y - fy, t, out);
        };
        const int cw = width_ + 1;
        std::vector<uint8_t> corner(size_t(cw) * (height_ + 1));
        for (int cy = 0; cy <= height_; ++cy) {
            if (cancelled()) return nullptr;
            for (int cx = 0; cx <= width_; ++cx)
                corner[size_t(cy) * cw + cx] = shade((cx - cxPix) * pitch_.x, -(cy - cyPix) * pitch_.y);
        }
        made->eye.assign(size_t(width_) * height_ * 3, 0.0f);
        const double sub = 1.0 / kSuper;
        for (int py = 0; py < height_; ++py) {
            if (cancelled()) return nullptr;
            for (int px = 0; px < width_; ++px) {
                float* a = &made->eye[(size_t(py) * width_ + px) * 3];
                const uint8_t c0 = corner[size_t(py) * cw + px];
                const double x = (px + 0.5 - cxPix) * pitch_.x, y = -(py + 0.5 - cyPix) * pitch_.y;
                double mx = 0, my = 0, base[3] = {0, 0, 0};
                int mirrored = 0, samples = 1;
                if (c0 == corner[size_t(py) * cw + px + 1] && c0 == corner[size_t(py + 1) * cw + px] &&
                    c0 == corner[size_t(py + 1) * cw + px + 1]) {
                    colour(c0, x, y, a);
                    if (c0 & kMirrorBit) {
                        mirrored = 1;
                        mx = x, my = y;
                        for (int c = 0; c < 3; ++c) base[c] = a[c];
                    }
                } else {
                    samples = kSuper * kSuper;
                    float sum[3] = {0, 0, 0}, col[3];
                    for (int sy = 0; sy < kSuper; ++sy) {
                        for (int sx = 0; sx < kSuper; ++sx) {
                            const double xs = (px + (sx + 0.5) * sub - cxPix) * pitch_.x;
                            const double ys = -(py + (sy + 0.5) * sub - cyPix) * pitch_.y;
                            const uint8_t m = shade(xs, ys);
                            colour(m, xs, ys, col);
                            for (int c = 0; c < 3; ++c) sum[c] += col[c];
                            if (m & kMirrorBit) {
                                ++mirrored;
                                mx += xs, my += ys;
                                for (int c = 0; c < 3; ++c) base[c] += col[c];
                            }
                        }
                    }
                    for (int c = 0; c < 3; ++c) a[c] = sum[c] / float(samples);
                }
                float light = 1;
                const Material m0 = Material(c0 & ~kMirrorBit);
                if (shaded && m0 != kSkin && m0 != kMargin && m0 != kLash) {
                    light = float(face.light(x - fx, y - fy));
                    for (int c = 0; c < 3; ++c) a[c] *= light;
                }
                if (!mirrored) continue;
                // The ray of the pixel's mirror part, from where that part lies on average.
                mx /= mirrored, my /= mirrored;
                double sag = 0, gx = 0, gy = 0;
                if (!targetSurface(t, mx - fx, my - fy, &sag, &gx, &gy)) continue;
                const double nn = std::sqrt(gx * gx + gy * gy + 1);
                const double nx = gx / nn, ny = gy / nn, nz = 1 / nn, k = 2 * nz;
                Still::Mirror mi;
                mi.pixel = py * width_ + px;
                mi.x = float(mx), mi.y = float(my), mi.z = float(-sag);
                mi.rx = float(k * nx), mi.ry = float(k * ny), mi.rz = float(-1.0 + k * nz);
                mi.weight = float(mirrored) / float(samples) * light;
                for (int c = 0; c < 3; ++c) mi.base[c] = float(base[c] / mirrored);
                made->mirrors.push_back(mi);
            }
        }
        stills_.emplace_front(key, std::move(made));
        if (stills_.size() > 2) stills_.pop_back();  // several megabytes each
        still = stills_.front().second.get();
    }
    if (isEye && t.motion.blinksPerMin > 0 && !still->lids) {
        // Margins at rest; a lid out of the picture comes from just beyond its edge. They meet
        // low on the cornea, the upper lid doing most of the travel.
        still->upper = t.upperLidMm > 0 ? t.upperLidMm : cyPix * pitch_.y - fy + 0.6;
        still->lower = t.lowerLidMm > 0 ? t.lowerLidMm : cyPix * pitch_.y + fy + 0.6;
        still->meet = -0.4 * still->lower;
        still->upRows = int(std::ceil((still->upper - still->meet + 0.1) / pitch_.y)) + 2;
        still->downRows = int(std::ceil((still->lower + still->meet + 0.1) / pitch_.y)) + 2;
        Target lid = t;
        lid.upperLidMm = still->upper;
        lid.lowerLidMm = still->lower;
        const int rows = height_ + still->upRows + still->downRows;
        still->skin.resize(size_t(rows) * width_);
        float col[3];
        for (int r = 0; r < rows; ++r) {
            const double ye = -(r - still->upRows + 0.5 - cyPix) * pitch_.y - fy;
            for (int px = 0; px < width_; ++px) {
                colourOf(kSkin, (px + 0.5 - cxPix) * pitch_.x - fx, ye, lid, col);
                still->skin[size_t(r) * width_ + px] = (uint32_t(std::lround(col[2])) << 16) |
                                                       (uint32_t(std::lround(col[1])) << 8) | uint32_t(std::lround(col[0]));
            }
        }
        still->lids = true;
    }
    return still;
}

namespace {

// out(x) = sum_j w[j] * in(x + first + j), edges clamped.
struct Kernel {
    int first = 0;
    std::vector<float> w;
};

// The lens's [1 6 1] / 8, a defocus Gaussian of `sigma` pixels and a move of the picture by
// `shift` pixels, to the nearest pixel, as one kernel. Interpolating between pixels would blur
// the rings by up to half a pixel depending on the fraction, which the live assessment would
// read as defocus; a whole-pixel step (0.02 mm) is well within what centring resolves.
Kernel frameKernel(double sigma, double shift) {
    std::vector<double> g{1.0};
    int half = 0;
    if (sigma > 0.2) {  // below that the Gaussian is all in its centre tap
        half = std::max(1, int(std::ceil(3 * sigma)));
        g.assign(size_t(2 * half + 1), 0.0);
        double sum = 0;
        for (int i = -half; i <= half; ++i) sum += g[size_t(i + half)] = std::exp(-0.5 * i * i / (sigma * sigma));
        for (double& v : g) v /= sum;
    }
    std::vector<double> lens(g.size() + 2, 0.0);
    for (size_t i = 0; i < g.size(); ++i) {
        lens[i] += 0.125 * g[i];
        lens[i + 1] += 0.75 * g[i];
        lens[i + 2] += 0.125 * g[i];
    }
    const double n = std::round(shift), f = 0;
    Kernel k;
    k.first = -half - 1 - int(n) - 1;
    k.w.assign(lens.size() + 1, 0.0f);
    for (size_t i = 0; i < lens.size(); ++i) {
        k.w[i + 1] += float((1 - f) * lens[i]);
        k.w[i] += float(f * lens[i]);
    }
    return k;
}

// dst[i] = sum_j k.w[j] * src_j[i] for i < n, src_j = src + j * stride (one row) or the row
// rows[j] (one column of rows). Blocks of eight keep the sums in registers, where the compiler
// vectorises them: this is most of a moving frame's time.
template <typename Source>
void convolveBlocks(const Kernel& k, Source source, float* __restrict dst, int n) {
    const size_t taps = k.w.size();
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        float s[8] = {0, 0, 0, 0, 0, 0, 0, 0};
        for (size_t j = 0; j < taps; ++j) {
            const float c = k.w[j];
            const float* __restrict in = source(j) + i;
            for (int l = 0; l < 8; ++l) s[l] += c * in[l];
        }
        for (int l = 0; l < 8; ++l) dst[i + l] = s[l];
    }
    for (; i < n; ++i) {
        float s = 0;
        for (size_t j = 0; j < taps; ++j) s += k.w[j] * source(j)[i];
        dst[i] = s;
    }
}

void convolve(const Kernel& k, const float* src, int stride, float* dst, int n) {
    convolveBlocks(k, [&](size_t j) { return src + j * size_t(stride); }, dst, n);
}

void convolve(const Kernel& k, const float* const* rows, float* dst, int n) {
    convolveBlocks(k, [&](size_t j) { return rows[j]; }, dst, n);
}

}  // namespace

void Renderer::compose(const Still& still, const Target& t, const MotionState& m, QImage* out) {
    const size_t pixels = size_t(width_) * height_;
    const bool isEye = t.isEye();
    const double fx = isEye ? t.fixationXMm : 0, fy = isEye ? t.fixationYMm : 0;
    const double cxPix = width_ / 2.0, cyPix = height_ / 2.0;
    work_ = still.eye;
    if (!m.closed()) {
        // Where each mirror pixel's ray meets the cone moved by the distance error, as
        // InstrumentModel::traceToCone finds it: u along the wall, or -2 - (radius) where it
        // leaves through the back opening, NaN where it escapes.
        const ConeGeometry cone = InstrumentModel::shifted(*InstrumentModel::cone(coneType_), m.dzMm);
        const double b = (cone.frontH - cone.backH) / (cone.frontZ - cone.backZ);
        const double a = cone.backH - b * cone.backZ;
        code_.assign(pixels, std::numeric_limits<float>::quiet_NaN());
        for (const Still::Mirror& mi : still.mirrors) {
            const double px = mi.x, py = mi.y, pz = mi.z, rx = mi.rx, ry = mi.ry, rz = mi.rz;
            if (rz <= 1e-9) continue;
            const double A = rx * rx + ry * ry - b * b * rz * rz;
            const double hp = a + b * pz;
            const double B = 2.0 * (px * rx + py * ry) - 2.0 * b * rz * hp;
            const double C = px * px + py * py - hp * hp;
            double best = -1;
            if (std::fabs(A) < 1e-15) {
                if (std::fabs(B) > 1e-15) best = -C / B;
            } else {
                const double disc = B * B - 4 * A * C;
                if (disc >= 0) {
                    const double sq = std::sqrt(disc);
                    for (double tt : {(-B - sq) / (2 * A), (-B + sq) / (2 * A)}) {
                        if (tt <= 0) continue;
                        const double z = pz + tt * rz;
                        if (z < cone.frontZ - 1e-9 || z > cone.backZ + 1e-9) continue;
                        if (best < 0 || tt < best) best = tt;
                    }
                }
            }
            if (best > 0) {
                code_[size_t(mi.pixel)] = float((pz + best * rz - cone.backZ) / (cone.frontZ - cone.backZ));
            } else {
                const double tb = (cone.backZ - pz) / rz;
                const double bx = px + tb * rx, by = py + tb * ry;
                const double rb = std::sqrt(bx * bx + by * by);
                if (rb <= cone.backH) code_[size_t(mi.pixel)] = float(-2.0 - rb);
            }
        }
        // Painted length of the cone below u, to box-filter the rings over a pixel's span of u.
        const ConeGeometry& c = cone;
        std::array<double, 34> below{};
        for (int i = 1; i <= c.rings; ++i) below[size_t(i)] = below[size_t(i - 1)] + (c.edgeU[size_t(i)] - c.startU[size_t(i)]);
        auto painted = [&](double u) {
            const int n = int(std::upper_bound(c.startU.begin() + 1, c.startU.begin() + 1 + c.rings, u) - c.startU.begin()) - 1;
            if (n < 1) return 0.0;
            return below[size_t(n - 1)] + std::min(u - c.startU[size_t(n)], c.edgeU[size_t(n)] - c.startU[size_t(n)]);
        };
        float ring[3], light[3];
        colourOf(kRing, 0, 0, t, ring);
        colourOf(kLight, 0, 0, t, light);
        for (const Still::Mirror& mi : still.mirrors) {
            const size_t p = size_t(mi.pixel);
            const float code = code_[p];
            if (std::isnan(code)) continue;
            const bool wall = code >= -1.0f;
            auto same = [&](float v) { return !std::isnan(v) && (v >= -1.0f) == wall; };
            // Span of the code over the pixel from its neighbours of the same kind.
            auto slope = [&](bool hasLo, size_t lo, bool hasHi, size_t hi) {
                const float l = hasLo ? code_[lo] : std::numeric_limits<float>::quiet_NaN();
                const float h = hasHi ? code_[hi] : std::numeric_limits<float>::quiet_NaN();
                if (same(l) && same(h)) return 0.5 * (double(h) - l);
                if (same(h)) return double(h) - code;
                if (same(l)) return double(code) - l;
                return 0.0;
            };
            const int px = mi.pixel % width_, py = mi.pixel / width_;
            const double sx = slope(px > 0, p - 1, px < width_ - 1, p + 1);
            const double sy = slope(py > 0, p - size_t(width_), py < height_ - 1, p + size_t(width_));
            const double span = std::sqrt(sx * sx + sy * sy);
            const float* colour = ring;
            double cover = 0;
            if (wall) {
                if (span > 1e-7) {
                    cover = (painted(code + 0.5 * span) - painted(code - 0.5 * span)) / span;
                } else {
                    const int n = int(std::upper_bound(c.startU.begin() + 1, c.startU.begin() + 1 + c.rings, double(code)) -
                                      c.startU.begin()) - 1;
                    cover = n >= 1 && code < c.edgeU[size_t(n)] ? 1 : 0;
                }
            } else {
                const double rb = -2.0 - code;
                colour = light;
                cover = span > 1e-7 ? std::clamp((InstrumentModel::kFixationLightMm - rb) / span + 0.5, 0.0, 1.0)
                                    : (rb < InstrumentModel::kFixationLightMm ? 1 : 0);
            }
            if (cover <= 0) continue;
            float* o = &work_[3 * p];
            const float k = float(cover) * mi.weight;
            for (int ch = 0; ch < 3; ++ch) o[ch] += k * (colour[ch] - mi.base[ch]);
        }
    }
    if (still.lids && m.lidClosure > 0) {
        // The lids of a blink: margins as Face draws them, the upper one slid down and the lower
        // one up by the closure (a little past each other when closed); their skin slides with
        // them. The moving lids carry no lashes.
        const double upper = still.upper + m.lidClosure * (still.meet - 0.1 - still.upper);
        const double lower = -still.lower + m.lidClosure * (still.meet + 0.1 + still.lower);
        const int upShift = int(std::lround((still.upper - upper) / pitch_.y));
        const int downShift = int(std::lround((lower + still.lower) / pitch_.y));
        float margin[3];
        colourOf(kMargin, 0, 0, t, margin);
        for (int py = 0; py < height_; ++py) {
            const double ye = -(py + 0.5 - cyPix) * pitch_.y - fy;
            const uint32_t* up = &still.skin[size_t(py - upShift + still.upRows) * width_];
            const uint32_t* down = &still.skin[size_t(py + downShift + still.upRows) * width_];
            for (int px = 0; px < width_; ++px) {
                const double xe = (px + 0.5 - cxPix) * pitch_.x - fx;
                const double over = ye - (upper - xe * xe / (2 * Face::kUpperBend));
                const double under = (lower + xe * xe / (2 * Face::kLowerBend)) - ye;
                for (const auto& [d, skin] : {std::pair{over, up[px]}, std::pair{under, down[px]}}) {
                    // Covered share of the pixel, then margin or skin.
                    const double cover = std::clamp(d / pitch_.y + 0.5, 0.0, 1.0);
                    if (cover <= 0) continue;
                    float lid[3] = {float(skin & 0xff), float((skin >> 8) & 0xff), float((skin >> 16) & 0xff)};
                    if (d < Face::kMarginMm) std::copy(margin, margin + 3, lid);
                    float* o = &work_[3 * (size_t(py) * width_ + px)];
                    for (int ch = 0; ch < 3; ++ch) o[ch] += float(cover) * (lid[ch] - o[ch]);
                }
            }
        }
    }
    // The whole eye moves with the apex: the picture is shifted rather than traced anew. That
    // leaves out how the rings shift on the cornea when it moves off the cone's axis (the
    // fixacao offset is traced exactly; the motion's is not), a second-order change for the
    // fraction of a millimetre the eye wanders. Then the defocus of the static blur and of the
    // distance error, and the lens blur, all in one separable pass.
    const double dxMm = m.xMm - fx, dyMm = m.yMm - fy;
    const double sigmaMm = std::hypot(isEye ? t.defocusMm : 0.0, InstrumentModel::defocusSigmaMm(m.dzMm));
    const Kernel kx = frameKernel(sigmaMm / pitch_.x, dxMm / pitch_.x);
    const Kernel ky = frameKernel(sigmaMm / pitch_.y, -dyMm / pitch_.y);
    const int w = width_, h = height_;
    pass_.resize(pixels * 3);
    {
        const int left = std::max(0, -kx.first), right = std::max(0, kx.first + int(kx.w.size()) - 1);
        row_.resize(size_t(w + left + right) * 3);
        for (int y = 0; y < h; ++y) {
            const float* src = &work_[size_t(y) * w * 3];
            for (int i = -left; i < w + right; ++i) {
                const int x = std::clamp(i, 0, w - 1);
                for (int ch = 0; ch < 3; ++ch) row_[size_t(i + left) * 3 + ch] = src[size_t(x) * 3 + ch];
            }
            convolve(kx, &row_[size_t(kx.first + left) * 3], 3, &pass_[size_t(y) * w * 3], w * 3);
        }
    }
    if (out->size() != QSize(w, h) || out->format() != QImage::Format_RGB32) *out = QImage(w, h, QImage::Format_RGB32);
    row_.resize(size_t(w) * 3);
    std::vector<const float*> rows(ky.w.size());
    for (int y = 0; y < h; ++y) {
        float* acc = row_.data();
        for (size_t j = 0; j < ky.w.size(); ++j)
            rows[j] = &pass_[size_t(std::clamp(y + ky.first + int(j), 0, h - 1)) * w * 3];
        convolve(ky, rows.data(), acc, w * 3);
        uchar* line = out->scanLine(y);
        for (int x = 0; x < w; ++x) {
            for (int ch = 0; ch < 3; ++ch) line[4 * x + ch] = uchar(std::clamp(int(acc[3 * x + ch] + 0.5f), 0, 255));
            line[4 * x + 3] = 0xff;
        }
    }
}

}  // namespace norvix::sim

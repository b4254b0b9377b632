// A short run of a fuzz target inside the test suite: its seeds, then a few thousand inputs
// made from them by deterministic mutations (the same every run, so a failure reproduces).
#include <gtest/gtest.h>

#include <random>

#include "FuzzAlvo.h"

namespace {

QByteArray muta(const QByteArray& base, const std::vector<QByteArray>& todas, std::mt19937& rng) {
    QByteArray r = base;
    const int passos = 1 + int(rng() % 4);
    for (int p = 0; p < passos; ++p) {
        const auto pos = [&] { return r.isEmpty() ? 0 : qsizetype(rng() % r.size()); };
        switch (rng() % 8) {
        case 0:  // flip a byte
            if (!r.isEmpty()) r[pos()] = char(rng());
            break;
        case 1:  // cut the end off
            r.truncate(pos());
            break;
        case 2:  // drop a run
            if (!r.isEmpty()) r.remove(pos(), 1 + qsizetype(rng() % 16));
            break;
        case 3:  // insert interesting bytes
            r.insert(pos(), QByteArray(1 + int(rng() % 8), "#@-,. \r\n\0\xff"[rng() % 11]));
            break;
        case 4: {  // overwrite with a boundary value (header fields of binary inputs)
            static const uint32_t valores[] = {0, 1, 0x7FFFFFFF, 0x80000000u, 0xFFFFFFFFu, 40, 54, 3};
            if (r.size() >= 4) {
                const uint32_t v = valores[rng() % 8];
                const qsizetype at = qsizetype(rng() % (r.size() - 3));
                for (int i = 0; i < 4; ++i) r[at + i] = char(v >> (8 * i));
            }
            break;
        }
        case 5: {  // splice with another seed
            const QByteArray& outra = todas[rng() % todas.size()];
            r = r.left(pos()) + outra.mid(outra.isEmpty() ? 0 : qsizetype(rng() % outra.size()));
            break;
        }
        case 6:  // repeat a slice
            if (!r.isEmpty()) {
                const qsizetype at = pos();
                r.insert(at, r.mid(at, 1 + qsizetype(rng() % 64)));
            }
            break;
        default:  // numbers that must be refused
            r.insert(pos(), QByteArray(std::vector<const char*>{"1e400", "nan", "--3", "3,5,5", "inf"}[rng() % 5]));
            break;
        }
    }
    return r;
}

int executa(const QByteArray& entrada) {
    return LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(entrada.constData()),
                                  size_t(entrada.size()));
}

}  // namespace

TEST(ReplayFuzz, SementesAceitasEMutacoesSemFalha) {
    const std::vector<QByteArray> sementes = norvix::fuzz::sementes();
    ASSERT_FALSE(sementes.empty());
    for (const QByteArray& s : sementes) EXPECT_EQ(executa(s), 0);
    // Every seed is a valid input: a reader that starts refusing them has regressed.
    EXPECT_EQ(norvix::fuzz::aceitos(), long(sementes.size()));

    std::mt19937 rng(20261209);
    int executadas = 0;
    for (int i = 0; i < 3000; ++i) {
        const QByteArray& base = sementes[size_t(i) % sementes.size()];
        ASSERT_EQ(executa(muta(base, sementes, rng)), 0);
        ++executadas;
    }
    EXPECT_EQ(executadas, 3000);
    EXPECT_EQ(executa(QByteArray()), 0);
}

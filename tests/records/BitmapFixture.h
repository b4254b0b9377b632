#pragma once
// Windows bitmap files built byte by byte, for the packing tests, the fuzz seeds and the
// benchmark.
#include <QByteArray>
#include <QtEndian>
#include <cstdint>

namespace norvix::teste {

inline void poe32(QByteArray& b, int at, uint32_t v) {
    qToLittleEndian<uint32_t>(v, b.data() + at);
}
inline void poe16(QByteArray& b, int at, uint16_t v) {
    qToLittleEndian<uint16_t>(v, b.data() + at);
}

// The colour of pixel (x, y), y counted from the top: a gradient with a red top band.
struct Cor {
    uint8_t b, g, r;
};
inline Cor corDe(int x, int y, int altura) {
    if (y < altura / 4) return {0, 0, 255};
    return {uint8_t(x * 255 / 640), uint8_t(y * 255 / 480), uint8_t((x + y) & 0x7F)};
}

// bits 24 or 32; topDown writes a negative height; bitfields adds the three masks
// (red, green, blue) after a 40-byte header.
inline QByteArray bitmap(int largura, int altura, int bits, bool topDown = false,
                         bool bitfields = false, uint32_t mr = 0x00FF0000,
                         uint32_t mg = 0x0000FF00, uint32_t mb = 0x000000FF) {
    const int passo = ((largura * bits + 31) / 32) * 4;
    const int cabecalho = 54 + (bitfields ? 12 : 0);
    QByteArray b(cabecalho + passo * altura, '\0');
    b[0] = 'B';
    b[1] = 'M';
    poe32(b, 2, uint32_t(b.size()));
    poe32(b, 10, uint32_t(cabecalho));
    poe32(b, 14, 40);
    poe32(b, 18, uint32_t(largura));
    poe32(b, 22, uint32_t(topDown ? -altura : altura));
    poe16(b, 26, 1);
    poe16(b, 28, uint16_t(bits));
    poe32(b, 30, bitfields ? 3 : 0);
    poe32(b, 34, uint32_t(passo * altura));
    if (bitfields) {
        poe32(b, 54, mr);
        poe32(b, 58, mg);
        poe32(b, 62, mb);
    }
    auto canal = [](uint32_t mascara, uint8_t v) -> uint32_t {
        int d = 0;
        while (!(mascara >> d & 1)) ++d;
        return uint32_t(v) << d & mascara;
    };
    for (int y = 0; y < altura; ++y) {
        const int linha = topDown ? y : altura - 1 - y;
        char* p = b.data() + cabecalho + linha * passo;
        for (int x = 0; x < largura; ++x) {
            const Cor c = corDe(x, y, altura);
            if (bitfields) {
                poe32(b, int(p - b.data()) + x * 4, canal(mr, c.r) | canal(mg, c.g) | canal(mb, c.b));
            } else {
                char* q = p + x * (bits / 8);
                q[0] = char(c.b);
                q[1] = char(c.g);
                q[2] = char(c.r);
            }
        }
    }
    return b;
}

}  // namespace norvix::teste

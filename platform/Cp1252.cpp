#include "Cp1252.h"

namespace norvix {
namespace {
// Code points of bytes 0x80..0x9F; 0 marks the five bytes that Windows-1252 leaves undefined,
// which we pass through as the C1 control of the same number.
constexpr char16_t kHigh[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
}  // namespace

QByteArray toCp1252(const QString& text) {
    QByteArray out;
    out.reserve(text.size());
    for (QChar qc : text) {
        const char16_t c = qc.unicode();
        if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
            out.append(static_cast<char>(c));
            continue;
        }
        char mapped = '?';
        for (int i = 0; i < 32; ++i) {
            const char16_t h = kHigh[i] ? kHigh[i] : char16_t(0x80 + i);
            if (h == c) {
                mapped = static_cast<char>(0x80 + i);
                break;
            }
        }
        out.append(mapped);
    }
    return out;
}

QString fromCp1252(QByteArrayView bytes) {
    // One character per byte, written straight into the result.
    QString out(bytes.size(), Qt::Uninitialized);
    QChar* to = out.data();
    for (char ch : bytes) {
        const unsigned char b = static_cast<unsigned char>(ch);
        const char16_t c = b >= 0x80 && b <= 0x9F && kHigh[b - 0x80] ? kHigh[b - 0x80] : char16_t(b);
        *to++ = QChar(c);
    }
    return out;
}

QString fromCp1252(const QByteArray& bytes) { return fromCp1252(QByteArrayView(bytes)); }

QString fromCp1252(const char* text) {
    return text ? fromCp1252(QByteArrayView(text)) : QString();
}

}  // namespace norvix

#include "core/AnsiCodec.h"

#include <array>
#include <memory>

namespace velkaro::ansi {

namespace {

constexpr char16_t Unassigned = 0xFFFD;

// Bytes 0x80..0xFF of each code page; 0 marks a byte the code page leaves
// unassigned.
constexpr std::array<char16_t, 128> Cp874High = [] {
    std::array<char16_t, 128> t {};
    t[0x80 - 0x80] = 0x20AC;
    t[0x85 - 0x80] = 0x2026;
    const char16_t quotes[] = {0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014};
    for (int i = 0; i < 7; ++i)
        t[0x91 - 0x80 + i] = quotes[i];
    t[0xA0 - 0x80] = 0x00A0;
    for (int b = 0xA1; b <= 0xDA; ++b) // Thai consonants, vowels and tone marks
        t[b - 0x80] = char16_t(0x0E01 + (b - 0xA1));
    for (int b = 0xDF; b <= 0xFB; ++b) // Baht sign, vowels, tone marks, Thai digits
        t[b - 0x80] = char16_t(0x0E3F + (b - 0xDF));
    return t;
}();

constexpr std::array<char16_t, 128> Cp1252High = [] {
    std::array<char16_t, 128> t {};
    const char16_t c1[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC,
        0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    for (int i = 0; i < 32; ++i)
        t[i] = c1[i];
    for (int b = 0xA0; b <= 0xFF; ++b)
        t[b - 0x80] = char16_t(b);
    return t;
}();

struct CodePage {
    const std::array<char16_t, 128>* high;
    std::unique_ptr<unsigned char[]> reverse; // UTF-16 unit -> byte, 0 = none
    std::unique_ptr<std::array<quint32, 256>> rank;
};

const CodePage& Table(int codePage)
{
    static const auto build = [](const std::array<char16_t, 128>* high) {
        CodePage cp {high, std::make_unique<unsigned char[]>(0x10000), std::make_unique<std::array<quint32, 256>>()};
        for (int b = 0; b < 256; ++b) {
            const char16_t u = b < 0x80 ? char16_t(b) : (*high)[b - 0x80];
            if (b >= 0x80 && u != 0)
                cp.reverse[u] = static_cast<unsigned char>(b);
            (*cp.rank)[b] = (quint32(u == 0 ? Unassigned : u) << 8) | quint32(b);
        }
        return cp;
    };
    static const CodePage thai = build(&Cp874High);
    static const CodePage western = build(&Cp1252High);
    return codePage == 874 ? thai : western;
}

} // namespace

char16_t ToUnicode(unsigned char byte, int codePage)
{
    if (byte < 0x80)
        return byte;
    const char16_t u = (*Table(codePage).high)[byte - 0x80];
    return u == 0 ? Unassigned : u;
}

QByteArray Encode(const QString& text, int codePage, bool* lossless)
{
    const CodePage& cp = Table(codePage);
    // One byte per code unit at most (a surrogate pair makes one).
    QByteArray out(text.size(), Qt::Uninitialized);
    char* d = out.data();
    bool all = true;
    const char16_t* p = reinterpret_cast<const char16_t*>(text.utf16());
    const char16_t* end = p + text.size();
    for (; p < end; ++p) {
        const char16_t u = *p;
        if (u < 0x80) {
            *d++ = char(u);
            continue;
        }
        const unsigned char b = cp.reverse[u];
        if (b != 0) {
            *d++ = char(b);
            continue;
        }
        all = false;
        if (QChar::isHighSurrogate(u) && p + 1 < end && QChar::isLowSurrogate(p[1]))
            ++p;
        *d++ = DefaultChar;
    }
    out.truncate(d - out.constData());
    if (lossless != nullptr)
        *lossless = all;
    return out;
}

QString Decode(QByteArrayView bytes, int codePage)
{
    const CodePage& cp = Table(codePage);
    QString out(bytes.size(), Qt::Uninitialized);
    char16_t* d = reinterpret_cast<char16_t*>(out.data());
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const unsigned char b = static_cast<unsigned char>(bytes[i]);
        if (b < 0x80) {
            d[i] = b;
            continue;
        }
        const char16_t u = (*cp.high)[b - 0x80];
        d[i] = u == 0 ? Unassigned : u;
    }
    return out;
}

int CompareText(QByteArrayView a, QByteArrayView b, int codePage)
{
    const qsizetype n = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        const unsigned char x = static_cast<unsigned char>(a[i]);
        const unsigned char y = static_cast<unsigned char>(b[i]);
        if (x == y)
            continue;
        if (x < 0x80 && y < 0x80)
            return x < y ? -1 : 1;
        const auto& rank = *Table(codePage).rank;
        return rank[x] < rank[y] ? -1 : 1;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

} // namespace velkaro::ansi

#include "core/AnsiCodec.h"

#include <array>
#include <cstring>
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
    std::array<char16_t, 256> unicode; // byte -> character as Decode gives it
    std::unique_ptr<unsigned char[]> reverse; // UTF-16 unit -> byte, 0 = none
    std::unique_ptr<std::array<quint32, 256>> rank;
};

const CodePage& Table(int codePage)
{
    static const auto build = [](const std::array<char16_t, 128>* high) {
        CodePage cp {{}, std::make_unique<unsigned char[]>(0x10000), std::make_unique<std::array<quint32, 256>>()};
        for (int b = 0; b < 256; ++b) {
            const char16_t u = b < 0x80 ? char16_t(b) : (*high)[b - 0x80];
            if (b >= 0x80 && u != 0)
                cp.reverse[u] = static_cast<unsigned char>(b);
            cp.unicode[b] = b >= 0x80 && u == 0 ? Unassigned : u;
            (*cp.rank)[b] = (quint32(u == 0 ? Unassigned : u) << 8) | quint32(b);
        }
        return cp;
    };
    static const CodePage thai = build(&Cp874High);
    static const CodePage western = build(&Cp1252High);
    return codePage == 874 ? thai : western;
}

bool IsAscii(QByteArrayView bytes)
{
    const char* p = bytes.data();
    const qsizetype n = bytes.size();
    quint64 seen = 0;
    qsizetype i = 0;
    for (; i + 8 <= n; i += 8) {
        quint64 word;
        std::memcpy(&word, p + i, 8);
        seen |= word;
    }
    for (; i < n; ++i)
        seen |= quint8(p[i]);
    return (seen & 0x8080808080808080ull) == 0;
}

} // namespace

char16_t ToUnicode(unsigned char byte, int codePage)
{
    return Table(codePage).unicode[byte];
}

qsizetype EncodeTo(char* out, QStringView text, int codePage, bool* lossless)
{
    const char16_t* p = text.utf16();
    const char16_t* end = p + text.size();
    char* d = out;
    // Plain ASCII, the usual text, in loops of its own: four characters at a
    // time, then one by one.
    for (; end - p >= 4; p += 4, d += 4) {
        quint64 units;
        std::memcpy(&units, p, sizeof units);
        if ((units & 0xFF80FF80FF80FF80ull) != 0)
            break;
        for (int k = 0; k < 4; ++k)
            d[k] = char(p[k]);
    }
    for (; p < end && *p < 0x80; ++p)
        *d++ = char(*p);
    bool all = true;
    const CodePage* cp = p < end ? &Table(codePage) : nullptr;
    for (; p < end; ++p) {
        const char16_t u = *p;
        if (u < 0x80) {
            *d++ = char(u);
            continue;
        }
        const unsigned char b = cp->reverse[u];
        if (b != 0) {
            *d++ = char(b);
            continue;
        }
        all = false;
        // A surrogate pair is one character.
        if (QChar::isHighSurrogate(u) && p + 1 < end && QChar::isLowSurrogate(p[1]))
            ++p;
        *d++ = DefaultChar;
    }
    if (lossless != nullptr)
        *lossless = all;
    return d - out;
}

QByteArray Encode(QStringView text, int codePage, bool* lossless)
{
    // One byte per code unit at most (a surrogate pair makes one).
    QByteArray out(text.size(), Qt::Uninitialized);
    out.truncate(EncodeTo(out.data(), text, codePage, lossless));
    return out;
}

QString Decode(QByteArrayView bytes, int codePage)
{
    // Plain ASCII, the usual text, is the same in every code page.
    if (!bytes.isEmpty() && IsAscii(bytes))
        return QString::fromLatin1(bytes);
    const std::array<char16_t, 256>& unicode = Table(codePage).unicode;
    QString out(bytes.size(), Qt::Uninitialized);
    char16_t* d = reinterpret_cast<char16_t*>(out.data());
    for (qsizetype i = 0; i < bytes.size(); ++i)
        d[i] = unicode[static_cast<unsigned char>(bytes[i])];
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

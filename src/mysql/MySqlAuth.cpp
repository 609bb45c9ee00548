#include "mysql/MySqlAuth.h"

#include <QCryptographicHash>

#include <cmath>

namespace velkaro::mysqlauth {

namespace {

QByteArray sha1(QByteArrayView a, QByteArrayView b = {})
{
    QCryptographicHash h(QCryptographicHash::Sha1);
    h.addData(a);
    h.addData(b);
    return h.result();
}

QByteArray xorBytes(QByteArrayView a, QByteArrayView b)
{
    QByteArray out(a.size(), '\0');
    for (qsizetype i = 0; i < a.size(); ++i)
        out[i] = char(a[i] ^ b[i]);
    return out;
}

struct OldHash {
    quint32 nr;
    quint32 nr2;
};

// Blanks and tabs do not count, as in the server's own hash.
OldHash oldHash(QByteArrayView bytes)
{
    quint32 nr = 1345345333u;
    quint32 add = 7;
    quint32 nr2 = 0x12345671u;
    for (char ch : bytes) {
        if (ch == ' ' || ch == '\t')
            continue;
        const quint32 c = quint8(ch);
        nr ^= (((nr & 63) + add) * c) + (nr << 8);
        nr2 += (nr2 << 8) ^ nr;
        add += c;
    }
    return {nr & 0x7FFFFFFFu, nr2 & 0x7FFFFFFFu};
}

} // namespace

QByteArray OldPasswordHash(QByteArrayView password)
{
    const OldHash h = oldHash(password);
    QByteArray out;
    for (quint32 v : {h.nr, h.nr2})
        for (int shift = 24; shift >= 0; shift -= 8)
            out.append(char((v >> shift) & 0xFF));
    return out;
}

QByteArray NativeProof(QByteArrayView password, QByteArrayView scramble)
{
    const QByteArray stage1 = sha1(password);
    const QByteArray stage2 = sha1(stage1);
    return xorBytes(sha1(scramble.first(ScrambleLength), stage2), stage1);
}

QByteArray OldScramble(QByteArrayView password, QByteArrayView message)
{
    const QByteArrayView m = message.first(OldScrambleLength);
    const OldHash h = oldHash(password);
    const OldHash hm = oldHash(m);
    const quint32 max = 0x3FFFFFFFu;
    const double maxValue = double(max);
    quint64 seed1 = (h.nr ^ hm.nr) % max;
    quint64 seed2 = (h.nr2 ^ hm.nr2) % max;
    auto draw = [&] {
        seed1 = (seed1 * 3 + seed2) % max;
        seed2 = (seed1 + seed2 + 33) % max;
        return double(seed1) / maxValue;
    };
    QByteArray out;
    for (qsizetype i = 0; i < m.size(); ++i)
        out.append(char(std::floor(draw() * 31) + 64));
    const char extra = char(std::floor(draw() * 31));
    for (char& c : out)
        c = char(c ^ extra);
    out.append('\0');
    return out;
}

QByteArray TwoStageAnswer(QByteArrayView password, QByteArrayView reply, QByteArray& scramble)
{
    if (reply[0] == '*') {
        scramble = reply.sliced(4, ScrambleLength).toByteArray();
        return OldScramble(password, scramble);
    }
    QByteArray trimmed;
    for (char ch : password)
        if (ch != ' ' && ch != '\t')
            trimmed.append(ch);
    const QByteArray s1 = sha1(trimmed);
    const QByteArray h = sha1(reply.first(4), s1);
    scramble = xorBytes(reply.sliced(4, ScrambleLength), h);
    return xorBytes(scramble, s1);
}

} // namespace velkaro::mysqlauth

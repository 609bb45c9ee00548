#pragma once
// The password proofs of the MySQL login, pure functions over bytes.

#include <QByteArray>
#include <QByteArrayView>

namespace velkaro::mysqlauth {

inline constexpr qsizetype ScrambleLength = 20;
inline constexpr qsizetype OldScrambleLength = 8;

// The native (4.1) proof: SHA-1(Scramble + SHA-1(SHA-1(Password))) XOR
// SHA-1(Password), 20 bytes. Scramble must hold 20 bytes.
QByteArray NativeProof(QByteArrayView password, QByteArrayView scramble);

// The pre-4.1 password hash (what the server's OLD_PASSWORD() shows in hex):
// 8 bytes, two big-endian 31-bit numbers. Blanks and tabs do not count.
QByteArray OldPasswordHash(QByteArrayView password);

// The pre-4.1 scramble of Password against the first 8 bytes of Message:
// 8 bytes and a 0 byte.
QByteArray OldScramble(QByteArrayView password, QByteArrayView message);

// The answer to the second stage of an early 4.1 login, whose server sent
// the 24-byte Reply. Replaces Scramble (20 bytes) with the new one.
QByteArray TwoStageAnswer(QByteArrayView password, QByteArrayView reply, QByteArray& scramble);

} // namespace velkaro::mysqlauth

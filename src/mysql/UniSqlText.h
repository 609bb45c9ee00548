#pragma once
// The text a query sends: its SQL lines made into one statement text and
// passed through the unified-SQL rewriting, which lets one text serve every
// provider. For MySQL:
//   "double-quoted" identifiers   -> `back-quoted` ("" inside becomes ",
//                                    ` becomes ``)
//   -- comment                    -> /* comment*/, unless it holds "*/"
// Everything else passes unchanged: 'strings' (with '' and backslash
// escapes), `identifiers`, /* comments */, # comments, and "--" that does
// not start a comment. As MySQL reads it, "--" starts a comment only when a
// blank or control character (or the end) follows, so "1--1" stays an
// expression. An unterminated quote or comment runs to the end unchanged.
// Brace constructs ({fn ...}, {date ...}, {if ...}) and macros are not
// expanded.

#include <QString>
#include <QStringList>

namespace velkaro {

// The lines joined, each followed by a line break ("\r\n"), then every
// trailing character with a code of 32 or below removed, then rewritten.
QString UniSqlFinalText(const QStringList& sql);

// The rewriting alone.
QString UniSqlRewrite(const QString& text);

} // namespace velkaro

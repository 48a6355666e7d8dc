#pragma once

#include <QString>
#include <QStringList>

// The rules the run actions apply to a statement text before it reaches the server.
namespace quarvel {

// Removes leading and trailing characters at or below the space: blanks, tabs, line breaks and
// other control characters.
QString trimControl(const QString& text);

// The fragments that read-only mode refuses, in the order they are tested. Lower case, each
// ending in exactly one space; the test is a plain, case-sensitive substring search.
const QStringList& forbiddenFragments();

// True for a text that would put the session back into writing: "read write" (with any blanks
// between), tx_read_only or transaction_read_only, in any case.
bool switchesToWriting(const QString& text);

// True when read-only mode refuses the text: a forbidden fragment, or a switch back to writing.
bool isRefusedInReadOnly(const QString& text);

// A text whose first six characters, in any case, spell "select" is run as a query.
bool isQueryText(const QString& text);

// Backslash rewriting of a query text: unless it contains "insert ", "update " or "delete ",
// every backslash is doubled, then every backslash-apostrophe of that result becomes three
// backslashes and an apostrophe.
QString rewriteBackslashes(const QString& text);

} // namespace quarvel

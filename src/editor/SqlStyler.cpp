#include "SqlStyler.h"

#include <Qsci/qsciscintilla.h>

#include <QColor>
#include <QFont>
#include <QGuiApplication>
#include <QScreen>
#include <array>
#include <cctype>
#include <cstring>
#include <string>
#include <unordered_set>

namespace quarvel {

namespace {

constexpr std::string_view kSymbols = " ,;:.(){}[]=-*/^%<>#\r\n";
constexpr std::size_t npos = std::string_view::npos;

constexpr std::array<bool, 256> byteTable(bool (*pred)(unsigned))
{
    std::array<bool, 256> table{};
    for (unsigned c = 0; c < 256; ++c)
        table[c] = pred(c);
    return table;
}

constexpr auto kWordBytes = byteTable([](unsigned c) {
    // Non-ASCII bytes belong to names: Chinese table and column names are common.
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '$' || c >= 0x80;
});
constexpr auto kSymbolBytes =
    byteTable([](unsigned c) { return c < 128 && kSymbols.find(char(c)) != npos; });

bool isWord(char c)
{
    return kWordBytes[static_cast<unsigned char>(c)];
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isLineEnd(char c)
{
    return c == '\r' || c == '\n';
}

std::size_t lineEnd(std::string_view text, std::size_t from)
{
    const std::size_t end = text.find_first_of("\r\n", from);
    return end == npos ? text.size() : end;
}

// Index after the quote closing the one at `open`, or npos when it is not closed on its line.
// A backslash escapes the next character, as MySQL reads it.
std::size_t closingQuote(std::string_view text, std::size_t open)
{
    const char quote = text[open];
    for (std::size_t i = open + 1; i < text.size(); ++i) {
        const char c = text[i];
        if (isLineEnd(c))
            return npos;
        if (c == quote)
            return i + 1;
        if (c == '\\' && quote != '`') {
            if (i + 1 < text.size() && isLineEnd(text[i + 1]))
                return npos;
            ++i;
        }
    }
    return npos;
}

std::size_t blockEnd(std::string_view text, std::size_t from, std::string_view terminator)
{
    const std::size_t found = text.find(terminator, from);
    return found == npos ? text.size() : found + terminator.size();
}

bool startsWithNoCase(std::string_view text, std::size_t at, std::string_view prefix)
{
    if (text.size() - at < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = text[at + i];
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
        if (c != prefix[i])
            return false;
    }
    return true;
}

// Length of a URL starting at `at`, 0 when none starts there.
std::size_t urlLength(std::string_view text, std::size_t at)
{
    static constexpr std::string_view kSchemes[] = {"http://", "https://", "ftp://",
                                                    "mailto:", "www."};
    for (std::string_view scheme : kSchemes) {
        if (!startsWithNoCase(text, at, scheme))
            continue;
        std::size_t end = at + scheme.size();
        while (end < text.size()) {
            const auto c = static_cast<unsigned char>(text[end]);
            if (c <= ' ' || c == '\'' || c == '"' || c == '`' || c == '<' || c == '>' || c == '{' ||
                c == '}')
                break;
            ++end;
        }
        // Punctuation after a URL usually belongs to the sentence.
        while (end > at + scheme.size() && std::string_view(".,;:)").find(text[end - 1]) != npos)
            --end;
        return end > at + scheme.size() ? end - at : 0;
    }
    return 0;
}

// A numeric literal starting at `at` (a digit): its end, or npos when the digits run into a name.
std::size_t numberEnd(std::string_view text, std::size_t at)
{
    std::size_t i = at;
    const std::size_t n = text.size();
    if (text[i] == '0' && i + 2 < n && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        i += 2;
        while (i < n && std::isxdigit(static_cast<unsigned char>(text[i])))
            ++i;
    } else {
        while (i < n && isDigit(text[i]))
            ++i;
        if (i < n && text[i] == '.') {
            ++i;
            while (i < n && isDigit(text[i]))
                ++i;
        }
        if (i + 1 < n && (text[i] == 'e' || text[i] == 'E')) {
            std::size_t e = i + 1;
            if (e < n && (text[e] == '+' || text[e] == '-'))
                ++e;
            if (e < n && isDigit(text[e])) {
                while (e < n && isDigit(text[e]))
                    ++e;
                i = e;
            }
        }
    }
    return i < n && isWord(text[i]) ? npos : i;
}

// URLs inside a comment keep their own look.
void markUrls(std::string_view text, std::size_t from, std::size_t to, char* styles)
{
    for (std::size_t i = from; i < to; ++i) {
        if (i > from && isWord(text[i - 1]))
            continue;
        if (const std::size_t length = urlLength(text.substr(0, to), i)) {
            std::memset(styles + i, SqlUrl, length);
            i += length - 1;
        }
    }
}

} // namespace

QFont scintillaFont(const QString& family, int pixelSize, bool bold)
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    const double dpi = screen ? screen->logicalDotsPerInchY() : 96.0;
    QFont font(family);
    font.setPointSizeF(pixelSize * 72.0 / dpi);
    font.setBold(bold);
    return font;
}

void styleSqlBytes(std::string_view text, SqlStyle entry, char* styles)
{
    const std::size_t n = text.size();
    std::size_t i = 0;
    auto fill = [&](std::size_t from, std::size_t to, SqlStyle style) {
        std::memset(styles + from, style, to - from);
        if (style == SqlLineComment || style == SqlBraceComment || style == SqlCComment)
            markUrls(text, from, to, styles);
    };
    if (entry == SqlBraceComment || entry == SqlCComment) {
        i = blockEnd(text, 0, entry == SqlBraceComment ? "}" : "*/");
        fill(0, i, entry);
    }
    while (i < n) {
        const char c = text[i];
        const char next = i + 1 < n ? text[i + 1] : '\0';
        std::size_t end = i + 1;
        SqlStyle style = SqlDefault;
        if (c == '\'' || c == '"' || c == '`') {
            end = closingQuote(text, i);
            if (end != npos) {
                style = c == '\'' ? SqlSingleQuote : c == '"' ? SqlDoubleQuote : SqlDefault;
            } else {
                // An apostrophe left open comments out the rest of its line.
                end = lineEnd(text, i);
                style = c == '\'' ? SqlLineComment : c == '"' ? SqlDoubleQuote : SqlDefault;
            }
        } else if (c == '{') {
            end = blockEnd(text, i + 1, "}");
            style = SqlBraceComment;
        } else if (c == '/' && next == '*') {
            end = blockEnd(text, i + 2, "*/");
            style = SqlCComment;
        } else if (c == '#' || (c == '-' && next == '-' &&
                                (i + 2 >= n || static_cast<unsigned char>(text[i + 2]) <= ' '))) {
            end = lineEnd(text, i);
            style = SqlLineComment;
        } else if (isWord(c)) {
            if (const std::size_t url = urlLength(text, i)) {
                end = i + url;
                style = SqlUrl;
            } else if (const std::size_t number = isDigit(c) ? numberEnd(text, i) : npos;
                       number != npos) {
                end = number;
                style = SqlNumber;
            } else {
                while (end < n && isWord(text[end]))
                    ++end;
                style = SqlStyler::isKeyword(text.substr(i, end - i)) ? SqlKeyword : SqlDefault;
            }
        } else if (kSymbolBytes[static_cast<unsigned char>(c)]) {
            style = SqlSymbol;
        }
        fill(i, end, style);
        i = end;
    }
}

SqlStyler::SqlStyler(QObject* parent)
    : QsciLexerCustom(parent)
{
}

const char* SqlStyler::language() const
{
    return "SQL";
}

QString SqlStyler::description(int style) const
{
    switch (style) {
    case SqlDefault:
        return QStringLiteral("Default");
    case SqlKeyword:
        return QStringLiteral("SQL Standard Default");
    case SqlDoubleQuote:
        return QStringLiteral("Double Quote");
    case SqlSingleQuote:
        return QStringLiteral("Signle Quote");
    case SqlSymbol:
        return QStringLiteral("Symbols Delimiters");
    case SqlLineComment:
        return QStringLiteral("Line Comment");
    case SqlBraceComment:
        return QStringLiteral("Block Comment");
    case SqlCComment:
        return QStringLiteral("C Comment");
    case SqlNumber:
        return QStringLiteral("Number");
    case SqlUrl:
        return QStringLiteral("URL");
    default:
        return {};
    }
}

QColor SqlStyler::defaultColor(int style) const
{
    switch (style) {
    case SqlKeyword:
    case SqlUrl:
        return Qt::blue;
    case SqlDoubleQuote:
    case SqlSingleQuote:
        return Qt::red;
    case SqlSymbol:
        return QColor(0x00, 0x80, 0x80); // teal
    case SqlLineComment:
    case SqlBraceComment:
    case SqlCComment:
        return QColor(0x00, 0x00, 0x80); // navy
    case SqlNumber:
        return Qt::magenta; // fuchsia
    default:
        return Qt::black;
    }
}

QFont SqlStyler::defaultFont(int style) const
{
    // Elements with a font of their own use it; the others take the editor's text font.
    switch (style) {
    case SqlKeyword:
        return scintillaFont(QStringLiteral("Courier New"), 11, true);
    case SqlDoubleQuote:
    case SqlSingleQuote:
    case SqlSymbol:
        return scintillaFont(QStringLiteral("Courier New"), 11);
    default:
        break;
    }
    QFont font = scintillaFont(QStringLiteral("COURIER NEW"), 13, style == SqlNumber);
    font.setItalic(style == SqlLineComment || style == SqlBraceComment || style == SqlCComment);
    font.setUnderline(style == SqlUrl);
    return font;
}

QColor SqlStyler::defaultPaper(int) const
{
    return Qt::white;
}

void SqlStyler::styleText(int start, int end)
{
    QsciScintilla* ed = editor();
    if (!ed || end <= start)
        return;
    // Finish the last line: a quote's partner is looked for up to its line's end.
    const long lastLine = ed->SendScintilla(QsciScintillaBase::SCI_LINEFROMPOSITION, end - 1);
    end = lastLine + 1 < ed->lines()
              ? int(ed->SendScintilla(QsciScintillaBase::SCI_POSITIONFROMLINE, lastLine + 1))
              : ed->length();
    const auto length = std::size_t(end - start);
    m_text.resize(length + 1); // the range comes back NUL-terminated
    ed->SendScintilla(QsciScintillaBase::SCI_GETTEXTRANGE, long(start), long(end), m_text.data());
    const auto entry =
        start > 0 ? SqlStyle(ed->SendScintilla(QsciScintillaBase::SCI_GETSTYLEAT, start - 1))
                  : SqlDefault;
    m_styles.resize(length);
    styleSqlBytes(std::string_view(m_text.data(), length), entry, m_styles.data());
    startStyling(start);
    ed->SendScintilla(QsciScintillaBase::SCI_SETSTYLINGEX, uintptr_t(length),
                      static_cast<const char*>(m_styles.data()));
}

const QStringList& SqlStyler::keywords()
{
    static const QStringList words{
        "and",       "begin",      "begin",       "break",  "by",       "close",  "continue",
        "create",    "deallocate", "declare",     "delete", "delete",   "do",     "else",
        "end",       "end",        "exec",        "fetch",  "for",      "from",   "group",
        "having",    "if",         "inner",       "insert", "join",     "left",   "like",
        "not",       "on",         "open",        "or",     "order",    "outer",  "proc",
        "procedure", "repeat",     "return",      "right",  "rollback", "select", "set",
        "to",        "trans",      "transaction", "until",  "update",   "values", "where",
        "while",     "while",
    };
    return words;
}

const QStringList& SqlStyler::completionWords()
{
    static const QStringList words{
        "add",
        "all",
        "alter",
        "analyze",
        "and",
        "as",
        "asc",
        "asensitive",
        "before",
        "between",
        "bigint",
        "binary",
        "blob",
        "both",
        "by",
        "call",
        "cascade",
        "case",
        "change",
        "char",
        "character",
        "check",
        "collate",
        "column",
        "condition",
        "connection",
        "constraint",
        "continue",
        "convert",
        "create",
        "cross",
        "current_date",
        "current_time",
        "current_timestamp",
        "current_user",
        "cursor",
        "database",
        "databases",
        "day_hour",
        "day_microsecond",
        "day_minute",
        "day_second",
        "dec",
        "decimal",
        "declare",
        "default",
        "delayed",
        "delete",
        "desc",
        "describe",
        "deterministic",
        "distinct",
        "distinctrow",
        "div",
        "double",
        "drop",
        "dual",
        "each",
        "else",
        "elseif",
        "enclosed",
        "escaped",
        "exists",
        "exit",
        "explain",
        "false",
        "fetch",
        "float",
        "float4",
        "float8",
        "for",
        "force",
        "foreign",
        "from",
        "fulltext",
        "goto",
        "grant",
        "group",
        "having",
        "high_priority",
        "hour_microsecond",
        "hour_minute",
        "hour_second",
        "if",
        "ignore",
        "in",
        "index",
        "infile",
        "inner",
        "inout",
        "insensitive",
        "insert",
        "int",
        "int1",
        "int2",
        "int3",
        "int4",
        "int8",
        "integer",
        "interval",
        "into",
        "is",
        "iterate",
        "join",
        "key",
        "keys",
        "kill",
        "label",
        "leading",
        "leave",
        "left",
        "like",
        "limit",
        "linear",
        "lines",
        "load",
        "localtime",
        "localtimestamp",
        "lock",
        "long",
        "longblob",
        "longtext",
        "loop",
        "low_priority",
        "match",
        "mediumblob",
        "mediumint",
        "mediumtext",
        "middleint",
        "minute_microsecond",
        "minute_second",
        "mod",
        "modifies",
        "natural",
        "not",
        "no_write_to_binlog",
        "null",
        "numeric",
        "on",
        "optimize",
        "option",
        "optionally",
        "or",
        "order",
        "out",
        "outer",
        "outfile",
        "precision",
        "primary",
        "procedure",
        "purge",
        "raid0",
        "range",
        "read",
        "reads",
        "real",
        "references",
        "regexp",
        "release",
        "rename",
        "repeat",
        "replace",
        "require",
        "restrict",
        "return",
        "revoke",
        "right",
        "rlike",
        "schema",
        "schemas",
        "second_microsecond",
        "select",
        "sensitive",
        "separator",
        "set",
        "show",
        "smallint",
        "spatial",
        "specific",
        "sql",
        "sqlexception",
        "sqlstate",
        "sqlwarning",
        "sql_big_result",
        "sql_calc_found_rows",
        "sql_small_result",
        "ssl",
        "starting",
        "straight_join",
        "table",
        "terminated",
        "then",
        "tinyblob",
        "tinyint",
        "tinytext",
        "to",
        "trailing",
        "trigger",
        "true",
        "undo",
        "union",
        "unique",
        "unlock",
        "unsigned",
        "update",
        "usage",
        "use",
        "using",
        "utc_date",
        "utc_time",
        "utc_timestamp",
        "values",
        "varbinary",
        "varchar",
        "varcharacter",
        "varying",
        "when",
        "where",
        "while",
        "with",
        "write",
        "x509",
        "xor",
        "year_month",
        "zerofill",
    };
    return words;
}

bool SqlStyler::isKeyword(std::string_view word)
{
    static const auto set = [] {
        std::unordered_set<std::string> lower;
        for (const QString& keyword : keywords())
            lower.insert(keyword.toStdString());
        return lower;
    }();
    static const std::size_t longest = [] {
        std::size_t n = 0;
        for (const std::string& keyword : set)
            n = std::max(n, keyword.size());
        return n;
    }();
    if (word.size() > longest)
        return false;
    std::string lower(word);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return set.count(lower) != 0;
}

void SqlStyler::setParameterHint(const QString& name, const QString& hint)
{
    m_hints.insert(name.toLower(), hint);
}

} // namespace quarvel

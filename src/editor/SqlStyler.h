#pragma once

#include <Qsci/qscilexercustom.h>

#include <QHash>
#include <QStringList>
#include <string_view>
#include <vector>

namespace quarvel {

// Style numbers of the SQL styler.
enum SqlStyle : char
{
    SqlDefault,
    SqlKeyword,
    SqlDoubleQuote,
    SqlSingleQuote,
    SqlSymbol,
    SqlLineComment,
    SqlBraceComment, // { ... }
    SqlCComment,     // /* ... */
    SqlNumber,
    SqlUrl,
    SqlStyleCount
};

// A font as Scintilla takes it: in points (it drops pixel sizes), at the screen's resolution.
QFont scintillaFont(const QString& family, int pixelSize, bool bold = false);

// Styles UTF-8 SQL text, one style per byte into `styles`. `entry` is the style of the byte before
// the text; only an open block comment carries over a line break. Quoted text and backquoted
// names end on their own line, so the text must end at a line end (or the document's end).
void styleSqlBytes(std::string_view text, SqlStyle entry, char* styles);

// The editor's SQL colouring, completion words and parameter hints. It styles only the range the
// editor asks for, starting from the style left before it.
class SqlStyler : public QsciLexerCustom
{
    Q_OBJECT
public:
    explicit SqlStyler(QObject* parent = nullptr);

    const char* language() const override;
    QString description(int style) const override;
    QColor defaultColor(int style) const override;
    QFont defaultFont(int style) const override;
    QColor defaultPaper(int style) const override;
    void styleText(int start, int end) override;

    // Keywords coloured as such (matched in any case), in their given order, repeats included.
    static const QStringList& keywords();
    // Words of the completion list, in their given order.
    static const QStringList& completionWords();
    static bool isKeyword(std::string_view word);

    static QString fileFilter() { return QStringLiteral("SQL Files (*.sql)|*.sql"); }
    static QString defaultExtension() { return QStringLiteral(".sql"); }

    // Parameter text shown after "name(" (none are defined by default).
    QString parameterHint(const QString& name) const { return m_hints.value(name.toLower()); }
    void setParameterHint(const QString& name, const QString& hint);

private:
    QHash<QString, QString> m_hints;
    std::vector<char> m_text;
    std::vector<char> m_styles;
};

} // namespace quarvel

#pragma once

#include "LegacyText.h"

#include <Qsci/qsciscintilla.h>

#include <QHash>
#include <QStringList>
#include <QTimer>

#include <utility>
#include <vector>

class QMenu;

namespace quarvel {

class SqlStyler;

// The SQL editor of the main window: QScintilla set up as the program's script editor, with the
// SQL styler, completion, auto-correct, parameter hints and script file loading and saving.
class SqlEditor : public QsciScintilla
{
    Q_OBJECT
public:
    // The gutter, left to right.
    enum GutterMargin
    {
        LineNumberMargin,
        ModifiedMargin,
        ActiveLineMargin,
        BorderMargin
    };
    enum GutterMarker
    {
        ModifiedLineMarker = 1,
        ActiveLineMarker = 2,
        ErrorLineMarker = 3,      // the line's background
        ErrorLineGutterMarker = 4 // in the gutter
    };
    static constexpr int kCompletionImage = 1;
    // The most tables a list that opens by itself may offer.
    static constexpr int kAutoListTables = 300;

    explicit SqlEditor(QWidget* parent = nullptr);

    SqlStyler* styler() const { return m_styler; }

    // True when the editor holds a single empty line.
    bool IsEditorEmpty() const;

    // The whole text. Unlike text() it doesn't end at a NUL byte, so a statement is never run
    // cut short.
    QString wholeText() const;

    // Replaces the whole text with the file's (undoable). Throws ScriptFileError; the text stays
    // as it was then.
    void loadScript(const QString& path);
    // Writes every line without trailing blanks, each followed by CR LF, in the encoding the text
    // was loaded in (UTF-8 for a new text), then strips the same blanks in the editor. Throws
    // ScriptFileError; the old file and the text stay as they were then.
    void saveScript(const QString& path);
    TextEncoding scriptEncoding() const { return m_encoding; }

    // The completion list of the styler's words, positioned on the word before the caret.
    void showCompletion();

    // The connected database's tables and, by table name in lower case, their columns: offered
    // by the completion list after the styler's words, and after "table." or "alias.".
    void setSchema(QStringList tables, QHash<QString, QStringList> columnsByTable);

    // Whether the text differs from what was last loaded or saved (a single empty line never
    // counts: there is nothing to lose).
    bool hasUnsavedText() const;

    // Marks a line as the one an error names (red in the gutter and behind the line) and puts
    // the caret there; the mark goes at the next edit or clearErrorLine().
    void markErrorLine(int line);
    void clearErrorLine();
    int errorLine() const { return m_errorLine; }

    QMenu* createEditorContextMenu(QWidget* parent);

signals:
    void filesDropped(const QStringList& paths);

protected:
    bool event(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void configureGutter();
    void onCharAdded(int ch);
    void onModified(int position, int type, int linesAdded);
    void moveActiveLineMarker(int line);
    void autoCorrectBefore(long end);
    void trimLineEnd(int line);
    bool insertSmartTab();
    void showParameterHint();
    QByteArray bytesAt(long start, long end) const;

    SqlStyler* m_styler;
    void rememberSavedText();
    bool completionMatches(long start, long end) const;
    // The columns for the word before the "." at `dot`: a table's, or an alias's table's.
    QStringList columnsBefore(long dot) const;
    void showList(long prefixLength, const QByteArray& list);

    QStringList m_tables;
    std::vector<std::pair<QString, QString>> m_tablesByPrefix; // (lower case, name), sorted
    QHash<QString, QStringList> m_columns;
    QByteArray m_completionList; // the styler's words, then the tables
    // The styler's words and the tables that start with `prefix` (all of them for none).
    QByteArray listFor(const QString& prefix) const;
    int tablesStartingWith(const QString& prefix) const;
    TextEncoding m_encoding = TextEncoding::Utf8;
    QByteArray m_savedHash;     // of the text as last loaded or saved
    long m_completionFrom = -1; // after "(" or ".": the list waits for a matching prefix
    bool m_listChosen = false;  // the user moved in the open list
    int m_errorLine = -1;
    QTimer m_hintTimer;
    long m_hintPosition = -1;
    int m_activeLine = -1;
    bool m_markChanges = true;
};

} // namespace quarvel

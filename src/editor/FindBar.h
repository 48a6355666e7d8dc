#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace quarvel {

class SqlEditor;

// The editor's find and replace bar: hidden at rest, shown under the editor by Ctrl+F (find) or
// Ctrl+H (find and replace). The searching is QScintilla's own.
class FindBar : public QWidget
{
    Q_OBJECT
public:
    explicit FindBar(SqlEditor& editor, QWidget* parent = nullptr);

    // Shows the bar (with the replace row when asked) and puts the focus in the find field,
    // with the editor's selection as the text to find when it is one line.
    void open(bool withReplace);
    void close();

    // From the caret (the end of the current match) onwards, or backwards from its start;
    // wraps around. False when there is no match.
    bool findNext();
    bool findPrevious();
    // Replaces the current match and moves to the next one.
    bool replaceCurrent();
    // Every match, as one undo step; returns how many were replaced.
    int replaceAll();

    QLineEdit* findField() const { return m_find; }
    QLineEdit* replaceField() const { return m_replace; }
    QCheckBox* matchCase() const { return m_case; }
    QCheckBox* wholeWord() const { return m_word; }
    QCheckBox* regularExpression() const { return m_regex; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    bool find(bool forward);
    bool search(bool forward, int line, int index, bool wrap);
    void showResult(bool found);

    SqlEditor& m_editor;
    QLineEdit* m_find;
    QLineEdit* m_replace;
    QCheckBox* m_case;
    QCheckBox* m_word;
    QCheckBox* m_regex;
    QLabel* m_status;
    QWidget* m_replaceRow;
};

} // namespace quarvel

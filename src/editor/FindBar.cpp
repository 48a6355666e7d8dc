#include "FindBar.h"

#include "SqlEditor.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace quarvel {

FindBar::FindBar(SqlEditor& editor, QWidget* parent)
    : QWidget(parent)
    , m_editor(editor)
{
    setObjectName(QStringLiteral("barFind"));
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setHorizontalSpacing(4);
    layout->setVerticalSpacing(2);

    const auto button = [this](const QString& name, const QString& text, auto slot) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(name);
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, slot);
        return b;
    };
    m_find = new QLineEdit(this);
    m_find->setObjectName(QStringLiteral("edtFind"));
    m_find->setPlaceholderText(QStringLiteral("查找内容"));
    connect(m_find, &QLineEdit::returnPressed, this, &FindBar::findNext);
    layout->addWidget(new QLabel(QStringLiteral("查找："), this), 0, 0);
    layout->addWidget(m_find, 0, 1);
    layout->addWidget(
        button(QStringLiteral("btnFindPrevious"), QStringLiteral("上一个"), &FindBar::findPrevious),
        0, 2);
    layout->addWidget(
        button(QStringLiteral("btnFindNext"), QStringLiteral("下一个"), &FindBar::findNext), 0, 3);
    m_case = new QCheckBox(QStringLiteral("区分大小写"), this);
    m_word = new QCheckBox(QStringLiteral("全字匹配"), this);
    m_regex = new QCheckBox(QStringLiteral("正则表达式"), this);
    auto* options = new QHBoxLayout;
    options->addWidget(m_case);
    options->addWidget(m_word);
    options->addWidget(m_regex);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("lblFindStatus"));
    options->addWidget(m_status, 1);
    layout->addLayout(options, 0, 4);
    layout->addWidget(
        button(QStringLiteral("btnFindClose"), QStringLiteral("关闭"), &FindBar::close), 0, 5);

    m_replaceRow = new QWidget(this);
    auto* replaceLayout = new QHBoxLayout(m_replaceRow);
    replaceLayout->setContentsMargins(0, 0, 0, 0);
    m_replace = new QLineEdit(m_replaceRow);
    m_replace->setObjectName(QStringLiteral("edtReplace"));
    m_replace->setPlaceholderText(QStringLiteral("替换为"));
    connect(m_replace, &QLineEdit::returnPressed, this, &FindBar::replaceCurrent);
    replaceLayout->addWidget(new QLabel(QStringLiteral("替换："), m_replaceRow));
    replaceLayout->addWidget(m_replace, 1);
    replaceLayout->addWidget(
        button(QStringLiteral("btnReplace"), QStringLiteral("替换"), &FindBar::replaceCurrent));
    replaceLayout->addWidget(button(QStringLiteral("btnReplaceAll"), QStringLiteral("全部替换"),
                                    [this] { replaceAll(); }));
    layout->addWidget(m_replaceRow, 1, 0, 1, 6);
    hide();
}

void FindBar::open(bool withReplace)
{
    if (m_editor.hasSelectedText() && !m_editor.selectedText().contains(u'\n'))
        m_find->setText(m_editor.selectedText());
    m_replaceRow->setVisible(withReplace);
    m_status->clear();
    show();
    m_find->setFocus();
    m_find->selectAll();
}

void FindBar::close()
{
    hide();
    m_editor.setFocus();
}

void FindBar::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool FindBar::search(bool forward, int line, int index, bool wrap)
{
    return m_editor.findFirst(m_find->text(), m_regex->isChecked(), m_case->isChecked(),
                              m_word->isChecked(), wrap, forward, line, index, true, false, true);
}

bool FindBar::find(bool forward)
{
    if (m_find->text().isEmpty())
        return false;
    int lineFrom = -1, indexFrom = -1, lineTo = -1, indexTo = -1;
    m_editor.getSelection(&lineFrom, &indexFrom, &lineTo, &indexTo);
    int line = 0, index = 0;
    if (lineFrom < 0)
        m_editor.getCursorPosition(&line, &index);
    else if (forward)
        line = lineTo, index = indexTo;
    else
        line = lineFrom, index = indexFrom;
    const bool found = search(forward, line, index, true);
    showResult(found);
    return found;
}

bool FindBar::findNext()
{
    return find(true);
}

bool FindBar::findPrevious()
{
    return find(false);
}

void FindBar::showResult(bool found)
{
    m_status->setText(found ? QString() : QStringLiteral("找不到“%1”").arg(m_find->text()));
}

bool FindBar::replaceCurrent()
{
    // The first press finds a match; the next ones replace it and go on to the next.
    if (!m_editor.hasSelectedText())
        return find(true);
    m_editor.replace(m_replace->text());
    return find(true);
}

int FindBar::replaceAll()
{
    if (m_find->text().isEmpty())
        return 0;
    int count = 0;
    m_editor.beginUndoAction();
    for (bool found = search(true, 0, 0, false); found; found = m_editor.findNext()) {
        // An empty match (a regular expression such as "^") would be found again and again.
        if (!m_editor.hasSelectedText())
            break;
        m_editor.replace(m_replace->text());
        ++count;
    }
    m_editor.endUndoAction();
    m_status->setText(QStringLiteral("已替换 %1 处").arg(count));
    return count;
}

} // namespace quarvel

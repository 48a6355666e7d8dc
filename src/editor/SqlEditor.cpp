#include "SqlEditor.h"

#include "Fonts.h"

namespace quarvel {

SqlEditor::SqlEditor(QWidget* parent)
    : QsciScintilla(parent)
{
    setUtf8(true);
    const QFont font = designFont(QStringLiteral("COURIER NEW"), 13);
    setFont(font);
    setMarginsFont(font);
    setMarginLineNumbers(0, true);
    setMarginWidth(0, QStringLiteral("000000"));
    setWrapMode(WrapNone);
    setTabWidth(4);
}

} // namespace quarvel

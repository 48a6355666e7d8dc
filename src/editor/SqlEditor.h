#pragma once

#include <Qsci/qsciscintilla.h>

namespace quarvel {

// The SQL editor of the main window.
class SqlEditor : public QsciScintilla
{
    Q_OBJECT
public:
    explicit SqlEditor(QWidget* parent = nullptr);
};

} // namespace quarvel

#include "SqlEditor.h"

#include "Fonts.h"
#include "ScriptFile.h"
#include "SqlStyler.h"

#include <QContextMenuEvent>
#include <QCryptographicHash>
#include <QGuiApplication>
#include <QHash>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QRegularExpression>
#include <QScopedValueRollback>
#include <QToolTip>
#include <algorithm>
#include <memory>

namespace quarvel {

namespace {

constexpr int kTabSize = 4;
constexpr int kRightMargin = 80;
constexpr int kGutterWidth = 75;
constexpr int kGutterMargin = 60; // where the line numbers end
constexpr int kModifiedWidth = 4;
constexpr int kBorderWidth = 1;
// How far up a smart tab looks for a line to align with.
constexpr int kSmartTabLookBack = 100;

const QColor kNavy(0x00, 0x00, 0x80);
const QColor kSilver(0xC0, 0xC0, 0xC0);
const QColor kRightMarginColour(0xE2, 0xE2, 0xE2); // 14869218
const QColor kGutterFrom(0x7D, 0xA5, 0xE0);        // 14722429
const QColor kGutterTo(0xCB, 0xE1, 0xFC);          // 16572875
const QColor kModifiedColour(0xFF, 0xD7, 0x00);
const QColor kErrorBackground(0xFF, 0xD8, 0xD8);

const QHash<QString, QString>& autoCorrections()
{
    static const QHash<QString, QString> rules{
        {QStringLiteral("Postion"), QStringLiteral("Position")}};
    return rules;
}

// The gutter's gradient at `x` pixels from its left edge; each margin takes its middle's colour.
QColor gutterColour(double x)
{
    const double t = x / kGutterWidth;
    auto mix = [t](double a, double b) { return a + (b - a) * t; };
    return QColor::fromRgbF(float(mix(kGutterFrom.redF(), kGutterTo.redF())),
                            float(mix(kGutterFrom.greenF(), kGutterTo.greenF())),
                            float(mix(kGutterFrom.blueF(), kGutterTo.blueF())));
}

QPixmap completionImage()
{
    QPixmap pixmap(12, 12);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setPen(kNavy);
    painter.setBrush(QColor(0x3C, 0x78, 0xD8));
    painter.drawRect(1, 1, 9, 9);
    return pixmap;
}

// Entries of a completion list, separated by line breaks (a name may hold a blank).
constexpr char kListSeparator = '\n';

QByteArray completionEntries(const QStringList& words, bool withImage)
{
    QByteArray bytes;
    const QByteArray image =
        withImage ? '?' + QByteArray::number(SqlEditor::kCompletionImage) : QByteArray();
    for (const QString& word : words)
        bytes += word.toUtf8() + image + kListSeparator;
    bytes.chop(1);
    return bytes;
}

QStringList localFiles(const QMimeData* mime)
{
    QStringList files;
    if (mime && mime->hasUrls())
        for (const QUrl& url : mime->urls())
            if (url.isLocalFile())
                files << url.toLocalFile();
    return files;
}

bool isWordChar(char32_t ch)
{
    return ch == U'_' || QChar::isLetterOrNumber(ch);
}

} // namespace

SqlEditor::SqlEditor(QWidget* parent)
    : QsciScintilla(parent)
    , m_styler(new SqlStyler(this))
{
    setUtf8(true);
    setEolMode(EolWindows);
    // Plain text, the edge column and tab widths go by the default style: the text font.
    m_styler->setDefaultFont(scintillaFont(QStringLiteral("COURIER NEW"), 13));
    m_styler->setDefaultColor(Qt::black);
    m_styler->setDefaultPaper(Qt::white);
    setLexer(m_styler);

    setSelectionForegroundColor(Qt::white);
    setSelectionBackgroundColor(kNavy);
    setWrapMode(WrapNone);
    setTabWidth(kTabSize);
    setIndentationsUseTabs(false);
    setEdgeMode(EdgeLine);
    setEdgeColumn(kRightMargin);
    setEdgeColor(kRightMarginColour);
    setCaretLineVisible(false);
    setFolding(NoFoldStyle);
    configureGutter();

    setFrameStyle(QFrame::Box | QFrame::Plain);
    setLineWidth(1);
    QPalette border = palette();
    border.setColor(QPalette::WindowText, kSilver);
    setPalette(border);

    // Completion comes only from the styler's words, in their own order.
    setAutoCompletionSource(AcsNone);
    SendScintilla(SCI_AUTOCSETORDER, SC_ORDER_CUSTOM);
    SendScintilla(SCI_AUTOCSETIGNORECASE, 1);
    SendScintilla(SCI_AUTOCSETSEPARATOR, long(kListSeparator));
    m_completionList = completionEntries(SqlStyler::completionWords(), true);
    registerImage(kCompletionImage, completionImage());

    setCallTipsStyle(CallTipsNone);
    setCallTipsPosition(CallTipsBelowText);
    setCallTipsBackgroundColor(QToolTip::palette().color(QPalette::ToolTipBase));
    setCallTipsForegroundColor(Qt::black);
    m_hintTimer.setSingleShot(true);
    m_hintTimer.setInterval(500);
    connect(&m_hintTimer, &QTimer::timeout, this, &SqlEditor::showParameterHint);

    connect(this, &QsciScintillaBase::SCN_CHARADDED, this, &SqlEditor::onCharAdded);
    connect(this, &QsciScintillaBase::SCN_MODIFIED, this,
            [this](int position, int type, const char*, int, int linesAdded) {
                onModified(position, type, linesAdded);
            });
    connect(this, &QsciScintilla::cursorPositionChanged, this,
            [this](int line, int) { moveActiveLineMarker(line); });
    moveActiveLineMarker(0);

    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    rememberSavedText();
}

void SqlEditor::rememberSavedText()
{
    m_savedHash = QCryptographicHash::hash(bytesAt(0, length()), QCryptographicHash::Sha1);
}

bool SqlEditor::hasUnsavedText() const
{
    return !IsEditorEmpty() &&
           QCryptographicHash::hash(bytesAt(0, length()), QCryptographicHash::Sha1) != m_savedHash;
}

void SqlEditor::markErrorLine(int line)
{
    clearErrorLine();
    if (line < 0 || line >= lines())
        return;
    markerAdd(line, ErrorLineMarker);
    markerAdd(line, ErrorLineGutterMarker);
    m_errorLine = line;
    setCursorPosition(line, 0);
    ensureLineVisible(line);
}

void SqlEditor::clearErrorLine()
{
    if (m_errorLine < 0)
        return;
    markerDeleteAll(ErrorLineMarker);
    markerDeleteAll(ErrorLineGutterMarker);
    m_errorLine = -1;
}

void SqlEditor::configureGutter()
{
    setMargins(4);
    setMarginType(LineNumberMargin, NumberMargin);
    setMarginWidth(LineNumberMargin, kGutterMargin - kModifiedWidth);
    setMarginMarkerMask(LineNumberMargin, 0);
    setMarginsFont(scintillaFont(QStringLiteral("Courier New"), 13));
    setMarginsForegroundColor(Qt::black);
    setMarginsBackgroundColor(gutterColour((kGutterMargin - kModifiedWidth) / 2.0));

    // A gradient is beyond the widget: each margin takes a step of it.
    const int activeWidth = kGutterWidth - kGutterMargin - kBorderWidth;
    struct Band
    {
        int margin;
        int left;
        int width;
        int mask;
    };
    for (const Band& band :
         {Band{ModifiedMargin, kGutterMargin - kModifiedWidth, kModifiedWidth,
               1 << ModifiedLineMarker},
          Band{ActiveLineMargin, kGutterMargin, activeWidth, 1 << ActiveLineMarker}}) {
        setMarginType(band.margin, SymbolMarginColor);
        setMarginWidth(band.margin, band.width);
        setMarginMarkerMask(band.margin, band.mask);
        setMarginBackgroundColor(band.margin, gutterColour(band.left + band.width / 2.0));
    }
    setMarginType(BorderMargin, SymbolMarginColor);
    setMarginWidth(BorderMargin, kBorderWidth);
    setMarginMarkerMask(BorderMargin, 0);
    setMarginBackgroundColor(BorderMargin, kSilver);

    markerDefine(FullRectangle, ModifiedLineMarker);
    setMarkerBackgroundColor(kModifiedColour, ModifiedLineMarker);
    markerDefine(RightTriangle, ActiveLineMarker);
    setMarkerBackgroundColor(kNavy, ActiveLineMarker);
    setMarkerForegroundColor(kNavy, ActiveLineMarker);
    // The line an error names: its background, and a red mark where the active line's is.
    markerDefine(Background, ErrorLineMarker);
    setMarkerBackgroundColor(kErrorBackground, ErrorLineMarker);
    markerDefine(Circle, ErrorLineGutterMarker);
    setMarkerBackgroundColor(Qt::red, ErrorLineGutterMarker);
    setMarkerForegroundColor(Qt::red, ErrorLineGutterMarker);
    setMarginMarkerMask(ActiveLineMargin, (1 << ActiveLineMarker) | (1 << ErrorLineGutterMarker));
}

bool SqlEditor::IsEditorEmpty() const
{
    return length() == 0;
}

void SqlEditor::loadScript(const QString& path)
{
    const ScriptFile script = readScriptFile(path);
    {
        // A loaded text is the reference that changes are marked against.
        const QScopedValueRollback<bool> unmarked(m_markChanges, false);
        // Replacing the whole range keeps the old text on the undo stack (setText() drops it) and,
        // unlike SCI_SETTEXT, takes a length, so a NUL byte does not cut the script short.
        SendScintilla(SCI_SETTARGETSTART, 0L);
        SendScintilla(SCI_SETTARGETEND, long(length()));
        SendScintilla(SCI_REPLACETARGET, uintptr_t(script.text.size()), script.text.constData());
        SendScintilla(SCI_GOTOPOS, 0L);
    }
    markerDeleteAll(ModifiedLineMarker);
    m_encoding = script.encoding;
    moveActiveLineMarker(0);
    rememberSavedText();
}

void SqlEditor::saveScript(const QString& path)
{
    QList<LineTrim> trims;
    // Not text(): it ends at the first NUL byte, and the rest of the script would be lost.
    const QString fileText = fileTextFromEditor(wholeText(), &trims);
    writeScriptFile(path, fileText, m_encoding);
    if (!trims.isEmpty()) {
        beginUndoAction();
        // The stripped characters are all ASCII: one byte each.
        for (const LineTrim& trim : trims) {
            const long end = SendScintilla(SCI_GETLINEENDPOSITION, trim.line);
            SendScintilla(SCI_DELETERANGE, end - trim.removed, long(trim.removed));
        }
        endUndoAction();
    }
    markerDeleteAll(ModifiedLineMarker);
    rememberSavedText();
}

void SqlEditor::setSchema(QStringList tables, QHash<QString, QStringList> columnsByTable)
{
    m_tables = std::move(tables);
    m_columns = std::move(columnsByTable);
    m_tablesByPrefix.clear();
    m_tablesByPrefix.reserve(size_t(m_tables.size()));
    for (const QString& table : std::as_const(m_tables))
        m_tablesByPrefix.emplace_back(table.toLower(), table);
    std::sort(m_tablesByPrefix.begin(), m_tablesByPrefix.end());
    m_completionList = listFor(QString());
}

// Tables are many (thousands in some databases): looked up by prefix in a sorted list, so that
// typing costs the same whatever their number.
int SqlEditor::tablesStartingWith(const QString& prefix) const
{
    const QString lower = prefix.toLower();
    const auto first = std::lower_bound(m_tablesByPrefix.begin(), m_tablesByPrefix.end(),
                                        std::pair{lower, QString()});
    const auto last = std::lower_bound(first, m_tablesByPrefix.end(),
                                       std::pair{lower + QChar(0xFFFF), QString()});
    return int(last - first);
}

QByteArray SqlEditor::listFor(const QString& prefix) const
{
    QStringList words;
    for (const QString& word : SqlStyler::completionWords())
        if (prefix.isEmpty() || word.startsWith(prefix, Qt::CaseInsensitive))
            words << word;
    QByteArray list = completionEntries(words, true);
    const QString lower = prefix.toLower();
    QStringList tables;
    for (auto it = std::lower_bound(m_tablesByPrefix.begin(), m_tablesByPrefix.end(),
                                    std::pair{lower, QString()});
         it != m_tablesByPrefix.end() && it->first.startsWith(lower); ++it)
        tables << it->second;
    if (!tables.isEmpty())
        list += (list.isEmpty() ? QByteArray() : QByteArray(1, kListSeparator)) +
                completionEntries(tables, false);
    return list;
}

bool SqlEditor::completionMatches(long start, long end) const
{
    const QString prefix = QString::fromUtf8(bytesAt(start, end));
    // A list that opens by itself stays short: with hundreds of tables behind a letter it waits
    // for the next one (Ctrl+Space shows them all).
    const int tables = tablesStartingWith(prefix);
    if (tables > kAutoListTables)
        return false;
    if (tables > 0)
        return true;
    for (const QString& word : SqlStyler::completionWords())
        if (word.startsWith(prefix, Qt::CaseInsensitive))
            return true;
    return false;
}

QStringList SqlEditor::columnsBefore(long dot) const
{
    if (m_columns.isEmpty())
        return {};
    const long start = SendScintilla(SCI_WORDSTARTPOSITION, dot, 1L);
    const QString word = QString::fromUtf8(bytesAt(start, dot)).toLower();
    if (word.isEmpty())
        return {};
    if (const auto table = m_columns.constFind(word); table != m_columns.constEnd())
        return *table;
    // An alias: "from orders o", "join customers as c", near the caret.
    constexpr long kAround = 20000;
    const long from = qMax(0L, dot - kAround);
    const QString nearby = QString::fromUtf8(bytesAt(from, qMin(long(length()), dot + kAround)));
    static const QRegularExpression named(
        QStringLiteral("\\b(?:from|join|update|into)\\s+`?([\\w$]+)`?\\s+(?:as\\s+)?`?([\\w$]+)`?"),
        QRegularExpression::CaseInsensitiveOption);
    for (auto it = named.globalMatch(nearby); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        if (match.captured(2).compare(word, Qt::CaseInsensitive) == 0)
            return m_columns.value(match.captured(1).toLower());
    }
    return {};
}

void SqlEditor::showList(long prefixLength, const QByteArray& list)
{
    m_completionFrom = -1;
    m_listChosen = false;
    if (list.isEmpty())
        return; // nothing starts so
    // QScintilla places the list on the screen under the caret and crashes when there is none
    // (a window moved partly off the screen): no list then.
    const long pos = SendScintilla(SCI_GETCURRENTPOS);
    const QPoint caret(int(SendScintilla(SCI_POINTXFROMPOSITION, 0UL, pos)),
                       int(SendScintilla(SCI_POINTYFROMPOSITION, 0UL, pos)));
    if (!QGuiApplication::screenAt(viewport()->mapToGlobal(caret)))
        return;
    SendScintilla(SCI_AUTOCSHOW, uintptr_t(prefixLength), list.constData());
    for (QListWidget* widget : findChildren<QListWidget*>())
        widget->setFont(designFont(QStringLiteral("Tahoma"), 11));
}

void SqlEditor::showCompletion()
{
    const long pos = SendScintilla(SCI_GETCURRENTPOS);
    const long start = SendScintilla(SCI_WORDSTARTPOSITION, pos, 1L);
    // After "table." the table's columns.
    if (start > 0 && SendScintilla(SCI_GETCHARAT, start - 1) == '.') {
        const QStringList columns = columnsBefore(start - 1);
        if (!columns.isEmpty()) {
            showList(pos - start, completionEntries(columns, false));
            return;
        }
    }
    // Only what starts with the word typed so far: the list stays short however many tables.
    showList(pos - start,
             start == pos ? m_completionList : listFor(QString::fromUtf8(bytesAt(start, pos))));
}

QMenu* SqlEditor::createEditorContextMenu(QWidget* parent)
{
    auto* menu = new QMenu(parent);
    const bool writable = !isReadOnly();
    const bool selected = hasSelectedText();
    auto add = [this, menu](const QString& text, bool enabled, auto slot) {
        QAction* action = menu->addAction(text, this, slot);
        action->setEnabled(enabled);
    };
    add(QStringLiteral("撤销"), writable && isUndoAvailable(), [this] { undo(); });
    add(QStringLiteral("重做"), writable && isRedoAvailable(), [this] { redo(); });
    menu->addSeparator();
    add(QStringLiteral("剪切"), writable && selected, [this] { cut(); });
    add(QStringLiteral("复制"), selected, [this] { copy(); });
    add(QStringLiteral("粘贴"), writable && SendScintilla(SCI_CANPASTE) != 0, [this] { paste(); });
    add(QStringLiteral("删除"), writable && selected, [this] { removeSelectedText(); });
    menu->addSeparator();
    add(QStringLiteral("全选"), length() > 0, [this] { selectAll(); });
    return menu;
}

bool SqlEditor::event(QEvent* event)
{
    // Esc closes a completion list or hint; otherwise it is left to the window's shortcut (it
    // stops a running statement) and comes back here as a key press when nothing takes it.
    if (event->type() == QEvent::ShortcutOverride) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier && !isListActive() &&
            !isCallTipActive()) {
            event->ignore();
            return false;
        }
    }
    return QsciScintilla::event(event);
}

namespace {

// Alt+drag selects a block, as in the editors of Windows: Scintilla makes a block of a drag with
// Ctrl here (it takes another key only on GTK), so Alt is handed on as Ctrl.
QMouseEvent altAsControl(const QMouseEvent& event)
{
    Qt::KeyboardModifiers modifiers = event.modifiers();
    if (modifiers & Qt::AltModifier)
        modifiers = (modifiers & ~Qt::AltModifier) | Qt::ControlModifier;
    return QMouseEvent(event.type(), event.position(), event.scenePosition(),
                       event.globalPosition(), event.button(), event.buttons(), modifiers);
}

} // namespace

void SqlEditor::mousePressEvent(QMouseEvent* event)
{
    QMouseEvent handed = altAsControl(*event);
    QsciScintilla::mousePressEvent(&handed);
    event->setAccepted(handed.isAccepted());
}

void SqlEditor::mouseMoveEvent(QMouseEvent* event)
{
    QMouseEvent handed = altAsControl(*event);
    QsciScintilla::mouseMoveEvent(&handed);
    event->setAccepted(handed.isAccepted());
}

void SqlEditor::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Space && event->modifiers() == Qt::ControlModifier) {
        showCompletion();
        return;
    }
    if (isListActive()) {
        const int key = event->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down || key == Qt::Key_PageUp ||
            key == Qt::Key_PageDown)
            m_listChosen = true;
        // Enter and Tab take an entry only when the user moved to it or typed a prefix of it;
        // otherwise they are what they always are.
        const bool accepts = key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Tab;
        const long pos = SendScintilla(SCI_GETCURRENTPOS);
        if (accepts && !m_listChosen && SendScintilla(SCI_WORDSTARTPOSITION, pos, 1L) == pos)
            SendScintilla(SCI_AUTOCCANCEL);
    }
    if (event->key() == Qt::Key_Tab && event->modifiers() == Qt::NoModifier && insertSmartTab())
        return;
    QsciScintilla::keyPressEvent(event);
}

void SqlEditor::contextMenuEvent(QContextMenuEvent* event)
{
    const std::unique_ptr<QMenu> menu(createEditorContextMenu(this));
    menu->exec(event->globalPos());
}

// Dropped files are read, never taken: the drop is a copy, so that no drag source deletes them.
void SqlEditor::dragEnterEvent(QDragEnterEvent* event)
{
    if (localFiles(event->mimeData()).isEmpty()) {
        QsciScintilla::dragEnterEvent(event);
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void SqlEditor::dragMoveEvent(QDragMoveEvent* event)
{
    if (localFiles(event->mimeData()).isEmpty()) {
        QsciScintilla::dragMoveEvent(event);
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void SqlEditor::dropEvent(QDropEvent* event)
{
    const QStringList files = localFiles(event->mimeData());
    if (files.isEmpty()) {
        QsciScintilla::dropEvent(event);
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    emit filesDropped(files);
}

void SqlEditor::onCharAdded(int ch)
{
    const long pos = SendScintilla(SCI_GETCURRENTPOS);
    if (ch == '\r')
        return; // the '\n' of the same line break follows
    if (!isWordChar(char32_t(ch))) {
        const int utf8Length = ch < 0x80 ? 1 : ch < 0x800 ? 2 : ch < 0x10000 ? 3 : 4;
        long wordEnd = pos - utf8Length;
        if (ch == '\n' && wordEnd > 0 && SendScintilla(SCI_GETCHARAT, wordEnd - 1) == '\r')
            --wordEnd;
        autoCorrectBefore(wordEnd);
    }
    if (ch == '\n') {
        trimLineEnd(int(SendScintilla(SCI_LINEFROMPOSITION, pos)) - 1);
    }
    // After "(" and "." the list opens only once a typed prefix matches something; after
    // "table." at once with the table's columns.
    if (ch == '.' && !columnsBefore(pos - 1).isEmpty()) {
        showCompletion();
    } else if (ch == '(' || ch == '.') {
        m_completionFrom = pos;
    } else if (!isWordChar(char32_t(ch))) {
        m_completionFrom = -1;
    } else if (m_completionFrom >= 0 && !isListActive() &&
               SendScintilla(SCI_WORDSTARTPOSITION, pos, 1L) == m_completionFrom &&
               completionMatches(m_completionFrom, pos)) {
        showCompletion();
    }
    if (ch == '(') {
        m_hintPosition = pos;
        m_hintTimer.start();
    } else if (ch == ')') {
        m_hintTimer.stop();
        SendScintilla(SCI_CALLTIPCANCEL);
    }
}

void SqlEditor::onModified(int position, int type, int linesAdded)
{
    if (!(type & (SC_MOD_INSERTTEXT | SC_MOD_DELETETEXT)))
        return;
    clearErrorLine();
    if (!m_markChanges)
        return;
    const int first = int(SendScintilla(SCI_LINEFROMPOSITION, position));
    const int last = first + qMax(0, linesAdded);
    for (int line = first; line <= last; ++line)
        if (!(markersAtLine(line) & (1u << ModifiedLineMarker)))
            markerAdd(line, ModifiedLineMarker);
}

void SqlEditor::moveActiveLineMarker(int line)
{
    constexpr unsigned bit = 1u << ActiveLineMarker;
    if (line == m_activeLine && (markersAtLine(line) & bit))
        return;
    // The marker travels with its text; after an edit it is at most a line away from where it
    // was put, or on the caret's line. Anything else is rare enough to sweep the document.
    bool found = false;
    for (int candidate : {m_activeLine, m_activeLine + 1, line}) {
        while (candidate >= 0 && (markersAtLine(candidate) & bit)) {
            markerDelete(candidate, ActiveLineMarker);
            found = true;
        }
    }
    if (!found && m_activeLine >= 0)
        markerDeleteAll(ActiveLineMarker);
    markerAdd(line, ActiveLineMarker);
    m_activeLine = line;
}

void SqlEditor::autoCorrectBefore(long end)
{
    const long start = SendScintilla(SCI_WORDSTARTPOSITION, end, 1L);
    if (start >= end)
        return;
    // Not inside quotes or comments: there the word is data, and changing it would change what
    // a statement looks for.
    SendScintilla(SCI_COLOURISE,
                  SendScintilla(SCI_POSITIONFROMLINE, SendScintilla(SCI_LINEFROMPOSITION, start)),
                  end);
    switch (SendScintilla(SCI_GETSTYLEAT, start)) {
    case SqlDoubleQuote:
    case SqlSingleQuote:
    case SqlLineComment:
    case SqlBraceComment:
    case SqlCComment:
        return;
    default:
        break;
    }
    const auto found = autoCorrections().constFind(QString::fromUtf8(bytesAt(start, end)));
    if (found == autoCorrections().constEnd())
        return;
    const QByteArray replacement = found->toUtf8();
    SendScintilla(SCI_SETTARGETSTART, start);
    SendScintilla(SCI_SETTARGETEND, end);
    SendScintilla(SCI_REPLACETARGET, uintptr_t(replacement.size()), replacement.constData());
}

void SqlEditor::trimLineEnd(int line)
{
    if (line < 0)
        return;
    const long start = SendScintilla(SCI_POSITIONFROMLINE, line);
    const long end = SendScintilla(SCI_GETLINEENDPOSITION, line);
    long keep = end;
    while (keep > start) {
        const auto c = char(SendScintilla(SCI_GETCHARAT, keep - 1));
        if (c != ' ' && c != '\t')
            break;
        --keep;
    }
    if (keep < end)
        SendScintilla(SCI_DELETERANGE, keep, end - keep);
}

// Smart tab: the caret goes under the start of the next word of the nearest non-blank line
// above. Returns false when there is none, and the key is a plain tab.
bool SqlEditor::insertSmartTab()
{
    if (hasSelectedText() || isListActive())
        return false;
    int line = 0;
    int index = 0;
    getCursorPosition(&line, &index);
    const long column = SendScintilla(SCI_GETCOLUMN, SendScintilla(SCI_GETCURRENTPOS));
    for (int above = line - 1; above >= 0 && above >= line - kSmartTabLookBack; --above) {
        const QString text = this->text(above);
        if (text.trimmed().isEmpty())
            continue;
        for (qsizetype i = column + 1; i < text.size(); ++i) {
            if (!text[i].isSpace() && text[i - 1].isSpace()) {
                SendScintilla(SCI_REPLACESEL, QByteArray(int(i - column), ' ').constData());
                return true;
            }
        }
        return false;
    }
    return false;
}

void SqlEditor::showParameterHint()
{
    const long pos = SendScintilla(SCI_GETCURRENTPOS);
    if (m_hintPosition <= 0 || pos < m_hintPosition ||
        SendScintilla(SCI_GETCHARAT, m_hintPosition - 1) != '(')
        return;
    const long nameEnd = m_hintPosition - 1;
    const long nameStart = SendScintilla(SCI_WORDSTARTPOSITION, nameEnd, 1L);
    const QString hint = m_styler->parameterHint(QString::fromUtf8(bytesAt(nameStart, nameEnd)));
    if (!hint.isEmpty())
        SendScintilla(SCI_CALLTIPSHOW, uintptr_t(m_hintPosition), hint.toUtf8().constData());
}

QString SqlEditor::wholeText() const
{
    return utf8Text(bytesAt(0, length()));
}

QByteArray SqlEditor::bytesAt(long start, long end) const
{
    QByteArray bytes(end - start + 1, '\0'); // comes back NUL-terminated
    SendScintilla(SCI_GETTEXTRANGE, start, end, bytes.data());
    bytes.chop(1);
    return bytes;
}

} // namespace quarvel

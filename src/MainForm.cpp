#include "MainForm.h"

#include "AppInfo.h"
#include "ConnectionSettings.h"
#include "ErrorReport.h"
#include "ExcelUtilObj.h"
#include "FindBar.h"
#include "Fonts.h"
#include "IniFile.h"
#include "ResultModel.h"
#include "ScriptFile.h"
#include "SqlEditor.h"
#include "SqlText.h"
#include "StatusPanes.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QResizeEvent>
#include <QScopeGuard>
#include <QScreen>
#include <QSplitter>
#include <QStackedWidget>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <functional>
#include <vector>

// The glyphs are compiled into this static library; make sure the linker keeps them.
static void initResources()
{
    Q_INIT_RESOURCE(quarvel);
}

namespace quarvel {

namespace {

// Design values of the window.
constexpr int kFormWidth = 1004;
constexpr int kFormHeight = 750;
constexpr int kDesignTopHeight = 179;
constexpr int kTopPanelWidth = 169;
constexpr int kGlyphPanelWidth = 28;
constexpr int kStatusBarHeight = 19;
// btnExportFile's place at the design height; it keeps its distance to pnl1's bottom edge as the
// panel grows or shrinks.
constexpr int kExportButtonDesignY = 142;

const QColor kRunButtonColour(0xFF, 0xFF, 0x80); // 8454143, light yellow

const QString kReadOnlyCaption = QStringLiteral("只读模式");
const QString kWritableCaption = QStringLiteral("可写模式");
const QString kRunningText = QStringLiteral("正在执行SQL语句，请稍候 ...");
// Said first when a run had to connect again: the old session's state is gone.
const QString kReconnectedText =
    QStringLiteral("数据库连接已断开，已重新连接：原会话中未提交的事务、USE 选择的数据库和会话变量"
                   "均已失效。");
// A result that outgrew the memory set aside for it (its rows so far are kept).
constexpr unsigned int kResultTooLarge = 2008;
// Widest a grid column gets from its content; the user can still widen it.
constexpr int kMaxAutoColumnWidth = 360;

QIcon glyph(const QString& name)
{
    QIcon icon;
    icon.addPixmap(QPixmap(QStringLiteral(":/res/%1.png").arg(name)), QIcon::Normal);
    icon.addPixmap(QPixmap(QStringLiteral(":/res/%1_disabled.png").arg(name)), QIcon::Disabled);
    return icon;
}

QToolButton* makeGlyphButton(QWidget* parent, const QString& objectName, const QString& glyphName,
                             const QString& caption, const QString& hint, const QRect& geometry)
{
    auto* button = new QToolButton(parent);
    button->setObjectName(objectName);
    button->setIcon(glyph(glyphName));
    button->setText(caption);
    button->setToolTip(hint);
    button->setAccessibleName(hint.isEmpty() ? caption : hint); // the caption is a design name
    button->setToolButtonStyle(Qt::ToolButtonIconOnly);
    button->setAutoRaise(true);
    button->setIconSize(QSize(20, 20));
    button->setGeometry(geometry);
    return button;
}

QPushButton* makeRunButton(QWidget* parent, const QString& objectName, const QRect& geometry)
{
    auto* button = new QPushButton(parent);
    button->setObjectName(objectName);
    button->setGeometry(geometry);
    button->setFont(designFont(QStringLiteral("微软雅黑"), 15, true));
    // Hot-tracking: the border lights up under the mouse.
    button->setStyleSheet(QStringLiteral("QPushButton { background-color: %1; color: black;"
                                         " border: 1px solid #a8a860; border-radius: 3px; }"
                                         "QPushButton:hover { border: 1px solid #3c78d8;"
                                         " background-color: #ffffa6; }"
                                         "QPushButton:pressed { background-color: #e6e673; }"
                                         "QPushButton:disabled { color: #8c8c8c;"
                                         " background-color: #f2f2c8; }")
                              .arg(kRunButtonColour.name()));
    return button;
}

// The workbook is Office Open XML: a name typed with ".xls" gets ".xlsx" (under .xls, Excel
// warns and some readers refuse it); one without an extension gets it too.
QString withWorkbookExtension(const QString& fileName)
{
    const QFileInfo info(fileName);
    if (info.suffix().compare(QLatin1String("xls"), Qt::CaseInsensitive) == 0)
        return fileName + u'x';
    return info.suffix().isEmpty() ? fileName + QStringLiteral(".xlsx") : fileName;
}

// The button shows the action's caption and hint and runs it when clicked, but keeps its own
// enabled state: a failed connection disables the buttons while the shortcuts stay live.
void bindButtonToAction(QPushButton* button, QAction* action)
{
    auto sync = [button, action] {
        button->setText(action->text());
        button->setToolTip(action->toolTip());
    };
    sync();
    QObject::connect(action, &QAction::changed, button, sync);
    QObject::connect(button, &QPushButton::clicked, action, &QAction::trigger);
}

// The colour a label's caption (WindowText) or an editor's text (Text) is drawn in.
void setTextColour(QWidget* widget, const QColor& colour,
                   QPalette::ColorRole role = QPalette::WindowText)
{
    QPalette palette = widget->palette();
    palette.setColor(role, colour);
    widget->setPalette(palette);
}

} // namespace

// Turns widgets and actions off for a while and gives each its own state back afterwards.
class DisabledWhile
{
public:
    template <typename... Items>
    explicit DisabledWhile(Items*... items)
    {
        (disable(items), ...);
    }
    ~DisabledWhile()
    {
        for (const auto& restore : m_restore)
            restore();
    }
    DisabledWhile(const DisabledWhile&) = delete;
    DisabledWhile& operator=(const DisabledWhile&) = delete;

private:
    template <typename Item>
    void disable(Item* item)
    {
        const bool enabled = item->isEnabled();
        item->setEnabled(false);
        m_restore.push_back([item, enabled] { item->setEnabled(enabled); });
    }

    std::vector<std::function<void()>> m_restore;
};

void ResizablePanel::resizeEvent(QResizeEvent* event)
{
    QFrame::resizeEvent(event);
    // The first layout of the window gives the panel its design height; only later changes are
    // the user's (or the restored setting's) and are reported.
    if (isVisible() && event->oldSize().isValid() &&
        event->oldSize().height() != event->size().height())
        emit heightChanged(event->size().width(), event->size().height());
}

TfrmMain::TfrmMain(const QString& baseFolder, QWidget* parent)
    : QWidget(parent)
    , m_baseFolder(baseFolder.isEmpty() ? QCoreApplication::applicationDirPath() : baseFolder)
    , m_ownPrompts(std::make_unique<WidgetPrompts>())
    , m_prompts(m_ownPrompts.get())
{
    initResources();
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(appTitle());
    setFont(designFont(QStringLiteral("宋体"), 15));
    // Face colour: the button face.
    QPalette face = palette();
    face.setColor(QPalette::Window, face.color(QPalette::Button));
    setPalette(face);
    setAutoFillBackground(true);
    resize(kFormWidth, kFormHeight);
    if (const QScreen* screen = this->screen()) {
        QRect frame(QPoint(), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }

    buildComponents();
    buildActions();
    wireScriptEditor();

    Cnt = new session::Session(this);
    Cnt->setObjectName(QStringLiteral("Cnt"));
    connect(Cnt, &session::Session::finished, this, [this](const session::Outcome& outcome) {
        runGuarded(*m_prompts, this, [&] { CntFinished(outcome); });
    });
    // Completion offers the database's own names, read in the background.
    connect(Cnt, &session::Session::schemaRead, this, [this](const session::SchemaNames& names) {
        mmoScript->setSchema(names.tables, names.columns);
    });
    // A query's rows show while they arrive.
    connect(Cnt, &session::Session::resultStarted, this,
            [this](const std::shared_ptr<const db::ResultSet>& result) {
                qrySelect->setResult(result);
                m_columnsFitted = false;
            });
    connect(Cnt, &session::Session::rowsArrived, this, [this] {
        dsSelect->noteRowsArrived();
        if (!m_columnsFitted && dsSelect->rowCount() > 0) {
            fitColumns();
            m_columnsFitted = true;
        }
    });
    qrySelect = new db::Query(this);
    qrySelect->setObjectName(QStringLiteral("qrySelect"));
    dsSelect = new ResultModel(this);
    dsSelect->setObjectName(QStringLiteral("dsSelect"));
    dsSelect->setQuery(qrySelect);
    grdResult->setModel(dsSelect);

    FormCreate();
}

TfrmMain::~TfrmMain() = default;

void TfrmMain::setPrompts(Prompts* prompts)
{
    m_prompts = prompts ? prompts : m_ownPrompts.get();
}

std::function<void()> TfrmMain::guarded(void (TfrmMain::*handler)())
{
    return
        [this, handler] { runGuarded(*m_prompts, this, [this, handler] { (this->*handler)(); }); };
}

void TfrmMain::buildComponents()
{
    auto* formLayout = new QVBoxLayout(this);
    formLayout->setContentsMargins(0, 0, 0, 0);
    formLayout->setSpacing(0);

    // pnlMain above nbMain; the splitter handle is pnlMain's sizing bar.
    splMain = new QSplitter(Qt::Vertical, this);
    splMain->setObjectName(QStringLiteral("splMain"));
    splMain->setChildrenCollapsible(false);
    splMain->setHandleWidth(4);
    formLayout->addWidget(splMain);

    pnlMain = new ResizablePanel(splMain);
    pnlMain->setObjectName(QStringLiteral("pnlMain"));
    pnlMain->setFrameShape(QFrame::Box);
    pnlMain->setFrameShadow(QFrame::Sunken); // a groove
    pnlMain->setMinimumHeight(32);
    connect(pnlMain, &ResizablePanel::heightChanged, this, [this](int width, int height) {
        bool resize = true;
        runGuarded(*m_prompts, this, [&] { pnlMainCanResize(width, height, resize); });
    });
    auto* topLayout = new QHBoxLayout(pnlMain);
    topLayout->setContentsMargins(2, 2, 2, 2);
    topLayout->setSpacing(0);

    // The editor, and under it the find bar, hidden at rest.
    auto* editorColumn = new QWidget(pnlMain);
    auto* editorLayout = new QVBoxLayout(editorColumn);
    editorLayout->setContentsMargins(0, 0, 0, 0);
    editorLayout->setSpacing(0);
    mmoScript = new SqlEditor(editorColumn);
    mmoScript->setObjectName(QStringLiteral("mmoScript"));
    mmoScript->setAccessibleName(QStringLiteral("SQL脚本"));
    editorLayout->addWidget(mmoScript, 1);
    barFind = new FindBar(*mmoScript, editorColumn);
    editorLayout->addWidget(barFind);
    topLayout->addWidget(editorColumn, 1);

    pnlTop = new QFrame(pnlMain);
    pnlTop->setObjectName(QStringLiteral("pnlTop"));
    pnlTop->setFixedWidth(kTopPanelWidth);
    pnlTop->setFrameShape(QFrame::NoFrame);
    topLayout->addWidget(pnlTop);

    pnl1 = new QFrame(pnlTop);
    pnl1->setObjectName(QStringLiteral("pnl1"));
    pnl1->setFrameShape(QFrame::Box);
    pnl1->setFrameShadow(QFrame::Plain);
    pnl1->setLineWidth(1);
    pnl1->setGeometry(0, 0, kGlyphPanelWidth, kDesignTopHeight - 4);

    btnOpenSql = makeGlyphButton(pnl1, QStringLiteral("btnOpenSql"), QStringLiteral("open"),
                                 QString(), QStringLiteral("打开sql脚本文件"), {0, 3, 27, 23});
    btnSaveSql =
        makeGlyphButton(pnl1, QStringLiteral("btnSaveSql"), QStringLiteral("save"),
                        QStringLiteral("Save"), QStringLiteral("存为sql脚本文件"), {0, 27, 27, 23});
    btnExportFile =
        makeGlyphButton(pnl1, QStringLiteral("btnExportFile"), QStringLiteral("export"),
                        QStringLiteral("Month View"), QStringLiteral("导出查询结果为EXCEL文件"),
                        {1, kExportButtonDesignY, 27, 27});
    connect(btnExportFile, &QToolButton::clicked, this, guarded(&TfrmMain::btnExportFileClick));

    btnRun = makeRunButton(pnlTop, QStringLiteral("btnRun"), {37, 4, 121, 42});
    btnRunSel = makeRunButton(pnlTop, QStringLiteral("btnRunSel"), {38, 56, 121, 42});
    // In the free space between btnRunSel and lblModal, and only while a statement runs, so the
    // window at rest looks as it always did.
    btnStop = makeRunButton(pnlTop, QStringLiteral("btnStop"), {38, 102, 121, 42});
    btnStop->setText(QStringLiteral("停止(Esc)"));
    btnStop->hide();

    lblModal = new QLabel(pnlTop);
    lblModal->setObjectName(QStringLiteral("lblModal"));
    lblModal->setGeometry(41, 148, 64, 15);
    lblModal->setFont(designFont(QStringLiteral("宋体"), 15, true));

    // pnl1 fills pnlTop's height; btnExportFile is anchored to its right and bottom.
    pnlTop->installEventFilter(this);

    nbMain = new QStackedWidget(splMain);
    nbMain->setObjectName(QStringLiteral("nbMain"));

    GridPage = new QWidget(nbMain);
    GridPage->setObjectName(QStringLiteral("GridPage"));
    auto* gridLayout = new QVBoxLayout(GridPage);
    gridLayout->setContentsMargins(0, 0, 0, 0);
    gridLayout->setSpacing(0);
    grdResult = new QTableView(GridPage);
    grdResult->setObjectName(QStringLiteral("grdResult"));
    grdResult->setFont(designFont(QStringLiteral("宋体"), 13));
    grdResult->horizontalHeader()->setFont(designFont(QStringLiteral("宋体"), 15));
    grdResult->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdResult->setWordWrap(false);
    // Every row has the same height, so a million rows scroll without measuring any of them.
    grdResult->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grdResult->verticalHeader()->setDefaultSectionSize(grdResult->fontMetrics().height() + 4);
    grdResult->horizontalHeader()->setResizeContentsPrecision(200);
    gridLayout->addWidget(grdResult, 1);
    // Copy as every SQL client does, from the keyboard and the context menu.
    grdResult->setContextMenuPolicy(Qt::ActionsContextMenu);
    grdResult->setAccessibleName(QStringLiteral("查询结果"));
    const auto gridAction = [this](const QString& name, const QString& caption,
                                   const QKeySequence& keys, std::function<void()> run) {
        auto* action = new QAction(caption, grdResult);
        action->setObjectName(name);
        action->setShortcut(keys);
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        connect(action, &QAction::triggered, this,
                [this, run] { runGuarded(*m_prompts, this, run); });
        grdResult->addAction(action);
    };
    gridAction(QStringLiteral("actCopy"), QStringLiteral("复制"), QKeySequence::Copy,
               [this] { copySelection(false); });
    gridAction(QStringLiteral("actCopyWithNames"), QStringLiteral("复制（含列名）"),
               QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C), [this] { copySelection(true); });
    gridAction(QStringLiteral("actSelectAll"), QStringLiteral("全选"), QKeySequence::SelectAll,
               [this] { grdResult->selectAll(); });

    RzStatusBar1 = new QWidget(GridPage);
    RzStatusBar1->setObjectName(QStringLiteral("RzStatusBar1"));
    RzStatusBar1->setFixedHeight(kStatusBarHeight);
    RzStatusBar1->setFont(designFont(QStringLiteral("宋体"), 13));
    auto* statusLayout = new QHBoxLayout(RzStatusBar1);
    statusLayout->setContentsMargins(2, 0, 2, 0);
    statusLayout->setSpacing(2);
    stpResult = new QLabel(RzStatusBar1);
    stpResult->setObjectName(QStringLiteral("stpResult"));
    statusLayout->addWidget(stpResult, 1);
    RzKeyStatus1 = new NumLockPane(RzStatusBar1);
    RzKeyStatus1->setObjectName(QStringLiteral("RzKeyStatus1"));
    RzKeyStatus1->setFixedWidth(61);
    statusLayout->addWidget(RzKeyStatus1);
    RzClockStatus1 = new ClockPane(RzStatusBar1);
    RzClockStatus1->setObjectName(QStringLiteral("RzClockStatus1"));
    RzClockStatus1->setFixedWidth(159);
    statusLayout->addWidget(RzClockStatus1);
    gridLayout->addWidget(RzStatusBar1);
    nbMain->addWidget(GridPage);

    MsgPage = new QWidget(nbMain);
    MsgPage->setObjectName(QStringLiteral("MsgPage"));
    auto* msgLayout = new QVBoxLayout(MsgPage);
    msgLayout->setContentsMargins(0, 0, 0, 0);
    mmoResult = new QPlainTextEdit(MsgPage);
    mmoResult->setObjectName(QStringLiteral("mmoResult"));
    mmoResult->setReadOnly(true);
    mmoResult->setAccessibleName(QStringLiteral("执行结果"));
    mmoResult->setFont(designFont(QStringLiteral("Arial"), 15));
    mmoResult->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mmoResult->setBackgroundRole(QPalette::Base);
    msgLayout->addWidget(mmoResult);
    nbMain->addWidget(MsgPage);
    nbMain->setCurrentWidget(GridPage);

    // pnlMain keeps its height when the window is resized; the grid takes the rest.
    splMain->setStretchFactor(0, 0);
    splMain->setStretchFactor(1, 1);
    splMain->setSizes({kDesignTopHeight, kFormHeight - kDesignTopHeight});
}

void TfrmMain::buildActions()
{
    ActionList1 = new QObject(this);
    ActionList1->setObjectName(QStringLiteral("ActionList1"));

    auto makeAction = [this](const QString& name, const QString& caption, const QString& hint,
                             const QKeySequence& shortcut, void (TfrmMain::*handler)()) {
        auto* action = new QAction(caption, ActionList1);
        action->setObjectName(name);
        action->setToolTip(hint.isEmpty() ? caption : hint);
        action->setStatusTip(hint);
        action->setShortcut(shortcut);
        action->setShortcutContext(Qt::WindowShortcut);
        // The shortcut lives on the window, also for actModal, which no control shows.
        addAction(action);
        connect(action, &QAction::triggered, this, guarded(handler));
        return action;
    };
    actRun = makeAction(QStringLiteral("actRun"), QStringLiteral("执行(CTRL+R)"),
                        QStringLiteral("执行文本框中的SQL语句"), QKeySequence(Qt::CTRL | Qt::Key_R),
                        &TfrmMain::actRunExecute);
    actRunSel =
        makeAction(QStringLiteral("actRunSel"), QStringLiteral("执行选中的SQL"),
                   QStringLiteral("执行文本框中选中的SQL"),
                   QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R), &TfrmMain::actRunSelExecute);
    actModal = makeAction(QStringLiteral("actModal"), QStringLiteral("actModal"), QString(),
                          QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_W), &TfrmMain::actModalExecute);
    actStop = makeAction(QStringLiteral("actStop"), QStringLiteral("停止(Esc)"),
                         QStringLiteral("停止正在执行的SQL语句"), QKeySequence(Qt::Key_Escape),
                         &TfrmMain::actStopExecute);
    actStop->setEnabled(false);
    // The keys every editor has; the buttons keep their own enabled state.
    makeAction(QStringLiteral("actSaveScript"), QStringLiteral("保存"), QString(),
               QKeySequence(Qt::CTRL | Qt::Key_S), &TfrmMain::btnSaveSqlClick);
    makeAction(QStringLiteral("actOpenScript"), QStringLiteral("打开"), QString(),
               QKeySequence(Qt::CTRL | Qt::Key_O), &TfrmMain::btnOpenSqlClick);
    makeAction(QStringLiteral("actSwitchFocus"), QStringLiteral("切换焦点"), QString(),
               QKeySequence(Qt::Key_F6), &TfrmMain::switchFocus);
    makeAction(QStringLiteral("actFind"), QStringLiteral("查找"), QString(),
               QKeySequence(Qt::CTRL | Qt::Key_F), &TfrmMain::openFind);
    makeAction(QStringLiteral("actReplace"), QStringLiteral("替换"), QString(),
               QKeySequence(Qt::CTRL | Qt::Key_H), &TfrmMain::openReplace);
    makeAction(QStringLiteral("actFindNext"), QStringLiteral("查找下一个"), QString(),
               QKeySequence(Qt::Key_F3), &TfrmMain::findNext);
    makeAction(QStringLiteral("actFindPrevious"), QStringLiteral("查找上一个"), QString(),
               QKeySequence(Qt::SHIFT | Qt::Key_F3), &TfrmMain::findPrevious);
    makeAction(QStringLiteral("actGoToLine"), QStringLiteral("转到行"), QString(),
               QKeySequence(Qt::CTRL | Qt::Key_G), &TfrmMain::goToLine);
    bindButtonToAction(btnRun, actRun);
    bindButtonToAction(btnRunSel, actRunSel);
    connect(btnStop, &QPushButton::clicked, actStop, &QAction::trigger);
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == pnlTop && event->type() == QEvent::Resize) {
        pnl1->setGeometry(0, 0, kGlyphPanelWidth, pnlTop->height());
        btnExportFile->move(btnExportFile->x(),
                            kExportButtonDesignY + pnlMain->height() - kDesignTopHeight);
    }
    return QWidget::eventFilter(watched, event);
}

int TfrmMain::topHeight() const
{
    return pnlMain->height();
}

void TfrmMain::setTopHeight(int height)
{
    QList<int> sizes = splMain->sizes();
    const int total = sizes.value(0) + sizes.value(1);
    if (total <= 0) {
        splMain->setSizes({height, kFormHeight - height});
        return;
    }
    splMain->setSizes({height, qMax(0, total - height)});
}

void TfrmMain::showPage(const QString& name)
{
    if (auto* page = nbMain->findChild<QWidget*>(name, Qt::FindDirectChildrenOnly))
        nbMain->setCurrentWidget(page);
}

void TfrmMain::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!m_shownOnce) {
        m_shownOnce = true;
        runGuarded(*m_prompts, this, [this] { FormShow(); });
    }
}

void TfrmMain::closeEvent(QCloseEvent* event)
{
    // Typed text is not thrown away without a word (a failed save throws, and keeps the window).
    bool canGo = false;
    runGuarded(*m_prompts, this, [&] { canGo = confirmScriptCanGo(); });
    if (!canGo) {
        event->ignore();
        return;
    }
    if (m_exporting) {
        // Asked as the progress window's own button asks; either way the window closes when the
        // export has ended, with its file (Cancel) or without (OK).
        for (QWidget* window : QApplication::topLevelWidgets())
            if (auto* progress = qobject_cast<ExportProgress*>(window))
                progress->ConfirmStopExport();
        m_closeAfterExport = true;
        event->ignore();
        return;
    }
    // Nothing may be left running on the server, and closing must not wait on it for long.
    Cnt->stopAndWait();
    QWidget::closeEvent(event);
}

void TfrmMain::FormCreate()
{
    lblModal->setText(QStringLiteral("只读模式"));
    setTextColour(lblModal, Qt::blue);
}

void TfrmMain::FormShow()
{
    btnExportFile->hide();
    btnSaveSql->hide();
    ConnectDatabase();
}

void TfrmMain::pnlMainCanResize([[maybe_unused]] int& NewWidth, int& NewHeight,
                                [[maybe_unused]] bool& Resize)
{
    IniFile(configIniPath(m_baseFolder))
        .writeInteger(QStringLiteral("Quarvel"), QStringLiteral("TopHeight"), NewHeight);
}

bool TfrmMain::ConnectDatabase()
{
    Cnt->close();
    setTopHeight(readTopHeight(m_baseFolder));
    const ConnectionSettings settings = resolveConnectionSettings(m_baseFolder);
    try {
        m_connectFailure.clear();
        Cnt->open({settings.database, settings.server, settings.port, settings.user,
                   settings.password, settings.verifyServerCert, settings.caFile});
        Cnt->readSchema();
        return true;
    } catch (const std::exception& e) {
        // The reason is not shown here; a run attempt tells the user the database is missing,
        // and why.
        m_connectFailure = QString::fromUtf8(e.what());
        btnRun->setEnabled(false);
        btnRunSel->setEnabled(false);
        return false;
    }
}

bool TfrmMain::isReadOnlyMode() const
{
    return lblModal->text() == kReadOnlyCaption;
}

// The editor line of the first character that `trimControl(raw)` keeps, `raw` starting at
// editor line `firstLine`: error messages count lines from there.
static int firstRunLine(const QString& raw, int firstLine)
{
    qsizetype leading = 0;
    while (leading < raw.size() && raw[leading].unicode() <= u' ')
        ++leading;
    return firstLine + int(QStringView(raw).first(leading).count(u'\n'));
}

void TfrmMain::actRunExecute()
{
    const QString raw = mmoScript->wholeText();
    const QString text = trimControl(raw);
    m_runFirstLine = firstRunLine(raw, 0);
    if (!text.isEmpty())
        RunSql(text);
}

void TfrmMain::actRunSelExecute()
{
    const QString raw = mmoScript->selectedText();
    const QString text = trimControl(raw);
    int lineFrom = 0, indexFrom = 0, lineTo = 0, indexTo = 0;
    mmoScript->getSelection(&lineFrom, &indexFrom, &lineTo, &indexTo);
    m_runFirstLine = firstRunLine(raw, qMax(0, lineFrom));
    if (!text.isEmpty())
        RunSql(text);
}

void TfrmMain::markErrorLine(const QString& message)
{
    // "... near 'x' at line 3": the line of what was run, counted from its first line.
    static const QRegularExpression atLine(QStringLiteral("\\bat line (\\d+)"));
    const QRegularExpressionMatch found = atLine.match(message);
    if (found.hasMatch())
        mmoScript->markErrorLine(m_runFirstLine + found.captured(1).toInt() - 1);
}

void TfrmMain::actModalExecute()
{
    const bool readOnly = !isReadOnlyMode();
    // An open transaction keeps its own access mode until it ends: switching now would show
    // read-only while a COMMIT still makes its writes permanent.
    if (readOnly && Cnt->inTransaction()) {
        m_prompts->message(this, QMessageBox::Information, appTitle(),
                           QStringLiteral("当前有未提交的事务，请先提交（COMMIT）或回滚（ROLLBACK）"
                                          "后再切换到只读模式。"),
                           QMessageBox::Ok);
        return;
    }
    lblModal->setText(readOnly ? kReadOnlyCaption : kWritableCaption);
    setTextColour(lblModal, readOnly ? Qt::blue : Qt::red);
    // The server's session follows at the next run.
}

void TfrmMain::actStopExecute()
{
    Cnt->stop();
}

void TfrmMain::openFind()
{
    barFind->open(false);
}

void TfrmMain::openReplace()
{
    barFind->open(true);
}

void TfrmMain::findNext()
{
    if (barFind->findField()->text().isEmpty())
        barFind->open(false);
    else
        barFind->findNext();
}

void TfrmMain::findPrevious()
{
    if (barFind->findField()->text().isEmpty())
        barFind->open(false);
    else
        barFind->findPrevious();
}

void TfrmMain::goToLine()
{
    int line = 0, index = 0;
    mmoScript->getCursorPosition(&line, &index);
    const int chosen = m_prompts->lineNumber(this, line + 1, mmoScript->lines());
    if (chosen <= 0)
        return;
    mmoScript->setCursorPosition(chosen - 1, 0);
    mmoScript->ensureLineVisible(chosen - 1);
    mmoScript->setFocus();
}

void TfrmMain::switchFocus()
{
    if (mmoScript->hasFocus())
        (nbMain->currentWidget() == MsgPage ? static_cast<QWidget*>(mmoResult) : grdResult)
            ->setFocus();
    else
        mmoScript->setFocus();
}

void TfrmMain::btnExportFileClick()
{
    if (grdResult->isHidden())
        return;
    const QString chosen = m_prompts->saveFileName(
        this, {QStringLiteral("结果导出为EXCEL文件"), QStringLiteral("电子表格文件(*.xlsx)|*.xlsx"),
               QStringLiteral(".xlsx"), true, m_lastFolder});
    if (chosen.isEmpty())
        return;
    rememberFolder(chosen);
    const QString fileName = withWorkbookExtension(chosen);
    // The export keeps the window live; no statement may replace the result it reads, and no
    // second export may start, until it ends.
    const DisabledWhile exporting(actRun, actRunSel, btnRun, btnRunSel, btnExportFile);
    m_exporting = true;
    const auto ended = qScopeGuard([this] {
        m_exporting = false;
        if (m_closeAfterExport)
            QTimer::singleShot(0, this, &QWidget::close);
        m_closeAfterExport = false;
    });
    const ExportOutcome outcome =
        ExportGridToExcel(grdResult, fileName, QStringLiteral("查询结果"), 65535, true, *m_prompts);
    if (outcome.completed)
        stpResult->setText(QStringLiteral("已导出 %1 条记录到 %2")
                               .arg(outcome.rows)
                               .arg(QDir::toNativeSeparators(fileName)));
    else if (outcome.stopped)
        stpResult->setText(QStringLiteral("导出已停止，未写入文件。"));
}

void TfrmMain::rememberFolder(const QString& chosenFile)
{
    m_lastFolder = QFileInfo(chosenFile).absolutePath();
}

void TfrmMain::RunSql(const QString& text)
{
    if (isReadOnlyMode() && isRefusedInReadOnly(text)) {
        m_prompts->message(
            this, QMessageBox::Critical, appTitle(),
            QStringLiteral("只读模式下不能执行任何含有delete、update、insert、create、"
                           "truncate、drop等关键字的SQL语句！"),
            QMessageBox::Ok);
        mmoScript->setFocus();
        return;
    }
    btnExportFile->hide();
    if (!Cnt->canRun()) {
        showNotConnected(m_connectFailure);
        return;
    }
    if (isQueryText(text)) {
        qrySelect->close();
        showPage(QStringLiteral("GridPage"));
        OpenQuery(qrySelect, text);
    } else {
        mmoResult->clear();
        showPage(QStringLiteral("MsgPage"));
        ExecuteCommand(text);
    }
}

void TfrmMain::ExecuteCommand(const QString& text)
{
    setResultColour(QApplication::palette().color(QPalette::Text));
    stpResult->setText(kRunningText);
    startRun(session::RunKind::Command, text);
}

void TfrmMain::OpenQuery(db::Query* query, const QString& text)
{
    stpResult->setText(kRunningText);
    setResultColour(QApplication::palette().color(QPalette::Text));
    query->close();
    startRun(session::RunKind::Query, rewriteBackslashes(text));
}

void TfrmMain::startRun(session::RunKind kind, const QString& sql)
{
    m_runText = sql;
    mmoScript->clearErrorLine();
    // Nothing can be queued behind the run or change under it; each gets its own state back.
    m_runLock = std::make_unique<DisabledWhile>(actRun, actRunSel, actModal, btnRun, btnRunSel,
                                                btnOpenSql, btnSaveSql, btnExportFile);
    actStop->setEnabled(true);
    btnStop->show();
    Cnt->start(kind, sql, isReadOnlyMode());
}

void TfrmMain::CntFinished(const session::Outcome& outcome)
{
    // A statement that may have changed the tables: read their names again.
    static const QRegularExpression changesSchema(
        QStringLiteral("\\b(create|alter|drop|rename)\\b"),
        QRegularExpression::CaseInsensitiveOption);
    if (outcome.ok && m_runText.contains(changesSchema))
        Cnt->readSchema();
    m_runLock.reset();
    actStop->setEnabled(false);
    btnStop->hide();
    if (outcome.notConnected) {
        stpResult->clear();
        showNotConnected(outcome.error);
        return;
    }
    if (outcome.kind == session::RunKind::Command)
        showCommandOutcome(outcome);
    else
        showQueryOutcome(outcome);
}

// The reconnect notice, when the run had to connect again, before `text`.
static QString withReconnectNotice(const session::Outcome& outcome, const QString& text,
                                   const QString& separator)
{
    return outcome.reconnected ? kReconnectedText + separator + text : text;
}

void TfrmMain::showCommandOutcome(const session::Outcome& outcome)
{
    // A command that returned rows is shown as a query would be, instead of its rows being
    // dropped while the run reports success.
    if (outcome.result && outcome.result->columnCount() > 0) {
        showPage(QStringLiteral("GridPage"));
        showQueryOutcome(outcome);
        return;
    }
    if (outcome.ok)
        mmoResult->setPlainText(withReconnectNotice(
            outcome,
            QStringLiteral("SQL语句执行完毕！共影响了 %1 条数据库记录。").arg(outcome.affected),
            QStringLiteral("\n")));
    else
        showError(withReconnectNotice(outcome, errorText(outcome), QStringLiteral("\n")));
    stpResult->clear();
}

void TfrmMain::copySelection(bool withNames)
{
    QList<int> order;
    const QHeaderView* header = grdResult->horizontalHeader();
    for (int visual = 0; visual < header->count(); ++visual) {
        const int column = header->logicalIndex(visual);
        if (!grdResult->isColumnHidden(column))
            order.append(column);
    }
    const QString text =
        dsSelect->copyText(grdResult->selectionModel()->selection(), withNames, order);
    if (!text.isEmpty())
        QApplication::clipboard()->setText(text);
}

void TfrmMain::fitColumns()
{
    grdResult->resizeColumnsToContents();
    for (int column = 0; column < dsSelect->columnCount(); ++column)
        if (grdResult->columnWidth(column) > kMaxAutoColumnWidth)
            grdResult->setColumnWidth(column, kMaxAutoColumnWidth);
}

void TfrmMain::showQueryOutcome(const session::Outcome& outcome)
{
    const bool rowsKept = outcome.result && outcome.result->columnCount() > 0 &&
                          (outcome.stopped || outcome.errorCode == kResultTooLarge);
    if (outcome.ok || rowsKept) {
        if (qrySelect->sharedResult() != outcome.result)
            qrySelect->setResult(outcome.result);
        dsSelect->showAllRows();
        fitColumns();
    }
    if (outcome.ok) {
        stpResult->setText(
            withReconnectNotice(outcome,
                                QString::asprintf("耗时 %.3f 秒，共返回 %d 条数据库记录",
                                                  outcome.seconds, qrySelect->recordCount()),
                                QStringLiteral(" ")));
    } else if (rowsKept) {
        // The rows received so far stay in the grid; the status line says why there are no more.
        const QString kept =
            outcome.stopped ? QStringLiteral("已停止，已返回 %1 条数据库记录")
                            : QStringLiteral("结果过大，内存不足，已停止读取：已返回 %1 条数据库"
                                             "记录（连接已断开，下次执行时重新连接）");
        stpResult->setText(
            withReconnectNotice(outcome, kept.arg(qrySelect->recordCount()), QStringLiteral(" ")));
    } else {
        // As a query that failed: nothing of it stays to be exported.
        qrySelect->close();
        stpResult->setText(QStringLiteral("执行SQL语句失败！"));
        showPage(QStringLiteral("MsgPage"));
        showError(withReconnectNotice(outcome, errorText(outcome), QStringLiteral("\n")));
        repaint();
    }
    btnExportFile->show();
}

QString TfrmMain::errorText(const session::Outcome& outcome) const
{
    QString text = outcome.error;
    // The server's read-only session refused a write the text guard let through.
    constexpr unsigned int kReadOnlyTransaction = 1792;
    if (outcome.errorCode == kReadOnlyTransaction && isReadOnlyMode())
        text = QStringLiteral(
                   "当前为只读模式，不能执行修改数据的语句；按 Ctrl+Alt+W 可切换到可写模式。"
                   "\n") +
               text;
    if (outcome.failedStatement >= 2)
        text = QStringLiteral("第 %1 条语句执行失败：").arg(outcome.failedStatement) + text +
               QStringLiteral("\n此前的 %1 条语句已执行，共影响了 %2 条数据库记录。")
                   .arg(outcome.failedStatement - 1)
                   .arg(outcome.affectedBefore);
    return text;
}

void TfrmMain::showNotConnected(const QString& reason)
{
    // The specified sentence, then why the last attempt failed and where it went, so that a
    // stopped server can be told from a wrong password.
    QString text = QStringLiteral("数据库搜寻失败！请确认该程序是放在服务端安装目录之下。");
    const db::ConnectionParams& target = Cnt->params();
    if (!reason.isEmpty())
        text += QStringLiteral("\n%1（%2:%3，数据库 %4）")
                    .arg(reason, target.server)
                    .arg(target.port)
                    .arg(target.database);
    m_prompts->message(this, QMessageBox::Critical, QStringLiteral("提示"), text, QMessageBox::Ok);
}

void TfrmMain::showError(const QString& message)
{
    setResultColour(Qt::red);
    mmoResult->setPlainText(message);
    markErrorLine(message);
}

void TfrmMain::setResultColour(const QColor& colour)
{
    setTextColour(mmoResult, colour, QPalette::Text);
}

void TfrmMain::wireScriptEditor()
{
    connect(mmoScript, &SqlEditor::textChanged, this, guarded(&TfrmMain::mmoScriptChange));
    connect(btnOpenSql, &QToolButton::clicked, this, guarded(&TfrmMain::btnOpenSqlClick));
    connect(btnSaveSql, &QToolButton::clicked, this, guarded(&TfrmMain::btnSaveSqlClick));
    connect(mmoScript, &SqlEditor::filesDropped, this, [this](const QStringList& paths) {
        runGuarded(*m_prompts, this, [&] { mmoScriptFilesDropped(paths); });
    });
}

void TfrmMain::mmoScriptChange()
{
    btnSaveSql->setVisible(!mmoScript->IsEditorEmpty());
}

void TfrmMain::mmoScriptFilesDropped(const QStringList& paths)
{
    if (!confirmScriptCanGo())
        return;
    for (const QString& path : paths)
        mmoScript->loadScript(path);
}

bool TfrmMain::confirmScriptCanGo()
{
    if (!mmoScript->hasUnsavedText())
        return true;
    const auto answer = m_prompts->message(
        this, QMessageBox::Question, appTitle(), QStringLiteral("脚本已修改，是否保存？"),
        QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel);
    if (answer == QMessageBox::Save)
        return saveScriptAs();
    return answer != QMessageBox::Cancel;
}

namespace {

const QString kScriptFilter = QStringLiteral("脚本文件(*.sql)|*.sql");

} // namespace

void TfrmMain::btnOpenSqlClick()
{
    if (!confirmScriptCanGo())
        return;
    const QString path = m_prompts->openFileName(
        this, {QStringLiteral("打开SQL脚本文件"), kScriptFilter, {}, false, m_lastFolder});
    if (path.isEmpty())
        return;
    rememberFolder(path);
    mmoScript->loadScript(path);
}

void TfrmMain::btnSaveSqlClick()
{
    saveScriptAs();
}

bool TfrmMain::saveScriptAs()
{
    if (mmoScript->IsEditorEmpty())
        return true;
    const FileDialogOptions options{QStringLiteral("脚本文件另存为..."), kScriptFilter,
                                    QStringLiteral(".sql"), true, m_lastFolder};
    const QString path = m_prompts->saveFileName(this, options);
    if (path.isEmpty())
        return false;
    rememberFolder(path);
    mmoScript->saveScript(withDefaultExtension(path, options.defaultExtension));
    return true;
}

} // namespace quarvel

#pragma once

#include "Connection.h"
#include "Prompts.h"
#include "Session.h"
#include "Statement.h"

#include <QFrame>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

class QAction;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QSplitter;
class QStackedWidget;
class QTableView;
class QToolButton;

namespace quarvel {

class SqlEditor;
class FindBar;
class ResultModel;
class NumLockPane;
class ClockPane;

// The top panel: reports every change of its height, whatever the cause, once the window is up.
class ResizablePanel : public QFrame
{
    Q_OBJECT
public:
    using QFrame::QFrame;

signals:
    void heightChanged(int newWidth, int newHeight);

protected:
    void resizeEvent(QResizeEvent* event) override;
};

// The one main window. It builds the component tree, wires the handlers and leaves the work to
// the settings, database and editor pieces.
class DisabledWhile;

class TfrmMain : public QWidget
{
    Q_OBJECT
public:
    // `baseFolder` is the folder treated as the executable's own (conf/config.ini and the
    // product's files are looked up there); empty means the executable's folder.
    explicit TfrmMain(const QString& baseFolder = QString(), QWidget* parent = nullptr);
    ~TfrmMain() override;

    // Message boxes and file dialogs go through this; tests install a scripted one.
    void setPrompts(Prompts* prompts);
    Prompts& prompts() const { return *m_prompts; }

    const QString& baseFolder() const { return m_baseFolder; }
    // Only while no statement runs.
    db::Connection& connection() { return Cnt->connection(); }
    session::Session& session() { return *Cnt; }

    // Current height of pnlMain, and a way to give it a new one (as the sizing bar does).
    int topHeight() const;
    void setTopHeight(int height);

    // Shows the page of nbMain with this object name ("GridPage" or "MsgPage").
    void showPage(const QString& name);

    bool ConnectDatabase();

    // The mode lives in lblModal's caption.
    bool isReadOnlyMode() const;

    // The run starts on the session's worker; its outcome is shown when it arrives
    // (showCommandOutcome, showQueryOutcome). Running statements is disabled meanwhile.
    void RunSql(const QString& text);
    void ExecuteCommand(const QString& text);
    void OpenQuery(db::Query* query, const QString& text);
    bool isRunning() const { return Cnt->isRunning(); }

public slots:
    void actRunExecute();
    void actRunSelExecute();
    void actModalExecute();
    void actStopExecute();
    void switchFocus();
    void openFind();
    void openReplace();
    void findNext();
    void findPrevious();
    void goToLine();
    void btnExportFileClick();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // A slot that runs the handler so that whatever it throws ends in the default error report.
    std::function<void()> guarded(void (TfrmMain::*handler)());
    void buildComponents();
    void buildActions();
    void FormCreate();
    void FormShow();
    void pnlMainCanResize(int& NewWidth, int& NewHeight, bool& Resize);
    void setResultColour(const QColor& colour);
    void startRun(session::RunKind kind, const QString& sql);
    void CntFinished(const session::Outcome& outcome);
    void showCommandOutcome(const session::Outcome& outcome);
    void showQueryOutcome(const session::Outcome& outcome);
    void showError(const QString& message);
    void showNotConnected(const QString& reason);
    QString errorText(const session::Outcome& outcome) const;
    void fitColumns();
    void copySelection(bool withNames);
    void rememberFolder(const QString& chosenFile);

    // The script editor's handlers.
    void wireScriptEditor();
    void mmoScriptChange();
    void mmoScriptFilesDropped(const QStringList& paths);
    void btnOpenSqlClick();
    void btnSaveSqlClick();
    // Asks to save a text that differs from its file; false when the user cancels (or the save
    // dialog is cancelled).
    bool confirmScriptCanGo();
    bool saveScriptAs();
    void markErrorLine(const QString& message);

    QString m_baseFolder;
    std::unique_ptr<Prompts> m_ownPrompts;
    Prompts* m_prompts = nullptr;
    bool m_shownOnce = false;

    // Components, named as their object names.
    QSplitter* splMain = nullptr;
    ResizablePanel* pnlMain = nullptr;
    QFrame* pnlTop = nullptr;
    QFrame* pnl1 = nullptr;
    QToolButton* btnOpenSql = nullptr;
    QToolButton* btnSaveSql = nullptr;
    QToolButton* btnExportFile = nullptr;
    QPushButton* btnRun = nullptr;
    QPushButton* btnRunSel = nullptr;
    QPushButton* btnStop = nullptr; // shown only while a statement runs
    QLabel* lblModal = nullptr;
    SqlEditor* mmoScript = nullptr;
    FindBar* barFind = nullptr; // under the editor, hidden at rest
    QStackedWidget* nbMain = nullptr;
    QWidget* GridPage = nullptr;
    QWidget* MsgPage = nullptr;
    QTableView* grdResult = nullptr;
    QWidget* RzStatusBar1 = nullptr;
    QLabel* stpResult = nullptr;
    NumLockPane* RzKeyStatus1 = nullptr;
    ClockPane* RzClockStatus1 = nullptr;
    QPlainTextEdit* mmoResult = nullptr;
    QObject* ActionList1 = nullptr;
    QAction* actRun = nullptr;
    QAction* actRunSel = nullptr;
    QAction* actModal = nullptr;
    QAction* actStop = nullptr;

    // The connection and its statements, run off this thread.
    session::Session* Cnt = nullptr;
    db::Query* qrySelect = nullptr;
    ResultModel* dsSelect = nullptr;
    // Everything that must not start while a statement runs, disabled until its outcome.
    std::unique_ptr<DisabledWhile> m_runLock;
    bool m_columnsFitted = false; // to the first rows of the result arriving
    bool m_exporting = false;
    QString m_connectFailure; // why the connection at start failed
    QString m_lastFolder;
    int m_runFirstLine = 0;          // the editor line the running text starts at
    QString m_runText;               // what runs, as sent            // of the file
                                     // last opened, saved or exported to
    bool m_closeAfterExport = false; // the window was closed during an export
};

} // namespace quarvel

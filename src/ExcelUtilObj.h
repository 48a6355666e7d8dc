#pragma once

#include <QWidget>
#include <memory>

class QLabel;
class QProgressBar;
class QPushButton;
class QTableView;

namespace quarvel {

class Prompts;

// The small window that shows an export's progress and lets the user stop it.
class ExportProgress : public QWidget
{
    Q_OBJECT
public:
    explicit ExportProgress(Prompts& prompts);

    QLabel* label() const { return m_label; }
    QProgressBar* bar() const { return m_bar; }
    QPushButton* closeButton() const { return m_button; }

    bool stopRequested() const { return m_stopFlag != 0; }
    // While the stop question is open (the export waits meanwhile).
    bool isAsking() const { return m_asking; }

    // The close button: asks, and stops the export when the user confirms.
    void ConfirmStopExport();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    Prompts& m_prompts;
    QLabel* m_label = nullptr;
    QProgressBar* m_bar = nullptr;
    QPushButton* m_button = nullptr;
    int m_stopFlag = 0;
    bool m_asking = false;
};

// Creates the progress window, centred over `centreOver`, and shows it at once.
std::unique_ptr<ExportProgress> ShowExportProgress(Prompts& prompts, QWidget* centreOver);

// Writes the result shown by `grid` (a grid over a query result) to an .xlsx workbook: a sheet
// named `sheetPrefix` + number for every `rowsPerSheet` rows, each with a bold header row. The
// target is replaced only by a complete workbook; a stopped export leaves it as it was. The
// grid's current row and selection are kept. A closed result exports nothing.
//
// Threads: called on the user-interface thread; the workbook is written on a worker while this
// call runs an event loop, so every window stays live. A stop confirmed while the library
// compresses the workbook returns at once; that worker finishes in the background and drops
// its file (the program waits for such workers at its end: waitForAbandonedExports()).
struct ExportOutcome
{
    bool completed = false; // the file was written
    bool stopped = false;   // the user stopped it; no file was written
    int rows = 0;           // rows written to the file
};

ExportOutcome ExportGridToExcel(QTableView* grid, const QString& fileName,
                                const QString& sheetPrefix, int rowsPerSheet, bool showProgress,
                                Prompts& prompts);

void waitForAbandonedExports();

} // namespace quarvel

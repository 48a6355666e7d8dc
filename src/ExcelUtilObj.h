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
};

// Creates the progress window, centred over `centreOver`, and shows it at once.
std::unique_ptr<ExportProgress> ShowExportProgress(Prompts& prompts, QWidget* centreOver);

// Writes the result shown by `grid` (a grid over a query result) to an .xlsx workbook: a sheet
// named `sheetPrefix` + number for every `rowsPerSheet` rows, each with a bold header row. The
// target is replaced only by a complete workbook; a stopped export leaves it as it was. The
// grid's current row and selection are kept. A closed result exports nothing.
void ExportGridToExcel(QTableView* grid, const QString& fileName, const QString& sheetPrefix,
                       int rowsPerSheet, bool showProgress, Prompts& prompts);

} // namespace quarvel

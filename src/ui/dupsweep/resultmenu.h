#pragma once
// The context menu of the run's result lists (cmbUnits, lsbDifference): the export of the last
// complete run's result to a workbook file, and the restore of deleted data. Also the chooser of
// the export file, which the search for repeated data asks as well.

#include <functional>
#include <string>

#include "ui/dupsweep/runpresenter.h"

class QPoint;
class QWidget;

namespace dupsweep {

struct ComparisonRunRecord;

// Asks the operator for the workbook file to export to, starting from `suggested`; returns the
// chosen path, or the empty text when the operator cancels.
using ExportFileChooser = std::function<std::string(QWidget* parent, const std::string& suggested)>;
// The chooser every dialog asks; when empty, a save dialog of QFileDialog. Tests install their
// own so that no file dialog waits for an operator.
ExportFileChooser& exportFileChooser();
// Asks the installed chooser, else Qt's save dialog captioned `title` (".xlsx" is added to a name
// typed without it).
std::string chooseExportFile(QWidget* parent, const std::string& suggested, const char* title);

// What the result menu works with, as the dialog has it when the menu opens.
struct ResultMenuContext {
  QWidget* parent = nullptr;
  // The last complete run and its findings; null: there is nothing to export.
  const ComparisonRunRecord* lastRun = nullptr;
  const FindingList* found = nullptr;
  // Opens the restore of deleted data; empty: the entry is disabled.
  std::function<void()> restore;
};

// Shows the menu at `global` (screen coordinates) and carries out the chosen entry, each in the
// handler wrapper: the export, disabled while there is no run to export, asks for a file name
// and writes every pair of the run with its identical sheets there.
void showResultMenu(const ResultMenuContext& context, const QPoint& global);

}  // namespace dupsweep

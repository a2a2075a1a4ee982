#pragma once
// The review of a discovery in the window "查找重复数据单位": its findings one a row (pair, sheet,
// kind) with the column "审核", a filter by it and the checkbox "显示已标记为合理的"; marking the
// checked findings; the column "删除" choosing whose copy of an identical sheet goes, and
// "删除所选重复数据…" deleting them as one batch after one confirmation; "导出审核报告…"; and the
// difference viewer opened on a finding. Events become calls of ReviewSession; the panel shows
// what it says.

#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "cleanup/review.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace dupsweep {

class ReviewPanel : public QWidget {
  Q_OBJECT

 public:
  struct Context {
    TdmDupsweep* dataModule = nullptr;
    std::string taskCode;
    std::int32_t level = 0;
    // Asks for the workbook file to export to, starting from a suggested path; empty: cancelled.
    std::function<std::string(QWidget*, const std::string&)> chooseExportFile;
  };

  explicit ReviewPanel(Context context, QWidget* parent = nullptr);
  ~ReviewPanel() override;

  // Reviews `result` with the decisions kept in the journal and lists its findings; nothing
  // (and the journal's failure said) when the journal cannot be read.
  void setResult(const DiscoveryResult& result);
  // Forgets the findings listed.
  void clear();
  // Opens the difference viewer on the first finding of pair `pair` of the result.
  void showPair(int pair);

  const std::optional<ReviewSession>& session() const noexcept { return session_; }

 private:
  void fillTable();
  // Hides the rows the filter and the checkbox leave out.
  void applyFilter();
  // The findings checked, else the current one.
  std::vector<std::size_t> chosen() const;
  void mark(Mark mark);
  void deleteChosen();
  void exportReport();
  void showFinding(std::size_t finding);

  Context context_;
  std::optional<ReviewSession> session_;
  QTableWidget* table_;
  QComboBox* filter_;
  QCheckBox* showLegitimate_;
  QLineEdit* note_;
  QLabel* status_;
};

}  // namespace dupsweep

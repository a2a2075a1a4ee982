#pragma once
// TfrmShowDifference: the difference viewer, a window that shows the two units' sheets of one
// pair side by side. Created hidden by the duplicate-cleanup dialog and shown modally when the
// operator asks for one pair's differences.

#include <QDialog>

namespace dupsweep {

class TfrmShowDifference : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmShowDifference(QWidget* parent = nullptr);
  ~TfrmShowDifference() override;
};

}  // namespace dupsweep

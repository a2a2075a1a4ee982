#include "ui/showdifference/frmshowdifference.h"

namespace dupsweep {

TfrmShowDifference::TfrmShowDifference(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("frmShowDifference"));
  setWindowTitle(QStringLiteral("差异显示"));
}

TfrmShowDifference::~TfrmShowDifference() = default;

}  // namespace dupsweep

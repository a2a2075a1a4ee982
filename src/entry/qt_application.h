#pragma once
// The QApplication the dialog runs in: the host's, else one made on first use and kept for the
// process. Since Qt ends the process when a platform cannot start, a display is checked for
// first; a call that cannot show windows fails with an Error instead of taking the host down.

#include <string>

class QApplication;
class QCoreApplication;

namespace dupsweep::entry {

// Set to "1", lets the dialog run on a platform without a screen (tests and tools).
inline constexpr char kAllowHiddenDialogVariable[] = "DUPSWEEP_ALLOW_HIDDEN_DIALOG";

// Why no QApplication that shows the dialog can start here, or "" when one can: the first
// platform of QT_QPA_PLATFORM, or of Qt's defaults, that can start counts; offscreen or minimal
// is a problem unless kAllowHiddenDialogVariable is "1".
std::string displayProblem();

// Made on first use, with installChineseTranslation() applied. Throws Error when the host's object
// is not a QApplication, lives on another thread, or displayProblem() names a problem.
QApplication& ensureApplication();

// Qt's own Chinese translation (qtbase_zh_CN.qm), when the system's or the application's locale
// is Chinese; once per application object. Returns whether it is installed on `app`.
bool installChineseTranslation(QCoreApplication& app);

}  // namespace dupsweep::entry

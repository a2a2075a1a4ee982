#pragma once
// The QApplication the dialog runs in. The component uses the host's when the host has one;
// otherwise it makes one on the first call and keeps it for the life of the process (the module
// is linked never to be unloaded, so the application's code stays mapped).
//
// Qt ends the process when a platform plugin cannot be started, so before making the application
// the component checks that the platform Qt would choose can open a display: offscreen, minimal
// and vnc need none; xcb needs an X server that accepts a connection; wayland needs a compositor
// socket. A call that cannot show windows fails with an Error instead of taking the host down.
//
// The offscreen and minimal platforms start anywhere but show nothing: the modal dialog would
// wait for ever for an operator who cannot see it. A call that would make the application on one
// of them is refused in the same way, unless DUPSWEEP_ALLOW_HIDDEN_DIALOG=1 is set (tests and
// tools that drive the dialog programmatically). A host that made its own QApplication chose its
// platform itself and is not checked.
//
// Where the system or the host speaks Chinese, Qt's own texts (the buttons of its dialogs, the file
// dialog, the menus of text fields) are shown in Chinese too: Qt's Chinese translation is installed
// on the application, whether the component made it or the host did.

#include <string>

class QApplication;
class QCoreApplication;

namespace dupsweep::entry {

// The environment variable that, set to "1", lets the dialog run on a platform without a screen.
inline constexpr char kAllowHiddenDialogVariable[] = "DUPSWEEP_ALLOW_HIDDEN_DIALOG";

// Why no QApplication that shows the dialog can be started in this process, or an empty string
// when one can. Reads QT_QPA_PLATFORM (a ";"-separated list, options after ":" ignored) or, when
// it is unset, the platforms Qt chooses by default from DISPLAY, WAYLAND_DISPLAY and
// XDG_SESSION_TYPE. The first platform that can start counts; offscreen or minimal is a problem
// unless kAllowHiddenDialogVariable is "1".
std::string displayProblem();

// The process's QApplication, made on first use, with installChineseTranslation() applied. Throws
// Error when the host's application object is not a QApplication, when it lives on another thread
// than the caller, or when displayProblem() names a problem.
QApplication& ensureApplication();

// Installs Qt's own Chinese translation (qtbase_zh_CN.qm in Qt's translations directory) on `app`
// when the language of the system (QLocale::system()) or of the application (QLocale(), the
// default locale the host may set) is Chinese; at most once per application object. A file that
// cannot be loaded installs nothing and Qt keeps its own texts. Returns whether the translation is
// installed on `app`.
bool installChineseTranslation(QCoreApplication& app);

}  // namespace dupsweep::entry

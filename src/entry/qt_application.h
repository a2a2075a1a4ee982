#pragma once
// The QApplication the dialog runs in. The component uses the host's when the host has one;
// otherwise it makes one on the first call and keeps it for the life of the process (the module
// is linked never to be unloaded, so the application's code stays mapped).
//
// Qt ends the process when a platform plugin cannot be started, so before making the application
// the component checks that the platform Qt would choose can open a display: offscreen, minimal
// and vnc need none; xcb needs an X server that accepts a connection; wayland needs a compositor
// socket. A call that cannot show windows fails with an Error instead of taking the host down.

#include <string>

class QApplication;

namespace dupsweep::entry {

// Why no QApplication can be started in this process, or an empty string when one can. Reads
// QT_QPA_PLATFORM (a ";"-separated list, options after ":" ignored) or, when it is unset, the
// platforms Qt chooses by default from DISPLAY, WAYLAND_DISPLAY and XDG_SESSION_TYPE.
std::string displayProblem();

// The process's QApplication, made on first use. Throws Error when the host's application object
// is not a QApplication, when it lives on another thread than the caller, or when
// displayProblem() names a problem.
QApplication& ensureApplication();

}  // namespace dupsweep::entry

#pragma once
// Helpers for tests of real widgets on Qt's offscreen platform. The QApplication itself is made
// once for the whole test program by the environment in qt_environment.cpp.

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <ostream>

// Shows a QString as its text in test failure messages.
inline void PrintTo(const QString& text, std::ostream* os) {
  *os << '"' << text.toStdString() << '"';
}

namespace dupsweep::testing {

// Counts the tests that have ended (the environment in qt_environment.cpp adds one after each).
int& testsEnded();

// Once the next modal loop runs, calls `action` with its modal window (which must be a W); the
// action is expected to end the loop. Re-arms itself until a modal W is up, or until the test
// that armed it ends: an action waiting for a window that never came must not act, with
// references to a finished test's locals, on a later test's window.
template <class W>
void whenModal(std::function<void(W*)> action, int test = testsEnded()) {
  QTimer::singleShot(0, [action, test] {
    if (test != testsEnded()) return;
    if (auto* w = qobject_cast<W*>(QApplication::activeModalWidget()))
      action(w);
    else
      whenModal<W>(action, test);
  });
}

}  // namespace dupsweep::testing

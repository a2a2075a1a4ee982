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

// Once the next modal loop runs, calls `action` with its modal window (which must be a W); the
// action is expected to end the loop. Re-arms itself until a modal W is up.
template <class W>
void whenModal(std::function<void(W*)> action) {
  QTimer::singleShot(0, [action] {
    if (auto* w = qobject_cast<W*>(QApplication::activeModalWidget()))
      action(w);
    else
      whenModal<W>(action);
  });
}

}  // namespace dupsweep::testing

#pragma once
// The window framework's handling of event handlers: every handler of a window runs inside
// runHandler, which shows a failure that escapes the handler by the default error display and
// returns normally, so that no exception ever reaches Qt's event loop and the window stays usable.

#include <functional>
#include <utility>

namespace dupsweep::ui {

// Runs `handler`. A std::exception escaping it is shown by the default error display with its
// what() text; any other exception with a fixed text. Never throws.
void runHandler(const std::function<void()>& handler) noexcept;

// A slot for QObject::connect that runs `receiver->*handler` inside runHandler. The slot takes the
// handler's own parameters; Qt drops the signal's extra arguments.
//   connect(button, &QPushButton::clicked, this, guarded(this, &TfrmX::cmdOkClick));
template <class Receiver, class... Args>
auto guarded(Receiver* receiver, void (Receiver::*handler)(Args...)) {
  return [receiver, handler](Args... args) {
    runHandler([&] { (receiver->*handler)(std::forward<Args>(args)...); });
  };
}

}  // namespace dupsweep::ui

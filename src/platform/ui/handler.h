#pragma once
// Every window handler runs inside runHandler, so no exception reaches Qt's event loop and the
// window stays usable.

#include <functional>
#include <utility>

namespace dupsweep::ui {

// A std::exception escaping `handler` is shown by the default error display with its what(), any
// other with a fixed text. Never throws.
void runHandler(const std::function<void()>& handler) noexcept;

// A slot running `receiver->*handler` inside runHandler; Qt drops the signal's extra arguments:
//   connect(button, &QPushButton::clicked, this, guarded(this, &TfrmX::cmdOkClick));
template <class Receiver, class... Args>
auto guarded(Receiver* receiver, void (Receiver::*handler)(Args...)) {
  return [receiver, handler](Args... args) {
    runHandler([&] { (receiver->*handler)(std::forward<Args>(args)...); });
  };
}

}  // namespace dupsweep::ui

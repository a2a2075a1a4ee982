#include "platform/ui/handler.h"

#include <exception>

#include "platform/ui/messages.h"

namespace dupsweep::ui {
namespace {

// Shows a failure; a failure of the display itself (no memory left for the box) is dropped,
// since the only place left for it would be Qt's event loop, which must never see an exception.
void showQuietly(const char* message) noexcept {
  try {
    showDefaultError(message);
  } catch (...) {
  }
}

}  // namespace

void runHandler(const std::function<void()>& handler) noexcept {
  try {
    handler();
  } catch (const std::exception& e) {
    showQuietly(e.what());
  } catch (...) {
    showQuietly("An unknown error occurred");
  }
}

}  // namespace dupsweep::ui

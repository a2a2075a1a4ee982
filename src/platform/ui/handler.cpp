#include "platform/ui/handler.h"

#include <exception>

#include "platform/ui/messages.h"

namespace dupsweep::ui {
namespace {

// A failure of the display itself is dropped: the only place left for it would be Qt's event loop.
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

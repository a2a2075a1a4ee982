#include "platform/ui/scriptedmessages.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace dupsweep::ui {

int ScriptedMessageService::show(const Message& message) {
  shown.push_back(message);
  if (answers.empty()) {
    const int closed = closeAnswerOf(message.style);
    if (closed == 0)
      throw std::logic_error("no scripted answer for the message box \"" + message.text + "\"");
    return closed;
  }
  const int answer = answers.front();
  answers.pop_front();
  const std::vector<int> buttons = buttonsOf(message.style);
  if (std::find(buttons.begin(), buttons.end(), answer) == buttons.end())
    throw std::logic_error("scripted answer " + std::to_string(answer) +
                           " is no button of the message box \"" + message.text + "\"");
  return answer;
}

ScopedScriptedMessages::ScopedScriptedMessages() {
  auto service = std::make_unique<ScriptedMessageService>();
  service_ = service.get();
  previous_ = setMessageService(std::move(service));
}

ScopedScriptedMessages::~ScopedScriptedMessages() {
  setMessageService(std::move(previous_));
}

}  // namespace dupsweep::ui

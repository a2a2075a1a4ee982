#pragma once
// A message service for tests: it records every message shown and answers from a queue of button
// ids, standing in for the operator.

#include <algorithm>
#include <deque>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/ui/messages.h"

namespace dupsweep::ui {

class ScriptedMessageService : public MessageService {
 public:
  // Records the message and answers with the next queued id; with an empty queue, as closing
  // the box would (closeAnswerOf). Throws std::logic_error when the queued id is not a button of
  // the box, or when the queue is empty for a box that cannot be closed.
  int show(const Message& message) override {
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

  std::vector<Message> shown;  // every message, oldest first
  std::deque<int> answers;     // the operator's next answers, front first
};

// Installs a ScriptedMessageService for the life of this object and restores the previous
// service afterwards.
class ScopedScriptedMessages {
 public:
  ScopedScriptedMessages() {
    auto service = std::make_unique<ScriptedMessageService>();
    service_ = service.get();
    previous_ = setMessageService(std::move(service));
  }
  ~ScopedScriptedMessages() { setMessageService(std::move(previous_)); }
  ScopedScriptedMessages(const ScopedScriptedMessages&) = delete;
  ScopedScriptedMessages& operator=(const ScopedScriptedMessages&) = delete;

  ScriptedMessageService& operator*() const { return *service_; }
  ScriptedMessageService* operator->() const { return service_; }

 private:
  ScriptedMessageService* service_;  // owned by the installed service slot
  std::unique_ptr<MessageService> previous_;
};

}  // namespace dupsweep::ui

#pragma once
// A message service for tests: it records every message shown and answers from a queue of button
// ids, standing in for the operator.

#include <deque>
#include <memory>
#include <vector>

#include "platform/ui/messages.h"

namespace dupsweep::ui {

class ScriptedMessageService : public MessageService {
 public:
  // Records the message and answers with the next queued id; with an empty queue, as closing
  // the box would (closeAnswerOf). Throws std::logic_error when the queued id is not a button of
  // the box, or when the queue is empty for a box that cannot be closed.
  int show(const Message& message) override;

  std::vector<Message> shown;  // every message, oldest first
  std::deque<int> answers;     // the operator's next answers, front first
};

// Installs a ScriptedMessageService for the life of this object and restores the previous
// service afterwards.
class ScopedScriptedMessages {
 public:
  ScopedScriptedMessages();
  ~ScopedScriptedMessages();
  ScopedScriptedMessages(const ScopedScriptedMessages&) = delete;
  ScopedScriptedMessages& operator=(const ScopedScriptedMessages&) = delete;

  ScriptedMessageService& operator*() const { return *service_; }
  ScriptedMessageService* operator->() const { return service_; }

 private:
  ScriptedMessageService* service_;  // owned by the installed service slot
  std::unique_ptr<MessageService> previous_;
};

}  // namespace dupsweep::ui

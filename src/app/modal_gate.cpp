#include "app/modal_gate.h"

namespace quenzil {

void ModalGate::WhenClear(std::function<void()> action) {
  if (clear() && waiting_.empty()) {
    action();
    return;
  }
  waiting_.push_back(std::move(action));
  look_again_();
}

void ModalGate::Retry() {
  if (waiting_.empty()) return;
  if (!clear()) {
    look_again_();
    return;
  }
  const std::function<void()> action = std::move(waiting_.front());
  waiting_.pop_front();
  if (!waiting_.empty()) look_again_();
  action();
}

}  // namespace quenzil

// One box at a time: counts the program's boxes, dialogs and menus that are
// up, and holds back what would open another until they are all closed.
// The count is kept by a scope guard, so a box that fails cannot leave it
// wrong.
#pragma once

#include <deque>
#include <functional>
#include <utility>

namespace quenzil {

class ModalGate {
 public:
  // `look_again` asks for Retry to be called a little later (a timer).
  explicit ModalGate(std::function<void()> look_again) : look_again_(std::move(look_again)) {}

  // A box, dialog or menu is up while it lives.
  class Scope {
   public:
    explicit Scope(ModalGate& gate) : gate_(gate) { ++gate_.depth_; }
    ~Scope() { --gate_.depth_; }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    ModalGate& gate_;
  };

  bool clear() const { return depth_ == 0; }
  // Runs the action at once when nothing is up and nothing waits, else
  // after what is up has closed, in turn.
  void WhenClear(std::function<void()> action);
  // The later look: runs the next waiting action if nothing is up.
  void Retry();
  // Drops what waits (the program ends).
  void Drop() { waiting_.clear(); }

 private:
  int depth_ = 0;
  std::deque<std::function<void()>> waiting_;
  std::function<void()> look_again_;
};

}  // namespace quenzil

// Named one-shot timers of a shell: each is one member line where it is
// used, with what it does when it fires. The window arms them by number;
// the numbers are handed out here, so a new timer touches nothing else.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quenzil {

// What the platform offers: a one-shot timer by number, replaced when armed
// again. The name is for people reading a test or a log.
class TimerArming {
 public:
  virtual ~TimerArming() = default;
  virtual void ArmTimer(unsigned id, std::string_view name, std::chrono::milliseconds delay) = 0;
  virtual void DisarmTimer(unsigned id) = 0;
};

class OneShot;

class OneShotTimers {
 public:
  // Numbers from `first_id` up are this facility's.
  OneShotTimers(TimerArming& arming, unsigned first_id) : arming_(arming), next_id_(first_id) {}
  OneShotTimers(const OneShotTimers&) = delete;
  OneShotTimers& operator=(const OneShotTimers&) = delete;
  // A timer fired: runs its action; false when the number is none of these.
  bool Fire(unsigned id);

 private:
  friend class OneShot;
  unsigned Add(OneShot& timer);
  TimerArming& arming_;
  unsigned next_id_;
  std::vector<std::pair<unsigned, OneShot*>> timers_;
};

class OneShot {
 public:
  OneShot(OneShotTimers& timers, std::string name, std::function<void()> fire)
      : timers_(timers), name_(std::move(name)), fire_(std::move(fire)), id_(timers.Add(*this)) {}
  OneShot(const OneShot&) = delete;
  OneShot& operator=(const OneShot&) = delete;
  void Start(std::chrono::milliseconds delay) { timers_.arming_.ArmTimer(id_, name_, delay); }
  void Stop() { timers_.arming_.DisarmTimer(id_); }

 private:
  friend class OneShotTimers;
  OneShotTimers& timers_;
  std::string name_;
  std::function<void()> fire_;
  unsigned id_;
};

inline unsigned OneShotTimers::Add(OneShot& timer) {
  timers_.emplace_back(next_id_, &timer);
  return next_id_++;
}

inline bool OneShotTimers::Fire(unsigned id) {
  for (const auto& [timer_id, timer] : timers_) {
    if (timer_id != id) continue;
    timer->fire_();
    return true;
  }
  return false;
}

}  // namespace quenzil

// Move-only owners of platform handles, one type per handle kind, and a
// scope guard. A kind is a traits type: the handle's type, the value that
// means "none" for it, and how it is closed. The template needs no platform
// header; the Windows kinds are declared once, in common/handles_win32.h.
#pragma once

#include <type_traits>
#include <utility>

namespace quenzil {

// The common kind: `Invalid` (a constant) means none, `Close` closes.
template <typename HandleType, auto Close, HandleType InvalidValue = HandleType{}>
struct ClosedBy {
  using Handle = HandleType;
  static constexpr Handle Invalid() { return InvalidValue; }
  static void Free(Handle handle) { Close(handle); }
};

template <typename Traits>
class Unique {
 public:
  using Handle = typename Traits::Handle;

  Unique() = default;
  explicit Unique(Handle handle) : handle_(handle) {}
  Unique(const Unique&) = delete;
  Unique& operator=(const Unique&) = delete;
  Unique(Unique&& other) noexcept : handle_(other.release()) {}
  Unique& operator=(Unique&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~Unique() { reset(); }

  Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != Traits::Invalid(); }
  Handle release() { return std::exchange(handle_, Traits::Invalid()); }
  void reset(Handle handle = Traits::Invalid()) {
    Handle old = std::exchange(handle_, handle);
    if (old != Traits::Invalid()) Traits::Free(old);
  }
  // For out-parameters: frees the current handle first.
  Handle* put() {
    reset();
    return &handle_;
  }

 private:
  Handle handle_ = Traits::Invalid();
};

// Runs a callable when the scope ends, unless dismissed.
template <typename Fn>
class ScopeExit {
 public:
  explicit ScopeExit(Fn fn) : fn_(std::move(fn)) {}
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;
  ~ScopeExit() {
    if (armed_) fn_();
  }
  void dismiss() { armed_ = false; }

 private:
  Fn fn_;
  bool armed_ = true;
};

template <typename Fn>
[[nodiscard]] ScopeExit<Fn> scope_exit(Fn fn) {
  return ScopeExit<Fn>(std::move(fn));
}

}  // namespace quenzil

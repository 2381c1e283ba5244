// Move-only owners of platform handles, one type per handle kind, and a
// scope guard. The template needs no platform header; the aliases for each
// kind live next to the code that uses them, e.g.
//   using UniqueIcon = UniqueAny<HICON, decltype(&::DestroyIcon), ::DestroyIcon>;
#pragma once

#include <type_traits>
#include <utility>

namespace quenzil {

template <typename Handle, typename CloseFn, CloseFn Close, Handle Invalid = Handle{}>
class UniqueAny {
 public:
  UniqueAny() = default;
  explicit UniqueAny(Handle handle) : handle_(handle) {}
  UniqueAny(const UniqueAny&) = delete;
  UniqueAny& operator=(const UniqueAny&) = delete;
  UniqueAny(UniqueAny&& other) noexcept : handle_(other.release()) {}
  UniqueAny& operator=(UniqueAny&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~UniqueAny() { reset(); }

  Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != Invalid; }
  Handle release() { return std::exchange(handle_, Invalid); }
  void reset(Handle handle = Invalid) {
    Handle old = std::exchange(handle_, handle);
    if (old != Invalid) Close(old);
  }
  // For out-parameters: frees the current handle first.
  Handle* put() {
    reset();
    return &handle_;
  }

 private:
  Handle handle_ = Invalid;
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

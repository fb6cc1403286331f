// RAII owners for Win32 handles: one traits struct per handle kind, knowing
// its empty value and its close function, plus a scope guard for
// commit/abort paths.
#pragma once

#include <windows.h>

#include <utility>

namespace qv {

template <typename Traits>
class Unique {
public:
  using Type = typename Traits::Type;

  Unique() noexcept = default;
  explicit Unique(Type value) noexcept : value_(value) {}
  Unique(const Unique&) = delete;
  Unique& operator=(const Unique&) = delete;
  Unique(Unique&& other) noexcept : value_(other.release()) {}
  Unique& operator=(Unique&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~Unique() { reset(); }

  Type get() const noexcept { return value_; }
  explicit operator bool() const noexcept { return value_ != Traits::Empty(); }
  Type release() noexcept { return std::exchange(value_, Traits::Empty()); }
  void reset(Type value = Traits::Empty()) noexcept {
    if (value_ != Traits::Empty()) Traits::Close(value_);
    value_ = value;
  }
  // For out-parameters of Win32 calls.
  Type* put() noexcept {
    reset();
    return &value_;
  }

private:
  Type value_ = Traits::Empty();
};

struct KernelHandleTraits {
  using Type = HANDLE;
  static Type Empty() { return nullptr; }
  static void Close(Type h) { CloseHandle(h); }
};
struct FileHandleTraits {
  using Type = HANDLE;
  static Type Empty() { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) { CloseHandle(h); }
};
struct FindHandleTraits {
  using Type = HANDLE;
  static Type Empty() { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) { FindClose(h); }
};
struct RegKeyTraits {
  using Type = HKEY;
  static Type Empty() { return nullptr; }
  static void Close(Type h) { RegCloseKey(h); }
};
struct ModuleTraits {
  using Type = HMODULE;
  static Type Empty() { return nullptr; }
  static void Close(Type h) { FreeLibrary(h); }
};
struct LocalMemoryTraits {
  using Type = HLOCAL;
  static Type Empty() { return nullptr; }
  static void Close(Type h) { LocalFree(h); }
};

using UniqueHandle = Unique<KernelHandleTraits>;
using UniqueFile = Unique<FileHandleTraits>;
using UniqueFind = Unique<FindHandleTraits>;
using UniqueKey = Unique<RegKeyTraits>;
using UniqueModule = Unique<ModuleTraits>;
using UniqueLocal = Unique<LocalMemoryTraits>;

// Runs its action at scope exit unless released.
template <typename F>
class ScopeGuard {
public:
  explicit ScopeGuard(F action) : action_(std::move(action)) {}
  ScopeGuard(const ScopeGuard&) = delete;
  ScopeGuard& operator=(const ScopeGuard&) = delete;
  ~ScopeGuard() {
    if (armed_) action_();
  }
  void release() noexcept { armed_ = false; }

private:
  F action_;
  bool armed_ = true;
};

}  // namespace qv

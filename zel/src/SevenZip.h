// Glue between the module and 7z.dll: 7-Zip's interface headers, a minimal
// COM object base and smart pointer, PROPVARIANT reading, the loader that
// finds 7z.dll by full path only, and the module's failure type.
#pragma once

#include <windows.h>
// COM and PROPVARIANT declarations, which WIN32_LEAN_AND_MEAN leaves out.
#include <ole2.h>
#include <propidl.h>

// 7-Zip's interface headers (only the declarations; no 7-Zip code is compiled
// into the module).
#include "7zip/Archive/IArchive.h"
#include "7zip/IPassword.h"
#include "7zip/PropID.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <utility>

#include "zel/zel.h"

namespace zel {

// A failed operation: one of the ZEL_E_* codes. Thrown inside the module and
// turned into GetLastArchiveError's code at the export boundary.
struct Failure {
  uint32_t code;
};

[[noreturn]] inline void Fail(uint32_t code) { throw Failure{code}; }

// The module's code for an HRESULT that came back from 7-Zip; `otherwise`
// for codes with no better meaning in context.
uint32_t CodeFromHresult(HRESULT hr, uint32_t otherwise);

// Throws for a failed HRESULT.
inline void Check(HRESULT hr, uint32_t otherwise) {
  if (hr != S_OK) Fail(CodeFromHresult(hr, otherwise));
}

// Runs an action at scope exit.
template <typename F>
class ScopeExit {
public:
  explicit ScopeExit(F action) : action_(std::move(action)) {}
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;
  ~ScopeExit() { action_(); }

private:
  F action_;
};

// Owning pointer to a COM interface.
template <typename T>
class ComPtr {
public:
  ComPtr() = default;
  explicit ComPtr(T* adopted) : p_(adopted) {}
  ComPtr(const ComPtr& other) : p_(other.p_) {
    if (p_) p_->AddRef();
  }
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~ComPtr() {
    if (p_) p_->Release();
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  T** put() {
    if (p_) p_->Release();
    p_ = nullptr;
    return &p_;
  }
  void** putVoid() { return reinterpret_cast<void**>(put()); }

private:
  T* p_ = nullptr;
};

// The IID of each 7-Zip interface the module implements or asks for.
template <typename I>
const IID& IidOf();

// Base of the module's COM objects: reference counting and QueryInterface
// over the listed interfaces (and their bases, listed explicitly). One
// QueryInterface/AddRef/Release overrides those of every base at once.
template <typename... Ifaces>
class ComObject : public Ifaces... {
public:
  ComObject() = default;
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;
  virtual ~ComObject() = default;

  STDMETHOD(QueryInterface)(REFIID iid, void** out) noexcept override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown)) {
      *out = static_cast<IUnknown*>(static_cast<First*>(this));
    } else {
      if (!(... || Match<Ifaces>(iid, out))) *out = QueryBase(iid);
    }
    if (!*out) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHOD_(ULONG, AddRef)() noexcept override { return ++refs_; }
  STDMETHOD_(ULONG, Release)() noexcept override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

  // Base interfaces reachable through a listed interface, e.g. IProgress
  // through IArchiveExtractCallback.
  virtual void* QueryBase(REFIID) { return nullptr; }

private:
  using First = std::tuple_element_t<0, std::tuple<Ifaces...>>;

  template <typename I>
  bool Match(REFIID iid, void** out) {
    if (!IsEqualIID(iid, IidOf<I>())) return false;
    *out = static_cast<I*>(this);
    return true;
  }

  std::atomic<ULONG> refs_{1};
};

// Creates a COM object whose one initial reference goes to the ComPtr.
template <typename T, typename... Args>
ComPtr<T> MakeCom(Args&&... args) {
  return ComPtr<T>(new T(std::forward<Args>(args)...));
}

// PROPVARIANT owner.
class PropVariant {
public:
  PropVariant() { PropVariantInit(&v_); }
  PropVariant(const PropVariant&) = delete;
  PropVariant& operator=(const PropVariant&) = delete;
  ~PropVariant() { Clear(); }
  PROPVARIANT* get() { return &v_; }
  const PROPVARIANT& operator*() const { return v_; }
  void Clear();

  // Readers that accept the variant types 7-Zip uses for each kind.
  std::optional<std::wstring> String() const;
  std::optional<uint64_t> Unsigned() const;
  std::optional<bool> Bool() const;
  std::optional<FILETIME> Time() const;

private:
  PROPVARIANT v_;
};

// Writers for values handed to 7-Zip; 7-Zip frees them with VariantClear.
HRESULT SetString(PROPVARIANT* value, std::wstring_view text);
void SetBool(PROPVARIANT* value, bool b);
void SetUInt32(PROPVARIANT* value, uint32_t n);
void SetUInt64(PROPVARIANT* value, uint64_t n);
void SetTime(PROPVARIANT* value, const FILETIME& t);
HRESULT StringToBstr(std::wstring_view text, BSTR* out);

// Where 7z.dll comes from. Set once by Set7zipDllDirectory; by default
// zel.lib's own folder.
void SetSevenZipFolder(std::wstring folder);
std::wstring SevenZipFolder();

// Unloads every 7z.dll loaded so far (when zel.lib itself is unloaded).
void ReleaseSevenZip();

// The 7z format handler objects, from 7z.dll loaded by full path (once).
ComPtr<IInArchive> NewInArchive();
ComPtr<IOutArchive> NewOutArchive();

}  // namespace zel

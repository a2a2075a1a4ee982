#pragma once
// Owning wrappers on either side of the binary interface; they never cross it themselves.

#include <string_view>
#include <utility>

#include "platform/com/oleauto.h"

namespace dupsweep::com {

template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  // Takes over a reference the caller already holds.
  explicit ComPtr(T* p) noexcept : p_(p) {}
  ComPtr(const ComPtr& other) noexcept : p_(other.p_) {
    if (p_) p_->AddRef();
  }
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~ComPtr() { reset(); }

  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  void reset() noexcept {
    if (p_) std::exchange(p_, nullptr)->Release();
  }
  // Releases the current pointer; the slot for an out parameter.
  T** put() noexcept {
    reset();
    return &p_;
  }
  void** putVoid() noexcept { return reinterpret_cast<void**>(put()); }
  T* detach() noexcept { return std::exchange(p_, nullptr); }

 private:
  T* p_ = nullptr;
};

class BString {
 public:
  BString() = default;
  explicit BString(std::u16string_view text)
      : b_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  BString(const BString&) = delete;
  BString& operator=(const BString&) = delete;
  BString(BString&& other) noexcept : b_(std::exchange(other.b_, nullptr)) {}
  BString& operator=(BString&& other) noexcept {
    std::swap(b_, other.b_);
    return *this;
  }
  ~BString() { SysFreeString(b_); }

  BSTR get() const noexcept { return b_; }
  BSTR* put() noexcept {
    SysFreeString(std::exchange(b_, nullptr));
    return &b_;
  }
  BSTR detach() noexcept { return std::exchange(b_, nullptr); }
  // Empty for a null BSTR.
  std::u16string_view view() const noexcept { return view(b_); }
  static std::u16string_view view(BSTR b) noexcept { return {b ? b : u"", SysStringLen(b)}; }

 private:
  BSTR b_ = nullptr;
};

class Variant {
 public:
  Variant() noexcept { VariantInit(&v_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  ~Variant() { VariantClear(&v_); }
  VARIANT* ptr() noexcept { return &v_; }
  VARIANT& get() noexcept { return v_; }
  const VARIANT& get() const noexcept { return v_; }

 private:
  VARIANT v_;
};

}  // namespace dupsweep::com

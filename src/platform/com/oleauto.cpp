#include "platform/com/oleauto.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <string>

namespace dupsweep::com {

namespace {

// Largest character count whose byte length still fits the 4-byte prefix.
constexpr UINT kMaxBstrChars = (std::numeric_limits<std::uint32_t>::max() - 8) / sizeof(OLECHAR);

std::size_t stringLength(const OLECHAR* psz) noexcept {
  std::size_t n = 0;
  while (psz[n] != 0) ++n;
  return n;
}

}  // namespace

BSTR SysAllocStringLen(const OLECHAR* pch, UINT len) noexcept {
  if (len > kMaxBstrChars) return nullptr;
  const std::uint32_t bytes = len * static_cast<std::uint32_t>(sizeof(OLECHAR));
  auto* block =
      static_cast<unsigned char*>(std::malloc(sizeof(std::uint32_t) + bytes + sizeof(OLECHAR)));
  if (block == nullptr) return nullptr;
  std::memcpy(block, &bytes, sizeof bytes);
  auto* chars = reinterpret_cast<OLECHAR*>(block + sizeof(std::uint32_t));
  if (pch != nullptr)
    std::memcpy(chars, pch, bytes);
  else
    std::memset(chars, 0, bytes);
  chars[len] = 0;
  return chars;
}

BSTR SysAllocString(const OLECHAR* psz) noexcept {
  if (psz == nullptr) return nullptr;
  const std::size_t n = stringLength(psz);
  if (n > kMaxBstrChars) return nullptr;
  return SysAllocStringLen(psz, static_cast<UINT>(n));
}

void SysFreeString(BSTR bstr) noexcept {
  if (bstr != nullptr) std::free(reinterpret_cast<unsigned char*>(bstr) - sizeof(std::uint32_t));
}

UINT SysStringByteLen(BSTR bstr) noexcept {
  if (bstr == nullptr) return 0;
  std::uint32_t bytes;
  std::memcpy(&bytes, reinterpret_cast<unsigned char*>(bstr) - sizeof(std::uint32_t), sizeof bytes);
  return bytes;
}

UINT SysStringLen(BSTR bstr) noexcept {
  return SysStringByteLen(bstr) / static_cast<UINT>(sizeof(OLECHAR));
}

namespace {

bool isSupportedBaseType(VARTYPE vt) noexcept {
  switch (vt) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_I2:
    case VT_I4:
    case VT_BOOL:
    case VT_BSTR:
    case VT_ERROR:
    case VT_UNKNOWN:
    case VT_DISPATCH:
      return true;
    default:
      return false;
  }
}

bool isSupportedType(VARTYPE vt) noexcept {
  if (vt & VT_BYREF) {
    const VARTYPE base = vt & ~VT_BYREF;
    return base == VT_VARIANT || (base != VT_EMPTY && base != VT_NULL && isSupportedBaseType(base));
  }
  return isSupportedBaseType(vt);
}

// Reads a number written in decimal, rounding a fraction half to even. nullopt: not a number.
// `overflow` is set when the value lies outside the 64-bit range.
std::optional<std::int64_t> parseDecimal(const OLECHAR* s, UINT len, bool& overflow) noexcept {
  overflow = false;
  UINT i = 0;
  auto isBlank = [](OLECHAR c) { return c == u' ' || c == u'\t'; };
  while (i < len && isBlank(s[i])) ++i;
  bool negative = false;
  if (i < len && (s[i] == u'+' || s[i] == u'-')) negative = s[i++] == u'-';
  std::uint64_t magnitude = 0;
  bool digits = false;
  for (; i < len && s[i] >= u'0' && s[i] <= u'9'; ++i) {
    digits = true;
    const unsigned d = s[i] - u'0';
    if (magnitude > (std::numeric_limits<std::uint64_t>::max() - d) / 10)
      overflow = true;
    else
      magnitude = magnitude * 10 + d;
  }
  int firstFraction = -1;
  bool restNonZero = false;
  if (i < len && s[i] == u'.') {
    ++i;
    for (; i < len && s[i] >= u'0' && s[i] <= u'9'; ++i) {
      digits = true;
      if (firstFraction < 0)
        firstFraction = s[i] - u'0';
      else if (s[i] != u'0')
        restNonZero = true;
    }
  }
  while (i < len && isBlank(s[i])) ++i;
  if (!digits || i != len) return std::nullopt;
  if (firstFraction > 5 || (firstFraction == 5 && (restNonZero || (magnitude & 1)))) {
    if (magnitude == std::numeric_limits<std::uint64_t>::max())
      overflow = true;
    else
      ++magnitude;
  }
  constexpr std::uint64_t kMaxPositive = std::numeric_limits<std::int64_t>::max();
  if (overflow || magnitude > kMaxPositive + (negative ? 1 : 0)) {
    overflow = true;
    return std::nullopt;
  }
  if (negative)
    return magnitude == kMaxPositive + 1 ? std::numeric_limits<std::int64_t>::min()
                                         : -static_cast<std::int64_t>(magnitude);
  return static_cast<std::int64_t>(magnitude);
}

BSTR bstrFromAscii(std::string_view text) noexcept {
  BSTR b = SysAllocStringLen(nullptr, static_cast<UINT>(text.size()));
  if (b != nullptr)
    for (std::size_t i = 0; i < text.size(); ++i) b[i] = static_cast<OLECHAR>(text[i]);
  return b;
}

bool equalsIgnoringAsciiCase(const OLECHAR* s, UINT len, std::string_view word) noexcept {
  if (len != word.size()) return false;
  for (UINT i = 0; i < len; ++i) {
    OLECHAR c = s[i];
    if (c >= u'A' && c <= u'Z') c = c - u'A' + u'a';
    char w = word[i];
    if (w >= 'A' && w <= 'Z') w = static_cast<char>(w - 'A' + 'a');
    if (c != static_cast<OLECHAR>(w)) return false;
  }
  return true;
}

// The value of a scalar source as a 64-bit integer, or the failure.
HRESULT integerOf(const VARIANT& src, std::int64_t& value) noexcept {
  switch (src.vt) {
    case VT_EMPTY:
      value = 0;
      return S_OK;
    case VT_I2:
      value = src.iVal;
      return S_OK;
    case VT_I4:
      value = src.lVal;
      return S_OK;
    case VT_BOOL:
      value = src.boolVal ? -1 : 0;
      return S_OK;
    case VT_BSTR: {
      bool overflow = false;
      const auto parsed = parseDecimal(src.bstrVal, SysStringLen(src.bstrVal), overflow);
      if (overflow) return DISP_E_OVERFLOW;
      if (!parsed) return DISP_E_TYPEMISMATCH;
      value = *parsed;
      return S_OK;
    }
    case VT_NULL:
    case VT_ERROR:
    case VT_UNKNOWN:
    case VT_DISPATCH:
      return DISP_E_TYPEMISMATCH;
    default:
      return DISP_E_BADVARTYPE;
  }
}

// Converts a non-reference source into `out` (which starts VT_EMPTY).
HRESULT convert(const VARIANT& src, USHORT flags, VARTYPE vt, VARIANT& out) noexcept {
  if (src.vt == vt) return VariantCopy(&out, &src);
  switch (vt) {
    case VT_I2:
    case VT_I4: {
      std::int64_t value = 0;
      const HRESULT hr = integerOf(src, value);
      if (FAILED(hr)) return hr;
      const std::int64_t lo =
          vt == VT_I2 ? std::numeric_limits<SHORT>::min() : std::numeric_limits<LONG>::min();
      const std::int64_t hi =
          vt == VT_I2 ? std::numeric_limits<SHORT>::max() : std::numeric_limits<LONG>::max();
      if (value < lo || value > hi) return DISP_E_OVERFLOW;
      out.vt = vt;
      if (vt == VT_I2)
        out.iVal = static_cast<SHORT>(value);
      else
        out.lVal = static_cast<LONG>(value);
      return S_OK;
    }
    case VT_BOOL: {
      if (src.vt == VT_BSTR) {
        const UINT len = SysStringLen(src.bstrVal);
        if (equalsIgnoringAsciiCase(src.bstrVal, len, "true") ||
            equalsIgnoringAsciiCase(src.bstrVal, len, "false")) {
          out.vt = VT_BOOL;
          out.boolVal =
              equalsIgnoringAsciiCase(src.bstrVal, len, "true") ? VARIANT_TRUE : VARIANT_FALSE;
          return S_OK;
        }
      }
      std::int64_t value = 0;
      const HRESULT hr = integerOf(src, value);
      if (FAILED(hr)) return hr;
      out.vt = VT_BOOL;
      out.boolVal = value != 0 ? VARIANT_TRUE : VARIANT_FALSE;
      return S_OK;
    }
    case VT_BSTR: {
      std::string text;
      switch (src.vt) {
        case VT_EMPTY:
          break;
        case VT_I2:
          text = std::to_string(src.iVal);
          break;
        case VT_I4:
          text = std::to_string(src.lVal);
          break;
        case VT_BOOL:
          if (flags & VARIANT_ALPHABOOL)
            text = src.boolVal ? "True" : "False";
          else
            text = src.boolVal ? "-1" : "0";
          break;
        case VT_NULL:
        case VT_ERROR:
        case VT_UNKNOWN:
        case VT_DISPATCH:
          return DISP_E_TYPEMISMATCH;
        default:
          return DISP_E_BADVARTYPE;
      }
      BSTR b = bstrFromAscii(text);
      if (b == nullptr) return E_OUTOFMEMORY;
      out.vt = VT_BSTR;
      out.bstrVal = b;
      return S_OK;
    }
    case VT_EMPTY:
    case VT_NULL:
      out.vt = vt;
      return S_OK;
    default:
      return isSupportedType(vt) ? DISP_E_TYPEMISMATCH : DISP_E_BADVARTYPE;
  }
}

}  // namespace

void VariantInit(VARIANTARG* pvarg) noexcept {
  if (pvarg != nullptr) pvarg->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANTARG* pvarg) noexcept {
  if (pvarg == nullptr) return E_INVALIDARG;
  if (!isSupportedType(pvarg->vt)) return DISP_E_BADVARTYPE;
  switch (pvarg->vt) {
    case VT_BSTR:
      SysFreeString(pvarg->bstrVal);
      break;
    case VT_UNKNOWN:
      if (pvarg->punkVal != nullptr) pvarg->punkVal->Release();
      break;
    case VT_DISPATCH:
      if (pvarg->pdispVal != nullptr) pvarg->pdispVal->Release();
      break;
    default:
      break;
  }
  pvarg->vt = VT_EMPTY;
  pvarg->llVal = 0;
  return S_OK;
}

HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) noexcept {
  if (pvargDest == nullptr || pvargSrc == nullptr) return E_INVALIDARG;
  if (!isSupportedType(pvargSrc->vt)) return DISP_E_BADVARTYPE;
  if (pvargDest == pvargSrc) return S_OK;
  VARIANT copy = *pvargSrc;
  if (copy.vt == VT_BSTR && copy.bstrVal != nullptr) {
    copy.bstrVal = SysAllocStringLen(pvargSrc->bstrVal, SysStringLen(pvargSrc->bstrVal));
    if (copy.bstrVal == nullptr) return E_OUTOFMEMORY;
  } else if ((copy.vt == VT_UNKNOWN || copy.vt == VT_DISPATCH) && copy.punkVal != nullptr) {
    copy.punkVal->AddRef();
  }
  const HRESULT hr = VariantClear(pvargDest);
  if (FAILED(hr)) {
    VariantClear(&copy);
    return hr;
  }
  *pvargDest = copy;
  return S_OK;
}

HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags,
                          VARTYPE vt) noexcept {
  if (pvargDest == nullptr || pvarSrc == nullptr) return E_INVALIDARG;
  if (!isSupportedType(pvarSrc->vt) || (vt & VT_BYREF)) return DISP_E_BADVARTYPE;
  VARIANT source;
  if (pvarSrc->vt & VT_BYREF) {
    if (pvarSrc->byref == nullptr) return E_INVALIDARG;
    const VARTYPE base = pvarSrc->vt & ~VT_BYREF;
    if (base == VT_VARIANT) {
      const VARIANT* inner = pvarSrc->pvarVal;
      if (inner->vt == (VT_BYREF | VT_VARIANT)) return DISP_E_BADVARTYPE;
      return VariantChangeType(pvargDest, inner, wFlags, vt);
    }
    source.vt = base;
    switch (base) {
      case VT_I2:
        source.iVal = *pvarSrc->piVal;
        break;
      case VT_I4:
        source.lVal = *pvarSrc->plVal;
        break;
      case VT_BOOL:
        source.boolVal = *pvarSrc->pboolVal;
        break;
      case VT_ERROR:
        source.scode = *pvarSrc->pscode;
        break;
      case VT_BSTR:
        source.bstrVal = *pvarSrc->pbstrVal;
        break;
      case VT_UNKNOWN:
        source.punkVal = *pvarSrc->ppunkVal;
        break;
      case VT_DISPATCH:
        source.pdispVal = *pvarSrc->ppdispVal;
        break;
      default:
        return DISP_E_BADVARTYPE;
    }
  } else {
    source = *pvarSrc;
  }
  VARIANT result;
  result.vt = VT_EMPTY;
  const HRESULT hr = convert(source, wFlags, vt, result);
  if (FAILED(hr)) return hr;
  // The source may be the destination: clear only once the result is made.
  const HRESULT cleared = VariantClear(pvargDest);
  if (FAILED(cleared)) {
    VariantClear(&result);
    return cleared;
  }
  *pvargDest = result;
  return S_OK;
}

namespace {

class ErrorInfo final : public IErrorInfo, public ICreateErrorInfo {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IErrorInfo) {
      *ppv = static_cast<IErrorInfo*>(this);
    } else if (riid == IID_ICreateErrorInfo) {
      *ppv = static_cast<ICreateErrorInfo*>(this);
    } else {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

  HRESULT GetGUID(GUID* pGUID) override {
    if (pGUID == nullptr) return E_POINTER;
    *pGUID = guid_;
    return S_OK;
  }
  HRESULT GetSource(BSTR* p) override { return hand(source_, p); }
  HRESULT GetDescription(BSTR* p) override { return hand(description_, p); }
  HRESULT GetHelpFile(BSTR* p) override { return hand(helpFile_, p); }
  HRESULT GetHelpContext(DWORD* p) override {
    if (p == nullptr) return E_POINTER;
    *p = helpContext_;
    return S_OK;
  }

  HRESULT SetGUID(REFGUID rguid) override {
    guid_ = rguid;
    return S_OK;
  }
  HRESULT SetSource(LPOLESTR s) override { return keep(source_, s); }
  HRESULT SetDescription(LPOLESTR s) override { return keep(description_, s); }
  HRESULT SetHelpFile(LPOLESTR s) override { return keep(helpFile_, s); }
  HRESULT SetHelpContext(DWORD context) override {
    helpContext_ = context;
    return S_OK;
  }

 private:
  static HRESULT hand(const std::u16string& text, BSTR* out) noexcept {
    if (out == nullptr) return E_POINTER;
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out == nullptr ? E_OUTOFMEMORY : S_OK;
  }
  static HRESULT keep(std::u16string& field, LPOLESTR text) noexcept {
    try {
      field = text == nullptr ? std::u16string() : std::u16string(text);
      return S_OK;
    } catch (...) {
      return E_OUTOFMEMORY;
    }
  }

  std::atomic<ULONG> refs_{1};
  GUID guid_ = IID_NULL;
  std::u16string source_;
  std::u16string description_;
  std::u16string helpFile_;
  DWORD helpContext_ = 0;
};

// The calling thread's error information; released when the thread ends.
struct ErrorSlot {
  IErrorInfo* info = nullptr;
  ~ErrorSlot() {
    if (info != nullptr) info->Release();
  }
};
thread_local ErrorSlot errorSlot;

}  // namespace

HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo) noexcept {
  if (pperrinfo == nullptr) return E_POINTER;
  auto* info = new (std::nothrow) ErrorInfo;
  *pperrinfo = info;
  return info == nullptr ? E_OUTOFMEMORY : S_OK;
}

HRESULT SetErrorInfo(ULONG, IErrorInfo* perrinfo) noexcept {
  if (perrinfo != nullptr) perrinfo->AddRef();
  IErrorInfo* old = errorSlot.info;
  errorSlot.info = perrinfo;
  if (old != nullptr) old->Release();
  return S_OK;
}

HRESULT GetErrorInfo(ULONG, IErrorInfo** pperrinfo) noexcept {
  if (pperrinfo == nullptr) return E_POINTER;
  *pperrinfo = errorSlot.info;
  errorSlot.info = nullptr;
  return *pperrinfo == nullptr ? S_FALSE : S_OK;
}

}  // namespace dupsweep::com

#pragma once
// The process's automation runtime (BSTR, VARIANT, per-thread error information) in one shared
// library every module links, so the error slot is one per thread for the whole process. BSTRs
// come from malloc, length-prefixed; a null BSTR reads as empty. Nothing here throws.

#include "platform/com/com.h"

#if defined(DUPSWEEP_COMRT_BUILD)
#define DUPSWEEP_COMRT_API __attribute__((visibility("default")))
#else
#define DUPSWEEP_COMRT_API
#endif

namespace dupsweep::com {

// Null for a null `psz` or when out of memory.
DUPSWEEP_COMRT_API BSTR SysAllocString(const OLECHAR* psz) noexcept;

// Zero-filled when `pch` is null; embedded zeros are kept. Null when out of memory.
DUPSWEEP_COMRT_API BSTR SysAllocStringLen(const OLECHAR* pch, UINT len) noexcept;

// A null BSTR is ignored.
DUPSWEEP_COMRT_API void SysFreeString(BSTR bstr) noexcept;

// Characters (0 for null).
DUPSWEEP_COMRT_API UINT SysStringLen(BSTR bstr) noexcept;

// Bytes (0 for null).
DUPSWEEP_COMRT_API UINT SysStringByteLen(BSTR bstr) noexcept;

// VARIANT types: EMPTY, NULL, I2, I4, BOOL, BSTR, ERROR, UNKNOWN, DISPATCH and VT_BYREF of these
// and of VARIANT; others give DISP_E_BADVARTYPE.

// Sets vt to VT_EMPTY; nothing is freed.
DUPSWEEP_COMRT_API void VariantInit(VARIANTARG* pvarg) noexcept;

// Frees what the variant owns (never a VT_BYREF target), leaving it VT_EMPTY. E_INVALIDARG for
// null, DISP_E_BADVARTYPE (variant unchanged) for an unsupported type.
DUPSWEEP_COMRT_API HRESULT VariantClear(VARIANTARG* pvarg) noexcept;

// A deep copy (BSTR copied, interface AddRef'd).
DUPSWEEP_COMRT_API HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) noexcept;

// A VT_BOOL becomes "True"/"False" rather than "-1"/"0".
inline constexpr USHORT VARIANT_ALPHABOOL = 0x2;

// To VT_I2, VT_I4, VT_BOOL or VT_BSTR by the platform's rules (VT_NULL: DISP_E_TYPEMISMATCH; text
// as a decimal, rounded half to even; out of range: DISP_E_OVERFLOW); `pvargDest` may be the
// source and is unchanged on failure.
DUPSWEEP_COMRT_API HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc,
                                             USHORT wFlags, VARTYPE vt) noexcept;

// Answers both ICreateErrorInfo and IErrorInfo. E_POINTER, E_OUTOFMEMORY.
DUPSWEEP_COMRT_API HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo) noexcept;

// `perrinfo` (AddRef'd; null clears) becomes the thread's error information. Always S_OK.
DUPSWEEP_COMRT_API HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo) noexcept;

// Hands the thread's error information over (the caller releases it) and clears the slot; S_FALSE
// with null when there is none.
DUPSWEEP_COMRT_API HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo) noexcept;

}  // namespace dupsweep::com

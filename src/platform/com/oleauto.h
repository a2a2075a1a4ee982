#pragma once
// The process's automation runtime: BSTR allocation, VARIANT handling and the per-thread error
// information. These live in one shared library, libdupsweep_comrt.so, that every module of the
// process (the host program and each component it loads) links, just as every module on the
// platform reaches the same system automation library. That is what makes the thread's error
// information one slot per thread for the whole process (a component sets it, the host reads it),
// and what keeps an error object alive after the component that made it is unloaded.
//
// BSTR: UTF-16 characters preceded by a 4-byte length in bytes and followed by a terminating zero
// character; the BSTR points at the first character. A null BSTR reads as an empty string. The
// memory comes from malloc, so any module can free a string another module allocated.
//
// No function here throws; failures are HRESULTs (or a null BSTR when memory runs out).

#include "platform/com/com.h"

#if defined(DUPSWEEP_COMRT_BUILD)
#define DUPSWEEP_COMRT_API __attribute__((visibility("default")))
#else
#define DUPSWEEP_COMRT_API
#endif

namespace dupsweep::com {

// ---- BSTR ----

// A new BSTR holding the zero-terminated `psz`; null for a null `psz` or when out of memory.
DUPSWEEP_COMRT_API BSTR SysAllocString(const OLECHAR* psz) noexcept;

// A new BSTR of `len` characters copied from `pch` (zero-filled when `pch` is null); embedded
// zeros are kept. Null when out of memory.
DUPSWEEP_COMRT_API BSTR SysAllocStringLen(const OLECHAR* pch, UINT len) noexcept;

// Frees a BSTR; a null BSTR is ignored.
DUPSWEEP_COMRT_API void SysFreeString(BSTR bstr) noexcept;

// Number of characters of a BSTR (0 for null), from its length prefix.
DUPSWEEP_COMRT_API UINT SysStringLen(BSTR bstr) noexcept;

// Number of bytes of a BSTR (0 for null), from its length prefix.
DUPSWEEP_COMRT_API UINT SysStringByteLen(BSTR bstr) noexcept;

// ---- VARIANT ----
// Supported types: VT_EMPTY, VT_NULL, VT_I2, VT_I4, VT_BOOL, VT_BSTR, VT_ERROR, VT_UNKNOWN,
// VT_DISPATCH, and the VT_BYREF forms of these and of VT_VARIANT. Others give DISP_E_BADVARTYPE.

// Sets vt to VT_EMPTY (nothing else is touched or freed).
DUPSWEEP_COMRT_API void VariantInit(VARIANTARG* pvarg) noexcept;

// Frees what the variant owns (its BSTR, its interface reference; never a VT_BYREF target) and
// leaves it VT_EMPTY. E_INVALIDARG for a null pointer, DISP_E_BADVARTYPE for an unsupported type
// (the variant is then left unchanged).
DUPSWEEP_COMRT_API HRESULT VariantClear(VARIANTARG* pvarg) noexcept;

// Clears `pvargDest` and makes it a deep copy of `pvargSrc` (BSTR copied, interface AddRef'd).
DUPSWEEP_COMRT_API HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) noexcept;

// Flag of VariantChangeType: a VT_BOOL becomes "True"/"False" rather than "-1"/"0".
inline constexpr USHORT VARIANT_ALPHABOOL = 0x2;

// Converts `pvarSrc` (a VT_BYREF source is read through its reference) to type `vt` in
// `pvargDest`, which may be the same variant. Targets VT_I2, VT_I4, VT_BOOL and VT_BSTR, with the
// platform's rules: VT_EMPTY gives 0, false or ""; VT_NULL gives DISP_E_TYPEMISMATCH; a VT_BOOL
// is -1 or 0 as a number; text is read as a decimal number (blanks around it, a sign and a
// fraction rounded half to even allowed), anything else in it gives DISP_E_TYPEMISMATCH; a value
// outside the target's range gives DISP_E_OVERFLOW; numbers become decimal text. On failure
// `pvargDest` is unchanged.
DUPSWEEP_COMRT_API HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc,
                                             USHORT wFlags, VARTYPE vt) noexcept;

// ---- error information of the calling thread ----

// A new, empty error-information object (it answers both ICreateErrorInfo and IErrorInfo).
// E_POINTER for a null out pointer, E_OUTOFMEMORY when it cannot be made.
DUPSWEEP_COMRT_API HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo) noexcept;

// Makes `perrinfo` (AddRef'd; may be null to clear) the calling thread's error information,
// releasing the one it replaces. Always S_OK.
DUPSWEEP_COMRT_API HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo) noexcept;

// Hands the calling thread's error information to the caller (who releases it) and clears the
// slot. S_FALSE with a null result when there is none.
DUPSWEEP_COMRT_API HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo) noexcept;

}  // namespace dupsweep::com

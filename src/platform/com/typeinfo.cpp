// ITypeInfo over a type library description; Invoke calls through the instance's virtual table
// with libffi, after converting each argument to its parameter's type.
#include <ffi.h>

#include <atomic>
#include <cstring>
#include <new>
#include <vector>

#include "platform/com/comptr.h"
#include "platform/com/oleauto.h"
#include "platform/com/typelib.h"
#include "platform/errors.h"

namespace dupsweep::com {

namespace {

bool equalsNoCase(const OLECHAR* a, std::string_view b) noexcept {
  auto fold = [](char16_t c) {
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
  };
  std::size_t i = 0;
  for (; a[i] != 0; ++i)
    if (i >= b.size() || fold(a[i]) != fold(static_cast<unsigned char>(b[i]))) return false;
  return i == b.size();
}

// A BSTR copy of ASCII/UTF-8 text; names in type libraries are ASCII.
BSTR bstrOf(std::string_view text) noexcept {
  BSTR b = SysAllocStringLen(nullptr, static_cast<UINT>(text.size()));
  if (b != nullptr)
    for (std::size_t i = 0; i < text.size(); ++i) b[i] = static_cast<unsigned char>(text[i]);
  return b;
}

// FUNCDESC with the storage its pointers point into; FUNCDESC comes first so that the pointer
// handed out is the holder's address.
struct FuncDescHolder {
  FUNCDESC desc;
  std::vector<ELEMDESC> params;
};
static_assert(offsetof(FuncDescHolder, desc) == 0);

ffi_type* ffiTypeOf(VARTYPE vt) {
  static ffi_type* variantElements[] = {&ffi_type_uint16, &ffi_type_uint16, &ffi_type_uint16,
                                        &ffi_type_uint16, &ffi_type_uint64, &ffi_type_uint64,
                                        nullptr};
  static ffi_type variantType = {0, 0, FFI_TYPE_STRUCT, variantElements};
  switch (vt) {
    case VT_BSTR:
      return &ffi_type_pointer;
    case VT_I4:
      return &ffi_type_sint32;
    case VT_I2:
    case VT_BOOL:
      return &ffi_type_sint16;
    case VT_VARIANT:
      return &variantType;
    default:
      return nullptr;
  }
}

class TypeInfo final : public ITypeInfo {
 public:
  TypeInfo(std::shared_ptr<const TypeLibInfo> lib, const InterfaceInfo* itf, const CoClassInfo* cls)
      : lib_(std::move(lib)), interface_(itf), coclass_(cls) {}

  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ITypeInfo) {
      *ppv = static_cast<ITypeInfo*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

  HRESULT GetTypeAttr(TYPEATTR** pp) override {
    if (pp == nullptr) return E_INVALIDARG;
    auto* a = new (std::nothrow) TYPEATTR{};
    *pp = a;
    if (a == nullptr) return E_OUTOFMEMORY;
    a->lcid = lib_->lcid;
    a->memidConstructor = MEMBERID_NIL;
    a->memidDestructor = MEMBERID_NIL;
    a->cbAlignment = alignof(void*);
    a->tdescAlias.vt = VT_EMPTY;
    if (interface_ != nullptr) {
      a->guid = interface_->iid;
      a->typekind = TKIND_DISPATCH;
      a->cFuncs = static_cast<WORD>(interface_->methods.size());
      a->cImplTypes = 1;  // IDispatch
      a->cbSizeVft = static_cast<WORD>((7 + interface_->methods.size()) * sizeof(void*));
      a->cbSizeInstance = sizeof(void*);
      a->wTypeFlags = interface_->flags;
      a->wMajorVerNum = interface_->majorVersion;
      a->wMinorVerNum = interface_->minorVersion;
    } else {
      a->guid = coclass_->clsid;
      a->typekind = TKIND_COCLASS;
      a->cImplTypes = static_cast<WORD>(coclass_->interfaces.size());
      a->cbSizeInstance = sizeof(void*);
      a->wTypeFlags = coclass_->flags;
      a->wMajorVerNum = coclass_->majorVersion;
      a->wMinorVerNum = coclass_->minorVersion;
    }
    return S_OK;
  }
  void ReleaseTypeAttr(TYPEATTR* p) override { delete p; }

  HRESULT GetFuncDesc(UINT index, FUNCDESC** pp) override {
    if (pp == nullptr) return E_INVALIDARG;
    *pp = nullptr;
    if (interface_ == nullptr || index >= interface_->methods.size()) return TYPE_E_ELEMENTNOTFOUND;
    try {
      const MethodInfo& m = interface_->methods[index];
      auto holder = std::make_unique<FuncDescHolder>();
      FUNCDESC& d = holder->desc;
      std::memset(&d, 0, sizeof d);
      for (const auto& p : m.params) {
        ELEMDESC e{};
        e.tdesc.vt = p.type;
        e.paramdesc.wParamFlags = p.flags;
        holder->params.push_back(e);
      }
      d.memid = m.dispid;
      d.lprgelemdescParam = holder->params.empty() ? nullptr : holder->params.data();
      d.funckind = FUNC_DISPATCH;
      d.invkind = INVOKE_FUNC;
      d.callconv = CC_STDCALL;
      d.cParams = static_cast<SHORT>(m.params.size());
      d.oVft = static_cast<SHORT>(m.vtableSlot * sizeof(void*));
      d.elemdescFunc.tdesc.vt = VT_HRESULT;
      *pp = &holder.release()->desc;
      return S_OK;
    } catch (...) {
      return E_OUTOFMEMORY;
    }
  }
  void ReleaseFuncDesc(FUNCDESC* p) override { delete reinterpret_cast<FuncDescHolder*>(p); }

  HRESULT GetNames(MEMBERID memid, BSTR* names, UINT cMax, UINT* pcNames) override {
    if (names == nullptr || pcNames == nullptr) return E_INVALIDARG;
    *pcNames = 0;
    const MethodInfo* m = interface_ ? interface_->findMethod(memid) : nullptr;
    if (m == nullptr) return TYPE_E_ELEMENTNOTFOUND;
    std::vector<std::string_view> all{m->name};
    for (const auto& p : m->params) all.push_back(p.name);
    for (UINT i = 0; i < cMax && i < all.size(); ++i) {
      names[i] = bstrOf(all[i]);
      if (names[i] == nullptr) {
        for (UINT k = 0; k < i; ++k) SysFreeString(names[k]);
        return E_OUTOFMEMORY;
      }
      *pcNames = i + 1;
    }
    return S_OK;
  }

  HRESULT GetRefTypeOfImplType(UINT index, HREFTYPE* pRef) override {
    if (pRef == nullptr) return E_INVALIDARG;
    if (coclass_ == nullptr || index >= coclass_->interfaces.size()) return TYPE_E_ELEMENTNOTFOUND;
    *pRef = index;
    return S_OK;
  }

  HRESULT GetImplTypeFlags(UINT index, INT* pFlags) override {
    if (pFlags == nullptr) return E_INVALIDARG;
    if (coclass_ == nullptr || index >= coclass_->interfaces.size()) return TYPE_E_ELEMENTNOTFOUND;
    *pFlags = coclass_->interfaces[index].flags;
    return S_OK;
  }

  HRESULT GetIDsOfNames(LPOLESTR* names, UINT cNames, MEMBERID* ids) override {
    if (names == nullptr || ids == nullptr || cNames == 0) return E_INVALIDARG;
    for (UINT i = 0; i < cNames; ++i) ids[i] = DISPID_UNKNOWN;
    if (interface_ == nullptr || names[0] == nullptr) return DISP_E_UNKNOWNNAME;
    const MethodInfo* method = nullptr;
    for (const auto& m : interface_->methods)
      if (equalsNoCase(names[0], m.name)) method = &m;
    if (method == nullptr) return DISP_E_UNKNOWNNAME;
    ids[0] = method->dispid;
    HRESULT hr = S_OK;
    for (UINT i = 1; i < cNames; ++i) {
      for (std::size_t p = 0; p < method->params.size() && names[i] != nullptr; ++p)
        if (equalsNoCase(names[i], method->params[p].name)) ids[i] = static_cast<MEMBERID>(p);
      if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
  }

  HRESULT Invoke(void* instance, MEMBERID memid, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* excepInfo, UINT* argErr) override {
    try {
      return invoke(instance, memid, flags, params, result, excepInfo, argErr);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (...) {
      return E_UNEXPECTED;
    }
  }

  HRESULT GetDocumentation(MEMBERID memid, BSTR* name, BSTR* doc, DWORD* helpContext,
                           BSTR* helpFile) override {
    std::string_view n, d;
    if (memid == MEMBERID_NIL) {
      n = interface_ ? interface_->name : coclass_->name;
      d = interface_ ? interface_->helpString : coclass_->helpString;
    } else {
      const MethodInfo* m = interface_ ? interface_->findMethod(memid) : nullptr;
      if (m == nullptr) return TYPE_E_ELEMENTNOTFOUND;
      n = m->name;
    }
    if (name) *name = bstrOf(n);
    if (doc) *doc = d.empty() ? nullptr : bstrOf(d);
    if (helpContext) *helpContext = 0;
    if (helpFile) *helpFile = nullptr;
    return S_OK;
  }

  HRESULT GetRefTypeInfo(HREFTYPE href, ITypeInfo** pp) override {
    if (pp == nullptr) return E_INVALIDARG;
    *pp = nullptr;
    if (coclass_ == nullptr || href >= coclass_->interfaces.size()) return TYPE_E_ELEMENTNOTFOUND;
    const InterfaceInfo* itf = lib_->findInterface(coclass_->interfaces[href].name);
    if (itf == nullptr) return TYPE_E_ELEMENTNOTFOUND;
    *pp = new (std::nothrow) TypeInfo(lib_, itf, nullptr);
    return *pp == nullptr ? E_OUTOFMEMORY : S_OK;
  }

  HRESULT GetTypeComp(void**) override { return E_NOTIMPL; }
  HRESULT GetVarDesc(UINT, void**) override { return TYPE_E_ELEMENTNOTFOUND; }
  HRESULT GetDllEntry(MEMBERID, INVOKEKIND, BSTR*, BSTR*, WORD*) override { return E_NOTIMPL; }
  HRESULT AddressOfMember(MEMBERID, INVOKEKIND, void**) override { return E_NOTIMPL; }
  HRESULT CreateInstance(IUnknown*, REFIID, void**) override { return E_NOTIMPL; }
  HRESULT GetMops(MEMBERID, BSTR*) override { return E_NOTIMPL; }
  HRESULT GetContainingTypeLib(void**, UINT*) override { return E_NOTIMPL; }
  void ReleaseVarDesc(void*) override {}

 private:
  HRESULT invoke(void* instance, MEMBERID memid, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* excepInfo, UINT* argErr) {
    if (interface_ == nullptr) return E_NOTIMPL;
    if (instance == nullptr || params == nullptr) return E_INVALIDARG;
    const MethodInfo* method = interface_->findMethod(memid);
    if (method == nullptr || !(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
    if (params->cNamedArgs > 0) return DISP_E_NONAMEDARGS;
    const std::size_t count = method->params.size();
    if (params->cArgs != count) return DISP_E_BADPARAMCOUNT;
    if (count > 0 && params->rgvarg == nullptr) return E_INVALIDARG;

    // Arguments arrive last first; convert each to its parameter's type.
    std::vector<Variant> converted(count);
    std::vector<ffi_type*> types{&ffi_type_pointer};
    std::vector<void*> values{&instance};
    for (std::size_t i = 0; i < count; ++i) {
      const UINT position = static_cast<UINT>(count - 1 - i);
      const VARIANT& arg = params->rgvarg[position];
      const VARTYPE type = method->params[i].type;
      HRESULT hr;
      if (type == VT_VARIANT) {
        hr = (arg.vt == (VT_BYREF | VT_VARIANT)) ? VariantCopy(converted[i].ptr(), arg.pvarVal)
                                                 : VariantCopy(converted[i].ptr(), &arg);
      } else {
        hr = VariantChangeType(converted[i].ptr(), &arg, 0, type);
      }
      if (FAILED(hr)) {
        if (argErr != nullptr) *argErr = position;
        return hr;
      }
      VARIANT& v = converted[i].get();
      types.push_back(ffiTypeOf(type));
      switch (type) {
        case VT_BSTR:
          values.push_back(&v.bstrVal);
          break;
        case VT_I4:
          values.push_back(&v.lVal);
          break;
        case VT_I2:
          values.push_back(&v.iVal);
          break;
        case VT_BOOL:
          values.push_back(&v.boolVal);
          break;
        default:
          values.push_back(&v);
          break;
      }
    }

    ffi_cif cif;
    if (ffi_prep_cif(&cif, FFI_DEFAULT_ABI, static_cast<unsigned>(types.size()), &ffi_type_sint32,
                     types.data()) != FFI_OK)
      return E_UNEXPECTED;
    void** vtable = *static_cast<void***>(instance);
    ffi_arg returned = 0;
    ffi_call(&cif, reinterpret_cast<void (*)()>(vtable[method->vtableSlot]), &returned,
             values.data());
    const auto hr = static_cast<HRESULT>(static_cast<std::int32_t>(returned));

    if (FAILED(hr)) {
      if (excepInfo != nullptr) fillExcepInfo(hr, *excepInfo);
      return DISP_E_EXCEPTION;
    }
    if (result != nullptr) VariantInit(result);
    return S_OK;
  }

  static void fillExcepInfo(HRESULT hr, EXCEPINFO& e) {
    std::memset(&e, 0, sizeof e);
    e.scode = hr;
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.put()) != S_OK || !info) return;
    info->GetSource(&e.bstrSource);
    info->GetDescription(&e.bstrDescription);
    info->GetHelpFile(&e.bstrHelpFile);
    info->GetHelpContext(&e.dwHelpContext);
  }

  std::atomic<ULONG> refs_{1};
  std::shared_ptr<const TypeLibInfo> lib_;
  const InterfaceInfo* interface_;
  const CoClassInfo* coclass_;
};

}  // namespace

ITypeInfo* createTypeInfo(std::shared_ptr<const TypeLibInfo> lib, std::string_view name) {
  const InterfaceInfo* itf = lib->findInterface(name);
  const CoClassInfo* cls = nullptr;
  if (itf == nullptr)
    for (const auto& c : lib->coclasses)
      if (c.name == name) cls = &c;
  if (itf == nullptr && cls == nullptr)
    throw Error("Type information missing for " + std::string(name));
  return new TypeInfo(std::move(lib), itf, cls);
}

}  // namespace dupsweep::com

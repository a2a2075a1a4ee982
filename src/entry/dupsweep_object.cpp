#include "entry/dupsweep_object.h"

#include "entry/execute_binding.h"
#include "entry/qt_application.h"
#include "entry/server.h"
#include "platform/com/comptr.h"
#include "platform/text/text.h"

namespace dupsweep::entry {

using namespace dupsweep::com;

TDupsweep::TDupsweep(DupsweepFactory& factory) noexcept : factory_(factory) {
  ComServer::instance().objectCreated();
}

TDupsweep::~TDupsweep() {
  ComServer::instance().objectDestroyed();
}

HRESULT TDupsweep::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IDupsweep) {
    *ppv = static_cast<IDupsweep*>(this);
  } else if (riid == IID_ISupportErrorInfo) {
    *ppv = static_cast<ISupportErrorInfo*>(this);
  } else if (riid == IID_IProvideClassInfo) {
    *ppv = static_cast<IProvideClassInfo*>(this);
  } else {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG TDupsweep::AddRef() {
  return ++refs_;
}

ULONG TDupsweep::Release() {
  const ULONG left = --refs_;
  if (left == 0) delete this;
  return left;
}

HRESULT TDupsweep::GetTypeInfoCount(UINT* pctinfo) {
  if (pctinfo == nullptr) return E_POINTER;
  *pctinfo = 1;
  return S_OK;
}

HRESULT TDupsweep::GetTypeInfo(UINT index, LCID, ITypeInfo** ppTInfo) {
  if (ppTInfo == nullptr) return E_POINTER;
  *ppTInfo = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  *ppTInfo = factory_.interfaceTypeInfo();
  (*ppTInfo)->AddRef();
  return S_OK;
}

HRESULT TDupsweep::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT cNames, LCID, DISPID* ids) {
  if (!(riid == IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  return factory_.interfaceTypeInfo()->GetIDsOfNames(names, cNames, ids);
}

HRESULT TDupsweep::Invoke(DISPID member, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                          VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) {
  if (!(riid == IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF))
    flags |= DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF;
  return factory_.interfaceTypeInfo()->Invoke(static_cast<IDupsweep*>(this), member, flags, params,
                                              result, excepInfo, argErr);
}

HRESULT TDupsweep::Dupsweep(BSTR Conn, BSTR UnitClsCode, BSTR TaskCode, LONG nLevel) {
  try {
    const std::string taskCode = text::utf16ToUtf8(BString::view(TaskCode));
    const std::string unitClsCode = text::utf16ToUtf8(BString::view(UnitClsCode));
    const std::string conn = text::utf16ToUtf8(BString::view(Conn));
    ensureApplication();
    // The period id is always empty here: the dialog lets the operator choose the period.
    runExecute(conn, unitClsCode, std::string(), taskCode, nLevel);
    return S_OK;
  } catch (...) {
    return errorResult(std::current_exception(), E_UNEXPECTED);
  }
}

HRESULT TDupsweep::InterfaceSupportsErrorInfo(REFIID riid) {
  void* p = nullptr;
  if (FAILED(QueryInterface(riid, &p))) return S_FALSE;
  static_cast<IUnknown*>(p)->Release();
  return S_OK;
}

HRESULT TDupsweep::GetClassInfo(ITypeInfo** ppTI) {
  if (ppTI == nullptr) return E_POINTER;
  *ppTI = factory_.classTypeInfo();
  (*ppTI)->AddRef();
  return S_OK;
}

}  // namespace dupsweep::entry

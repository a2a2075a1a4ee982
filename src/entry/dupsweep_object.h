#pragma once
// TDupsweep, the automation object of class Dupsweep. It keeps no state: each call shows a new
// dialog.

#include <atomic>

#include "entry/ComDupsweepDM.h"

namespace dupsweep::entry {

class DupsweepFactory;

class TDupsweep final : public IDupsweep,
                        public com::ISupportErrorInfo,
                        public com::IProvideClassInfo {
 public:
  // Made only by the factory, with one reference for the maker. Requires the factory's type
  // information to be resolved.
  explicit TDupsweep(DupsweepFactory& factory) noexcept;

  com::HRESULT QueryInterface(com::REFIID riid, void** ppv) override;
  com::ULONG AddRef() override;
  com::ULONG Release() override;

  // Served from the type information of IDupsweep.
  com::HRESULT GetTypeInfoCount(com::UINT* pctinfo) override;
  com::HRESULT GetTypeInfo(com::UINT index, com::LCID lcid, com::ITypeInfo** ppTInfo) override;
  com::HRESULT GetIDsOfNames(com::REFIID riid, com::LPOLESTR* names, com::UINT cNames,
                             com::LCID lcid, com::DISPID* ids) override;
  com::HRESULT Invoke(com::DISPID member, com::REFIID riid, com::LCID lcid, com::WORD flags,
                      com::DISPPARAMS* params, com::VARIANT* result, com::EXCEPINFO* excepInfo,
                      com::UINT* argErr) override;

  // Strings as UTF-8 (null reads as empty), a QApplication made sure of, then the dialog. S_OK once
  // it is closed; a failure becomes an HRESULT with error information.
  com::HRESULT Dupsweep(com::BSTR Conn, com::BSTR UnitClsCode, com::BSTR TaskCode,
                        com::LONG nLevel) override;

  // S_OK for every interface the object answers to, S_FALSE for others.
  com::HRESULT InterfaceSupportsErrorInfo(com::REFIID riid) override;

  com::HRESULT GetClassInfo(com::ITypeInfo** ppTI) override;

 private:
  ~TDupsweep();

  std::atomic<com::ULONG> refs_{1};
  DupsweepFactory& factory_;
};

}  // namespace dupsweep::entry

#pragma once
// TDupsweep, the automation object of the class Dupsweep. It keeps no state: each call of
// Dupsweep shows a new dialog. Interfaces: IUnknown, IDispatch and IDupsweep (one virtual table),
// ISupportErrorInfo, IProvideClassInfo.

#include <atomic>

#include "entry/ComDupsweepDM.h"

namespace dupsweep::entry {

class DupsweepFactory;

class TDupsweep final : public IDupsweep,
                        public com::ISupportErrorInfo,
                        public com::IProvideClassInfo {
 public:
  // Made only by the factory, with one reference for the maker; counts as a live object until
  // destroyed. Requires the factory's type information to be resolved.
  explicit TDupsweep(DupsweepFactory& factory) noexcept;

  // IUnknown (through IDupsweep).
  com::HRESULT QueryInterface(com::REFIID riid, void** ppv) override;
  com::ULONG AddRef() override;
  com::ULONG Release() override;

  // IDispatch, served from the type information of IDupsweep.
  com::HRESULT GetTypeInfoCount(com::UINT* pctinfo) override;
  com::HRESULT GetTypeInfo(com::UINT index, com::LCID lcid, com::ITypeInfo** ppTInfo) override;
  com::HRESULT GetIDsOfNames(com::REFIID riid, com::LPOLESTR* names, com::UINT cNames,
                             com::LCID lcid, com::DISPID* ids) override;
  com::HRESULT Invoke(com::DISPID member, com::REFIID riid, com::LCID lcid, com::WORD flags,
                      com::DISPPARAMS* params, com::VARIANT* result, com::EXCEPINFO* excepInfo,
                      com::UINT* argErr) override;

  // IDupsweep: converts the strings to UTF-8 (null reads as empty), makes sure the process has a
  // QApplication, and runs the dialog. S_OK once the dialog is closed; a failure becomes an
  // HRESULT with error information.
  com::HRESULT Dupsweep(com::BSTR Conn, com::BSTR UnitClsCode, com::BSTR TaskCode,
                        com::LONG nLevel) override;

  // ISupportErrorInfo: S_OK for every interface the object answers to, S_FALSE for others.
  com::HRESULT InterfaceSupportsErrorInfo(com::REFIID riid) override;

  // IProvideClassInfo: the type information of the class Dupsweep.
  com::HRESULT GetClassInfo(com::ITypeInfo** ppTI) override;

 private:
  ~TDupsweep();

  std::atomic<com::ULONG> refs_{1};
  DupsweepFactory& factory_;
};

}  // namespace dupsweep::entry

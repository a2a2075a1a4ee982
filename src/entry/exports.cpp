// The module's four entry points, the only symbols it exports (see exports.map).
#include "entry/ComDupsweepDM.h"
#include "entry/server.h"

using namespace dupsweep::com;
using dupsweep::entry::ComServer;
using dupsweep::entry::DupsweepFactory;

#define DUPSWEEP_EXPORT extern "C" __attribute__((visibility("default")))

// Looks up the factory of `rclsid` and asks it for `riid`.
DUPSWEEP_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (!(rclsid == dupsweep::CLSID_Dupsweep)) return CLASS_E_CLASSNOTAVAILABLE;
  DupsweepFactory& factory = DupsweepFactory::instance();
  try {
    factory.resolveTypeInfo();
  } catch (...) {
    return dupsweep::entry::errorResult(std::current_exception(), E_UNEXPECTED);
  }
  return factory.QueryInterface(riid, ppv);
}

// S_OK when no object is alive, no lock is held and no factory is referenced; S_FALSE otherwise.
DUPSWEEP_EXPORT HRESULT DllCanUnloadNow() {
  return ComServer::instance().canUnloadNow() ? S_OK : S_FALSE;
}

DUPSWEEP_EXPORT HRESULT DllRegisterServer() {
  return dupsweep::entry::registerServer();
}

DUPSWEEP_EXPORT HRESULT DllUnregisterServer() {
  return dupsweep::entry::unregisterServer();
}

namespace {
// Module load: the server object and the factory of the one class exist from the start.
[[maybe_unused]] const bool kServerCreated =
    (ComServer::instance(), DupsweepFactory::instance(), true);
}  // namespace

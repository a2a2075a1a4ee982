// The server's counts under AddRef, Release, CreateInstance and LockServer from several threads
// at once. Run under ThreadSanitizer by `make test-tsan`; built normally it checks the counts.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "entry/ComDupsweepDM.h"
#include "platform/com/comptr.h"
#include "test_support.h"

namespace dupsweep {
namespace {

using namespace com;

TEST(ServerThreads, CountsHoldUnderConcurrentReferencesAndLocks) {
  com::testing::Module& module = com::testing::stubModule();
  ASSERT_TRUE(module.loaded());
  std::atomic<int> failures{0};
  auto worker = [&] {
    for (int i = 0; i < 2000; ++i) {
      ComPtr<IClassFactory> factory;
      if (module.getClassObject(CLSID_Dupsweep, IID_IClassFactory, factory.putVoid()) != S_OK) {
        ++failures;
        return;
      }
      ComPtr<IDupsweep> object;
      if (factory->CreateInstance(nullptr, IID_IDupsweep, object.putVoid()) != S_OK) ++failures;
      if (factory->LockServer(1) != S_OK) ++failures;
      object->AddRef();
      ComPtr<IDispatch> dispatch;
      if (object->QueryInterface(IID_IDispatch, dispatch.putVoid()) != S_OK) ++failures;
      object->Release();
      if (module.canUnloadNow() != S_FALSE) ++failures;  // this thread holds references
      if (factory->LockServer(0) != S_OK) ++failures;
    }
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) threads.emplace_back(worker);
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(module.canUnloadNow(), S_OK);  // every object, reference and lock is gone
}

}  // namespace
}  // namespace dupsweep

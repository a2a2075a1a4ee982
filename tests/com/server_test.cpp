// The COM server module through its real exports (the test module: the component's objects with
// a recording stub in place of the dialog): exports, class factory, counts, registration,
// IDispatch, the method and its error boundary.
#include <cctype>
#include <gtest/gtest.h>

#include <cstdio>
#include <set>

#include "entry/ComDupsweepDM.h"
#include "platform/com/comptr.h"
#include "platform/com/registry.h"
#include "test_support.h"

namespace dupsweep::com {
namespace {

using testing::Module;
using testing::readText;
using testing::ScopedEnv;
using testing::stubModule;
using testing::TempDir;

// The Qt platform for the calls that make the module's QApplication; the stub shows no dialog,
// so the switch that allows a platform without a screen is set.
const bool kOffscreen = ::setenv("QT_QPA_PLATFORM", "offscreen", 0) == 0 &&
                        ::setenv("DUPSWEEP_ALLOW_HIDDEN_DIALOG", "1", 1) == 0;

// Names of the dynamic symbols `file` defines, as nm lists them.
std::set<std::string> exportedSymbols(const std::string& file) {
  std::set<std::string> names;
  FILE* pipe = ::popen(("nm -D --defined-only '" + file + "'").c_str(), "r");
  if (pipe == nullptr) return names;
  char line[1024];
  while (std::fgets(line, sizeof line, pipe)) {
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    // "address type name": a lowercase type is a local symbol, which no one can bind to;
    // "u", "v" and "w" (unique and weak) are global all the same.
    const std::size_t space = text.rfind(' ');
    if (space == std::string::npos || space < 2) continue;
    const char type = text[space - 1];
    const bool global = std::isupper(static_cast<unsigned char>(type)) || type == 'u' ||
                        type == 'v' || type == 'w';
    if (global) names.insert(text.substr(space + 1));
  }
  ::pclose(pipe);
  return names;
}

const std::set<std::string> kEntryPoints = {"DllCanUnloadNow", "DllGetClassObject",
                                            "DllRegisterServer", "DllUnregisterServer"};

TEST(Exports, TheModuleExportsExactlyTheFourEntryPoints) {
  EXPECT_EQ(exportedSymbols(DUPSWEEP_STUB_MODULE), kEntryPoints);
#ifdef DUPSWEEP_REAL_MODULE
  EXPECT_EQ(exportedSymbols(DUPSWEEP_REAL_MODULE), kEntryPoints);
#endif
  EXPECT_TRUE(stubModule().loaded());
}

// One record per call of the stubbed dialog.
using CallRecord = std::map<std::string, std::string>;

std::vector<CallRecord> readCalls(const std::filesystem::path& log) {
  std::vector<CallRecord> calls;
  CallRecord current;
  std::istringstream in(readText(log));
  std::string line;
  while (std::getline(in, line)) {
    if (line == "--") {
      calls.push_back(current);
      current.clear();
    } else if (const auto eq = line.find('='); eq != std::string::npos) {
      current[line.substr(0, eq)] = line.substr(eq + 1);
    }
  }
  return calls;
}

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kOffscreen);
    ASSERT_TRUE(module_.loaded());
    ASSERT_EQ(module_.canUnloadNow(), S_OK) << "a previous test left an object or reference";
  }
  void TearDown() override {
    EXPECT_EQ(module_.canUnloadNow(), S_OK) << "object or reference leaked";
  }

  ComPtr<IClassFactory> factory() {
    ComPtr<IClassFactory> f;
    EXPECT_EQ(module_.getClassObject(CLSID_Dupsweep, IID_IClassFactory, f.putVoid()), S_OK);
    return f;
  }
  template <typename T>
  ComPtr<T> create(const IID& iid) {
    ComPtr<T> object;
    EXPECT_EQ(factory()->CreateInstance(nullptr, iid, object.putVoid()), S_OK);
    return object;
  }
  std::vector<CallRecord> calls() const { return readCalls(log_); }

  Module& module_ = stubModule();
  TempDir dir_;
  std::filesystem::path registryFile_ = dir_.path() / "registry.reg";
  std::filesystem::path log_ = dir_.path() / "calls.log";
  ScopedEnv registryEnv_{"DUPSWEEP_REGISTRY", registryFile_.string()};
  ScopedEnv logEnv_{"DUPSWEEP_TEST_EXECUTE_LOG", log_.string()};
  ScopedEnv failEnv_{"DUPSWEEP_TEST_EXECUTE_FAIL", std::nullopt};
};

// ---- class factory and counts ----

TEST_F(ServerTest, GetClassObjectServesOnlyItsClassAndTheFactoryInterfaces) {
  ComPtr<IUnknown> unknown;
  EXPECT_EQ(module_.getClassObject(CLSID_Dupsweep, IID_IUnknown, unknown.putVoid()), S_OK);
  EXPECT_TRUE(unknown);
  EXPECT_TRUE(factory());

  void* out = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(module_.getClassObject(CLSID_Dupsweep, IID_IDispatch, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  out = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(module_.getClassObject(IID_IDupsweep, IID_IClassFactory, &out),
            CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(module_.getClassObject(CLSID_Dupsweep, IID_IClassFactory, nullptr), E_POINTER);
}

TEST_F(ServerTest, CreateInstanceChecksItsArguments) {
  auto f = factory();
  EXPECT_EQ(f->CreateInstance(nullptr, IID_IDupsweep, nullptr), E_POINTER);

  // Aggregation is refused unless IUnknown is asked for, and no object is made.
  void* out = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(f->CreateInstance(f.get(), IID_IDupsweep, &out), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(out, nullptr);
  f.reset();
  EXPECT_EQ(module_.canUnloadNow(), S_OK);

  // An interface the object lacks: nothing is returned and the new object is destroyed at once.
  f = factory();
  out = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(f->CreateInstance(nullptr, IID_IClassFactory, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  f.reset();
  EXPECT_EQ(module_.canUnloadNow(), S_OK);
}

TEST_F(ServerTest, ObjectIsReferenceCountedWithOneIdentity) {
  auto object = create<IDupsweep>(IID_IDupsweep);
  ASSERT_TRUE(object);
  EXPECT_EQ(object->AddRef(), 2u);
  EXPECT_EQ(object->Release(), 1u);
  ComPtr<IUnknown> viaDupsweep, viaErrorInfo;
  ComPtr<ISupportErrorInfo> support;
  ASSERT_EQ(object->QueryInterface(IID_IUnknown, viaDupsweep.putVoid()), S_OK);
  ASSERT_EQ(object->QueryInterface(IID_ISupportErrorInfo, support.putVoid()), S_OK);
  ASSERT_EQ(support->QueryInterface(IID_IUnknown, viaErrorInfo.putVoid()), S_OK);
  EXPECT_EQ(viaDupsweep.get(), viaErrorInfo.get());
  void* none = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(object->QueryInterface(IID_IClassFactory, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(object->QueryInterface(IID_IDispatch, nullptr), E_POINTER);
}

TEST_F(ServerTest, CanUnloadNowWaitsForObjectsFactoryReferencesAndLocks) {
  auto f = factory();
  EXPECT_EQ(module_.canUnloadNow(), S_FALSE);  // factory referenced

  ComPtr<IDupsweep> object;
  ASSERT_EQ(f->CreateInstance(nullptr, IID_IDupsweep, object.putVoid()), S_OK);
  EXPECT_EQ(f->LockServer(1), S_OK);
  f.reset();
  EXPECT_EQ(module_.canUnloadNow(), S_FALSE);  // object alive and lock held
  object.reset();
  EXPECT_EQ(module_.canUnloadNow(), S_FALSE);  // lock held

  f = factory();
  EXPECT_EQ(f->LockServer(0), S_OK);
  EXPECT_EQ(f->LockServer(0), E_UNEXPECTED);  // no lock left to undo: counts stay sound
  f.reset();
  EXPECT_EQ(module_.canUnloadNow(), S_OK);

  // Releasing a factory more often than it was referenced does not unbalance the counts.
  f = factory();
  IClassFactory* raw = f.detach();
  raw->Release();
  EXPECT_EQ(raw->Release(), 0u);
  ComPtr<IDupsweep> again;
  ASSERT_EQ(raw->CreateInstance(nullptr, IID_IDupsweep, again.putVoid()), S_OK);
  EXPECT_EQ(module_.canUnloadNow(), S_FALSE);
}

// ---- registration ----

std::string moduleFile() {
  return std::filesystem::path(DUPSWEEP_STUB_MODULE).lexically_normal().string();
}

const std::string kClsidKey = "CLSID\\{FFA2B78B-76C3-441B-970C-230A0520B297}";
const std::string kTypeLibKey = "TypeLib\\{DC3795E8-F4A2-438E-B25F-2D4AEFA78AFB}\\1.0";
const std::string kInterfaceKey = "Interface\\{D4BD3F08-5A14-4459-A836-4290ECC6564D}";

void expectRegistered(const Registry& r, const std::string& module) {
  EXPECT_EQ(r.getValue(kClsidKey, ""), "Dupsweep Object");
  EXPECT_EQ(r.getValue(kClsidKey + "\\InprocServer32", ""), module);
  EXPECT_EQ(r.getValue(kClsidKey + "\\InprocServer32", "ThreadingModel"), "Apartment");
  EXPECT_EQ(r.getValue("ComDupsweepDM.Dupsweep", ""), "Dupsweep Object");
  EXPECT_EQ(r.getValue("ComDupsweepDM.Dupsweep\\Clsid", ""),
            "{FFA2B78B-76C3-441B-970C-230A0520B297}");
  EXPECT_EQ(r.getValue(kClsidKey + "\\ProgID", ""), "ComDupsweepDM.Dupsweep");
  EXPECT_EQ(r.getValue(kClsidKey + "\\Version", ""), "1.0");
  EXPECT_EQ(r.getValue(kClsidKey + "\\TypeLib", ""), "{DC3795E8-F4A2-438E-B25F-2D4AEFA78AFB}");
  EXPECT_EQ(r.getValue(kTypeLibKey, ""), "ComDupsweepDM Library");
  EXPECT_EQ(r.getValue(kTypeLibKey + "\\0\\win32", ""), module);
  EXPECT_EQ(r.getValue(kTypeLibKey + "\\FLAGS", ""), "0");
  EXPECT_EQ(r.getValue(kTypeLibKey + "\\HELPDIR", ""),
            std::filesystem::path(module).parent_path().string());
  EXPECT_EQ(r.getValue(kInterfaceKey, ""), "IDupsweep");
  EXPECT_EQ(r.getValue(kInterfaceKey + "\\ProxyStubClsid32", ""),
            "{00020424-0000-0000-C000-000000000046}");
  // Exactly these keys under the class, nothing else.
  EXPECT_EQ(r.subkeys(kClsidKey),
            (std::vector<std::string>{"InprocServer32", "ProgID", "TypeLib", "Version"}));
  EXPECT_EQ(r.values(kClsidKey + "\\InprocServer32").size(), 2u);
}

TEST_F(ServerTest, RegistrationWritesTheTableAndRemovalTakesItAway) {
  ASSERT_EQ(module_.registerServer(), S_OK);
  Registry r(registryFile_);
  expectRegistered(r, moduleFile());
  const std::string once = readText(registryFile_);

  ASSERT_EQ(module_.registerServer(), S_OK);  // again: values overwritten, one set of keys
  EXPECT_EQ(readText(registryFile_), once);

  r.setValue("Unrelated\\Key", "", "kept");
  ASSERT_EQ(module_.unregisterServer(), S_OK);
  EXPECT_FALSE(r.keyExists(kClsidKey));
  EXPECT_FALSE(r.keyExists("ComDupsweepDM.Dupsweep"));
  EXPECT_FALSE(r.keyExists("TypeLib\\{DC3795E8-F4A2-438E-B25F-2D4AEFA78AFB}"));
  EXPECT_FALSE(r.keyExists(kInterfaceKey));
  EXPECT_EQ(r.getValue("Unrelated\\Key", ""), "kept");
  EXPECT_EQ(module_.unregisterServer(), S_OK);  // removing twice succeeds too
}

TEST_F(ServerTest, RemovalKeepsAClassKeyThatHoldsOtherSubkeys) {
  ASSERT_EQ(module_.registerServer(), S_OK);
  Registry r(registryFile_);
  r.setValue(kClsidKey + "\\Implemented Categories", "", "");
  EXPECT_EQ(module_.unregisterServer(), S_OK);
  EXPECT_EQ(r.subkeys(kClsidKey), std::vector<std::string>{"Implemented Categories"});
}

TEST_F(ServerTest, CorruptRegistryFailsRegistrationWithoutTouchingTheFile) {
  const std::string corrupt = "Windows Registry Editor Version 5.00\n\n[HKEY_CLASSES_ROOT\\A\n";
  testing::writeText(registryFile_, corrupt);
  SetErrorInfo(0, nullptr);
  EXPECT_EQ(module_.registerServer(), E_FAIL);
  ComPtr<IErrorInfo> info;
  ASSERT_EQ(GetErrorInfo(0, info.put()), S_OK);
  BString description;
  info->GetDescription(description.put());
  EXPECT_NE(description.view().find(u"line 3"), std::u16string_view::npos);
  EXPECT_EQ(module_.unregisterServer(), E_FAIL);  // not "success" while nothing was removed
  EXPECT_EQ(readText(registryFile_), corrupt);
}

TEST_F(ServerTest, ModulePathWithABlankIsRegisteredAsItIs) {
  const auto blankDir = dir_.path() / "Program Files" / "dup sweep";
  std::filesystem::create_directories(blankDir);
  const auto copy = blankDir / "libComDupsweepDM.so";
  std::filesystem::copy_file(DUPSWEEP_STUB_MODULE, copy);
  Module moved(copy);
  ASSERT_TRUE(moved.loaded());
  ASSERT_EQ(moved.registerServer(), S_OK);
  expectRegistered(Registry(registryFile_), copy.string());
}

// ---- IDispatch ----

TEST_F(ServerTest, TypeInformationOfTheDispatchInterface) {
  auto object = create<IDispatch>(IID_IDispatch);
  UINT count = 0;
  EXPECT_EQ(object->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);

  ITypeInfo* bad = reinterpret_cast<ITypeInfo*>(0x1);
  EXPECT_EQ(object->GetTypeInfo(1, 0, &bad), DISP_E_BADINDEX);
  EXPECT_EQ(bad, nullptr);

  ComPtr<ITypeInfo> info;
  ASSERT_EQ(object->GetTypeInfo(0, 0, info.put()), S_OK);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->guid, IID_IDupsweep);
  EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
  EXPECT_EQ(attr->cFuncs, 1);
  EXPECT_EQ(attr->wTypeFlags, TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE);
  EXPECT_EQ(attr->wMajorVerNum, 1);
  info->ReleaseTypeAttr(attr);

  FUNCDESC* func = nullptr;
  ASSERT_EQ(info->GetFuncDesc(0, &func), S_OK);
  EXPECT_EQ(func->memid, 201);
  EXPECT_EQ(func->invkind, INVOKE_FUNC);
  EXPECT_EQ(func->cParams, 4);
  EXPECT_EQ(func->oVft, 7 * static_cast<SHORT>(sizeof(void*)));
  EXPECT_EQ(func->elemdescFunc.tdesc.vt, VT_HRESULT);
  EXPECT_EQ(func->lprgelemdescParam[0].tdesc.vt, VT_BSTR);
  EXPECT_EQ(func->lprgelemdescParam[3].tdesc.vt, VT_I4);
  EXPECT_EQ(func->lprgelemdescParam[3].paramdesc.wParamFlags, PARAMFLAG_FIN);
  info->ReleaseFuncDesc(func);
  EXPECT_EQ(info->GetFuncDesc(1, &func), TYPE_E_ELEMENTNOTFOUND);

  BSTR names[5] = {};
  UINT got = 0;
  ASSERT_EQ(info->GetNames(201, names, 5, &got), S_OK);
  ASSERT_EQ(got, 5u);
  const std::u16string_view expected[] = {u"Dupsweep", u"Conn", u"UnitClsCode", u"TaskCode",
                                          u"nLevel"};
  for (UINT i = 0; i < got; ++i) {
    EXPECT_EQ(BString::view(names[i]), expected[i]);
    SysFreeString(names[i]);
  }
}

TEST_F(ServerTest, GetIDsOfNamesAnswersFromTheTypeInformation) {
  auto object = create<IDispatch>(IID_IDispatch);
  OLECHAR method[] = u"dupSWEEP", conn[] = u"Conn", level[] = u"nLevel", wrong[] = u"Nope";
  LPOLESTR names[] = {method, level, conn};
  DISPID ids[3];
  ASSERT_EQ(object->GetIDsOfNames(IID_NULL, names, 3, 0, ids), S_OK);
  EXPECT_EQ(ids[0], 201);
  EXPECT_EQ(ids[1], 3);
  EXPECT_EQ(ids[2], 0);

  LPOLESTR unknown[] = {wrong};
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, unknown, 1, 0, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], DISPID_UNKNOWN);
  LPOLESTR badParam[] = {method, wrong};
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, badParam, 2, 0, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], 201);
  EXPECT_EQ(ids[1], DISPID_UNKNOWN);
  EXPECT_EQ(object->GetIDsOfNames(IID_IDupsweep, names, 1, 0, ids), DISP_E_UNKNOWNINTERFACE);
}

// Arguments of one late-bound call, last first as IDispatch wants them.
struct Args {
  std::vector<VARIANT> v;
  std::vector<BString> strings;

  Args& bstr(std::u16string_view s) {
    strings.emplace_back(s);
    VARIANT x;
    x.vt = VT_BSTR;
    x.bstrVal = strings.back().get();
    v.insert(v.begin(), x);
    return *this;
  }
  Args& i4(LONG value) {
    return add(VT_I4, [&](VARIANT& x) { x.lVal = value; });
  }
  Args& i2(SHORT value) {
    return add(VT_I2, [&](VARIANT& x) { x.iVal = value; });
  }
  Args& boolean(bool value) {
    return add(VT_BOOL, [&](VARIANT& x) { x.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE; });
  }
  Args& of(VARTYPE vt) {
    return add(vt, [](VARIANT&) {});
  }
  Args& ref(VARTYPE vt, void* target) {
    return add(VT_BYREF | vt, [&](VARIANT& x) { x.byref = target; });
  }
  template <typename F>
  Args& add(VARTYPE vt, F set) {
    VARIANT x;
    x.vt = vt;
    x.llVal = 0;
    set(x);
    v.insert(v.begin(), x);
    return *this;
  }
  DISPPARAMS params() { return DISPPARAMS{v.data(), nullptr, static_cast<UINT>(v.size()), 0}; }
};

class InvokeTest : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    object_ = create<IDispatch>(IID_IDispatch);
  }
  void TearDown() override {
    object_.reset();
    ServerTest::TearDown();
  }
  HRESULT invoke(Args& args, WORD flags = DISPATCH_METHOD, DISPID id = 201) {
    DISPPARAMS p = args.params();
    Variant result;
    argErr_ = 99;
    return object_->Invoke(id, IID_NULL, 0, flags, &p, result.ptr(), nullptr, &argErr_);
  }
  ComPtr<IDispatch> object_;
  UINT argErr_ = 99;
};

TEST_F(InvokeTest, CallsTheMethodWithTheFourArgumentsInOrder) {
  Args args;
  args.bstr(u"Provider=SQLite;Data Source=/x.db").bstr(u"01").bstr(u"T1").i4(3);
  ASSERT_EQ(invoke(args), S_OK);
  const auto c = calls();
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c[0].at("conn"), "Provider=SQLite;Data Source=/x.db");
  EXPECT_EQ(c[0].at("unitClsCode"), "01");
  EXPECT_EQ(c[0].at("periodId"), "");
  EXPECT_EQ(c[0].at("taskCode"), "T1");
  EXPECT_EQ(c[0].at("level"), "3");
  EXPECT_EQ(c[0].at("app"), "1");  // a QApplication exists when the dialog runs
  // VB-style callers pass method and property-get together.
  EXPECT_EQ(invoke(args, DISPATCH_METHOD | DISPATCH_PROPERTYGET), S_OK);
}

TEST_F(InvokeTest, CoercesArgumentsToTheParameterTypes) {
  BSTR byRefText = SysAllocString(u"C");
  LONG byRefLevel = 9;
  Args a;
  a.of(VT_EMPTY).i4(17).ref(VT_BSTR, &byRefText).i2(-2);
  ASSERT_EQ(invoke(a), S_OK);
  Args b;
  b.bstr(u"c").bstr(u"u").bstr(u"t").bstr(u" 42 ");
  ASSERT_EQ(invoke(b), S_OK);
  Args c;
  c.bstr(u"c").bstr(u"u").bstr(u"t").ref(VT_I4, &byRefLevel);
  ASSERT_EQ(invoke(c), S_OK);
  Args d;
  d.bstr(u"c").bstr(u"u").bstr(u"t").boolean(true);
  ASSERT_EQ(invoke(d), S_OK);
  SysFreeString(byRefText);

  const auto log = calls();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[0].at("conn"), "");
  EXPECT_EQ(log[0].at("unitClsCode"), "17");
  EXPECT_EQ(log[0].at("taskCode"), "C");
  EXPECT_EQ(log[0].at("level"), "-2");
  EXPECT_EQ(log[1].at("level"), "42");
  EXPECT_EQ(log[2].at("level"), "9");
  EXPECT_EQ(log[3].at("level"), "-1");
}

TEST_F(InvokeTest, RejectsBadCallsWithoutCallingTheMethod) {
  Args three;
  three.bstr(u"c").bstr(u"u").bstr(u"t");
  EXPECT_EQ(invoke(three), DISP_E_BADPARAMCOUNT);

  Args named;
  named.bstr(u"c").bstr(u"u").bstr(u"t").i4(1);
  DISPPARAMS p = named.params();
  DISPID names[] = {0};
  p.rgdispidNamedArgs = names;
  p.cNamedArgs = 1;
  EXPECT_EQ(object_->Invoke(201, IID_NULL, 0, DISPATCH_METHOD, &p, nullptr, nullptr, nullptr),
            DISP_E_NONAMEDARGS);

  Args text;
  text.bstr(u"c").bstr(u"u").bstr(u"t").bstr(u"abc");
  EXPECT_EQ(invoke(text), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argErr_, 0u);  // nLevel, the last argument, is rgvarg[0]
  Args null;
  null.of(VT_NULL).bstr(u"u").bstr(u"t").i4(1);
  EXPECT_EQ(invoke(null), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argErr_, 3u);
  Args big;
  big.bstr(u"c").bstr(u"u").bstr(u"t").bstr(u"99999999999");
  EXPECT_EQ(invoke(big), DISP_E_OVERFLOW);

  EXPECT_EQ(invoke(named, DISPATCH_METHOD, 202), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(invoke(named, DISPATCH_PROPERTYPUT), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(invoke(named, DISPATCH_PROPERTYGET), DISP_E_MEMBERNOTFOUND);
  EXPECT_TRUE(calls().empty());
}

TEST_F(InvokeTest, FailureOfTheMethodBecomesAnException) {
  ScopedEnv fail("DUPSWEEP_TEST_EXECUTE_FAIL", "com:80004005:The database refused the connection");
  Args args;
  args.bstr(u"c").bstr(u"u").bstr(u"t").i4(1);
  DISPPARAMS p = args.params();
  EXCEPINFO e{};
  ASSERT_EQ(object_->Invoke(201, IID_NULL, 0, DISPATCH_METHOD, &p, nullptr, &e, nullptr),
            DISP_E_EXCEPTION);
  EXPECT_EQ(e.scode, E_FAIL);
  EXPECT_EQ(BString::view(e.bstrDescription), u"The database refused the connection");
  EXPECT_EQ(BString::view(e.bstrSource), u"ComDupsweepDM.Dupsweep");
  SysFreeString(e.bstrDescription);
  SysFreeString(e.bstrSource);
  SysFreeString(e.bstrHelpFile);
}

// ---- the method, early-bound ----

struct ErrorDetails {
  std::u16string description, source;
  GUID guid{};
};

std::optional<ErrorDetails> takeErrorInfo() {
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.put()) != S_OK) return std::nullopt;
  ErrorDetails d;
  BString description, source;
  info->GetDescription(description.put());
  info->GetSource(source.put());
  info->GetGUID(&d.guid);
  d.description = description.view();
  d.source = source.view();
  return d;
}

TEST_F(ServerTest, DupsweepConvertsTheStringsAndPassesAnEmptyPeriod) {
  auto object = create<IDupsweep>(IID_IDupsweep);
  BString conn(u"Provider=SQLOLEDB;Data Source=服务器"), task(u"任务");
  ASSERT_EQ(object->Dupsweep(conn.get(), nullptr, task.get(), -5), S_OK);
  const auto c = calls();
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c[0].at("conn"), "Provider=SQLOLEDB;Data Source=\xE6\x9C\x8D\xE5\x8A\xA1\xE5\x99\xA8");
  EXPECT_EQ(c[0].at("unitClsCode"), "");  // null BSTR reads as empty
  EXPECT_EQ(c[0].at("taskCode"), "\xE4\xBB\xBB\xE5\x8A\xA1");
  EXPECT_EQ(c[0].at("periodId"), "");
  EXPECT_EQ(c[0].at("level"), "-5");
}

TEST_F(ServerTest, FailureInsideTheCallReachesTheCallerAsHresultAndErrorInformation) {
  auto object = create<IDupsweep>(IID_IDupsweep);
  ComPtr<ISupportErrorInfo> support;
  ASSERT_EQ(object->QueryInterface(IID_ISupportErrorInfo, support.putVoid()), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IDupsweep), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IDispatch), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IClassFactory), S_FALSE);

  struct Case {
    const char* fail;
    HRESULT hr;
    std::u16string description;
  };
  const Case cases[] = {
      {"error:Unable to open the database", E_UNEXPECTED, u"Unable to open the database"},
      {"com:80040E4D:Login failed", static_cast<HRESULT>(0x80040E4Du), u"Login failed"},
      {"com:00000001:not negative", E_UNEXPECTED, u"not negative"},
      {"nomessage", E_UNEXPECTED, u""},
  };
  for (const Case& c : cases) {
    ScopedEnv fail("DUPSWEEP_TEST_EXECUTE_FAIL", c.fail);
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(object->Dupsweep(nullptr, nullptr, nullptr, 0), c.hr) << c.fail;
    const auto info = takeErrorInfo();
    ASSERT_TRUE(info) << c.fail;
    EXPECT_EQ(info->description, c.description);
    EXPECT_EQ(info->source, u"ComDupsweepDM.Dupsweep");
    EXPECT_EQ(info->guid, IID_IDupsweep);
  }

  // Text that is not UTF-16 fails before the dialog is reached.
  const char16_t lone[] = {u'a', 0xD800, 0};
  BString bad(lone);
  EXPECT_EQ(object->Dupsweep(bad.get(), nullptr, nullptr, 0), E_UNEXPECTED);
  ASSERT_TRUE(takeErrorInfo());
  EXPECT_EQ(calls().size(), 4u);
}

TEST_F(ServerTest, ClassInformationDescribesTheCoclass) {
  auto object = create<IProvideClassInfo>(IID_IProvideClassInfo);
  ComPtr<ITypeInfo> cls;
  ASSERT_EQ(object->GetClassInfo(cls.put()), S_OK);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(cls->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->typekind, TKIND_COCLASS);
  EXPECT_EQ(attr->guid, CLSID_Dupsweep);
  EXPECT_EQ(attr->wTypeFlags, TYPEFLAG_FCANCREATE);
  EXPECT_EQ(attr->cImplTypes, 1);
  cls->ReleaseTypeAttr(attr);
  BString name, doc;
  ASSERT_EQ(cls->GetDocumentation(MEMBERID_NIL, name.put(), doc.put(), nullptr, nullptr), S_OK);
  EXPECT_EQ(name.view(), u"Dupsweep");
  EXPECT_EQ(doc.view(), u"Dupsweep Object");
  INT flags = 0;
  ASSERT_EQ(cls->GetImplTypeFlags(0, &flags), S_OK);
  EXPECT_EQ(flags, IMPLTYPEFLAG_FDEFAULT);
  HREFTYPE ref = 0;
  ASSERT_EQ(cls->GetRefTypeOfImplType(0, &ref), S_OK);
  ComPtr<ITypeInfo> itf;
  ASSERT_EQ(cls->GetRefTypeInfo(ref, itf.put()), S_OK);
  ASSERT_EQ(itf->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->guid, IID_IDupsweep);
  itf->ReleaseTypeAttr(attr);
  EXPECT_EQ(object->GetClassInfo(nullptr), E_POINTER);
}

}  // namespace
}  // namespace dupsweep::com

// The type library the module carries in its file, the text form's parser, and the registration
// of a type library.
#include "platform/com/typelib.h"

#include <gtest/gtest.h>

#include "entry/ComDupsweepDM.h"
#include "platform/com/registry.h"
#include "platform/errors.h"
#include "test_support.h"

namespace dupsweep::com {
namespace {

using testing::TempDir;

TEST(ModuleTypeLib, IsReadFromTheModulesFile) {
  const TypeLibInfo lib = loadTypeLibFromModule(DUPSWEEP_STUB_MODULE);
  EXPECT_EQ(lib.name, "ComDupsweepDM");
  EXPECT_EQ(lib.libid, LIBID_ComDupsweepDM);
  EXPECT_EQ(lib.helpString, "ComDupsweepDM Library");
  EXPECT_EQ(lib.majorVersion, 1);
  EXPECT_EQ(lib.minorVersion, 0);
  EXPECT_EQ(lib.syskind, SYS_WIN32);
  EXPECT_EQ(lib.importLib, "stdole2.tlb");

  ASSERT_EQ(lib.interfaces.size(), 1u);
  const InterfaceInfo& itf = lib.interfaces[0];
  EXPECT_EQ(itf.name, "IDupsweep");
  EXPECT_EQ(itf.iid, IID_IDupsweep);
  EXPECT_EQ(itf.helpString, "Dispatch interface for Dupsweep Object");
  EXPECT_EQ(itf.flags, TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE);
  ASSERT_EQ(itf.methods.size(), 1u);
  const MethodInfo& m = itf.methods[0];
  EXPECT_EQ(m.name, "Dupsweep");
  EXPECT_EQ(m.dispid, 201);
  EXPECT_EQ(m.vtableSlot, 7);
  ASSERT_EQ(m.params.size(), 4u);
  const std::pair<const char*, VARTYPE> expected[] = {
      {"Conn", VT_BSTR}, {"UnitClsCode", VT_BSTR}, {"TaskCode", VT_BSTR}, {"nLevel", VT_I4}};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(m.params[i].name, expected[i].first);
    EXPECT_EQ(m.params[i].type, expected[i].second);
    EXPECT_EQ(m.params[i].flags, PARAMFLAG_FIN);
  }

  ASSERT_EQ(lib.coclasses.size(), 1u);
  const CoClassInfo& cls = lib.coclasses[0];
  EXPECT_EQ(cls.name, "Dupsweep");
  EXPECT_EQ(cls.clsid, CLSID_Dupsweep);
  EXPECT_EQ(cls.helpString, "Dupsweep Object");
  EXPECT_EQ(cls.flags, TYPEFLAG_FCANCREATE);
  EXPECT_EQ(lib.defaultInterface(cls), &itf);
}

TEST(ModuleTypeLib, VersionResourceIsInTheFile) {
  const std::string version = readModuleSection(DUPSWEEP_STUB_MODULE, kVersionSection);
  EXPECT_NE(version.find("FileVersion=1.0.0.0\n"), std::string::npos);
  EXPECT_NE(version.find("ProductVersion=1.0.0.0\n"), std::string::npos);
}

TEST(ModuleTypeLib, FilesWithoutTypeLibraryAreFormatErrors) {
  EXPECT_THROW(readModuleSection("/proc/self/exe", kTypeLibSection), FormatError);
  TempDir dir;
  testing::writeText(dir.path() / "text.so",
                     "not an ELF file at all, but long enough for a header"
                     " of sixty-four bytes.......");
  EXPECT_THROW(loadTypeLibFromModule(dir.path() / "text.so"), FormatError);
  EXPECT_THROW(loadTypeLibFromModule(dir.path() / "missing.so"), FileError);
}

constexpr const char* kGood =
    "typelib 1\n"
    "library L {11111111-2222-3333-4444-555555555555} 2.1 \"Lib \\\"x\\\"\"\n"
    "interface I {11111111-2222-3333-4444-555555555556} 1.0 \"I\"\n"
    "flags dual dispatchable\n"
    "base IDispatch\n"
    "method A 1 HRESULT\n"
    "method B 2 HRESULT\n"
    "param x VARIANT in\n"
    "coclass C {11111111-2222-3333-4444-555555555557} 1.0 \"C\"\n"
    "implements I default\n";

TEST(ParseTypeLib, AcceptsTheTextForm) {
  const TypeLibInfo lib = parseTypeLib(kGood);
  EXPECT_EQ(lib.helpString, "Lib \"x\"");
  EXPECT_EQ(lib.majorVersion, 2);
  EXPECT_EQ(lib.minorVersion, 1);
  ASSERT_EQ(lib.interfaces[0].methods.size(), 2u);
  EXPECT_EQ(lib.interfaces[0].methods[1].vtableSlot, 8);
  EXPECT_EQ(lib.interfaces[0].methods[1].params[0].type, VT_VARIANT);
}

TEST(ParseTypeLib, RejectsFaultsWithTheirLine) {
  const std::string good = kGood;
  struct Case {
    std::string text;
    std::string message;
  };
  auto replace = [&](const std::string& from, const std::string& to) {
    std::string t = good;
    t.replace(t.find(from), from.size(), to);
    return t;
  };
  const Case cases[] = {
      {"", "empty type library"},
      {replace("typelib 1", "typelib 2"), "line 1"},
      {replace("method B 2", "method B 1"), "duplicate dispatch identifier"},
      {replace("method B 2", "method A 2"), "duplicate method"},
      {replace("param x VARIANT", "param x R8"), "unsupported parameter type"},
      {replace("{11111111-2222-3333-4444-555555555556}", "{1111}"), "malformed GUID"},
      {replace("implements I", "implements J"), "unknown interface J"},
      {replace("base IDispatch", "base IUnknown"), "line 5"},
      {replace("flags dual", "flags duel"), "unknown flag"},
      {replace("2.1 \"Lib", "2.x \"Lib"), "malformed number"},
      {good + "surprise\n", "unknown statement"},
  };
  for (const Case& c : cases) {
    try {
      parseTypeLib(c.text);
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const FormatError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
}

TEST(RegisterTypeLib, WritesAndRemovesTheTypeLibAndInterfaceKeys) {
  TempDir dir;
  Registry registry(dir.path() / "r.reg");
  const TypeLibInfo lib = loadTypeLibFromModule(DUPSWEEP_STUB_MODULE);
  registerTypeLib(lib, "/opt/a b/libX.so", "/opt/a b", registry);
  const std::string tl = "TypeLib\\{DC3795E8-F4A2-438E-B25F-2D4AEFA78AFB}\\1.0";
  EXPECT_EQ(registry.getValue(tl, ""), "ComDupsweepDM Library");
  EXPECT_EQ(registry.getValue(tl + "\\0\\win32", ""), "/opt/a b/libX.so");
  EXPECT_EQ(registry.getValue(tl + "\\FLAGS", ""), "0");
  EXPECT_EQ(registry.getValue(tl + "\\HELPDIR", ""), "/opt/a b");
  const std::string itf = "Interface\\{D4BD3F08-5A14-4459-A836-4290ECC6564D}";
  EXPECT_EQ(registry.getValue(itf, ""), "IDupsweep");
  EXPECT_EQ(registry.getValue(itf + "\\ProxyStubClsid", ""),
            "{00020424-0000-0000-C000-000000000046}");
  EXPECT_EQ(registry.getValue(itf + "\\ProxyStubClsid32", ""),
            "{00020424-0000-0000-C000-000000000046}");
  EXPECT_EQ(registry.getValue(itf + "\\TypeLib", ""), "{DC3795E8-F4A2-438E-B25F-2D4AEFA78AFB}");
  EXPECT_EQ(registry.getValue(itf + "\\TypeLib", "Version"), "1.0");

  registry.setValue("TypeLib\\Other", "", "stays");
  unregisterTypeLib(lib, registry);
  EXPECT_EQ(registry.subkeys("TypeLib"), std::vector<std::string>{"Other"});
  EXPECT_TRUE(registry.subkeys("Interface").empty());
  unregisterTypeLib(lib, registry);  // nothing left to remove: no failure
}

}  // namespace
}  // namespace dupsweep::com

// The registry store: the export format, case-insensitive keys, deletion rules, concurrent
// writers, corrupt files.
#include "platform/com/registry.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/errors.h"
#include "test_support.h"

namespace dupsweep::com {
namespace {

using testing::readText;
using testing::ScopedEnv;
using testing::TempDir;
using testing::writeText;

class RegistryTest : public ::testing::Test {
 protected:
  TempDir dir_;
  std::filesystem::path file_ = dir_.path() / "sub" / "registry.reg";
  Registry registry_{file_};
};

TEST_F(RegistryTest, MissingFileIsEmptyAndFirstChangeCreatesIt) {
  EXPECT_FALSE(registry_.keyExists("CLSID"));
  EXPECT_EQ(registry_.getValue("CLSID", ""), std::nullopt);
  registry_.setValue("CLSID\\{X}\\InprocServer32", "ThreadingModel", "Apartment");
  EXPECT_TRUE(std::filesystem::exists(file_));
  EXPECT_EQ(registry_.getValue("clsid\\{x}\\INPROCSERVER32", "threadingmodel"), "Apartment");
}

TEST_F(RegistryTest, WritesTheExportFormat) {
  registry_.setValue("ComDupsweepDM.Dupsweep", "", "Dupsweep Object");
  registry_.setValue("CLSID\\{A}\\InprocServer32", "", "/opt/my dir/lib\\x\"y\".so");
  registry_.setValue("CLSID\\{A}\\InprocServer32", "ThreadingModel", "Apartment");
  EXPECT_EQ(readText(file_),
            "Windows Registry Editor Version 5.00\n"
            "\n"
            "[HKEY_CLASSES_ROOT\\CLSID]\n"
            "\n"
            "[HKEY_CLASSES_ROOT\\CLSID\\{A}]\n"
            "\n"
            "[HKEY_CLASSES_ROOT\\CLSID\\{A}\\InprocServer32]\n"
            "@=\"/opt/my dir/lib\\\\x\\\"y\\\".so\"\n"
            "\"ThreadingModel\"=\"Apartment\"\n"
            "\n"
            "[HKEY_CLASSES_ROOT\\ComDupsweepDM.Dupsweep]\n"
            "@=\"Dupsweep Object\"\n"
            "\n");
  EXPECT_EQ(registry_.getValue("CLSID\\{A}\\InprocServer32", ""), "/opt/my dir/lib\\x\"y\".so");
}

TEST_F(RegistryTest, KeysAndValuesCompareWithoutCase) {
  registry_.setValue("Abc", "Name", "1");
  registry_.setValue("ABC", "NAME", "2");
  EXPECT_EQ(registry_.subkeys(""), std::vector<std::string>{"Abc"});
  const auto values = registry_.values("abc");
  ASSERT_EQ(values.size(), 1u);
  EXPECT_EQ(values[0].first, "Name");
  EXPECT_EQ(values[0].second, "2");
  EXPECT_TRUE(registry_.keyExists("HKEY_CLASSES_ROOT\\aBc"));
}

TEST_F(RegistryTest, DeleteKeyRefusesAKeyWithSubkeys) {
  registry_.setValue("A\\B", "", "x");
  EXPECT_EQ(registry_.deleteKey("A"), Registry::DeleteResult::kHasSubkeys);
  EXPECT_TRUE(registry_.keyExists("A\\B"));
  EXPECT_EQ(registry_.deleteKey("a\\b"), Registry::DeleteResult::kDeleted);
  EXPECT_EQ(registry_.deleteKey("A\\B"), Registry::DeleteResult::kNotFound);
  EXPECT_EQ(registry_.deleteKey("Nowhere\\B"), Registry::DeleteResult::kNotFound);
  EXPECT_EQ(registry_.deleteKey("A"), Registry::DeleteResult::kDeleted);
  EXPECT_TRUE(registry_.subkeys("").empty());
}

TEST_F(RegistryTest, RejectsBadKeyNamesAndLineBreaks) {
  EXPECT_THROW(registry_.setValue("", "", "x"), FormatError);
  EXPECT_THROW(registry_.setValue("A\\\\B", "", "x"), FormatError);
  EXPECT_THROW(registry_.setValue("A", "", "two\nlines"), FormatError);
  EXPECT_FALSE(std::filesystem::exists(file_));
}

TEST_F(RegistryTest, KeepsValuesOfOtherTypesAndReadsCrLf) {
  std::filesystem::create_directories(file_.parent_path());
  writeText(file_,
            "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_CLASSES_ROOT\\Other]\r\n"
            "\"Count\"=dword:00000002\r\n"
            "\"Blob\"=hex:01,02,\\\r\n"
            "  03,04\r\n"
            "@=\"kept\"\r\n");
  registry_.setValue("New", "", "v");
  const std::string text = readText(file_);
  EXPECT_NE(text.find("\"Count\"=dword:00000002\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\"Blob\"=hex:01,02,\\\n  03,04\n"), std::string::npos) << text;
  EXPECT_EQ(registry_.getValue("Other", ""), "kept");
  EXPECT_EQ(registry_.getValue("Other", "Count"), std::nullopt);  // not a string
}

TEST_F(RegistryTest, CorruptFileIsAFormatErrorAndIsNeverOverwritten) {
  std::filesystem::create_directories(file_.parent_path());
  const std::string corrupt[] = {
      "not a registry\n",
      "Windows Registry Editor Version 5.00\n\n@=\"value before any key\"\n",
      "Windows Registry Editor Version 5.00\n\n[HKEY_CLASSES_ROOT\\A]\n\"x\"=\"unterminated\n",
      "Windows Registry Editor Version 5.00\n\n[HKEY_CLASSES_ROOT\\A\n",
      "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\A]\n",
      "Windows Registry Editor Version 5.00\n\n[HKEY_CLASSES_ROOT\\A]\n\"x\"=\"bad \\q escape\"\n",
      "Windows Registry Editor Version 5.00\n\n[HKEY_CLASSES_ROOT\\A]\n\"x\"=\"a\" trailing\n",
  };
  for (const std::string& text : corrupt) {
    writeText(file_, text);
    EXPECT_THROW(registry_.setValue("B", "", "x"), FormatError) << text;
    EXPECT_THROW(registry_.deleteKey("A"), FormatError) << text;
    EXPECT_THROW(registry_.getValue("A", "x"), FormatError) << text;
    EXPECT_EQ(readText(file_), text);
  }
  writeText(file_, corrupt[2]);
  try {
    registry_.getValue("A", "x");
    FAIL();
  } catch (const FormatError& e) {
    EXPECT_NE(std::string(e.what()).find("line 4"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find(file_.string()), std::string::npos) << e.what();
  }
}

TEST_F(RegistryTest, ConcurrentWritersFromTwoProcessesLoseNothing) {
  constexpr int kPerProcess = 60;
  pid_t children[2];
  for (int c = 0; c < 2; ++c) {
    children[c] = ::fork();
    if (children[c] == 0) {
      int status = 0;
      try {
        Registry registry(file_);
        for (int i = 0; i < kPerProcess; ++i)
          registry.setValue("Writer" + std::to_string(c) + "\\Key" + std::to_string(i), "N",
                            std::to_string(i));
      } catch (...) {
        status = 1;
      }
      ::_exit(status);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  for (int c = 0; c < 2; ++c) {
    const auto keys = registry_.subkeys("Writer" + std::to_string(c));
    EXPECT_EQ(keys.size(), static_cast<std::size_t>(kPerProcess));
    for (int i = 0; i < kPerProcess; ++i)
      EXPECT_EQ(registry_.getValue("Writer" + std::to_string(c) + "\\Key" + std::to_string(i), "N"),
                std::to_string(i));
  }
  // No temporary file is left behind.
  for (const auto& entry : std::filesystem::directory_iterator(file_.parent_path()))
    EXPECT_TRUE(entry.path() == file_ || entry.path().string() == file_.string() + ".lock")
        << entry.path();
}

TEST(RegistryPath, FromEnvironment) {
  {
    ScopedEnv reg("DUPSWEEP_REGISTRY", "/tmp/x/registry.reg");
    EXPECT_EQ(Registry::defaultPath(), "/tmp/x/registry.reg");
  }
  ScopedEnv reg("DUPSWEEP_REGISTRY", std::nullopt);
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", "/cfg");
    EXPECT_EQ(Registry::defaultPath(), "/cfg/dupsweep/registry.reg");
  }
  ScopedEnv xdg("XDG_CONFIG_HOME", std::nullopt);
  ScopedEnv home("HOME", "/home/op");
  EXPECT_EQ(Registry::defaultPath(), "/home/op/.config/dupsweep/registry.reg");
}

}  // namespace
}  // namespace dupsweep::com

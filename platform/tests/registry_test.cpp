// The registry store: Win32 semantics, safety of names, crash and concurrency.
#include "tgx/registry.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "process_test_util.h"
#include "registry_pattern.h"
#include "testsupport.h"

namespace tgx {
namespace {

namespace fs = std::filesystem;

LONG SetString(HKEY key, const char* name, const std::string& text) {
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>(text.size() + 1));
}

LONG SetDword(HKEY key, const char* name, DWORD value) {
  return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                        sizeof value);
}

std::string QueryString(HKEY key, const char* name) {
  char buffer[8192] = "";
  DWORD size = sizeof buffer;
  DWORD type = REG_NONE;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
      ERROR_SUCCESS) {
    return "<error>";
  }
  return std::string(buffer, size ? size - 1 : 0);
}

// Every test starts from an empty store of its own.
class Registry : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::MakeTempDir("registry");
    setenv("TGX_REGISTRY_DIR", dir_.c_str(), 1);
  }
  fs::path dir_;
};

TEST_F(Registry, CreatesOpensAndFindsKeysWithoutRegardToCase) {
  RegKey key;
  DWORD disposition = 0;
  ASSERT_EQ(
      key.Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Arvona\\Service", KEY_ALL_ACCESS, &disposition),
      ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  RegKey again;
  ASSERT_EQ(
      again.Create(HKEY_LOCAL_MACHINE, "software\\ARVONA\\service\\", KEY_ALL_ACCESS, &disposition),
      ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);

  RegKey opened;
  EXPECT_EQ(opened.Open(HKEY_LOCAL_MACHINE, "Software\\Arvona", KEY_READ), ERROR_SUCCESS);
  EXPECT_EQ(opened.Open(HKEY_LOCAL_MACHINE, "Software\\Missing", KEY_READ), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(opened.Open(HKEY_CURRENT_USER, "Software\\Arvona", KEY_READ), ERROR_FILE_NOT_FOUND)
      << "the user's tree is separate";

  // A key opened relative to another one, and the key itself again.
  RegKey parent, child, self;
  ASSERT_EQ(parent.Open(HKEY_LOCAL_MACHINE, "SOFTWARE", KEY_READ), ERROR_SUCCESS);
  EXPECT_EQ(child.Open(parent.get(), "arvona\\SERVICE", KEY_READ), ERROR_SUCCESS);
  EXPECT_EQ(self.Open(child.get(), nullptr, KEY_READ), ERROR_SUCCESS);
}

TEST_F(Registry, StoresAndReadsEachTypeWithWindowsSizeRules) {
  RegKey key;
  ASSERT_EQ(key.Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Types", KEY_ALL_ACCESS), ERROR_SUCCESS);
  ASSERT_EQ(SetString(key.get(), "Text", "hello"), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(key.get(), "Number", 0xC0FFEE), ERROR_SUCCESS);
  const char multi[] = "Terminal Server\0Enterprise\0";
  ASSERT_EQ(RegSetValueExA(key.get(), "List", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(multi),
                           sizeof multi),
            ERROR_SUCCESS);
  const BYTE binary[] = {0, 1, 0xFF, '\n', ' ', '%'};
  ASSERT_EQ(RegSetValueExA(key.get(), "", 0, REG_BINARY, binary, sizeof binary), ERROR_SUCCESS);

  DWORD type = 0, size = 0;
  EXPECT_EQ(RegQueryValueExA(key.get(), "text", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, 6u);
  char small[3] = {'x', 'x', 'x'};
  size = sizeof small;
  EXPECT_EQ(
      RegQueryValueExA(key.get(), "Text", nullptr, nullptr, reinterpret_cast<BYTE*>(small), &size),
      ERROR_MORE_DATA);
  EXPECT_EQ(size, 6u);
  EXPECT_EQ(small[0], 'x') << "nothing copied into a short buffer";
  EXPECT_EQ(QueryString(key.get(), "TEXT"), "hello");

  DWORD number = 0;
  size = sizeof number;
  EXPECT_EQ(RegQueryValueExA(key.get(), "Number", nullptr, &type, reinterpret_cast<BYTE*>(&number),
                             &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(number, 0xC0FFEEu);

  char list[64];
  size = sizeof list;
  EXPECT_EQ(
      RegQueryValueExA(key.get(), "List", nullptr, &type, reinterpret_cast<BYTE*>(list), &size),
      ERROR_SUCCESS);
  EXPECT_EQ(type, REG_MULTI_SZ);
  EXPECT_EQ(std::string(list, size), std::string(multi, sizeof multi));

  BYTE read[16];
  size = sizeof read;
  EXPECT_EQ(RegQueryValueExA(key.get(), nullptr, nullptr, &type, read, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_BINARY);
  EXPECT_EQ(size, sizeof binary);
  EXPECT_EQ(std::memcmp(read, binary, sizeof binary), 0);

  EXPECT_EQ(RegQueryValueExA(key.get(), "Missing", nullptr, nullptr, nullptr, &size),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryValueExA(key.get(), "Text", nullptr, nullptr, read, nullptr),
            ERROR_INVALID_PARAMETER);

  // Replacing keeps one value; deleting removes it.
  ASSERT_EQ(SetString(key.get(), "TEXT", "second"), ERROR_SUCCESS);
  EXPECT_EQ(QueryString(key.get(), "Text"), "second");
  EXPECT_EQ(RegDeleteValueA(key.get(), "text"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(key.get(), "text"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(QueryString(key.get(), "Text"), "<error>");
  EXPECT_EQ(RegFlushKey(key.get()), ERROR_SUCCESS);
}

TEST_F(Registry, EnumeratesValuesInOrderAndSubkeysByName) {
  RegKey key;
  ASSERT_EQ(key.Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Enum", KEY_ALL_ACCESS), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(key.get(), "Zeta", 1), ERROR_SUCCESS);
  ASSERT_EQ(SetString(key.get(), "Alpha", "a"), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(key.get(), "zeta", 2), ERROR_SUCCESS);  // Replaces, keeps its place.

  char name[16];
  DWORD nameSize = sizeof name;
  DWORD type = 0;
  DWORD value = 0, valueSize = sizeof value;
  ASSERT_EQ(RegEnumValueA(key.get(), 0, name, &nameSize, nullptr, &type,
                          reinterpret_cast<BYTE*>(&value), &valueSize),
            ERROR_SUCCESS);
  EXPECT_STREQ(name, "Zeta");
  EXPECT_EQ(nameSize, 4u);
  EXPECT_EQ(value, 2u);
  nameSize = sizeof name;
  ASSERT_EQ(RegEnumValueA(key.get(), 1, name, &nameSize, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_STREQ(name, "Alpha");
  nameSize = sizeof name;
  EXPECT_EQ(RegEnumValueA(key.get(), 2, name, &nameSize, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);
  nameSize = 4;  // "Zeta" needs 5 with its NUL.
  EXPECT_EQ(RegEnumValueA(key.get(), 0, name, &nameSize, nullptr, nullptr, nullptr, nullptr),
            ERROR_MORE_DATA);

  for (const char* sub : {"beta", "Alpha", "GAMMA"}) {
    RegKey child;
    ASSERT_EQ(child.Create(key.get(), sub, KEY_ALL_ACCESS), ERROR_SUCCESS);
  }
  std::vector<std::string> names;
  for (DWORD i = 0;; ++i) {
    nameSize = sizeof name;
    FILETIME written{};
    const LONG result =
        RegEnumKeyExA(key.get(), i, name, &nameSize, nullptr, nullptr, nullptr, &written);
    if (result == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(result, ERROR_SUCCESS);
    EXPECT_NE(written.dwHighDateTime, 0u);
    names.emplace_back(name, nameSize);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "beta", "GAMMA"}));
}

TEST_F(Registry, DeletesKeysWithoutSubkeysOnly) {
  RegKey key, child;
  ASSERT_EQ(key.Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Del\\Inner", KEY_ALL_ACCESS), ERROR_SUCCESS);
  ASSERT_EQ(SetString(key.get(), "v", "x"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Del"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "software\\del\\INNER"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Del\\Inner"), ERROR_FILE_NOT_FOUND);
  // The handle still open on the deleted key says so.
  EXPECT_EQ(QueryString(key.get(), "v"), "<error>");
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(key.get(), "v", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
  EXPECT_EQ(SetString(key.get(), "v", "y"), ERROR_KEY_DELETED);
  EXPECT_EQ(RegFlushKey(key.get()), ERROR_KEY_DELETED);
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Del"), ERROR_SUCCESS);
  // Created again from scratch, with no values.
  ASSERT_EQ(child.Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Del\\Inner", KEY_ALL_ACCESS),
            ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExA(child.get(), "v", nullptr, nullptr, nullptr, &size),
            ERROR_FILE_NOT_FOUND);
}

TEST_F(Registry, ChecksHandlesRightsAndPaths) {
  RegKey key;
  ASSERT_EQ(key.Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Rights", KEY_ALL_ACCESS), ERROR_SUCCESS);
  RegKey readOnly;
  ASSERT_EQ(readOnly.Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Rights", KEY_QUERY_VALUE), ERROR_SUCCESS);
  EXPECT_EQ(SetString(readOnly.get(), "v", "x"), ERROR_ACCESS_DENIED);
  char name[8];
  DWORD nameSize = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(readOnly.get(), 0, name, &nameSize, nullptr, nullptr, nullptr, nullptr),
            ERROR_ACCESS_DENIED);

  const HKEY closed = key.get();
  key.reset();
  EXPECT_EQ(RegCloseKey(closed), ERROR_INVALID_HANDLE);
  EXPECT_EQ(SetString(closed, "v", "x"), ERROR_INVALID_HANDLE);
  EXPECT_EQ(SetString(HKEY{12345}, "v", "x"), ERROR_INVALID_HANDLE);

  HKEY result{};
  EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "a\\\\b", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &result, nullptr),
            ERROR_BAD_PATHNAME);
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "\\SOFTWARE", 0, KEY_READ, &result),
            ERROR_BAD_PATHNAME);
  EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, std::string(256, 'k').c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &result, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegSetValueExA(HKEY_LOCAL_MACHINE, "v", 0, REG_BINARY, nullptr, 4),
            ERROR_INVALID_PARAMETER);
}

TEST_F(Registry, NamesNeverReachOutsideTheStore) {
  const fs::path outside = dir_.parent_path() / (dir_.filename().string() + "-outside");
  for (const char* name : {"..", "../..", "/etc", "..\\..", "a/../../x", ".hidden", "%2E%2E"}) {
    const std::string path =
        std::string("SOFTWARE\\") + name + "\\" + (dir_.filename().string() + "-outside");
    RegKey key;
    ASSERT_EQ(key.Create(HKEY_LOCAL_MACHINE, path.c_str(), KEY_ALL_ACCESS), ERROR_SUCCESS) << name;
    ASSERT_EQ(SetString(key.get(), name, name), ERROR_SUCCESS);
    EXPECT_EQ(QueryString(key.get(), name), name);
  }
  EXPECT_FALSE(fs::exists(outside));
  EXPECT_FALSE(fs::exists("/etc/" + dir_.filename().string() + "-outside"));
  // Distinct names stay distinct keys.
  RegKey software;
  ASSERT_EQ(software.Open(HKEY_LOCAL_MACHINE, "SOFTWARE", KEY_READ), ERROR_SUCCESS);
  DWORD count = 0;
  char name[64];
  for (DWORD size = sizeof name; RegEnumKeyExA(software.get(), count, name, &size, nullptr, nullptr,
                                               nullptr, nullptr) == ERROR_SUCCESS;
       size = sizeof name) {
    ++count;
  }
  EXPECT_EQ(count, 6u) << "\"..\\..\" is the key \"..\" with a subkey";
}

TEST_F(Registry, ReportsACorruptKeyFile) {
  RegKey key;
  ASSERT_EQ(key.Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Broken", KEY_ALL_ACCESS), ERROR_SUCCESS);
  ASSERT_EQ(SetString(key.get(), "v", "x"), ERROR_SUCCESS);
  fs::path file;
  for (const auto& entry : fs::recursive_directory_iterator(dir_)) {
    if (entry.path().filename() == "@values" && entry.path().parent_path().filename() == "broken") {
      file = entry.path();
    }
  }
  ASSERT_FALSE(file.empty());
  std::string text;
  {
    std::ifstream in(file);
    std::getline(in, text, '\0');
  }
  std::ofstream(file) << text.substr(0, text.size() / 2);  // Torn: no "end".
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(key.get(), "v", nullptr, nullptr, nullptr, &size),
            ERROR_REGISTRY_CORRUPT);
  EXPECT_EQ(SetString(key.get(), "v", "y"), ERROR_REGISTRY_CORRUPT) << "nothing overwritten";
}

// A writer killed with SIGKILL in the middle of its write loop leaves a whole
// value behind: the old or the new one, never a mix.
TEST_F(Registry, WriterKilledMidWriteLeavesWholeValue) {
  for (int round = 0; round < 4; ++round) {
    Handle writer = test::StartHelper("regloop Pattern");
    ASSERT_TRUE(writer);
    RegKey key;
    const DWORD start = GetTickCount();
    while (key.Open(HKEY_LOCAL_MACHINE, test::kCrashKey, KEY_READ) != ERROR_SUCCESS ||
           QueryString(key.get(), "Pattern") == "<error>") {
      ASSERT_LT(GetTickCount() - start, 10000u) << "writer never wrote";
      Sleep(5);
    }
    Sleep(50 + 37 * round);
    ASSERT_TRUE(TerminateProcess(writer, 9));
    ASSERT_EQ(WaitForSingleObject(writer, 10000), WAIT_OBJECT_0);
    const std::string value = QueryString(key.get(), "Pattern");
    EXPECT_TRUE(test::IsRegistryPattern(value)) << value.substr(0, 40);
  }
}

// Two processes writing different values of one key at once lose none.
TEST_F(Registry, ConcurrentWritersLoseNoUpdate) {
  constexpr int kCount = 60;
  Handle first = test::StartHelper("regmany A " + std::to_string(kCount));
  Handle second = test::StartHelper("regmany B " + std::to_string(kCount));
  ASSERT_TRUE(first && second);
  EXPECT_EQ(test::ExitCodeAfter(first, 25000), 0u);
  EXPECT_EQ(test::ExitCodeAfter(second, 25000), 0u);
  RegKey key;
  ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, test::kConcurrentKey, KEY_READ), ERROR_SUCCESS);
  for (const char* prefix : {"A", "B"}) {
    for (DWORD i = 0; i < kCount; ++i) {
      const std::string name = prefix + std::to_string(i);
      DWORD value = ~0u, size = sizeof value;
      ASSERT_EQ(RegQueryValueExA(key.get(), name.c_str(), nullptr, nullptr,
                                 reinterpret_cast<BYTE*>(&value), &size),
                ERROR_SUCCESS)
          << name;
      EXPECT_EQ(value, i);
    }
  }
}

}  // namespace
}  // namespace tgx

// The name form decisions on every Windows version, the Everyone attributes
// and the named-mutex lock discipline.
#include "tgx/named_objects.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <future>
#include <string>

#include "testsupport.h"
#include "tgx/kobj.h"
#include "tgx/process.h"
#include "tgx/registry.h"

namespace tgx {
namespace {

class NameForm : public ::testing::Test {
 protected:
  void SetUp() override { setenv("TGX_REGISTRY_DIR", test::MakeTempDir("registry").c_str(), 1); }
  void TearDown() override { unsetenv("TGX_PLATFORM_VERSION"); }

  static void Version(const char* version) { setenv("TGX_PLATFORM_VERSION", version, 1); }
  // Writes "ProductSuite" as a REG_MULTI_SZ (entries, each NUL-terminated,
  // and the final NUL).
  static void Suite(const std::string& entries) {
    RegKey key;
    ASSERT_EQ(key.Create(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\ProductOptions",
                         KEY_ALL_ACCESS),
              ERROR_SUCCESS);
    const std::string data = entries + std::string(1, '\0');
    ASSERT_EQ(
        RegSetValueExA(key.get(), "ProductSuite", 0, REG_MULTI_SZ,
                       reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size())),
        ERROR_SUCCESS);
  }
  static std::string Name(int versionClass, const char* base) {
    char out[64] = "untouched";
    return ObjectNamer(versionClass).Make(out, sizeof out, base) ? out
                                                                 : "false:" + std::string(out);
  }
};

using namespace std::string_literals;

TEST_F(NameForm, FirstFormFollowsVersionAndFirstSuiteEntry) {
  EXPECT_TRUE(IsTerminalServices()) << "Linux is NT 10";
  Version("2.5.0");
  EXPECT_TRUE(IsTerminalServices());
  Version("2.4.0");
  EXPECT_FALSE(IsTerminalServices()) << "NT 4.0 without the key";
  Suite("Enterprise\0Terminal Server\0"s);
  EXPECT_FALSE(IsTerminalServices()) << "only the first entry counts";
  Suite("Terminal Server\0"s);
  EXPECT_TRUE(IsTerminalServices());
  Suite("tERMINALxyz\0"s);
  EXPECT_TRUE(IsTerminalServices()) << "its first 8 characters, in any case";
  Suite("Termina\0"s);
  EXPECT_FALSE(IsTerminalServices());
  // Old NT and the 9x family never, whatever the suite says.
  Suite("Terminal Server\0"s);
  for (const char* version : {"2.3.51", "1.4.10", "1.4.0", "0.3.10", "not-a-version"}) {
    Version(version);
    EXPECT_FALSE(IsTerminalServices()) << version;
  }
}

TEST_F(NameForm, VersionClasses) {
  const std::pair<const char*, int> table[] = {
      {"0.3.10", 1},  {"1.4.0", 2},  {"1.4.10", 3}, {"1.4.90", 4}, {"1.4.3", 5},  {"2.3.51", 6},
      {"2.4.0", 7},   {"2.5.0", 8},  {"2.5.1", 9},  {"2.5.2", 10}, {"2.6.1", 10}, {"2.10.0", 10},
      {"2.3.50", 11}, {"2.4.1", 11}, {"2.5.3", 11}, {"bad", 0}};
  for (const auto& [version, expected] : table) {
    Version(version);
    EXPECT_EQ(ClassifyWindowsVersion(), expected) << version;
  }
}

TEST_F(NameForm, SecondFormLooksForExactTerminalServerEntry) {
  EXPECT_EQ(Name(8, "Arvona TGXPrinter Local Service"), "Global\\Arvona TGXPrinter Local Service");
  EXPECT_EQ(Name(11, "x"), "Global\\x");
  EXPECT_EQ(Name(7, "x"), "x") << "no product suite";
  EXPECT_EQ(Name(3, "x"), "x");
  Suite("Enterprise\0Terminal Server\0"s);
  EXPECT_EQ(Name(7, "x"), "Global\\x") << "any entry counts";
  EXPECT_EQ(Name(2, "x"), "Global\\x");
  Suite("terminal server\0TerminalServer\0"s);
  EXPECT_EQ(Name(7, "x"), "x") << "but only in exact case";

  EXPECT_EQ(Name(8, ""), "false:untouched");
  EXPECT_EQ(Name(8, nullptr), "false:untouched");
  char tight[9] = "keep";
  EXPECT_FALSE(ObjectNamer(8).Make(tight, sizeof tight, "ab")) << "Global\\ab needs 10 bytes";
  EXPECT_STREQ(tight, "keep");
  EXPECT_FALSE(ObjectNamer(8).Make(nullptr, 10, "ab"));
  char out[32];
  ASSERT_TRUE(MakeObjectName(out, "QRS_NBcbt_dll_filemap"));
  EXPECT_STREQ(out, "Global\\QRS_NBcbt_dll_filemap") << "this process: NT 10";
}

TEST_F(NameForm, ProcessDecisionIsTakenOnce) {
  const ObjectNameForm& first = ProcessObjectNames();
  const bool global = first.global();
  Version("1.4.10");
  EXPECT_EQ(&ProcessObjectNames(), &first);
  EXPECT_EQ(ProcessObjectNames().global(), global);
  EXPECT_STREQ(ObjectNameForm(true).Select("a", "Global\\a"), "Global\\a");
  EXPECT_STREQ(ObjectNameForm(false).Select("a", "Global\\a"), "a");
}

TEST(EveryoneSecurity, BuildsOneEveryoneAceGivingWorldAccess) {
  EveryoneSecurity storage;
  std::memset(static_cast<void*>(&storage), 0xAB, sizeof storage);  // Garbage to overwrite.
  const SECURITY_ATTRIBUTES* attributes =
      MakeEveryoneSecurityAttributes(storage, kEveryonePortTableAccess);
  ASSERT_EQ(attributes, &storage.attributes);
  EXPECT_EQ(attributes->nLength, 12u);
  EXPECT_EQ(attributes->bInheritHandle, FALSE);
  const SECURITY_DESCRIPTOR& descriptor = *attributes->lpSecurityDescriptor;
  EXPECT_EQ(descriptor.Revision, SECURITY_DESCRIPTOR_REVISION);
  EXPECT_TRUE(descriptor.DaclPresent);
  EXPECT_FALSE(descriptor.DaclDefaulted);
  const ACL& acl = *descriptor.Dacl;
  EXPECT_EQ(acl.AclRevision, ACL_REVISION);
  EXPECT_EQ(acl.AclSize, 1024);
  EXPECT_EQ(acl.AceCount, 1);
  ACCESS_ALLOWED_ACE ace;
  std::memcpy(&ace, reinterpret_cast<const BYTE*>(&acl) + sizeof(ACL), sizeof ace);
  EXPECT_EQ(ace.Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
  EXPECT_EQ(ace.Mask, kEveryonePortTableAccess);
  EXPECT_EQ(ace.Sid.SubAuthorityCount, 1);
  EXPECT_EQ(ace.Sid.IdentifierAuthority.Value[5], 1);
  EXPECT_EQ(ace.Sid.SubAuthority[0], SECURITY_WORLD_RID);
  EXPECT_EQ(FileModeFor(attributes), 0666u);
  EXPECT_EQ(FileModeFor(nullptr), 0600u) << "the fall-back: default security";
}

// Starts the platform helper to take a named mutex and die holding it.
void AbandonInOtherProcess(const std::string& name) {
  const std::string command =
      (test::BinDir() / "platform_helper_proc").string() + " abandon " + name;
  PROCESS_INFORMATION info;
  ASSERT_TRUE(CreateProcessA(nullptr, command.c_str(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             nullptr, &info));
  ASSERT_EQ(WaitForSingleObject(info.hProcess, 10000), WAIT_OBJECT_0);
  DWORD code = 1;
  GetExitCodeProcess(info.hProcess, &code);
  ASSERT_EQ(code, 0u);
}

// Whether another thread can take the mutex at once (and gives it back).
DWORD TryFromOtherThread(const Handle& mutex) {
  return std::async(std::launch::async,
                    [&] {
                      const DWORD result = WaitForSingleObject(mutex, 0);
                      if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) ReleaseMutex(mutex);
                      return result;
                    })
      .get();
}

TEST(NamedMutexLock, HoldsUntilScopeEndsAndReleasesOnce) {
  EveryoneSecurity storage;
  Handle mutex = CreateMutexA(MakeEveryoneSecurityAttributes(storage, kEveryoneMutexAccess), FALSE,
                              "Global\\tgx_common_lock");
  ASSERT_TRUE(mutex);
  {
    NamedMutexLock lock(mutex);
    ASSERT_TRUE(lock.owns());
    EXPECT_FALSE(lock.abandoned());
    EXPECT_EQ(TryFromOtherThread(mutex), WAIT_TIMEOUT);
    lock.Unlock();
    EXPECT_FALSE(lock.owns());
    EXPECT_EQ(TryFromOtherThread(mutex), WAIT_OBJECT_0);
    NamedMutexLock again(mutex);
    EXPECT_TRUE(again.owns());
  }  // "lock" is already released: its destructor must not release again.
  EXPECT_EQ(TryFromOtherThread(mutex), WAIT_OBJECT_0);
  EXPECT_FALSE(ReleaseMutex(mutex)) << "not owned any more";

  Handle none;
  NamedMutexLock failed(none);
  EXPECT_FALSE(failed.owns());
}

TEST(NamedMutexLock, AbandonedMutexCountsAsTaken) {
  const char* name = "Global\\tgx_common_abandoned";
  Handle mutex = CreateMutexA(nullptr, FALSE, name);
  ASSERT_TRUE(mutex);
  AbandonInOtherProcess(name);
  {
    NamedMutexLock lock(mutex);
    ASSERT_TRUE(lock.owns());
    EXPECT_TRUE(lock.abandoned());
    EXPECT_EQ(TryFromOtherThread(mutex), WAIT_TIMEOUT);
  }
  EXPECT_EQ(TryFromOtherThread(mutex), WAIT_OBJECT_0) << "released once, and no longer abandoned";
}

}  // namespace
}  // namespace tgx

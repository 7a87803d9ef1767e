// The reported Windows version and its test override.
#include "tgx/version.h"

#include <gtest/gtest.h>
#include <stdlib.h>

namespace tgx {
namespace {

struct Reported {
  BOOL ok;
  DWORD platform, major, minor, build;
};

Reported Report(const char* override) {
  if (override) {
    setenv("TGX_PLATFORM_VERSION", override, 1);
  } else {
    unsetenv("TGX_PLATFORM_VERSION");
  }
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
  const BOOL ok = GetVersionExA(&info);
  unsetenv("TGX_PLATFORM_VERSION");
  return {ok, info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber};
}

TEST(Version, ReportsNtTenUnlessOverridden) {
  const Reported linux = Report(nullptr);
  EXPECT_TRUE(linux.ok);
  EXPECT_EQ(linux.platform, VER_PLATFORM_WIN32_NT);
  EXPECT_EQ(linux.major, 10u);
  EXPECT_EQ(linux.minor, 0u);

  const Reported windows98 = Report("1.4.10");
  EXPECT_TRUE(windows98.ok);
  EXPECT_EQ(windows98.platform, VER_PLATFORM_WIN32_WINDOWS);
  EXPECT_EQ(windows98.major, 4u);
  EXPECT_EQ(windows98.minor, 10u);

  const Reported nt351 = Report("2.3.51.1057");
  EXPECT_EQ(nt351.major, 3u);
  EXPECT_EQ(nt351.minor, 51u);
  EXPECT_EQ(nt351.build, 1057u);
}

TEST(Version, MalformedOverrideAndWrongSizeFail) {
  for (const char* bad : {"2.4", "x.4.0", "2.4.0.", "3.4.0", "2..0", "2.4.0 ", "2.4.0.1.2"}) {
    EXPECT_FALSE(Report(bad).ok) << bad;
    EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA) << bad;
  }
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = 156;
  EXPECT_FALSE(GetVersionExA(&info));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_FALSE(GetVersionExA(nullptr));
}

}  // namespace
}  // namespace tgx

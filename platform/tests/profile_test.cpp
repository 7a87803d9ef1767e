// Settings files read the Windows way, odd content included.
#include "tgx/profile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "testsupport.h"

namespace tgx {
namespace {

namespace fs = std::filesystem;

class Profile : public ::testing::Test {
 protected:
  // Writes the file's bytes exactly as given.
  void Write(std::string_view bytes) {
    file_ = test::MakeTempDir("profile") / "fut.ini";
    std::ofstream(file_, std::ios::binary).write(bytes.data(), bytes.size());
  }
  std::string Get(const char* section, const char* key, const char* fallback = "dflt",
                  DWORD size = 256) {
    std::string buffer(size + 8, '#');
    const DWORD count =
        GetPrivateProfileStringA(section, key, fallback, buffer.data(), size, file_.c_str());
    EXPECT_EQ(buffer.substr(size), std::string(8, '#')) << "wrote past the buffer";
    EXPECT_EQ(buffer[count], '\0');
    return buffer.substr(0, count);
  }
  UINT Int(const char* key, int fallback = -7) {
    return GetPrivateProfileIntA("Numbers", key, fallback, file_.c_str());
  }
  fs::path file_;
};

TEST_F(Profile, FindsSectionsAndKeysWithoutRegardToCase) {
  Write(
      "; comment\n"
      "[Setting]\n"
      "  Lang = JPN  \n"
      "Path=\"C:\\Program Files\\x\" \n"
      "Single='quoted'\n"
      "Unbalanced=\"open\n"
      "Empty=\n"
      "NoEquals\n"
      "  [ Other ]  \n"
      "lang=second\n");
  EXPECT_EQ(Get("setting", "LANG"), "JPN");
  EXPECT_EQ(Get(" SETTING ", " lang "), "JPN");
  EXPECT_EQ(Get("Setting", "Path"), "C:\\Program Files\\x");
  EXPECT_EQ(Get("Setting", "Single"), "quoted");
  EXPECT_EQ(Get("Setting", "Unbalanced"), "\"open");
  EXPECT_EQ(Get("Setting", "Empty"), "");
  EXPECT_EQ(Get("Setting", "NoEquals"), "dflt");
  EXPECT_EQ(Get("Other", "Lang"), "second");
  EXPECT_EQ(Get("Setting", "Missing"), "dflt");
  EXPECT_EQ(Get("Missing", "Lang", "fallback   "), "fallback") << "default loses trailing blanks";
  EXPECT_EQ(Get("Missing", "Lang", nullptr), "");
}

TEST_F(Profile, FirstOfDuplicateSectionsAndKeysWins) {
  Write("[A]\nk=1\nk=2\n[a]\nk=3\nonly=4\n");
  EXPECT_EQ(Get("A", "k"), "1");
  EXPECT_EQ(Get("A", "only"), "dflt") << "the second [a] is not searched";
}

TEST_F(Profile, CutsValuesAndListsToTheBuffer) {
  Write("[S]\nlong=abcdefghij\n[T]\n[U]\n");
  EXPECT_EQ(Get("S", "long", "", 5), "abcd");
  EXPECT_EQ(Get("S", "long", "", 1), "");
  EXPECT_EQ(Get("S", "missing", "0123456789", 4), "012");

  EXPECT_EQ(Get(nullptr, nullptr), std::string("S\0T\0U\0", 6));
  std::string cut = Get(nullptr, nullptr, "", 5);
  EXPECT_EQ(cut, std::string("S\0T", 3)) << "cut list: size - 2";
  char list[5];
  std::memset(list, '#', sizeof list);
  EXPECT_EQ(GetPrivateProfileStringA(nullptr, nullptr, "", list, sizeof list, file_.c_str()), 3u);
  EXPECT_EQ(list[3], '\0');
  EXPECT_EQ(list[4], '\0');
  EXPECT_EQ(GetPrivateProfileStringA("S", "long", "", list, 0, file_.c_str()), 0u);
  EXPECT_EQ(list[0], 'S') << "size 0 writes nothing";
}

TEST_F(Profile, EnumeratesKeysOfASection) {
  Write("[S]\nb=1\n;c=2\nA=3\nbare\n[T]\nz=0\n");
  EXPECT_EQ(Get("s", nullptr), std::string("b\0A\0bare\0", 9));
  EXPECT_EQ(Get("none", nullptr), "");
}

TEST_F(Profile, ReadsOddContentSafely) {
  // CR LF and lone CR line ends, no final newline, a NUL inside a line, a
  // byte-order mark, an over-long line and a section header without "]".
  std::string text = "\xEF\xBB\xBF[S]\r\na=1\r\nb=2\rc=3";
  text += "\n[Z]\nnul=ab";
  text += '\0';
  text += "cd\nafter=ok\n[broken\nlong=" + std::string(100000, 'x') + "\nlast=end";
  Write(text);
  EXPECT_EQ(Get("S", "a"), "1");
  EXPECT_EQ(Get("S", "b"), "2");
  EXPECT_EQ(Get("S", "c"), "3");
  EXPECT_EQ(Get("Z", "nul"), "ab");
  EXPECT_EQ(Get("Z", "after"), "ok");
  EXPECT_EQ(Get("Z", "long", "", 300), std::string(299, 'x'));
  EXPECT_EQ(Get("Z", "last"), "end");
}

TEST_F(Profile, MissingFileGivesDefaults) {
  file_ = test::MakeTempDir("profile") / "absent.ini";
  EXPECT_EQ(Get("S", "k"), "dflt");
  EXPECT_EQ(Get(nullptr, nullptr), "");
  EXPECT_EQ(GetPrivateProfileIntA("S", "k", 17, file_.c_str()), 17u);
}

TEST_F(Profile, ReadsIntegers) {
  Write("[Numbers]\nplain=42\nspaced=  12ab\nhex=0x1F\nneg=-5\nword=abc\nempty=\n");
  EXPECT_EQ(Int("plain"), 42u);
  EXPECT_EQ(Int("spaced"), 12u);
  EXPECT_EQ(Int("hex"), 31u);
  EXPECT_EQ(Int("neg"), static_cast<UINT>(-5));
  EXPECT_EQ(Int("word"), 0u);
  EXPECT_EQ(Int("empty"), static_cast<UINT>(-7));
  EXPECT_EQ(Int("missing", 3), 3u);
}

}  // namespace
}  // namespace tgx

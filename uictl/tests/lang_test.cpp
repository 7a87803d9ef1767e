#include "lang.h"

#include <gtest/gtest.h>

#include <fstream>

#include "testsupport.h"
#include "tgx/registry.h"
#include "uictl/uictl.h"

namespace uictl {
namespace {

class LanguageTest : public ::testing::Test {
 protected:
  void TearDown() override { NsSetCustumLangString(nullptr); }
  // A program directory whose fut.ini names the registry key of the language.
  std::string ProgramDir(const char* ini) {
    const auto dir = tgx::test::MakeTempDir("prog");
    std::ofstream(dir / "fut.ini") << ini;
    return dir.string();
  }
  void SetLang(const char* code) {
    tgx::RegKey key;
    ASSERT_EQ(
        key.Create(tgx::HKEY_LOCAL_MACHINE, "SOFTWARE\\Maker\\Tools\\FwTool", tgx::KEY_ALL_ACCESS),
        tgx::ERROR_SUCCESS);
    ASSERT_EQ(tgx::RegSetValueExA(key.get(), "LANG", 0, tgx::REG_SZ,
                                  reinterpret_cast<const tgx::BYTE*>(code),
                                  static_cast<tgx::DWORD>(strlen(code) + 1)),
              tgx::ERROR_SUCCESS);
  }
  static constexpr const char* kIni =
      "[CampanyName]\nNAME=Maker\nREGPATH=Tools\n[COMMON]\napptitle=FwTool\n";
};

TEST_F(LanguageTest, TheRegistryValueNamedByFutIniChoosesTheLanguage) {
  SetLang("DE");
  EXPECT_EQ(CurrentLanguageId(ProgramDir(kIni)), 1031);
  SetLang("RU");
  EXPECT_EQ(CurrentLanguageId(ProgramDir(kIni)), 1049);
}

TEST_F(LanguageTest, TheCodeSetByTheProgramWins) {
  SetLang("DE");
  NsSetCustumLangString("JP");
  EXPECT_EQ(CurrentLanguageId(ProgramDir(kIni)), 1041);
  NsSetCustumLangString("XX");
  EXPECT_EQ(CurrentLanguageId(ProgramDir(kIni)), SystemLanguageId());
}

TEST_F(LanguageTest, AnyMissingPieceFallsBackToTheSystemLanguage) {
  SetLang("DE");
  EXPECT_EQ(CurrentLanguageId(ProgramDir("[CampanyName]\nNAME=Maker\nREGPATH=Tools\n")),
            SystemLanguageId());
  EXPECT_EQ(CurrentLanguageId(ProgramDir(
                "[CampanyName]\nNAME=Other\nREGPATH=Tools\n[COMMON]\napptitle=FwTool\n")),
            SystemLanguageId());
  SetLang("ZZ");
  EXPECT_EQ(CurrentLanguageId(ProgramDir(kIni)), SystemLanguageId());
}

TEST_F(LanguageTest, LanguagesMapToTheirTextFiles) {
  EXPECT_EQ(LanguageFileName(1041), "fwtoolJP.ini");
  EXPECT_EQ(LanguageFileName(1034), "fwtoolES.ini");
  EXPECT_EQ(LanguageFileName(3082), "fwtoolES.ini");
  EXPECT_EQ(LanguageFileName(2052), "fwtoolCN.ini");
  EXPECT_EQ(LanguageFileName(1043), "fwtoolUS.ini");
  EXPECT_EQ(LanguageIdOfCode("KR"), 1042);
  EXPECT_EQ(LanguageIdOfCode("kr"), 0);
}

TEST_F(LanguageTest, ShippedFilesHoldEveryTextTheControlsUse) {
  for (const char* code : {"JP", "US"}) {
    NsSetCustumLangString(code);
    SCOPED_TRACE(code);
    EXPECT_FALSE(LanguageText("Warning").empty());
    EXPECT_FALSE(LanguageText("Caption").empty());
    for (int id : {12, 13, 14, 15, 17, 18, 19, 20, 21, 22, 23, 25, 26, 27})
      EXPECT_FALSE(LanguageText(("String" + std::to_string(id)).c_str()).empty()) << id;
  }
  NsSetCustumLangString("US");
  EXPECT_EQ(StringText(14), "The input value is invalid.");
  EXPECT_EQ(LanguageText("NoSuchKey"), "");
  NsSetCustumLangString("FR");  // no French file: the built-in Japanese texts
  EXPECT_EQ(StringText(14), "入力値が不正です。");
  EXPECT_EQ(LanguageText("Warning"), "");
}

}  // namespace
}  // namespace uictl

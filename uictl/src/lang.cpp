#include "lang.h"

#include <QLocale>

#include <array>
#include <filesystem>
#include <utility>

#include "tgx/library.h"
#include "tgx/profile.h"
#include "tgx/registry.h"

namespace uictl {
namespace {

std::string& StoredCode() {
  static std::string code;
  return code;
}

constexpr std::array<std::pair<const char*, int>, 9> kCodes{{{"JP", 1041},
                                                             {"US", 1033},
                                                             {"FR", 1036},
                                                             {"IT", 1040},
                                                             {"DE", 1031},
                                                             {"ES", 1034},
                                                             {"CN", 2052},
                                                             {"KR", 1042},
                                                             {"RU", 1049}}};

std::string ProgramDirectory() {
  char path[4096];
  const tgx::DWORD n = tgx::GetModuleFileNameA(nullptr, path, sizeof path);
  if (n == 0 || n >= sizeof path) return {};
  return std::filesystem::path(path).parent_path().string();
}

std::string Profile(const char* section, const char* key, const std::string& file) {
  char value[512];
  tgx::GetPrivateProfileStringA(section, key, "error", value, sizeof value, file.c_str());
  return value;
}

int RegistryLanguage(const std::string& programDir) {
  const std::string ini = (std::filesystem::path(programDir) / "fut.ini").string();
  const std::string name = Profile("CampanyName", "NAME", ini);
  const std::string regPath = Profile("CampanyName", "REGPATH", ini);
  const std::string title = Profile("COMMON", "apptitle", ini);
  if (name == "error" || regPath == "error" || title == "error") return 0;
  const std::string keyPath = "SOFTWARE\\" + name + "\\" + regPath + "\\" + title;
  tgx::RegKey key;
  if (key.Open(tgx::HKEY_LOCAL_MACHINE, keyPath.c_str(), tgx::KEY_READ) != tgx::ERROR_SUCCESS)
    return 0;
  char data[16] = {};
  tgx::DWORD size = sizeof data - 1;
  tgx::DWORD type = 0;
  if (tgx::RegQueryValueExA(key.get(), "LANG", nullptr, &type, reinterpret_cast<tgx::BYTE*>(data),
                            &size) != tgx::ERROR_SUCCESS ||
      type != tgx::REG_SZ)
    return 0;
  data[size] = '\0';
  return LanguageIdOfCode(data);
}

// The built-in string table.
const char* BuiltinString(int id) {
  switch (id) {
    case 12: return "名前に使用できない文字を - で置き換えました。";
    case 13: return "%dから%dまでの値を指定してください。";
    case 14: return "入力値が不正です。";
    case 15: return "正しい16進数値を指定してください。";
    case 17: return "0.5刻みの値を指定してください。";
    case 18: return "%d.%dから%d.%dまでの値を指定してください。";
    case 19: return "%dから%dまでの値を指定してください。";
    case 20:
    case 22: return "1から%d文字までの名前を入力してください。";
    case 21: return "%ldから%ldまでの値を指定してください。";
    case 23: return "URLに使用できない文字を - で置き換えました。";
    case 25: return "DNSﾎｽﾄ名に使用できない文字を - で置き換えました。";
    case 26: return "DNSﾄﾞﾒｲﾝ名に使用できない文字を - で置き換えました。";
    case 27: return "警告";
    default: return "";
  }
}

}  // namespace

void SetLanguageCode(const char* code) { StoredCode() = code ? code : ""; }
const std::string& LanguageCode() { return StoredCode(); }

int LanguageIdOfCode(const std::string& code) {
  for (const auto& [name, id] : kCodes)
    if (code == name) return id;
  return 0;
}

int SystemLanguageId() {
  switch (QLocale::system().language()) {
    case QLocale::Japanese: return 1041;
    case QLocale::French: return 1036;
    case QLocale::Italian: return 1040;
    case QLocale::German: return 1031;
    case QLocale::Spanish: return 1034;
    case QLocale::Chinese: return 2052;
    case QLocale::Korean: return 1042;
    case QLocale::Russian: return 1049;
    default: return 1033;
  }
}

int CurrentLanguageId(const std::string& programDir) {
  int id = 0;
  if (!LanguageCode().empty())
    id = LanguageIdOfCode(LanguageCode());
  else
    id = RegistryLanguage(programDir.empty() ? ProgramDirectory() : programDir);
  return id != 0 ? id : SystemLanguageId();
}

std::string LanguageFileName(int languageId) {
  switch (languageId) {
    case 1041: return "fwtoolJP.ini";
    case 1036: return "fwtoolFR.ini";
    case 1040: return "fwtoolIT.ini";
    case 1031: return "fwtoolDE.ini";
    case 1034:
    case 3082: return "fwtoolES.ini";
    case 2052: return "fwtoolCN.ini";
    case 1042: return "fwtoolKR.ini";
    case 1049: return "fwtoolRU.ini";
    default: return "fwtoolUS.ini";
  }
}

std::string LanguageText(const char* key) {
  const std::string name = LanguageFileName(CurrentLanguageId());
  std::string file = name;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(name, ec)) {
    static char anchor;
    const std::string besideLibrary = tgx::ModuleDirectoryOf(&anchor);
    if (!besideLibrary.empty()) file = besideLibrary + "/" + name;
  }
  const std::string text = Profile("Custum", key, file);
  return text == "error" ? std::string{} : text;
}

std::string StringText(int id) {
  const std::string key = "String" + std::to_string(id);
  std::string text = LanguageText(key.c_str());
  return text.empty() ? BuiltinString(id) : text;
}

}  // namespace uictl

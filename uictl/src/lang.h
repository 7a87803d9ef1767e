// The language of the controls' warnings: the code a program sets, else the
// firmware tool's settings file and registry value, else the system's language;
// the language text file that follows from it; the built-in Japanese strings.
#pragma once

#include <string>

namespace uictl {

// The code set by NsSetCustumLangString (empty: none; null clears it).
void SetLanguageCode(const char* code);
const std::string& LanguageCode();

// Windows language identifiers of the two-letter codes; 0 for another code.
int LanguageIdOfCode(const std::string& code);

// The system's language identifier (from the locale; English when unknown).
int SystemLanguageId();

// The language identifier the controls use. With no code set, programDir is
// where "fut.ini" is looked for (the running program's directory by default).
int CurrentLanguageId(const std::string& programDir = {});

// The language text file of a language identifier: "fwtoolJP.ini", ...; any
// language without its own file takes "fwtoolUS.ini".
std::string LanguageFileName(int languageId);

// The entry key of section "Custum" in the current language's text file, found
// in the current directory or else beside this library; empty when missing
// (the entry reads "error"). The result is UTF-8.
std::string LanguageText(const char* key);

// A warning text by its string number (12 - 27): the language file's entry
// "String<n>" when present, else the built-in Japanese string. UTF-8.
std::string StringText(int id);

// The caption of the boxes' warnings.
inline constexpr const char* kWarningCaption = "Zento Device Setup Utility";

}  // namespace uictl

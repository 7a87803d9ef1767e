// Settings files: parsed whole on each call (they are small and read rarely),
// into sections of entries in file order.
#include "tgx/profile.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tgx {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return LowerAscii(x) == LowerAscii(y);
         });
}

struct Entry {
  std::string key;
  std::optional<std::string> value;  // None: a line without "=".
};

struct Section {
  std::string name;
  bool named = true;  // False for the entries above the first section.
  std::vector<Entry> entries;
};

std::vector<Section> Parse(std::string_view text) {
  constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
  if (text.substr(0, kUtf8Mark.size()) == kUtf8Mark) text.remove_prefix(kUtf8Mark.size());
  std::vector<Section> sections;
  while (!text.empty()) {
    std::size_t end = text.find_first_of("\r\n");
    std::string_view line = text.substr(0, end);
    if (end == std::string_view::npos) {
      text = {};
    } else {
      if (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ++end;
      text.remove_prefix(end + 1);
    }
    line = Trim(line.substr(0, line.find('\0')));
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      if (const std::size_t close = line.rfind(']'); close != std::string_view::npos) {
        sections.push_back(Section{std::string(Trim(line.substr(1, close - 1))), true, {}});
        continue;
      }
    }
    if (sections.empty()) sections.push_back(Section{"", false, {}});
    Entry entry;
    if (const std::size_t equals = line.find('='); equals != std::string_view::npos) {
      entry.key = Trim(line.substr(0, equals));
      entry.value = std::string(Trim(line.substr(equals + 1)));
    } else {
      entry.key = line;
    }
    sections.back().entries.push_back(std::move(entry));
  }
  return sections;
}

std::optional<std::vector<Section>> Load(const char* fileName) {
  std::ifstream file(fileName, std::ios::binary);
  if (!file) return std::nullopt;
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  return Parse(text);
}

const Section* FindSection(const std::vector<Section>& sections, std::string_view name) {
  name = Trim(name);
  for (const Section& section : sections) {
    if (section.named && EqualNoCase(section.name, name)) return &section;
  }
  return nullptr;
}

const Entry* FindEntry(const Section& section, std::string_view key) {
  key = Trim(key);
  for (const Entry& entry : section.entries) {
    if (EqualNoCase(entry.key, key)) return &entry;
  }
  return nullptr;
}

// A value without one pair of enclosing quotes.
std::string_view StripQuotes(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

// Copies text cut to the buffer; returns the characters copied.
DWORD CopyString(std::string_view text, char* buffer, DWORD size) {
  const std::size_t count = std::min<std::size_t>(text.size(), size - 1);
  std::memcpy(buffer, text.data(), count);
  buffer[count] = '\0';
  return static_cast<DWORD>(count);
}

// Copies names as a double-NUL list cut to the buffer; returns the characters
// written before the final NUL (size - 2 when cut).
DWORD CopyList(const std::vector<std::string_view>& names, char* buffer, DWORD size) {
  std::string list;
  for (std::string_view name : names) {
    list.append(name);
    list += '\0';
  }
  if (list.size() + 1 <= size) {
    std::memcpy(buffer, list.data(), list.size());
    buffer[list.size()] = '\0';
    if (list.empty() && size > 1) buffer[1] = '\0';
    return static_cast<DWORD>(list.size());
  }
  if (size < 2) {
    buffer[0] = '\0';
    return 0;
  }
  std::memcpy(buffer, list.data(), size - 2);
  buffer[size - 2] = '\0';
  buffer[size - 1] = '\0';
  return size - 2;
}

}  // namespace

DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                               char* returned, DWORD size, const char* fileName) {
  if (!returned || size == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string_view fallback = defaultValue ? defaultValue : "";
  while (!fallback.empty() && fallback.back() == ' ') fallback.remove_suffix(1);

  const std::optional<std::vector<Section>> sections =
      (fileName && *fileName) ? Load(fileName) : std::nullopt;
  if (!sections) SetLastError(ERROR_FILE_NOT_FOUND);

  if (!section) {
    std::vector<std::string_view> names;
    if (sections) {
      for (const Section& each : *sections) {
        if (each.named) names.push_back(each.name);
      }
    }
    return CopyList(names, returned, size);
  }
  const Section* found = sections ? FindSection(*sections, section) : nullptr;
  if (!key) {
    std::vector<std::string_view> names;
    if (found) {
      for (const Entry& entry : found->entries) names.push_back(entry.key);
    }
    return CopyList(names, returned, size);
  }
  const Entry* entry = found ? FindEntry(*found, key) : nullptr;
  if (!entry || !entry->value) return CopyString(fallback, returned, size);
  return CopyString(StripQuotes(*entry->value), returned, size);
}

UINT GetPrivateProfileIntA(const char* section, const char* key, int defaultValue,
                           const char* fileName) {
  char text[64];
  if (!section || !key ||
      GetPrivateProfileStringA(section, key, "", text, sizeof text, fileName) == 0) {
    return static_cast<UINT>(defaultValue);
  }
  const char* cursor = text;
  while (IsBlank(*cursor)) ++cursor;
  bool negative = false;
  if (*cursor == '-' || *cursor == '+') negative = *cursor++ == '-';
  UINT base = 10;
  if (cursor[0] == '0' && (cursor[1] == 'x' || cursor[1] == 'X')) {
    base = 16;
    cursor += 2;
  }
  UINT value = 0;
  for (;; ++cursor) {
    const char c = LowerAscii(*cursor);
    UINT digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<UINT>(c - '0');
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = static_cast<UINT>(c - 'a' + 10);
    } else {
      break;
    }
    value = value * base + digit;
  }
  return negative ? 0u - value : value;
}

}  // namespace tgx

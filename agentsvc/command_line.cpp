#include "command_line.h"

namespace tgx::agent {

CommandLine ParseCommandLine(std::string_view text) {
  CommandLine parsed;
  const std::size_t mark = text.find_first_of("-/");
  if (mark == std::string_view::npos) return parsed;
  const std::string_view word = text.substr(mark + 1);
  if (word == "remove") {
    parsed.option = Option::kRemove;
  } else if (word == "debug") {
    parsed.option = Option::kDebug;
  } else if (word == "stop") {
    parsed.option = Option::kStop;
  } else if (word == "start") {
    parsed.option = Option::kStart;
  } else if (word.starts_with("install")) {
    parsed.option = Option::kInstall;
    // The pieces between double quotes: the second one is the description.
    const std::size_t open = word.find('"');
    if (open != std::string_view::npos) {
      const std::size_t close = word.find('"', open + 1);
      std::string_view quoted = word.substr(
          open + 1, close == std::string_view::npos ? std::string_view::npos : close - open - 1);
      parsed.description = quoted.substr(0, kDescriptionBufferSize - 1);
    }
  }
  return parsed;
}

std::string CommandLineText(int argc, const char* const* argv) {
  std::string text;
  for (int i = 1; i < argc; ++i) {
    if (i == 1) {
      text = argv[i];
    } else {
      text += " \"";
      text += argv[i];
      text += '"';
    }
  }
  return text;
}

}  // namespace tgx::agent

// The service program's command line: one option word after "-" or "/".
#pragma once

#include <string>
#include <string_view>

namespace tgx::agent {

enum class Option { kNone, kInstall, kRemove, kDebug, kStop, kStart };

// Room for the service description, with its terminating NUL.
inline constexpr std::size_t kDescriptionBufferSize = 1024;

struct CommandLine {
  Option option = Option::kNone;
  // For install: the text between the first pair of double quotes after the
  // word, cut to 1023 characters.
  std::string description;
};

// Scans the text given to the program (without its name): at the first "-" or
// "/" the rest is the option word. Words match exactly and with case, except
// "install", which only has to begin the rest. Anything else runs the service.
CommandLine ParseCommandLine(std::string_view text);

// The program's text as Windows would pass it, from the arguments after the
// program name: the first as it stands, each later one in double quotes (so
// `agentsvc -install "Some text"` reads as it was typed).
std::string CommandLineText(int argc, const char* const* argv);

}  // namespace tgx::agent

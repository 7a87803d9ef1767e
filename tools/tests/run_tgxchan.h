// Runs the tgxchan program as a user would, for the tests.
#pragma once

#include <string>
#include <vector>

namespace tgx::test {

struct Outcome {
  int exit = -1;
  std::string out;
  std::string err;
};

// Runs tgxchan with `args`, `input` on its standard input; kills it if it runs
// longer than 20 s.
Outcome RunTgxchan(const std::vector<std::string>& args, const std::string& input = "");

bool Contains(const std::string& text, const std::string& part);

}  // namespace tgx::test

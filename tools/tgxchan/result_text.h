// The meaning in words of the result codes that the agent client library and
// the agent service give, for the messages of the client program.
#pragma once

#include <cstdint>
#include <string>

namespace tgx::tools {

// "0xC010000B (the printer is busy ...)": the code in hexadecimal and its meaning.
std::string DescribeResult(std::int32_t code);

}  // namespace tgx::tools

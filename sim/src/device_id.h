// Reading an IEEE 1284 device ID ("MFG:...;MDL:...;CMD:...;").
#pragma once

#include <string>
#include <string_view>

namespace printersim {

// The value of "COMMAND SET:" (else "CMD:") in a device ID, up to the next ';',
// found as the host finds it (exact bytes).
std::string CommandSet(std::string_view device_id);

// The device ID as the parallel port driver's autoprobe file shows it: one
// "KEY:value;" line for each of class, model, manufacturer, description and
// command set present in the ID, in that order.
std::string AutoprobeText(const std::string& device_id);

}  // namespace printersim

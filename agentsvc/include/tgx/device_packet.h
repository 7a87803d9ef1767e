// The management packet as the service and its clients name it: the wire's
// layout (tgx/wire/device_packet.h) under tgx::agent::packet.
#pragma once

#include "tgx/wire/device_packet.h"

namespace tgx::agent::packet {
using namespace ::tgx::wire::device_packet;
using ::tgx::wire::LoadBe16;
using ::tgx::wire::LoadBe32;
using ::tgx::wire::StoreBe16;
using ::tgx::wire::StoreBe32;
}  // namespace tgx::agent::packet

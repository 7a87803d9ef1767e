// Reading packets from a port and dispatching them to their channels: the part
// of pumping a port that knows the protocol but touches neither the port nor the
// shared memory itself. The engine supplies both through PortChannels.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "chanlib/shared_layout.h"

namespace tgx::chanlib {

// Raw reads from the port.
class PortReader {
 public:
  virtual ~PortReader() = default;
  // Reads up to into.size() bytes: the count read, or a negative result.
  virtual int Read(std::span<std::uint8_t> into) = 0;
};

// Reads one packet: its header, then the rest in at most four reads. Returns the
// packet length (packet resized to it), or kNothingRead when nothing came,
// kBrokenHeader for a short header or a length below 6, kShortPacket when the
// rest did not come, or the reader's own error. After kBrokenHeader and
// kShortPacket the stream is out of step: the port has a receive failure.
int ReadPacket(PortReader& reader, std::vector<std::uint8_t>& packet);

// The port's channels as the dispatcher sees them.
class PortChannels : public PortReader {
 public:
  // The port's transaction channel; 0 when it has none.
  virtual int TransactionChannel() = 0;
  // The first channel 1 to 35 of the port with that socket pair; 0 when none.
  virtual int FindChannel(std::uint8_t primarySocket, std::uint8_t secondarySocket) = 0;
  // Runs update on a copy of the channel record and the bytes of its receiving
  // ring (empty when it has none) under the channel's lock, then stores the
  // record back. Returns what update returned.
  using ChannelUpdate = std::function<int(ChannelRecord&, std::span<std::byte> recvRing)>;
  virtual int WithChannel(int channel, const ChannelUpdate& update) = 0;
  // Writes a transaction packet to the port: bytes written or a negative result.
  virtual int WritePacket(std::span<const std::uint8_t> packet) = 0;
  virtual void SetPortState(std::uint16_t state) = 0;
};

// The result of reading for a pump: read errors as the pump reports them.
int PumpReadResult(int readResult);

// Dispatches one packet read from the port (at least a header long):
// - sockets 0/0 go to the transaction channel, other pairs to their channel; a
//   pair without a channel is dropped with kNothingRead for the service sockets
//   0x10, 0x20, 0x30 and kProtocolFailure otherwise;
// - the packet's credit is added to the channel's sending credit, one receiving
//   credit is used up;
// - data and transaction replies go to the channel's receiving ring: the result
//   is the packet length when the channel is waitingChannel, else 0;
// - commands from the printer are answered at once (0), Exit and Error end the
//   session (kSessionEnded), an unknown or malformed command gives
//   kProtocolFailure.
int DispatchPacket(PortChannels& port, std::span<const std::uint8_t> packet, int waitingChannel);

bool IsServiceSocket(std::uint8_t secondarySocket);

}  // namespace tgx::chanlib

#include "multiplexer.h"

#include <algorithm>
#include <optional>

#include "tgx/device_packet.h"
#include "tgx/wire/agent_wire.h"

namespace tgx::agent {

namespace reg = packet::registration;

namespace {

// Every whole packet the splitter holds; nothing when the stream is broken
// (a bad header anywhere makes the whole stream invalid).
bool TakePackets(packet::Splitter& splitter, std::vector<Packet>& packets) {
  Packet p;
  for (;;) {
    switch (splitter.Next(p)) {
      case packet::Splitter::Status::kPacket: packets.push_back(std::move(p)); break;
      case packet::Splitter::Status::kNeedMore: return true;
      case packet::Splitter::Status::kBroken: packets.clear(); return false;
    }
  }
}

// Where the variable part of a register (8) or unregister (9) packet lies.
struct RegistrationFields {
  std::size_t codes;  // first event code
  std::uint16_t code_count;
  std::size_t third_parameter;
  std::uint16_t block_length;  // M
  std::size_t block;
  std::size_t duration;
};

// Checks a registration packet: its fixed part, its codes, the optional block
// (read by its inner length, which must agree with M) and the duration must all
// lie within the packet.
std::optional<RegistrationFields> ParseRegistration(const Packet& p) {
  const std::size_t count_at = packet::Opcode(p.data()) == packet::kOpRegister
                                   ? reg::kRegisterCodeCount
                                   : reg::kUnregisterCodeCount;
  if (p.size() < count_at + reg::kTailMinimum) return std::nullopt;
  RegistrationFields f;
  f.code_count = packet::LoadBe16(p.data() + count_at);
  f.codes = count_at + 2;
  f.third_parameter = f.codes + 2 * std::size_t{f.code_count};
  const std::size_t block_length_at = f.third_parameter + reg::kThirdParameterSize;
  if (block_length_at + 2 > p.size()) return std::nullopt;
  f.block_length = packet::LoadBe16(p.data() + block_length_at);
  f.block = block_length_at + 2;
  if (f.block_length != 0) {
    if (f.block + reg::kBlockHeaderSize > p.size()) return std::nullopt;
    const std::size_t inner = p[f.block + 2];
    if (f.block_length != reg::kBlockHeaderSize + inner) return std::nullopt;
  }
  f.duration = f.block + f.block_length;
  if (f.duration + reg::kDurationSize > p.size()) return std::nullopt;
  return f;
}

std::uint16_t CodeAt(const Packet& p, std::size_t offset) {
  return static_cast<std::uint16_t>(p[offset] | (p[offset + 1] << 8));
}

void AppendCode(Packet& out, std::uint16_t code) {
  out.push_back(static_cast<std::uint8_t>(code));
  out.push_back(static_cast<std::uint8_t>(code >> 8));
}

void AppendBE16(Packet& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v >> 8));
  out.push_back(static_cast<std::uint8_t>(v));
}

void AppendBE32(Packet& out, std::uint32_t v) {
  AppendBE16(out, static_cast<std::uint16_t>(v >> 16));
  AppendBE16(out, static_cast<std::uint16_t>(v));
}

void AppendRange(Packet& out, const Packet& from, std::size_t offset, std::size_t size) {
  out.insert(out.end(), from.begin() + static_cast<std::ptrdiff_t>(offset),
             from.begin() + static_cast<std::ptrdiff_t>(offset + size));
}

// The packet for the printer: the client's header and fixed fields, then
// `codes` in place of the client's own, the third parameter, the optional
// block and the duration. `fixed_end` is where the client's code count lies.
std::optional<Packet> BuildRegistration(const Packet& client, const RegistrationFields& f,
                                        std::size_t fixed_end, const std::set<std::uint16_t>& codes,
                                        std::uint32_t duration) {
  const std::size_t payload = (fixed_end - packet::kHeaderSize) + 2 + 2 * codes.size() +
                              reg::kThirdParameterSize + 2 + f.block_length + reg::kDurationSize;
  if (payload > 0xFFFF) return std::nullopt;
  Packet out;
  out.reserve(packet::kHeaderSize + payload);
  AppendRange(out, client, 0, fixed_end);
  packet::SetPayloadLength(out.data(), static_cast<std::uint16_t>(payload));
  AppendBE16(out, static_cast<std::uint16_t>(codes.size()));
  for (std::uint16_t code : codes) AppendCode(out, code);
  AppendRange(out, client, f.third_parameter, reg::kThirdParameterSize);
  AppendBE16(out, f.block_length);
  AppendRange(out, client, f.block, f.block_length);
  AppendBE32(out, duration);
  return out;
}

// The answer made in the service: the client's header marked as an answer, the
// key and the parameters.
Packet LocalAnswer(const Packet& client) {
  Packet out(client.begin(), client.begin() + packet::kHeaderSize);
  out[packet::kFlags] = packet::kFlagAnswer;
  packet::SetPayloadLength(out.data(), packet::kLocalAnswerPayload);
  packet::StoreBe16(out.data() + packet::kLocalMarker, 1);
  AppendRange(out, client, reg::kKey, reg::kKeySize);
  AppendRange(out, client, reg::kFirstParameter, 2);
  if (packet::Opcode(client.data()) == packet::kOpRegister) {
    AppendRange(out, client, reg::kSecondParameter, 2);
  } else {
    AppendBE16(out, 0);
  }
  return out;
}

}  // namespace

// ---- Subscriptions --------------------------------------------------------------------

PacketMultiplexer::Registration& PacketMultiplexer::Subscription::RegistrationOf(ClientId client) {
  for (Registration& r : registrations) {
    if (r.client == client) return r;
  }
  return registrations.emplace_back(Registration{client, {}, {}, 0});
}

void PacketMultiplexer::Subscription::ForgetRegistration(ClientId client) {
  registrations.remove_if([client](const Registration& r) { return r.client == client; });
}

void PacketMultiplexer::Subscription::Recompute(Registration& changed) {
  for (std::uint16_t code : changed.removed) {
    const bool held = code != 0 && std::any_of(registrations.begin(), registrations.end(),
                                               [&](const Registration& r) {
                                                 return &r != &changed && r.codes.count(code);
                                               });
    if (held) continue;
    merged.erase(code);
    if (merged.empty()) merged_duration_ms = 0;
    removed.insert(code);
  }
  changed.removed.clear();
}

// ---- The multiplexer ----------------------------------------------------------------

PacketMultiplexer::PacketMultiplexer(std::uint16_t service_channel, TickSource ticks)
    : service_channel_(service_channel), ticks_(std::move(ticks)) {}

bool PacketMultiplexer::rewrites_identifiers() const {
  return service_channel_ == kSharedManagementChannel;
}

std::uint16_t PacketMultiplexer::NewIdentifier(std::uint16_t slot, std::uint16_t own,
                                               bool expects_answer) {
  for (unsigned tries = 0; tries < packet::kCounterLimit; ++tries) {
    if (counter_ > packet::kCounterLimit) counter_ = 1;
    const std::uint16_t candidate = static_cast<std::uint16_t>(slot | counter_);
    ++counter_;
    if (identifiers_.count(candidate)) continue;
    if (expects_answer) identifiers_[candidate] = own;
    return candidate;
  }
  return 0;
}

std::uint16_t PacketMultiplexer::RestoreIdentifier(std::uint16_t id) {
  if (!rewrites_identifiers()) return id;
  const auto found = identifiers_.find(id);
  if (found == identifiers_.end()) return 0;
  const std::uint16_t own = found->second;
  identifiers_.erase(found);
  return own;
}

void PacketMultiplexer::Route(Packet& p, ClientLinks& links) {
  if (packet::Opcode(p.data()) == packet::kOpNotification) {
    for (ClientLink& link : links) link.Deliver(p);
    return;
  }
  const std::uint16_t id = packet::Transaction(p.data());
  if (id == 0) return;
  for (ClientLink& link : links) {
    if (link.slot != (id & packet::kSlotMask)) continue;
    if (const std::uint16_t own = RestoreIdentifier(id); own != 0) {
      packet::SetTransaction(p.data(), own);
    }
    link.Deliver(p);
    return;
  }
}

PacketMultiplexer::Subscription& PacketMultiplexer::SubscriptionFor(const std::uint8_t* key) {
  Key k;
  std::copy_n(key, k.size(), k.begin());
  for (Subscription& s : subscriptions_) {
    if (s.key == k) return s;
  }
  Subscription& s = subscriptions_.emplace_back();
  s.key = k;
  s.last_change = ticks_();
  return s;
}

PacketMultiplexer::Step PacketMultiplexer::Register(Subscription& s, ClientId client, Packet& p) {
  const auto f = ParseRegistration(p);
  if (!f) return Step::kNothing;
  Registration& r = s.RegistrationOf(client);
  for (std::uint16_t i = 0; i < f->code_count; ++i) {
    if (const std::uint16_t code = CodeAt(p, f->codes + 2 * i); code != 0) r.codes.insert(code);
  }
  r.duration_ms = packet::DurationMilliseconds(packet::LoadBe32(p.data() + f->duration));
  s.merged.insert(r.codes.begin(), r.codes.end());
  if (s.merged.empty()) return Step::kNothing;

  const bool any_unlimited =
      std::any_of(s.registrations.begin(), s.registrations.end(),
                  [](const Registration& other) { return other.duration_ms == 0; });
  if (any_unlimited) {
    s.merged_duration_ms = 0;
  } else {
    const std::uint32_t now = ticks_();
    if (s.last_change > now) s.last_change = now;
    const std::uint64_t current_end = std::uint64_t{s.last_change} + s.merged_duration_ms;
    const std::uint64_t wanted_end = std::uint64_t{now} + r.duration_ms;
    s.merged_duration_ms = current_end < wanted_end ? r.duration_ms : current_end - now;
    s.last_change = now;
  }
  s.packed_duration = packet::PackDuration(s.merged_duration_ms);

  auto built = BuildRegistration(p, *f, reg::kRegisterCodeCount, s.merged, s.packed_duration);
  if (!built) return Step::kNothing;
  p = std::move(*built);
  return Step::kSend;
}

PacketMultiplexer::Step PacketMultiplexer::Unregister(Subscription& s, ClientId client, Packet& p) {
  s.removed.clear();
  const auto f = ParseRegistration(p);
  if (!f) return Step::kNothing;
  Registration& r = s.RegistrationOf(client);
  for (std::uint16_t i = 0; i < f->code_count; ++i) {
    const std::uint16_t code = CodeAt(p, f->codes + 2 * i);
    if (code == 0) continue;
    r.codes.erase(code);
    r.removed.insert(code);
  }
  s.Recompute(r);
  if (r.codes.empty()) s.ForgetRegistration(client);

  Step step = Step::kAnswerLocally;
  if (s.merged.empty() && !s.removed.empty()) {
    if (auto built = BuildRegistration(p, *f, reg::kUnregisterCodeCount, s.removed, 0)) {
      p = std::move(*built);
      step = Step::kSend;
    } else {
      step = Step::kNothing;
    }
  }
  if (step == Step::kAnswerLocally) p = LocalAnswer(p);
  // Codes dropped here are never reported to the printer later.
  s.removed.clear();
  return step;
}

std::uint32_t PacketMultiplexer::Outgoing(ClientLink& from, std::span<const std::uint8_t> data,
                                          ClientLinks& links, const Transmit& transmit) {
  from.parse_buffer.Feed(data);
  std::vector<Packet> packets;
  if (!TakePackets(from.parse_buffer, packets)) {
    return result::kBadPacketStream;
  }

  // Identifiers assigned here; released again for packets that never reach
  // the printer.
  std::vector<std::uint16_t> assigned(packets.size(), 0);
  auto release_from = [&](std::size_t first, std::size_t end) {
    for (std::size_t i = first; i < end; ++i) {
      if (assigned[i] != 0) RestoreIdentifier(assigned[i]);
    }
  };
  if (rewrites_identifiers()) {
    for (std::size_t i = 0; i < packets.size(); ++i) {
      std::uint8_t* p = packets[i].data();
      const std::uint16_t own = packet::Transaction(p);
      if (own == 0) continue;
      const std::uint16_t id =
          NewIdentifier(from.slot, own, (packet::Flags(p) & packet::kFlagExpectsAnswer) != 0);
      if (id == 0) {
        release_from(0, i);
        return result::kBusy;
      }
      packet::SetTransaction(p, id);
      assigned[i] = id;
    }
  }

  for (std::size_t i = 0; i < packets.size(); ++i) {
    Packet& p = packets[i];
    const std::uint16_t opcode = packet::Opcode(p.data());
    Step step = Step::kSend;
    if ((opcode == packet::kOpRegister || opcode == packet::kOpUnregister) &&
        packet::PayloadLength(p.data()) >= reg::kMinimumKeyedPayload) {
      Subscription& s = SubscriptionFor(p.data() + reg::kKey);
      step = opcode == packet::kOpRegister ? Register(s, from.socket, p)
                                           : Unregister(s, from.socket, p);
      subscriptions_.remove_if([](const Subscription& each) { return each.merged.empty(); });
    }
    switch (step) {
      case Step::kSend:
        if (const std::uint32_t failure = transmit(p); failure != result::kSuccess) {
          release_from(i, packets.size());
          return failure;
        }
        break;
      case Step::kAnswerLocally:
        // Delivered straight to the client's queue: appending it to the read
        // buffer could splice it into a partial packet of the printer.
        Route(p, links);
        break;
      case Step::kNothing: release_from(i, i + 1); break;
    }
  }
  return result::kSuccess;
}

void PacketMultiplexer::Incoming(packet::Splitter& from_printer, ClientLinks& links) {
  std::vector<Packet> packets;
  if (!TakePackets(from_printer, packets)) return;
  for (Packet& p : packets) Route(p, links);
}

void PacketMultiplexer::Depart(ClientId client) {
  for (Subscription& s : subscriptions_) {
    auto r = std::find_if(s.registrations.begin(), s.registrations.end(),
                          [client](const Registration& each) { return each.client == client; });
    if (r == s.registrations.end()) continue;
    r->removed.insert(r->codes.begin(), r->codes.end());
    r->codes.clear();
    s.Recompute(*r);
    s.removed.clear();
    s.registrations.erase(r);
  }
  subscriptions_.remove_if([](const Subscription& s) { return s.merged.empty(); });
}

}  // namespace tgx::agent

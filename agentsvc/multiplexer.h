// Shares one printer channel among the clients of a session: splits the packet
// streams both ways, rewrites transaction identifiers on the shared management
// channel so that answers find their client, hands notifications to everyone,
// and merges the clients' event registrations into one registration at the
// printer. Runs on the session's thread only.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <set>
#include <span>
#include <vector>

#include "client_link.h"

namespace tgx::agent {

using Packet = std::vector<std::uint8_t>;

using TickSource = std::function<std::uint32_t()>;

class PacketMultiplexer {
 public:
  // Hands one packet to the channel; returns 0, or the Send result that stops
  // the stream (busy, or the channel failed).
  using Transmit = std::function<std::uint32_t(std::span<const std::uint8_t>)>;

  PacketMultiplexer(std::uint16_t service_channel, TickSource ticks);

  // A client's Send on a management channel: returns the Send's result.
  std::uint32_t Outgoing(ClientLink& from, std::span<const std::uint8_t> data, ClientLinks& links,
                         const Transmit& transmit);

  // Routes every whole packet of the session's read buffer to its clients.
  void Incoming(packet::Splitter& from_printer, ClientLinks& links);

  // A client leaves: its registrations go; nothing is sent to the printer.
  void Depart(ClientId client);

  std::size_t subscription_count() const { return subscriptions_.size(); }
  std::size_t pending_identifiers() const { return identifiers_.size(); }

 private:
  // Event codes as the two bytes found in the packet, held as (second << 8 |
  // first) so that iteration gives the order they are written out in.
  using CodeSet = std::set<std::uint16_t>;
  using Key = std::array<std::uint8_t, 4>;

  struct Registration {
    ClientId client;
    CodeSet codes;
    CodeSet removed;
    std::uint64_t duration_ms = 0;
  };

  struct Subscription {
    Key key;
    CodeSet merged;
    CodeSet removed;
    std::uint64_t merged_duration_ms = 0;
    std::uint32_t last_change;
    std::uint32_t packed_duration = 0;
    std::list<Registration> registrations;

    Registration& RegistrationOf(ClientId client);
    void ForgetRegistration(ClientId client);
    // Codes the registration gave up that no other registration still holds
    // leave the merged set and join the subscription's removed set.
    void Recompute(Registration& changed);
  };

  // What a register or unregister step yields.
  enum class Step { kSend, kAnswerLocally, kNothing };

  bool rewrites_identifiers() const;
  std::uint16_t NewIdentifier(std::uint16_t slot, std::uint16_t own, bool expects_answer);
  // The client's own identifier for a rewritten one (0 when unknown); forgets it.
  std::uint16_t RestoreIdentifier(std::uint16_t id);
  void Route(Packet& packet, ClientLinks& links);

  Subscription& SubscriptionFor(const std::uint8_t* key);
  Step Register(Subscription& s, ClientId client, Packet& packet);
  Step Unregister(Subscription& s, ClientId client, Packet& packet);

  const std::uint16_t service_channel_;
  TickSource ticks_;
  std::uint16_t counter_ = 1;
  std::map<std::uint16_t, std::uint16_t> identifiers_;  // rewritten -> client's own
  std::list<Subscription> subscriptions_;
};

}  // namespace tgx::agent

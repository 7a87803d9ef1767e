// The device-ID query of a raw network connection: the host may send a
// configured byte sequence at any point of the stream (between job data, split
// across reads) and the printer answers it with its device ID and a form feed.
// The query's bytes are taken out of the stream; everything else is job data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace printersim {

// The printer's answer to the query: the ID text and a form feed.
std::vector<std::uint8_t> DeviceIdAnswer(const std::string& device_id);

// Finds the query in a byte stream. Bytes that may begin the query are held
// back until the following bytes decide; at the end of the stream they are
// data after all (Finish).
class DeviceIdQueryScanner {
 public:
  // query must not be empty.
  explicit DeviceIdQueryScanner(std::vector<std::uint8_t> query);

  // Hands on_data every run of data bytes and calls on_query for every complete
  // query, in stream order.
  template <typename OnData, typename OnQuery>
  void Feed(std::span<const std::uint8_t> bytes, OnData&& on_data, OnQuery&& on_query);
  // The end of the stream: held-back bytes go to on_data.
  template <typename OnData>
  void Finish(OnData&& on_data);

 private:
  std::vector<std::uint8_t> query_;
  // fallback_[k]: the longest proper prefix of the query's first k + 1 bytes
  // that is also their suffix (where a partial match goes on after a mismatch).
  std::vector<std::size_t> fallback_;
  std::size_t matched_ = 0;  // held-back bytes: the query's first matched_ bytes
};

template <typename OnData, typename OnQuery>
void DeviceIdQueryScanner::Feed(std::span<const std::uint8_t> bytes, OnData&& on_data,
                                OnQuery&& on_query) {
  const std::span<const std::uint8_t> query(query_);
  std::size_t run = 0;  // start of the data run not yet handed on
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const std::uint8_t byte = bytes[i];
    if (matched_ == 0 && byte != query[0]) continue;
    if (i > run) on_data(bytes.subspan(run, i - run));
    // Held bytes that can no longer start the query are data.
    while (matched_ != 0 && query[matched_] != byte) {
      const std::size_t keep = fallback_[matched_ - 1];
      on_data(query.first(matched_ - keep));
      matched_ = keep;
    }
    if (query[matched_] != byte) {
      run = i;
      continue;
    }
    run = i + 1;
    if (++matched_ == query.size()) {
      matched_ = 0;
      on_query();
    }
  }
  if (run < bytes.size()) on_data(bytes.subspan(run));
}

template <typename OnData>
void DeviceIdQueryScanner::Finish(OnData&& on_data) {
  if (matched_ != 0) on_data(std::span<const std::uint8_t>(query_).first(matched_));
  matched_ = 0;
}

}  // namespace printersim

// The worker's handling of request blocks that any process may have filled
// with anything. The input is a run of requests, each a 24-byte header
// (request code, process id, control code, input length, output length, the
// count the device claims to return; u32 little-endian) and one length byte
// followed by that many bytes for the input area. A device at the edge checks
// that every buffer it is handed lies inside its area and fills all of it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "port_server.h"

namespace {

using namespace tgx;
using namespace tgx::ppdt;

struct Areas {
  const std::byte* input;
  std::byte* output;
  DWORD claimed = 0;
};

class CheckingDevice : public Device {
 public:
  explicit CheckingDevice(Areas& areas) : areas_(areas) {}
  BOOL Control(DWORD, const void* input, DWORD inputLength, void* output, DWORD outputLength,
               DWORD* returned) override {
    if (inputLength > kAreaSize || outputLength > kAreaSize) std::abort();
    if ((input != nullptr) != (inputLength != 0) || (output != nullptr) != (outputLength != 0)) {
      std::abort();
    }
    if (input && input != areas_.input) std::abort();
    if (output && output != areas_.output) std::abort();
    const auto* in = static_cast<const std::byte*>(input);
    received_.assign(in, in + inputLength);  // reads all it was given
    if (output) std::memset(output, 0x5A, outputLength);
    *returned = areas_.claimed;  // a device may claim more than it was given
    return TRUE;
  }

 private:
  Areas& areas_;
  std::vector<std::byte> received_;
};

class CheckingBackend : public DeviceBackend {
 public:
  explicit CheckingBackend(Areas& areas) : areas_(areas) {}
  std::unique_ptr<Device> Open(std::string_view path) override {
    if (path.size() > 259 || !path.starts_with(kDevicePathPrefix)) std::abort();
    return std::make_unique<CheckingDevice>(areas_);
  }

 private:
  Areas& areas_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Exactly the block's size, so that any access past it is caught.
  auto memory = std::make_unique<std::byte[]>(kRequestBlockSize);
  RequestBlock block(memory.get());
  Areas areas{block.inputArea(), block.outputArea()};
  CheckingBackend backend(areas);
  PortServer server(backend);

  constexpr std::size_t kHeader = 24;
  while (size >= kHeader + 1) {
    const auto* at = reinterpret_cast<const std::byte*>(data);
    const std::uint32_t controlCode = LoadLe32(at + 8);
    block.setRequestCode(LoadLe32(at));
    block.setProcessId(LoadLe32(at + 4));
    block.setControlCode(controlCode);
    block.setInputLength(LoadLe32(at + 12));
    block.setOutputLength(LoadLe32(at + 16));
    block.setByteCount(0);
    areas.claimed = LoadLe32(at + 20);
    std::size_t inputBytes = data[kHeader];
    data += kHeader + 1;
    size -= kHeader + 1;
    if (inputBytes > size) inputBytes = size;
    std::memcpy(block.inputArea(), data, inputBytes);
    data += inputBytes;
    size -= inputBytes;

    server.Serve(block);
    if (block.byteCount() > kAreaSize) std::abort();
  }
  return 0;
}

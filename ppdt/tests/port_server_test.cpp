// The worker's request handling against a recording device: the block's
// answer fields, the clamping of lengths written by anyone, the
// read-after-write rule and the refusals without a device.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "port_server.h"

namespace tgx::ppdt::test {
namespace {

struct Call {
  DWORD code;
  DWORD inputLength;
  DWORD outputLength;
  bool hasInput;
  bool hasOutput;
};

// The device at the edge of the system: records each control and answers
// with a fixed number of bytes.
class RecordingBackend : public DeviceBackend {
 public:
  std::vector<std::string> opened;
  std::vector<Call> calls;
  DWORD answerBytes = 3;

  std::unique_ptr<Device> Open(std::string_view path) override {
    opened.emplace_back(path);
    if (path.ends_with("missing")) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return nullptr;
    }
    return std::make_unique<RecordingDevice>(*this);
  }

 private:
  class RecordingDevice : public Device {
   public:
    explicit RecordingDevice(RecordingBackend& backend) : backend_(backend) {}
    BOOL Control(DWORD code, const void* input, DWORD inputLength, void* output, DWORD outputLength,
                 DWORD* returned) override {
      backend_.calls.push_back(
          {code, inputLength, outputLength, input != nullptr, output != nullptr});
      if (output) std::memset(output, 0xAB, outputLength);  // touches all it was given
      *returned = std::min(backend_.answerBytes, outputLength);
      return TRUE;
    }

   private:
    RecordingBackend& backend_;
  };
};

class PortServerTest : public ::testing::Test {
 protected:
  std::vector<std::byte> memory = std::vector<std::byte>(kRequestBlockSize);
  RequestBlock block{memory.data()};
  RecordingBackend backend;
  PortServer server{backend};

  bool Request(std::uint32_t request, std::uint32_t processId = 100, std::uint32_t control = 0,
               std::uint32_t inputLength = 0, std::uint32_t outputLength = 0) {
    block.setRequestCode(request);
    block.setProcessId(processId);
    block.setControlCode(control);
    block.setInputLength(inputLength);
    block.setOutputLength(outputLength);
    block.setSuccess(0);
    block.setByteCount(0);
    block.setErrorCode(0);
    return server.Serve(block);
  }

  void OpenDevice(const char* name) {
    std::memcpy(block.inputArea(), name, std::strlen(name) + 1);
    Request(kRequestOpen, 100, 0, static_cast<std::uint32_t>(std::strlen(name) + 1));
  }
};

TEST_F(PortServerTest, OpensClosesAndQuits) {
  OpenDevice("PRN1");
  ASSERT_EQ(backend.opened.back(), "\\\\.\\PRN1");
  EXPECT_EQ(block.success(), 1u);
  EXPECT_EQ(block.errorCode(), 0u);
  OpenDevice("missing");
  EXPECT_EQ(block.success(), 0u);
  EXPECT_EQ(block.errorCode(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(server.deviceOpen()) << "a second open closes the first device";

  EXPECT_TRUE(Request(kRequestClose));
  EXPECT_EQ(block.success(), 0u);
  EXPECT_EQ(block.errorCode(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(Request(kRequestQuit));
  EXPECT_EQ(block.success(), 1u);
}

TEST_F(PortServerTest, AControlWithoutDeviceFailsWithInvalidHandle) {
  Request(kRequestControl, 100, kControlJobOpen);
  EXPECT_EQ(block.success(), 0u);
  EXPECT_EQ(block.errorCode(), ERROR_INVALID_HANDLE);
  EXPECT_TRUE(backend.calls.empty());
}

TEST_F(PortServerTest, AnUnknownRequestLeavesTheBlockAsPrepared) {
  EXPECT_TRUE(Request(0x7777, 100, 0, 0, 0));
  EXPECT_EQ(block.success(), 0u);
  EXPECT_EQ(block.errorCode(), 0u);
}

TEST_F(PortServerTest, ClampsGarbageLengthsToTheAreas) {
  OpenDevice("PRN1");
  backend.answerBytes = 0xFFFFFFFF;
  Request(kRequestControl, 100, kControlAdminWrite, 0xFFFFFFFF, 0x80000000);
  ASSERT_EQ(backend.calls.size(), 1u);
  EXPECT_EQ(backend.calls[0].inputLength, kAreaSize);
  EXPECT_EQ(backend.calls[0].outputLength, kAreaSize);
  EXPECT_EQ(block.byteCount(), kAreaSize);
  // The answer fields lie right behind the output area and stay intact.
  EXPECT_EQ(block.success(), 1u);

  Request(kRequestControl, 100, kControlJobOpen, 0, 0);
  EXPECT_FALSE(backend.calls[1].hasInput);
  EXPECT_FALSE(backend.calls[1].hasOutput);
}

TEST_F(PortServerTest, AnUnterminatedOrOverlongNameIsBounded) {
  std::memset(block.inputArea(), 'x', kAreaSize);  // no NUL anywhere
  Request(kRequestOpen, 100, 0, 0xFFFFFFFF);
  EXPECT_EQ(block.success(), 0u);
  EXPECT_EQ(block.errorCode(), ERROR_FILENAME_EXCED_RANGE);
  EXPECT_TRUE(backend.opened.empty());
  const std::string longest(255, 'y');
  OpenDevice(longest.c_str());
  EXPECT_EQ(block.success(), 1u);
  EXPECT_EQ(backend.opened.back().size(), 259u);
}

TEST_F(PortServerTest, AReadOfAnotherProcessRightAfterAWriteIsAnsweredEmpty) {
  OpenDevice("PRN1");
  constexpr std::uint32_t kWriter = 100, kOther = 200;
  Request(kRequestControl, kWriter, kControlAdminWrite, 4);
  Request(kRequestControl, kOther, kControlAdminRead, 0, 64);
  EXPECT_EQ(block.success(), 1u);
  EXPECT_EQ(block.byteCount(), 0u);
  EXPECT_EQ(backend.calls.size(), 1u) << "the device was not asked";
  // The faked read is now the previous request: the next read reaches it.
  Request(kRequestControl, kOther, kControlAdminRead, 0, 64);
  EXPECT_EQ(block.byteCount(), 3u);
  EXPECT_EQ(backend.calls.size(), 2u);

  // The writer's own read reaches the device; so does a read after a
  // resource write by the same process, across kinds.
  Request(kRequestControl, kWriter, kControlResWrite, 4);
  Request(kRequestControl, kWriter, kControlAdminRead, 0, 64);
  EXPECT_EQ(backend.calls.size(), 4u);
  Request(kRequestControl, kWriter, kControlResWrite, 4);
  Request(kRequestControl, kOther, kControlAdminRead, 0, 64);
  EXPECT_EQ(backend.calls.size(), 5u);
  // Only reads are faked: another process's job control after a write runs.
  Request(kRequestControl, kWriter, kControlAdminWrite, 4);
  Request(kRequestControl, kOther, kControlJobOpen);
  EXPECT_EQ(backend.calls.size(), 7u);
}

}  // namespace
}  // namespace tgx::ppdt::test

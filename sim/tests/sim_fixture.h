// Shared by the simulator's tests: a running printersim per test case.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "host_side.h"
#include "printersim/client.h"
#include "testsupport.h"

class SimTest : public ::testing::Test {
 protected:
  // Starts printersim with the configuration under a fresh device root.
  void Start(const std::string& config) {
    printersim::StartOptions options;
    options.config_text = config;
    options.root = tgx::test::MakeTempDir("root");
    std::string error;
    sim_ = printersim::Simulator::Start(options, &error);
    ASSERT_NE(sim_, nullptr) << error;
  }
  std::filesystem::path Root() const { return sim_->root(); }
  hostside::Port OpenUsb(unsigned index = 0) {
    auto port = hostside::Port::OpenDevice(Root() / ("dev/usb/lp" + std::to_string(index)));
    EXPECT_TRUE(port.has_value());
    return port ? std::move(*port) : hostside::Port(-1);
  }
  std::uint64_t Counter(const std::string& name, const std::string& printer = "p") {
    return sim_->Counter(printer, name);
  }
  // Counters change when the simulator has read what the host wrote: wait for it.
  bool WaitCounter(const std::string& name, std::uint64_t value, const std::string& printer = "p") {
    return sim_->WaitForCounter(printer, name, value);
  }

  std::unique_ptr<printersim::Simulator> sim_;
};

inline constexpr const char* kPacketPrinter =
    "[printer p]\n"
    "port = USB001\n"
    "device_id = MFG:Arvona;MDL:TG-1;CMD:1284.4,PJL;CLS:PRINTER;\n";

// Test main: every test process gets its own runtime, registry and device
// directories, so that test cases run side by side without seeing each other's
// named objects, registry values or devices.
#include <gtest/gtest.h>

#include "testsupport.h"

namespace {

class ScratchEnvironment : public ::testing::Environment {
 public:
  void TearDown() override { tgx::test::RemoveScratch(); }
};

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (!tgx::test::MakeScratch()) return 2;
  ::testing::AddGlobalTestEnvironment(new ScratchEnvironment);
  return RUN_ALL_TESTS();
}

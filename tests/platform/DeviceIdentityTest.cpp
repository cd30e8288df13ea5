#include "platform/DeviceIdentity.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/TempHome.h"

namespace vistamo {
namespace {

namespace fs = std::filesystem;

TEST(DeviceIdentityTest, ParsesRegistryTextAndMachineIds) {
    const std::string listing =
        "+-o Board  <class PlatformDevice>\n"
        "  {\n"
        "    \"SerialNumber\" = \"0000000000\"\n"
        "    \"IOPlatformUUID\" = \"0A1B2C3D-4E5F-6a7b-8C9D-0E1F2A3B4C5D\"\n"
        "    \"IOPlatformUUID\" = \"FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF\"\n"
        "  }\n";
    EXPECT_EQ(platformUUIDFromRegistryText(listing), "0A1B2C3D4E5F6a7b8C9D0E1F2A3B4C5D");

    const std::string exact = "\"IOPlatformUUID\" = \"0A1B2C3D-4E5F-6A7B-8C9D-0E1F2A3B4C5D";
    EXPECT_EQ(platformUUIDFromRegistryText(exact), "0A1B2C3D4E5F6A7B8C9D0E1F2A3B4C5D");
    for (const std::string& refused :
         {exact.substr(0, exact.size() - 1), std::string("IOPlatformUUID\" ="), std::string(),
          std::string("PlatformSerial = 0A1B2C3D-4E5F-6A7B-8C9D-0E1F2A3B4C5D")}) {
        EXPECT_EQ(platformUUIDFromRegistryText(refused), "") << refused;
    }

    // A machine id needs exactly 32 hex characters.
    EXPECT_EQ(machineIdentityFromText("0123456789abcdef0123456789ABCDEF\n"),
              "0123456789abcdef0123456789abcdef");
    EXPECT_EQ(machineIdentityFromText("0123456789abcdef0123456789abcdef"),
              "0123456789abcdef0123456789abcdef");
    for (const char* refused :
         {"0123456789abcdef0123456789abcde\n", "0123456789abcdef0123456789abcdef0\n",
          "0123456789abcdef0123456789abcdeg\n", "0123456789abcdef0123456789abcdef\r\n",
          "\n0123456789abcdef0123456789abcdef", "uninitialized\n"}) {
        EXPECT_EQ(machineIdentityFromText(refused), "") << refused;
    }
}

using DeviceIdentityFiles = test::TempHomeTest;

TEST_F(DeviceIdentityFiles, ReadsTheFirstValidCandidateOnEveryCall) {
    const std::vector<fs::path> candidates{home_ / "etc-machine-id", home_ / "dbus-machine-id"};

    EXPECT_EQ(machineIdentity(candidates), "");
    writeText(candidates[1], "ffffffffffffffffffffffffffffffff\n");
    EXPECT_EQ(machineIdentity(candidates), "ffffffffffffffffffffffffffffffff");
    writeText(candidates[0], "\n");  // empty, as on a system not yet booted
    EXPECT_EQ(machineIdentity(candidates), "ffffffffffffffffffffffffffffffff");
    writeText(candidates[0], "00000000000000000000000000000001\n");
    EXPECT_EQ(machineIdentity(candidates), "00000000000000000000000000000001");
}

}  // namespace
}  // namespace vistamo

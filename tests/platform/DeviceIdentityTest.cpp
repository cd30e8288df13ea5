#include "platform/DeviceIdentity.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <vector>

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
    EXPECT_EQ(platformUUIDFromRegistryText(exact.substr(0, exact.size() - 1)), "");
    EXPECT_EQ(platformUUIDFromRegistryText("IOPlatformUUID\" ="), "");
    EXPECT_EQ(platformUUIDFromRegistryText("PlatformSerial = 0A1B2C3D-4E5F-6A7B-8C9D-0E1F2A3B4C5D"),
              "");
    EXPECT_EQ(platformUUIDFromRegistryText(""), "");

    // A machine id needs exactly 32 hex characters.
    EXPECT_EQ(machineIdentityFromText("0123456789abcdef0123456789ABCDEF\n"),
              "0123456789abcdef0123456789abcdef");
    EXPECT_EQ(machineIdentityFromText("0123456789abcdef0123456789abcdef"),
              "0123456789abcdef0123456789abcdef");
    EXPECT_EQ(machineIdentityFromText("0123456789abcdef0123456789abcde\n"), "");
    EXPECT_EQ(machineIdentityFromText("0123456789abcdef0123456789abcdef0\n"), "");
    EXPECT_EQ(machineIdentityFromText("0123456789abcdef0123456789abcdeg\n"), "");
    EXPECT_EQ(machineIdentityFromText("0123456789abcdef0123456789abcdef\r\n"), "");
    EXPECT_EQ(machineIdentityFromText("\n0123456789abcdef0123456789abcdef"), "");
    EXPECT_EQ(machineIdentityFromText("uninitialized\n"), "");
}

TEST(DeviceIdentityTest, ReadsTheFirstValidCandidateOnEveryCall) {
    std::string pattern = fs::temp_directory_path() / "vistamo-id-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const fs::path folder = pattern;
    const std::vector<fs::path> candidates{folder / "etc-machine-id", folder / "dbus-machine-id"};

    EXPECT_EQ(getDeviceUUID(candidates), "");
    std::ofstream(candidates[1]) << "ffffffffffffffffffffffffffffffff\n";
    EXPECT_EQ(getDeviceUUID(candidates), "ffffffffffffffffffffffffffffffff");
    std::ofstream(candidates[0]) << "\n";  // empty, as on a system not yet booted
    EXPECT_EQ(getDeviceUUID(candidates), "ffffffffffffffffffffffffffffffff");
    std::ofstream(candidates[0]) << "00000000000000000000000000000001\n";
    EXPECT_EQ(getDeviceUUID(candidates), "00000000000000000000000000000001");

    fs::remove_all(folder);
}

}  // namespace
}  // namespace vistamo

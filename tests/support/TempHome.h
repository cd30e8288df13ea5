#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>

namespace vistamo::test {

// Runs each test with HOME set to a fresh temporary folder and XDG_CONFIG_HOME unset; every
// variable set through setVariable is restored and the folder removed afterwards.
class TempHomeTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "vistamo-home-XXXXXX");
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        home_ = pattern;
        setVariable("HOME", home_.string());
        setVariable("XDG_CONFIG_HOME", std::nullopt);
    }

    void TearDown() override {
        for (const auto& [name, value] : saved_) {
            apply(name.c_str(), value);
        }
        saved_.clear();
        std::error_code ignored;
        std::filesystem::remove_all(home_, ignored);
    }

    // Sets variable `name` to `value`, or unsets it with none, for this test only.
    void setVariable(const char* name, const std::optional<std::string>& value) {
        if (!saved_.contains(name)) {
            const char* was = std::getenv(name);
            saved_.emplace(name, was != nullptr ? std::optional<std::string>(was) : std::nullopt);
        }
        apply(name, value);
    }

    static void writeText(const std::filesystem::path& path, const std::string& text) {
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << text;
    }

    static std::string readText(const std::filesystem::path& path) {
        std::ifstream file(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(file), {});
    }

    // How many entries `folder` holds; 0 when it cannot be read.
    static size_t entryCount(const std::filesystem::path& folder) {
        std::error_code error;
        return static_cast<size_t>(
            std::distance(std::filesystem::directory_iterator(folder, error), {}));
    }

    std::filesystem::path home_;

private:
    static void apply(const char* name, const std::optional<std::string>& value) {
        if (value) {
            ::setenv(name, value->c_str(), 1);
        } else {
            ::unsetenv(name);
        }
    }

    // What each variable set by the test was before it, in the test's thread only.
    std::map<std::string, std::optional<std::string>> saved_;
};

}  // namespace vistamo::test

#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

namespace vistamo::test {

// Runs each test with HOME set to a fresh temporary folder and XDG_CONFIG_HOME unset; the
// variables are restored and the folder removed afterwards.
class TempHomeTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedHome_ = read("HOME");
        savedConfig_ = read("XDG_CONFIG_HOME");
        std::string pattern = (std::filesystem::temp_directory_path() / "vistamo-home-XXXXXX");
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        home_ = pattern;
        setVariable("HOME", home_.string());
        setVariable("XDG_CONFIG_HOME", std::nullopt);
    }

    void TearDown() override {
        setVariable("HOME", savedHome_);
        setVariable("XDG_CONFIG_HOME", savedConfig_);
        std::error_code ignored;
        std::filesystem::remove_all(home_, ignored);
    }

    static void setVariable(const char* name, const std::optional<std::string>& value) {
        if (value) {
            ::setenv(name, value->c_str(), 1);
        } else {
            ::unsetenv(name);
        }
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
    static std::optional<std::string> read(const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
    }

    std::optional<std::string> savedHome_;
    std::optional<std::string> savedConfig_;
};

}  // namespace vistamo::test

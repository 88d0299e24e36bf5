#pragma once

#include <support/temp_folder.hpp>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

// Runs each case in a fresh temporary working directory, where the loggers make their "log"
// folder, and goes back to the previous working directory afterwards.
class log_folder_test : public testing::Test {
protected:
    void SetUp() override { std::filesystem::current_path(root_); }

    void TearDown() override { std::filesystem::current_path(previous_); }

    static std::string read(const std::filesystem::path& path) { return support::temp_folder::read(path); }

    static std::vector<std::string> lines(const std::filesystem::path& path) {
        std::vector<std::string> result;
        std::ifstream file(path);
        for (std::string line; std::getline(file, line);) {
            result.push_back(line);
        }
        return result;
    }

private:
    const std::filesystem::path previous_ = std::filesystem::current_path();
    const support::temp_folder folder_{"log"};

protected:
    const std::filesystem::path& root_ = folder_.path();
};

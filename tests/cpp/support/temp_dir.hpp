// A fresh directory per test case, removed when the case ends.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

struct TempDir {
    std::filesystem::path root;
    explicit TempDir(const std::string& prefix = "vorlan_test") {
        std::string name = prefix;
        name += '_';
        name += std::to_string(::getpid());
        name += '_';
        name += ::testing::UnitTest::GetInstance()->current_test_info()->name();
        root = std::filesystem::temp_directory_path() / name;
        std::filesystem::remove_all(root);
        std::filesystem::create_directories(root);
    }
    ~TempDir() { std::filesystem::remove_all(root); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    // Writes bytes to root/rel, creating folders; returns the full path.
    std::string write(const std::string& rel, const std::string& bytes) const {
        std::filesystem::path p = root / rel;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << bytes;
        return p.string();
    }
};

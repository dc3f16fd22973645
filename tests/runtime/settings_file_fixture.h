// What the settings-store tests share: a directory of their own with
// Tavimor.ini in it, and a look at what else lies there afterwards.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "runtime/files.h"
#include "runtime/settings_file.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

inline const std::string Bom = "\xEF\xBB\xBF";

class SettingsFileTest : public ::testing::Test {
  protected:
    void TearDown() override { CloseSettingsFile(); }

    // Opens bytes as Tavimor.ini, applies edit, closes; the file's bytes afterwards.
    std::string Rewrite(const std::string& bytes, const std::function<void()>& edit) {
        EXPECT_NE(OpenSettingsFile(dir.Write("Tavimor.ini", bytes)), 0);
        edit();
        EXPECT_NE(CloseSettingsFile(), 0);
        return ReadWholeFile(dir.File("Tavimor.ini"));
    }

    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(NativePath(dir.Path()))) {
            std::u8string name = entry.path().filename().u8string();
            names.emplace_back(name.begin(), name.end());
        }
        return names;
    }

    TempDir dir;
};

inline const std::vector<std::string> OnlyIni = {"Tavimor.ini"};

inline void AppendExtra() {
    SelectGroup("Extra");
    WriteText("k", "v");
}

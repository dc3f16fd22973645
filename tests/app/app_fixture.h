// What the logic tests share: a program directory of their own, the headless
// GUI double reset, short fetch limits, and the program started over a
// settings file the test wrote.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/link_records.h"
#include "app/settings_save.h"
#include "app/startup.h"
#include "app/state.h"
#include "http/fetch.h"
#include "tests/support/gui_double.h"
#include "tests/support/temp_dir.h"

// A settings file as the program writes it, holding rows (saved at time 0).
inline std::string SettingsFileWith(const std::string& downloadDir,
                                    const std::vector<LinkRow>& rows, int64_t x = 10,
                                    int64_t y = 20) {
    return "; Tavimor (TVX)  - Do not manually edit this file, it may cause crashes and other "
           "twilight zone situations!\r\n[Global]\r\nDefault Download Directory = " +
           downloadDir + "\r\nWindow X Position = " + std::to_string(x) +
           "\r\nWindow Y Position = " + std::to_string(y) +
           "\r\nWindow Minimized = No\r\n[Links]\r\nEntry = " + PackLinkRecords(rows, 0) + "\r\n";
}

inline LinkRow Row(std::string url, std::string status = "Idle", std::string tried = "0",
                   std::string interval = "1 hour") {
    return {std::move(url), std::move(interval), std::move(status), "01 Jan 2020@00:00",
            std::move(tried)};
}

class AppTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetGuiDouble();
        using std::chrono::milliseconds;
        SetFetchLimitsForTests({milliseconds(2000), milliseconds(2000), milliseconds(2000)});
    }
    void TearDown() override { SetFetchLimitsForTests(FetchLimits{}); }

    // Starts the program over a settings file holding rows, downloads going to
    // Downloads() unless downloadDir says otherwise.
    void StartWithRows(const std::vector<LinkRow>& rows,
                       std::optional<std::string> downloadDir = std::nullopt) {
        dir.Write("Tavimor.ini", SettingsFileWith(downloadDir.value_or(Downloads()), rows));
        StartUp(dir.Path());
    }

    std::string Downloads() const { return dir.Path(); }
    std::string SettingsPath() const { return dir.File("Tavimor.ini"); }
    std::string Settings() const { return ReadWholeFile(SettingsPath()); }

    std::vector<LinkRow> RowsOnScreen() const { return ListRows(); }
    static std::vector<int> EnabledControls() {
        std::vector<int> enabled;
        for (int control = LinkList; control <= AboutButton; ++control)
            if (ControlEnabled(control)) enabled.push_back(control);
        return enabled;
    }

    // The rows packed in the settings file on disk.
    std::vector<LinkRow> RowsInSettings() const {
        std::string text = Settings();
        size_t start = text.find("Entry = ");
        if (start == std::string::npos) return {};
        start += 8;
        return UnpackLinkRecords(text.substr(start, text.find("\r\n", start) - start));
    }

    TempDir dir;
};

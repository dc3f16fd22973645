// The settings store on Windows: files that other programs hold open, the
// read-only attribute, and a settings directory outside any code page.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "runtime/wide_text_win32.h"
#include "tests/runtime/settings_file_fixture.h"

namespace {

// Another program's handle on the file, as long as the object lives.
class HeldFile {
  public:
    HeldFile(const std::string& path, DWORD access, DWORD share)
        : handle_(CreateFileW(WideFromUtf8(path).c_str(), access, share, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    ~HeldFile() {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    }
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;
    bool Held() const { return handle_ != INVALID_HANDLE_VALUE; }

  private:
    HANDLE handle_;
};

const std::string Old = "[G]\r\nk = old\r\n";

// Another program (a virus scanner, a sync client) holding the file on a thread
// of its own for up to heldMs, or until Release, which returns once it let go.
class PassingHolder {
  public:
    PassingHolder(const std::string& path, DWORD share, int heldMs) {
        std::unique_lock lock(mutex_);
        thread_ = std::thread([this, path, share, heldMs] {
            HeldFile other(path, GENERIC_READ, share);
            std::unique_lock held(mutex_);
            held_ = other.Held() ? 1 : -1;
            changed_.notify_all();
            changed_.wait_for(held, std::chrono::milliseconds(heldMs),
                              [this] { return released_; });
        });
        changed_.wait_for(lock, std::chrono::seconds(10), [this] { return held_ != 0; });
    }
    ~PassingHolder() { Release(); }
    PassingHolder(const PassingHolder&) = delete;
    PassingHolder& operator=(const PassingHolder&) = delete;
    bool Held() {
        std::lock_guard lock(mutex_);
        return held_ == 1;
    }
    void Release() {
        {
            std::lock_guard lock(mutex_);
            released_ = true;
            changed_.notify_all();
        }
        if (thread_.joinable()) thread_.join();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int held_ = 0;
    bool released_ = false;
    std::thread thread_;
};

// Each holder keeps the old bytes and leaves no temporary file. Those that do
// not let us write fail at once; one that lets us write but not delete fails
// only when the new file is renamed over the old, the last step of the save.
TEST_F(SettingsFileTest, FilesHeldByOthersAreLockedAndKeepTheirBytes) {
    const struct {
        const char* holder;
        DWORD access, share;
        int created;
    } cases[] = {
        {"no sharing", GENERIC_READ, 0, 0},
        {"a reader that shares reading only", GENERIC_READ, FILE_SHARE_READ, 0},
        {"a writer", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, 0},
        {"a reader that refuses deletion", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.holder);
        std::string path = dir.Write("Tavimor.ini", Old);
        {
            HeldFile other(path, c.access, c.share);
            ASSERT_TRUE(other.Held());
            EXPECT_EQ(CreateSettingsFile(path), c.created);
            WriteText("k", "new");
            // With no document there is nothing to write; with one the rename fails.
            EXPECT_EQ(CloseSettingsFile(), c.created == 0 ? 1 : 0);
        }
        EXPECT_EQ(ReadWholeFile(path), Old);
        EXPECT_EQ(Entries(), OnlyIni);
    }
}

// A lock that passes within half a second is waited out, at the start of the
// save or at its rename; one that stays fails the save as any lock does.
TEST_F(SettingsFileTest, ALockThatPassesSoonIsWaitedOut) {
    const DWORD no_sharing = 0, no_deletion = FILE_SHARE_READ | FILE_SHARE_WRITE;
    const struct {
        const char* holder;
        DWORD share;
        int held_ms;
        bool saved;
    } cases[] = {
        {"no sharing, briefly", no_sharing, 250, true},
        {"refusing deletion, briefly", no_deletion, 250, true},
        {"no sharing, throughout", no_sharing, 10000, false},
        {"refusing deletion, throughout", no_deletion, 10000, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.holder);
        std::string path = dir.Write("Tavimor.ini", Old);
        PassingHolder other(path, c.share, c.held_ms);
        ASSERT_TRUE(other.Held());
        bool saved = CreateSettingsFile(path) != 0;
        if (saved) {
            WriteText("k", "new");
            saved = CloseSettingsFile() != 0;
        }
        other.Release();
        CloseSettingsFile();
        EXPECT_EQ(saved, c.saved);
        EXPECT_EQ(ReadWholeFile(path) == Old, !c.saved);
        EXPECT_EQ(Entries(), OnlyIni);
    }
}

TEST_F(SettingsFileTest, ReadOnlyFileIsLockedButStillRead) {
    std::string path = dir.Write("Tavimor.ini", Old);
    ASSERT_TRUE(SetFileAttributesW(WideFromUtf8(path).c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(CreateSettingsFile(path), 0);
    ASSERT_NE(OpenSettingsFile(path), 0);
    SelectGroup("G");
    EXPECT_EQ(ReadText("k", ""), "old");
    WriteText("k", "new");
    EXPECT_EQ(CloseSettingsFile(), 0);
    SetFileAttributesW(WideFromUtf8(path).c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(ReadWholeFile(path), Old);
}

// Another program writing the file does not stop us reading what it holds.
TEST_F(SettingsFileTest, AFileOpenForWritingElsewhereIsStillRead) {
    std::string path = dir.Write("Tavimor.ini", Old);
    HeldFile writer(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_TRUE(writer.Held());
    ASSERT_NE(OpenSettingsFile(path), 0);
    SelectGroup("G");
    EXPECT_EQ(ReadText("k", ""), "old");
}

TEST_F(SettingsFileTest, ANonAsciiSettingsDirectoryRoundTrips) {
    const std::string folder = dir.File("\xC3\x9C\xE6\x9D\xB1 \xF0\x9F\x93\xA6") + "\\";
    ASSERT_TRUE(fs::create_directory(NativePath(folder)));
    const std::string path = folder + "Tavimor.ini";
    ASSERT_NE(CreateSettingsFile(path), 0);
    SelectGroup("Global");
    WriteText("Default Download Directory", folder);
    ASSERT_NE(CloseSettingsFile(), 0);
    ASSERT_NE(OpenSettingsFile(path), 0);
    SelectGroup("Global");
    EXPECT_EQ(ReadText("Default Download Directory", ""), folder);
    EXPECT_NE(CloseSettingsFile(), 0);
    EXPECT_EQ(std::distance(fs::directory_iterator(NativePath(folder)), {}), 1);
}

}  // namespace

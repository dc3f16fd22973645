// The soak run: many link checks through the real main loop over the headless
// GUI, against one web server whose every answer is drawn at random. The test
// keeps its own model of the list, the timers and the download directory, and
// after every round compares all of it with what the program shows, armed and
// wrote, and with the settings file read back through the settings store.
// Between rounds it acts as the user: stops the queue, deletes finished rows,
// quits and starts again, adds links, picks intervals and starts the queue.
//
// TAVIMOR_SOAK_CHECKS sets the number of checks (default 300), TAVIMOR_SOAK_SEED
// the seed. Every failure names both, with the check and the behaviour.

#include <arpa/inet.h>
#include <malloc.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/link_records.h"
#include "app/main_loop.h"
#include "app/settings_save.h"
#include "app/startup.h"
#include "app/state.h"
#include "http/fetch.h"
#include "runtime/settings_file.h"
#include "tests/soak/server_behaviours.h"
#include "tests/support/gui_double.h"
#include "tests/support/loopback_address.h"
#include "tests/support/scripted_web_server.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Short enough that a few hundred checks with their stalls stay quick, long
// enough that a busy machine does not stretch the pauses of a normal transfer
// (a few milliseconds) past it.
constexpr std::chrono::milliseconds ReceiveLimit{300};
// The heap in use settles at a few hundred KiB; a leak of a few KiB per check
// passes this within a thousand checks.
constexpr int64_t HeapGrowthAllowed = 4 << 20;

int64_t EnvNumber(const char* name, int64_t fallback) {
    const char* text = std::getenv(name);
    return text && *text ? std::strtoll(text, nullptr, 10) : fallback;
}

int OpenDescriptors() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

// -1 under AddressSanitizer, whose allocator malloc's statistics do not see.
int64_t HeapInUse() {
#ifdef __SANITIZE_ADDRESS__
    return -1;
#else
    struct mallinfo2 info = mallinfo2();
    return static_cast<int64_t>(info.uordblks + info.hblkhd);
#endif
}

// A line of /proc/self/status such as "VmHWM:     1234 kB", in kB.
int64_t ProcessStatus(const std::string& field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with(field + ":"))
            return std::strtoll(line.c_str() + field.size() + 1, nullptr, 10);
    }
    return -1;
}

struct FileFacts {
    uint64_t size = 0;
    uint64_t hash = 0;
    bool operator==(const FileFacts&) const = default;
};

FileFacts FactsOf(std::string_view bytes) {
    uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (char c : bytes)
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    return {bytes.size(), hash};
}

// A link as the user types it, as the list keeps it, what a fetch of it asks
// the server for ("" when it cannot reach the server) and the file it writes.
struct SoakLink {
    std::string typed, stored, target, file;
};

struct ModelRow {
    SoakLink link;
    std::string interval = "1 hour";
    std::string last_retry;
    int tried = 0;
    bool done = false;
};

// A check the test has set up: its slot, the answer the server gives, and the
// stamp the row may show afterwards (the one before or the one after).
struct PendingCheck {
    int slot;
    Behaviour behaviour;
    std::string stamp_before;
};

class SoakTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    SoakLink MakeLink();
    void Pump();
    void FirstStart();
    void AddLink();
    void FillRows();
    void StartQueue();
    void StopQueue();
    void DeleteFinishedRows();
    void DeleteAll();
    void ChooseInterval(int row, int item);
    void Quit();
    void Restart();
    void Refresh();

    std::vector<int> ArmedSlots() const;
    PendingCheck Prepare(int slot);
    std::string Describe(const PendingCheck& check) const;
    void Apply(const PendingCheck& check);
    void Settle(const std::vector<PendingCheck>& checks);
    void TickRound();
    void TickInsideAboutBox();
    void ClickSomeRow();

    void ExpectScreenMatchesModel() const;
    void ExpectTimersMatchModel() const;
    void ExpectSettingsMatchScreen() const;
    void ExpectDownloadsMatchModel(const std::set<std::string>& touched) const;
    void ExpectEverythingConsistent(const std::set<std::string>& touched = {});
    void Report(double seconds) const;

    const int64_t check_goal_ = EnvNumber("TAVIMOR_SOAK_CHECKS", 300);
    const uint64_t seed_ = static_cast<uint64_t>(EnvNumber("TAVIMOR_SOAK_SEED", 20111126));
    Random random_{seed_};
    TempDir program_, downloads_;
    ScriptedWebServer server_;
    int refused_fd_ = -1, refused_port_ = 0;

    std::vector<ModelRow> rows_;
    std::map<std::string, FileFacts> files_;
    bool running_ = false;
    int serial_ = 0;
    int64_t checks_ = 0;
    int connections_ = 0;
    std::map<Outcome, int> outcomes_;
    int stalls_ = 0, restarts_ = 0, refreshes_ = 0;
    int fds_start_ = 0, fds_warm_ = -1, fds_end_ = 0;
    int64_t heap_warm_ = 0, heap_end_ = 0;
};

void SoakTest::SetUp() {
    ResetGuiDouble();
    SetFetchLimitsForTests({2000ms, 2000ms, ReceiveLimit});
    // A port that is bound but never listens refuses every connection.
    refused_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    LoopbackAddress address(false, 0);
    ASSERT_EQ(bind(refused_fd_, address.Get(), address.size), 0);
    ASSERT_EQ(getsockname(refused_fd_, address.Get(), &address.size), 0);
    refused_port_ = address.Port();
    fds_start_ = OpenDescriptors();
}

void SoakTest::TearDown() {
    SetFetchLimitsForTests(FetchLimits{});
    server_.Stop();
    if (refused_fd_ >= 0) close(refused_fd_);
}

SoakLink SoakTest::MakeLink() {
    const std::string dir = "/l" + std::to_string(++serial_) + "/";
    const std::string base = "http://127.0.0.1:" + std::to_string(server_.Port());
    auto same = [&](const std::string& name) {
        return SoakLink{base + dir + name, base + dir + name, dir + name, name};
    };
    switch (Between(random_, 1, 40)) {
        case 1:  // no file name: nothing can be saved, so nothing is fetched
            return {base + dir, base + dir, "", ""};
        case 2: {
            std::string refused =
                "http://127.0.0.1:" + std::to_string(refused_port_) + dir + "x.bin";
            return {refused, refused, "", "x.bin"};
        }
        case 3:
            return {base + dir + "Setup File.exe", base + dir + "Setup File.exe",
                    dir + "Setup%20File.exe", "Setup File.exe"};
        case 4:
            return {base + dir + "t\xC3\xABst.bin", base + dir + "t%C3%ABst.bin",
                    dir + "t%C3%ABst.bin", "t%C3%ABst.bin"};
        case 5: {
            SoakLink link = same("get.php?id=" + std::to_string(serial_));
            link.file = "get.php";
            return link;
        }
        default:
            return same("file" + std::to_string(Between(random_, 0, 11)) + ".bin");
    }
}

// Runs passes until the user's queued events are handled.
void SoakTest::Pump() {
    for (int guard = 0; QueuedEventCount() > 0 && guard < 100; ++guard)
        ASSERT_EQ(RunMainPass(), 1);
    ASSERT_EQ(QueuedEventCount(), 0);
}

// ---- Acting as the user ----

void SoakTest::FirstStart() {
    ScriptFolder(downloads_.Path());
    StartUp(program_.Path());
    ASSERT_EQ(ShownChoosers().size(), 1u);
    ASSERT_TRUE(WindowState().shown);
    ASSERT_EQ(DownloadDir, downloads_.Path());
    ExpectSettingsMatchScreen();
}

void SoakTest::AddLink() {
    ModelRow row;
    row.link = MakeLink();
    ASSERT_TRUE(UserTypes(row.link.typed));
    Pump();
    const std::string stamp_before = DateStamp();
    ASSERT_TRUE(PressButton(AddButton));
    Pump();
    const int index = static_cast<int>(rows_.size());
    ASSERT_EQ(CountItems(LinkList), index + 1);
    EXPECT_EQ(ItemText(LinkList, index, ColumnUrl), row.link.stored);
    row.last_retry = ItemText(LinkList, index, ColumnLastRetry);
    EXPECT_TRUE(row.last_retry == stamp_before || row.last_retry == DateStamp()) << row.last_retry;
    rows_.push_back(row);
    EXPECT_EQ(SelectedIndex(LinkList), index);
}

void SoakTest::FillRows() {
    while (rows_.size() < SlotCount && !HasFatalFailure())
        AddLink();
}

void SoakTest::StartQueue() {
    ScriptAnswers({AnswerYes});
    ASSERT_TRUE(PressButton(StartButton));
    Pump();
    running_ = true;
    ASSERT_EQ(ControlText(StartButton), "Stop");
    for (const ArmedTimer& timer : ArmedTimers()) {
        const int64_t period = IntervalPeriod(rows_[static_cast<size_t>(timer.id)].interval);
        EXPECT_GE(timer.period, period) << "slot " << timer.id;
        EXPECT_LE(timer.period, period + 4000) << "slot " << timer.id;
    }
    ExpectEverythingConsistent();
}

void SoakTest::StopQueue() {
    ScriptAnswers({AnswerYes});
    ASSERT_TRUE(PressButton(StartButton));
    Pump();
    running_ = false;
    ASSERT_EQ(ControlText(StartButton), "Start");
    ExpectEverythingConsistent();
}

void SoakTest::DeleteFinishedRows() {
    for (int row = static_cast<int>(rows_.size()) - 1; row >= 0 && !HasFatalFailure(); --row) {
        if (!rows_[static_cast<size_t>(row)].done) continue;
        ASSERT_TRUE(UserSelectsRow(row, LeftClick));
        Pump();
        ScriptAnswers({AnswerYes});
        ASSERT_TRUE(PressButton(DeleteButton));
        Pump();
        rows_.erase(rows_.begin() + row);
        ExpectScreenMatchesModel();
    }
}

void SoakTest::DeleteAll() {
    ScriptAnswers({AnswerYes});
    ASSERT_TRUE(PressButton(DeleteAllButton));
    Pump();
    rows_.clear();
    ExpectEverythingConsistent();
}

void SoakTest::ChooseInterval(int row, int item) {
    ASSERT_TRUE(UserSelectsRow(row, LeftClick));
    Pump();
    ASSERT_TRUE(UserChoosesItem(IntervalCombo, item));
    Pump();
    rows_[static_cast<size_t>(row)].interval = IntervalChoices[static_cast<size_t>(item)];
}

// Close box, "Yes" to the question, and the end of the program.
void SoakTest::Quit() {
    RequestClose();
    ScriptAnswers({AnswerYes});
    ASSERT_EQ(RunMainPass(), 0);
    EXPECT_EQ(ShownBoxes().back().text, "Do you really want to quit?");
    ExpectSettingsMatchScreen();
    EndProgram();
}

// Quits and starts again over the saved file: finished rows are gone then.
void SoakTest::Restart() {
    Quit();
    ResetGuiDouble();
    StartUp(program_.Path());
    ASSERT_TRUE(ShownChoosers().empty());
    std::erase_if(rows_, [](const ModelRow& row) { return row.done; });
    running_ = false;
    ++restarts_;
    // The file keeps the finished rows until the next save.
    ExpectScreenMatchesModel();
    ExpectTimersMatchModel();
    ExpectDownloadsMatchModel({});
}

// Clears finished rows one of three ways, sometimes changes intervals, fills
// the list again and starts the queue.
void SoakTest::Refresh() {
    ++refreshes_;
    StopQueue();
    const std::size_t way = Between(random_, 1, 10);
    SCOPED_TRACE(way <= 5 ? "deleting finished rows" : way <= 8 ? "restarting" : "deleting all");
    if (way <= 5) {
        DeleteFinishedRows();
    } else if (way <= 8) {
        Restart();
    } else {
        DeleteAll();
    }
    for (std::size_t i = Between(random_, 0, 2); i > 0 && !rows_.empty(); --i) {
        ChooseInterval(static_cast<int>(Between(random_, 0, rows_.size() - 1)),
                       static_cast<int>(Between(random_, 1, IntervalChoices.size() - 1)));
    }
    FillRows();
    StartQueue();
}

// ---- Link checks ----

std::vector<int> SoakTest::ArmedSlots() const {
    std::vector<int> slots;
    for (const ArmedTimer& timer : ArmedTimers())
        slots.push_back(timer.id);
    return slots;
}

// Draws the server's answer for slot's link and hands it to the server.
PendingCheck SoakTest::Prepare(int slot) {
    const SoakLink& link = rows_[static_cast<size_t>(slot)].link;
    PendingCheck check{slot, RandomBehaviour(random_), DateStamp()};
    if (link.target.empty()) {
        check.behaviour = {"unreachable link", {}, Outcome::Failed, ""};
    } else {
        server_.Answer(link.target, check.behaviour.answer);
        ++connections_;
    }
    return check;
}

std::string SoakTest::Describe(const PendingCheck& check) const {
    return "slot " + std::to_string(check.slot) + " (" +
           rows_[static_cast<size_t>(check.slot)].link.stored + "): " + check.behaviour.kind +
           ", expected " + OutcomeName(check.behaviour.outcome);
}

// Brings the model up to date with one check that has run and compares its row.
void SoakTest::Apply(const PendingCheck& check) {
    ModelRow& row = rows_[static_cast<size_t>(check.slot)];
    const Behaviour& b = check.behaviour;
    ++row.tried;
    row.done = b.outcome == Outcome::Done;
    // Only a body that counts as arrived replaces a file that is there already.
    const bool replaces = !files_.contains(row.link.file) || b.outcome == Outcome::Done;
    if (b.outcome != Outcome::Failed && replaces) files_[row.link.file] = FactsOf(b.body);
    if (b.outcome == Outcome::Deleted && replaces) files_.erase(row.link.file);
    row.last_retry = ItemText(LinkList, check.slot, ColumnLastRetry);
    EXPECT_TRUE(row.last_retry == check.stamp_before || row.last_retry == DateStamp())
        << row.last_retry;
    EXPECT_EQ(ItemText(LinkList, check.slot, ColumnStatus), row.done ? "DONE!" : "Trying");
    ++outcomes_[b.outcome];
    stalls_ += b.stalls ? 1 : 0;
    ++checks_;
}

// After a round of checks, in the order they ran.
void SoakTest::Settle(const std::vector<PendingCheck>& checks) {
    std::string round;
    for (const PendingCheck& check : checks)
        round += Describe(check) + "; ";
    SCOPED_TRACE(round);
    ASSERT_TRUE(server_.WaitServed(connections_, 10s)) << "the server still serves";
    std::set<std::string> touched;
    for (const PendingCheck& check : checks) {
        Apply(check);
        touched.insert(rows_[static_cast<size_t>(check.slot)].link.file);
    }
    ExpectEverythingConsistent(touched);
}

// One to three slots fall due together; each pass of the main loop runs one.
void SoakTest::TickRound() {
    std::vector<int> armed = ArmedSlots();
    std::shuffle(armed.begin(), armed.end(), random_);
    armed.resize(std::min<std::size_t>(armed.size(), Between(random_, 1, 3)));
    std::vector<PendingCheck> checks;
    for (int slot : armed) {
        checks.push_back(Prepare(slot));
        ASSERT_TRUE(TickSlot(slot));
    }
    for (std::size_t i = 0; i < checks.size(); ++i)
        ASSERT_EQ(RunMainPass(), 1);
    Settle(checks);
}

// A tick that falls due while the About box is open runs inside the box; the
// pass after it does the housekeeping.
void SoakTest::TickInsideAboutBox() {
    std::vector<int> armed = ArmedSlots();
    const int slot = armed[Between(random_, 0, armed.size() - 1)];
    std::vector<PendingCheck> checks{Prepare(slot)};
    TickDuringNextMessageBox(slot);
    ASSERT_TRUE(PressButton(AboutButton));
    Pump();
    ASSERT_EQ(RunMainPass(), 1);
    Settle(checks);
}

void SoakTest::ClickSomeRow() {
    const int row = static_cast<int>(Between(random_, 0, rows_.size()));  // may be below the rows
    ASSERT_TRUE(UserSelectsRow(row, LeftClick));
    Pump();
    ExpectEverythingConsistent();
}

// ---- What the program shows, armed and wrote ----

void SoakTest::ExpectScreenMatchesModel() const {
    ASSERT_EQ(CountItems(LinkList), static_cast<int>(rows_.size()));
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        const ModelRow& row = rows_[i];
        const int index = static_cast<int>(i);
        const char* status = row.done ? "DONE!" : running_ ? "Trying" : "Idle";
        EXPECT_EQ(ItemText(LinkList, index, ColumnUrl), row.link.stored) << "row " << i;
        EXPECT_EQ(ItemText(LinkList, index, ColumnInterval), row.interval) << "row " << i;
        EXPECT_EQ(ItemText(LinkList, index, ColumnStatus), status) << "row " << i;
        EXPECT_EQ(ItemText(LinkList, index, ColumnLastRetry), row.last_retry) << "row " << i;
        EXPECT_EQ(ItemText(LinkList, index, ColumnTried), std::to_string(row.tried)) << "row " << i;
    }
}

// While running, exactly the unfinished rows have a timer; while stopped, none.
void SoakTest::ExpectTimersMatchModel() const {
    std::vector<int> expected;
    for (std::size_t i = 0; running_ && i < rows_.size(); ++i) {
        if (!rows_[i].done) expected.push_back(static_cast<int>(i));
    }
    EXPECT_EQ(ArmedSlots(), expected);
}

// The settings file, read back the way the next start reads it, holds the list.
void SoakTest::ExpectSettingsMatchScreen() const {
    ASSERT_NE(OpenSettingsFile(program_.File("Tavimor.ini")), 0);
    EXPECT_EQ(SelectGroup("Global"), 1);
    EXPECT_EQ(ReadText("Default Download Directory", "?"), downloads_.Path());
    EXPECT_EQ(SelectGroup("Links"), 1);
    const std::string packed = ReadText("Entry", "");
    EXPECT_NE(CloseSettingsFile(), 0);
    std::vector<LinkRow> saved = UnpackLinkRecords(packed);
    std::vector<LinkRow> on_screen = ListRows();
    ASSERT_EQ(saved.size(), on_screen.size());
    for (std::size_t i = 0; i < saved.size(); ++i) {
        LinkRow& shown = on_screen[i];
        if (shown[ColumnStatus] == "Trying") shown[ColumnStatus] = "Idle";
        EXPECT_EQ(saved[i], shown) << "row " << i;
    }
}

// Every file in the download directory is one the model expects, of the
// expected size (and bytes, for those just written); no temporary file is left
// there or beside the settings file.
void SoakTest::ExpectDownloadsMatchModel(const std::set<std::string>& touched) const {
    std::map<std::string, uint64_t> present;
    for (const auto& entry : fs::directory_iterator(downloads_.Path()))
        present[entry.path().filename().string()] = entry.file_size();
    std::map<std::string, uint64_t> expected;
    for (const auto& [name, facts] : files_)
        expected[name] = facts.size;
    EXPECT_EQ(present, expected);
    for (const std::string& name : touched) {
        if (files_.count(name) == 0 || present.count(name) == 0) continue;
        EXPECT_TRUE(FactsOf(ReadWholeFile(downloads_.File(name))) == files_.at(name)) << name;
    }
    std::vector<std::string> beside_settings;
    for (const auto& entry : fs::directory_iterator(program_.Path()))
        beside_settings.push_back(entry.path().filename().string());
    EXPECT_EQ(beside_settings, std::vector<std::string>{"Tavimor.ini"});
}

void SoakTest::ExpectEverythingConsistent(const std::set<std::string>& touched) {
    ExpectScreenMatchesModel();
    ExpectTimersMatchModel();
    ExpectSettingsMatchScreen();
    ExpectDownloadsMatchModel(touched);
    EXPECT_TRUE(server_.UnexpectedTargets().empty());
    EXPECT_TRUE(server_.UnusedTargets().empty());
    EXPECT_EQ(server_.Accepted(), connections_);
    if (fds_warm_ >= 0) {
        EXPECT_EQ(OpenDescriptors(), fds_warm_) << "after check " << checks_;
    }
}

void SoakTest::Report(double seconds) const {
    auto count = [this](Outcome outcome) {
        auto found = outcomes_.find(outcome);
        return found == outcomes_.end() ? 0 : found->second;
    };
    std::printf(
        "soak: %lld checks (seed %llu) in %.1f s; %d rounds of deleting, restarting or "
        "clearing (%d restarts)\n",
        static_cast<long long>(checks_), static_cast<unsigned long long>(seed_), seconds,
        refreshes_, restarts_);
    std::printf("soak: outcomes: done %d, deleted %d, kept %d, failed %d (%d of them stalls)\n",
                count(Outcome::Done), count(Outcome::Deleted), count(Outcome::Kept),
                count(Outcome::Failed), stalls_);
    std::printf("soak: descriptors %d at start, %d after warm-up, %d at the end; VmHWM %lld kB\n",
                fds_start_, fds_warm_, fds_end_, static_cast<long long>(ProcessStatus("VmHWM")));
    if (heap_warm_ >= 0) {
        std::printf("soak: heap in use %lld KiB after warm-up, %lld KiB at the end\n",
                    static_cast<long long>(heap_warm_ / 1024),
                    static_cast<long long>(heap_end_ / 1024));
    }
}

TEST_F(SoakTest, EveryCheckLeavesRowsFilesTimersAndSettingsAsItsServerDecided) {
    SCOPED_TRACE("TAVIMOR_SOAK_SEED=" + std::to_string(seed_));
    const auto started = std::chrono::steady_clock::now();
    const int64_t warm_up = std::min<int64_t>(60, check_goal_ / 5);
    ASSERT_NO_FATAL_FAILURE(FirstStart());
    ASSERT_NO_FATAL_FAILURE(FillRows());
    ASSERT_NO_FATAL_FAILURE(StartQueue());
    std::size_t refresh_at = Between(random_, 1, 8);
    while (checks_ < check_goal_ && !HasFailure()) {
        SCOPED_TRACE("check " + std::to_string(checks_ + 1));
        if (fds_warm_ < 0 && checks_ >= warm_up) {
            fds_warm_ = OpenDescriptors();
            heap_warm_ = HeapInUse();
        }
        const auto finished =
            std::count_if(rows_.begin(), rows_.end(), [](const ModelRow& row) { return row.done; });
        if (ArmedTimers().empty() || static_cast<std::size_t>(finished) >= refresh_at) {
            Refresh();
            refresh_at = Between(random_, 1, 8);
            continue;
        }
        const std::size_t action = Between(random_, 1, 100);
        if (action <= 3) {
            ClickSomeRow();
        } else if (action <= 6) {
            TickInsideAboutBox();
        } else {
            TickRound();
        }
    }
    heap_end_ = HeapInUse();
    ASSERT_NO_FATAL_FAILURE(Quit());
    fds_end_ = OpenDescriptors();
    EXPECT_EQ(fds_end_, fds_start_);
    // Under AddressSanitizer the leak checker at exit does this job.
    if (heap_warm_ >= 0) {
        EXPECT_LT(heap_end_ - heap_warm_, HeapGrowthAllowed);
    }
    // A run long enough to be worth the name met every verdict and a stall.
    if (check_goal_ >= 200) {
        for (Outcome outcome : {Outcome::Done, Outcome::Deleted, Outcome::Kept, Outcome::Failed})
            EXPECT_GT(outcomes_[outcome], 0) << OutcomeName(outcome);
        EXPECT_GT(stalls_, 0);
        EXPECT_GT(restarts_, 0);
    }
    Report(std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
}

}  // namespace

// What the link check costs in memory, read from the kernel's count of the
// process's peak (Linux only).
#include <fstream>
#include <string>

#include "app/link_check.h"
#include "tests/app/app_fixture.h"
#include "tests/support/python_web_server.h"
#include "tests/support/temp_dir.h"

namespace {

// The process's peak resident memory so far, in KiB.
int64_t PeakKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmHWM:")) return std::stoll(line.substr(6));
    }
    return -1;
}

using LinkCheckMemory = AppTest;

// A 100 MB file of one line costs the judge no more than any other file. The
// file comes from another process, so that this one never holds it whole.
TEST_F(LinkCheckMemory, AFileOfOneHugeLineIsJudgedInBoundedMemory) {
    TempDir served;
    {
        std::ofstream file(served.File("line.bin"), std::ios::binary);
        const std::string block(1 << 20, 'x');
        for (int i = 0; i < 100; ++i)
            file << block;
    }
    PythonWebServer server(served.Path());
    ASSERT_TRUE(server.Ready());
    StartWithRows({Row(server.Url("line.bin"))});
    const int64_t before = PeakKiB();
    LinkCheck(0);
    EXPECT_EQ(ItemText(LinkList, 0, ColumnStatus), "DONE!");
    EXPECT_LT(PeakKiB() - before, 32 * 1024);
}

}  // namespace

// Both ends of the wire built on one reading of the protocol could agree on a
// mistake; a server written elsewhere cannot.
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "http/fetch.h"
#include "http/net.h"
#include "tests/support/python_web_server.h"
#include "tests/support/temp_dir.h"

namespace {

TEST(RealServer, FetchesAFileByteForByte) {
    TempDir served;
    TempDir saved;
    std::string bytes(300000, '\0');
    std::mt19937 random(7);
    for (char& byte : bytes)
        byte = static_cast<char>(random());
    served.Write("data.bin", bytes);
    PythonWebServer server(served.Path());
    ASSERT_TRUE(server.Ready()) << "python3 -m http.server did not start: is python3 installed?";

    NetStartup();
    std::string target = saved.File("data.bin");
    ASSERT_EQ(FetchHttpFile(server.Url("data.bin"), target), 1);
    EXPECT_TRUE(ReadWholeFile(target) == bytes);
    EXPECT_EQ(FetchHttpFile(server.Url("missing.bin"), target), 0);
    EXPECT_TRUE(ReadWholeFile(target) == bytes);
}

}  // namespace

// What the fetch tests share: the network started, time limits short enough
// for a test (set back to the program's own after it), and a temporary
// directory with the target of a fetch in it.
#pragma once

#include <string>

#include <gtest/gtest.h>

#include "http/fetch.h"
#include "http/net.h"
#include "tests/support/temp_dir.h"

inline const std::string Ok = "HTTP/1.1 200 OK\r\n";

class FetchTest : public ::testing::Test {
  protected:
    explicit FetchTest(const FetchLimits& limits) : limits_(limits) {}
    void SetUp() override {
        NetStartup();
        SetFetchLimitsForTests(limits_);
    }
    void TearDown() override { SetFetchLimitsForTests(FetchLimits{}); }

    TempDir dir_;
    std::string target_ = dir_.File("out.bin");

  private:
    FetchLimits limits_;
};

// Whether the test process still holds a file open, so a test can see that
// closing really closed. One definition per platform.
#pragma once

#include <string>

bool HeldOpen(const std::string& path);

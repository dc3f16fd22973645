// How many files, sockets and other handles the test process holds open, so a
// test can see that closing really closed. One definition per platform.
#pragma once

#include <cstddef>

size_t OpenHandleCount();

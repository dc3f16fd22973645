// Random server behaviours for the soak run, each drawn together with what a
// link check has to make of it. Bodies are built so that their verdict is
// known by construction: plain text never holds an error-page word, and hit
// text holds one on every line.
#pragma once

#include <cstddef>
#include <random>
#include <string>

#include "tests/support/scripted_web_server.h"

using Random = std::mt19937_64;

// What one link check makes of an answer.
enum class Outcome {
    Failed,   // the fetch fails: the file on disk stays exactly as it was
    Done,     // the body is saved and judged the real file: the row is "DONE!"
    Deleted,  // the body is saved, reads as an error page, and is deleted again
    Kept,     // the body is saved and stays; the link is tried again later
};

const char* OutcomeName(Outcome outcome);

struct Behaviour {
    std::string kind;  // names the behaviour in failure messages
    ServerAnswer answer;
    Outcome outcome = Outcome::Failed;
    std::string body;     // the file's bytes when the fetch succeeds
    bool stalls = false;  // the client has to wait out its receive limit
};

// One behaviour drawn from the whole mix: real files, error pages, small and
// exactly-threshold files, empty bodies, 302 pages, every body framing, other
// status codes, cut and malformed bodies, stalls, resets and garbage.
Behaviour RandomBehaviour(Random& random);

// A number from low to high inclusive.
std::size_t Between(Random& random, std::size_t low, std::size_t high);

#include "gui/random.h"

#include <chrono>
#include <random>
#include <thread>

uint32_t NextRandom32() {
    // Seeded on first use so that each run draws different periods.
    static std::mt19937 generator([] {
        auto thread_part = std::hash<std::thread::id>{}(std::this_thread::get_id());
        auto ticks = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::steady_clock::now().time_since_epoch())
                         .count();
        return static_cast<uint32_t>(thread_part ^ static_cast<size_t>(ticks));
    }());
    return static_cast<uint32_t>(generator());
}

int UniformUpTo(int max, const std::function<uint32_t()>& next) {
    if (max <= 0) return 0;
    const uint64_t range = static_cast<uint64_t>(max) + 1;
    uint64_t product = static_cast<uint64_t>(next()) * range;
    // The low half of the product is below 2^32 mod range for exactly the r that
    // would make some results one draw likelier than others.
    const uint32_t threshold = static_cast<uint32_t>((uint64_t{1} << 32) % range);
    while (static_cast<uint32_t>(product) < threshold) {
        product = static_cast<uint64_t>(next()) * range;
    }
    return static_cast<int>(product >> 32);
}

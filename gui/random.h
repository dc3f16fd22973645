// Random numbers shared by both GUI backends: one generator per process and the
// reduction of its 32-bit output to a range without bias.
#pragma once

#include <cstdint>
#include <functional>

// The next number of the process's 32-bit generator, which is seeded at its first
// use from the calling thread's identifier and the steady clock.
uint32_t NextRandom32();

// A whole number from 0 to max inclusive, every value equally likely when next is
// uniform over 32 bits: the whole part of r * (max + 1) / 2^32 for a drawn r,
// drawing again for the few r that would favour some values. 0 when max is 0 or
// less (without drawing).
int UniformUpTo(int max, const std::function<uint32_t()>& next);

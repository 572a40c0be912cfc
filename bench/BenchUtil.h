// What the benchmarks share: a generator that gives the same numbers on
// every platform, timing helpers, and the command line with its rounds.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

namespace bench {

// xorshift64*: small, fast and the same everywhere (the standard
// distributions are not).
class TRandom
{
public:
    explicit TRandom(std::uint64_t seed)
        : FState(seed)
    {
    }
    std::uint64_t Next()
    {
        FState ^= FState >> 12;
        FState ^= FState << 25;
        FState ^= FState >> 27;
        return FState * 0x2545F4914F6CDD1Dull;
    }
    // 0 <= result < 1, with 24 bits of the draw, which a float holds exactly.
    double Unit() { return static_cast<double>(Next() >> 40) / 16777216.0; }
    double Range(double low, double high) { return low + (high - low) * Unit(); }
    // 1 <= result <= count.
    std::int32_t Index(std::int32_t count)
    {
        return static_cast<std::int32_t>(Next() % static_cast<std::uint64_t>(count)) + 1;
    }

private:
    std::uint64_t FState;
};

inline double Seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

inline double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Reads "--rounds N" at argv[i] (1 <= N <= 1000), advancing i past N. False
// when argv[i] is not that option or N is not valid.
inline bool ReadRounds(int argc, char** argv, int& i, int& rounds)
{
    if (std::string(argv[i]) != "--rounds" || i + 1 >= argc)
        return false;
    char* end = nullptr;
    const long value = std::strtol(argv[++i], &end, 10);
    if (*end != '\0' || value < 1 || value > 1000)
        return false;
    rounds = static_cast<int>(value);
    return true;
}

// Runs the benchmark and turns an exception into a message and exit code 1.
template <typename F> int Guarded(F run)
{
    try {
        return run();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "FAILED: %s\n", e.what());
        return 1;
    }
}

// The main program of a benchmark whose one option is "--rounds N": Usage
// for anything else, then Run(rounds) with exceptions turned into exit code 1.
template <typename F>
int MainWithRounds(int argc, char** argv, int rounds, int (*Usage)(const char*), F Run)
{
    for (int i = 1; i < argc; ++i) {
        if (!ReadRounds(argc, argv, i, rounds))
            return Usage(argv[0]);
    }
    return Guarded([&] { return Run(rounds); });
}

} // namespace bench

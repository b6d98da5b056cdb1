// Timing beside the peers on a shared, noisy machine. The contenders for one
// input take turns, a few decodes each per round, for several rounds; a
// figure is the median over the rounds, and a ratio is the median of the
// rounds' own ratios, each made of runs taken next to each other in time.
// Times are the thread's CPU time, which a busy machine disturbs least.
#pragma once
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

struct Contender {
    std::string name;
    std::function<bool()> run;   // one decode; false if it failed
};

// Seconds per run of each contender, one entry per round.
using Turns = std::vector<std::vector<double>>;

inline double ThreadSeconds()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return (double)t.tv_sec + t.tv_nsec * 1e-9;
}

// Runs `rounds` rounds of every contender; each turn lasts about `turn`
// seconds (the slowest contender's single run at least). Empty on failure.
inline Turns TakeTurns(const std::vector<Contender>& contenders, int rounds, double turn)
{
    std::vector<int> reps;
    for (const Contender& c : contenders) {
        const double start = ThreadSeconds();
        if (!c.run())
            return {};
        const double once = std::max(ThreadSeconds() - start, 1e-6);
        reps.push_back(std::max(1, (int)(turn / once)));
    }
    Turns turns(contenders.size());
    for (int r = 0; r < rounds; ++r) {
        for (size_t i = 0; i < contenders.size(); ++i) {
            const double start = ThreadSeconds();
            for (int k = 0; k < reps[i]; ++k)
                contenders[i].run();
            turns[i].push_back((ThreadSeconds() - start) / reps[i]);
        }
    }
    return turns;
}

inline double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

inline double MedianRatio(const std::vector<double>& a, const std::vector<double>& b)
{
    std::vector<double> r;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        r.push_back(a[i] / b[i]);
    return Median(r);
}

// Command line: [--rounds N] [--turn SECONDS] [SUBSTRING ...] (inputs whose
// name holds one of the substrings; all when none is given).
struct BenchOptions {
    int rounds = 11;
    double turn = 0.05;
    std::vector<std::string> only;
    BenchOptions(int argc, char** argv)
    {
        for (int i = 1; i < argc; ++i) {
            if (!strcmp(argv[i], "--rounds") && i + 1 < argc)
                rounds = std::max(1, atoi(argv[++i]));
            else if (!strcmp(argv[i], "--turn") && i + 1 < argc)
                turn = atof(argv[++i]);
            else
                only.push_back(argv[i]);
        }
    }
    bool Wanted(const std::string& name) const
    {
        if (only.empty())
            return true;
        for (const std::string& s : only)
            if (name.find(s) != std::string::npos)
                return true;
        return false;
    }
};

// One line per input: each contender's median time in milliseconds, then the
// median ratio of each of the first `ours` contenders to each peer after them.
inline void PrintHeader(const std::vector<Contender>& contenders, size_t ours)
{
    printf("%-28s", "input (ms; ratio < 1: faster)");
    for (const Contender& c : contenders)
        printf(" %11.11s", c.name.c_str());
    for (size_t i = 0; i < ours; ++i)
        for (size_t j = ours; j < contenders.size(); ++j)
            printf(" %14s", (contenders[i].name + "/" + contenders[j].name).c_str());
    printf("\n");
}

inline void PrintLine(const std::string& input, const Turns& turns, size_t ours)
{
    printf("%-28s", input.c_str());
    if (turns.empty()) {
        printf(" failed\n");
        return;
    }
    for (const auto& t : turns)
        printf(" %11.3f", Median(t) * 1e3);
    for (size_t i = 0; i < ours; ++i)
        for (size_t j = ours; j < turns.size(); ++j)
            printf(" %13.2fx", MedianRatio(turns[i], turns[j]));
    printf("\n");
    fflush(stdout);
}

// SPDX-License-Identifier: GPL-3.0-or-later
// The two clocks the start-up benchmark reads, in nanoseconds.
#pragma once

#include <time.h>

// The processor time of the process so far, all its threads: unlike the
// time on the clock, it hardly depends on what else the machine runs.
inline long long CpuNs() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

// The wall clock, comparable with a time the caller took before starting this process.
inline long long NowNs() {
    timespec t{};
    ::clock_gettime(CLOCK_REALTIME, &t);
    return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

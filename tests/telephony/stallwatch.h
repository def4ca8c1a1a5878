// Watches whether the machine itself kept time: one real-time thread per
// core, above the audio threads, wakes every 2 ms and notes how late it
// woke. A virtual machine whose host stops it holds back every audio thread
// and the sound server alike, and no speaker buffer rides that out.
#pragma once

#include <atomic>
#include <cerrno>
#include <pthread.h>
#include <sched.h>
#include <thread>
#include <time.h>
#include <vector>

class StallWatch
{
public:
    StallWatch()
    {
        for (int core = 0; core < 2; ++core)
            threads_.emplace_back([this, core] { watch(core); });
    }
    ~StallWatch()
    {
        stop_ = true;
        for (std::thread &thread : threads_)
            thread.join();
    }
    StallWatch(const StallWatch &) = delete;
    StallWatch &operator=(const StallWatch &) = delete;

    // The longest any watcher woke late since it started, in milliseconds.
    double longestMs() const { return double(longestUs_.load()) / 1000.0; }

private:
    void watch(int core)
    {
        // Without the right to a real-time class it sees more, never less.
        sched_param param{};
        param.sched_priority = 10;
        pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
        if (int(std::thread::hardware_concurrency()) > core) {
            cpu_set_t set;
            CPU_ZERO(&set);
            CPU_SET(core, &set);
            pthread_setaffinity_np(pthread_self(), sizeof set, &set);
        }
        timespec next{};
        clock_gettime(CLOCK_MONOTONIC, &next);
        while (!stop_) {
            next.tv_nsec += 2'000'000;
            if (next.tv_nsec >= 1'000'000'000) {
                next.tv_nsec -= 1'000'000'000;
                ++next.tv_sec;
            }
            while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr) == EINTR) {
            }
            timespec now{};
            clock_gettime(CLOCK_MONOTONIC, &now);
            const long long lateUs = (now.tv_sec - next.tv_sec) * 1'000'000LL + (now.tv_nsec - next.tv_nsec) / 1000;
            long long seen = longestUs_.load();
            while (lateUs > seen && !longestUs_.compare_exchange_weak(seen, lateUs)) {
            }
            if (lateUs > 2000)
                next = now; // a stall is counted once, not caught up on
        }
    }

    std::atomic<bool> stop_{false};
    std::atomic<long long> longestUs_{0};
    std::vector<std::thread> threads_;
};

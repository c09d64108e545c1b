// Whether a job is worth handing to the workers. Waking the workers and
// waiting for them costs a few to a few hundred microseconds (more on a
// loaded machine), and blending is bound by memory more than by the
// processor, so below some size a job gains nothing from the pool and runs
// faster on the calling thread. Where that size lies depends on the
// machine and its load, so the advisor learns it from the jobs themselves:
// for each size class (a power of two of work units) it keeps the seconds
// per unit of jobs run on the calling thread (near the fastest seen) and of
// jobs posted (their mean), and sends a job the way that has been cheaper.
// One job in kProbeEvery of a class goes the other way, so both timings
// follow the machine's load; rare enough that a probe the slow way costs
// little.
//
// Speed only: the caller's bands write disjoint memory, so the results are
// the same whichever way a job runs.
//
// Threading: every member takes the advisor's lock.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>

namespace zk {

class PostAdvisor {
public:
    static constexpr uint32_t kProbeEvery = 256;
    static constexpr int kSizeClasses = 48;

    // Whether `units` of work should go to `workers` workers.
    bool ShouldPost(int64_t units, int workers);
    // What a job cost, run on the calling thread or posted.
    void RecordInline(int64_t units, double seconds);
    void RecordPosted(int64_t units, double seconds);
    void Reset();

private:
    struct SizeClass {
        double inline_rate = -1;  // seconds per unit; -1 until timed
        double posted_rate = -1;
        uint32_t decisions = 0;
    };

    std::mutex lock_;
    std::array<SizeClass, kSizeClasses> classes_{};
};

}  // namespace zk

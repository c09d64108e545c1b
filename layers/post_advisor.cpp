#include "layers/post_advisor.h"

#include <algorithm>
#include <bit>

namespace zk {

namespace {

// A job run on the calling thread does the same work every time: a slow
// timing is the machine's doing (the thread was preempted), so its
// estimate drops to a faster timing at once and rises only slowly. A
// posted job's cost varies with how soon the workers get a processor,
// which is part of its price: its estimate follows the mean.
constexpr double kInlineRise = 1.0 / 16;
constexpr double kPostedWeight = 0.25;
// Posting must win by this much: the pool's cost has the longer tail.
constexpr double kPostedMargin = 1.125;

void Follow(double& estimate, double sample, double weight) {
    if (estimate < 0)
        estimate = sample;
    else
        estimate += (sample - estimate) * weight;
}

void FollowFaster(double& estimate, double sample) {
    if (estimate < 0 || sample < estimate)
        estimate = sample;
    else
        estimate += (sample - estimate) * kInlineRise;
}

size_t ClassOf(int64_t units) {
    return std::min<size_t>(size_t(std::bit_width(uint64_t(units))), PostAdvisor::kSizeClasses - 1);
}

}  // namespace

bool PostAdvisor::ShouldPost(int64_t units, int workers) {
    if (units <= 0 || workers <= 1) return false;
    std::lock_guard guard(lock_);
    SizeClass& size_class = classes_[ClassOf(units)];
    if (size_class.inline_rate < 0) return false;  // time both ways first
    if (size_class.posted_rate < 0) return true;
    const bool post = size_class.posted_rate * kPostedMargin < size_class.inline_rate;
    if (++size_class.decisions >= kProbeEvery) {
        size_class.decisions = 0;
        return !post;
    }
    return post;
}

void PostAdvisor::RecordInline(int64_t units, double seconds) {
    if (units <= 0 || seconds < 0) return;
    std::lock_guard guard(lock_);
    FollowFaster(classes_[ClassOf(units)].inline_rate, seconds / double(units));
}

void PostAdvisor::RecordPosted(int64_t units, double seconds) {
    if (units <= 0 || seconds < 0) return;
    std::lock_guard guard(lock_);
    Follow(classes_[ClassOf(units)].posted_rate, seconds / double(units), kPostedWeight);
}

void PostAdvisor::Reset() {
    std::lock_guard guard(lock_);
    classes_ = {};
}

}  // namespace zk

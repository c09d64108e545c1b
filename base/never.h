// ZK_NEVER(condition) marks a defensive branch that the code's own
// invariants keep from being taken: `if (ZK_NEVER(node == nullptr)) return;`.
// A reader knows which branch is the real path. In builds with assertions
// (the sanitizer and fuzzing trees) a condition that does hold stops the
// program with its place, so the broken invariant is found; in release
// builds it is the plain test and the branch still protects the engine.
#pragma once

namespace zk {

[[noreturn]] void NeverFailed(const char* condition, const char* file, int line);

}  // namespace zk

#ifdef NDEBUG
#define ZK_NEVER(condition) (condition)
#else
#define ZK_NEVER(condition) \
    ((condition) ? (::zk::NeverFailed(#condition, __FILE__, __LINE__), true) : false)
#endif

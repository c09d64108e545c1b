#include "base/never.h"

#include <cstdio>
#include <cstdlib>

namespace zk {

void NeverFailed(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: a branch marked never taken was taken: %s\n", file, line, condition);
    std::abort();
}

}  // namespace zk

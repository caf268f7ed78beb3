// Storage requests of the whole system, with a test hook that makes one fail.
#include "cgiclib.h"

#include <cstdlib>

namespace {
// Requests still to pass before the failing one; negative when the hook is off.
int requestsBeforeFailure = -1;
// True when every request from the failing one on fails too.
bool failureLasts = false;
}  // namespace

void* AllocateBytes(std::size_t size) {
    if (requestsBeforeFailure >= 0) {
        if (requestsBeforeFailure == 0) {
            if (!failureLasts) requestsBeforeFailure = -1;
            return nullptr;
        }
        --requestsBeforeFailure;
    }
    return std::malloc(size == 0 ? 1 : size);
}

void ReleaseBytes(void* block) { std::free(block); }

void FailAllocationAfter(int count) {
    requestsBeforeFailure = count < 0 ? -1 : count;
    failureLasts = false;
}

void FailEveryAllocationAfter(int count) {
    requestsBeforeFailure = count < 0 ? -1 : count;
    failureLasts = count >= 0;
}

#include "platform/test_seams.h"

namespace platform::seams {

namespace {

ExistsObserver existsObserver = nullptr;
int writesBeforeFailure = -1;  // -1: no failure planned
std::size_t failingWriteBytes = 0;

}  // namespace

void setAfterFileExists(ExistsObserver observer) { existsObserver = observer; }

void failWrite(int callsBefore, std::size_t bytes) {
    writesBeforeFailure = callsBefore < 0 ? 0 : callsBefore;
    failingWriteBytes = bytes;
}

void clear() {
    existsObserver = nullptr;
    writesBeforeFailure = -1;
}

void afterFileExists(const std::u16string& path, bool exists) {
    if (existsObserver) existsObserver(path, exists);
}

std::size_t writeBudget() {
    if (writesBeforeFailure < 0) return noFailure;
    if (writesBeforeFailure > 0) {
        --writesBeforeFailure;
        return noFailure;
    }
    writesBeforeFailure = -1;
    return failingWriteBytes;
}

}  // namespace platform::seams

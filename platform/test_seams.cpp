#include "platform/test_seams.h"

namespace platform::seams {

namespace {

ExistsObserver existsObserver = nullptr;
int writesBeforeFailure = -1;  // -1: no failure planned
std::size_t failingWriteBytes = 0;

std::size_t operationsSeen = 0;
std::size_t firstFailing = 0;  // 0: no failure armed
std::size_t failingCount = 0;

int randomFailures = 0;

CodeAddresses codeAddresses = CodeAddresses::AsLoaded;

}  // namespace

const char buildMark[] = "mistlock-file-layer-seams-v1";

void setAfterFileExists(ExistsObserver observer) { existsObserver = observer; }

void failWrite(int callsBefore, std::size_t bytes) {
    writesBeforeFailure = callsBefore < 0 ? 0 : callsBefore;
    failingWriteBytes = bytes;
}

void failFileOperation(int n, int count) {
    operationsSeen = 0;
    firstFailing = n < 1 ? 1 : static_cast<std::size_t>(n);
    failingCount = count < 1 ? 1 : static_cast<std::size_t>(count);
}

std::size_t fileOperationsSeen() { return operationsSeen; }

void failRandomSource(int count) { randomFailures = count < 0 ? 0 : count; }

void setCodeAddresses(CodeAddresses mode) { codeAddresses = mode; }

void clear() {
    existsObserver = nullptr;
    codeAddresses = CodeAddresses::AsLoaded;
    randomFailures = 0;
    writesBeforeFailure = -1;
    operationsSeen = 0;
    firstFailing = 0;
    failingCount = 0;
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

bool fileOperationFails() {
    ++operationsSeen;
    return firstFailing != 0 && operationsSeen >= firstFailing && operationsSeen < firstFailing + failingCount;
}

bool randomSourceFails() {
    if (randomFailures == 0) return false;
    --randomFailures;
    return true;
}

bool jumpEvenWhereTheAddressFits() { return codeAddresses != CodeAddresses::AsLoaded; }

bool lowMemoryFails() { return codeAddresses == CodeAddresses::Unavailable; }

}  // namespace platform::seams

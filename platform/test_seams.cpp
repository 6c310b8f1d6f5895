#include "platform/test_seams.h"

#include <cstring>

namespace platform::seams {

namespace {

ExistsObserver existsObserver = nullptr;
int writesBeforeFailure = -1;  // -1: no failure planned
std::size_t failingWriteBytes = 0;

std::size_t operationsSeen = 0;
std::size_t firstFailing = 0;  // 0: no failure armed
std::size_t failingCount = 0;

int randomFailures = 0;
int randomRequestsBeforeFailure = 0;
std::size_t randomRequests = 0;
std::string replayed;

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

void failRandomSource(int count, int after) {
    randomFailures = count < 0 ? 0 : count;
    randomRequestsBeforeFailure = after < 0 ? 0 : after;
    randomRequests = 0;
}

std::size_t randomRequestsSeen() { return randomRequests; }

void replayRandomBytes(std::string_view bytes) { replayed.assign(bytes); }

void setCodeAddresses(CodeAddresses mode) { codeAddresses = mode; }

void clear() {
    existsObserver = nullptr;
    codeAddresses = CodeAddresses::AsLoaded;
    randomFailures = 0;
    randomRequestsBeforeFailure = 0;
    randomRequests = 0;
    replayed.clear();
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
    ++randomRequests;
    if (randomFailures == 0) return false;
    if (randomRequestsBeforeFailure > 0) {
        --randomRequestsBeforeFailure;
        return false;
    }
    --randomFailures;
    return true;
}

bool jumpEvenWhereTheAddressFits() { return codeAddresses != CodeAddresses::AsLoaded; }

bool lowMemoryFails() { return codeAddresses == CodeAddresses::Unavailable; }

bool randomBytesReplayed(void* out, std::size_t size) {
    if (replayed.size() < size) return false;
    std::memcpy(out, replayed.data(), size);
    replayed.erase(0, size);
    return true;
}

}  // namespace platform::seams

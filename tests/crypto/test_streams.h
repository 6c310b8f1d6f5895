#pragma once
// Byte streams for the stream-routine tests.
#include <algorithm>
#include <limits>
#include <string>

#include "crypto/memory_stream.h"

namespace testsupport {

// A memory stream that gives out or takes at most a given number of bytes in
// all, then comes up short: the last Read or Write that reaches the limit
// moves only the part that fits.
class LimitedStream final : public ElAES::ByteStream {
public:
    static constexpr std::size_t kUnlimited = std::numeric_limits<std::size_t>::max();

    LimitedStream(std::string bytes, std::size_t readLimit, std::size_t writeLimit)
        : inner_(std::move(bytes)), readLeft_(readLimit), writeLeft_(writeLimit) {}

    std::uint64_t Size() const override { return inner_.Size(); }
    std::uint64_t Position() const override { return inner_.Position(); }
    void SetPosition(std::uint64_t position) override { inner_.SetPosition(position); }
    std::size_t Read(void* buffer, std::size_t n) override {
        ++reads_;
        const std::size_t got = inner_.Read(buffer, std::min(n, readLeft_));
        readLeft_ -= got;
        return got;
    }
    std::size_t Write(const void* buffer, std::size_t n) override {
        ++writes_;
        const std::size_t put = inner_.Write(buffer, std::min(n, writeLeft_));
        writeLeft_ -= put;
        return put;
    }

    const std::string& bytes() const { return inner_.bytes(); }
    int reads() const { return reads_; }
    int writes() const { return writes_; }

private:
    ElAES::MemoryStream inner_;
    std::size_t readLeft_;
    std::size_t writeLeft_;
    int reads_ = 0;
    int writes_ = 0;
};

// A memory stream that notes every call made on it, in order: "P<n>" for
// SetPosition(n), "R<n>" and "W<n>" for a Read or Write of n bytes asked.
class RecordingStream final : public ElAES::ByteStream {
public:
    explicit RecordingStream(std::string bytes = {}) : inner_(std::move(bytes)) {}

    std::uint64_t Size() const override { return inner_.Size(); }
    std::uint64_t Position() const override { return inner_.Position(); }
    void SetPosition(std::uint64_t position) override {
        note("P", position);
        inner_.SetPosition(position);
    }
    std::size_t Read(void* buffer, std::size_t n) override {
        note("R", n);
        return inner_.Read(buffer, n);
    }
    std::size_t Write(const void* buffer, std::size_t n) override {
        note("W", n);
        return inner_.Write(buffer, n);
    }

    const std::string& bytes() const { return inner_.bytes(); }
    const std::string& calls() const { return calls_; }

private:
    void note(const char* what, std::uint64_t n) {
        calls_ += (calls_.empty() ? "" : " ") + std::string(what) + std::to_string(n);
    }

    ElAES::MemoryStream inner_;
    std::string calls_;
};

}  // namespace testsupport

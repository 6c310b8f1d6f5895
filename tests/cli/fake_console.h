#pragma once
// A console for running mistlock's commands in-process: standard input from a
// string, outputs collected, a terminal that answers the password prompt (or
// is absent), and files read and written on the real file system as the
// program does.
#include <algorithm>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "platform/exception.h"
#include "tools/cli/console.h"

namespace testing_cli {

class StringSource : public cli::ByteSource {
public:
    explicit StringSource(std::string bytes) : bytes_(std::move(bytes)) {}
    std::size_t read(char* buffer, std::size_t size) override {
        const std::size_t n = std::min(size, bytes_.size() - at_);
        bytes_.copy(buffer, n, at_);
        at_ += n;
        return n;
    }

private:
    std::string bytes_;
    std::size_t at_ = 0;
};

class FakeConsole : public cli::Console {
public:
    explicit FakeConsole(std::string input = "", std::optional<std::string> typed = std::nullopt)
        : input_(std::move(input)), typed_(std::move(typed)) {}

    cli::ByteSource& input() override { return input_; }
    std::unique_ptr<cli::ByteSource> openFile(const std::string& path, const std::string& what) override {
        return cli::openReadableFile(path, what);
    }
    // To a file as the program writes one: the real OutputFile.
    void writeOutput(std::string_view bytes) override {
        if (output_) {
            output_->write(bytes);
        } else {
            out.append(bytes);
        }
    }
    bool inputIsTerminal() override { return inputTerminal; }
    bool outputIsTerminal() override { return outputTerminal && !output_; }
    void sendOutputTo(const std::string& path, bool mustBeNew) override {
        output_ = std::make_unique<cli::OutputFile>(path, mustBeNew);
    }
    void commitOutput() override {
        if (output_) output_->commit();
    }
    std::optional<cli::FileId> inputId() override { return std::nullopt; }
    unsigned systemCodePage() override { return codePage; }
    void writeError(std::string_view text) override { err.append(text); }
    std::optional<std::string> askPassword(const std::string& prompt) override {
        prompts.push_back(prompt);
        if (!answers.empty()) {
            std::string next = answers.front();
            answers.erase(answers.begin());
            return next;
        }
        return typed_;
    }

    std::string out, err;
    std::vector<std::string> prompts;
    bool inputTerminal = false, outputTerminal = false;
    std::vector<std::string> answers;  // typed at successive prompts, before `typed`
    unsigned codePage = 1251;          // the system's

private:
    std::unique_ptr<cli::OutputFile> output_;
    StringSource input_;
    std::optional<std::string> typed_;
};

}  // namespace testing_cli

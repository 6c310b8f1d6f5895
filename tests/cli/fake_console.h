#pragma once
// A console for running mistlock's commands in-process: standard input from a
// string, outputs collected, a terminal that answers the password prompt (or
// is absent), and files read from the real file system.
#include <fstream>
#include <iterator>
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
    std::unique_ptr<cli::ByteSource> openFile(const std::string& path) override {
        std::ifstream file(path, std::ios::binary);
        if (!file) throw EFileError("Cannot open the file \"" + path + "\"");
        return std::make_unique<StringSource>(
            std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()));
    }
    void writeOutput(std::string_view bytes) override {
        if (outputFile.empty()) {
            out.append(bytes);
        } else {
            std::ofstream(outputFile, std::ios::binary | std::ios::app).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        }
    }
    bool inputIsTerminal() override { return inputTerminal; }
    bool outputIsTerminal() override { return outputTerminal && outputFile.empty(); }
    void sendOutputTo(const std::string& path, bool mustBeNew) override {
        if (mustBeNew && std::ifstream(path)) throw EFileError("The file \"" + path + "\" exists already: it is not overwritten.");
        std::ofstream(path, std::ios::binary | std::ios::trunc);
        outputFile = path;
    }
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
    std::string outputFile;

private:
    StringSource input_;
    std::optional<std::string> typed_;
};

}  // namespace testing_cli

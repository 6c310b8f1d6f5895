#pragma once
// Records every message box that the code under test shows, and closes it as
// a user pressing OK would: through the headless layer's observer natively,
// through a CBT hook on the test's thread under Windows.
#include <functional>
#include <string>
#include <vector>

namespace testing_boxes {

struct Box {
    std::u16string caption;
    std::u16string text;
    bool error = false;  // the toolkit's error box
};

class BoxRecorder {
public:
    BoxRecorder();
    ~BoxRecorder();
    BoxRecorder(const BoxRecorder&) = delete;
    BoxRecorder& operator=(const BoxRecorder&) = delete;

    const std::vector<Box>& boxes() const { return boxes_; }
    void clear() { boxes_.clear(); }
    // Records the box, then runs what is to happen while the next box is open.
    void record(Box box);

    // The host calling in again from inside the next box the code under test
    // shows, as its own UI may while the box's message loop runs. Once.
    void whileNextBoxIsOpen(std::function<void()> action) { whileOpen_ = std::move(action); }

private:
    std::vector<Box> boxes_;
    std::function<void()> whileOpen_;
};

}  // namespace testing_boxes

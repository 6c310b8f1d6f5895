#pragma once
// Records every message box that the code under test shows, and closes it as
// a user pressing OK would: through the headless layer's observer natively,
// through a CBT hook on the test's thread under Windows.
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
    void record(Box box) { boxes_.push_back(std::move(box)); }

private:
    std::vector<Box> boxes_;
};

}  // namespace testing_boxes

#include "tests/support/box_recorder.h"

#include "tests/support/test_messenger.h"

#if defined(_WIN32)
#include "tools/messenger/box_watch_win32.h"
#else
#include "platform/portable/headless.h"
#endif

namespace testing_boxes {

namespace {
BoxRecorder* active = nullptr;
}

void BoxRecorder::record(Box box) {
    boxes_.push_back(std::move(box));
    if (auto action = std::move(whileOpen_)) {
        whileOpen_ = nullptr;
        action();
    }
}

#if defined(_WIN32)

BoxRecorder::BoxRecorder() {
    active = this;
    boxwatch::start([](const boxwatch::SeenBox& box) {
        const test_messenger::InMessengerCode inMessenger;
        if (active) {
            active->record({std::u16string(box.caption.begin(), box.caption.end()),
                            std::u16string(box.text.begin(), box.text.end()), box.error});
        }
    });
}

BoxRecorder::~BoxRecorder() {
    boxwatch::stop();
    active = nullptr;
}

#else

BoxRecorder::BoxRecorder() {
    active = this;
    platform::headless::setMessageBoxObserver([](const std::u16string& text, const std::u16string& caption, bool error) {
        const test_messenger::InMessengerCode inMessenger;
        if (active) active->record({caption, text, error});
    });
}

BoxRecorder::~BoxRecorder() {
    platform::headless::setMessageBoxObserver(nullptr);
    active = nullptr;
}

#endif

}  // namespace testing_boxes

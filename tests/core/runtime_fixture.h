// Test helpers: a recording message-box handler and a program thread stand-in that turns parking
// into an exception, so runtime code can run on the test thread.
#pragma once

#include <string>
#include <vector>

#include "core/errors.h"
#include "core/shutdown.h"
#include "core/statements.h"
#include "platform/message_box.h"

struct parked {};

class recorded_boxes {
public:
    // answers are given in order; when they run out every box gets its safe answer
    explicit recorded_boxes(std::vector<int> answers = {}) : answers_(std::move(answers)) {
        platform::platform_message_box_handler_set([this](const platform::message_box_call& call) {
            calls.push_back(call);
            return next_ < answers_.size() ? answers_[next_++] : platform::message_box_safe_answer(call.style);
        });
        program_park_hook_set([] { throw parked{}; });
        reset_words();
    }
    ~recorded_boxes() {
        platform::platform_message_box_handler_set(nullptr);
        program_park_hook_set(nullptr);
        reset_words();
    }
    static void reset_words() {
        error_number = 0;
        event_pending = 0;
        error_line = 0;
        error_handler_set = error_handler_active = error_handler_jump = error_resume_retry = 0;
        stop_request = 0;
        shutdown_flag = 0;
        pause_flag = 0;
        statement_retry = 0;
    }
    std::vector<platform::message_box_call> calls;

private:
    std::vector<int> answers_;
    size_t next_ = 0;
};

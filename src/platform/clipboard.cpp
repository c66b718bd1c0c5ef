#include "platform/clipboard.h"

#include <mutex>

namespace platform {

namespace {

struct clipboard_store {
    std::mutex lock;
    std::string text;
};
clipboard_store& store() {
    static clipboard_store s;
    return s;
}

}  // namespace

bool clipboard_text_set(std::string_view text) {
    std::lock_guard guard(store().lock);
    store().text.assign(text);
    return true;
}

std::string clipboard_text_get() {
    std::lock_guard guard(store().lock);
    return store().text;
}

}  // namespace platform

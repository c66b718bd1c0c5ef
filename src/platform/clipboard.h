// The clipboard as plain 8-bit text. With an X display, a thread of its own on its own connection
// owns the CLIPBOARD selection and serves it (bytes 128-255 travel as Latin-1), and a get asks the
// selection's owner, giving up after 500 ms. Without a display, an in-process store.
// Not here: the BASIC functions (files/environment.h).
#pragma once

#include <string>
#include <string_view>

namespace platform {

// False when the clipboard cannot be taken.
bool clipboard_text_set(std::string_view text);
// The text, or empty when there is none or no owner answers.
std::string clipboard_text_get();

}  // namespace platform

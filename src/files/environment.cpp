#include "files/environment.h"

#include <algorithm>

#include "core/error_codes.h"
#include "core/errors.h"
#include "core/strings.h"
#include "platform/clipboard.h"

extern char** environ;

int32_t environment_count = 0;

namespace {

std::vector<std::string>& table() {
    static std::vector<std::string> entries = [] {
        std::vector<std::string> copy;
        for (char** e = environ; e && *e; ++e) copy.emplace_back(*e);
        return copy;
    }();
    return entries;
}

std::vector<std::string>::iterator entry_of(std::string_view name) {
    return std::find_if(table().begin(), table().end(), [&](const std::string& e) {
        return e.size() > name.size() && e[name.size()] == '=' && std::string_view(e).substr(0, name.size()) == name;
    });
}

void count_update() { environment_count = static_cast<int32_t>(table().size()) + 1; }

}  // namespace

string_descriptor* command_line_get() {
    return command_line_string ? string_temp_from_text(string_text_view(command_line_string)) : string_new(0, 1);
}

string_descriptor* env_get(string_descriptor* name) {
    std::string_view n = string_text_view(name);
    n = n.substr(0, n.find('\0'));  // the name ends at its NUL, as translated code hands it
    if (n.empty() || n.find('=') != n.npos) return string_new(0, 1);
    auto it = entry_of(n);
    return it == table().end() ? string_new(0, 1) : string_temp_from_text(std::string_view(*it).substr(n.size() + 1));
}

string_descriptor* env_get_nth(int32_t n) {
    if (n < 1) {
        error_raise(error_illegal_function_call);
        return string_new(0, 1);
    }
    if (static_cast<size_t>(n) > table().size()) return string_new(0, 1);
    return string_temp_from_text(table()[static_cast<size_t>(n) - 1]);
}

int32_t env_set(string_descriptor* entry) {
    std::string_view text = string_text_view(entry);
    size_t equals = text.find('=');
    // No name, no '=' or a NUL: nothing the environment can hold.
    if (equals == 0 || equals == text.npos || text.find('\0') != text.npos) {
        error_raise(error_illegal_function_call);
        count_update();
        return environment_count;
    }
    std::string_view name = text.substr(0, equals);
    auto it = entry_of(name);
    if (equals + 1 == text.size()) {
        if (it != table().end()) table().erase(it);
    } else if (it != table().end()) {
        it->assign(text);
    } else {
        table().emplace_back(text);
    }
    count_update();
    return environment_count;
}

int32_t clipboard_set(string_descriptor* text) { return platform::clipboard_text_set(string_text_view(text)) ? 1 : 0; }

string_descriptor* clipboard_get() {
    std::string text = platform::clipboard_text_get();
    return string_temp_from_text(std::string_view(text).substr(0, text.find('\0')));
}

const std::vector<std::string>& environment_entries_table() { return table(); }

std::vector<char*> environment_envp() {
    std::vector<char*> envp;
    for (std::string& e : table()) envp.push_back(e.data());
    envp.push_back(nullptr);
    return envp;
}

void environment_reset() {
    table().clear();
    for (char** e = environ; e && *e; ++e) table().emplace_back(*e);
    count_update();
}

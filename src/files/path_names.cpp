#include "files/path_names.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>

#include "files/file_handles.h"

namespace {

bool exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

// The one entry of dir equal to name but for case; empty when none or more than one.
std::string unique_case_match(const std::string& dir, const std::string& name) {
    DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
    if (!d) return {};
    std::string found;
    int matches = 0;
    while (dirent* e = ::readdir(d)) {
        if (::strcasecmp(e->d_name, name.c_str()) == 0) {
            found = e->d_name;
            ++matches;
        }
    }
    ::closedir(d);
    return matches == 1 ? found : std::string{};
}

}  // namespace

int32_t file_name_map(std::string_view name, std::string& path) {
    if (name.find('\0') != std::string_view::npos) return file_bad_name;
    bool drive = name.size() >= 2 && name[1] == ':' && ((name[0] | 0x20) >= 'a' && (name[0] | 0x20) <= 'z');
    if (drive) {
        if ((name[0] | 0x20) != 'c') return file_device_unavailable;
        // C:\x is /x; C:x is x in the current directory, which lies on C:.
        name.remove_prefix(2);
        if (name.empty()) name = ".";
    }
    path.assign(name);
    std::replace(path.begin(), path.end(), '\\', '/');
    return file_ok;
}

void file_name_match_case(std::string& path) {
    if (path.empty() || exists(path)) return;
    std::string done = path[0] == '/' ? "/" : "";
    size_t i = done.size();
    while (i < path.size()) {
        size_t slash = path.find('/', i);
        size_t end = slash == std::string::npos ? path.size() : slash;
        std::string component = path.substr(i, end - i);
        std::string candidate = done + component;
        if (!component.empty() && component != "." && component != ".." && !exists(candidate)) {
            std::string match = unique_case_match(done, component);
            if (match.empty()) return;  // nothing to match: the rest stays as written
            path.replace(i, end - i, match);
            end = i + match.size();
            candidate = done + match;
        }
        done = candidate;
        if (end < path.size()) done += '/';
        i = end + 1;
    }
}

int32_t file_name_fix(std::string_view name, std::string& path) {
    int32_t code = file_name_map(name, path);
    if (code == file_ok) file_name_match_case(path);
    return code;
}

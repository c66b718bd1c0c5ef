#include "files/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "core/error_codes.h"
#include "core/errors.h"
#include "core/strings.h"
#include "files/file_handles.h"
#include "files/file_locks_internal.h"
#include "files/path_names.h"
#include "screen/print_positioning.h"
#include "screen/text_output.h"

namespace {

constexpr size_t cell_name_width = 12;
constexpr size_t directory_name_max = 4096;

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

std::string upper_of(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), upper);
    return out;
}

// Greedy matching that returns to the last '*' on a mismatch: time in proportion to the product
// of the lengths at worst, whatever the pattern.
bool match_from(std::string_view p, std::string_view n) {
    size_t pi = 0, ni = 0, star = std::string_view::npos, resume = 0;
    while (ni < n.size()) {
        if (pi < p.size() && (p[pi] == '?' || (p[pi] != '*' && upper(p[pi]) == upper(n[ni])))) {
            ++pi;
            ++ni;
        } else if (pi < p.size() && p[pi] == '*') {
            star = pi++;
            resume = ni;
        } else if (star != std::string_view::npos) {
            pi = star + 1;
            ni = ++resume;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == '*') ++pi;
    return pi == p.size();
}

// Maps a path argument: false with the error raised (64 for a NUL, 68 for another drive).
bool mapped(const string_descriptor* text, std::string& path) {
    int32_t code = file_name_fix(string_text_view(text), path);
    if (code == file_ok) return true;
    error_raise(code == file_bad_name ? error_bad_file_name : error_device_unavailable);
    return false;
}

struct pattern_parts {
    std::string directory;  // with its trailing '/', or empty for the current directory
    std::string pattern;
};

// The directory part (case-matched) and the wildcard part of a pattern; false with the error
// raised when the text cannot name a path.
bool pattern_split(std::string_view text, pattern_parts& parts) {
    std::string path;
    int32_t code = file_name_map(text, path);
    if (code != file_ok) {
        error_raise(code == file_bad_name ? error_bad_file_name : error_device_unavailable);
        return false;
    }
    size_t slash = path.find_last_of('/');
    parts = {slash == std::string::npos ? "" : path.substr(0, slash + 1),
             slash == std::string::npos ? path : path.substr(slash + 1)};
    if (parts.directory.size() > 1) {
        std::string directory = parts.directory.substr(0, parts.directory.size() - 1);
        file_name_match_case(directory);
        parts.directory = directory + "/";
    }
    return true;
}

// The names of dir that match, "." and ".." first, then in case-insensitive order.
std::vector<std::string> matching_names(const pattern_parts& parts) {
    std::vector<std::string> names;
    DIR* d = ::opendir(parts.directory.empty() ? "." : parts.directory.c_str());
    if (!d) return names;
    while (dirent* e = ::readdir(d))
        if (wildcard_match(parts.pattern, e->d_name)) names.emplace_back(e->d_name);
    ::closedir(d);
    auto rank = [](const std::string& n) { return n == "." ? 0 : n == ".." ? 1 : 2; };
    std::sort(names.begin(), names.end(), [&](const std::string& a, const std::string& b) {
        if (rank(a) != rank(b)) return rank(a) < rank(b);
        int c = ::strcasecmp(a.c_str(), b.c_str());
        return c != 0 ? c < 0 : a < b;
    });
    return names;
}

// One file of KILL: 0 when deleted, else the error that ends the statement.
int32_t kill_one(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) {
        // Held open by a runtime handle, here or in another process, or read-only: refused.
        if (file_locks_open_elsewhere(path, st)) return error_file_already_open;
        if (S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0) return error_file_already_open;
    }
    if (::unlink(path.c_str()) == 0) return error_none;
    return (errno == EACCES || errno == EPERM || errno == EROFS || errno == EBUSY) ? error_file_already_open
                                                                                    : error_file_not_found;
}

bool is_directory(const std::string& path, bool follow) {
    struct stat st;
    return (follow ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) == 0 && S_ISDIR(st.st_mode);
}

// A file the new name of a rename would replace: the name itself, or an entry that differs only
// in case and is not the file being renamed.
bool rename_target_taken(const std::string& from, const std::string& to) {
    struct stat source, st;
    if (::lstat(from.c_str(), &source) != 0) return false;
    std::string matched = to;
    file_name_match_case(matched);
    if (::lstat(matched.c_str(), &st) != 0) return false;
    return st.st_ino != source.st_ino || st.st_dev != source.st_dev;
}

int32_t rename_error_of_errno(int err) {
    switch (err) {
    case ENOENT: return error_file_not_found;
    case EINVAL:
    case ENAMETOOLONG: return error_bad_file_name;
    case EACCES:
    case EPERM:
    case EROFS:
    case EBUSY: return error_path_file_access;
    case EXDEV: return error_rename_across_disks;
    default: return error_illegal_function_call;
    }
}

void print_line(std::string_view text, int32_t newline) {
    string_descriptor* s = string_temp_from_text(text);
    if (!newline) print_prewrap(s);
    print_string(s, newline);
    string_free(s);
}

}  // namespace

bool wildcard_match(std::string_view pattern, std::string_view name) {
    if (match_from(pattern, name)) return true;
    // A name without a dot also answers to patterns that ask for an empty extension.
    return name.find('.') == name.npos && match_from(pattern, std::string(name) + ".");
}

std::string listing_cell(std::string_view name, bool directory) {
    std::string n = upper_of(name);
    size_t dot = n.find('.');
    bool dots = n == "." || n == "..";
    bool short_name = dots || (n.find('.', dot == n.npos ? n.npos : dot + 1) == n.npos && dot != 0 &&
                               (dot == n.npos ? n.size() <= 8 : dot <= 8 && n.size() - dot - 1 <= 3));
    std::string cell = n;
    if (short_name) {
        cell.resize(cell_name_width, ' ');
        if (dot != n.npos) {
            std::string extension = cell.substr(dot, 4);
            std::fill(cell.begin() + static_cast<ptrdiff_t>(dot), cell.begin() + 8, ' ');
            cell.replace(8, 4, extension);
        }
    } else if (cell.size() < cell_name_width) {
        cell.resize(cell_name_width, ' ');  // not an 8.3 name: printed as it is
    }
    return cell + (directory ? "<DIR> " : "      ");
}

void file_kill(string_descriptor* pattern_text) {
    if (error_pending()) return;
    pattern_parts parts;
    if (!pattern_split(string_text_view(pattern_text), parts)) return;
    bool deleted = false;
    for (const std::string& name : matching_names(parts)) {
        std::string path = parts.directory + name;
        if (is_directory(path, false)) continue;
        if (int32_t error = kill_one(path); error != error_none) return error_raise(error);
        deleted = true;
    }
    if (!deleted) error_raise(error_file_not_found);
}

void file_rename(string_descriptor* old_text, string_descriptor* new_text) {
    if (error_pending()) return;
    std::string from, to;
    if (!mapped(old_text, from)) return;
    if (file_name_map(string_text_view(new_text), to) != file_ok) return error_raise(error_bad_file_name);
    struct stat st;
    if (::lstat(from.c_str(), &st) != 0) return error_raise(rename_error_of_errno(errno));
    if (file_locks_open_elsewhere(from, st)) return error_raise(error_path_file_access);
    if (rename_target_taken(from, to)) return error_raise(error_illegal_function_call);
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return;
    int err = errno;
    // A file system without the no-replace rename: the target was checked just above.
    if (err == EINVAL || err == ENOSYS) {
        if (::rename(from.c_str(), to.c_str()) == 0) return;
        err = errno;
    }
    error_raise(err == EEXIST || err == ENOTEMPTY ? error_illegal_function_call : rename_error_of_errno(err));
}

void dir_change(string_descriptor* text) {
    if (error_pending()) return;
    std::string path;
    if (mapped(text, path) && ::chdir(path.c_str()) != 0) error_raise(error_path_not_found);
}

void dir_make(string_descriptor* text) {
    if (error_pending()) return;
    std::string path;
    if (mapped(text, path) && ::mkdir(path.c_str(), 0777) != 0)
        error_raise(errno == EEXIST ? error_path_file_access : error_path_not_found);
}

void dir_remove(string_descriptor* text) {
    if (error_pending()) return;
    std::string path;
    if (mapped(text, path) && ::rmdir(path.c_str()) != 0)
        error_raise((errno == ENOTEMPTY || errno == EEXIST) ? error_path_file_access : error_path_not_found);
}

int32_t file_exists(string_descriptor* text) {
    std::string path;
    if (error_pending() || file_name_fix(string_text_view(text), path) != file_ok) return 0;
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode) ? -1 : 0;
}

int32_t dir_exists(string_descriptor* text) {
    std::string path;
    if (error_pending() || file_name_fix(string_text_view(text), path) != file_ok) return 0;
    return is_directory(path, true) ? -1 : 0;
}

void file_list(string_descriptor* pattern_text, int32_t pattern_given) {
    if (error_pending()) return;
    std::string text = pattern_given ? std::string(string_text_view(pattern_text)) : std::string();
    if (text.empty() || text.back() == '\\' || text.back() == '/') text += '*';
    pattern_parts parts;
    if (!pattern_split(text, parts)) return;

    std::string cwd(directory_name_max + 1, '\0');
    if (!::getcwd(cwd.data(), cwd.size())) return error_raise(error_illegal_function_call);
    cwd.resize(std::strlen(cwd.c_str()));
    print_line(upper_of(cwd), 1);

    std::vector<std::string> names = matching_names(parts);
    if (names.empty()) return error_raise(error_file_not_found);
    for (const std::string& name : names) print_line(listing_cell(name, is_directory(parts.directory + name, true)), 0);

    struct statvfs fs;
    uint64_t free_bytes = ::statvfs(parts.directory.empty() ? "." : parts.directory.c_str(), &fs) == 0
                              ? static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize
                              : 0;
    if (cursor_column_get() > 1) print_line("", 1);
    std::string free_line = " ";
    free_line += std::to_string(free_bytes);
    free_line += " Bytes free";
    print_line(free_line, 1);
}

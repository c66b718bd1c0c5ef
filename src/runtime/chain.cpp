#include "runtime/chain.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

#include "core/error_codes.h"
#include "core/errors.h"
#include "core/shutdown.h"
#include "core/strings.h"
#include "core/timing.h"
#include "files/environment.h"
#include "files/file_open.h"
#include "files/file_system.h"
#include "files/path_names.h"
#include "files/random_access.h"
#include "platform/process.h"
#include "runtime/lifecycle.h"
#include "runtime/screen_state.h"
#include "runtime/startup.h"

namespace {

std::string text_of(const string_descriptor* s) {
    return std::string(reinterpret_cast<const char*>(s->text), size_t(std::max(s->length, 0)));
}

char upper(char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; }

// The first '.' whose text up to the next blank holds no separator: the dot of a file name.
size_t extension_dot(std::string_view t) {
    for (size_t i = 0; i < t.size(); ++i) {
        if (t[i] != '.') continue;
        size_t end = t.find(' ', i);
        std::string_view rest = t.substr(i, end == std::string_view::npos ? std::string_view::npos : end - i);
        if (rest.find_first_of("/\\") == std::string_view::npos) return i;
    }
    return std::string_view::npos;
}

bool extension_is(std::string_view t, size_t dot, const char* ext) {
    if (dot + 3 >= t.size()) return false;
    for (int i = 0; i < 3; ++i)
        if (upper(t[dot + 1 + size_t(i)]) != ext[i]) return false;
    return true;
}

std::string slashes(std::string s) {
    for (char& c : s)
        if (c == '\\') c = '/';
    return s;
}

// ---- files and processes ----

bool file_exists_at(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool copy_file(const std::string& from, const std::string& to) {
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(to, std::ios::binary | std::ios::trunc);
    out << in.rdbuf();
    out.close();
    return in.good() && !out.fail();
}

// Moves a file, across file systems by copy and delete.
bool file_move(const std::string& from, const std::string& to) {
    if (from == to) return true;
    if (::rename(from.c_str(), to.c_str()) == 0) return true;
    if (errno != EXDEV || !copy_file(from, to)) return false;
    ::unlink(from.c_str());
    return true;
}

std::string directory_joined(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    return dir.back() == '/' ? dir + name : dir + "/" + name;
}

// Starts argv[0] in the directory with the runtime's environment; the child's id, or -1.
pid_t spawn_in(const std::string& directory, const std::vector<std::string>& argv) {
    std::vector<char*> envp = environment_envp();
    return process_spawn(argv, envp.data(), {.directory = directory});
}

// The exe text's program in the directory: without ".exe" when that file exists, else as given.
std::string program_path(const std::string& directory, const std::string& name) {
    std::string path = directory_joined(directory, name);
    size_t n = path.size();
    if (n > 4 && upper(path[n - 4 + 1]) == 'E' && path[n - 4] == '.' && upper(path[n - 2]) == 'X' &&
        upper(path[n - 1]) == 'E' && file_exists_at(path.substr(0, n - 4)))
        return path.substr(0, n - 4);
    return path;
}

struct chain_run {
    chain_names names;
    std::string target_dir;  // Linux directory of the target
    std::string own_dir;     // the running program's executable directory
    std::string file_name;   // chainNNN.tmp
    std::string file_path;   // where the chain file is now
};

[[noreturn]] void chaining_stop() {
    stop_request.store(1);
    program_thread_park();
}

// Starts the program of the exe text in the directory with the tag; stops this program when it runs.
void attempt_start(const chain_run& run, const std::string& directory) {
    std::vector<std::string> words = command_line_words(run.names.exe);
    if (words.empty()) return;
    words[0] = program_path(directory, words[0]);
    words.push_back(std::string(chain_tag) + run.file_name);
    if (spawn_in(directory, words) > 0) chaining_stop();
}

bool move_chain_file(chain_run& run, const std::string& directory) {
    std::string to = directory_joined(directory, run.file_name);
    if (!file_move(run.file_path, to)) return false;
    run.file_path = to;
    return true;
}

// The translator of the third attempt: own/lumo -c dir/bas, waited for.
bool translate(const chain_run& run) {
    std::string translator = directory_joined(run.own_dir, "lumo");
    if (!file_exists_at(translator)) return false;
    pid_t child = spawn_in(run.own_dir, {translator, "-c", directory_joined(run.target_dir, run.names.bas)});
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string current_directory() {
    std::vector<char> buffer(4096);
    return ::getcwd(buffer.data(), buffer.size()) ? std::string(buffer.data()) : std::string(".");
}

// Creates the chain file's name exclusively in the current directory: the next number on a clash.
bool chain_file_reserve(chain_run& run) {
    int32_t k = chain_number_of(timer_seconds(0.001, 1));
    for (int32_t tries = 0; tries <= chain_number_last - chain_number_first; ++tries) {
        std::string name = chain_file_name(k);
        int fd = ::open(name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            run.file_name = name;
            run.file_path = directory_joined(current_directory(), name);
            return true;
        }
        if (errno != EEXIST) return false;
        k = k == chain_number_last ? chain_number_first : k + 1;
    }
    return false;
}

void put_word(int32_t f, int32_t value) { file_put_block(f, -1, &value, 4); }

void chain_file_write(const chain_run& run) {
    std::string dir = run.target_dir;
    if (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    int32_t f = file_free_number();
    uint32_t mark = string_temp_top();
    file_open(string_from_cstring(run.file_name.c_str()), open_mode_binary, open_access_none, open_lock_none, f, 0, 0);
    string_temps_release(mark, 0);
    put_word(f, chain_file_marker);
    put_word(f, int32_t(dir.size()));
    file_put_block(f, -1, dir.data(), int64_t(dir.size()));
    screen_state_write(f);
    put_word(f, 0);
    file_close(f, 1);
}

// ---- receiving ----

int32_t get_word(int32_t f) {
    int32_t value = 0;
    file_get_block(f, -1, &value, 4);
    return value;
}

void tag_strip(size_t tag_length) {
    std::string line = text_of(command_line_string);
    line.resize(line.size() - tag_length);
    if (!line.empty()) line.pop_back();  // the blank before the tag
    uint32_t mark = string_temp_top();
    string_assign_always(command_line_string, string_temp_from_bytes(line.data(), line.size()));
    string_temps_release(mark, 0);
}

}  // namespace

chain_names chain_names_of(std::string_view t) {
    chain_names n;
    size_t dot = extension_dot(t);
    if (dot != std::string_view::npos && extension_is(t, dot, "BAS")) {
        n.bas = std::string(t.substr(0, dot + 4));
        n.exe = std::string(t.substr(0, dot + 1)) + "exe" + std::string(t.substr(dot + 4));
    } else if (dot != std::string_view::npos && extension_is(t, dot, "EXE")) {
        n.exe = std::string(t);
        n.bas = std::string(t.substr(0, dot + 1)) + "bas";
    } else {
        size_t space = t.size() > 1 ? t.find(' ', 1) : std::string_view::npos;
        std::string_view name = t.substr(0, space), rest = space == std::string_view::npos ? "" : t.substr(space);
        n.exe = std::string(name) + ".exe " + std::string(rest);
        n.bas = std::string(name) + ".bas";
    }
    n.exe = slashes(n.exe);
    n.bas = slashes(n.bas);
    size_t cut = n.bas.find_last_of("/:");
    if (cut != std::string::npos) {
        n.dir = n.bas.substr(0, cut + 1);
        if (n.bas[cut] == ':') n.dir += '/';
        n.exe.erase(0, std::min(cut + 1, n.exe.size()));
        n.bas.erase(0, cut + 1);
    }
    return n;
}

int32_t chain_number_of(double seconds) {
    auto k = static_cast<int32_t>(std::nearbyint((seconds - std::floor(seconds)) * 999));
    return std::clamp(k, chain_number_first, chain_number_last);
}

std::string chain_file_name(int32_t number) {
    char name[16];
    std::snprintf(name, sizeof name, "chain%03d.tmp", number);
    return name;
}

std::string chain_tag_file_of(std::string_view line) {
    const size_t total = chain_tag.size() + chain_file_name_length;
    if (line.size() < total) return {};
    std::string_view tail = line.substr(line.size() - total);
    if (tail.substr(0, chain_tag.size()) != chain_tag || tail.substr(chain_tag.size(), 5) != "chain" ||
        tail.substr(total - 4) != ".tmp")
        return {};
    return std::string(tail.substr(chain_tag.size()));
}

void chain_start(string_descriptor* target) {
    if (error_pending()) return;
    std::string t = text_of(target);
    if (t.empty()) return error_raise(error_file_not_found);
    chain_run run;
    run.names = chain_names_of(t);
    run.own_dir = executable_directory_of(executable_path());
    bool dir_given = !run.names.dir.empty();
    if (dir_given) {
        std::string mapped;
        file_name_fix(run.names.dir, mapped);
        run.target_dir = mapped.empty() ? run.names.dir : mapped;
        // The child starts in its directory: its program path must not depend on ours.
        if (run.target_dir[0] != '/') run.target_dir = directory_joined(current_directory(), run.target_dir);
    } else {
        run.target_dir = current_directory();
    }
    if (!chain_file_reserve(run)) return error_raise(error_file_not_found);
    chain_file_write(run);
    // The target finds the file in its own directory; a file that could not go there skips the try.
    if (!dir_given || move_chain_file(run, run.target_dir)) attempt_start(run, run.target_dir);
    if (move_chain_file(run, run.own_dir)) {
        attempt_start(run, run.own_dir);
        if (translate(run)) attempt_start(run, run.own_dir);
    }
    ::unlink(run.file_path.c_str());
    error_raise(error_file_not_found);
}

void chain_receive() {
    std::string name = chain_tag_file_of(text_of(command_line_string));
    if (name.empty()) return;
    tag_strip(chain_tag.size() + chain_file_name_length);
    int32_t f = file_free_number();
    uint32_t mark = string_temp_top();
    file_open(string_from_cstring(name.c_str()), open_mode_binary, open_access_read, open_lock_none, f, 0, 0);
    string_temps_release(mark, 0);
    get_word(f);
    int32_t n = get_word(f);
    std::string dir;
    if (!error_pending() && (n < 0 || n > chain_directory_max)) error_raise(error_illegal_function_call);
    if (!error_pending()) {
        dir.resize(size_t(n));
        file_get_block(f, -1, dir.data(), n);
        screen_state_read(f);
        get_word(f);
    }
    // The file goes whatever happened; a failed read changes no directory.
    bool read_ok = !error_pending();
    int32_t pending = error_number;
    error_number = 0;
    file_close(f, 1);
    error_number = pending;
    ::unlink(name.c_str());
    if (!read_ok) return;
    mark = string_temp_top();
    dir_change(string_temp_from_bytes(dir.data(), dir.size()));
    string_temps_release(mark, 0);
}

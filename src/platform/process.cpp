#include "platform/process.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

namespace {

// The hooks in the order they came, as a list that only grows. process_exit walks it without a
// lock and allocates nothing, so it also runs on the fatal out-of-memory path.
struct hook_node {
    process_flush_hook hook;
    std::atomic<hook_node*> next{nullptr};
};

struct flush_hooks {
    std::mutex add_lock;
    std::atomic<hook_node*> head{nullptr};
    hook_node* tail = nullptr;
};

flush_hooks& hooks() {
    static flush_hooks h;
    return h;
}

}  // namespace

void process_flush_hook_add(process_flush_hook hook) {
    auto& h = hooks();
    std::lock_guard<std::mutex> guard(h.add_lock);
    for (hook_node* n = h.head.load(); n; n = n->next.load())
        if (n->hook == hook) return;
    auto* node = new hook_node{hook};
    (h.tail ? h.tail->next : h.head).store(node, std::memory_order_release);
    h.tail = node;
}

void process_exit(int code) {
    // Only the first caller flushes; a second thread ending the process at the same moment waits
    // for the first to finish.
    static std::atomic<bool> exiting{false};
    if (exiting.exchange(true)) {
        for (;;) pause();
    }
    for (hook_node* n = hooks().head.load(std::memory_order_acquire); n; n = n->next.load(std::memory_order_acquire))
        n->hook();
    std::fflush(nullptr);
    _exit(code);
}

pid_t process_spawn(const std::vector<std::string>& args, char* const* envp, const process_spawn_options& options) {
    if (args.empty()) return -1;
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!options.directory.empty()) posix_spawn_file_actions_addchdir_np(&actions, options.directory.c_str());
    if (options.stdin_null) posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    pid_t pid = -1;
    auto start = options.search_path ? posix_spawnp : posix_spawn;
    if (start(&pid, argv[0], &actions, &attr, argv.data(), envp) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    return pid;
}

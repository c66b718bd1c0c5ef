#include "core/program_stack.h"

#include <pthread.h>
#include <signal.h>
#include <ucontext.h>

#include <memory>
#include <mutex>
#include <system_error>

#include "core/error_codes.h"
#include "core/fatal_signals.h"

namespace {

// The program thread's own guard; empty on every other thread. Set before the program's first
// statement, read by the handler on the faulting thread.
thread_local constinit stack_guard own_guard{};

struct sigaction action_before{};
std::once_flag handler_installed;

// The handler runs on the alternate stack (the program's stack has no room left). It may not show
// a box or take a lock, so it hands error 256 to the fatal-signal thread, which raises it as every
// other fatal error is raised, and waits there for the end.
void segv_handler(int signal, siginfo_t* info, void* context) {
    const auto stack_pointer = static_cast<const ucontext_t*>(context)->uc_mcontext.gregs[REG_RSP];
    const segv_signal segv{reinterpret_cast<uintptr_t>(info->si_addr), static_cast<uintptr_t>(stack_pointer),
                           info->si_code};
    if (stack_guard_hit(own_guard, segv)) fatal_signal_error(error_out_of_stack_space);
    // Any other fault goes back to what handled it before (the default action: the crash). A fault
    // of an instruction comes again on return; a sent signal has to be sent again.
    sigaction(SIGSEGV, &action_before, nullptr);
    if (info->si_code <= 0) raise(signal);
}

void segv_handler_install() {
    std::call_once(handler_installed, [] {
        fatal_signal_handover_start();
        struct sigaction action{};
        action.sa_sigaction = segv_handler;
        action.sa_flags = SA_SIGINFO | SA_ONSTACK;
        sigemptyset(&action.sa_mask);
        sigaction(SIGSEGV, &action, &action_before);
    });
}

stack_guard guard_of_this_thread() {
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) != 0) return {};
    void* low = nullptr;
    size_t size = 0, guard = 0;
    pthread_attr_getstack(&attributes, &low, &size);
    pthread_attr_getguardsize(&attributes, &guard);
    pthread_attr_destroy(&attributes);
    auto bottom = reinterpret_cast<uintptr_t>(low);
    return {bottom - guard, bottom};
}

struct thread_entry {
    void (*run)();
};

void* program_thread_run(void* argument) {
    std::unique_ptr<thread_entry> entry(static_cast<thread_entry*>(argument));
    alternate_signal_stack alternate;
    own_guard = guard_of_this_thread();
    entry->run();
    return nullptr;
}

int thread_create(pthread_t& thread, thread_entry* entry, size_t stack_size) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    int result = pthread_attr_setstacksize(&attributes, stack_size);
    if (result == 0) result = pthread_attr_setguardsize(&attributes, program_stack_guard_size);
    if (result == 0) result = pthread_create(&thread, &attributes, program_thread_run, entry);
    pthread_attr_destroy(&attributes);
    return result;
}

}  // namespace

bool stack_guard_hit(const stack_guard& guard, const segv_signal& segv) {
    auto within = [](uintptr_t address, uintptr_t low, uintptr_t high) { return address >= low && address < high; };
    if (guard.low == guard.high) return false;
    if (segv.code == SI_KERNEL) return within(segv.stack_pointer, guard.low, guard.high + signal_frame_room);
    return segv.code > 0 && within(segv.fault_address, guard.low, guard.high);
}

void program_thread_start(void (*entry)(), size_t stack_size) {
    segv_handler_install();
    auto owned = std::make_unique<thread_entry>(thread_entry{entry});
    pthread_t thread;
    int result = thread_create(thread, owned.get(), stack_size);
    if (result != 0) result = pthread_create(&thread, nullptr, program_thread_run, owned.get());
    if (result != 0) throw std::system_error(result, std::generic_category(), "program thread");
    owned.release();
    pthread_setname_np(thread, "program");
    pthread_detach(thread);
}

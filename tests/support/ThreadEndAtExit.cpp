// Preloaded into a child test process: OpenSSL's per-thread cleanup, run as a
// thread ends, waits until the process has run its exit handlers, as it can
// on a busy machine when a network thread is let go just before the end.
// At exit it says how many threads it held, so a test knows it took effect.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace {
using Destructor = void (*)(void *);
constexpr int kSlots = 8;
constexpr auto kPatience = std::chrono::seconds(10);
Destructor g_saved[kSlots];
std::atomic<int> g_used{0};
std::atomic<bool> g_exiting{false};
std::atomic<int> g_pending{0};
std::atomic<int> g_held{0};

bool onMainThread() { return syscall(SYS_gettid) == getpid(); }

void waitFor(auto condition)
{
    const auto until = std::chrono::steady_clock::now() + kPatience;
    while (!condition() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

template <int I> void heldUntilExit(void *value)
{
    const bool hold = !onMainThread();
    if (hold) {
        ++g_pending;
        waitFor([] { return g_exiting.load(); });
        if (g_exiting) // not let go early by the patience running out
            ++g_held;
    }
    g_saved[I](value);
    if (hold)
        --g_pending;
}

template <int... I> Destructor slot(std::integer_sequence<int, I...>, int i)
{
    static constexpr Destructor all[] = {heldUntilExit<I>...};
    return all[i];
}

// Registered at load, before OpenSSL registers its exit handler on first use,
// so it runs after that one.
void atTheEnd()
{
    g_exiting = true;
    waitFor([] { return g_pending.load() == 0; });
    std::fprintf(stderr, "thread-end-at-exit: held %d\n", g_held.load());
}

__attribute__((constructor)) void install() { std::atexit(atTheEnd); }
} // namespace

extern "C" int pthread_key_create(pthread_key_t *key, Destructor destructor)
{
    static const auto real =
        reinterpret_cast<int (*)(pthread_key_t *, Destructor)>(dlsym(RTLD_NEXT, "pthread_key_create"));
    Dl_info where{};
    if (destructor && dladdr(reinterpret_cast<void *>(destructor), &where) && where.dli_fname &&
        std::strstr(where.dli_fname, "libcrypto")) {
        if (const int i = g_used++; i < kSlots) {
            g_saved[i] = destructor;
            return real(key, slot(std::make_integer_sequence<int, kSlots>{}, i));
        }
    }
    return real(key, destructor);
}

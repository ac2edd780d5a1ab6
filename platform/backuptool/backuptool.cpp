#include "backuptool.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <spawn.h>
#include <mutex>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

std::atomic<int> g_timeoutMs{10 * 60 * 1000};

// Set at start; runs may come from worker threads.
std::mutex g_programMutex;
std::string g_program;

std::string toolProgram() {
    std::lock_guard<std::mutex> lock(g_programMutex);
    return g_program.empty() ? std::string("idevicebackup2") : g_program;
}

void sleepMs(int ms) {
    timespec ts;
    ts.tv_sec = ms / 1000;
    ts.tv_nsec = long(ms % 1000) * 1000000L;
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

}  // namespace

void backuptool_set_program(const char* program) {
    std::lock_guard<std::mutex> lock(g_programMutex);
    g_program = program ? program : "";
}

void backuptool_set_timeout_ms(int ms) {
    g_timeoutMs = ms > 0 ? ms : 1;
}

extern "C" int main_(void* /*reserved*/, int argc, char** argv) {
    const std::string program = toolProgram();

    // argv[0] is replaced by the tool itself; the rest goes through unchanged, no shell.
    std::vector<std::string> args;
    args.push_back(program);
    for (int i = 1; i < argc && argv; ++i)
        args.push_back(argv[i] ? argv[i] : "");
    std::vector<char*> cargs;
    for (std::string& a : args)
        cargs.push_back(&a[0]);
    cargs.push_back(nullptr);

    pid_t pid = 0;
    if (posix_spawnp(&pid, program.c_str(), nullptr, nullptr, cargs.data(), environ) != 0)
        return -1;

    int status = 0;
    int waited = 0;
    const int step = 20;
    for (;;) {
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid)
            break;
        if (r < 0 && errno != EINTR)
            return -1;
        if (waited >= g_timeoutMs.load()) {
            kill(pid, SIGKILL);
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            return -1;
        }
        sleepMs(step);
        waited += step;
    }
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return -1;
}

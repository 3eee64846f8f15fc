#include "tests/program/program_runner.hpp"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <utility>

extern char** environ;

namespace nembo::test {

std::string env_or(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : fallback;
}

namespace {

// How long one program may run before the test stops it and fails; the
// longest run the tests start takes a few seconds.
std::chrono::seconds run_time_limit() {
    return std::chrono::seconds(std::strtol(env_or("NEMBO_RUN_TIME_LIMIT", "120").c_str(), nullptr, 10));
}

}  // namespace

bool windows_target() { return env_or("NEMBO_TARGET", "linux") == "windows"; }

std::string exe_name() { return windows_target() ? "nembo.exe" : "nembo"; }

std::string as_written(const std::string& text) {
    if (!windows_target()) return text;
    std::string converted;
    for (const char c : text) {
        if (c == '\n') converted += '\r';
        converted += c;
    }
    return converted;
}

ProgramResult run_nembo(const std::vector<std::string>& args, const std::string& input, std::chrono::seconds limit) {
    return run_nembo_under(env_or("NEMBO_LAUNCHER", ""), args, input, limit);
}

ProgramResult run_nembo_under(const std::string& launcher, const std::vector<std::string>& args,
                              const std::string& input, std::chrono::seconds limit) {
    std::vector<std::string> argv_text;
    if (!launcher.empty()) argv_text.push_back(launcher);
    argv_text.push_back(env_or("NEMBO_COMMAND", "nembo"));
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    return run_program(std::move(argv_text), input, limit);
}

ProgramResult run_program(std::vector<std::string> argv_text, const std::string& input, std::chrono::seconds limit) {
    if (limit.count() <= 0) limit = run_time_limit();
    std::vector<char*> argv;
    for (std::string& a : argv_text) argv.push_back(a.data());
    argv.push_back(nullptr);

    int in_pipe[2], out_pipe[2], err_pipe[2];
    if (pipe(in_pipe) != 0 || pipe(out_pipe) != 0 || pipe(err_pipe) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in_pipe[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
    for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]}) {
        posix_spawn_file_actions_addclose(&actions, fd);
    }
    // Its own process group, so that a program that outlives its time is
    // stopped with whatever it started.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    close(in_pipe[0]);
    close(out_pipe[1]);
    close(err_pipe[1]);
    if (spawned != 0) throw std::runtime_error("cannot start " + argv_text.front());

    if (!input.empty()) {
        ssize_t ignored = write(in_pipe[1], input.data(), input.size());
        (void)ignored;
    }
    close(in_pipe[1]);

    // Reads until the program has exited and its pipes hold nothing more.
    // End of file alone is not waited for: a launcher's helpers (Wine's
    // server and services) may inherit the pipes and outlive the program.
    ProgramResult result;
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    bool exited = false;
    int open_count = 2;
    while (open_count > 0) {
        const int ready = poll(fds, 2, exited ? 0 : 100);
        if (ready < 0 && errno != EINTR) break;
        if (ready == 0 && exited) break;
        for (int i = 0; i < 2 && ready > 0; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buffer[4096];
            const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
            if (got <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_count;
            } else {
                sinks[i]->append(buffer, static_cast<std::size_t>(got));
            }
        }
        if (!exited && waitpid(pid, &status, WNOHANG) == pid) exited = true;
        if (!exited && std::chrono::steady_clock::now() > deadline) {
            kill(-pid, SIGKILL);
            waitpid(pid, &status, 0);
            exited = true;
            ADD_FAILURE() << argv_text.back() << " did not end within " << limit.count()
                          << " s and was stopped";
        }
    }
    for (const pollfd& f : fds) {
        if (f.fd >= 0) close(f.fd);
    }
    if (!exited) waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

const TimerVerdict& timer_verdict() {
    static const TimerVerdict verdict = [] {
        const ProgramResult r = run_nembo({"--timer-debug"});
        TimerVerdict v;
        const std::string source_label = "Fast timer: ";
        const std::size_t source_at = r.out.find(source_label);
        if (source_at != std::string::npos) {
            const std::size_t begin = source_at + source_label.size();
            v.source = r.out.substr(begin, r.out.find_first_of("\r\n", begin) - begin);
        }
        v.compliant = r.out.find("Fast timer is hwbot compliant") != std::string::npos;
        EXPECT_EQ(r.status, 0) << "--timer-debug: " << r.out << r.err;
        EXPECT_FALSE(v.source.empty()) << "--timer-debug names no fast timer: " << r.out;
        return v;
    }();
    return verdict;
}

std::string timer_warning() {
    if (timer_verdict().compliant) return "";
    return "==========\n  warning \n==========\n"
           "Fast timer is not compliant with HWBOT rules (fast timer source: " +
           timer_verdict().source +
           ")\n"
           "Check that this is a detection error in terms of your windows version, processor, or timer before "
           "submitting\n";
}

}  // namespace nembo::test

// SPDX-License-Identifier: MIT
// A program the test starts and ends: spawned with its arguments and environment, killed by
// its own id (never by name) and waited for when the object goes.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <string>
#include <vector>

extern char** environ;

namespace vmc_test {

class ChildProcess {
public:
    // `args` starts with the program's path; `extraEnv` (NAME=value) is added to ours.
    ChildProcess(std::vector<std::string> args, const std::vector<std::string>& extraEnv) {
        std::vector<std::string> env;
        for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
        env.insert(env.end(), extraEnv.begin(), extraEnv.end());
        std::vector<char*> argv, envp;
        for (std::string& a : args) argv.push_back(&a[0]);
        for (std::string& e : env) envp.push_back(&e[0]);
        argv.push_back(nullptr);
        envp.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    }
    ~ChildProcess() { Kill(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Running() const { return pid_ > 0; }
    // SIGSTOP and SIGCONT: a program that stops answering for a while, and comes back.
    void Signal(int number) {
        if (pid_ > 0) kill(pid_, number);
    }
    void Kill() {
        if (pid_ <= 0) return;
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
};

}  // namespace vmc_test

// SPDX-License-Identifier: MIT
// Runs a command and, once it and every process it started have ended, prints on stderr the
// seconds the command itself ran and the CPU seconds (user + system) of the whole tree. The
// tree includes processes that outlive their parent (a Wine server, Wine's service processes,
// an X server left to its launcher): as the tree's reaper this program collects their times.
//
//   treetime COMMAND ARGS..      prints "treetime: wall W cpu C" and exits with COMMAND's status
#define _GNU_SOURCE
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static volatile sig_atomic_t gave_up = 0;
static void on_alarm(int sig) {
    (void)sig;
    gave_up = 1;
}

static double now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: treetime COMMAND ARGS..\n");
        return 2;
    }
    if (prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) {
        perror("treetime: prctl");
        return 2;
    }
    double start = now(), wall = -1;
    pid_t child = fork();
    if (child < 0) {
        perror("treetime: fork");
        return 2;
    }
    if (child == 0) {
        execvp(argv[1], argv + 1);
        perror("treetime: exec");
        _exit(127);
    }
    struct sigaction alarm_action;
    memset(&alarm_action, 0, sizeof(alarm_action));
    alarm_action.sa_handler = on_alarm;  // no SA_RESTART: a wait must give up
    sigaction(SIGALRM, &alarm_action, NULL);
    int rc = 0, status;
    for (;;) {
        pid_t pid = wait(&status);
        if (pid < 0 && errno == EINTR && !gave_up) continue;
        if (pid < 0) break;
        if (pid != child) continue;
        wall = now() - start;
        rc = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        // What the command left behind has 30 s to end; its times are counted as it ends.
        alarm(30);
    }
    struct rusage usage;
    getrusage(RUSAGE_CHILDREN, &usage);
    double cpu = (double)(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                 (double)(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    fprintf(stderr, "treetime: wall %.3f cpu %.3f%s\n", wall, cpu,
            gave_up ? " (incomplete: a process of the tree was still running 30 s later)" : "");
    return gave_up && rc == 0 ? 1 : rc;
}

// SPDX-License-Identifier: MIT
// Changes a 16 x 16 square in the X screen's top-left corner every 5 ms, drawn over every
// window, so that each grab of the screen sees a picture of its own. On SIGTERM it prints on
// stdout the CPU seconds it used itself, for a measurement to leave out.
#include <X11/Xlib.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/resource.h>
#include <time.h>

static volatile sig_atomic_t stop = 0;
static void on_term(int sig) {
    (void)sig;
    stop = 1;
}

int main(void) {
    Display* display = XOpenDisplay(NULL);
    if (display == NULL) {
        fprintf(stderr, "xticker: cannot open the X display\n");
        return 1;
    }
    struct sigaction term;
    memset(&term, 0, sizeof(term));
    term.sa_handler = on_term;
    sigaction(SIGTERM, &term, NULL);
    Window root = DefaultRootWindow(display);
    GC gc = XCreateGC(display, root, 0, NULL);
    XSetSubwindowMode(display, gc, IncludeInferiors);
    const struct timespec pause = {0, 5000000};
    for (unsigned long n = 1; !stop; ++n) {
        // Colours far apart from one step to the next.
        XSetForeground(display, gc, (unsigned long)((n * 2654435761u) >> 8) & 0xFFFFFFu);
        XFillRectangle(display, root, gc, 0, 0, 16, 16);
        XSync(display, False);
        nanosleep(&pause, NULL);
    }
    XFreeGC(display, gc);
    XCloseDisplay(display);
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    printf("%.3f\n", (double)(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                         (double)(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6);
    return 0;
}

/* Starts a program and waits until a top-level window of the given title is
 * mapped and viewable on the X display; prints the elapsed milliseconds and
 * the program's pid, and leaves the program running.
 *
 *   mapwait TITLE TIMEOUT_MS PROGRAM [ARGS...]
 *
 * Exit status 0 when the window appeared, 1 on time-out, 2 on bad use. The
 * clock starts just before the fork, so process creation is included. */
#define _POSIX_C_SOURCE 200809L
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static double nowMs(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

static int ignoreErrors(Display *d, XErrorEvent *e)
{
    /* Windows come and go while the tree is walked. */
    (void)d;
    (void)e;
    return 0;
}

/* Depth-first search below w, bounded in depth; 1 when a viewable window
 * whose name starts with title is found. */
static int findMapped(Display *d, Window w, const char *title, int depth)
{
    char *name = NULL;
    if (XFetchName(d, w, &name) && name) {
        const int match = strncmp(name, title, strlen(title)) == 0;
        XFree(name);
        if (match) {
            XWindowAttributes a;
            if (XGetWindowAttributes(d, w, &a) && a.map_state == IsViewable)
                return 1;
        }
    }
    if (depth >= 4)
        return 0;
    Window root, parent, *kids = NULL;
    unsigned int n = 0;
    if (!XQueryTree(d, w, &root, &parent, &kids, &n))
        return 0;
    int found = 0;
    for (unsigned int i = 0; i < n && !found; ++i)
        found = findMapped(d, kids[i], title, depth + 1);
    if (kids)
        XFree(kids);
    return found;
}

int main(int argc, char **argv)
{
    if (argc < 4) {
        fprintf(stderr, "usage: mapwait TITLE TIMEOUT_MS PROGRAM [ARGS...]\n");
        return 2;
    }
    const char *title = argv[1];
    const double timeout = atof(argv[2]);
    Display *d = XOpenDisplay(NULL);
    if (!d) {
        fprintf(stderr, "mapwait: cannot open display\n");
        return 2;
    }
    XSetErrorHandler(ignoreErrors);

    const double start = nowMs();
    const pid_t pid = fork();
    if (pid < 0) {
        perror("mapwait: fork");
        return 2;
    }
    if (pid == 0) {
        /* Off our output: the caller reads it to its end, and the program
         * outlives this one. */
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0) {
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
            close(null);
        }
        execvp(argv[3], argv + 3);
        perror("mapwait: exec");
        _exit(127);
    }
    const struct timespec step = {0, 2 * 1000 * 1000};
    while (nowMs() - start < timeout) {
        if (findMapped(d, DefaultRootWindow(d), title, 0)) {
            printf("%.1f %d\n", nowMs() - start, (int)pid);
            XCloseDisplay(d);
            return 0;
        }
        nanosleep(&step, NULL);
    }
    fprintf(stderr, "mapwait: no window \"%s\" within %.0f ms\n", title, timeout);
    printf("- %d\n", (int)pid);
    XCloseDisplay(d);
    return 1;
}

/* Starts a program and waits until a top-level window of the given title is
 * mapped and viewable on the X display, or with --painted until the program
 * has first drawn into that window once it is viewable; prints the elapsed
 * milliseconds and the program's pid, and leaves the program running.
 *
 *   mapwait [--painted] TITLE TIMEOUT_MS PROGRAM [ARGS...]
 *
 * A window can be mapped long before anything is drawn in it (a toolkit that
 * maps its window and then goes on building it): --painted is what a user
 * sees. Drawing is seen through the X DAMAGE extension: every window made
 * on the root gets a damage object as soon as it is created, so its first
 * drawing cannot slip by. The server fills a window with its background
 * colour as it maps it, which is drawing too: the window counts as painted
 * once it shows more than one colour.
 *
 * Exit status 0 when the window appeared, 1 on time-out, 2 on bad use. The
 * clock starts just before the fork, so process creation is included. */
#define _POSIX_C_SOURCE 200809L
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xdamage.h>

#include <fcntl.h>
#include <poll.h>
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

/* 1 when w is viewable and its name starts with title. */
static int isTitled(Display *d, Window w, const char *title)
{
    char *name = NULL;
    if (!XFetchName(d, w, &name) || !name)
        return 0;
    const int match = strncmp(name, title, strlen(title)) == 0;
    XFree(name);
    XWindowAttributes a;
    return match && XGetWindowAttributes(d, w, &a) && a.map_state == IsViewable;
}

/* Depth-first search below w, bounded in depth; 1 when a viewable window
 * whose name starts with title is found. */
static int findMapped(Display *d, Window w, const char *title, int depth)
{
    if (isTitled(d, w, title))
        return 1;
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

/* 1 when the window shows more than one colour (0 for a plain fill, or
 * when it cannot be read). Read in bands of rows from the top, where
 * drawing shows first (a menu, a caption), so that telling a drawn window
 * costs about the same whatever its size. */
static int isDrawn(Display *d, Window w)
{
    XWindowAttributes a;
    if (!XGetWindowAttributes(d, w, &a) || a.width <= 0 || a.height <= 0)
        return 0;
    const int band = 16;
    unsigned long first = 0;
    for (int top = 0; top < a.height; top += band) {
        const int rows = a.height - top < band ? a.height - top : band;
        XImage *img = XGetImage(d, w, 0, top, (unsigned)a.width, (unsigned)rows, AllPlanes, ZPixmap);
        if (!img)
            return 0;
        if (top == 0)
            first = XGetPixel(img, 0, 0);
        int drawn = 0;
        for (int y = 0; y < rows && !drawn; ++y)
            for (int x = 0; x < a.width && !drawn; ++x)
                drawn = XGetPixel(img, x, y) != first;
        XDestroyImage(img);
        if (drawn)
            return 1;
    }
    return 0;
}

/* Waits for drawing into a viewable window of that title; 1 when seen
 * before the deadline. */
static int waitPainted(Display *d, int damageEvent, const char *title, double deadline)
{
    for (;;) {
        while (XPending(d)) {
            XEvent e;
            XNextEvent(d, &e);
            if (e.type == CreateNotify && e.xcreatewindow.parent == DefaultRootWindow(d)) {
                XDamageCreate(d, e.xcreatewindow.window, XDamageReportNonEmpty);
                XFlush(d);
            } else if (e.type == damageEvent + XDamageNotify) {
                const XDamageNotifyEvent *de = (const XDamageNotifyEvent *)&e;
                if (isTitled(d, de->drawable, title) && isDrawn(d, de->drawable))
                    return 1;
                /* Another window, or only filled: look again at the next drawing. */
                XDamageSubtract(d, de->damage, None, None);
                XFlush(d);
            }
        }
        const double left = deadline - nowMs();
        if (left <= 0)
            return 0;
        struct pollfd p = {ConnectionNumber(d), POLLIN, 0};
        poll(&p, 1, left > 50 ? 50 : (int)left + 1);
    }
}

int main(int argc, char **argv)
{
    int painted = 0;
    if (argc > 1 && strcmp(argv[1], "--painted") == 0) {
        painted = 1;
        ++argv;
        --argc;
    }
    if (argc < 4) {
        fprintf(stderr, "usage: mapwait [--painted] TITLE TIMEOUT_MS PROGRAM [ARGS...]\n");
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
    int damageEvent = 0, damageError = 0;
    if (painted) {
        if (!XDamageQueryExtension(d, &damageEvent, &damageError)) {
            fprintf(stderr, "mapwait: the display has no DAMAGE extension\n");
            return 2;
        }
        XSelectInput(d, DefaultRootWindow(d), SubstructureNotifyMask);
        XSync(d, False);
    }

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
    int found = 0;
    if (painted) {
        found = waitPainted(d, damageEvent, title, start + timeout);
    } else {
        const struct timespec step = {0, 2 * 1000 * 1000};
        while (!found && nowMs() - start < timeout) {
            found = findMapped(d, DefaultRootWindow(d), title, 0);
            if (!found)
                nanosleep(&step, NULL);
        }
    }
    if (found) {
        printf("%.1f %d\n", nowMs() - start, (int)pid);
        XCloseDisplay(d);
        return 0;
    }
    fprintf(stderr, "mapwait: no window \"%s\" %s within %.0f ms\n", title,
            painted ? "drawn" : "shown", timeout);
    printf("- %d\n", (int)pid);
    XCloseDisplay(d);
    return 1;
}

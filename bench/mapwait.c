/* mapwait RUNS SETTLE_MS PROGRAM [ARGS...]: starts PROGRAM RUNS times on $DISPLAY and, for
 * each run, prints the milliseconds from the exec to the first top-level window being
 * mapped (as the X server reports it: MapNotify on the root window) and the program's
 * peak resident memory in KiB (ru_maxrss from wait4), measured SETTLE_MS after the map,
 * when the program is ended with SIGTERM, and, read from /proc/<pid>/smaps_rollup just
 * before that, its anonymous memory in KiB: what the program itself allocated, without
 * the pages of libraries and font files it maps. One line per run: "<ms> <kib> <anon kib>".
 *
 * The X connection and the event selection are made before the fork, so no map can be
 * missed, and the clock starts right before exec. Nothing in the measured program changes. */
#define _GNU_SOURCE
#include <xcb/xcb.h>

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double nowMs(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

/* The "Anonymous:" figure of a process's smaps_rollup in KiB, or -1. */
static long anonymousKib(pid_t pid)
{
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/smaps_rollup", (int)pid);
    FILE *file = fopen(path, "r");
    if (!file)
        return -1;
    char line[256];
    long kib = -1;
    while (fgets(line, sizeof line, file)) {
        if (sscanf(line, "Anonymous: %ld kB", &kib) == 1)
            break;
    }
    fclose(file);
    return kib;
}

/* Waits for a MapNotify of a window that is not override-redirect; -1 on timeout. */
static int waitForMap(xcb_connection_t *c, double deadline)
{
    const int fd = xcb_get_file_descriptor(c);
    for (;;) {
        xcb_generic_event_t *event;
        while ((event = xcb_poll_for_event(c))) {
            const int type = event->response_type & 0x7f;
            int mapped = 0;
            if (type == XCB_MAP_NOTIFY)
                mapped = !((xcb_map_notify_event_t *)event)->override_redirect;
            free(event);
            if (mapped)
                return 0;
        }
        if (xcb_connection_has_error(c))
            return -1;
        const double left = deadline - nowMs();
        if (left <= 0)
            return -1;
        struct pollfd p = {fd, POLLIN, 0};
        poll(&p, 1, (int)left + 1);
    }
}

int main(int argc, char **argv)
{
    if (argc < 4) {
        fprintf(stderr, "usage: mapwait RUNS SETTLE_MS PROGRAM [ARGS...]\n");
        return 2;
    }
    const int runs = atoi(argv[1]);
    const int settleMs = atoi(argv[2]);
    xcb_connection_t *c = xcb_connect(NULL, NULL);
    if (xcb_connection_has_error(c)) {
        fprintf(stderr, "mapwait: cannot open the display\n");
        return 1;
    }
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_request_check(c, xcb_change_window_attributes_checked(c, screen->root, XCB_CW_EVENT_MASK, &mask));

    for (int run = 0; run < runs; ++run) {
        /* Events of an earlier run are dropped. */
        xcb_generic_event_t *stale;
        while ((stale = xcb_poll_for_event(c)))
            free(stale);
        const double start = nowMs();
        const pid_t child = fork();
        if (child == 0) {
            execvp(argv[3], argv + 3);
            _exit(127);
        }
        const int mapped = waitForMap(c, start + 30000);
        const double elapsed = nowMs() - start;
        usleep((useconds_t)settleMs * 1000);
        const long anonymous = anonymousKib(child);
        kill(child, SIGTERM);
        int status = 0;
        struct rusage usage;
        while (wait4(child, &status, 0, &usage) < 0 && errno == EINTR) {
        }
        if (mapped != 0) {
            fprintf(stderr, "mapwait: no window was mapped within 30 s\n");
            return 1;
        }
        printf("%.1f %ld %ld\n", elapsed, usage.ru_maxrss, anonymous);
        fflush(stdout);
    }
    xcb_disconnect(c);
    return 0;
}

// SPDX-License-Identifier: GPL-3.0-or-later
// Starts a window program on the X display and measures the time from its start to the
// first top-level window it maps, with the processor time the program had used by then, and
// its resident memory a moment later. Closes the window as a user would (WM_DELETE_WINDOW)
// and waits for the program to end.
//
//   bench_window_probe [--settle MS] [--timeout MS] -- PROGRAM [ARGUMENTS...]
//
// Prints one line: "MAPPED_MS CPU_MS RSS_KB RSS_ANON_KB". Exit code 1 when the program ended
// or the time-out passed before a window was mapped.
#include <xcb/xcb.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fstream>
#include <memory>
#include <string>

namespace {

double nowMs()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) * 1000.0 + double(ts.tv_nsec) / 1e6;
}

// VmRSS and RssAnon of a process, in kB; 0 where not known.
void residentMemory(pid_t pid, long *rss, long *anon)
{
    *rss = 0;
    *anon = 0;
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            *rss = std::strtol(line.c_str() + 6, nullptr, 10);
        else if (line.rfind("RssAnon:", 0) == 0)
            *anon = std::strtol(line.c_str() + 8, nullptr, 10);
    }
}

// Processor time of all the process's threads so far, in ms. Unlike the wall-clock time it
// hardly depends on what else the machine runs.
double processorMs(pid_t pid)
{
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR *dir = opendir(tasks.c_str());
    if (!dir)
        return 0;
    double ns = 0;
    while (const dirent *entry = readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        std::ifstream stat(tasks + "/" + entry->d_name + "/schedstat");
        double onCpu = 0;
        if (stat >> onCpu)
            ns += onCpu;
    }
    closedir(dir);
    return ns / 1e6;
}

xcb_atom_t atom(xcb_connection_t *connection, const char *name)
{
    const xcb_intern_atom_cookie_t cookie
        = xcb_intern_atom(connection, 0, uint16_t(std::strlen(name)), name);
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(connection, cookie, nullptr), &std::free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

void requestClose(xcb_connection_t *connection, xcb_window_t window)
{
    xcb_client_message_event_t event {};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = atom(connection, "WM_PROTOCOLS");
    event.data.data32[0] = atom(connection, "WM_DELETE_WINDOW");
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(
        connection, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&event));
    xcb_flush(connection);
}

// Waits up to timeoutMs for the child to end; true when it did.
bool waitForExit(pid_t pid, int timeoutMs)
{
    const double until = nowMs() + timeoutMs;
    do {
        int status = 0;
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid || (done < 0 && errno == ECHILD))
            return true;
        usleep(10000);
    } while (nowMs() < until);
    return false;
}

void endChild(pid_t pid)
{
    if (!waitForExit(pid, 10000)) {
        std::fprintf(stderr, "bench_window_probe: the program did not close; killed\n");
        kill(pid, SIGKILL);
        waitForExit(pid, 10000);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    int settleMs = 1000;
    int timeoutMs = 60000;
    int first = 1;
    for (; first < argc; ++first) {
        if (std::strcmp(argv[first], "--") == 0) {
            ++first;
            break;
        }
        if (std::strcmp(argv[first], "--settle") == 0 && first + 1 < argc)
            settleMs = std::atoi(argv[++first]);
        else if (std::strcmp(argv[first], "--timeout") == 0 && first + 1 < argc)
            timeoutMs = std::atoi(argv[++first]);
        else
            first = argc;
    }
    if (first >= argc) {
        std::fprintf(stderr,
            "usage: bench_window_probe [--settle MS] [--timeout MS] -- PROGRAM [ARGS...]\n");
        return 2;
    }

    int screenNumber = 0;
    xcb_connection_t *connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection)) {
        std::fprintf(stderr, "bench_window_probe: no X display\n");
        return 2;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    const xcb_window_t root = screens.data->root;
    // Every window mapped as a child of the root is reported, the program's first one included.
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_void_cookie_t selected
        = xcb_change_window_attributes_checked(connection, root, XCB_CW_EVENT_MASK, &mask);
    if (xcb_generic_error_t *error = xcb_request_check(connection, selected)) {
        std::free(error);
        std::fprintf(stderr, "bench_window_probe: cannot watch the root window\n");
        return 2;
    }

    const double started = nowMs();
    const pid_t pid = fork();
    if (pid < 0) {
        std::perror("fork");
        return 2;
    }
    if (pid == 0) {
        close(xcb_get_file_descriptor(connection));
        // The program's own output would mix with the result line.
        if (std::FILE *null = std::fopen("/dev/null", "w")) {
            dup2(fileno(null), STDOUT_FILENO);
            dup2(fileno(null), STDERR_FILENO);
        }
        execvp(argv[first], argv + first);
        std::perror(argv[first]);
        _exit(127);
    }

    xcb_window_t mapped = XCB_WINDOW_NONE;
    double mappedMs = 0;
    double cpuMs = 0;
    pollfd fd { xcb_get_file_descriptor(connection), POLLIN, 0 };
    while (mapped == XCB_WINDOW_NONE) {
        while (xcb_generic_event_t *event = xcb_poll_for_event(connection)) {
            const double at = nowMs();
            if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY) {
                const auto *map = reinterpret_cast<xcb_map_notify_event_t *>(event);
                if (!map->override_redirect && mapped == XCB_WINDOW_NONE) {
                    mapped = map->window;
                    mappedMs = at - started;
                    cpuMs = processorMs(pid);
                }
            }
            std::free(event);
        }
        if (mapped != XCB_WINDOW_NONE)
            break;
        if (xcb_connection_has_error(connection) || nowMs() - started > timeoutMs
            || waitpid(pid, nullptr, WNOHANG) == pid) {
            std::fprintf(stderr, "bench_window_probe: no window was mapped\n");
            kill(pid, SIGKILL);
            waitForExit(pid, 10000);
            return 1;
        }
        poll(&fd, 1, 100);
    }

    usleep(useconds_t(settleMs) * 1000);
    long rss = 0;
    long anon = 0;
    residentMemory(pid, &rss, &anon);
    requestClose(connection, mapped);
    endChild(pid);
    xcb_disconnect(connection);
    std::printf("%.1f %.1f %ld %ld\n", mappedMs, cpuMs, rss, anon);
    return 0;
}

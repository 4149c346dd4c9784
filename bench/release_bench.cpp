// Measures how soon vantrel-trace releases what it holds once its driver has died: the driver's
// ends of standard input and output are closed at once, as the system closes them when a driver
// is killed, and the time until the trace shows the last release is taken. During a long hold
// (a pause in progress) and while idle (waiting for input) with a key and a button held; over
// pipes (as a Python driver's) and over socket pairs (as a Node driver's). A benchmark, not a
// test: it prints figures and asserts nothing.
//
//   bench/release_bench path/to/vantrel-trace [rounds]

#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Child {
    int pid, in, out, err;
};

void channel(bool sockets, int ends[2]) {
    if (sockets ? socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0 : pipe(ends) != 0) std::exit(1);
}

Child start(const char* program, bool sockets) {
    int toChild[2], fromChild[2], trace[2];
    channel(sockets, toChild);
    channel(sockets, fromChild);
    if (pipe(trace) != 0) std::exit(1);
    int pid = fork();
    if (pid == 0) {
        dup2(toChild[0], 0);
        dup2(fromChild[1], 1);
        dup2(trace[1], 2);
        for (int fd : {toChild[0], toChild[1], fromChild[0], fromChild[1], trace[0], trace[1]})
            close(fd);
        setenv("VANTREL_TRACE_REALTIME", "1", 1);
        execl(program, program, static_cast<char*>(nullptr));
        _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    close(trace[1]);
    return {pid, toChild[1], fromChild[0], trace[0]};
}

// Reads the trace until a line containing `needle`; false at its end.
bool traceUntil(int fd, std::string& pending, const std::string& needle) {
    for (;;) {
        size_t at = pending.find(needle);
        if (at != std::string::npos) {
            size_t end = pending.find('\n', at);
            if (end != std::string::npos) {
                pending.erase(0, end + 1);
                return true;
            }
        }
        char buffer[4096];
        ssize_t got = read(fd, buffer, sizeof buffer);
        if (got <= 0) return false;
        pending.append(buffer, static_cast<size_t>(got));
    }
}

void sendAll(int fd, const std::string& text) {
    if (write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) std::exit(1);
}

// One round: microseconds from the driver's death to the last release.
double round(const char* program, bool sockets, bool idle) {
    Child child = start(program, sockets);
    std::string trace;
    sendAll(child.in, "{\"id\":1,\"action\":\"key_down\",\"text\":\"shift\"}\n"
                      "{\"id\":2,\"action\":\"mouse_down\",\"x\":5,\"y\":5,\"durationMs\":1}\n");
    if (idle) {
        if (!traceUntil(child.err, trace, "\"reply\":{\"id\":2")) std::exit(1);
    } else {
        sendAll(child.in, "{\"id\":3,\"action\":\"hold_key\",\"text\":\"a\",\"holdMs\":600000}\n");
        if (!traceUntil(child.err, trace, "\"sleep\":600000000")) std::exit(1);
    }
    Clock::time_point died = Clock::now();
    close(child.in);
    close(child.out);
    // The last release is the one of the first thing pressed: Shift, key code 56.
    if (!traceUntil(child.err, trace, "\"type\":11,\"keyCode\":56")) std::exit(1);
    double micros = std::chrono::duration<double, std::micro>(Clock::now() - died).count();
    int status = 0;
    waitpid(child.pid, &status, 0);
    close(child.err);
    return micros;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s path/to/vantrel-trace [rounds]\n", argv[0]);
        return 2;
    }
    int rounds = argc > 2 ? std::atoi(argv[2]) : 50;
    for (bool sockets : {false, true}) {
        for (bool idle : {false, true}) {
            std::vector<double> times;
            for (int i = 0; i < rounds; ++i)
                times.push_back(round(argv[1], sockets, idle));
            std::sort(times.begin(), times.end());
            std::printf("%-12s %-5s death to release: median %7.0f us, max %7.0f us (%d rounds)\n",
                        sockets ? "socket pair" : "pipe", idle ? "idle" : "hold",
                        times[times.size() / 2], times.back(), rounds);
        }
    }
    return 0;
}

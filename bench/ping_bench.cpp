// Measures the request path of vantrel-trace: "ping" requests per second when pipelined, and the
// round trip of one ping (write a line, wait for its reply). A benchmark, not a test.
//
//   bench/ping_bench path/to/vantrel-trace [pipelined-count] [round-trips]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

struct Child {
    int pid, in, out;
};

Child start(const char* program) {
    int toChild[2], fromChild[2];
    if (pipe(toChild) != 0 || pipe(fromChild) != 0) std::exit(1);
    int pid = fork();
    if (pid == 0) {
        dup2(toChild[0], 0);
        dup2(fromChild[1], 1);
        // The trace on standard error is not what is measured here.
        if (FILE* null = std::fopen("/dev/null", "w")) dup2(fileno(null), 2);
        close(toChild[1]);
        close(fromChild[0]);
        execl(program, program, static_cast<char*>(nullptr));
        _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    return {pid, toChild[1], fromChild[0]};
}

// Reads until `lines` line feeds have arrived.
void readLines(int fd, long lines) {
    char buffer[1 << 16];
    while (lines > 0) {
        ssize_t got = read(fd, buffer, sizeof buffer);
        if (got <= 0) std::exit(1);
        for (ssize_t i = 0; i < got; ++i)
            lines -= buffer[i] == '\n';
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s path/to/vantrel-trace [pipelined] [round-trips]\n",
                     argv[0]);
        return 2;
    }
    long pipelined = argc > 2 ? std::atol(argv[2]) : 200000;
    long trips = argc > 3 ? std::atol(argv[3]) : 2000;
    using Clock = std::chrono::steady_clock;

    Child child = start(argv[1]);
    std::string ping = "{\"id\":1,\"action\":\"ping\"}\n";
    std::string batch;
    for (int i = 0; i < 1000; ++i)
        batch += ping;
    auto begin = Clock::now();
    std::thread writer([&] {
        for (long sent = 0; sent < pipelined; sent += 1000)
            if (write(child.in, batch.data(), batch.size()) < 0) return;
    });
    readLines(child.out, (pipelined + 999) / 1000 * 1000);
    writer.join();
    double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    std::printf("pipelined: %ld pings in %.3f s = %.0f requests/s\n",
                (pipelined + 999) / 1000 * 1000, seconds,
                static_cast<double>((pipelined + 999) / 1000 * 1000) / seconds);

    std::vector<double> micros;
    for (long i = 0; i < trips; ++i) {
        auto sent = Clock::now();
        if (write(child.in, ping.data(), ping.size()) < 0) return 1;
        readLines(child.out, 1);
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
    }
    std::sort(micros.begin(), micros.end());
    std::printf("round trip of one ping: median %.1f us, 99th percentile %.1f us (%ld trips)\n",
                micros[micros.size() / 2], micros[micros.size() * 99 / 100], trips);
    close(child.in);
    int status = 0;
    waitpid(child.pid, &status, 0);
    return 0;
}

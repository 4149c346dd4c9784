#include "child_process.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace vantrel::testing {

namespace {

std::string slurp(FILE* file) {
    std::string text;
    std::rewind(file);
    char buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, got);
    return text;
}

[[noreturn]] void execute(const std::string& program, const std::vector<std::string>& environment) {
    for (const std::string& entry : environment)
        putenv(const_cast<char*>(entry.c_str()));
    execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
    _exit(127);
}

// A pipe whose ends are not inherited by children (pipe2 is Linux-only).
bool closeOnExecPipe(int ends[2]) {
    if (pipe(ends) != 0) return false;
    return fcntl(ends[0], F_SETFD, FD_CLOEXEC) == 0 && fcntl(ends[1], F_SETFD, FD_CLOEXEC) == 0;
}

int waitFor(int pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

Finished runToEnd(const std::string& program, const std::string& input,
                  const std::vector<std::string>& environment, OutputTo output) {
    int noReader[2] = {-1, -1};
    if (output == OutputTo::closedPipe) {
        if (pipe(noReader) != 0) throw std::runtime_error("pipe");
        close(noReader[0]);
    }
    FILE* in = std::tmpfile();
    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    std::fwrite(input.data(), 1, input.size(), in);
    std::fflush(in);
    std::rewind(in);
    int pid = fork();
    if (pid == 0) {
        dup2(fileno(in), 0);
        dup2(output == OutputTo::closedPipe ? noReader[1] : fileno(out), 1);
        dup2(fileno(err), 2);
        execute(program, environment);
    }
    if (noReader[1] >= 0) close(noReader[1]);
    Finished finished;
    finished.status = waitFor(pid);
    finished.out = slurp(out);
    finished.err = slurp(err);
    std::fclose(in);
    std::fclose(out);
    std::fclose(err);
    return finished;
}

Conversation::Conversation(const std::string& program,
                           const std::vector<std::string>& environment) {
    int toChild[2], fromChild[2];
    if (!closeOnExecPipe(toChild) || !closeOnExecPipe(fromChild)) throw std::runtime_error("pipe");
    pid_ = fork();
    if (pid_ == 0) {
        dup2(toChild[0], 0);
        dup2(fromChild[1], 1);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        close(toChild[1]);
        close(fromChild[0]);
        execute(program, environment);
    }
    close(toChild[0]);
    close(fromChild[1]);
    in_ = toChild[1];
    out_ = fromChild[0];
    signal(SIGPIPE, SIG_IGN);
}

Conversation::~Conversation() {
    if (pid_ > 0) finish();
    if (out_ >= 0) close(out_);
}

void Conversation::send(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t wrote = write(in_, bytes.data() + done, bytes.size() - done);
        if (wrote <= 0) return;
        done += static_cast<size_t>(wrote);
    }
}

std::string Conversation::readLine() {
    for (;;) {
        size_t end = pending_.find('\n');
        if (end != std::string::npos) {
            std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            return line;
        }
        char buffer[4096];
        ssize_t got = read(out_, buffer, sizeof buffer);
        if (got <= 0) return {};
        pending_.append(buffer, static_cast<size_t>(got));
    }
}

int Conversation::finish() {
    if (in_ >= 0) close(in_);
    in_ = -1;
    int status = waitFor(pid_);
    pid_ = -1;
    return status;
}

} // namespace vantrel::testing

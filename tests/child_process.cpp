#include "child_process.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

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

Ending waitEnding(int pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    Ending ending;
    if (WIFEXITED(status)) ending.exitStatus = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) ending.signal = WTERMSIG(status);
    return ending;
}

int waitFor(int pid) {
    return waitEnding(pid).exitStatus;
}

// The next line from `fd`, buffering in `pending`; empty at the end.
std::string nextLine(int fd, std::string& pending) {
    for (;;) {
        size_t end = pending.find('\n');
        if (end != std::string::npos) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            return line;
        }
        char buffer[4096];
        ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return std::exchange(pending, {});
        pending.append(buffer, static_cast<size_t>(got));
    }
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

Conversation::Conversation(const std::string& program, const std::vector<std::string>& environment,
                           bool traceOnPipe) {
    int toChild[2], fromChild[2], errors[2] = {-1, -1};
    if (!closeOnExecPipe(toChild) || !closeOnExecPipe(fromChild) ||
        (traceOnPipe && !closeOnExecPipe(errors)))
        throw std::runtime_error("pipe");
    pid_ = fork();
    if (pid_ == 0) {
        dup2(toChild[0], 0);
        dup2(fromChild[1], 1);
        dup2(traceOnPipe ? errors[1] : open("/dev/null", O_WRONLY), 2);
        execute(program, environment);
    }
    close(toChild[0]);
    close(fromChild[1]);
    if (traceOnPipe) close(errors[1]);
    in_ = toChild[1];
    out_ = fromChild[0];
    err_ = errors[0];
    ::signal(SIGPIPE, SIG_IGN);
}

Conversation::~Conversation() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        finish();
    }
    if (in_ >= 0) close(in_);
    if (out_ >= 0) close(out_);
    if (err_ >= 0) close(err_);
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
    return nextLine(out_, pending_);
}

std::string Conversation::readTraceLine() {
    return nextLine(err_, pendingTrace_);
}

std::string Conversation::restOfOutput() {
    std::string all = std::exchange(pending_, {});
    char buffer[4096];
    for (;;) {
        ssize_t got = read(out_, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return all;
        all.append(buffer, static_cast<size_t>(got));
    }
}

void Conversation::finishInput() {
    if (in_ >= 0) close(in_);
    in_ = -1;
}

int Conversation::finish() {
    if (in_ >= 0) close(in_);
    in_ = -1;
    return wait().exitStatus;
}

void Conversation::abandon(bool outputFirst) {
    int& first = outputFirst ? out_ : in_;
    int& second = outputFirst ? in_ : out_;
    close(first);
    close(second);
    first = second = -1;
}

void Conversation::signal(int number) {
    if (pid_ > 0) ::kill(pid_, number);
}

Ending Conversation::wait() {
    Ending ending = pid_ > 0 ? waitEnding(pid_) : Ending{};
    pid_ = -1;
    return ending;
}

} // namespace vantrel::testing

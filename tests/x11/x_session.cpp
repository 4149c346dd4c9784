#include "x_session.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <set>
#include <sstream>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace vantrel::testing {

using namespace std::chrono_literals;

namespace {

// How long a test waits for something that normally takes milliseconds before it gives up and
// reports a failure; never a measure of speed.
constexpr auto patience = 20s;

[[noreturn]] void execute(const std::vector<std::string>& argv,
                          const std::vector<std::string>& environment) {
    // A test run that is killed (a timeout, a stopped CI run) runs no destructors: each child
    // then dies with it instead of staying behind (its own children go when it does: a
    // compositor's clients lose their connection).
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    for (const std::string& entry : environment) {
        size_t equals = entry.find('=');
        setenv(entry.substr(0, equals).c_str(), entry.substr(equals + 1).c_str(), 1);
    }
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
}

int waitQuietly(int pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

} // namespace

Process::Process(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                 const std::string& output) {
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork");
    if (pid_ == 0) {
        setpgid(0, 0);
        int null = open("/dev/null", O_RDWR);
        int out = output.empty() ? null : open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(null, 0);
        dup2(out, 1);
        dup2(out, 2);
        execute(argv, environment);
    }
    setpgid(pid_, pid_);
}

Process::Process(Process&& other) noexcept : pid_(other.pid_) {
    other.pid_ = -1;
}

Process& Process::operator=(Process&& other) noexcept {
    if (this != &other) {
        stop();
        pid_ = other.pid_;
        other.pid_ = -1;
    }
    return *this;
}

Process::~Process() {
    stop();
}

void Process::signal(int number) {
    if (pid_ > 0) ::kill(pid_, number);
}

bool Process::running() {
    if (pid_ <= 0) return false;
    int status = 0;
    return waitpid(pid_, &status, WNOHANG) == 0;
}

void Process::stop() {
    if (pid_ <= 0) return;
    kill(-pid_, SIGTERM);
    auto deadline = std::chrono::steady_clock::now() + 3s;
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(-pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(10ms);
    }
    kill(-pid_, SIGKILL); // anything the child left in its group
    pid_ = -1;
}

std::string capture(const std::vector<std::string>& argv,
                    const std::vector<std::string>& environment) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    int pid = fork();
    if (pid == 0) {
        dup2(pipeFds[1], 1);
        int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 2);
        close(pipeFds[0]);
        execute(argv, environment);
    }
    close(pipeFds[1]);
    std::string out;
    char buffer[4096];
    ssize_t got;
    while ((got = read(pipeFds[0], buffer, sizeof buffer)) > 0)
        out.append(buffer, got);
    close(pipeFds[0]);
    waitQuietly(pid);
    return out;
}

TempDir::TempDir() {
    char pattern[] = "/tmp/vantrel-e2e-XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp");
    path = pattern;
}

TempDir::~TempDir() {
    capture({"rm", "-rf", path}, {});
}

XServer::XServer(std::optional<int> display) {
    int ready[2];
    if (pipe(ready) != 0) throw std::runtime_error("pipe");
    // Only the server inherits the end it writes its display number to.
    fcntl(ready[0], F_SETFD, FD_CLOEXEC);
    std::vector<std::string> argv{"Xvfb"};
    if (display) argv.push_back(":" + std::to_string(*display));
    // -noreset: the server must not start over whenever its last client leaves.
    for (const char* arg :
         {"-displayfd", "", "-screen", "0", "1280x800x24", "-nolisten", "tcp", "-noreset"})
        argv.push_back(arg);
    argv[display ? 3 : 2] = std::to_string(ready[1]);
    process_ = Process(argv, {});
    close(ready[1]);
    std::string number;
    pollfd wait{ready[0], POLLIN, 0};
    while (poll(&wait, 1, static_cast<int>(std::chrono::milliseconds(patience).count())) > 0) {
        char c;
        if (read(ready[0], &c, 1) != 1 || c == '\n') break;
        number += c;
    }
    close(ready[0]);
    if (number.empty()) throw std::runtime_error("Xvfb did not start");
    display_ = std::stoi(number);
}

Vantrel::Vantrel(const std::string& display, const std::string& errorFile)
    : Vantrel(VANTREL_EXECUTABLE, {"DISPLAY=" + display, "WAYLAND_DISPLAY="}, errorFile) {}

Vantrel::Vantrel(const std::string& executable, const std::vector<std::string>& environment,
                 const std::string& errorFile) {
    int toChild[2], fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    pid_ = fork();
    if (pid_ == 0) {
        dup2(toChild[0], 0);
        dup2(fromChild[1], 1);
        int err = open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(err, 2);
        close(toChild[1]);
        close(fromChild[0]);
        execute({executable}, environment);
    }
    close(toChild[0]);
    close(fromChild[1]);
    in_ = toChild[1];
    out_ = fromChild[0];
    signal(SIGPIPE, SIG_IGN);
}

Vantrel::~Vantrel() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitQuietly(pid_);
    }
    if (in_ >= 0) close(in_);
    if (out_ >= 0) close(out_);
}

json Vantrel::request(const json& request) {
    send(request);
    return reply();
}

void Vantrel::send(const json& request) {
    std::string line = request.dump() + "\n";
    if (write(in_, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
        throw std::runtime_error("vantrel's input is closed");
}

json Vantrel::reply() {
    for (;;) {
        size_t end = pending_.find('\n');
        if (end != std::string::npos) {
            json reply = json::parse(pending_.substr(0, end));
            pending_.erase(0, end + 1);
            return reply;
        }
        pollfd wait{out_, POLLIN, 0};
        if (poll(&wait, 1, 120000) <= 0) throw std::runtime_error("vantrel did not answer");
        char buffer[4096];
        ssize_t got = read(out_, buffer, sizeof buffer);
        if (got <= 0) throw std::runtime_error("vantrel ended");
        pending_.append(buffer, static_cast<size_t>(got));
    }
}

int Vantrel::finish() {
    close(in_);
    in_ = -1;
    int status = waitQuietly(pid_);
    pid_ = -1;
    return status;
}

int Vantrel::abandon() {
    close(out_);
    close(in_);
    out_ = in_ = -1;
    int status = waitQuietly(pid_);
    pid_ = -1;
    return status;
}

int Vantrel::stopWith(int signal) {
    kill(pid_, signal);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return WIFSIGNALED(status) ? WTERMSIG(status) : 0;
}

XiObserver::XiObserver(const XServer& server, Vantrel& vantrel, const std::string& dir)
    : vantrel_(vantrel), file_(dir + "/xi2.txt") {
    for (const auto& [keycode, name] : keysymNames(server))
        if (name == "F12") sentinelKey_ = keycode;
    process_ = Process({"stdbuf", "-oL", "xinput", "test-xi2", "--root"}, {server.env()}, file_);
    // The observer has selected its events once a sentinel key shows up.
    auto deadline = std::chrono::steady_clock::now() + patience;
    while (std::chrono::steady_clock::now() < deadline) {
        vantrel_.request({{"action", "key"}, {"text", "f12"}});
        std::this_thread::sleep_for(100ms);
        for (const XiEvent& event : parse(0))
            if (event.name == "RawKeyRelease" && event.detail == sentinelKey_) return;
    }
    throw std::runtime_error("xinput did not start observing");
}

std::vector<XiEvent> XiObserver::parse(size_t from) {
    std::string text = readFile(file_);
    std::istringstream lines(text.substr(std::min(from, text.size())));
    std::vector<XiEvent> events;
    for (std::string line; std::getline(lines, line);) {
        size_t at = line.find_first_not_of(' ');
        if (at == std::string::npos) continue;
        std::string_view trimmed(line.c_str() + at);
        if (trimmed.rfind("EVENT type ", 0) == 0) {
            XiEvent event;
            event.type = std::atoi(line.c_str() + at + 11);
            size_t open = line.find('('), close = line.find(')');
            if (open != std::string::npos && close != std::string::npos)
                event.name = line.substr(open + 1, close - open - 1);
            events.push_back(event);
        } else if (!events.empty()) {
            XiEvent& event = events.back();
            if (trimmed.rfind("device: ", 0) == 0) {
                std::sscanf(trimmed.data(), "device: %d (%d)", &event.device, &event.source);
            } else if (trimmed.rfind("detail: ", 0) == 0) {
                event.detail = std::atoi(trimmed.data() + 8);
            } else if (trimmed.rfind("root: ", 0) == 0) {
                std::sscanf(trimmed.data(), "root: %lf/%lf", &event.x, &event.y);
            } else if (trimmed.rfind("time: ", 0) == 0) {
                event.time = std::atol(trimmed.data() + 6);
            } else if (trimmed.rfind("buttons:", 0) == 0) {
                std::istringstream numbers(std::string(trimmed.substr(8)));
                for (int button; numbers >> button;)
                    event.buttons.push_back(button);
            } else if (trimmed.rfind("modifiers:", 0) == 0) {
                size_t effective = trimmed.find("effective: ");
                if (effective != std::string::npos)
                    event.modifiers =
                        static_cast<int>(std::strtol(trimmed.data() + effective + 11, nullptr, 0));
            }
        }
    }
    return events;
}

std::vector<XiEvent> XiObserver::during(const std::vector<json>& requests) {
    size_t from = readFile(file_).size();
    for (const json& request : requests) {
        json reply = vantrel_.request(request);
        if (reply.value("ok", false) != true)
            throw std::runtime_error("request failed: " + reply.dump());
    }
    vantrel_.request({{"action", "key"}, {"text", "f12"}});
    auto deadline = std::chrono::steady_clock::now() + patience;
    while (std::chrono::steady_clock::now() < deadline) {
        std::vector<XiEvent> events = parse(from);
        for (size_t i = 0; i < events.size(); ++i) {
            if (events[i].name != "RawKeyRelease" || events[i].detail != sentinelKey_) continue;
            // The events before the sentinel's press are the requests' own.
            size_t end = i;
            while (end > 0 && !(events[end - 1].name == "RawKeyPress" &&
                                events[end - 1].detail == sentinelKey_))
                --end;
            events.resize(end > 0 ? end - 1 : 0);
            return events;
        }
        std::this_thread::sleep_for(20ms);
    }
    throw std::runtime_error("the sentinel key never arrived");
}

std::map<int, std::string> keysymNames(const XServer& server) {
    std::map<int, std::string> names;
    std::istringstream lines(capture({"xmodmap", "-pke"}, {server.env()}));
    for (std::string line; std::getline(lines, line);) {
        int keycode = 0;
        char name[128] = {};
        if (std::sscanf(line.c_str(), "keycode %d = %127s", &keycode, name) == 2)
            names[keycode] = name;
    }
    return names;
}

std::set<int> buttonsDown(const XServer& server) {
    std::set<int> down;
    std::istringstream lines(
        capture({"xinput", "query-state", "Virtual core XTEST pointer"}, {server.env()}));
    for (std::string line; std::getline(lines, line);) {
        int button = 0;
        if (line.find("]=down") != std::string::npos &&
            std::sscanf(line.c_str(), " button[%d]", &button) == 1)
            down.insert(button);
    }
    return down;
}

std::string keymapDump(const XServer& server) {
    return capture({"xmodmap", "-pke"}, {server.env()});
}

bool eventually(const std::function<bool()>& done) {
    auto deadline = std::chrono::steady_clock::now() + patience;
    while (std::chrono::steady_clock::now() < deadline) {
        if (done()) return true;
        std::this_thread::sleep_for(20ms);
    }
    return done();
}

std::set<int> keysDown(const XServer& server) {
    std::set<int> down;
    std::istringstream lines(
        capture({"xinput", "query-state", "Virtual core XTEST keyboard"}, {server.env()}));
    for (std::string line; std::getline(lines, line);) {
        int keycode = 0;
        if (line.find("]=down") != std::string::npos &&
            std::sscanf(line.c_str(), " key[%d]", &keycode) == 1)
            down.insert(keycode);
    }
    return down;
}

std::pair<int, int> mouseLocation(const XServer& server) {
    std::string out = capture({"xdotool", "getmouselocation"}, {server.env()});
    int x = -1, y = -1;
    std::sscanf(out.c_str(), "x:%d y:%d", &x, &y);
    return {x, y};
}

std::string utf8(char32_t c) {
    std::string out;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

TextClient::TextClient(const XServer& server, Vantrel& vantrel, const std::string& dir)
    : file_(dir + "/typed.txt") {
    std::string ready = dir + "/ready";
    process_ = Process({"xterm", "-u8", "-geometry", "100x30+0+0", "-e", "sh", "-c",
                        "stty raw -echo; : > '" + ready + "'; exec cat > '" + file_ + "'"},
                       {server.env(), "LANG=C.UTF-8", "LC_ALL=C.UTF-8"});
    capture({"xdotool", "search", "--sync", "--onlyvisible", "--class", "xterm"}, {server.env()});
    auto deadline = std::chrono::steady_clock::now() + patience;
    struct stat info {};
    while (stat(ready.c_str(), &info) != 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    // With no window manager the focus follows the pointer.
    vantrel.request({{"action", "mouse_move"}, {"x", 200}, {"y", 150}});
}

std::string TextClient::received(size_t bytes) {
    auto deadline = std::chrono::steady_clock::now() + patience;
    std::string text;
    while (std::chrono::steady_clock::now() < deadline) {
        text = readFile(file_);
        if (text.size() >= bytes) break;
        std::this_thread::sleep_for(20ms);
    }
    return text;
}

} // namespace vantrel::testing

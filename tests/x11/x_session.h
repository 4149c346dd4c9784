#pragma once
// What the X11 end-to-end tests start and stop: a private Xvfb on a free display, vantrel on it,
// and independent X clients that observe what arrived. Everything started here is stopped by a
// destructor, also when a test fails.

#include <nlohmann/json.hpp>

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vantrel::testing {

using nlohmann::json;

// A child process in its own process group; the whole group is ended on destruction.
class Process {
  public:
    Process() = default;
    // Runs argv with extra "NAME=value" environment entries; standard output and error go to
    // `output` (a file path) or /dev/null when it is empty.
    Process(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
            const std::string& output = {});
    Process(Process&& other) noexcept;
    Process& operator=(Process&& other) noexcept;
    ~Process();

    // SIGTERM to the group, then SIGKILL if it lingers; waits for the child.
    void stop();
    // A signal to the child alone (SIGSTOP freezes it, SIGCONT thaws it).
    void signal(int number);
    bool running();

  private:
    int pid_ = -1;
};

// Runs a command to its end and returns its standard output.
std::string capture(const std::vector<std::string>& argv,
                    const std::vector<std::string>& environment);

// A scratch directory removed with everything in it.
struct TempDir {
    TempDir();
    ~TempDir();
    std::string path;
};

// Xvfb on a display it picks itself (-displayfd), or on a given one.
class XServer {
  public:
    explicit XServer(std::optional<int> display = std::nullopt);
    std::string name() const { return ":" + std::to_string(display_); }
    std::string env() const { return "DISPLAY=" + name(); }
    int number() const { return display_; }
    void stop() { process_.stop(); }
    void signal(int number) { process_.signal(number); }

  private:
    Process process_;
    int display_ = -1;
};

// vantrel on a display, spoken to through pipes; its standard error is kept to check it stays
// empty.
class Vantrel {
  public:
    Vantrel(const std::string& display, const std::string& errorFile);
    // Another build of vantrel, with its own environment entries ("NAME=value").
    Vantrel(const std::string& executable, const std::vector<std::string>& environment,
            const std::string& errorFile);
    ~Vantrel();
    json request(const json& request);
    // A request without waiting for its reply, and the next reply.
    void send(const json& request);
    json reply();
    // Ends its input and waits; returns the exit status.
    int finish();
    // Sends a signal and waits; returns the signal that ended it (0 if it exited).
    int stopWith(int signal);
    // Closes both of its pipes at once, as the system does for a driver that is killed, and
    // waits; returns the exit status.
    int abandon();

  private:
    int pid_ = -1, in_ = -1, out_ = -1;
    std::string pending_;
};

// One event as `xinput test-xi2 --root` prints it.
struct XiEvent {
    int type = 0;
    std::string name;
    int device = 0, source = 0, detail = 0;
    double x = 0, y = 0;
    long time = 0;
    std::vector<int> buttons;
    int modifiers = -1; // effective modifiers, for device events
    bool raw() const { return name.rfind("Raw", 0) == 0; }
    bool master() const { return !raw() && device != source; }
};

// The XI2 observer on the root window; `until` runs vantrel's requests and collects what the
// server delivered for them.
class XiObserver {
  public:
    XiObserver(const XServer& server, Vantrel& vantrel, const std::string& dir);
    // Events delivered for `requests`, ended by a sentinel move that proves all have arrived.
    std::vector<XiEvent> during(const std::vector<json>& requests);

  private:
    std::vector<XiEvent> parse(size_t from);
    Vantrel& vantrel_;
    std::string file_;
    Process process_;
    int sentinelKey_ = 0;
};

// The first keysym name of each keycode, as xmodmap prints the server's keymap.
std::map<int, std::string> keysymNames(const XServer& server);

// The keycodes the XTEST keyboard holds down now, as xinput reads them.
std::set<int> keysDown(const XServer& server);

// The buttons the XTEST pointer holds down now, as xinput reads them.
std::set<int> buttonsDown(const XServer& server);

// The whole keymap as xmodmap prints it, for comparing before and after.
std::string keymapDump(const XServer& server);

// One code point in UTF-8.
std::string utf8(char32_t c);

// Polls `done` every 20 ms until it holds or the patience of these tests runs out.
bool eventually(const std::function<bool()>& done);

// The pointer position as xdotool reads it.
std::pair<int, int> mouseLocation(const XServer& server);

// An xterm in a UTF-8 locale running `cat` in raw mode into a file, at the top left of the
// screen; the pointer is put over it so that it has the keyboard focus.
class TextClient {
  public:
    TextClient(const XServer& server, Vantrel& vantrel, const std::string& dir);
    // Waits until `bytes` bytes have arrived (or a generous time passed) and returns them.
    std::string received(size_t bytes);

  private:
    std::string file_;
    Process process_;
};

} // namespace vantrel::testing

// End to end on the desktops that do not offer wlroots' protocols, headless:
//
// - KWin, KDE's compositor, with a virtual output. KWin offers its fake input device only to
//   programs a desktop file allows by their executable: each compositor here reads desktop files
//   from a data folder of its own, which names the vantrel under test. Its executable is a copy
//   of the installed one, which carries a file capability a container may refuse to run.
// - mutter, GNOME's compositor, with a virtual monitor, on a session bus of its own and with
//   PipeWire, which its screen casts (and so absolute motion) need.
// - gnome-shell, which is mutter with GNOME's shell: it also needs a stand-in for the system
//   bus, and starts the IBus daemon that carries text the layout lacks.
//
// wev observes pointer and key events; GTK entries (zenity's, and a GTK 4 one), foot and a
// Chromium textarea show what text arrives. One compositor serves each group of tests; a test
// leaves its clients stopped.

#include "x11/browser.h"
#include "x11/x_session.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

namespace vantrel::testing {
namespace {

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool installed(const std::string& tool) {
    return !capture({"sh", "-c", "command -v " + tool}, {}).empty();
}

class KWin {
  public:
    static bool available() { return installed("kwin_wayland") && installed("wev"); }
    KWin(const std::string& dir, const std::vector<std::string>& extra = {})
        : dir_(dir), runtime_(dir + "/run") {
        mkdir(runtime_.c_str(), 0700);
        mkdir((dir + "/bin").c_str(), 0755);
        mkdir((dir + "/data").c_str(), 0755);
        mkdir((dir + "/data/applications").c_str(), 0755);
        // KWin loads its own platform plugin only into an executable named kwin_wayland.
        capture({"cp", "/usr/bin/kwin_wayland", dir + "/bin/kwin_wayland"}, {});
        std::ofstream(dir + "/data/applications/vantrel-test.desktop")
            << "[Desktop Entry]\nType=Application\nName=vantrel\nNoDisplay=true\n"
            << "Exec=" << VANTREL_EXECUTABLE << "\n"
            << "X-KDE-Wayland-Interfaces=org_kde_kwin_fake_input\n";
        std::vector<std::string> environment = {"XDG_RUNTIME_DIR=" + runtime_,
                                                "XDG_DATA_HOME=" + dir + "/data", "HOME=" + dir,
                                                "WAYLAND_DISPLAY=", "DISPLAY="};
        environment.insert(environment.end(), extra.begin(), extra.end());
        process_ = Process({dir + "/bin/kwin_wayland", "--virtual", "--socket", "kwin-test",
                            "--width", "1280", "--height", "800"},
                           environment, dir + "/kwin.log");
        if (!eventually([&] {
                struct stat info {};
                return stat((runtime_ + "/kwin-test").c_str(), &info) == 0;
            }))
            throw std::runtime_error("KWin did not start: " + readAll(dir + "/kwin.log"));
    }
    std::vector<std::string> environment() const {
        return {"XDG_RUNTIME_DIR=" + runtime_, "WAYLAND_DISPLAY=kwin-test", "DISPLAY=",
                "GDK_BACKEND=wayland",         "QT_QPA_PLATFORM=wayland",   "HOME=" + dir_};
    }
    Process client(const std::vector<std::string>& argv, const std::string& output) const {
        return Process(argv, environment(), dir_ + "/" + output);
    }

  private:
    std::string dir_, runtime_;
    Process process_;
};

// mutter as GNOME runs it, without the shell: a private session bus, PipeWire, then mutter, ready
// once it owns its remote desktop name on that bus. With the shell (GnomeShell below), a stand-in
// system bus as well, and gnome-shell in mutter's place.
class Mutter {
  public:
    static bool available() {
        for (const char* tool : {"mutter", "pipewire", "dbus-daemon", "dbus-send", "wev"})
            if (!installed(tool)) return false;
        return true;
    }
    ~Mutter() {
        if (!shell_) return;
        mutter_.stop();
        stopIBus();
    }
    Mutter(const Mutter&) = delete;
    Mutter& operator=(const Mutter&) = delete;
    explicit Mutter(const std::string& dir, bool shell = false)
        : dir_(dir), runtime_(dir + "/run"), shell_(shell) {
        mkdir(runtime_.c_str(), 0700);
        if (shell_)
            system_ =
                Process({"dbus-daemon", "--session", "--address=unix:path=" + runtime_ + "/system",
                         "--nofork", "--nopidfile"},
                        base(), dir + "/system-bus.log");
        bus_ = Process({"dbus-daemon", "--session", "--address=unix:path=" + runtime_ + "/bus",
                        "--nofork", "--nopidfile"},
                       base(), dir + "/dbus.log");
        if (!eventually([&] {
                struct stat info {};
                return stat((runtime_ + "/bus").c_str(), &info) == 0;
            }))
            throw std::runtime_error("the session bus did not start: " +
                                     readAll(dir + "/dbus.log"));
        pipewire_ = Process({"pipewire"}, base(), dir + "/pipewire.log");
        start();
    }
    // mutter alone, as when it restarts inside a session that stays.
    void restart() {
        mutter_.stop();
        unlink((runtime_ + "/mutter-test").c_str());
        unlink((runtime_ + "/mutter-test.lock").c_str());
        start();
    }
    void start() {
        std::vector<std::string> environment = base();
        // Pointer events during a window's opening animation land scaled.
        environment.push_back("MUTTER_DEBUG_DISABLE_ANIMATIONS=1");
        // With its Xwayland, started when an X client first connects, as in a GNOME session.
        std::vector<std::string> argv = {"mutter",    "--headless",
                                         "--wayland", "--virtual-monitor",
                                         "1280x800",  "--wayland-display=mutter-test"};
        if (shell_) {
            // gnome-shell dies without logind on the system bus unless it has a bus to ask.
            environment.push_back("DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + runtime_ + "/system");
            argv[0] = "gnome-shell";
            argv.push_back("--no-x11");
        }
        for (int attempt = 1;; ++attempt) {
            if (shell_) freshIBusFolder();
            mutter_ = Process(argv, environment, dir_ + "/mutter.log");
            if (!eventually([&] {
                    return capture({"dbus-send", "--session", "--print-reply",
                                    "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                                    "org.freedesktop.DBus.NameHasOwner",
                                    "string:org.gnome.Mutter.RemoteDesktop"},
                                   base())
                               .find("boolean true") != std::string::npos;
                }))
                throw std::runtime_error("mutter did not start: " + readAll(dir_ + "/mutter.log"));
            if (!shell_ || shellSettled()) return;
            // Now and then (about one start in twenty here) gnome-shell stalls at start for
            // minutes, before its IBus daemon has an engine: it is started afresh.
            if (attempt == 3)
                throw std::runtime_error("gnome-shell's IBus has no engine: " +
                                         readAll(dir_ + "/mutter.log"));
            mutter_.stop();
            unlink((runtime_ + "/mutter-test").c_str());
            unlink((runtime_ + "/mutter-test.lock").c_str());
        }
    }
    // The engine of the IBus daemon gnome-shell started, as IBus's own command names it.
    std::string ibusEngine() const {
        // Bounded: the command waits for its daemon without limit.
        std::string name = capture({"timeout", "5", "ibus", "engine"}, environment());
        while (!name.empty() && name.back() == '\n')
            name.pop_back();
        return name;
    }
    std::vector<std::string> environment() const {
        std::vector<std::string> all = base();
        all.insert(all.end(), {"WAYLAND_DISPLAY=mutter-test", "GDK_BACKEND=wayland"});
        return all;
    }
    Process client(const std::vector<std::string>& argv, const std::string& output) const {
        return Process(argv, environment(), dir_ + "/" + output);
    }
    // What an X client of mutter's Xwayland needs: the display mutter chose, and the
    // authority file it made.
    std::vector<std::string> xwaylandEnvironment() const {
        std::string log = readAll(dir_ + "/mutter.log");
        size_t at = log.find("Using public X11 display ");
        if (at == std::string::npos) return {};
        std::string display = log.substr(at + 25, log.find(',', at) - at - 25);
        std::string authority =
            capture({"sh", "-c", "ls " + runtime_ + "/.mutter-Xwaylandauth.*"}, {});
        while (!authority.empty() && authority.back() == '\n')
            authority.pop_back();
        return {"DISPLAY=" + display, "XAUTHORITY=" + authority};
    }

  private:
    std::vector<std::string> base() const {
        return {"XDG_RUNTIME_DIR=" + runtime_, "HOME=" + dir_,
                "DBUS_SESSION_BUS_ADDRESS=unix:path=" + runtime_ + "/bus",
                "WAYLAND_DISPLAY=", "DISPLAY="};
    }
    // gnome-shell is ready for text once its IBus daemon has an engine; it opens the overview at
    // start, whose search field would take the keyboard, so that is closed.
    // gnome-shell's IBus client watches the daemon's address file: a folder that is not there
    // yet, or the file a killed daemon left, delayed it by minutes now and then. A desktop
    // session has the folder; a daemon that ended has no file.
    void freshIBusFolder() {
        stopIBus();
        capture({"rm", "-rf", dir_ + "/.config/ibus/bus"}, {});
        capture({"mkdir", "-p", dir_ + "/.config/ibus/bus"}, {});
    }
    // The IBus daemon gnome-shell starts makes a process group of its own, which stopping
    // gnome-shell leaves running: it is stopped by the pid its address file names, with its group
    // (its engines).
    void stopIBus() {
        std::string files =
            capture({"sh", "-c", "cat " + dir_ + "/.config/ibus/bus/* 2>/dev/null"}, {});
        std::istringstream lines(files);
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("IBUS_DAEMON_PID=", 0) != 0) continue;
            int pid = std::atoi(line.c_str() + 16);
            if (pid <= 1) continue;
            kill(-pid, SIGTERM);
            kill(pid, SIGTERM);
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            kill(-pid, SIGKILL);
            kill(pid, SIGKILL);
        }
    }
    bool shellSettled() {
        if (!eventually([&] { return ibusEngine().find(':') != std::string::npos; })) return false;
        capture({"dbus-send", "--session", "--print-reply", "--dest=org.gnome.Shell",
                 "/org/gnome/Shell", "org.freedesktop.DBus.Properties.Set",
                 "string:org.gnome.Shell", "string:OverviewActive", "variant:boolean:false"},
                base());
        return true;
    }
    std::string dir_, runtime_;
    bool shell_ = false;
    Process bus_, system_, pipewire_, mutter_;
};

class GnomeShell : public Mutter {
  public:
    static bool available() {
        return Mutter::available() && installed("gnome-shell") && installed("ibus");
    }
    explicit GnomeShell(const std::string& dir) : Mutter(dir, true) {}
};

// What wev saw, through the first object of each kind: wev binds a new keyboard and pointer each
// time the seat announces them again, and each of them reports the same events.
struct Observed {
    std::vector<std::string> pressedText; // utf8 of each key pressed
    std::vector<std::string> keysPressed; // its keysym names
    std::vector<std::string> keysReleased;
    std::vector<std::string> motions;   // "x, y" in surface coordinates
    std::vector<std::string> buttons;   // "272 pressed" and so on
    std::vector<std::string> pressedAt; // the last motion before each press
    std::vector<std::string> axes;      // the value of each axis event
    bool keyboardEntered = false, keyboardLeft = false;
};

Observed observed(const std::string& log) {
    Observed seen;
    std::map<std::string, std::string> first; // kind → object id
    std::string object, kind;
    bool pressed = false;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("[", 0) == 0) {
            size_t colon = line.find(':'), close = line.find(']');
            if (colon == std::string::npos || close == std::string::npos) continue;
            object = line.substr(1, colon - 1);
            size_t start = line.find_first_not_of(' ', colon + 1);
            kind = line.substr(start, close - start);
            if (kind != "wl_keyboard" && kind != "wl_pointer") continue;
            std::string body = line.substr(close + 2);
            // The first object of its kind that reported anything is the one read.
            if (!first.count(kind)) first[kind] = object;
            if (first[kind] != object) {
                kind.clear();
                continue;
            }
            if (kind == "wl_keyboard" && body.rfind("enter:", 0) == 0) seen.keyboardEntered = true;
            if (kind == "wl_keyboard" && body.rfind("leave:", 0) == 0) seen.keyboardLeft = true;
            if (kind == "wl_keyboard" && body.rfind("key:", 0) == 0)
                pressed = body.find("(pressed)") != std::string::npos;
            if (kind == "wl_pointer" && body.rfind("motion:", 0) == 0)
                seen.motions.push_back(body.substr(body.find("x, y: ") + 6));
            if (kind == "wl_pointer" && body.rfind("button:", 0) == 0) {
                size_t at = body.find("button: ", 8) + 8;
                bool down = body.find("(pressed)") != body.npos;
                seen.buttons.push_back(body.substr(at, 3) + (down ? " pressed" : " released"));
                if (down) seen.pressedAt.push_back(seen.motions.empty() ? "" : seen.motions.back());
            }
            if (kind == "wl_pointer" && body.rfind("axis:", 0) == 0)
                seen.axes.push_back(body.substr(body.find("value: ") + 7));
        } else if (kind == "wl_keyboard" && !pressed && line.find("sym: ") != std::string::npos) {
            size_t sym = line.find("sym: ") + 5;
            seen.keysReleased.push_back(line.substr(sym, line.find(' ', sym) - sym));
        } else if (kind == "wl_keyboard" && pressed && line.find("sym: ") != std::string::npos) {
            size_t sym = line.find("sym: ") + 5;
            seen.keysPressed.push_back(line.substr(sym, line.find(' ', sym) - sym));
            size_t utf8 = line.find("utf8: '");
            if (utf8 != std::string::npos)
                seen.pressedText.push_back(line.substr(utf8 + 7, line.rfind('\'') - utf8 - 7));
        }
    }
    return seen;
}

std::string joined(const std::vector<std::string>& parts) {
    std::string all;
    for (const std::string& part : parts)
        all += part;
    return all;
}

json ok(int64_t id) {
    return {{"id", id}, {"ok", true}};
}

// Chromium counts clicks by time and place, as Wayland's pointer events carry no click number:
// three separate left clicks each count as a first click, and a double and a triple click count
// 1, 2 and 1, 2, 3. Chromium runs full screen, so the page's points are the desktop's.
void expectSeparateClicksNotMerged(Vantrel& v, const std::vector<std::string>& environment,
                                   const std::string& dir) {
    std::string profile = dir + "/click-browser";
    mkdir(profile.c_str(), 0700);
    Browser browser(environment, {"--ozone-platform=wayland", "--kiosk"},
                    std::string(VANTREL_PAGES) + "/record.html", profile);
    EXPECT_EQ(v.request({{"id", 1}, {"action", "mouse_move"}, {"x", 300}, {"y", 600}}),
              (json{{"id", 1}, {"ok", true}}));
    browser.evaluate("presses = []; true");
    int id = 2;
    for (const char* action :
         {"left_click", "left_click", "left_click", "double_click", "triple_click"}) {
        json request = {{"id", id}, {"action", action}, {"x", 300}, {"y", 600}, {"durationMs", -1}};
        EXPECT_EQ(v.request(request), (json{{"id", id++}, {"ok", true}}));
        std::this_thread::sleep_for(std::chrono::milliseconds(240));
    }
    json presses;
    eventually([&] {
        presses = browser.evaluate("presses.map(p => p.detail)");
        return presses.size() >= 8;
    });
    EXPECT_EQ(presses, (json{1, 1, 1, 1, 2, 1, 2, 3}));
}

// Text of the layout arrives in a Chromium textarea byte for byte; text the layout lacks is
// refused without any of it arriving, or, where the desktop has a route for it (`anyText`),
// arrives as well.
void expectTextInABrowser(Vantrel& v, const std::vector<std::string>& environment,
                          const std::string& dir, bool anyText) {
    // A profile of its own: a browser of an earlier test may still hold its folder.
    std::string profile = dir + "/text-browser";
    mkdir(profile.c_str(), 0700);
    Browser browser(environment, {"--ozone-platform=wayland", "--kiosk"},
                    std::string(VANTREL_PAGES) + "/record.html", profile);
    EXPECT_EQ(v.request({{"id", 1}, {"action", "left_click"}, {"x", 300}, {"y", 100}}),
              (json{{"id", 1}, {"ok", true}}));
    std::string text = "Pack my box with five dozen liquor jugs! {[(1+2)*3]} <a|b> ~`@#$%^&_=\\/?";
    json lacking = v.request({{"id", 2}, {"action", "type"}, {"text", "x\u00e9"}});
    if (anyText) {
        EXPECT_EQ(lacking, (json{{"id", 2}, {"ok", true}}));
    } else {
        EXPECT_EQ(lacking["error"], "cannot type text");
    }
    EXPECT_EQ(v.request({{"id", 3}, {"action", "type"}, {"text", text}}),
              (json{{"id", 3}, {"ok", true}}));
    if (anyText) text = "x\u00e9" + text;
    std::string value;
    eventually([&] {
        value = browser.evaluate("document.getElementById('text').value").get<std::string>();
        return value.size() >= text.size();
    });
    EXPECT_EQ(value, text);
}

// One compositor for a group of tests: started before the group's first test, stopped after its
// last; the group is skipped where the compositor or its observer is not installed.
template <typename Compositor> class CompositorTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (!Compositor::available()) return;
        dir_ = new TempDir;
        try {
            compositor_ = new Compositor(dir_->path);
        } catch (const std::exception& failure) {
            startFailure_ = failure.what();
        }
    }
    static void TearDownTestSuite() {
        delete compositor_;
        delete dir_;
        compositor_ = nullptr, dir_ = nullptr;
    }
    void SetUp() override {
        // A compositor that is installed but does not start fails its tests.
        if (!startFailure_.empty()) FAIL() << startFailure_;
        if (!compositor_) GTEST_SKIP() << "the compositor, its session or wev is not installed";
    }
    Vantrel vantrel(const std::string& executable = VANTREL_EXECUTABLE) {
        return Vantrel(executable, compositor_->environment(), path("vantrel.err"));
    }
    // wev, with vantrel connected and wev's window focused.
    Process observer(Vantrel& v, const std::string& log) {
        Process wev = compositor_->client({"stdbuf", "-oL", "wev"}, log);
        EXPECT_TRUE(eventually(
            [&] { return readAll(path(log)).find("xdg_toplevel") != std::string::npos; }));
        EXPECT_EQ(v.request({{"id", 0}, {"action", "probe"}}).value("trusted", false), true);
        EXPECT_TRUE(eventually([&] { return observed(readAll(path(log))).keyboardEntered; }));
        return wev;
    }
    // foot running a raw `cat` into `name`-typed.txt, with the keyboard taken from a wev
    // opened before it: what its shell reads is what vantrel typed, byte for byte.
    struct Terminal {
        Process wev, foot;
        std::string out;
    };
    Terminal terminal(Vantrel& v, const std::string& name) {
        std::string log = "before-" + name + ".log", out = path(name + "-typed.txt");
        Process wev = observer(v, log);
        Process foot = compositor_->client(
            {"foot", "sh", "-c", "stty raw -echo; exec cat > " + out}, name + "-foot.log");
        EXPECT_TRUE(eventually([&] { return observed(readAll(path(log))).keyboardLeft; }));
        return {std::move(wev), std::move(foot), out};
    }
    // Moves land on exact pixels (two presses' surface coordinates differ by exactly their
    // points' distance), each button arrives as its evdev code, each wheel line as one step of
    // `wheelStep`; keys go through the seat's keymap (a shifted character with Shift, a
    // combination with its modifier, a media key by its keysym).
    void expectPointerAndKeys(const std::string& wheelStep) {
        Vantrel v = vantrel();
        Process wev = observer(v, "pointer-and-keys.log");
        EXPECT_EQ(v.request({{"id", 1}, {"action", "left_click"}, {"x", 700}, {"y", 450}}), ok(1));
        EXPECT_EQ(v.request({{"id", 2}, {"action", "right_click"}, {"x", 713}, {"y", 487}}), ok(2));
        EXPECT_EQ(v.request({{"id", 3}, {"action", "middle_click"}, {"x", 713}, {"y", 487}}),
                  ok(3));
        EXPECT_EQ(v.request({{"id", 4},
                             {"action", "scroll"},
                             {"x", 713},
                             {"y", 487},
                             {"direction", "down"},
                             {"amount", 2}}),
                  ok(4));
        EXPECT_EQ(v.request({{"id", 5}, {"action", "cursor_position"}}),
                  (json{{"id", 5}, {"ok", true}, {"x", 713}, {"y", 487}}));
        EXPECT_EQ(v.request({{"id", 6}, {"action", "type"}, {"text", "Hi @~1"}}), ok(6));
        EXPECT_EQ(v.request({{"id", 7}, {"action", "key"}, {"text", "ctrl+q"}}), ok(7));
        EXPECT_EQ(v.request({{"id", 8}, {"action", "media"}, {"key", 16}}), ok(8));
        EXPECT_EQ(v.request({{"id", 9}, {"action", "type"}, {"text", "."}}), ok(9));
        EXPECT_EQ(v.finish(), 0);
        Observed seen;
        eventually([&] {
            return joined((seen = observed(readAll(path("pointer-and-keys.log")))).pressedText)
                       .find('.') != std::string::npos;
        });
        ASSERT_EQ(seen.pressedAt.size(), 3u);
        auto point = [](const std::string& text) {
            return std::pair<double, double>{std::stod(text),
                                             std::stod(text.substr(text.find(',') + 1))};
        };
        auto [x0, y0] = point(seen.pressedAt[0]);
        auto [x1, y1] = point(seen.pressedAt[1]);
        EXPECT_EQ(x1 - x0, 13.0);
        EXPECT_EQ(y1 - y0, 37.0);
        EXPECT_EQ(seen.buttons,
                  (std::vector<std::string>{"272 pressed", "272 released", "273 pressed",
                                            "273 released", "274 pressed", "274 released"}));
        EXPECT_EQ(seen.axes, (std::vector<std::string>{wheelStep, wheelStep}));
        // ctrl+q arrives as q with Control: wev shows its control character.
        EXPECT_EQ(joined(seen.pressedText), "Hi @~1\x11.");
        EXPECT_NE(std::find(seen.keysPressed.begin(), seen.keysPressed.end(), "XF86AudioPlay"),
                  seen.keysPressed.end());
        EXPECT_EQ(readAll(path("vantrel.err")), "");
    }
    void expectInABrowser(bool anyText = false) {
        if (!browserAvailable()) GTEST_SKIP() << "chromium is not installed (scripts/deps)";
        Vantrel v = vantrel();
        expectSeparateClicksNotMerged(v, compositor_->environment(), dir_->path);
        expectTextInABrowser(v, compositor_->environment(), dir_->path, anyText);
        EXPECT_EQ(v.finish(), 0);
    }
    // `text` is refused whole, naming the characters `missing` (as the detail lists them), and
    // nothing of it reaches wev, which has the keyboard; the text after it arrives.
    void expectRefusedWhole(const std::string& text, const std::string& missing) {
        Vantrel v = vantrel();
        Process wev = observer(v, "refused.log");
        EXPECT_EQ(v.request({{"id", 1}, {"action", "type"}, {"text", text}}),
                  (json{{"id", 1},
                        {"ok", false},
                        {"error", "cannot type text"},
                        {"detail", "the keyboard layout has no key for " + missing}}));
        EXPECT_EQ(v.request({{"id", 2}, {"action", "type"}, {"text", "."}}), ok(2));
        EXPECT_EQ(v.finish(), 0);
        Observed seen;
        eventually([&] {
            return joined((seen = observed(readAll(path("refused.log")))).pressedText).find('.') !=
                   std::string::npos;
        });
        EXPECT_EQ(joined(seen.pressedText), ".");
    }
    // A signal that stops vantrel during a hold: every key it held is released before it ends.
    void expectHoldReleasedBySignal() {
        Vantrel v = vantrel();
        Process wev = observer(v, "hold.log");
        v.send({{"id", 1}, {"action", "hold_key"}, {"text", "ctrl+shift+a"}, {"holdMs", 20000}});
        ASSERT_TRUE(eventually([&] {
            std::vector<std::string> down = observed(readAll(path("hold.log"))).keysPressed;
            return std::find(down.begin(), down.end(), "A") != down.end();
        }));
        EXPECT_EQ(v.stopWith(SIGTERM), SIGTERM);
        Observed seen;
        EXPECT_TRUE(eventually(
            [&] { return (seen = observed(readAll(path("hold.log")))).keysReleased.size() >= 3; }));
        std::sort(seen.keysReleased.begin(), seen.keysReleased.end());
        EXPECT_EQ(seen.keysReleased, (std::vector<std::string>{"A", "Control_L", "Shift_L"}));
    }
    std::string path(const std::string& name) const { return dir_->path + "/" + name; }

    static TempDir* dir_;
    static Compositor* compositor_;
    static std::string startFailure_;
};
template <typename Compositor> TempDir* CompositorTest<Compositor>::dir_ = nullptr;
template <typename Compositor> Compositor* CompositorTest<Compositor>::compositor_ = nullptr;
template <typename Compositor> std::string CompositorTest<Compositor>::startFailure_;

using KWinTest = CompositorTest<KWin>;
using GnomeTest = CompositorTest<Mutter>;

// A vantrel that no desktop file names is refused, and told what KWin needs; nothing it does
// reaches the compositor.
TEST_F(KWinTest, WithoutADesktopFileVantrelIsRefusedAndToldWhatKWinNeeds) {
    std::string copy = path("elsewhere-vantrel");
    capture({"cp", VANTREL_EXECUTABLE, copy}, {});
    Vantrel v = vantrel(copy);
    json refused = v.request({{"id", 1}, {"action", "key"}, {"text", "a"}});
    EXPECT_EQ(refused["ok"], false);
    std::string detail = refused.value("detail", "");
    EXPECT_NE(detail.find("kde: KWin does not offer org_kde_kwin_fake_input"), std::string::npos)
        << detail;
    EXPECT_NE(detail.find("desktop file"), std::string::npos) << detail;
    EXPECT_EQ(v.request({{"id", 2}, {"action", "probe"}}).value("trusted", true), false);
    EXPECT_EQ(v.finish(), 0);
}

// KWin's fake axis has no discrete steps: a wheel line is 15, as libinput gives a wheel step.
TEST_F(KWinTest, PointerButtonsWheelAndKeysArriveExactly) {
    expectPointerAndKeys("15.000000");
}

// Text with a character the layout lacks is refused whole, before anything of it is pressed.
TEST_F(KWinTest, TextTheLayoutLacksIsRefusedWhole) {
    expectRefusedWhole("xy\u00e9z\u4e2d", "\u00e9, \u4e2d");
}

// KWin 5.27 keeps the keys of a program that leaves holding them: vantrel stopped by a signal
// during a hold releases them itself.
TEST_F(KWinTest, ASignalDuringAHoldReleasesWhatWasHeld) {
    expectHoldReleasedBySignal();
}

TEST_F(KWinTest, ChromiumCountsSeparateClicksApartAndGetsTextExactly) {
    expectInABrowser();
}

// zenity's GTK entry: what arrives is what was typed, byte for byte, and it submits on Return.
TEST_F(KWinTest, TextArrivesExactlyInAGtkEntry) {
    if (!installed("zenity")) GTEST_SKIP() << "no zenity";
    Vantrel v = vantrel();
    // wev has the keyboard until the entry's window takes it.
    Process wev = observer(v, "before-zenity.log");
    Process entry = compositor_->client({"zenity", "--entry", "--text", "type"}, "zenity.out");
    ASSERT_TRUE(
        eventually([&] { return observed(readAll(path("before-zenity.log"))).keyboardLeft; }));
    std::string text = "The quick brown fox, 1 + 2 = 3; {[(<|>)]} \"'`~!?#$%^&*_\\/";
    EXPECT_EQ(v.request({{"id", 5}, {"action", "type"}, {"text", text}}), ok(5));
    EXPECT_EQ(v.request({{"id", 6}, {"action", "key"}, {"text", "return"}}), ok(6));
    EXPECT_TRUE(eventually([&] { return !entry.running(); }));
    EXPECT_EQ(readAll(path("zenity.out")), text + "\n");
    EXPECT_EQ(v.finish(), 0);
}

// A Qt 5 dialog on KWin decodes keys with the seat's keymap as GTK does.
TEST_F(KWinTest, TextArrivesExactlyInAQtDialog) {
    if (!installed("kdialog")) GTEST_SKIP() << "no kdialog";
    Vantrel v = vantrel();
    Process wev = observer(v, "before-kdialog.log");
    Process dialog = compositor_->client({"kdialog", "--inputbox", "type"}, "kdialog.out");
    ASSERT_TRUE(
        eventually([&] { return observed(readAll(path("before-kdialog.log"))).keyboardLeft; }));
    std::string text = "The quick brown fox, 1 + 2 = 3; {[(<|>)]} \"'`~!?#$%^&*_\\/";
    EXPECT_EQ(v.request({{"id", 1}, {"action", "type"}, {"text", text}}), ok(1));
    EXPECT_EQ(v.request({{"id", 2}, {"action", "key"}, {"text", "return"}}), ok(2));
    EXPECT_TRUE(eventually([&] { return !dialog.running(); }));
    EXPECT_EQ(readAll(path("kdialog.out")), text + "\n");
    EXPECT_EQ(v.finish(), 0);
}

// With a German layout, KWin decodes keys as German: z and y swap places, and @, € and | are on
// the third level (AltGr).
TEST(KWinGerman, CharactersOnEveryLevelOfTheLayoutArrive) {
    if (!installed("kwin_wayland") || !installed("wev")) GTEST_SKIP() << "no kwin_wayland or wev";
    TempDir dir;
    KWin kwin(dir.path, {"XKB_DEFAULT_LAYOUT=de"});
    Vantrel v(VANTREL_EXECUTABLE, kwin.environment(), dir.path + "/vantrel.err");
    Process wev = kwin.client({"stdbuf", "-oL", "wev"}, "wev.log");
    EXPECT_TRUE(eventually(
        [&] { return readAll(dir.path + "/wev.log").find("xdg_toplevel") != std::string::npos; }));
    EXPECT_EQ(v.request({{"id", 0}, {"action", "probe"}}).value("trusted", false), true);
    EXPECT_TRUE(
        eventually([&] { return observed(readAll(dir.path + "/wev.log")).keyboardEntered; }));
    std::string text = "zy@\u20ac|\u00e4\u00df\u00b5Z.";
    EXPECT_EQ(v.request({{"id", 1}, {"action", "type"}, {"text", text}}), ok(1));
    EXPECT_EQ(v.finish(), 0);
    Observed seen;
    eventually([&] {
        return joined((seen = observed(readAll(dir.path + "/wev.log"))).pressedText).find('.') !=
               std::string::npos;
    });
    EXPECT_EQ(joined(seen.pressedText), text);
    EXPECT_EQ(readAll(dir.path + "/vantrel.err"), "");
}

// mutter's remote desktop session: moves through the monitor's screen cast, a wheel line as one
// discrete step (10 to its clients).
TEST_F(GnomeTest, PointerButtonsWheelAndKeysArriveExactly) {
    expectPointerAndKeys("10.000000");
}

// Plain mutter has no route for text the layout lacks: such text is refused whole, and nothing
// of it arrives; a GTK entry gets the rest byte for byte.
TEST_F(GnomeTest, TextOfTheLayoutArrivesInAGtkEntryAndOtherTextIsRefusedWhole) {
    if (!installed("zenity")) GTEST_SKIP() << "no zenity";
    Vantrel v = vantrel();
    Process wev = observer(v, "before-zenity.log");
    Process entry = compositor_->client({"zenity", "--entry", "--text", "type"}, "zenity.out");
    ASSERT_TRUE(
        eventually([&] { return observed(readAll(path("before-zenity.log"))).keyboardLeft; }));
    json refused = v.request({{"id", 1}, {"action", "type"}, {"text", "ab\u00e9c\U0001F600"}});
    EXPECT_EQ(refused, (json{{"id", 1},
                             {"ok", false},
                             {"error", "cannot type text"},
                             {"detail", "the keyboard layout has no key for \u00e9, \U0001F600"}}));
    std::string text = "The quick brown fox, 1 + 2 = 3; {[(<|>)]} \"'`~!?#$%^&*_\\/";
    EXPECT_EQ(v.request({{"id", 2}, {"action", "type"}, {"text", text}}), ok(2));
    EXPECT_EQ(v.request({{"id", 3}, {"action", "key"}, {"text", "return"}}), ok(3));
    EXPECT_TRUE(eventually([&] { return !entry.running(); }));
    EXPECT_EQ(readAll(path("zenity.out")), text + "\n");
    EXPECT_EQ(v.finish(), 0);
}

// In a GNOME session DISPLAY names mutter's Xwayland, which reaches X clients only: vantrel
// drives the compositor, and a Wayland client receives the text.
TEST_F(GnomeTest, WithDisplayNamingItsXwaylandTheCompositorIsDriven) {
    std::vector<std::string> environment = compositor_->environment();
    std::vector<std::string> x = compositor_->xwaylandEnvironment();
    ASSERT_EQ(x.size(), 2u) << "mutter named no X11 display";
    environment.insert(environment.end(), x.begin(), x.end());
    {
        // The X server is reachable: without WAYLAND_DISPLAY it is what is driven.
        std::vector<std::string> xOnly = environment;
        xOnly.push_back("WAYLAND_DISPLAY=");
        Vantrel x11(VANTREL_EXECUTABLE, xOnly, path("vantrel.err"));
        EXPECT_EQ(x11.request({{"id", 1}, {"action", "version"}}).value("platform", ""), "x11");
        EXPECT_EQ(x11.finish(), 0);
    }
    Vantrel v(VANTREL_EXECUTABLE, environment, path("vantrel.err"));
    EXPECT_EQ(v.request({{"id", 1}, {"action", "version"}}).value("platform", ""), "wayland");
    Process wev = observer(v, "through-xwayland.log");
    EXPECT_EQ(v.request({{"id", 2}, {"action", "type"}, {"text", "hi."}}), ok(2));
    EXPECT_EQ(v.finish(), 0);
    Observed seen;
    eventually([&] {
        return joined((seen = observed(readAll(path("through-xwayland.log")))).pressedText)
                   .find('.') != std::string::npos;
    });
    EXPECT_EQ(joined(seen.pressedText), "hi.");
    EXPECT_EQ(readAll(path("vantrel.err")), "");
}

TEST_F(GnomeTest, ChromiumCountsSeparateClicksApartAndGetsTextExactly) {
    expectInABrowser();
}

// mutter restarting inside the session ends vantrel's remote desktop session with its
// connection: the next request's trust check finds it gone and opens a new session on the new
// mutter, before anything is posted.
TEST_F(GnomeTest, ARestartedMutterIsFoundAgainByTheNextRequest) {
    Vantrel v = vantrel();
    EXPECT_EQ(v.request({{"id", 1}, {"action", "key"}, {"text", "shift"}}), ok(1));
    compositor_->restart();
    Process wev = observer(v, "after-restart.log");
    EXPECT_EQ(v.request({{"id", 3}, {"action", "type"}, {"text", "back."}}), ok(3));
    EXPECT_EQ(v.finish(), 0);
    Observed seen;
    eventually([&] {
        return joined((seen = observed(readAll(path("after-restart.log")))).pressedText)
                   .find('.') != std::string::npos;
    });
    EXPECT_EQ(joined(seen.pressedText), "back.");
    EXPECT_EQ(readAll(path("vantrel.err")), "");
}

using GnomeShellTest = CompositorTest<GnomeShell>;

// The same remote desktop session inside gnome-shell, whose keys pass through IBus: buttons,
// wheel, combinations and media keys as on plain mutter.
TEST_F(GnomeShellTest, PointerButtonsWheelAndKeysArriveExactly) {
    expectPointerAndKeys("10.000000");
}

TEST_F(GnomeShellTest, ChromiumCountsSeparateClicksApartAndGetsTextExactly) {
    expectInABrowser(true);
}

// Characters of the layout and characters it lacks, interleaved: accents, CJK, emoji with a skin
// tone, typographic punctuation.
const std::string mixedText = "ab \u00e9 cd \u4e2d\u6587 ef \U0001F600 gh\U0001F44D\U0001F3FD "
                              "\u00fc\u2014\u201cq\u201d\u2026 z";

// An entry that prints what it holds when Return is pressed: zenity's (GTK 3) or a GTK 4 one.
struct Entry {
    const char* name;
    std::vector<std::string> argv;
};
std::vector<Entry> entries() {
    std::vector<Entry> all = {{"gtk3", {"zenity", "--entry", "--text", "type"}}};
    if (std::system("/usr/bin/python3 -c \"import gi; gi.require_version('Gtk', '4.0')\" "
                    ">/dev/null 2>&1") == 0)
        all.push_back({"gtk4", {"/usr/bin/python3", VANTREL_GTK4_ENTRY}});
    return all;
}

// Keys and vantrel's IBus commits reach each entry in the order typed, byte for byte, from the
// first characters of a fresh vantrel's first request on; a long text too. The engine that was
// global before is global again afterwards.
TEST_F(GnomeShellTest, TextOfEveryKindArrivesInOrderInGtkEntries) {
    std::string before = compositor_->ibusEngine();
    std::string longText;
    for (int i = 0; i < 6; ++i)
        longText += mixedText + " " + std::to_string(i) + " ";
    for (const Entry& entry : entries()) {
        for (const std::string& text : {mixedText, longText}) {
            SCOPED_TRACE(std::string(entry.name) + ": " + text.substr(0, 20));
            Vantrel v = vantrel();
            std::string log = std::string("before-") + entry.name + ".log";
            Process wev = observer(v, log);
            std::string out = std::string(entry.name) + ".out";
            unlink(path(out).c_str());
            Process field = compositor_->client(entry.argv, out);
            ASSERT_TRUE(eventually([&] { return observed(readAll(path(log))).keyboardLeft; }));
            EXPECT_EQ(v.request({{"id", 1}, {"action", "type"}, {"text", text}}), ok(1));
            EXPECT_EQ(v.request({{"id", 2}, {"action", "key"}, {"text", "return"}}), ok(2));
            EXPECT_TRUE(eventually([&] { return !field.running(); }));
            EXPECT_EQ(readAll(path(out)), text + "\n");
            EXPECT_EQ(v.finish(), 0);
            EXPECT_EQ(readAll(path("vantrel.err")), "");
        }
    }
    EXPECT_TRUE(eventually([&] { return compositor_->ibusEngine() == before; }))
        << compositor_->ibusEngine();
}

// foot takes text from the input method too; what its shell reads is exactly what was typed.
TEST_F(GnomeShellTest, TextOfEveryKindArrivesInATerminal) {
    if (!installed("foot")) GTEST_SKIP() << "no foot";
    Vantrel v = vantrel();
    Terminal foot = terminal(v, "foot");
    const std::string& out = foot.out;
    EXPECT_EQ(v.request({{"id", 1}, {"action", "type"}, {"text", mixedText}}), ok(1));
    EXPECT_TRUE(eventually([&] { return readAll(out) == mixedText; })) << readAll(out);
    EXPECT_EQ(v.finish(), 0);
}

// The seat's modifiers are shared by every keyboard: another program's Shift or Control would
// reach vantrel's keys. Such keys are kept from the client and the request fails; text goes on
// once they are released. Two vantrels type in turn, each through its own engine.
TEST_F(GnomeShellTest, ModifiersAnotherProgramHoldsNeverReachTheText) {
    if (!installed("foot")) GTEST_SKIP() << "no foot";
    Vantrel v = vantrel();
    Vantrel other(VANTREL_EXECUTABLE, compositor_->environment(), path("other.err"));
    Terminal foot = terminal(v, "modifiers");
    const std::string& out = foot.out;
    EXPECT_EQ(v.request({{"id", 1}, {"action", "type"}, {"text", "ab"}}), ok(1));
    int id = 2;
    for (const char* modifier : {"shift", "ctrl"}) {
        EXPECT_EQ(other.request({{"id", id}, {"action", "key_down"}, {"text", modifier}}), ok(id));
        json reply = v.request({{"id", id}, {"action", "type"}, {"text", "cd\u00e9"}});
        EXPECT_EQ(reply["error"], "input not delivered") << reply.dump();
        EXPECT_NE(reply.value("detail", "")
                      .find(std::string(modifier) == "shift" ? "Shift held" : "Control held"),
                  std::string::npos)
            << reply.dump();
        EXPECT_EQ(other.request({{"id", id}, {"action", "key_up"}, {"text", modifier}}), ok(id));
        ++id;
    }
    EXPECT_EQ(v.request({{"id", id}, {"action", "type"}, {"text", "ef\u00e9"}}), ok(id));
    // The other vantrel, connected all along, types through an engine of its own (before, the
    // daemon kept handing the first vantrel's engine out, and this was refused).
    EXPECT_EQ(other.request({{"id", id}, {"action", "type"}, {"text", "g\u00fc"}}), ok(id));
    EXPECT_EQ(v.request({{"id", id}, {"action", "type"}, {"text", "\u00e9"}}), ok(id));
    EXPECT_TRUE(eventually([&] { return readAll(out) == "abef\u00e9g\u00fc\u00e9"; }))
        << readAll(out);
    EXPECT_EQ(v.finish(), 0);
    EXPECT_EQ(other.finish(), 0);
    EXPECT_EQ(readAll(path("other.err")), "");
}

// Chromium takes text from the input method as GTK does.
TEST_F(GnomeShellTest, TextOfEveryKindArrivesInChromium) {
    if (!browserAvailable()) GTEST_SKIP() << "chromium is not installed (scripts/deps)";
    Vantrel v = vantrel();
    std::string profile = path("ime-browser");
    mkdir(profile.c_str(), 0700);
    Browser browser(compositor_->environment(), {"--ozone-platform=wayland", "--kiosk"},
                    std::string(VANTREL_PAGES) + "/record.html", profile);
    EXPECT_EQ(v.request({{"id", 1}, {"action", "left_click"}, {"x", 300}, {"y", 100}}), ok(1));
    EXPECT_EQ(v.request({{"id", 2}, {"action", "type"}, {"text", mixedText}}), ok(2));
    std::string value;
    eventually([&] {
        value = browser.evaluate("document.getElementById('text').value").get<std::string>();
        return value.size() >= mixedText.size();
    });
    EXPECT_EQ(value, mixedText);
    EXPECT_EQ(v.finish(), 0);
}

// With no text field focused, the daemon's placeholder context has the engine and a commit would
// go nowhere: the text is refused whole, and nothing of it arrives.
TEST_F(GnomeShellTest, WithNoTextFieldFocusedTextTheLayoutLacksIsRefusedWhole) {
    std::string before = compositor_->ibusEngine();
    expectRefusedWhole("ab\u00e9c", "\u00e9");
    EXPECT_TRUE(eventually([&] { return compositor_->ibusEngine() == before; }));
}

// A stop that comes while text is being committed ends vantrel within its grace, and the engine
// that was global before is global again.
TEST_F(GnomeShellTest, ASignalWhileCommittingGivesTheEngineBack) {
    if (!installed("foot")) GTEST_SKIP() << "no foot";
    std::string before = compositor_->ibusEngine();
    Vantrel v = vantrel();
    Terminal foot = terminal(v, "signal");
    const std::string& out = foot.out;
    std::string text;
    for (int i = 0; i < 100; ++i)
        text += "\u00e9\u4e2d";
    v.send({{"id", 1}, {"action", "type"}, {"text", text}});
    ASSERT_TRUE(eventually([&] { return readAll(out).size() > 10; }));
    EXPECT_EQ(v.stopWith(SIGTERM), SIGTERM);
    EXPECT_TRUE(eventually([&] { return compositor_->ibusEngine() == before; }))
        << compositor_->ibusEngine();
    // What arrived is a beginning of the text: nothing out of order, nothing doubled.
    std::string arrived = readAll(out);
    EXPECT_EQ(text.substr(0, arrived.size()), arrived);
}

// A Qt 5 dialog takes the input method's text only through Qt's IBus module (QT_IM_MODULE=ibus,
// which GNOME sessions set): with it, text of every kind arrives; without it no text field has
// the input method, and text the layout lacks is refused whole while text it has arrives.
TEST_F(GnomeShellTest, TextArrivesInAQtDialogThroughQtsIBusModuleOrIsRefusedWhole) {
    if (!installed("kdialog")) GTEST_SKIP() << "no kdialog";
    for (bool ibus : {true, false}) {
        SCOPED_TRACE(ibus ? "with Qt's IBus module" : "without");
        Vantrel v = vantrel();
        std::string log = ibus ? "before-qt-ibus.log" : "before-qt.log";
        Process wev = observer(v, log);
        std::vector<std::string> environment = compositor_->environment();
        environment.push_back("QT_QPA_PLATFORM=wayland");
        environment.push_back(ibus ? "QT_IM_MODULE=ibus" : "QT_IM_MODULE=");
        std::string out = path(ibus ? "qt-ibus.out" : "qt.out");
        Process dialog({"kdialog", "--inputbox", "type"}, environment, out);
        ASSERT_TRUE(eventually([&] { return observed(readAll(path(log))).keyboardLeft; }));
        json typed = v.request({{"id", 1}, {"action", "type"}, {"text", mixedText}});
        if (ibus) {
            EXPECT_EQ(typed, ok(1));
        } else {
            EXPECT_EQ(typed.value("error", ""), "cannot type text");
            EXPECT_EQ(v.request({{"id", 2}, {"action", "type"}, {"text", "plain"}}), ok(2));
        }
        EXPECT_EQ(v.request({{"id", 3}, {"action", "key"}, {"text", "return"}}), ok(3));
        EXPECT_TRUE(eventually([&] { return !dialog.running(); }));
        // Its last line: Qt's IBus module warns on standard error, which goes to the same file.
        std::string printed = readAll(out);
        size_t line = printed.rfind('\n', printed.size() >= 2 ? printed.size() - 2 : 0);
        EXPECT_EQ(printed.substr(line == std::string::npos ? 0 : line + 1),
                  (ibus ? mixedText : "plain") + "\n");
        EXPECT_EQ(v.finish(), 0);
    }
}

TEST_F(GnomeShellTest, ASignalDuringAHoldReleasesWhatWasHeld) {
    expectHoldReleasedBySignal();
}

// gnome-shell restarting starts a new IBus daemon: the next request that needs it finds it.
TEST_F(GnomeShellTest, ARestartedGnomeShellIsFoundAgainByTheNextRequest) {
    Vantrel v = vantrel();
    {
        Process wev = observer(v, "before-restart-entry.log");
        Process entry = compositor_->client({"zenity", "--entry", "--text", "type"}, "first.out");
        ASSERT_TRUE(eventually(
            [&] { return observed(readAll(path("before-restart-entry.log"))).keyboardLeft; }));
        EXPECT_EQ(v.request({{"id", 1}, {"action", "type"}, {"text", "\u00e9\n"}}), ok(1));
        EXPECT_TRUE(eventually([&] { return !entry.running(); }));
        EXPECT_EQ(readAll(path("first.out")), "\u00e9\n");
    }
    compositor_->restart();
    Process wev = observer(v, "after-restart-entry.log");
    Process entry = compositor_->client({"zenity", "--entry", "--text", "type"}, "second.out");
    ASSERT_TRUE(eventually(
        [&] { return observed(readAll(path("after-restart-entry.log"))).keyboardLeft; }));
    EXPECT_EQ(v.request({{"id", 2}, {"action", "type"}, {"text", mixedText + "\n"}}), ok(2));
    EXPECT_TRUE(eventually([&] { return !entry.running(); }));
    EXPECT_EQ(readAll(path("second.out")), mixedText + "\n");
    EXPECT_EQ(v.finish(), 0);
    EXPECT_EQ(readAll(path("vantrel.err")), "");
}

} // namespace
} // namespace vantrel::testing

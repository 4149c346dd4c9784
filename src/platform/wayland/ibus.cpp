// vantrel's IBus engine, on sd-bus. The IBus daemon is a message bus of its own, found the way
// its clients find it: IBUS_ADDRESS, or the address file the daemon writes for the session's
// display. On it vantrel registers a component with one engine and serves the factory that
// makes it; the daemon then drives the engine by method calls (focus, keys, the text around the
// cursor) and takes its commits as signals.
//
// Switching the global engine is asked without waiting in a blocking call: the daemon calls the
// factory back before it answers, and only a connection that keeps handling what comes can
// answer both. The engine's thread does nothing else.

#include "platform/wayland/ibus.h"

#include "support/posix/fd_wait.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <systemd/sd-bus.h>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <mutex>
#include <thread>

namespace vantrel::platform::wayland {

namespace {

constexpr const char* daemonName = "org.freedesktop.IBus";
constexpr const char* daemonPath = "/org/freedesktop/IBus";
constexpr const char* engineInterface = "org.freedesktop.IBus.Engine";
constexpr const char* factoryPath = "/org/freedesktop/IBus/Factory";
constexpr const char* enginePath = "/org/freedesktop/IBus/Engine/vantrel";
// Each vantrel's engine has a name of its own, "vantrel-<pid>": the daemon creates an engine
// through the component that registered its name, so a second vantrel registering the same name
// was never handed its own engine, and its text was refused while the first stayed connected.
constexpr std::string_view enginePrefix = "vantrel";

// How long a call the engine's side waits for may take: the daemon answers at once when it
// runs, and a frozen one must not hold vantrel.
constexpr uint64_t callTimeout = 500'000; // microseconds

struct Order {
    enum class Kind { engage, commit, release, quit } kind;
    std::string text;
};

std::string firstLine(const char* path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\n'))
        line.pop_back();
    return line;
}

// The daemon's address, as IBus's own clients find it.
std::string daemonAddress() {
    if (const char* address = std::getenv("IBUS_ADDRESS"); address && *address) return address;
    std::string file;
    if (const char* named = std::getenv("IBUS_ADDRESS_FILE"); named && *named) {
        file = named;
    } else {
        std::string config;
        if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
            config = xdg;
        else if (const char* home = std::getenv("HOME"); home && *home)
            config = std::string(home) + "/.config";
        const char* display = std::getenv("WAYLAND_DISPLAY");
        std::string machine = firstLine("/var/lib/dbus/machine-id");
        if (machine.empty()) machine = firstLine("/etc/machine-id");
        if (config.empty() || !display || machine.empty()) return {};
        file = config + "/ibus/bus/" + machine + "-unix-" + display;
    }
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line))
        if (line.starts_with("IBUS_ADDRESS=")) return line.substr(13);
    return {};
}

} // namespace

struct IBus {
    std::string address;
    std::string engine, component; // this process's engine and component names
    sd_bus* bus = nullptr;
    int orders = -1; // eventfd: the request side has given the thread an order
    int news = -1;   // eventfd: the thread has learned something
    std::mutex lock;
    std::deque<Order> queue; // guarded by lock
    IBusState state;         // guarded by lock
    // The key press guardKey announced, and the key whose release is to be kept too (guarded by
    // lock).
    struct {
        bool armed = false;
        uint32_t code = 0, keysym = 0, own = 0;
    } guard;
    uint32_t keepRelease = 0;
    // The thread's own: the engine that was global before vantrel's, and whether a switch is
    // under way.
    std::string previous;
    bool switched = false; // vantrel's engine has been global
    uint64_t answersAwaited = 0;
    std::thread thread;
};

namespace {

void tell(IBus& ibus) {
    uint64_t one = 1;
    [[maybe_unused]] ssize_t written = write(ibus.news, &one, sizeof one);
}

template <typename Change> void learn(IBus& ibus, Change change) {
    {
        std::lock_guard<std::mutex> guard(ibus.lock);
        change(ibus.state);
    }
    tell(ibus);
}

// The name of an engine description, `(sa{sv}s...)` inside a variant.
std::string engineNameIn(sd_bus_message* m) {
    const char* contents = nullptr;
    char type = 0;
    if (sd_bus_message_peek_type(m, &type, &contents) < 0 || type != 'v' || !contents) return {};
    if (sd_bus_message_enter_container(m, 'v', contents) < 0) return {};
    const char* kind = nullptr;
    const char* name = nullptr;
    if (sd_bus_message_enter_container(m, 'r', nullptr) < 0 ||
        sd_bus_message_read(m, "s", &kind) < 0 || sd_bus_message_skip(m, "a{sv}") < 0 ||
        sd_bus_message_read(m, "s", &name) < 0 || !name)
        return {};
    return name;
}

// The text of an IBusText, `(sa{sv}sv)` inside a variant.
std::optional<std::string> textIn(sd_bus_message* m) {
    const char* text = nullptr;
    const char* kind = nullptr;
    if (sd_bus_message_enter_container(m, 'v', "(sa{sv}sv)") < 0 ||
        sd_bus_message_enter_container(m, 'r', "sa{sv}sv") < 0 ||
        sd_bus_message_read(m, "s", &kind) < 0 || sd_bus_message_skip(m, "a{sv}") < 0 ||
        sd_bus_message_read(m, "s", &text) < 0 || !text)
        return std::nullopt;
    return std::string(text);
}

// The first `characters` code points of UTF-8 text.
std::string firstCharacters(const std::string& text, uint32_t characters) {
    size_t at = 0;
    while (at < text.size()) {
        if ((static_cast<unsigned char>(text[at]) & 0xC0) != 0x80) {
            if (characters == 0) break;
            --characters;
        }
        ++at;
    }
    return text.substr(0, at);
}

bool isCall(sd_bus_message* m) {
    uint8_t type = 0;
    return sd_bus_message_get_type(m, &type) >= 0 && type == SD_BUS_MESSAGE_METHOD_CALL;
}

int replyEmpty(sd_bus_message* call) {
    return sd_bus_reply_method_return(call, nullptr);
}

int currentContext(sd_bus_message* reply, void* data, sd_bus_error*) {
    auto& ibus = *static_cast<IBus*>(data);
    const char* path = nullptr;
    if (sd_bus_message_get_error(reply) || sd_bus_message_enter_container(reply, 'v', "o") < 0 ||
        sd_bus_message_read(reply, "o", &path) < 0 || !path)
        path = "";
    std::string context = path;
    learn(ibus, [&](IBusState& s) {
        if (s.focused && s.context.empty()) s.context = context.empty() ? "?" : context;
    });
    return 0;
}

// The engine: what the daemon calls on it. Keys pass untouched; the rest is noted.
int engineCall(sd_bus_message* call, void* data, sd_bus_error*) {
    auto& ibus = *static_cast<IBus*>(data);
    const char* interface = sd_bus_message_get_interface(call);
    std::string_view member =
        sd_bus_message_get_member(call) ? sd_bus_message_get_member(call) : "";
    if (!isCall(call)) return 0;
    if (interface && std::string_view(interface) == "org.freedesktop.DBus.Properties") {
        // The daemon asks whether the engine wants to know the focused context's name and the
        // text around the cursor: it does.
        const char* of = nullptr;
        const char* name = nullptr;
        if (member == "Get" && sd_bus_message_read(call, "ss", &of, &name) >= 0 && name &&
            (std::string_view(name) == "FocusId" ||
             std::string_view(name) == "ActiveSurroundingText"))
            return sd_bus_reply_method_return(call, "v", "b", 1);
        if (member == "GetAll")
            return sd_bus_reply_method_return(call, "a{sv}", 2, "FocusId", "b", 1,
                                              "ActiveSurroundingText", "b", 1);
        return sd_bus_reply_method_errorf(call, "org.freedesktop.DBus.Error.UnknownProperty",
                                          "no such property");
    }
    if (member == "ProcessKeyEvent") {
        // IBus's modifier masks are X's, with the release flag and virtual modifiers above.
        constexpr uint32_t releaseFlag = 1u << 30, shortcuts = 0x4 | 0x8 | 0x40, realMods = 0xEF;
        uint32_t keyval = 0, code = 0, state = 0;
        sd_bus_message_read(call, "uuu", &keyval, &code, &state);
        bool keep = false;
        uint32_t extra = 0;
        {
            std::lock_guard<std::mutex> guard(ibus.lock);
            if (state & releaseFlag) {
                keep = code != 0 && code == ibus.keepRelease;
                if (keep) ibus.keepRelease = 0;
            } else if (code == ibus.keepRelease) {
                ibus.keepRelease = 0; // pressed again (by a person): its release is theirs
            }
            if (!(state & releaseFlag) && ibus.guard.armed && code == ibus.guard.code) {
                ibus.guard.armed = false;
                extra = state & realMods & ~ibus.guard.own;
                keep = keyval != ibus.guard.keysym || (extra & shortcuts);
                if (keep) ibus.keepRelease = code;
            }
        }
        int answer = sd_bus_reply_method_return(call, "b", keep ? 1 : 0);
        learn(ibus, [&](IBusState& s) {
            ++s.keysSeen;
            if (keep && !(state & releaseFlag)) s.keptUnder = extra;
            if (keep) ++s.keysKept;
        });
        return answer;
    }
    if (member == "FocusInId" || member == "FocusIn") {
        const char* path = nullptr;
        const char* client = nullptr;
        if (member == "FocusInId") sd_bus_message_read(call, "ss", &path, &client);
        std::string context = path ? path : "", name = client ? client : "";
        learn(ibus, [&](IBusState& s) {
            s.focused = true;
            s.context = context;
            s.client = name;
            s.beforeCursor.reset();
            ++s.focusChanges;
        });
        // The client reports the text around its cursor once the engine asks for it.
        sd_bus_emit_signal(ibus.bus, enginePath, engineInterface, "RequireSurroundingText",
                           nullptr);
        // The daemon names the context only to an engine it has asked whether it wants that,
        // which it does once for each engine name: until then the daemon is asked instead.
        if (context.empty())
            sd_bus_call_method_async(ibus.bus, nullptr, daemonName, daemonPath,
                                     "org.freedesktop.DBus.Properties", "Get", currentContext,
                                     &ibus, "ss", daemonName, "CurrentInputContext");
        return replyEmpty(call);
    }
    if (member == "FocusOutId" || member == "FocusOut" || member == "Disable" ||
        member == "Destroy") {
        learn(ibus, [](IBusState& s) {
            s.focused = false;
            s.context.clear();
            s.client.clear();
            s.beforeCursor.reset();
            ++s.focusChanges;
        });
        return replyEmpty(call);
    }
    if (member == "SetSurroundingText") {
        std::optional<std::string> text = textIn(call);
        uint32_t cursor = 0, anchor = 0;
        if (text && sd_bus_message_exit_container(call) >= 0 &&
            sd_bus_message_exit_container(call) >= 0)
            sd_bus_message_read(call, "uu", &cursor, &anchor);
        if (text) {
            // Chromium reports its whole text with the cursor at 0 wherever the cursor is: its
            // text is taken as all before the cursor, which is where typing puts it.
            std::string before =
                cursor == 0 && anchor == 0 ? *text : firstCharacters(*text, cursor);
            learn(ibus, [&](IBusState& s) {
                s.beforeCursor = before;
                ++s.reports;
            });
        }
        return replyEmpty(call);
    }
    return replyEmpty(call);
}

int factoryCall(sd_bus_message* call, void*, sd_bus_error*) {
    if (!isCall(call)) return 0;
    if (sd_bus_message_is_method_call(call, "org.freedesktop.IBus.Factory", "CreateEngine"))
        return sd_bus_reply_method_return(call, "o", enginePath);
    return replyEmpty(call);
}

int switched(sd_bus_message* reply, void* data, sd_bus_error*) {
    auto& ibus = *static_cast<IBus*>(data);
    if (ibus.answersAwaited) --ibus.answersAwaited;
    const sd_bus_error* error = sd_bus_message_get_error(reply);
    std::string why = error && error->message ? error->message : "";
    if (!error) ibus.switched = true;
    learn(ibus, [&](IBusState& s) {
        s.engaged = !error;
        if (error) s.problem = "IBus did not switch to vantrel's engine: " + why;
    });
    return 0;
}

int switchedBack(sd_bus_message*, void* data, sd_bus_error*) {
    auto& ibus = *static_cast<IBus*>(data);
    if (ibus.answersAwaited) --ibus.answersAwaited;
    learn(ibus, [](IBusState& s) { ++s.releases; });
    return 0;
}

// The engine global before vantrel's is noted, then vantrel's is asked for.
int globalEngine(sd_bus_message* reply, void* data, sd_bus_error*) {
    auto& ibus = *static_cast<IBus*>(data);
    if (!sd_bus_message_get_error(reply)) {
        std::string name;
        if (sd_bus_message_enter_container(reply, 'v', "v") >= 0) name = engineNameIn(reply);
        // Another vantrel's engine, global in the middle of its request, is not given back at
        // the end: that vantrel gives back the engine from before it.
        if (!name.empty() && !name.starts_with(enginePrefix)) ibus.previous = name;
    }
    if (sd_bus_call_method_async(ibus.bus, nullptr, daemonName, daemonPath, daemonName,
                                 "SetGlobalEngine", switched, &ibus, "s",
                                 ibus.engine.c_str()) < 0) {
        if (ibus.answersAwaited) --ibus.answersAwaited;
        learn(ibus, [](IBusState& s) { s.problem = "cannot ask IBus to switch engines"; });
    }
    return 0;
}

void carryOut(IBus& ibus, const Order& order) {
    switch (order.kind) {
    case Order::Kind::engage:
        ++ibus.answersAwaited;
        sd_bus_call_method_async(ibus.bus, nullptr, daemonName, daemonPath,
                                 "org.freedesktop.DBus.Properties", "Get", globalEngine, &ibus,
                                 "ss", daemonName, "GlobalEngine");
        break;
    case Order::Kind::commit:
        sd_bus_emit_signal(ibus.bus, enginePath, engineInterface, "CommitText", "v", "(sa{sv}sv)",
                           "IBusText", 0, order.text.c_str(), "(sa{sv}av)", "IBusAttrList", 0, 0);
        break;
    case Order::Kind::release:
        learn(ibus, [](IBusState& s) { s.engaged = false; });
        if (ibus.previous.empty() ||
            sd_bus_call_method_async(ibus.bus, nullptr, daemonName, daemonPath, daemonName,
                                     "SetGlobalEngine", switchedBack, &ibus, "s",
                                     ibus.previous.c_str()) < 0)
            learn(ibus, [](IBusState& s) { ++s.releases; });
        else
            ++ibus.answersAwaited;
        break;
    case Order::Kind::quit:
        break;
    }
}

// Milliseconds until sd-bus's next deadline (a call's time-out), for poll; -1 for none.
int busTimeout(sd_bus* bus) {
    uint64_t at = 0;
    if (sd_bus_get_timeout(bus, &at) <= 0 || at == UINT64_MAX) return -1;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    uint64_t current = static_cast<uint64_t>(now.tv_sec) * 1'000'000 + now.tv_nsec / 1000;
    return at <= current ? 0
                         : static_cast<int>(std::min<uint64_t>((at - current) / 1000 + 1, 1000));
}

void serve(IBus& ibus) {
    // Told to quit, the thread waits a short while for the answers still due (a switch back).
    std::optional<std::chrono::steady_clock::time_point> quitBy;
    for (;;) {
        int handled = sd_bus_process(ibus.bus, nullptr);
        if (handled < 0) break;
        if (handled > 0) continue;
        std::deque<Order> orders;
        {
            std::lock_guard<std::mutex> guard(ibus.lock);
            orders.swap(ibus.queue);
        }
        for (const Order& order : orders) {
            if (order.kind == Order::Kind::quit && !quitBy)
                quitBy = std::chrono::steady_clock::now() + answerGrace;
            carryOut(ibus, order);
        }
        // What is queued is written by sd_bus_process as the descriptor takes it: a daemon that
        // stops reading must not hold the thread.
        if (quitBy && (ibus.answersAwaited == 0 || std::chrono::steady_clock::now() >= *quitBy))
            return;
        int events = sd_bus_get_events(ibus.bus);
        int timeout = quitBy ? 10 : busTimeout(ibus.bus);
        pollfd fds[2] = {
            {sd_bus_get_fd(ibus.bus), static_cast<short>(events < 0 ? POLLIN : events), 0},
            {ibus.orders, POLLIN, 0}};
        if (poll(fds, 2, timeout) < 0 && errno != EINTR) break;
        if (fds[1].revents) {
            uint64_t count = 0;
            [[maybe_unused]] ssize_t n = read(ibus.orders, &count, sizeof count);
        }
    }
    learn(ibus, [](IBusState& s) {
        s.closed = true;
        s.engaged = s.focused = false;
        if (s.problem.empty()) s.problem = "the connection to the IBus daemon closed";
    });
}

void give(IBus& ibus, Order order) {
    {
        std::lock_guard<std::mutex> guard(ibus.lock);
        ibus.queue.push_back(std::move(order));
    }
    uint64_t one = 1;
    [[maybe_unused]] ssize_t written = write(ibus.orders, &one, sizeof one);
}

bool registerEngine(sd_bus* bus, IBus& ibus, std::string& why) {
    sd_bus_message* raw = nullptr;
    if (sd_bus_message_new_method_call(bus, &raw, daemonName, daemonPath, daemonName,
                                       "RegisterComponent") < 0) {
        why = "cannot register an engine with IBus";
        return false;
    }
    // An IBusComponent holding one IBusEngineDesc, each as IBus serializes them: a type name,
    // attachments, then the fields in their fixed order.
    int r = sd_bus_message_append(
        raw, "v", "(sa{sv}ssssssssavav)", "IBusComponent", 0, ibus.component.c_str(),
        "vantrel types text the keyboard layout lacks", "", "MIT", "", "", "", "", 0, 1,
        "(sa{sv}ssssssssussssssss)", "IBusEngineDesc", 0, ibus.engine.c_str(), "vantrel",
        "text typed by vantrel", "", "MIT", "", "", "default", 0u, "", "", "", "", "", "", "", "");
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    if (r >= 0) r = sd_bus_call(bus, raw, callTimeout, &error, &reply);
    sd_bus_message_unref(raw);
    sd_bus_message_unref(reply);
    if (r < 0) {
        why = std::string("IBus refused vantrel's engine: ") +
              (error.message ? error.message : "no answer");
        sd_bus_error_free(&error);
        return false;
    }
    if (sd_bus_add_object(bus, nullptr, factoryPath, factoryCall, &ibus) < 0 ||
        sd_bus_add_object(bus, nullptr, enginePath, engineCall, &ibus) < 0) {
        why = "cannot serve vantrel's engine";
        return false;
    }
    return true;
}

// A connection to the daemon.
sd_bus* connectTo(const std::string& address) {
    sd_bus* bus = nullptr;
    if (sd_bus_new(&bus) < 0) return nullptr;
    // The daemon calls an engine without naming a destination, which sd-bus ignores on a
    // connection it treats as a bus client's: connections are made as a peer's, and greet the
    // daemon themselves.
    sd_bus_message* hello = nullptr;
    if (sd_bus_set_address(bus, address.c_str()) < 0 ||
        sd_bus_set_method_call_timeout(bus, callTimeout) < 0 || sd_bus_start(bus) < 0 ||
        sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                           "org.freedesktop.DBus", "Hello", nullptr, &hello, nullptr) < 0) {
        sd_bus_flush_close_unref(bus);
        return nullptr;
    }
    sd_bus_message_unref(hello);
    return bus;
}

// The global engine's name; empty when there is none (or no answer within `timeout`).
std::string globalEngineOf(sd_bus* bus, uint64_t timeout) {
    sd_bus_message* call = nullptr;
    sd_bus_message* reply = nullptr;
    std::string name;
    if (sd_bus_message_new_method_call(bus, &call, daemonName, daemonPath,
                                       "org.freedesktop.DBus.Properties", "Get") >= 0 &&
        sd_bus_message_append(call, "ss", daemonName, "GlobalEngine") >= 0 &&
        sd_bus_call(bus, call, timeout, nullptr, &reply) >= 0 &&
        sd_bus_message_enter_container(reply, 'v', "v") >= 0)
        name = engineNameIn(reply);
    sd_bus_message_unref(call);
    sd_bus_message_unref(reply);
    return name;
}

// When a registered component's connection closes, the daemon checks that the global engine is
// still there, and looks for it among registered engines only: an engine of IBus's own (the
// layouts' xkb engines) is not among them, so the daemon then drops the global engine whatever
// it was, and the desktop is left with none. Once the daemon has done that, the engine that was
// global before vantrel's is set again from a connection that registers nothing.
void restoreAfterClose(const std::string& address, const std::string& engine) {
    sd_bus* bus = connectTo(address);
    if (!bus) return;
    auto until = std::chrono::steady_clock::now() + answerGrace;
    while (std::chrono::steady_clock::now() < until) {
        if (globalEngineOf(bus, callTimeout).empty()) {
            sd_bus_call_method(bus, daemonName, daemonPath, daemonName, "SetGlobalEngine", nullptr,
                               nullptr, "s", engine.c_str());
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    sd_bus_flush_close_unref(bus);
}

} // namespace

void IBusClose::operator()(IBus* ibus) const noexcept {
    if (ibus->thread.joinable()) {
        give(*ibus, {Order::Kind::quit, {}});
        ibus->thread.join();
    }
    if (ibus->bus) sd_bus_close_unref(ibus->bus);
    if (ibus->switched && !ibus->previous.empty() && !ibus->state.closed)
        restoreAfterClose(ibus->address, ibus->previous);
    if (ibus->orders >= 0) close(ibus->orders);
    if (ibus->news >= 0) close(ibus->news);
    delete ibus;
}

IBusConnection openIBus(std::string& why) {
    std::string address = daemonAddress();
    if (address.empty()) {
        why = "no IBus daemon runs in this session";
        return nullptr;
    }
    IBusConnection ibus(new IBus);
    ibus->address = address;
    ibus->engine = std::string(enginePrefix) + "-" + std::to_string(getpid());
    ibus->component = "org.freedesktop.IBus.Vantrel" + std::to_string(getpid());
    ibus->orders = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    ibus->news = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (ibus->orders < 0 || ibus->news < 0) {
        why = "cannot make a connection to IBus";
        return nullptr;
    }
    ibus->bus = connectTo(address);
    if (!ibus->bus) {
        why = "cannot connect to the IBus daemon at " + address;
        return nullptr;
    }
    if (!registerEngine(ibus->bus, *ibus, why)) return nullptr;
    IBus* raw = ibus.get();
    ibus->thread = std::thread([raw] { serve(*raw); });
    return ibus;
}

void guardKey(IBus& ibus, uint32_t code, uint32_t keysym, uint32_t own) {
    std::lock_guard<std::mutex> guard(ibus.lock);
    ibus.guard.armed = true;
    ibus.guard.code = code;
    ibus.guard.keysym = keysym;
    ibus.guard.own = own;
}

IBusState ibusState(IBus& ibus) {
    std::lock_guard<std::mutex> guard(ibus.lock);
    return ibus.state;
}

bool awaitIBus(IBus& ibus, std::chrono::steady_clock::time_point until) {
    if (waitUntil(until, ibus.news) != Wake::readable) return false;
    uint64_t count = 0;
    [[maybe_unused]] ssize_t n = read(ibus.news, &count, sizeof count);
    return true;
}

IBusState engageIBus(IBus& ibus, std::chrono::steady_clock::time_point until) {
    uint64_t changes = ibusState(ibus).focusChanges;
    {
        std::lock_guard<std::mutex> guard(ibus.lock);
        ibus.state.problem.clear();
    }
    give(ibus, {Order::Kind::engage, {}});
    // The daemon hands the engine the focused context as it switches, then again with the
    // context's name once it has asked the engine whether it wants that.
    for (;;) {
        IBusState now = ibusState(ibus);
        bool named = now.focused ? !now.context.empty() : now.focusChanges > changes;
        if (now.closed || !now.problem.empty() || (now.engaged && named)) return now;
        if (!awaitIBus(ibus, until)) return now;
    }
}

void commitIBus(IBus& ibus, const std::string& text) {
    give(ibus, {Order::Kind::commit, text});
}

void releaseIBus(IBus& ibus, bool wait) {
    {
        // Keys that come later are not vantrel's to keep.
        std::lock_guard<std::mutex> guard(ibus.lock);
        ibus.guard.armed = false;
        ibus.keepRelease = 0;
    }
    uint64_t releases = ibusState(ibus).releases;
    give(ibus, {Order::Kind::release, {}});
    if (!wait) return;
    // The daemon's answer comes as news, within the grace every answer gets.
    auto until = std::chrono::steady_clock::now() + answerGrace;
    while (ibusState(ibus).releases == releases && !ibusState(ibus).closed) {
        if (!awaitAnswer(ibus.news, until) || std::chrono::steady_clock::now() >= until) return;
        uint64_t count = 0;
        [[maybe_unused]] ssize_t n = read(ibus.news, &count, sizeof count);
    }
}

} // namespace vantrel::platform::wayland

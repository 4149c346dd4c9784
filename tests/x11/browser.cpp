#include "browser.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace vantrel::testing {

namespace {

using namespace std::chrono_literals;

const char* const chromium = "/usr/bin/chromium";

int connectTo(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void writeAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote <= 0) throw std::runtime_error("the browser closed its connection");
        done += static_cast<size_t>(wrote);
    }
}

// Reads exactly `count` bytes, or fails after a generous wait.
std::string readExactly(int fd, size_t count) {
    std::string out;
    while (out.size() < count) {
        pollfd wait{fd, POLLIN, 0};
        if (::poll(&wait, 1, 60000) <= 0) throw std::runtime_error("the browser did not answer");
        char buffer[65536];
        ssize_t got = ::read(fd, buffer, std::min(sizeof buffer, count - out.size()));
        if (got <= 0) throw std::runtime_error("the browser closed its connection");
        out.append(buffer, static_cast<size_t>(got));
    }
    return out;
}

std::string readUntil(int fd, const std::string& end) {
    std::string out;
    while (out.find(end) == std::string::npos)
        out += readExactly(fd, 1);
    return out;
}

std::string httpGet(int port, const std::string& path) {
    int fd = connectTo(port);
    if (fd < 0) return {};
    writeAll(fd, "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    // The body is as long as the header says: the server may keep the connection open.
    std::string head = readUntil(fd, "\r\n\r\n");
    size_t length = 0;
    size_t at = head.find("Content-Length:");
    if (at == std::string::npos) at = head.find("content-length:");
    if (at != std::string::npos) length = std::stoul(head.substr(at + 15));
    std::string body = readExactly(fd, length);
    ::close(fd);
    return body;
}

} // namespace

bool browserAvailable() {
    struct stat info {};
    return ::stat(chromium, &info) == 0;
}

Browser::Browser(const XServer& server, const std::string& page, const std::string& dir)
    : Browser({server.env()}, {}, page, dir) {}

Browser::Browser(const std::vector<std::string>& environment, const std::vector<std::string>& flags,
                 const std::string& page, const std::string& dir) {
    std::string profile = dir + "/chromium-profile";
    std::vector<std::string> argv = {chromium,
                                     "--no-sandbox",
                                     "--no-first-run",
                                     "--no-default-browser-check",
                                     "--disable-gpu",
                                     "--disable-quic",
                                     "--disable-background-networking",
                                     "--disable-component-update",
                                     "--disable-sync",
                                     "--password-store=basic",
                                     "--disable-features=Translate,MediaRouter",
                                     "--user-data-dir=" + profile,
                                     "--remote-debugging-port=0",
                                     "--window-position=0,0",
                                     "--window-size=1280,800"};
    argv.insert(argv.end(), flags.begin(), flags.end());
    argv.push_back("--app=file://" + page);
    process_ = Process(argv, environment, dir + "/chromium.log");
    // The page's file name, as its address ends (a directory's name may be escaped there).
    std::string name = page.substr(page.rfind('/') + 1);
    // Chromium writes the port it listens on into its profile.
    int port = 0;
    auto deadline = std::chrono::steady_clock::now() + 60s;
    std::string target;
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream active(profile + "/DevToolsActivePort");
        if (port == 0 && !(active >> port)) port = 0;
        if (port) {
            json targets = json::parse(httpGet(port, "/json/list"), nullptr, false);
            if (targets.is_array())
                for (const json& t : targets)
                    if (t.value("type", "") == "page" && t.value("url", "").ends_with(name))
                        target = t.value("webSocketDebuggerUrl", "");
            if (!target.empty()) break;
        }
        std::this_thread::sleep_for(100ms);
    }
    if (target.empty()) throw std::runtime_error("chromium did not show the page");
    // ws://127.0.0.1:PORT/devtools/page/ID
    std::string path = target.substr(target.find('/', std::string("ws://").size()));
    socket_ = connectTo(port);
    std::string key = "dmFudHJlbC10ZXN0cy1rZXk=";
    writeAll(socket_, "GET " + path +
                          " HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
                          "Connection: Upgrade\r\nSec-WebSocket-Version: 13\r\n"
                          "Sec-WebSocket-Key: " +
                          key + "\r\n\r\n");
    std::string handshake = readUntil(socket_, "\r\n\r\n");
    if (handshake.find(" 101 ") == std::string::npos)
        throw std::runtime_error("no WebSocket to the page: " + handshake);
    while (evaluate("document.readyState") != "complete")
        std::this_thread::sleep_for(50ms);
}

Browser::~Browser() {
    if (socket_ >= 0) ::close(socket_);
    process_.stop();
}

std::string Browser::sendAndReceive(const std::string& text) {
    // One masked text frame out (clients must mask), unmasked frames back.
    std::string frame(1, static_cast<char>(0x81));
    if (text.size() < 126) {
        frame += static_cast<char>(0x80 | text.size());
    } else {
        frame += static_cast<char>(0x80 | 127);
        for (int shift = 56; shift >= 0; shift -= 8)
            frame += static_cast<char>((static_cast<uint64_t>(text.size()) >> shift) & 0xFF);
    }
    const unsigned char mask[4] = {0x12, 0x34, 0x56, 0x78};
    frame.append(reinterpret_cast<const char*>(mask), 4);
    for (size_t i = 0; i < text.size(); ++i)
        frame += static_cast<char>(text[i] ^ mask[i % 4]);
    writeAll(socket_, frame);
    return receive();
}

std::string Browser::receive() {
    std::string message;
    for (;;) {
        std::string head = readExactly(socket_, 2);
        auto b0 = static_cast<unsigned char>(head[0]), b1 = static_cast<unsigned char>(head[1]);
        uint64_t length = b1 & 0x7F;
        if (length == 126) {
            std::string more = readExactly(socket_, 2);
            length =
                (static_cast<unsigned char>(more[0]) << 8) | static_cast<unsigned char>(more[1]);
        } else if (length == 127) {
            std::string more = readExactly(socket_, 8);
            length = 0;
            for (char c : more)
                length = (length << 8) | static_cast<unsigned char>(c);
        }
        message += readExactly(socket_, length);
        if (b0 & 0x80) return message;
    }
}

json Browser::evaluate(const std::string& expression) {
    int id = nextId_++;
    json request = {{"id", id},
                    {"method", "Runtime.evaluate"},
                    {"params", {{"expression", expression}, {"returnByValue", true}}}};
    json answer = json::parse(sendAndReceive(request.dump()));
    while (!answer.contains("id") || answer["id"] != id)
        answer = json::parse(receive());
    return answer["result"]["result"].value("value", json());
}

} // namespace vantrel::testing

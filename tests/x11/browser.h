#pragma once
// A real Chromium on the private X server, showing a local page that records what it receives,
// read back through the DevTools protocol (HTTP for the page's address, then one WebSocket).

#include "x_session.h"

#include <nlohmann/json.hpp>

#include <string>

namespace vantrel::testing {

class Browser {
  public:
    // Starts Chromium on `server` with `page` (a file path) and waits until it can be evaluated in.
    Browser(const XServer& server, const std::string& page, const std::string& dir);
    // The same on another display: `environment` names it, `flags` are Chromium's own for it.
    Browser(const std::vector<std::string>& environment, const std::vector<std::string>& flags,
            const std::string& page, const std::string& dir);
    ~Browser();
    Browser(const Browser&) = delete;
    Browser& operator=(const Browser&) = delete;

    // The value of a JavaScript expression in the page (by value, as JSON).
    json evaluate(const std::string& expression);

  private:
    std::string sendAndReceive(const std::string& text);
    std::string receive();
    Process process_;
    int socket_ = -1;
    int nextId_ = 1;
};

// Whether a browser can be started here (Debian's chromium is installed).
bool browserAvailable();

} // namespace vantrel::testing

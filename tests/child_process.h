#pragma once
// Runs a program as a child process with its standard streams on pipes or files.

#include <string>
#include <utility>
#include <vector>

namespace vantrel::testing {

struct Finished {
    std::string out, err;
    int status = -1; // the exit status, or -1 when the child did not exit normally
};

enum class OutputTo { file, closedPipe };

// Runs `program` with `input` as its whole standard input and extra environment entries
// ("NAME=value"); waits for it to end.
Finished runToEnd(const std::string& program, const std::string& input,
                  const std::vector<std::string>& environment = {},
                  OutputTo output = OutputTo::file);

// A child whose standard input and output are pipes held by the test, for conversations.
class Conversation {
  public:
    explicit Conversation(const std::string& program,
                          const std::vector<std::string>& environment = {});
    ~Conversation();
    Conversation(const Conversation&) = delete;
    Conversation& operator=(const Conversation&) = delete;

    void send(const std::string& bytes);
    // The next line of standard output, without its line feed; empty at end of output.
    std::string readLine();
    // Closes standard input and waits; returns the exit status.
    int finish();

  private:
    int pid_ = -1, in_ = -1, out_ = -1;
    std::string pending_;
};

} // namespace vantrel::testing

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

// How a child ended.
struct Ending {
    int exitStatus = -1; // when it exited
    int signal = 0;      // when a signal ended it
};

// A child whose standard input and output are pipes held by the test, for conversations. With
// `traceOnPipe`, its standard error is a pipe too, read line by line with readTraceLine.
class Conversation {
  public:
    explicit Conversation(const std::string& program,
                          const std::vector<std::string>& environment = {},
                          bool traceOnPipe = false);
    ~Conversation();
    Conversation(const Conversation&) = delete;
    Conversation& operator=(const Conversation&) = delete;

    void send(const std::string& bytes);
    // The next line of standard output, without its line feed; empty at end of output.
    std::string readLine();
    // The next line of standard error; empty at its end.
    std::string readTraceLine();
    // Standard output from here to its end.
    std::string restOfOutput();
    // Closes standard input and waits; returns the exit status.
    int finish();
    // Closes standard input without waiting.
    void finishInput();
    void signal(int number);
    // Closes both ends the test holds, output first or input first, as a driver that dies
    // without a word does (its standard error stays readable).
    void abandon(bool outputFirst);
    // Waits for the child to end, without closing its input.
    Ending wait();

  private:
    int pid_ = -1, in_ = -1, out_ = -1, err_ = -1;
    std::string pending_, pendingTrace_;
};

} // namespace vantrel::testing

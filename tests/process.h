// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// Starting a program with its standard output and error captured, the way a
// calling script would.
#ifndef TESTS_PROCESS_H
#define TESTS_PROCESS_H

#include <string>
#include <sys/types.h>
#include <vector>

struct outcome {
    int status = -1; // exit status, or 128 + signal
    std::string out;
    std::string err;
};

// How the program is started. By default standard input is /dev/null and
// standard output and error are captured apart.
struct start_options {
    bool no_argv = false;   // an empty argument vector (argv[0] is still the file to run)
    bool closed_in = false; // start with standard input closed
    bool closed_out = false;
    bool closed_err = false;
    bool one_stream = false;     // standard error into the same pipe as standard output
    bool session_leader = false; // in a session of its own, without a controlling terminal
};

class process
{
  public:
    explicit process(const std::vector<std::string> &argv, const start_options &how = {});
    ~process();
    process(const process &) = delete;
    process &operator=(const process &) = delete;

    // Collects the output and waits for the exit; kills the program if it
    // runs longer than limit_ms.
    outcome wait(int limit_ms = 30000);

    // The program's process id; -1 when it could not be started or has been
    // waited for.
    [[nodiscard]] pid_t pid() const { return pid_; }

    enum class stream { out, err };

    // Waits until the program's standard output (or error) holds text, for
    // at most limit_ms; false when it did not (or the output ended first).
    // What is read on the way is kept, and wait() returns it with the rest.
    [[nodiscard]] bool shows(const std::string &text, int limit_ms = 10000,
                             stream in = stream::out);

    // Waits until a process the program started (or one they started) is
    // in one of the system calls calls (this machine's numbers), for at most
    // limit_ms; false when none was.
    [[nodiscard]] bool child_in_call(const std::vector<long> &calls, int limit_ms = 10000) const;

    // Waits until the program holds path open (the file its descriptor
    // names, links resolved), for at most limit_ms; false when it did not.
    [[nodiscard]] bool holds_open(const std::string &path, int limit_ms = 10000) const;

  private:
    // Reads what the program has written, waiting at most limit_ms for it;
    // false once both streams have ended.
    bool read_some(int limit_ms);

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    outcome read_; // the output read so far
};

// Waits until process pid, or one it started, is in one of the system calls
// calls (this machine's numbers), for at most limit_ms; false when it was not.
[[nodiscard]] bool waits_in_call(pid_t pid, const std::vector<long> &calls, int limit_ms = 10000);
// The same, or until process pid has ended (a call it made returned).
[[nodiscard]] bool in_call_or_ended(pid_t pid, const std::vector<long> &calls,
                                    int limit_ms = 10000);

// The first of pieces that text does not hold after the one before it;
// empty when it holds them all, in order.
[[nodiscard]] std::string missing_in_order(const std::string &text,
                                           const std::vector<std::string> &pieces);

#endif

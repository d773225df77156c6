// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// writer: another program's write to the line, made by a child process, for
// the cases where the programs share the port with someone else.
//
// writer        start a child that opens a path and writes bytes in one blocking write
// wait          its exit status: 0 when the write took every byte
// pid           the child's process id
#ifndef TESTS_WRITER_H
#define TESTS_WRITER_H

#include <cstdint>
#include <span>
#include <string>
#include <sys/types.h>

class writer
{
  public:
    writer(const std::string &path, std::span<const std::uint8_t> bytes);
    ~writer();
    writer(const writer &) = delete;
    writer &operator=(const writer &) = delete;

    // Waits for the child's exit, for at most limit_ms, then kills it.
    // Returns its exit status, 128 + signal, or -1 when it never ran.
    int wait(int limit_ms = 30000);
    [[nodiscard]] pid_t pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
};

#endif

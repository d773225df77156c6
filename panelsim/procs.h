// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// procs: what the panel may see of the programs it watches, through /proc
// and the kernel's cross-process calls.
//
// Which of a program's descriptors are open on the line (by the device they
// name, and the mode they were opened in), their status flags, the
// processes the panel started and theirs, what a path names as the program
// sees it (its root and working folder, its mount namespace), and its
// memory, read and written. A program that may not be looked into (one that
// made itself undumpable, another user's) is a "cannot tell", never a "no".
// What is read may be stale the moment it is read: the caller checks that
// the call it serves is still pending before acting on it.
//
// Only the panel's own processes are ever looked through: nothing here walks
// every process of the host.
//
// names_line     whether a descriptor of a process names the line's device
// is_line        whether a descriptor of a process is open on the line for use
// is_open        whether a descriptor of a process is open at all
// open_fds       a process's open descriptors
// fd_flags       a descriptor's status and close-on-exec flags
// descendants    the processes started from a process, and theirs
// proc_is_ours   whether /proc shows the panel's own pid namespace
// device_at      the device a path names, as a process sees it
// read_memory    copy bytes out of a process
// write_memory   copy bytes into a process
// read_string    a NUL-terminated string out of a process
// dup_fd         a descriptor of ours on the file a process's descriptor is open on
// thread_group   the process a thread belongs to
// thread_count   how many threads a process has
// has_ended      whether a thread has ended (gone, or a zombie)
// current_call   the system call a thread is in
// open_file_limit  a process's RLIMIT_NOFILE, as its calls are checked against
// fd_table_size  how many descriptors a process's table has room for now
#ifndef PROCS_H
#define PROCS_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

enum class tell { no, yes, cannot };

[[nodiscard]] tell names_line(pid_t pid, long long fd, dev_t line);
// A descriptor opened with O_PATH names the line but is not open on it: the
// kernel refuses every call on it but close, and it holds nothing open.
[[nodiscard]] tell is_line(pid_t pid, long long fd, dev_t line);
[[nodiscard]] tell is_open(pid_t pid, long long fd);
[[nodiscard]] std::vector<int> open_fds(pid_t pid);
// The flags of /proc/PID/fdinfo (O_NONBLOCK, O_CLOEXEC, O_PATH, ...); -1
// when unknown.
[[nodiscard]] long fd_flags(pid_t pid, int fd);

// The processes started from pid, and theirs, as the kernel lists each
// thread's children; empty when pid has none.
[[nodiscard]] std::vector<pid_t> descendants(pid_t pid);

// Whether /proc is of the panel's own pid namespace: a pid namespace that
// kept another's /proc would show the panel other processes than its own.
[[nodiscard]] bool proc_is_ours();

// The device at path (relative to dirfd, or to the working folder for
// AT_FDCWD) in pid's view; 0 when it names none.
[[nodiscard]] dev_t device_at(pid_t pid, int dirfd, const std::string &path);

// 0, or the errno.
[[nodiscard]] int read_memory(pid_t pid, std::uint64_t addr, void *to, std::size_t size);
[[nodiscard]] int write_memory(pid_t pid, std::uint64_t addr, const void *from, std::size_t size);
[[nodiscard]] std::optional<std::string> read_string(pid_t pid, std::uint64_t addr,
                                                     std::size_t max);

// -1 with errno set when it cannot be had.
[[nodiscard]] int dup_fd(pid_t pid, int fd);

[[nodiscard]] pid_t thread_group(pid_t tid);
// 0 when it cannot be read.
[[nodiscard]] long thread_count(pid_t pid);
[[nodiscard]] bool has_ended(pid_t tid);
// Its number; -1 when it is in none (running, or stopped outside one), -2
// when it cannot be read.
[[nodiscard]] long current_call(pid_t tid);
// The soft limit; -1 when it cannot be read, and for no limit.
[[nodiscard]] long long open_file_limit(pid_t pid);
// The FDSize of /proc/PID/status; -1 when it cannot be read.
[[nodiscard]] long long fd_table_size(pid_t pid);

#endif

// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
#include "launch.h"
#include "filter.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

// Messages from the child: 'W' carries the watch listener, 'w' says why there
// is none, 'E' is a failure that ends the run: a status byte, then the text.
void send_message(int sock, char kind, const std::string &text, int fd = -1,
                  unsigned char status = 0)
{
    std::string payload(1, kind);
    if (kind == 'E')
        payload += static_cast<char>(status);
    payload += text;
    iovec iov{payload.data(), payload.size()};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    if (fd >= 0) {
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        cmsghdr *c = CMSG_FIRSTHDR(&msg);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int));
        memcpy(CMSG_DATA(c), &fd, sizeof fd);
    }
    (void)sendmsg(sock, &msg, MSG_NOSIGNAL);
}

bool write_file(const char *path, const std::string &text)
{
    const int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    return ok;
}

// An unprivileged user gets a user namespace of its own, mapped to root in it.
bool enter_namespace(bool privileged, std::string &why)
{
    if (privileged) {
        if (unshare(CLONE_NEWNS) == 0)
            return true;
        why = std::string("cannot make a private mount namespace: ") + strerror(errno);
        return false;
    }
    const uid_t uid = geteuid();
    const gid_t gid = getegid();
    if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
        why = std::string("unprivileged user namespaces are not allowed here (") + strerror(errno) +
              "); run as root";
        return false;
    }
    if (!write_file("/proc/self/setgroups", "deny") ||
        !write_file("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
        !write_file("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
        why = std::string("cannot map the user namespace: ") + strerror(errno);
        return false;
    }
    return true;
}

// Where /dev has no ttyS1 to mount on, /dev becomes an overlay in which one
// is made; /dev/pts and /dev/shm are carried over.
bool make_ttys1(std::string &why)
{
    char scratch[] = "/tmp/panelsim-ns-XXXXXX";
    if (mkdtemp(scratch) == nullptr || mount("panelsim", scratch, "tmpfs", 0, "mode=0700") != 0) {
        why = std::string("cannot make a scratch folder: ") + strerror(errno);
        return false;
    }
    const std::string s = scratch;
    const char *keep[] = {"pts", "shm"};
    for (const char *k : keep) {
        const std::string at = s + "/" + k;
        (void)mkdir(at.c_str(), 0700);
        (void)mount(("/dev/" + std::string(k)).c_str(), at.c_str(), nullptr, MS_BIND | MS_REC,
                    nullptr);
    }
    (void)mkdir((s + "/upper").c_str(), 0755);
    (void)mkdir((s + "/work").c_str(), 0755);
    const std::string options = "lowerdir=/dev,upperdir=" + s + "/upper,workdir=" + s + "/work";
    if (mount("overlay", "/dev", "overlay", 0, options.c_str()) != 0) {
        why = std::string("cannot lay an overlay on /dev: ") + strerror(errno);
        return false;
    }
    for (const char *k : keep)
        (void)mount((s + "/" + k).c_str(), ("/dev/" + std::string(k)).c_str(), nullptr, MS_MOVE,
                    nullptr);
    const int fd = open(TTYS1, O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0) {
        why = std::string("cannot make /dev/ttyS1: ") + strerror(errno);
        return false;
    }
    close(fd);
    // The scratch folder stays reachable through the overlay; its name goes.
    (void)umount2(scratch, MNT_DETACH);
    (void)rmdir(scratch);
    return true;
}

bool stand_at_ttys1(const std::string &slave, std::string &why)
{
    const bool privileged = geteuid() == 0;
    if (!enter_namespace(privileged, why))
        return false;
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        why = std::string("cannot make the mounts private: ") + strerror(errno);
        return false;
    }
    struct stat st {
    };
    if (lstat(TTYS1, &st) != 0) {
        if (!privileged) {
            why = "there is no /dev/ttyS1 to stand in for, and making one needs root";
            return false;
        }
        if (!make_ttys1(why))
            return false;
    }
    if (mount(slave.c_str(), TTYS1, nullptr, MS_BIND, nullptr) != 0) {
        why = std::string("cannot bind the line to /dev/ttyS1: ") + strerror(errno);
        return false;
    }
    return true;
}

// Where execvp would find the program, looked for before the filter is in
// place: each try of an exec under it is a round trip through the panel.
// Empty where execvp is to search itself.
std::string find_program(const char *name)
{
    const char *path = getenv("PATH");
    if (strchr(name, '/') != nullptr || path == nullptr)
        return {};
    for (const char *dir = path;; dir++) {
        const char *end = strchrnul(dir, ':');
        std::string file = end == dir ? std::string(".") : std::string(dir, end);
        file += "/";
        file += name;
        struct stat st {
        };
        if (stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(file.c_str(), X_OK) == 0)
            return file;
        if (*end == '\0')
            return {};
        dir = end;
    }
}

// Runs the program: where it was found, or as execvp finds it (a file it
// must hand to the shell, or one not found: execvp's own answer).
void run(char *const argv[])
{
    const std::string found = find_program(argv[0]);
    if (!found.empty()) {
        execv(found.c_str(), argv);
        if (errno != ENOEXEC)
            return;
    }
    execvp(argv[0], argv);
}

[[noreturn]] void child(int sock, char *const argv[], const std::string &slave,
                        const launch_options &how)
{
    std::string why;
    if (how.out_to_err && dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        send_message(sock, 'E', std::string("cannot move standard output: ") + strerror(errno), -1,
                     2);
        _exit(2);
    }
    if (how.at_ttys1 && !stand_at_ttys1(slave, why)) {
        send_message(sock, 'E', "cannot stand at /dev/ttyS1: " + why, -1, LAUNCH_NO_TTYS1);
        _exit(LAUNCH_NO_TTYS1);
    }
    // From here on our calls are watched; the listener closes on exec.
    const int listener = watch_install(how.flow, why);
    if (listener >= 0) {
        send_message(sock, 'W', "", listener);
    } else {
        send_message(sock, 'w', why);
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    run(argv);
    const int err = errno;
    const int status = err == ENOENT ? 127 : 126;
    send_message(sock, 'E', std::string("cannot start ") + argv[0] + ": " + strerror(err), -1,
                 static_cast<unsigned char>(status));
    _exit(status);
}

// Takes the child's next message, if one is there; true once the exec is
// done (the socket closed with it) or has failed.
bool started(int sock, launch_result &r)
{
    pollfd pfd{sock, POLLIN, 0};
    if (r.watch >= 0 && poll(&pfd, 1, 0) == 0)
        return false;
    char buf[1024];
    iovec iov{buf, sizeof buf};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t n = recvmsg(sock, &msg, MSG_CMSG_CLOEXEC);
    if (n < 0 && errno == EINTR)
        return false;
    if (n <= 0)
        return true;
    const std::string text(buf + 1, static_cast<size_t>(n - 1));
    const cmsghdr *c = CMSG_FIRSTHDR(&msg);
    if (buf[0] == 'W' && c != nullptr && c->cmsg_type == SCM_RIGHTS)
        memcpy(&r.watch, CMSG_DATA(c), sizeof r.watch);
    else if (buf[0] == 'w')
        r.warning = text;
    else if (buf[0] == 'E' && n >= 2) {
        r.pid = -1;
        r.status = static_cast<unsigned char>(buf[1]);
        r.error = text.substr(1);
        return true;
    }
    return false;
}

// The call pending on the listener goes on.
void let_go_on(int listener)
{
    seccomp_notif req{};
    if (ioctl(listener, SECCOMP_IOCTL_NOTIF_RECV, &req) != 0)
        return;
    seccomp_notif_resp resp{};
    resp.id = req.id;
    resp.flags = SECCOMP_USER_NOTIF_FLAG_CONTINUE;
    (void)ioctl(listener, SECCOMP_IOCTL_NOTIF_SEND, &resp);
}

// Until its exec, the child's own calls are watched too, the exec among
// them: they go on. The socket closes with the exec, before the command
// runs: a call pending while the socket is still open after it came is the
// child's, and the only one, as the child waits for it.
void go_on_before_exec(int sock, int listener)
{
    pollfd fds[2] = {{sock, POLLIN, 0}, {listener, POLLIN, 0}};
    if (poll(fds, 2, -1) <= 0 || fds[0].revents != 0 || !(fds[1].revents & POLLIN))
        return;
    if (poll(fds, 1, 0) != 0)
        return;
    let_go_on(listener);
}

// A child whose command did not start ends; its exit, a watched call, goes on.
void let_end(pid_t pid, int listener)
{
    while (waitpid(pid, nullptr, WNOHANG) == 0) {
        pollfd pfd{listener, POLLIN, 0};
        if (poll(&pfd, 1, 10) > 0 && (pfd.revents & POLLIN) != 0)
            let_go_on(listener);
    }
}

} // namespace

launch_result launch(char *const argv[], const std::string &slave, const launch_options &how)
{
    launch_result r;
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv) != 0) {
        r.status = 2;
        r.error = std::string("socketpair: ") + strerror(errno);
        return r;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        close(sv[0]);
        child(sv[1], argv, slave, how);
    }
    close(sv[1]);
    if (pid < 0) {
        r.status = 2;
        r.error = std::string("fork: ") + strerror(errno);
        close(sv[0]);
        return r;
    }
    r.pid = pid;
    while (!started(sv[0], r))
        go_on_before_exec(sv[0], r.watch);
    close(sv[0]);
    if (r.pid < 0) {
        if (r.watch >= 0)
            let_end(pid, r.watch);
        else
            (void)waitpid(pid, nullptr, 0);
        if (r.watch >= 0)
            close(r.watch);
        r.watch = -1;
    }
    return r;
}

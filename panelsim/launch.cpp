// SPDX-License-Identifier: MIT
#include "launch.h"
#include "watch.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
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

[[noreturn]] void child(int sock, char *const argv[], const std::string &slave, bool at_ttys1,
                        bool watch_closes)
{
    std::string why;
    if (at_ttys1 && !stand_at_ttys1(slave, why)) {
        send_message(sock, 'E', "cannot stand at /dev/ttyS1: " + why, -1, LAUNCH_NO_TTYS1);
        _exit(LAUNCH_NO_TTYS1);
    }
    // From here on every close is watched; the listener closes on exec.
    const int listener = watch_install(watch_closes, why);
    if (listener >= 0) {
        send_message(sock, 'W', "", listener);
    } else {
        send_message(sock, 'w', why);
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execvp(argv[0], argv);
    const int err = errno;
    const int status = err == ENOENT ? 127 : 126;
    send_message(sock, 'E', std::string("cannot start ") + argv[0] + ": " + strerror(err), -1,
                 static_cast<unsigned char>(status));
    // Under the watch, exit_group waits for the panel, which is waiting for
    // us: the one thread's own exit is not watched.
    syscall(SYS_exit, status);
    _exit(status);
}

} // namespace

launch_result launch(char *const argv[], const std::string &slave, bool at_ttys1, bool watch_closes)
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
        child(sv[1], argv, slave, at_ttys1, watch_closes);
    }
    close(sv[1]);
    if (pid < 0) {
        r.status = 2;
        r.error = std::string("fork: ") + strerror(errno);
        close(sv[0]);
        return r;
    }
    r.pid = pid;
    for (;;) {
        char buf[1024];
        iovec iov{buf, sizeof buf};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        const ssize_t n = recvmsg(sv[0], &msg, MSG_CMSG_CLOEXEC);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
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
            break;
        }
    }
    close(sv[0]);
    if (r.pid < 0) {
        // The child's exit is a watched call: without a listener it goes on.
        if (r.watch >= 0)
            close(r.watch);
        r.watch = -1;
        (void)waitpid(pid, nullptr, 0);
    }
    return r;
}

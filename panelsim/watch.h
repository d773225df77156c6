// watch: the line settings that programs ask for.
//
// A Linux pseudo-terminal keeps no character size or parity of its own: it
// stores CS8 without PARENB whatever a program sets, so reading the line
// alone cannot tell a 7E1 sender from an 8N1 one. The commands the virtual
// panel starts therefore run under a seccomp filter that hands every
// terminal-setting ioctl to the panel before the kernel carries it out. The
// panel reads the requested control flags from the program's memory, notes
// them when the call is for its line, and lets the call go on unchanged.
//
// watch_install   in the started child, before exec: the listener fd, or -1
// settings_watch  in the panel: answers the child's requests, keeps the last
//                 control flags asked for on the line
#ifndef WATCH_H
#define WATCH_H

#include <functional>
#include <string>
#include <sys/types.h>

[[nodiscard]] int watch_install(std::string &why);

class settings_watch
{
  public:
    explicit settings_watch(dev_t line) : line_(line) {}
    ~settings_watch();
    settings_watch(const settings_watch &) = delete;
    settings_watch &operator=(const settings_watch &) = delete;

    void adopt(int listener) { fd_ = listener; }
    // Stops watching: the watched programs are gone.
    void stop();
    [[nodiscard]] int fd() const { return fd_; }

    // Answers one pending request; false once the listener has no more
    // programs to watch. A request to change the line's settings waits for
    // before_change, which takes in what was sent under the old ones.
    bool handle(const std::function<void()> &before_change);

    // The control flags last asked for on the line; false if none yet.
    [[nodiscard]] bool requested(unsigned &cflag) const
    {
        cflag = cflag_;
        return seen_;
    }

  private:
    dev_t line_;
    int fd_ = -1;
    bool seen_ = false;
    unsigned cflag_ = 0;
};

#endif

// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
#include "ending.h"

#include <csignal>
#include <cstdio>
#include <initializer_list>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

int signals_as_data(bool children)
{
    sigset_t set;
    sigemptyset(&set);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
        sigaddset(&set, sig);
    if (children)
        sigaddset(&set, SIGCHLD);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    return signalfd(-1, &set, SFD_CLOEXEC);
}

bool piped_out()
{
    struct stat st {
    };
    return fstat(STDOUT_FILENO, &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode));
}

int end_by(int sig)
{
    fflush(nullptr);
    signal(sig, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    raise(sig);
    return 128 + sig;
}

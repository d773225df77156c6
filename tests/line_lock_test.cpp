// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// Two lines asked for one path, however it is written: while the first
// lives the second is refused, told the first's pid however many ask, and
// the first's link stays as it was; once the first has gone, the path is
// free. Lines on other paths, long ones whose names must be hashed
// included, never refuse each other.
#include "pty_line.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

struct lock_case {
    const char *name;
    std::string first; // in the folder
    std::string second;
    bool same;
};

std::string link_target(const std::string &path)
{
    char target[4096];
    const ssize_t n = readlink(path.c_str(), target, sizeof target);
    return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
}

// A fresh folder holding sub/ and alias -> sub.
class Folder : public testing::Test
{
  protected:
    void SetUp() override
    {
        std::string pattern = std::string(WORK_DIR) + ".XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr) << pattern << ": " << strerror(errno);
        dir_ = pattern + "/";
        ASSERT_EQ(mkdir((dir_ + "sub").c_str(), 0755), 0);
        ASSERT_EQ(symlink("sub", (dir_ + "alias").c_str()), 0);
    }
    void TearDown() override
    {
        (void)unlink((dir_ + "alias").c_str());
        (void)rmdir((dir_ + "sub").c_str());
        (void)rmdir(dir_.c_str());
    }

    std::string dir_;
};

class Lock : public Folder, public testing::WithParamInterface<lock_case>
{
};

TEST_P(Lock, OnePathOneLine)
{
    const auto &c = GetParam();
    auto first = std::make_unique<pty_line>();
    pty_line second;
    ASSERT_TRUE(first->open() && second.open()) << strerror(errno);
    ASSERT_TRUE(first->link(dir_ + c.first)) << strerror(errno);
    errno = 0;
    const bool linked = second.link(dir_ + c.second);
    if (!c.same) {
        EXPECT_TRUE(linked) << strerror(errno);
        return;
    }
    EXPECT_FALSE(linked);
    EXPECT_EQ(errno, EBUSY);
    EXPECT_EQ(second.holder(), getpid());
    EXPECT_EQ(link_target(dir_ + c.first), first->slave_path());
    first.reset();
    EXPECT_TRUE(second.link(dir_ + c.second)) << strerror(errno);
    EXPECT_EQ(link_target(dir_ + c.first), second.slave_path());
}

// Past the length of a socket's name, the path is hashed with its tail kept.
const std::string LONG(200, 'x');

INSTANTIATE_TEST_SUITE_P(
    Paths, Lock,
    testing::Values(lock_case{"same", "sub/line", "sub/line", true},
                    lock_case{"through_dot_dot", "sub/line", "sub/../sub/line", true},
                    lock_case{"through_a_linked_folder", "sub/line", "alias/line", true},
                    lock_case{"trailing_slash", "sub/line", "sub/line/", true},
                    lock_case{"dotted_through_a_linked_folder_with_trailing_slashes", "sub/line",
                              "./alias/../alias/./line//", true},
                    lock_case{"another_name", "sub/line", "sub/line2", false},
                    lock_case{"long", "sub/" + LONG, "alias/" + LONG, true},
                    lock_case{"long_differing_first", "sub/a" + LONG, "sub/b" + LONG, false},
                    lock_case{"long_differing_last", "sub/" + LONG + "a", "sub/" + LONG + "b",
                              false}),
    [](const auto &param_info) { return std::string(param_info.param.name); });

// Nobody answers the askers, so none of them may depend on a queue of
// answers: the twentieth is told the holder as the first was.
TEST_F(Folder, EveryRefusalNamesTheHolder)
{
    pty_line first;
    ASSERT_TRUE(first.open() && first.link(dir_ + "sub/line")) << strerror(errno);
    for (int i = 0; i < 24; i++) {
        line_lock second;
        EXPECT_FALSE(second.take(dir_ + "alias/line"));
        EXPECT_EQ(errno, EBUSY);
        EXPECT_EQ(second.holder(), getpid()) << "refusal " << i + 1;
    }
}

} // namespace

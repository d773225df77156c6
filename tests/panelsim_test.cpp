// The virtual panel, run as its users run it: around a command, with the
// host build of the programs or with the shell's own ways of writing a port.
#include "process.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace
{

const std::string LINK = "/tmp/panelsim-test-line";

struct panel_case {
    const char *name;
    std::vector<std::string> argv; // after panelsim
    int status;
    std::vector<std::string> out; // lines expected in standard output, in order
    std::string err;              // expected at the start of standard error
};

std::string shell_write(const std::string &stty, const std::string &printf_bytes)
{
    return "stty -F " + LINK + " " + stty + " 2>/dev/null; printf '" + printf_bytes + "' > " + LINK;
}

const std::string FRAME45 = "\\105\\001\\001\\001\\001\\001\\000\\000";

class Panel : public testing::TestWithParam<panel_case>
{
};

TEST_P(Panel, ReportsWhatReachedTheLine)
{
    const auto &c = GetParam();
    std::vector<std::string> argv = {PANELSIM};
    argv.insert(argv.end(), c.argv.begin(), c.argv.end());
    process p(argv);
    const outcome o = p.wait();
    // Where seccomp is not to be had (some containers), what the panel sees
    // differs; it says so.
    if (o.err.rfind("panelsim: cannot watch the settings", 0) == 0)
        GTEST_SKIP() << o.err;
    EXPECT_EQ(o.status, c.status) << o.out << o.err;
    std::size_t at = 0;
    for (const auto &line : c.out) {
        const std::size_t found = o.out.find(line, at);
        ASSERT_NE(found, std::string::npos) << "missing: " << line << "\nin:\n" << o.out;
        at = found + line.size();
    }
    EXPECT_EQ(o.err.substr(0, c.err.size()), c.err);
}

INSTANTIATE_TEST_SUITE_P(
    Runs, Panel,
    testing::Values(
        panel_case{"host_panel45",
                   {"--", HOST_PANEL45},
                   0,
                   {"vfd_0x45 command\n", "  45 01 01 01 01 01 00 00  19200 8N1 raw\n",
                    "panelsim: 1 frame received, 0 flagged\n"},
                   ""},
        panel_case{"host_panelcmd_control_bytes",
                   {"--", HOST_PANELCMD, "a", "d", "11", "13", "0"},
                   0,
                   {"  0a 0d 11 13 00 00 00 00  19200 8N1 raw\n",
                    "panelsim: 1 frame received, 0 flagged\n"},
                   ""},
        panel_case{"clean_shell_write",
                   {"-l", LINK, "--", "sh", "-c", shell_write("19200 raw -echo", FRAME45)},
                   0,
                   {"  45 01 01 01 01 01 00 00  19200 8N1 raw\n",
                    "panelsim: 1 frame received, 0 flagged\n"},
                   ""},
        // The settings are judged as they were when the bytes were written,
        // though they change again before the panel reads them.
        panel_case{
            "settings_changed_right_after",
            {"-l", LINK, "--", "sh", "-c",
             std::string("for i in 1 2 3 4 5; do ") + WRITE_THEN_CHANGE + " " + LINK + "; done"},
            0,
            {"  45 01 01 01 01 01 00 00  19200 8N1 raw\n",
             "panelsim: 5 frames received, 0 flagged\n"},
            ""},
        panel_case{"slow",
                   {"-l", LINK, "--", "sh", "-c", shell_write("9600 raw -echo", FRAME45)},
                   1,
                   {"  45 01 01 01 01 01 00 00  9600 8N1 raw  !! speed 9600, not 19200\n",
                    "panelsim: 1 frame received, 1 flagged\n"},
                   ""},
        panel_case{"seven_even_one",
                   {"-l", LINK, "--", "sh", "-c",
                    shell_write("19200 raw -echo cs7 parenb -parodd", FRAME45)},
                   1,
                   {"  45 01 01 01 01 01 00 00  19200 7E1 raw  !! 7 data bits; parity E\n",
                    "panelsim: 1 frame received, 1 flagged\n"},
                   ""},
        panel_case{"output_processing",
                   {"-l", LINK, "--", "sh", "-c",
                    shell_write("19200 raw -echo opost onlcr",
                                "\\012\\001\\001\\001\\001\\001\\000\\000")},
                   1,
                   {"  0d 0a 01 01 01 01 01 00  19200 8N1 opost onlcr  !! output processing on\n",
                    "  00                       19200 8N1 opost onlcr  !! 1 byte left over; output "
                    "processing on\n",
                    "panelsim: 1 frame received, 2 flagged\n"},
                   ""},
        panel_case{
            "short_frame",
            {"-l", LINK, "--", "sh", "-c", shell_write("19200 raw -echo", "\\105\\001\\001")},
            1,
            {"  45 01 01                 19200 8N1 raw  !! short frame: 3 of 8 bytes\n",
             "panelsim: 0 frames received, 1 flagged\n"},
            ""},
        panel_case{"command_status_passes_through",
                   {"-l", LINK, "--", "sh", "-c", "exit 5"},
                   5,
                   {"panelsim: 0 frames received, 0 flagged\n"},
                   ""},
        panel_case{"command_not_found",
                   {"-l", LINK, "--", "/nonexistent/command"},
                   127,
                   {},
                   "panelsim: cannot start /nonexistent/command: No such file or directory\n"},
        panel_case{"unknown_option", {"--frobnicate"}, 2, {}, ""},
        panel_case{"help", {"--help"}, 0, {"usage: panelsim"}, ""}),
    [](const auto &param_info) { return std::string(param_info.param.name); });

TEST(PanelUse, RefusesAPathThatIsNotItsLink)
{
    const std::string path = LINK + "-taken";
    const int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    close(fd);
    process p({PANELSIM, "-l", path, "--", "true"});
    const outcome o = p.wait();
    unlink(path.c_str());
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.err,
              "panelsim: " + path +
                  " exists and is not a panel's link; remove it or choose another with --link\n");
}

// The very program that ships, unchanged, against a panel at /dev/ttyS1.
TEST(PanelUse, StandsAtDevTtyS1ForTheShippedProgram)
{
    const bool there_before = access("/dev/ttyS1", F_OK) == 0;
    process p({PANELSIM, "--dev-ttyS1", "--", PANEL45});
    const outcome o = p.wait();
    if (o.status == 3)
        GTEST_SKIP() << o.err;
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.out.find("  45 01 01 01 01 01 00 00  19200 8N1 raw\n"), std::string::npos) << o.out;
    // Outside the command's namespace nothing has changed.
    EXPECT_EQ(access("/dev/ttyS1", F_OK) == 0, there_before);
}

} // namespace

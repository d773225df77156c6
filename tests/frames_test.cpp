// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
#include "controller.h"
#include "frames.h"
#include "output.h"
#include "report.h"
#include "wire.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <set>
#include <string>
#include <termios.h>
#include <vector>

namespace
{

using bytes = std::vector<std::uint8_t>;

line_settings line(long baud, const char *framing = "8N1", unsigned oflag = 0, unsigned iflag = 0,
                   unsigned cflag = 0)
{
    line_settings s;
    s.baud = baud;
    s.data_bits = framing[0] - '0';
    s.parity = framing[1];
    s.stop_bits = framing[2] - '0';
    s.oflag = oflag;
    s.iflag = iflag;
    s.cflag = cflag;
    return s;
}

const line_settings GOOD = line(19200);

line_settings unknown(line_settings s)
{
    s.known = false;
    return s;
}

struct settings_case {
    const char *name;
    line_settings settings;
    std::string said;
    std::vector<std::string> faults;
};

class Settings : public testing::TestWithParam<settings_case>
{
};

std::vector<std::string> texts(const std::vector<fault> &faults)
{
    std::vector<std::string> t(faults.size());
    std::transform(faults.begin(), faults.end(), t.begin(), [](const fault &f) { return f.text; });
    return t;
}

TEST_P(Settings, AreDescribedAndJudged)
{
    const auto &c = GetParam();
    EXPECT_EQ(describe(c.settings), c.said);
    EXPECT_EQ(texts(settings_faults(c.settings)), c.faults);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, Settings,
    testing::Values(
        settings_case{"clean", GOOD, "19200 8N1 raw", {}},
        settings_case{"slow", line(9600), "9600 8N1 raw", {"speed 9600, not 19200"}},
        settings_case{
            "seven_even", line(19200, "7E1"), "19200 7E1 raw", {"7 data bits", "parity E"}},
        settings_case{
            "odd_two_stop",
            line(19200, "8O2"),
            "19200 8O2 raw",
            {"parity O", "2 stop bits, not the device's 1 (a controller at 8N1 takes them)"}},
        settings_case{"output_processing",
                      line(19200, "8N1", OPOST | ONLCR),
                      "19200 8N1 opost onlcr",
                      {"output processing on"}},
        settings_case{"flow_control",
                      line(19200, "8N1", 0, IXON | IXOFF, CRTSCTS),
                      "19200 8N1 ixon ixoff crtscts",
                      {"RTS/CTS flow control", "XON/XOFF flow control"}},
        settings_case{
            "all_wrong",
            line(38400, "7E1", OPOST),
            "38400 7E1 opost",
            {"speed 38400, not 19200", "7 data bits", "parity E", "output processing on"}},
        // What the panel could not see is never clean, whatever the line says.
        settings_case{"unknown", unknown(GOOD), "19200 ??1 raw", {"settings unknown"}},
        settings_case{
            "hung_up", line(0), "B0 8N1 raw", {"speed B0 (hung up: sent at 9600), not 19200"}}),
    [](const auto &param_info) { return std::string(param_info.param.name); });

// A wire and the panel's controller behind it (receiver and frame monitor),
// with every report they made.
struct line_under_test final : line_listener {
    line_under_test(const line_settings &s, bool at_arrival, std::size_t buffer = DEFAULT_BUFFER)
        : w(s, {buffer, at_arrival}, *this)
    {
    }
    void sent(const sent_byte &b) override
    {
        bytes_sent.push_back(b);
        keep(c.sent(b));
    }
    void went_low(long long start_ns, const line_settings &s) override
    {
        keep(c.went_low(start_ns, s));
    }
    void broke(const line_break &b) override
    {
        breaks.push_back(b);
        keep(c.broke(b));
    }
    void keep(const std::vector<line_report> &reports)
    {
        got.insert(got.end(), reports.begin(), reports.end());
    }
    controller c;
    wire w;
    std::vector<sent_byte> bytes_sent;
    std::vector<line_break> breaks;
    std::vector<line_report> got;
};

// Bytes written in chunks at given times (ms) to a line at 19200 8N1, then
// the line left quiet.
struct chunk {
    long long at;
    bytes data;
};

struct burst_case {
    const char *name;
    std::vector<chunk> chunks;
    std::vector<std::pair<std::size_t, std::vector<std::string>>> reports; // size, problems
};

class Bursts : public testing::TestWithParam<burst_case>
{
};

TEST_P(Bursts, AreCutIntoFrames)
{
    const auto &c = GetParam();
    line_under_test t(GOOD, false);
    for (const auto &ch : c.chunks)
        EXPECT_EQ(t.w.take(ch.data, ch.at * NS_PER_MS), ch.data.size());
    const long long end = t.w.idle_at();
    t.w.advance(end);
    EXPECT_TRUE(t.c.quiet(end + FRAME_GAP_MS * NS_PER_MS - 1).empty());
    t.keep(t.c.quiet(end + FRAME_GAP_MS * NS_PER_MS));
    EXPECT_EQ(t.c.next_due(), NEVER);
    ASSERT_EQ(t.got.size(), c.reports.size());
    for (std::size_t i = 0; i < t.got.size(); i++) {
        EXPECT_EQ(t.got[i].bytes.size(), c.reports[i].first) << i;
        EXPECT_EQ(texts(t.got[i].problems), c.reports[i].second) << i;
    }
}

const bytes F = {0x45, 1, 1, 1, 1, 1, 0, 0};

bytes cat(bytes a, const bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

INSTANTIATE_TEST_SUITE_P(
    Line, Bursts,
    testing::Values(
        burst_case{"one_frame", {{0, F}}, {{8, {}}}},
        burst_case{
            "frame_in_pieces", {{0, {0x45, 1, 1}}, {30, {1, 1, 1}}, {60, {0, 0}}}, {{8, {}}}},
        burst_case{"two_frames_at_once", {{0, cat(F, F)}}, {{8, {}}, {8, {}}}},
        burst_case{"short_frame", {{0, {0x45, 1, 1}}}, {{3, {"short frame: 3 of 8 bytes"}}}},
        burst_case{"left_over", {{0, cat(F, {0x0d})}}, {{8, {}}, {1, {"1 byte left over"}}}},
        // The gap counts from the end of the last stop bit on the wire.
        burst_case{"pause_splits_a_frame",
                   {{0, {1, 2, 3, 4}}, {FRAME_GAP_MS + 3, {5, 6, 7, 8}}},
                   {{4, {"short frame: 4 of 8 bytes"}}, {4, {"short frame: 4 of 8 bytes"}}}},
        // 204 bytes take 106 ms on the wire: the last 4 queue behind them.
        burst_case{"queued_bytes_do_not_split",
                   {{0, bytes(204, 0)}, {FRAME_GAP_MS + 3, {5, 6, 7, 8}}},
                   {26, {8, {}}}},
        burst_case{"frames_apart", {{0, F}, {1000, F}}, {{8, {}}, {8, {}}}}),
    [](const auto &param_info) { return std::string(param_info.param.name); });

// A change of settings at a time, during a frame written at time 0.
struct change_case {
    const char *name;
    bool at_arrival;
    long long change_at_ns;
    line_settings to;
    std::vector<std::string> problems;
    line_settings from = GOOD;
};

class Changes : public testing::TestWithParam<change_case>
{
};

TEST_P(Changes, ActOnTheBytesNotYetSent)
{
    const auto &c = GetParam();
    line_under_test t(c.from, c.at_arrival);
    (void)t.w.take(F, 0);
    t.w.change(c.to, c.change_at_ns);
    t.w.advance(t.w.idle_at());
    ASSERT_EQ(t.got.size(), 1U);
    EXPECT_EQ(texts(t.got[0].problems), c.problems);
    EXPECT_EQ(t.got[0].time_ns, 0);
}

const long long BYTE_NS = GOOD.char_ns(); // 520833 ns at 19200 8N1

INSTANTIATE_TEST_SUITE_P(
    Wire, Changes,
    testing::Values(
        change_case{"restore_at_once",
                    false,
                    1000,
                    line(9600),
                    {"settings changed from byte 2: 9600 8N1 raw", "speed 9600, not 19200"}},
        change_case{"during_the_last_byte", false, 7 * BYTE_NS + 1, line(9600), {}},
        change_case{"just_before_the_last_byte",
                    false,
                    7 * BYTE_NS - 1,
                    line(19200, "7E1"),
                    {"settings changed from byte 8: 19200 7E1 raw", "7 data bits", "parity E"}},
        change_case{"after_the_frame", false, 8 * BYTE_NS, line(9600), {}},
        change_case{"the_same_settings_again", false, 1000, line(19200, "8N1", OPOST), {}},
        change_case{"behind_an_emulated_uart", true, 1000, line(9600), {}},
        change_case{"raw_too_late_for_output_processing",
                    false,
                    1000,
                    line(19200),
                    {"output processing on"},
                    line(19200, "8N1", OPOST | ONLCR)}),
    [](const auto &param_info) { return std::string(param_info.param.name); });

TEST(Wire, QueuesBytesAndTimesThemAtTheSpeedOfEach)
{
    line_under_test t(GOOD, false);
    (void)t.w.take(cat(F, F), 0);
    t.w.advance(BYTE_NS);
    ASSERT_EQ(t.bytes_sent.size(), 2U);
    EXPECT_EQ(t.bytes_sent[1].start_ns, BYTE_NS);
    // From the third byte on, 9600 7E2: 11 bits at 104.2 us.
    t.w.change(line(9600, "7E2"), BYTE_NS + 1);
    EXPECT_EQ(t.bytes_sent.size(), 2U);
    EXPECT_EQ(t.w.idle_at(), 2 * BYTE_NS + 14LL * 1145833);
    EXPECT_EQ(t.w.discard(2 * BYTE_NS + 1145833), 12U);
    EXPECT_EQ(t.bytes_sent.size(), 4U);
    EXPECT_EQ(t.w.queued(), 0U);
}

// The UART's states, each seen in what leaves the line and when.
TEST(Wire, KeepsTheUartsStates)
{
    line_under_test t(GOOD, false, 64);
    // A buffer of 64 holds 63; the first byte starts at once and makes room.
    EXPECT_EQ(t.w.take(bytes(100, 0x55), 0), 64U);
    EXPECT_EQ(t.w.room(), 0U);
    EXPECT_EQ(t.w.writable_at(), BYTE_NS);
    // Suspended: the byte on the wire ends, no other starts; a flow-control
    // character still goes, ahead of the queue.
    t.w.suspend(BYTE_NS / 2);
    t.w.send_flow_char(0x13, BYTE_NS / 2);
    EXPECT_EQ(t.w.idle_at(), NEVER);
    t.w.advance(100 * BYTE_NS);
    ASSERT_EQ(t.bytes_sent.size(), 2U);
    EXPECT_EQ(t.bytes_sent[1].value, 0x13);
    t.w.resume(200 * BYTE_NS);
    EXPECT_EQ(t.w.idle_at(), 263 * BYTE_NS);
    // A break swallows the bytes that start during it.
    t.w.break_on(200 * BYTE_NS + 1, 10 * BYTE_NS);
    t.w.advance(263 * BYTE_NS);
    EXPECT_EQ(t.bytes_sent.size(), 2U + 63 - 10);
    const auto brk = std::find_if(t.got.begin(), t.got.end(),
                                  [](const line_report &r) { return r.kind == line_report::brk; });
    ASSERT_NE(brk, t.got.end());
    EXPECT_EQ(brk->duration_ns, 10 * BYTE_NS);
    EXPECT_EQ(texts(brk->problems),
              (std::vector<std::string>{"break: the controller receives a 00 with a framing error",
                                        "10 bytes sent into the break, lost"}));
}

// A break asked for while a character is on the wire begins when that
// character ends: its 00 reaches the receiver then, never ahead, so that a
// flush in between cuts only what left before it.
TEST(Wire, TellsABreakWhenTheLineGoesLow)
{
    line_under_test t(GOOD, false, 64);
    EXPECT_EQ(t.w.take(bytes{0x45, 0x01}, 0), 2U);
    t.w.break_on(BYTE_NS / 2, 10 * BYTE_NS);
    EXPECT_EQ(t.w.break_starts_at(), BYTE_NS);
    t.keep(t.c.dropped(t.w.discard(BYTE_NS / 2), BYTE_NS / 2, GOOD));
    t.w.advance(20 * BYTE_NS);
    t.keep(t.c.close());
    std::vector<line_report> frames;
    std::copy_if(t.got.begin(), t.got.end(), std::back_inserter(frames),
                 [](const line_report &r) { return r.kind == line_report::frame; });
    ASSERT_EQ(frames.size(), 2U);
    EXPECT_EQ(frames[0].bytes, bytes{0x45});
    EXPECT_EQ(std::string(frames[0].problems.at(0).code), "flushed");
    EXPECT_EQ(frames[1].bytes, bytes{0x00});
    EXPECT_EQ(frames[1].time_ns, BYTE_NS);
}

// A break ended before the character on the wire had left never took the
// line low: nothing of it is told, so no report is timed ahead of the call.
TEST(Wire, ABreakEndedBeforeTheLineWentLowIsNone)
{
    line_under_test t(GOOD, false, 64);
    EXPECT_EQ(t.w.take(bytes{0x45}, 0), 1U);
    t.w.break_on(BYTE_NS / 4);
    t.w.break_off(BYTE_NS / 2);
    t.w.advance(20 * BYTE_NS);
    t.keep(t.c.close());
    ASSERT_EQ(t.got.size(), 1U);
    EXPECT_EQ(t.got[0].kind, line_report::frame);
    EXPECT_EQ(t.got[0].bytes, bytes{0x45});
}

// A break that ends while a character shifts out into it leaves the rest
// of that character on the line; the one before it ended in the break and
// is lost; the one after it leaves as ever.
TEST(Wire, ACharacterShiftingOutWhenABreakEndsLeavesItsRest)
{
    line_under_test t(GOOD, false, 64);
    t.w.break_on(0);
    EXPECT_EQ(t.w.take(bytes{0x45, 0x01, 0x02}, 0), 3U);
    t.w.break_off(BYTE_NS + BYTE_NS / 3);
    t.w.advance(10 * BYTE_NS);
    ASSERT_EQ(t.breaks.size(), 1U);
    EXPECT_EQ(t.breaks[0].lost, 1U);
    ASSERT_TRUE(t.breaks[0].rest.has_value());
    EXPECT_EQ(t.breaks[0].rest->value, 0x01);
    EXPECT_EQ(t.breaks[0].rest->start_ns, BYTE_NS);
    ASSERT_EQ(t.bytes_sent.size(), 1U);
    EXPECT_EQ(t.bytes_sent[0].value, 0x02);
    EXPECT_EQ(t.bytes_sent[0].start_ns, 2 * BYTE_NS);
}

// A break of a given length asked for while the line is low already (a
// tcsendbreak after a TIOCSBRK) lasts that long from when it is asked for:
// its end is never told in the past.
TEST(Wire, ABreakOfALengthWhileTheLineIsLowLastsFromThen)
{
    line_under_test t(GOOD, false, 64);
    t.w.break_on(0);
    t.w.break_on(300 * NS_PER_MS, 250 * NS_PER_MS);
    t.w.advance(NS_PER_S);
    ASSERT_EQ(t.breaks.size(), 1U);
    EXPECT_EQ(t.breaks[0].start_ns, 0);
    EXPECT_EQ(t.breaks[0].end_ns, 550 * NS_PER_MS);
}

// Behind an emulated UART a TIOCCBRK that comes before the bytes laid out
// into the break ends it after them: they are lost in it and counted, never
// dropped unseen.
TEST(Wire, BehindAnEmulatedUartABreakEndsAfterWhatWasLaidIntoIt)
{
    line_under_test t(GOOD, true);
    EXPECT_EQ(t.w.take(F, 0), F.size());
    t.w.break_on(0);
    EXPECT_EQ(t.w.take(bytes{0x01, 0x02}, 0), 2U);
    t.w.break_off(BYTE_NS / 4);
    t.w.advance(20 * BYTE_NS);
    ASSERT_EQ(t.breaks.size(), 1U);
    EXPECT_EQ(t.breaks[0].start_ns, 8 * BYTE_NS);
    EXPECT_EQ(t.breaks[0].end_ns, 10 * BYTE_NS);
    EXPECT_EQ(t.breaks[0].lost, 2U);
    EXPECT_FALSE(t.breaks[0].rest.has_value());
}

// What the controller's 16550 makes of lines where sigrok's UART decoder,
// which hunts for a falling edge even after a framing error, reads
// otherwise (the cases both read alike are in tests/break_cases.tsv), and
// what the controller tells in between: the break reports, and a flush in
// the half millisecond a byte takes to be sampled.
struct line_op {
    double at_ms;
    enum { write, break_on, break_off, flush } what;
    bytes data = {};
};

struct receive_case {
    const char *name;
    std::vector<line_op> ops;
    std::string frames; // as in break_cases.tsv
    std::size_t break_reports;
};

class Received : public testing::TestWithParam<receive_case>
{
};

// The frames as break_cases.tsv gives them: bytes, then " !" and the codes.
std::string frames_of(const std::vector<line_report> &reports)
{
    std::string out;
    for (const line_report &r : reports) {
        if (r.kind != line_report::frame)
            continue;
        std::set<std::string> codes;
        for (const fault &f : r.problems)
            codes.insert(f.code);
        char hex[4];
        std::string frame;
        for (const std::uint8_t b : r.bytes) {
            snprintf(hex, sizeof hex, "%02x", b);
            frame += (frame.empty() ? "" : " ") + std::string(hex);
        }
        for (auto it = codes.begin(); it != codes.end(); ++it)
            frame += (it == codes.begin() ? " !" : ",") + *it;
        out += (out.empty() ? "" : "; ") + frame;
    }
    return out;
}

TEST_P(Received, AsA16550ReceivesThem)
{
    const auto &c = GetParam();
    line_under_test t(GOOD, false);
    nanos now = 0;
    for (const line_op &op : c.ops) {
        now = std::llround(op.at_ms * NS_PER_MS);
        t.w.advance(now);
        t.keep(t.c.quiet(now));
        if (op.what == line_op::write)
            EXPECT_EQ(t.w.take(op.data, now), op.data.size());
        else if (op.what == line_op::break_on)
            t.w.break_on(now);
        else if (op.what == line_op::break_off)
            t.w.break_off(now);
        else
            t.keep(t.c.dropped(t.w.discard(now), now, GOOD));
    }
    t.w.advance(std::max(now, t.w.idle_at()));
    t.keep(t.c.close());
    EXPECT_EQ(frames_of(t.got), c.frames);
    EXPECT_EQ(std::count_if(t.got.begin(), t.got.end(),
                            [](const line_report &r) { return r.kind == line_report::brk; }),
              static_cast<long>(c.break_reports));
}

INSTANTIATE_TEST_SUITE_P(Line, Received,
                         testing::Values(
                             // Low 0 to 1.9 bits and 7.7 to 9.6 bits: 7e with its stop bit low;
                             // the 16550 takes that low for the next start bit and gets ff too.
                             receive_case{"framing_error_then_the_next_start",
                                          {{1, line_op::break_on},
                                           {1.1, line_op::break_off},
                                           {1.4, line_op::break_on},
                                           {1.5, line_op::break_off}},
                                          "7e ff !cut_short,framing",
                                          0},
                             // A frame right after a low of 2.9 bits: its start bit falls in the
                             // first byte sampled, and the 16550 takes garbage until the line is
                             // quiet.
                             receive_case{"short_low_then_a_frame_at_once",
                                          {{1, line_op::break_on},
                                           {1.15, line_op::break_off},
                                           {1.15, line_op::write, F}},
                                          "28 15 28 50 a0 40 40 80 !framing; 00 !left_over",
                                          0},
                             receive_case{"low_under_a_character_makes_no_break_report",
                                          {{1, line_op::break_on}, {1.26, line_op::break_off}},
                                          "f0 !cut_short",
                                          0},
                             receive_case{"low_of_a_character_is_reported",
                                          {{1, line_op::break_on}, {1.6, line_op::break_off}},
                                          "00 !break,cut_short",
                                          1},
                             // A flush while the break's 00 is being sampled cuts the frame
                             // after the 00, which began before it.
                             receive_case{"flush_while_a_byte_is_sampled",
                                          {{1, line_op::write, {0x45, 0x01, 0x01}},
                                           {2, line_op::break_on},
                                           {2, line_op::write, F},
                                           {2.2, line_op::flush},
                                           {3, line_op::break_off}},
                                          "45 01 00 !break,flushed",
                                          1}),
                         [](const auto &param_info) { return std::string(param_info.param.name); });

TEST(FrameMonitor, ReportsAFlushAsAFrameCutShort)
{
    frame_monitor m;
    EXPECT_TRUE(m.take(sent_byte{0x45, 0, BYTE_NS, GOOD}).empty());
    const auto got = m.cut(7, BYTE_NS, GOOD);
    ASSERT_EQ(got.size(), 1U);
    EXPECT_EQ(got[0].bytes, bytes{0x45});
    EXPECT_EQ(
        texts(got[0].problems),
        std::vector<std::string>{"cut short by a flush of output: 1 of 8 bytes sent, 7 discarded"});
    EXPECT_TRUE(m.flush().empty());
}

// What a write's bytes become in the transmit buffer, with room bytes left.
struct output_case {
    const char *name;
    unsigned oflag;
    std::string in;
    std::size_t room;
    std::size_t used;
    std::string out;
};

class Output : public testing::TestWithParam<output_case>
{
};

TEST_P(Output, IsProcessedAsTheLineDisciplineDoes)
{
    const auto &c = GetParam();
    output_processor p;
    std::vector<std::uint8_t> out;
    const std::vector<std::uint8_t> in(c.in.begin(), c.in.end());
    EXPECT_EQ(p.process(in, c.room, line(19200, "8N1", c.oflag), out), c.used);
    EXPECT_EQ(std::string(out.begin(), out.end()), c.out);
}

INSTANTIATE_TEST_SUITE_P(
    Discipline, Output,
    testing::Values(output_case{"raw", 0, "a\nb", 10, 3, "a\nb"},
                    output_case{"raw_as_far_as_room", 0, "a\nb", 2, 2, "a\n"},
                    output_case{"newline_to_return_newline", OPOST | ONLCR, "a\n", 10, 2, "a\r\n"},
                    // A character goes whole or waits for room.
                    output_case{"no_room_for_both", OPOST | ONLCR, "a\n", 2, 1, "a"},
                    output_case{"return_to_newline", OPOST | OCRNL, "\r", 10, 1, "\n"},
                    output_case{"no_return_at_column_0", OPOST | ONOCR, "\ra\r", 10, 3, "a\r"},
                    output_case{"tabs_to_spaces", OPOST | XTABS, "ab\tc", 10, 4, "ab      c"},
                    output_case{"upper_case", OPOST | OLCUC, "ab1", 10, 3, "AB1"},
                    output_case{"not_without_opost", ONLCR, "\n", 10, 1, "\n"}),
    [](const auto &param_info) { return std::string(param_info.param.name); });

TEST(Json, StringsAreEscaped)
{
    EXPECT_EQ(json_string("a\"b\\c\n\x01"), "\"a\\\"b\\\\c\\u000a\\u0001\"");
}

} // namespace

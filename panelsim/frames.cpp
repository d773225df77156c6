// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
#include "frames.h"

#include <algorithm>

namespace
{

const fault BREAK_RECEIVED = {"break", "break: the controller receives a 00 with a framing error"};
const fault OUT_OF_STEP = {"break",
                           "out of step: a break's 00 earlier in the burst counts as a byte"};

} // namespace

line_report frame_monitor::report() const
{
    line_report r;
    r.time_ns = pending_.front().start_ns;
    r.settings = pending_.front().settings;
    r.problems = settings_faults(r.settings);
    r.bytes.reserve(pending_.size());
    for (const auto &b : pending_)
        r.bytes.push_back(b.value);
    // A frame whose bytes left under other settings than its first one's is
    // garbage from there on: say from which byte, and what was wrong then.
    const auto changed = std::find_if(pending_.begin(), pending_.end(), [&](const sent_byte &b) {
        return !b.settings.same_to_controller(r.settings);
    });
    if (changed != pending_.end()) {
        r.problems.push_back(
            {"settings_changed", "settings changed from byte " +
                                     std::to_string(changed - pending_.begin() + 1) + ": " +
                                     describe(changed->settings)});
        for (auto &f : settings_faults(changed->settings))
            if (std::find(r.problems.begin(), r.problems.end(), f) == r.problems.end())
                r.problems.push_back(std::move(f));
    }
    judge_breaks(r);
    return r;
}

// A frame that holds a break's 00 says which byte it is, and so does one
// that holds a byte received with a framing error; one that holds no break
// but follows one in its burst is out of step.
void frame_monitor::judge_breaks(line_report &r) const
{
    bool holds_break = false;
    for (std::size_t i = 0; i < pending_.size(); i++) {
        if (!pending_[i].is_break && !pending_[i].framing_error)
            continue;
        const std::string byte = "byte " + std::to_string(i + 1);
        if (pending_[i].is_break) {
            holds_break = true;
            r.problems.push_back(
                {"break", byte + " is a break: the controller receives a 00 with a framing error"});
        } else {
            r.problems.push_back(
                {"framing", byte + " has a framing error: the controller found its stop bit low"});
        }
    }
    if (out_of_step_ && !holds_break)
        r.problems.push_back(OUT_OF_STEP);
}

std::vector<line_report> frame_monitor::end_burst(fault why)
{
    std::vector<line_report> out;
    if (!pending_.empty()) {
        line_report r = report();
        r.problems.insert(r.problems.begin(), std::move(why));
        out.push_back(std::move(r));
        pending_.clear();
    }
    last_end_ = NEVER;
    frames_in_burst_ = 0;
    out_of_step_ = false;
    return out;
}

// One byte received: the burst before it ends if the line was quiet long
// enough in between; every 8 bytes of a burst are a frame.
std::vector<line_report> frame_monitor::take(const sent_byte &b)
{
    std::vector<line_report> out;
    if (last_end_ != NEVER && b.start_ns - last_end_ >= FRAME_GAP_MS * NS_PER_MS)
        out = flush();
    pending_.push_back(b);
    last_end_ = b.end_ns;
    if (pending_.size() == FRAME_LEN) {
        out.push_back(report());
        pending_.clear();
        frames_in_burst_++;
    } else if (b.is_break) {
        // A 00 that did not end its frame shifts every later frame of the burst.
        out_of_step_ = true;
    }
    return out;
}

line_report break_report(const line_break &b)
{
    line_report r;
    r.kind = line_report::brk;
    r.time_ns = b.start_ns;
    r.duration_ns = b.end_ns - b.start_ns;
    r.settings = b.settings;
    r.problems.push_back(BREAK_RECEIVED);
    if (b.lost > 0)
        r.problems.push_back({"break", std::to_string(b.lost) + (b.lost == 1 ? " byte" : " bytes") +
                                           " sent into the break, lost"});
    return r;
}

std::vector<line_report> frame_monitor::idle(nanos now_ns)
{
    if (last_end_ == NEVER || now_ns - last_end_ < FRAME_GAP_MS * NS_PER_MS)
        return {};
    return flush();
}

namespace
{

fault cut_fault(frame_monitor::cause c, std::size_t taken, std::size_t lost)
{
    const std::string of = std::to_string(taken) + " of " + std::to_string(FRAME_LEN) + " bytes ";
    const std::string n = std::to_string(lost);
    switch (c) {
    case frame_monitor::flushed:
        return {"flushed", "cut short by a flush of output: " + of + "sent, " + n + " discarded"};
    case frame_monitor::run_ended:
        return {"run_ended",
                "cut short by the end of the run: " + of + "sent, " + n + " never sent"};
    default:
        return {"overrun",
                "cut short by an overrun of the receiver: " + of + "received, " + n + " lost"};
    }
}

} // namespace

std::vector<line_report> frame_monitor::cut(std::size_t discarded, nanos now_ns,
                                            const line_settings &settings, cause c)
{
    if (discarded == 0)
        return {};
    const fault why = cut_fault(c, pending_.size(), discarded);
    if (pending_.empty()) {
        line_report r;
        r.time_ns = now_ns;
        r.settings = settings;
        r.problems = settings_faults(settings);
        r.problems.insert(r.problems.begin(), why);
        (void)end_burst(why);
        return {r};
    }
    return end_burst(why);
}

std::vector<line_report> frame_monitor::flush()
{
    const std::size_t n = pending_.size();
    return end_burst(
        frames_in_burst_ == 0
            ? fault{"cut_short", "short frame: " + std::to_string(n) + " of " +
                                     std::to_string(FRAME_LEN) + " bytes"}
            : fault{"left_over", std::to_string(n) + (n == 1 ? " byte" : " bytes") + " left over"});
}

nanos frame_monitor::deadline_ns() const
{
    return last_end_ == NEVER ? NEVER : last_end_ + FRAME_GAP_MS * NS_PER_MS;
}

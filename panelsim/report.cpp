// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
#include "report.h"

#include "clock.h"

#include <ctime>

namespace
{

std::string hex(const line_report &r)
{
    static const char digits[] = "0123456789abcdef";
    std::string h;
    for (const std::uint8_t b : r.bytes) {
        if (!h.empty())
            h += ' ';
        h += digits[b >> 4];
        h += digits[b & 15];
    }
    return h;
}

std::string label(const line_report &r)
{
    if (r.kind == line_report::frame)
        return hex(r);
    char text[32];
    snprintf(text, sizeof text, "break %.1f ms", static_cast<double>(r.duration_ns) / 1e6);
    return text;
}

} // namespace

reporter::reporter(std::FILE *to, bool json, nanos start_ns)
    : to_(to), json_(json), wall_offset_(clock_ns(CLOCK_REALTIME) - clock_ns(CLOCK_MONOTONIC)),
      start_ns_(start_ns)
{
}

void reporter::print(const line_report &r)
{
    // The summary counts frame reports, whole or not; a break's 00 is in one.
    if (r.kind == line_report::frame) {
        frames_++;
        if (!r.problems.empty())
            flagged_++;
    }
    const nanos wall = wall_offset_ + start_ns_ + r.time_ns;
    if (json_) {
        // A reader of the stream sees each object as it is made.
        json(r, wall);
        (void)fflush(to_);
    } else {
        text(r, wall);
    }
}

tm reporter::local_time(nanos wall_ns, long long &ms)
{
    const long long at_ms = wall_ns / NS_PER_MS;
    const auto secs = static_cast<time_t>(at_ms / 1000);
    if (secs != second_) {
        local_ = tm{};
        localtime_r(&secs, &local_);
        second_ = secs;
    }
    ms = at_ms % 1000;
    return local_;
}

void reporter::text(const line_report &r, nanos wall_ns)
{
    long long ms = 0;
    const tm local = local_time(wall_ns, ms);
    char stamp[16];
    strftime(stamp, sizeof stamp, "%H:%M:%S", &local);
    fprintf(to_, "panel %s.%03lld  %-23s  %s", stamp, ms, label(r).c_str(),
            describe(r.settings).c_str());
    for (std::size_t i = 0; i < r.problems.size(); i++)
        fprintf(to_, "%s%s", i == 0 ? "  !! " : "; ", r.problems[i].text.c_str());
    fputc('\n', to_);
}

void reporter::json(const line_report &r, nanos wall_ns)
{
    long long ms = 0;
    const tm local = local_time(wall_ns, ms);
    char date[32];
    char zone[8];
    strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
    strftime(zone, sizeof zone, "%z", &local);
    fprintf(to_,
            "{\"type\": \"%s\", \"time\": \"%s.%03lld%.3s:%s\", \"t_ns\": %lld, \"bytes\": \"%s\", "
            "\"settings\": %s, ",
            r.kind == line_report::frame ? "frame" : "break", date, ms, zone, zone + 3, r.time_ns,
            hex(r).c_str(), json_string(describe(r.settings)).c_str());
    if (r.kind == line_report::brk)
        fprintf(to_, "\"duration_ns\": %lld, ", r.duration_ns);
    fprintf(to_, "\"clean\": %s, \"flags\": [", r.problems.empty() ? "true" : "false");
    for (std::size_t i = 0; i < r.problems.size(); i++)
        fprintf(to_, "%s{\"code\": \"%s\", \"text\": %s}", i == 0 ? "" : ", ", r.problems[i].code,
                json_string(r.problems[i].text).c_str());
    fputs("]}\n", to_);
}

void reporter::summary()
{
    if (json_)
        fprintf(to_, "{\"type\": \"summary\", \"frames\": %zu, \"flagged\": %zu}\n", frames_,
                flagged_);
    else
        fprintf(to_, "panelsim: %zu frame%s received, %zu flagged\n", frames_,
                frames_ == 1 ? "" : "s", flagged_);
}

std::string json_string(const std::string &s)
{
    std::string out = "\"";
    for (const char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char esc[8];
            snprintf(esc, sizeof esc, "\\u%04x", u);
            out += esc;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

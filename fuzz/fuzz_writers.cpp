// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// The report writers and the dump, fed what the frame monitor makes of a
// run of the line (line_ops.h). Every JSON line is one strict JSON object;
// the text form is written too. The dump is read back: a header, then
// times that never go back, each change a 0 or a 1 of the line. With
// FUZZ_VCD set, the dump is kept at that path (for sigrok-cli).
#include "check.h"
#include "json_check.h"
#include "line_ops.h"
#include "report.h"
#include "vcd.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace
{

std::string dump_path()
{
    const char *keep = getenv("FUZZ_VCD");
    return keep != nullptr ? keep : "/tmp/fuzz_writers." + std::to_string(getpid()) + ".vcd";
}

void check_json(const line_run &run)
{
    char *text = nullptr;
    std::size_t size = 0;
    std::FILE *to = open_memstream(&text, &size);
    reporter json(to, true, 0);
    for (const line_report &r : run.reports)
        json.print(r);
    json.summary();
    fclose(to);
    std::string_view all(text, size);
    FUZZ_CHECK(!all.empty() && all.back() == '\n');
    for (std::size_t from = 0, nl; (nl = all.find('\n', from)) != std::string_view::npos;
         from = nl + 1)
        FUZZ_CHECK(json_object(all.substr(from, nl - from)));
    free(text);
    std::FILE *null = fopen("/dev/null", "w");
    reporter plain(null, false, 0);
    for (const line_report &r : run.reports)
        plain.print(r);
    plain.summary();
    fclose(null);
}

void write_dump(const line_run &run, const std::string &path)
{
    vcd_writer vcd;
    FUZZ_CHECK(vcd.open(path));
    nanos end = 0;
    for (const line_event &e : run.events) {
        if (e.is_byte) {
            const line_settings &s = e.byte.settings;
            vcd.byte(e.byte.value, e.byte.start_ns,
                     {s.wire_baud(), s.data_bits, s.parity, s.stop_bits});
            end = e.byte.end_ns;
        } else {
            vcd.low(e.brk.start_ns, e.brk.end_ns);
            end = e.brk.end_ns;
            if (const auto &r = e.brk.rest) {
                const line_settings &s = r->settings;
                vcd.byte(r->value, r->start_ns, {s.wire_baud(), s.data_bits, s.parity, s.stop_bits},
                         e.brk.end_ns);
                end = r->end_ns;
            }
        }
    }
    FUZZ_CHECK(vcd.close(end));
}

void read_back(const std::string &path)
{
    std::FILE *in = fopen(path.c_str(), "r");
    FUZZ_CHECK(in != nullptr);
    char line[256];
    bool body = false;
    long long last = -1;
    while (fgets(line, sizeof line, in) != nullptr) {
        const std::string_view l(line);
        if (!body) {
            body = l.find("$enddefinitions") != std::string_view::npos;
            continue;
        }
        if (l[0] == '#') {
            const long long t = strtoll(line + 1, nullptr, 10);
            FUZZ_CHECK(t >= last);
            last = t;
        } else if (l[0] != '$' && l != "\n") {
            FUZZ_CHECK(l[0] == '0' || l[0] == '1');
        }
    }
    fclose(in);
    FUZZ_CHECK(body && last >= 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    line_run run;
    run_line_ops({data, size}, run);
    check_json(run);
    const std::string path = dump_path();
    write_dump(run, path);
    read_back(path);
    if (getenv("FUZZ_VCD") == nullptr)
        unlink(path.c_str());
    return 0;
}

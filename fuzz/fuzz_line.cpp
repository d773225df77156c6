// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// The wire and the frame monitor fed a run of writes, changes of settings,
// flushes, tcflow, breaks and time (line_ops.h). Bytes leave in time order;
// every frame report holds 8 bytes or is flagged; frame reports, and break
// reports, never go back in time.
#include "check.h"
#include "line_ops.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    line_run run;
    run_line_ops({data, size}, run);
    nanos last_start = 0;
    for (const line_event &e : run.events) {
        if (!e.is_byte)
            continue;
        FUZZ_CHECK(e.byte.start_ns >= last_start && e.byte.end_ns > e.byte.start_ns);
        last_start = e.byte.start_ns;
    }
    nanos last[2] = {0, 0};
    for (const line_report &r : run.reports) {
        if (r.kind == line_report::frame) {
            FUZZ_CHECK(r.bytes.size() <= FRAME_LEN);
            FUZZ_CHECK(r.bytes.size() == FRAME_LEN || !r.problems.empty());
        } else {
            FUZZ_CHECK(r.duration_ns >= 0);
        }
        FUZZ_CHECK(r.time_ns >= last[r.kind]);
        last[r.kind] = r.time_ns;
    }
    FUZZ_CHECK(run.monitor.deadline_ns() == NEVER);
    return 0;
}

// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
#include "vcd.h"

#include <algorithm>
#include <cerrno>

namespace
{

constexpr long MAX_BAUD = 10'000'000;

// Time of the edge that starts bit `bit` of a character starting at
// start_ns, in units, rounded to nearest (halves up): exact integer
// arithmetic on start_ns + bit * 1e9 / baud.
nanos edge_unit(nanos start_ns, int bit, long baud)
{
    nanos whole = start_ns / VCD_UNIT_NS;
    nanos rest = start_ns % VCD_UNIT_NS;
    if (rest < 0) {
        rest += VCD_UNIT_NS;
        --whole;
    }
    const long long num = rest * baud + bit * NS_PER_S; // in units of 1 / baud ns
    const long long den = VCD_UNIT_NS * baud;
    return whole + (2 * num + den) / (2 * den);
}

} // namespace

bool valid_format(const wire_format &f)
{
    return f.baud >= 1 && f.baud <= MAX_BAUD && f.data_bits >= 5 && f.data_bits <= 8 &&
           (f.parity == 'N' || f.parity == 'E' || f.parity == 'O' || f.parity == 'M' ||
            f.parity == 'S') &&
           (f.stop_bits == 1 || f.stop_bits == 2);
}

int char_bits(const wire_format &f)
{
    return 1 + f.data_bits + (f.parity == 'N' ? 0 : 1) + f.stop_bits;
}

vcd_writer::~vcd_writer()
{
    close(0);
}

bool vcd_writer::open(const std::string &path)
{
    close(0);
    // "e": the dump is not handed on to the commands the panel starts.
    std::FILE *f = std::fopen(path.c_str(), "we");
    if (f == nullptr)
        return false;
    file_ = f;
    level_ = 1;
    written_ = 1;
    last_ = 0;
    stamped_ = 0;
    held_ = false;
    end_ = 0;
    write_errno_ = 0;
    if (std::fprintf(file_,
                     "$version panelsim $end\n"
                     "$timescale %lld ns $end\n"
                     "$scope module panel $end\n"
                     "$var wire 1 ! line $end\n"
                     "$upscope $end\n"
                     "$enddefinitions $end\n"
                     "#0\n"
                     "1!\n",
                     VCD_UNIT_NS) < 0) {
        const int e = errno;
        std::fclose(file_);
        file_ = nullptr;
        errno = e;
        return false;
    }
    return true;
}

// A change is held back until the next one at a later time: changes at one
// time become one, and one that undoes the change before it is none.
void vcd_writer::change(long long unit, int level)
{
    // A character never shows before the previous one ended, so time only
    // moves on; should a caller break that, the dump still stays readable.
    unit = std::max(unit, last_);
    if (unit > last_)
        write_held();
    last_ = unit;
    level_ = level;
    held_ = true;
}

void vcd_writer::write_held()
{
    if (!held_)
        return;
    held_ = false;
    if (level_ == written_)
        return;
    int n = 0;
    if (last_ > stamped_)
        n = std::fprintf(file_, "#%lld\n%d!\n", last_, level_);
    else // at the time of the last change written: one timestamp for both
        n = std::fprintf(file_, "%d!\n", level_);
    if (n < 0 && write_errno_ == 0)
        write_errno_ = errno != 0 ? errno : EIO;
    stamped_ = std::max(stamped_, last_);
    written_ = level_;
}

void vcd_writer::byte(std::uint8_t value, nanos start_ns, const wire_format &f, nanos shown_ns)
{
    if (file_ == nullptr || !valid_format(f))
        return;
    const nanos shown = edge_unit(shown_ns, 0, 1);
    const int nbits = char_bits(f);
    for (int bit = 0; bit < nbits; ++bit) {
        // A bit that ended before the character showed is not on the line.
        if (edge_unit(start_ns, bit + 1, f.baud) <= shown)
            continue;
        const int level = bit_level(value, f.data_bits, f.parity, bit);
        if (level != level_)
            change(std::max(edge_unit(start_ns, bit, f.baud), shown), level);
    }
    end_ = std::max(end_, edge_unit(start_ns, nbits, f.baud));
}

void vcd_writer::low(nanos start_ns, nanos end_ns)
{
    if (file_ == nullptr)
        return;
    const nanos end = edge_unit(end_ns, 0, 1);
    change(edge_unit(start_ns, 0, 1), 0);
    change(end, 1);
    end_ = std::max(end_, end);
}

bool vcd_writer::close(nanos end_ns)
{
    if (file_ == nullptr)
        return true;
    write_held();
    const nanos end = std::max({edge_unit(end_ns, 0, 1), end_, last_});
    if (std::fprintf(file_, "#%lld\n", end) < 0 && write_errno_ == 0)
        write_errno_ = errno != 0 ? errno : EIO;
    const bool closed = std::fclose(file_) == 0;
    const int close_errno = errno;
    file_ = nullptr;
    if (write_errno_ != 0) {
        errno = write_errno_;
        return false;
    }
    if (!closed) {
        errno = close_errno;
        return false;
    }
    return true;
}

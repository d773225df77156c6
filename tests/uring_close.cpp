// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
#include "uring_close.h"

#include <atomic>
#include <cerrno>
#include <linux/io_uring.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace
{

// One mapping of a ring's area, unmapped when done.
struct mapping {
    void *at = MAP_FAILED;
    std::size_t size = 0;
    mapping(int ring, std::size_t bytes, off_t offset)
        : at(mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, ring, offset)),
          size(bytes)
    {
    }
    ~mapping()
    {
        if (at != MAP_FAILED)
            munmap(at, size);
    }
    mapping(const mapping &) = delete;
    mapping &operator=(const mapping &) = delete;
    [[nodiscard]] unsigned *word(std::size_t offset) const
    {
        return reinterpret_cast<unsigned *>(static_cast<char *>(at) + offset);
    }
};

// Submits one close and waits for its completion; its result.
int submit_close(int ring, const io_uring_params &p, int fd)
{
    const mapping sq(ring, p.sq_off.array + p.sq_entries * sizeof(unsigned), IORING_OFF_SQ_RING);
    const mapping cq(ring, p.cq_off.cqes + p.cq_entries * sizeof(io_uring_cqe), IORING_OFF_CQ_RING);
    const mapping sqes(ring, p.sq_entries * sizeof(io_uring_sqe), IORING_OFF_SQES);
    if (sq.at == MAP_FAILED || cq.at == MAP_FAILED || sqes.at == MAP_FAILED)
        return -errno;
    auto *sqe = static_cast<io_uring_sqe *>(sqes.at);
    *sqe = io_uring_sqe{};
    sqe->opcode = IORING_OP_CLOSE;
    sqe->fd = fd;
    const unsigned tail = *sq.word(p.sq_off.tail);
    sq.word(p.sq_off.array)[tail & *sq.word(p.sq_off.ring_mask)] = 0;
    std::atomic_ref<unsigned>(*sq.word(p.sq_off.tail)).store(tail + 1, std::memory_order_release);
    if (syscall(SYS_io_uring_enter, ring, 1, 1, IORING_ENTER_GETEVENTS, nullptr, 0) < 0)
        return -errno;
    const unsigned head =
        std::atomic_ref<unsigned>(*cq.word(p.cq_off.head)).load(std::memory_order_acquire);
    const auto *cqes = reinterpret_cast<const io_uring_cqe *>(cq.word(p.cq_off.cqes));
    return cqes[head & *cq.word(p.cq_off.ring_mask)].res;
}

} // namespace

int uring_close(int fd)
{
    io_uring_params p{};
    const long ring = syscall(SYS_io_uring_setup, 1, &p);
    if (ring < 0)
        return -errno;
    const int res = submit_close(static_cast<int>(ring), p, fd);
    close(static_cast<int>(ring));
    return res;
}

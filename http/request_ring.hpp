// The blocks a response body is read into: WinHTTP fills them in turn on its
// threads while the requesting thread hands the earlier ones to the caller's
// on_data. Network and caller work (a file write, a hash) then overlap
// instead of taking turns on WinHTTP's thread, which under Wine also waits
// for each read's buffer to fill.
//
// At most one read is in flight; it fills the block after the last one
// filled. The reading side stops when every block is full and untaken, and
// the taking side starts it again once half of them are free. Everything is
// guarded by a slim lock with a condition variable, which Wine implements
// over futexes: neither side makes a wineserver call for a block.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace hopline {

class request_ring {
public:
    static constexpr std::size_t block_size = 8192;
    static constexpr std::uint32_t block_count = 16;
    // The taking side is woken once this many blocks wait for it, or when
    // the reading side has stopped, the body ended or the handle closed;
    // otherwise it looks at its own pace (hopline::watch_interval_ms).
    static constexpr std::uint32_t wake_after = block_count / 2;

    struct block {
        const unsigned char* data;
        std::uint32_t length;
    };

    request_ring() = default;
    request_ring(const request_ring&) = delete;
    request_ring& operator=(const request_ring&) = delete;

    // The block of the first read of the body, which is then in flight.
    unsigned char* first_read()
    {
        lock guard(this);
        reading = true;
        return blocks[filled % block_count];
    }

    // A read completed with `length` > 0 bytes: the block is handed over.
    // Returns the block of the next read, now in flight, or null when every
    // block waits to be taken (the taking side starts the next read).
    unsigned char* filled_one(std::uint32_t length)
    {
        unsigned char* next = nullptr;
        bool wake;
        {
            lock guard(this);
            lengths[filled % block_count] = length;
            ++filled;
            const std::uint32_t waiting = filled - taken;
            reading = waiting < block_count;
            if (reading)
                next = blocks[filled % block_count];
            wake = taker_waiting && (waiting >= wake_after || !reading);
        }
        if (wake)
            WakeConditionVariable(&changed);
        return next;
    }

    // The body ended (a read completed with nothing): no read follows.
    void ended()
    {
        lock guard(this);
        reading = false;
        body_ended = true;
    }

    // The handle has closed and no notification runs any more: every block
    // that will ever be filled has been.
    void closed()
    {
        {
            lock guard(this);
            handle_closed = true;
        }
        WakeAllConditionVariable(&changed);
    }

    // Waits up to `milliseconds` for a block to take or for the handle to
    // close. True once it has closed.
    bool wait(DWORD milliseconds)
    {
        lock guard(this);
        if (filled == taken && !handle_closed) {
            taker_waiting = true;
            SleepConditionVariableSRW(&changed, &guard.srw(), milliseconds, 0);
            taker_waiting = false;
        }
        return handle_closed;
    }

    // The oldest filled block not yet taken, or a null one. It stays valid
    // until taken_one().
    block next()
    {
        lock guard(this);
        if (filled == taken)
            return {nullptr, 0};
        return {blocks[taken % block_count], lengths[taken % block_count]};
    }

    // The block from next() is done with. When the reading side had stopped
    // on a full ring and `may_read`, the block of the read to start now is
    // returned (it counts as in flight); else null.
    unsigned char* taken_one(bool may_read)
    {
        lock guard(this);
        ++taken;
        if (reading || body_ended || handle_closed || !may_read || filled - taken > block_count / 2)
            return nullptr;
        reading = true;
        return blocks[filled % block_count];
    }

    // The first block: the chunks of a POST are assembled there before the
    // response is read.
    unsigned char* front() { return blocks[0]; }

private:
    class lock {
    public:
        explicit lock(request_ring* ring) : ring(ring) { AcquireSRWLockExclusive(&ring->guard); }
        ~lock() { ReleaseSRWLockExclusive(&ring->guard); }
        lock(const lock&) = delete;
        lock& operator=(const lock&) = delete;
        SRWLOCK& srw() { return ring->guard; }

    private:
        request_ring* ring;
    };

    SRWLOCK guard = SRWLOCK_INIT;
    CONDITION_VARIABLE changed = CONDITION_VARIABLE_INIT;
    // Counts since the start; a block's index is its count modulo block_count.
    std::uint32_t filled = 0;
    std::uint32_t taken = 0;
    std::uint32_t lengths[block_count] = {};
    bool reading = false;
    bool body_ended = false;
    bool handle_closed = false;
    bool taker_waiting = false;
    unsigned char blocks[block_count][block_size];
};

}  // namespace hopline

// How a package download may continue from the bytes it already has instead
// of starting over: within one run after the transfer broke, and with a
// store, across runs from the bytes an earlier run kept. Resuming is safe
// only because nothing is trusted before the whole file has verified: the
// bytes kept and the bytes fetched now are hashed together from byte 0.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>

#include "base/progress.hpp"
#include "stream/basic.hpp"
#include "update/resume_record.hpp"

namespace fenrix {

// Where the bytes of a download that has not verified yet are kept between
// runs, with the record of what they are. Only a file that verified may
// take the package's place.
class partial_store {
public:
    virtual ~partial_store() = default;
    // The file the bytes go to (opened on first use): readable, writable,
    // seekable. Throws when it cannot be opened.
    virtual stream::basic_file& partial() = 0;
    // The record of the kept bytes; nothing when there is none or it does
    // not read back as one (a broken record is deleted).
    virtual std::optional<resume_record> load_record() = 0;
    // Stores the record so that no crash can leave a half-written one that
    // reads as valid. Throws on failure.
    virtual void save_record(const resume_record& record) = 0;
    // Deletes the record, if there is one.
    virtual void forget_record() = 0;
    // The partial file verified: it becomes the package, the record goes.
    virtual void promote() = 0;
};

struct download_resume {
    // Null: the download continues within this run only, in its output.
    partial_store* store = nullptr;
    // Attempts in a row that may bring no byte beyond the furthest one
    // reached before the download gives up with the last attempt's error.
    unsigned max_fruitless = 3;
    // The wait before the first further attempt; each fruitless one in a row
    // doubles it. Cancel is looked at throughout.
    std::uint32_t first_wait_ms = 250;
};

// Shows a resumed transfer on the scale of the whole file: the request
// reports the range it receives from 0, this adds the bytes already kept, so
// the bar goes on from where it stood.
template <class T>
class offset_progress : public progress<T> {
public:
    explicit offset_progress(progress<T>& inner) : inner(inner) {}

    void set_text(const void* text) override { inner.set_text(text); }
    void show(int flag) override { inner.show(flag); }
    void set_range(T start, T end) override { inner.set_range(start, shifted(end)); }
    void set(T value) override { inner.set(shifted(value)); }
    bool cancel() override { return inner.cancel(); }

    std::uint64_t offset = 0;

private:
    T shifted(T value) const
    {
        constexpr std::uint64_t largest = std::numeric_limits<T>::max();
        const std::uint64_t sum = offset + std::uint64_t(value);
        return T(sum < offset || sum > largest ? largest : sum);
    }

    progress<T>& inner;
};

}  // namespace fenrix

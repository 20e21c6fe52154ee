// Progress reporting and cancellation for long operations (hashing, HTTP
// transfers, uploads). Operations report positions in their own unit T and
// poll cancel(); a true answer makes them throw user_cancelled.
#pragma once

#include <limits>
#include <stdexcept>
#include <string>

namespace fenrix {

class user_cancelled : public std::runtime_error {
public:
    explicit user_cancelled(const char* message) : std::runtime_error(message) {}
    explicit user_cancelled(const std::string& message) : std::runtime_error(message) {}
};

// Every operation has a do-nothing default, so a plain progress object is a
// valid sink that reports nothing and never cancels.
template <class T>
class progress {
public:
    virtual ~progress() = default;
    virtual void set_text(const void* /*text*/) {}
    virtual void set_range(T /*start*/, T /*end*/) {}
    virtual void set(T /*value*/) {}
    virtual void show(int /*flag*/) {}
    virtual bool cancel() { return false; }
};

// Maps the positions of one phase of an operation onto a section of an outer
// range, so that one progress bar covers all phases.
template <class T>
class global_progress : public progress<T> {
public:
    global_progress(progress<T>* outer, T global_start, T global_end)
        : outer(outer), global_start(global_start), global_end(global_end)
    {
        if (outer)
            outer->set_range(global_start, global_end);
    }

    void set_section(T new_section_start, T new_section_end)
    {
        section_start = new_section_start;
        section_end = new_section_end;
    }

    void set_text(const void* text) override
    {
        if (outer)
            outer->set_text(text);
    }

    void show(int flag) override
    {
        if (outer)
            outer->show(flag);
    }

    void set_range(T new_start, T new_end) override
    {
        start = new_start;
        end = new_end;
    }

    void set(T value) override
    {
        if (!outer)
            return;
        const T size = start <= end ? T(end - start) : T(0);
        if (size == 0)
            return;
        // A value below start wraps around in T, as unsigned arithmetic does.
        const double ratio = double(T(value - start)) / double(size);
        const T width = section_start <= section_end ? T(section_end - section_start) : T(0);
        // A value beyond end (or wrapped below start) maps beyond the
        // section; where that is more than T holds, it reports T's largest
        // value (converting such a double back to T is undefined).
        const double position = double(section_start) + ratio * double(width);
        constexpr T largest = std::numeric_limits<T>::max();
        outer->set(position < double(largest) ? T(position) : largest);
    }

    bool cancel() override { return outer && outer->cancel(); }

    progress<T>* outer;
    T start = 1;
    T end = 0;
    T global_start;
    T global_end;
    T section_start = 1;
    T section_end = 0;
};

// Passes on only the outer object's cancel, for an operation whose progress
// is not shown (and may count in another unit) but must stop when the user
// cancels.
template <class T, class Outer>
class cancel_only : public progress<T> {
public:
    explicit cancel_only(progress<Outer>* outer) : outer(outer) {}
    bool cancel() override { return outer && outer->cancel(); }

    progress<Outer>* outer;
};

}  // namespace fenrix

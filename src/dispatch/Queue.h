#pragma once

#include <functional>
#include <optional>
#include <string>
#include <type_traits>

namespace vistamo::dispatch {

using Work = std::function<void()>;

// A serial queue: work handed to it runs one item at a time, in the order handed in.
//
// Every operation may be called from any thread. `sync` runs the work inline when the caller is
// already on the queue, so a queue never waits on itself; two queues that wait synchronously on
// each other still deadlock, and callers keep such waits one-directional (a session queue may
// wait on the main queue, never the reverse).
class Queue {
public:
    virtual ~Queue() = default;

    // Runs `work` later on the queue; returns at once.
    virtual void async(Work work) = 0;

    // Runs `work` on the queue and returns when it has run.
    virtual void sync(Work work) = 0;

    // Runs `work` on the queue once `seconds` have passed (at once for zero or less).
    virtual void after(double seconds, Work work) = 0;

    // True when called from work that this queue is running.
    virtual bool isCurrent() const = 0;

    virtual const std::string& label() const = 0;

    // `sync` with a result.
    template <typename F>
    auto syncResult(F&& f) -> std::invoke_result_t<F> {
        using R = std::invoke_result_t<F>;
        if constexpr (std::is_void_v<R>) {
            sync(std::forward<F>(f));
        } else {
            std::optional<R> result;
            sync([&] { result.emplace(f()); });
            return std::move(*result);
        }
    }
};

}  // namespace vistamo::dispatch

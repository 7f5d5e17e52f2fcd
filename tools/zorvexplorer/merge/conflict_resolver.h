// How a merge with conflicts is taken to the user, and how that ended.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "tools/zorvexplorer/merge/merge.h"

namespace zorv {

enum class merge_session_end { saved, cancelled, closed, not_served };

struct merge_session_result {
    merge_session_end end = merge_session_end::not_served;
    std::string detail;  // for the log
};

/// Writes a merge's output as every merge does; the error text, empty on success.
using output_writer = std::function<std::string(const std::string&)>;

/// The detail of a session ended by merge_cancel.
inline constexpr std::string_view front_end_gone_detail =
    "the front end went away before the merge was resolved";

/// Tells a merge in the user's hands that nobody waits for its answer any more: the front
/// end that asked for it went away. A session that listens ends as cancelled (with
/// front_end_gone_detail), so that nothing is written after the front end has gone.
/// Cancelled once, from any thread.
class merge_cancel {
  public:
    merge_cancel() = default;
    merge_cancel(const merge_cancel&) = delete;
    merge_cancel& operator=(const merge_cancel&) = delete;

    void cancel() {
        std::lock_guard lock(mutex_);
        if (cancelled_) return;
        cancelled_ = true;
        if (on_cancel_) on_cancel_();
    }
    bool cancelled() const {
        std::lock_guard lock(mutex_);
        return cancelled_;
    }

    /// While it lives, on_cancel is called when the merge is cancelled (at once, on this
    /// thread, when it was already). on_cancel runs under the signal's lock: it must not
    /// call back into the signal. One listener at a time.
    class listening {
      public:
        listening(merge_cancel& signal, std::function<void()> on_cancel) : signal_(signal) {
            std::lock_guard lock(signal_.mutex_);
            signal_.on_cancel_ = std::move(on_cancel);
            if (signal_.cancelled_) signal_.on_cancel_();
        }
        ~listening() {
            std::lock_guard lock(signal_.mutex_);
            signal_.on_cancel_ = nullptr;
        }
        listening(const listening&) = delete;
        listening& operator=(const listening&) = delete;

      private:
        merge_cancel& signal_;
    };

  private:
    mutable std::mutex mutex_;
    bool cancelled_ = false;
    std::function<void()> on_cancel_;
};

/// Takes a merge with conflicts to the user: given the merge, the output's name as the user
/// is shown it (UTF-8), the output's writer and the signal that the answer is no longer wanted, returns how the
/// user (or that signal) ended it.
using conflict_resolver = std::function<merge_session_result(
    const merge_result&, const std::string&, const output_writer&, merge_cancel&)>;

}  // namespace zorv

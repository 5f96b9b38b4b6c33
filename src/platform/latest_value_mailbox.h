#pragma once
// CLatestValueMailbox<T>: values on their way from a worker thread to an owner thread that
// shows them, where only the newest of a kind is worth showing (a processed frame, the frame
// rate, a text reply that each later report of the same collector contains). A value put while
// the last waiting value is of the same kind replaces it; values of different kinds wait in the
// order they came and are all taken. With a single kind at most one value waits: the newest.
//
// Threads: Put on the worker thread, Take on the owner thread; neither blocks beyond the short
// lock, and no lock is held while the caller posts or shows anything. The caller arranges one
// Take on the owner thread for every Put that returns true.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <utility>

template <typename T>
class CLatestValueMailbox {
  public:
    // Stores `value` as the newest of `kind`. True when it waits as a new entry: the caller then
    // arranges exactly one Take. False when it replaced a waiting value of the same kind, which
    // is thereby skipped.
    bool Put(T value, uint64_t kind = 0) {
        std::lock_guard lock(m_lock);
        if (!m_pending.empty() && m_pending.back().kind == kind) {
            m_pending.back().value = std::move(value);
            return false;
        }
        m_pending.push_back({kind, std::move(value)});
        return true;
    }

    // The oldest waiting value, if any.
    std::optional<T> Take() {
        std::lock_guard lock(m_lock);
        if (m_pending.empty()) {
            return std::nullopt;
        }
        std::optional<T> value(std::move(m_pending.front().value));
        m_pending.pop_front();
        return value;
    }

    // Values waiting now (at most one per kind in a row).
    size_t PendingCount() const {
        std::lock_guard lock(m_lock);
        return m_pending.size();
    }

  private:
    struct Entry {
        uint64_t kind;
        T value;
    };
    mutable std::mutex m_lock;  // guards m_pending
    std::deque<Entry> m_pending;
};

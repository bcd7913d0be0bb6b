// The pieces the run is built from to decode, filter and encode on threads
// of their own: a bounded queue between two threads, a queue that puts back
// in order what several threads finish in any order, and a crew of
// threads that stop together.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "engine/pixel_yc.h"

// At most `capacity` items between a producing and a consuming thread:
// push waits for room and pop for an item, so memory stays bounded.
template <typename T>
class BoundedQueue {
public:
    explicit BoundedQueue(size_t capacity) : capacity_(capacity) {}

    // False once the queue is closed: the item is dropped.
    bool push(T item)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        room_.wait(lock, [this] { return closed_ || items_.size() < capacity_; });
        if (closed_)
            return false;
        items_.push_back(std::move(item));
        ready_.notify_one();
        return true;
    }

    // The next item; empty once the queue is closed and drained.
    std::optional<T> pop()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait(lock, [this] { return closed_ || !items_.empty(); });
        if (items_.empty())
            return std::nullopt;
        T item = std::move(items_.front());
        items_.pop_front();
        room_.notify_one();
        return item;
    }

    // No more pushes; what is queued can still be popped.
    void close()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
        room_.notify_all();
        ready_.notify_all();
    }

    // Closes the queue and drops what it holds.
    void cancel()
    {
        std::deque<T> dropped;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            dropped.swap(items_);
        }
        close();
    }

private:
    const size_t capacity_;
    std::mutex mutex_;
    std::condition_variable room_, ready_;
    std::deque<T> items_;
    bool closed_ = false;
};

// Items numbered 0, 1, 2, ... in the order they are given out by one
// thread, handed in by several in any order and taken out by one in their
// order. At most `capacity` numbers are out and not yet taken, so that
// memory stays bounded however far ahead the fastest thread runs.
template <typename T>
class InOrder {
public:
    explicit InOrder(size_t capacity) : capacity_(capacity) {}

    // The next number, once there is room for it; -1 once cancelled.
    long reserve()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        room_.wait(lock, [this] { return cancelled_ || given_ - taken_ < static_cast<long>(capacity_); });
        return cancelled_ ? -1 : given_++;
    }

    // Hands in item `number`; dropped once cancelled.
    void put(long number, T item)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (cancelled_)
            return;
        items_.emplace(number, std::move(item));
        ready_.notify_all();
    }

    // The next item in order; empty once closed and every number given out
    // has been taken, or once cancelled.
    std::optional<T> pop()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait(lock, [this] { return cancelled_ || items_.count(taken_) != 0 || (closed_ && taken_ == given_); });
        if (cancelled_ || items_.count(taken_) == 0)
            return std::nullopt;
        auto found = items_.find(taken_);
        T item = std::move(found->second);
        items_.erase(found);
        ++taken_;
        room_.notify_all();
        return item;
    }

    // No more numbers are given out.
    void close()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
        ready_.notify_all();
    }

    // Wakes every wait and drops what is held.
    void cancel()
    {
        std::map<long, T> dropped;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            cancelled_ = true;
            dropped.swap(items_);
            room_.notify_all();
            ready_.notify_all();
        }
    }

private:
    const size_t capacity_;
    std::mutex mutex_;
    std::condition_variable room_, ready_;
    std::map<long, T> items_;
    long given_ = 0;
    long taken_ = 0;
    bool closed_ = false;
    bool cancelled_ = false;
};

// Threads that stop together: the first failure of any of them is kept, and
// `stop` runs at once so that the others stop waiting on the one that
// failed (it cancels the queues between them).
class Crew {
public:
    explicit Crew(std::function<void()> stop) : stop_(std::move(stop)) {}
    ~Crew()
    {
        stop_();
        join();
    }
    Crew(const Crew&) = delete;
    Crew& operator=(const Crew&) = delete;

    // Runs `work`, then `done`, on a thread of its own; `done` also runs
    // after a failure.
    void start(std::function<void()> work, std::function<void()> done = {})
    {
        threads_.emplace_back([this, work = std::move(work), done = std::move(done)] {
            try {
                work();
            } catch (...) {
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    if (!failure_)
                        failure_ = std::current_exception();
                }
                stop_();
            }
            if (done)
                done();
        });
    }

    // Waits for every thread; raises the first failure.
    void finish()
    {
        join();
        std::lock_guard<std::mutex> lock(mutex_);
        if (failure_)
            std::rethrow_exception(failure_);
    }

private:
    void join()
    {
        for (std::thread& thread : threads_) {
            if (thread.joinable())
                thread.join();
        }
    }

    std::function<void()> stop_;
    std::mutex mutex_;
    std::exception_ptr failure_;
    std::vector<std::thread> threads_;
};

// The pieces the run is built from to decode, filter and encode on threads
// of their own: a bounded queue between two threads, a pool of frame
// buffers handed back by the thread that used them, and a worker thread
// that keeps its failure for the thread that waits on it.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "host/pixel_yc.h"

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

// PIXEL_YC frame buffers that one thread fills and another hands back, so
// that a frame's buffer is allocated (and its pages touched) only once.
class BufferPool {
public:
    std::vector<PIXEL_YC> take()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (free_.empty())
            return {};
        std::vector<PIXEL_YC> buffer = std::move(free_.back());
        free_.pop_back();
        return buffer;
    }

    void give_back(std::vector<PIXEL_YC> buffer)
    {
        if (buffer.empty())
            return;
        std::lock_guard<std::mutex> lock(mutex_);
        free_.push_back(std::move(buffer));
    }

private:
    std::mutex mutex_;
    std::vector<std::vector<PIXEL_YC>> free_;
};

// Runs `work` on a thread of its own. An exception it throws is kept and
// raised by rethrow_failure() on the thread that asks, after it has seen
// the work end (through the queue the work closes, or join()).
class Worker {
public:
    Worker() = default;
    ~Worker() { join(); }
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    // `done` runs on the worker thread after `work`, whether it finished or
    // failed, after the failure has been kept: it closes the worker's queue.
    void start(std::function<void()> work, std::function<void()> done)
    {
        thread_ = std::thread([this, work = std::move(work), done = std::move(done)] {
            try {
                work();
            } catch (...) {
                std::lock_guard<std::mutex> lock(mutex_);
                failure_ = std::current_exception();
            }
            done();
        });
    }

    void join()
    {
        if (thread_.joinable())
            thread_.join();
    }

    void rethrow_failure()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (failure_)
            std::rethrow_exception(failure_);
    }

private:
    std::mutex mutex_;
    std::exception_ptr failure_;
    std::thread thread_;
};

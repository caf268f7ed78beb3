// Tasks done on worker threads and retired on the calling thread in the order they were
// handed out: the one hand-off of every run on several threads (decode, encode, a
// caller's sink). The calling thread fills a task (Next), hands it out (Submit), and
// each task, once a worker has done it, is retired (written, its faults told) in turn;
// at most `inFlight` tasks are in hand at once, so memory stays bounded however slow
// one task is. A retired task's room is kept for a later one (`reset` empties it).
//
//     OrderedPool<Chunk> pool(workers, 2 * workers, work, retire, reset);
//     while (more) { Chunk& chunk = pool.Next(); ...fill...; pool.Submit(); }
//     pool.Close();   // every task retired, the workers ended
#ifndef QUILLBOX_CODEC_ORDEREDPOOL_H
#define QUILLBOX_CODEC_ORDEREDPOOL_H

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace quillbox {

template <class Task>
class OrderedPool {
public:
    // Runs `task` on worker `worker` (from 0); must not throw.
    using Work = std::function<void(size_t worker, Task& task)>;
    // Takes a done task on the calling thread, in the order of Submit.
    using Retire = std::function<void(Task& task)>;
    // Empties a retired task for reuse.
    using Reset = std::function<void(Task& task)>;

    OrderedPool(size_t workers, size_t inFlight, Work work, Retire retire, Reset reset)
        : inFlight_(inFlight < 1 ? 1 : inFlight), work_(std::move(work)), retire_(std::move(retire)),
          reset_(std::move(reset)) {
        if (workers < 1) workers = 1;
        for (size_t w = 0; w < workers; ++w) threads_.emplace_back([this, w] { Serve(w); });
    }
    ~OrderedPool() { End(); }
    OrderedPool(const OrderedPool&) = delete;
    OrderedPool& operator=(const OrderedPool&) = delete;

    // The task to fill next: the room of a retired one, or a new one. The same task
    // until it is submitted.
    Task& Next() {
        if (current_ == nullptr) {
            if (!spare_.empty()) {
                current_ = std::move(spare_.back());
                spare_.pop_back();
            } else {
                current_.reset(new Slot());
            }
        }
        return current_->task;
    }
    // Hands the task of Next() to the workers; then retires the oldest tasks while
    // `inFlight` are in hand.
    void Submit() {
        Next();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            pending_.push_back(current_.get());
            inHand_.push_back(std::move(current_));
            ready_.notify_one();
        }
        while (inHand_.size() >= inFlight_) RetireOldest();
    }
    // Retires every task in hand and ends the workers.
    void Close() {
        while (!inHand_.empty()) RetireOldest();
        End();
    }

private:
    struct Slot {
        Task task;
        bool done = false;
    };

    void Serve(size_t worker) {
        for (;;) {
            Slot* slot;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                ready_.wait(lock, [&] { return closing_ || !pending_.empty(); });
                if (pending_.empty()) return;
                slot = pending_.front();
                pending_.pop_front();
            }
            work_(worker, slot->task);
            std::lock_guard<std::mutex> lock(mutex_);
            slot->done = true;
            finished_.notify_all();
        }
    }

    void RetireOldest() {
        std::unique_ptr<Slot> slot;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            finished_.wait(lock, [&] { return inHand_.front()->done; });
            slot = std::move(inHand_.front());
            inHand_.pop_front();
        }
        // The task's room is kept for a later one, whatever the retiring made of it.
        struct Recycle {
            OrderedPool& pool;
            std::unique_ptr<Slot>& slot;
            ~Recycle() {
                pool.reset_(slot->task);
                slot->done = false;
                pool.spare_.push_back(std::move(slot));
            }
        } recycle{*this, slot};
        retire_(slot->task);
    }

    // The workers end once the tasks handed out are done (those not retired are dropped).
    void End() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            closing_ = true;
            ready_.notify_all();
        }
        for (std::thread& thread : threads_) {
            if (thread.joinable()) thread.join();
        }
    }

    const size_t inFlight_;
    Work work_;
    Retire retire_;
    Reset reset_;
    std::mutex mutex_;
    std::condition_variable ready_, finished_;
    std::deque<Slot*> pending_;                   // handed out, waiting for a worker
    std::deque<std::unique_ptr<Slot>> inHand_;    // handed out and not retired, in order
    std::vector<std::unique_ptr<Slot>> spare_;    // retired: room for later tasks
    std::unique_ptr<Slot> current_;               // being filled
    bool closing_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace quillbox

#endif

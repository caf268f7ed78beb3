// Tasks done on several threads and retired (written, their faults told) one at a time
// in the order they were filled: the hand-off of every run on several threads.
//
// RunInTurn: every one of N threads fills the next task
// (in turn: reading and framing the input is done in order), does it, and, when it is
// the oldest not yet retired, retires it and every later one already done. N threads
// are busy and no more; no thread waits for another to hand it work or take its result.
//
//     RunInTurn<Chunk>(threads, 2 * threads, fill, work, retire, reset);
//
// OrderedPool: the calling thread fills the tasks (Next, Submit) and retires them itself,
// in order, once workers have done them: for a caller whose outputs belong to its thread
// (a program's sinks).
//
//     OrderedPool<Chunk> pool(workers, 2 * workers, work, retire, reset);
//     while (more) { Chunk& chunk = pool.Next(); ...fill...; pool.Submit(); }
//     pool.Close();   // every task retired, the workers ended
//
// Either way at most about `inFlight` tasks are in hand at once, so memory stays bounded
// however slow one task is, and a retired task's room is kept for a later one (`reset`
// empties it).
#ifndef QUILLBOX_CODEC_ORDEREDPOOL_H
#define QUILLBOX_CODEC_ORDEREDPOOL_H

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
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

// Runs tasks on `threads` threads (the calling thread waits for them) until `fill`
// gives none or `retire` ends the run. `fill(task)` fills the next task, one thread at a
// time in order (false: no more; the task is left empty); `work(thread, task)` does it
// (thread from 0); `retire(task)` takes it in fill order, one at a
// time, on whichever thread finished the oldest (false: the run ends; tasks filled after
// it are not retired). None of them may throw. At most `inFlight` tasks (and one more a
// thread) are in hand.
template <class Task>
void RunInTurn(size_t threads, size_t inFlight, const std::function<bool(Task&)>& fill,
               const std::function<void(size_t thread, Task&)>& work, const std::function<bool(Task&)>& retire,
               const std::function<void(Task&)>& reset) {
    if (threads < 1) threads = 1;
    if (inFlight < threads) inFlight = threads;
    std::mutex mutex;        // the state below
    std::mutex filling;      // one thread fills at a time
    std::condition_variable room;
    std::vector<std::unique_ptr<Task>> spare;
    std::map<size_t, std::unique_ptr<Task>> done;   // done, waiting for their turn
    size_t filled = 0, retired = 0;
    bool exhausted = false, ended = false, retiring = false;

    auto serve = [&](size_t thread) {
        for (;;) {
            std::unique_ptr<Task> task;
            {
                std::unique_lock<std::mutex> lock(mutex);
                room.wait(lock, [&] { return ended || exhausted || filled < retired + inFlight; });
                if (ended || exhausted) return;
                if (!spare.empty()) {
                    task = std::move(spare.back());
                    spare.pop_back();
                }
            }
            if (task == nullptr) task.reset(new Task());
            size_t index;
            {
                std::lock_guard<std::mutex> turn(filling);
                bool stop;
                {
                    std::lock_guard<std::mutex> lock(mutex);
                    stop = ended || exhausted;
                }
                if (stop || !fill(*task)) {
                    reset(*task);
                    std::lock_guard<std::mutex> lock(mutex);
                    exhausted = true;
                    spare.push_back(std::move(task));
                    room.notify_all();
                    return;
                }
                std::lock_guard<std::mutex> lock(mutex);
                index = filled++;
            }
            work(thread, *task);
            std::unique_lock<std::mutex> lock(mutex);
            done.emplace(index, std::move(task));
            if (retiring) continue;
            // This thread retires the oldest tasks while they are done.
            retiring = true;
            while (!done.empty() && done.begin()->first == retired) {
                std::unique_ptr<Task> next = std::move(done.begin()->second);
                done.erase(done.begin());
                bool goOn = true;
                if (!ended) {
                    lock.unlock();
                    goOn = retire(*next);
                    lock.lock();
                }
                if (!goOn) ended = true;
                reset(*next);
                spare.push_back(std::move(next));
                ++retired;
            }
            retiring = false;
            room.notify_all();
        }
    };
    // The calling thread only waits: the threads of a pool keep the memory they free
    // for their next tasks, where the process's first thread gives it back to the
    // system at every task (and is then made to fault it in again).
    std::vector<std::thread> pool;
    for (size_t t = 0; t < threads; ++t) pool.emplace_back(serve, t);
    for (std::thread& thread : pool) thread.join();
}

}  // namespace quillbox

#endif

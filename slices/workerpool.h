#ifndef SLICES_WORKERPOOL_H
#define SLICES_WORKERPOOL_H

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// Worker threads started once and kept, for work cut into independent pieces:
// the loader's files and the renderer's bands. The caller works too, and
// run() returns only when every piece is done. Threads that cannot be
// started are done without: with none, the caller does all the work alone.
class WorkerPool
{
public:
    using Starter = std::function<std::thread(std::function<void()>)>;

    // Starts up to `workers` threads through `start` (std::thread by default).
    explicit WorkerPool(int workers, const Starter &start = {});
    ~WorkerPool();
    WorkerPool(const WorkerPool &) = delete;
    WorkerPool &operator=(const WorkerPool &) = delete;

    // The renderer's pool: one worker per core besides the caller.
    static WorkerPool &shared();

    int workerCount() const { return int(threads.size()); }

    // Calls work(context, i) once for each i in [0, count), spread over the
    // workers and the caller. A call made while the pool is busy with
    // another caller's work (or from inside a piece) runs on its caller alone.
    void run(int count, void (*work)(void *context, int index), void *context);

    template<typename F>
    void run(int count, F &f)
    {
        run(count, [](void *c, int i) { (*static_cast<F *>(c))(i); }, &f);
    }

private:
    void workerLoop();
    void takePieces();

    std::atomic<bool> busy = false; // a caller's work is in hand
    std::mutex lock;
    std::condition_variable wake;
    std::condition_variable finished;
    std::vector<std::thread> threads;

    // The work in hand, set under `lock` before the workers are woken.
    void (*work)(void *, int) = nullptr;
    void *context = nullptr;
    int count = 0;
    std::atomic<int> next = 0;
    unsigned generation = 0; // counts the pieces of work handed out
    int working = 0;         // workers not yet done with the current work
    bool stopping = false;
};

#endif // SLICES_WORKERPOOL_H

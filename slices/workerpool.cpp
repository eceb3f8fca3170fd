#include "slices/workerpool.h"

#include <QThread>

#include <algorithm>
#include <system_error>

WorkerPool::WorkerPool(int workers, const Starter &start)
{
    threads.reserve(std::max(workers, 0));
    for (int i = 0; i < workers; ++i) {
        try {
            if (start)
                threads.push_back(start([this] { workerLoop(); }));
            else
                threads.emplace_back([this] { workerLoop(); });
        } catch (const std::system_error &) {
            break;
        }
    }
}

WorkerPool::~WorkerPool()
{
    {
        std::lock_guard guard(lock);
        stopping = true;
    }
    wake.notify_all();
    for (std::thread &thread : threads)
        thread.join();
}

WorkerPool &WorkerPool::shared()
{
    static WorkerPool pool(std::max(QThread::idealThreadCount(), 1) - 1);
    return pool;
}

void WorkerPool::takePieces()
{
    for (int i = next++; i < count; i = next++)
        work(context, i);
}

void WorkerPool::workerLoop()
{
    unsigned seen = 0;
    std::unique_lock guard(lock);
    for (;;) {
        wake.wait(guard, [&] { return stopping || generation != seen; });
        if (stopping)
            return;
        seen = generation;
        guard.unlock();
        takePieces();
        guard.lock();
        if (--working == 0)
            finished.notify_one();
    }
}

void WorkerPool::run(int count, void (*work)(void *, int), void *context)
{
    bool idle = false;
    if (threads.empty() || count < 2 || !busy.compare_exchange_strong(idle, true)) {
        for (int i = 0; i < count; ++i)
            work(context, i);
        return;
    }
    {
        std::lock_guard guard(lock);
        this->work = work;
        this->context = context;
        this->count = count;
        next = 0;
        working = int(threads.size());
        ++generation;
    }
    wake.notify_all();
    takePieces();
    std::unique_lock guard(lock);
    finished.wait(guard, [&] { return working == 0; });
    this->work = nullptr;
    this->context = nullptr;
    busy = false;
}

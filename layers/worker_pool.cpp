#include "layers/worker_pool.h"

#include <algorithm>
#include <system_error>
#include <vector>

#include "core/engine_hooks.h"
#include "core/engine_state.h"
#include "core/error_report.h"
#include "core/system_facts.h"
#include "base/system_text.h"

namespace zk {

namespace {

void CompleteAtOnce(const WorkerJob&, int) {}

std::array<WorkerJobHandler, kMaxWorkerJobCode + 1> MakeEmptyJobTable() {
    std::array<WorkerJobHandler, kMaxWorkerJobCode + 1> table;
    table.fill(CompleteAtOnce);
    return table;
}

std::array<WorkerJobHandler, kMaxWorkerJobCode + 1>& JobTable() {
    static std::array<WorkerJobHandler, kMaxWorkerJobCode + 1> table = MakeEmptyJobTable();
    return table;
}

std::unique_ptr<WorkerPool> engine_pool;

}  // namespace

bool RegisterWorkerJob(int32_t code, WorkerJobHandler handler) {
    if (code < 0 || code > kMaxWorkerJobCode) return false;
    JobTable()[size_t(code)] = handler != nullptr ? handler : CompleteAtOnce;
    return true;
}

void RunWorkerJob(const WorkerJob& job, int worker) {
    if (job.code < 0 || job.code > kMaxWorkerJobCode) return;
    JobTable()[size_t(job.code)](job, worker);
}

RowBand BandOfRows(int64_t rows, int worker, int workers) {
    if (rows <= 0 || workers <= 0 || worker < 0 || worker >= workers) return {};
    // rows fits 63 bits and workers is at most a handful: no overflow for
    // any band of any image.
    return {rows * worker / workers, rows * (worker + 1) / workers};
}

WorkerPool::WorkerPool(int workers) : worker_count_(std::clamp(workers, 1, kMaxWorkers)) {
    started_ = true;
    for (int i = 0; i < worker_count_; ++i) {
        workers_[size_t(i)] = std::make_unique<Worker>();
        workers_[size_t(i)]->job.code = i;
    }
    for (int i = 0; i < worker_count_; ++i) {
        Worker& worker = *workers_[size_t(i)];
        try {
            worker.thread = std::thread(&WorkerPool::WorkerLoop, this, i);
            platform::SetThreadIdealProcessor(worker.thread, i);
        } catch (const std::system_error&) {
            // Its jobs run on the poster's thread from now on.
            worker.left = true;
            started_ = false;
        }
    }
}

WorkerPool::~WorkerPool() {
    {
        // Never while a poster waits: it would find its workers gone.
        std::lock_guard<std::mutex> lock(post_lock_);
        stopping_ = true;
        for (int i = 0; i < worker_count_; ++i) workers_[size_t(i)]->start.Set();
    }
    for (int i = 0; i < worker_count_; ++i) {
        if (workers_[size_t(i)]->thread.joinable()) workers_[size_t(i)]->thread.join();
    }
}

int WorkerPool::RunningWorkers() const {
    int running = 0;
    for (int i = 0; i < worker_count_; ++i) running += workers_[size_t(i)]->left ? 0 : 1;
    return running;
}

void WorkerPool::WorkerLoop(int index) {
    Worker& self = *workers_[size_t(index)];
    for (;;) {
        WorkerWaitingFlag = 1;
        self.start.Wait();
        WorkerWaitingFlag = 0;
        self.done.Reset();
        self.accepted.Set();
        if (QuitFlag.load() != 0 || stopping_.load()) {
            // Marked before done is signalled, so the poster that waits on
            // done knows the job was not run.
            self.left = true;
            self.done.Set();
            return;
        }
        RunWorkerJob(self.job, index);
        self.done.Set();
    }
}

void WorkerPool::Post(std::span<const WorkerJob> jobs) {
    std::lock_guard<std::mutex> lock(post_lock_);
    const int posted_count = std::min<int>(worker_count_, int(jobs.size()));
    std::array<bool, kMaxWorkers> posted{};
    // Every worker is started before the first acceptance is awaited, so
    // the workers wake in parallel rather than one after the other. Each
    // reads only its own record, written before its start.
    for (int i = 0; i < posted_count; ++i) {
        Worker& worker = *workers_[size_t(i)];
        if (worker.left) continue;
        worker.job = jobs[size_t(i)];
        worker.start.Set();
        posted[size_t(i)] = true;
    }
    for (int i = 0; i < posted_count; ++i) {
        if (posted[size_t(i)]) workers_[size_t(i)]->accepted.Wait();
    }
    // Jobs beyond the workers run here while the workers run theirs.
    for (size_t i = size_t(posted_count); i < jobs.size(); ++i) RunWorkerJob(jobs[i], int(i));
    for (int i = 0; i < posted_count; ++i) {
        if (posted[size_t(i)]) workers_[size_t(i)]->done.Wait();
    }
    // A worker that has left (the engine is quitting) did not run its job;
    // the results are still owed.
    for (int i = 0; i < posted_count; ++i) {
        if (workers_[size_t(i)]->left) RunWorkerJob(jobs[size_t(i)], i);
    }
}

void WorkerPool::PostRowBands(const WorkerJob& prototype, int64_t rows) {
    std::array<WorkerJob, kMaxWorkers> jobs;
    for (int i = 0; i < worker_count_; ++i) {
        jobs[size_t(i)] = prototype;
        RowBand band = BandOfRows(rows, i, worker_count_);
        jobs[size_t(i)].first_row = band.first;
        jobs[size_t(i)].end_row = band.end;
    }
    Post(std::span<const WorkerJob>(jobs.data(), size_t(worker_count_)));
}

int StartWorkerThreads() {
    StopWorkerThreads();
    engine_pool = std::make_unique<WorkerPool>(TheSystemFacts().worker_count);
    if (!engine_pool->started()) {
        ShowMessageBox(nullptr, Sjis("[エラー]\n\nスレッドが起動できませんでした。"));
        return -1;
    }
    return 0;
}

void StopWorkerThreads() { engine_pool.reset(); }

int WorkerCount() { return engine_pool != nullptr ? engine_pool->size() : 0; }

void PostWorkerJobs(std::span<const WorkerJob> jobs) {
    if (engine_pool != nullptr) {
        engine_pool->Post(jobs);
        return;
    }
    for (size_t i = 0; i < jobs.size(); ++i) RunWorkerJob(jobs[i], int(i));
}

void PostRowBandJobs(const WorkerJob& prototype, int64_t rows) {
    if (engine_pool != nullptr) {
        engine_pool->PostRowBands(prototype, rows);
        return;
    }
    WorkerJob job = prototype;
    job.first_row = 0;
    job.end_row = std::max<int64_t>(rows, 0);
    RunWorkerJob(job, 0);
}

void RegisterWorkerHooks() {
    Hooks().start_worker_threads = StartWorkerThreads;
    Hooks().stop_worker_threads = StopWorkerThreads;
}

}  // namespace zk

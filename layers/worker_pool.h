// The image workers: a small pool (1 to 4 threads) that runs large regular
// pixel work as one synchronous parallel loop. A poster fills one WorkerJob
// per worker, starts every worker, then waits for each to confirm that it
// took its job, and returns only when every worker is done, so the next
// step always sees finished results. Jobs run through a table indexed by
// job code that the owning files fill at start-up.
//
// Each worker has three auto-reset events: start, accepted, and done
// (initially signalled); a worker clears its done event itself when it
// takes a job. WorkerWaitingFlag is 1 while a worker waits for work.
// Workers leave when QuitFlag is set (or their pool is being destroyed) and
// their start event is signalled; a job posted to a worker that has left
// runs on the poster's thread instead, so a poster never waits forever.
//
// Threading: one poster at a time (posters are serialised by a lock);
// bands must write disjoint memory. Tables the jobs read are written only
// while no job runs.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <thread>

#include "platform/sync.h"

namespace zk {

struct CgImage;

constexpr int kMaxWorkers = 4;

// Job codes.
constexpr int32_t kJobScaleNearest = 11;
constexpr int32_t kJobScaleBilinear = 21;
constexpr int32_t kJobScaleSupersampled = 41;
constexpr int32_t kJobBlendFirst = 101;  // 101..104, the blend jobs
constexpr int32_t kJobBlendLast = 104;
constexpr int32_t kJobZcgRaw = 1000;     // .zcg halves: raw copy,
constexpr int32_t kJobZcgZlib = 1001;    // zlib-style,
constexpr int32_t kJobZcgSnappy = 1002;  // Snappy-style,
constexpr int32_t kJobZcgWebp = 1003;    // WebP
constexpr int32_t kMaxWorkerJobCode = 1023;

// Blend jobs 101..104: a band of a layer's overlap with its target.
struct WorkerBlendParams {
    CgImage* destination = nullptr;
    const CgImage* source = nullptr;
    const CgImage* mask = nullptr;          // null for 101 and 103
    const uint8_t* mask_pixels = nullptr;   // the mask's current pixels
    int64_t width = 0;                      // pixels in a band row
    int64_t source_x = 0, source_y = 0;    // the overlap's start in the source (and mask)
    int64_t destination_x = 0, destination_y = 0;
};

// Resampling jobs 11, 21, 41.
struct WorkerResampleParams {
    int64_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // source rectangle (pixels or 1/100 pixel, by job)
    int64_t source_width = 0, source_height = 0;
    int64_t destination_width = 0, destination_height = 0;
    uint8_t* destination_pixels = nullptr;
    const uint8_t* source_pixels = nullptr;
};

// .zcg jobs 1000..1003: worker 0 unpacks part 1, worker 1 part 2.
struct WorkerZcgParams {
    int64_t part1_unpacked = 0, part1_stored = 0;
    int64_t part2_unpacked = 0, part2_stored = 0;
    int64_t width = 0, height = 0;
    std::span<uint8_t> pixel_block;
    std::span<const uint8_t> file_bytes;
};

struct WorkerJob {
    int32_t code = 0;
    // This worker's band: rows [first_row, end_row), and for resampling the
    // columns [first_column, end_column).
    int64_t first_row = 0, end_row = 0;
    int64_t first_column = 0, end_column = 0;
    WorkerBlendParams blend;
    WorkerResampleParams resample;
    WorkerZcgParams zcg;
    // A job family's own record, for jobs registered later that need more.
    const void* context = nullptr;
};

// A job's body: runs `job` as worker `worker` (0-based).
using WorkerJobHandler = void (*)(const WorkerJob& job, int worker);

// Sets the handler of a code (0..kMaxWorkerJobCode); false for a code out
// of range. A code without a handler completes at once. Only at start-up,
// or while no job runs.
bool RegisterWorkerJob(int32_t code, WorkerJobHandler handler);
// Runs the job's handler on the calling thread.
void RunWorkerJob(const WorkerJob& job, int worker);

// Worker `worker` of `workers` gets rows [first, end) of `rows`:
// rows * worker / workers up to rows * (worker + 1) / workers.
struct RowBand {
    int64_t first = 0, end = 0;
};
RowBand BandOfRows(int64_t rows, int worker, int workers);

class WorkerPool {
public:
    // Starts `workers` threads (clamped to 1..kMaxWorkers); worker i
    // prefers processor i. started() says whether every one started.
    explicit WorkerPool(int workers);
    // Makes every worker leave, then joins them.
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    int size() const { return worker_count_; }
    bool started() const { return started_; }
    // Workers whose thread is still in its loop.
    int RunningWorkers() const;

    // Posts jobs[i] to worker i and waits until every one is done. Jobs
    // beyond the worker count, and jobs of workers that have left, run on
    // the calling thread.
    void Post(std::span<const WorkerJob> jobs);
    // Splits `rows` over all workers (BandOfRows), each job a copy of
    // `prototype` with its band, and waits for all.
    void PostRowBands(const WorkerJob& prototype, int64_t rows);

private:
    struct Worker {
        WorkerJob job;
        platform::AutoResetEvent start{false};
        platform::AutoResetEvent accepted{false};
        platform::AutoResetEvent done{true};
        std::atomic<bool> left{false};  // the thread has left its loop (or never started)
        std::thread thread;
    };

    void WorkerLoop(int index);

    std::array<std::unique_ptr<Worker>, kMaxWorkers> workers_;
    int worker_count_ = 0;
    bool started_ = false;
    std::atomic<bool> stopping_{false};
    std::mutex post_lock_;
};

// The engine's pool, made by StartWorkerThreads with TheSystemFacts()
// .worker_count workers: 0, or -1 after the message box
// "[エラー]\n\nスレッドが起動できませんでした。" when a thread cannot start.
int StartWorkerThreads();
// Sets nothing itself (shutdown raises QuitFlag first): wakes every worker
// so it leaves, and joins them all. Safe when none were started.
void StopWorkerThreads();
// Workers of the engine's pool; 0 before StartWorkerThreads.
int WorkerCount();

// Posting through the engine's pool. Without a running pool (before
// start-up, in tests) the jobs run on the calling thread, one band.
void PostWorkerJobs(std::span<const WorkerJob> jobs);
void PostRowBandJobs(const WorkerJob& prototype, int64_t rows);

// Fills Hooks().start_worker_threads and Hooks().stop_worker_threads.
void RegisterWorkerHooks();

}  // namespace zk

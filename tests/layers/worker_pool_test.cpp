// The image workers: row bands, the same results from 1 to 4 workers, jobs
// beyond the pool and unknown codes, the waiting flag, and the quit path
// (workers leave, posters never hang, every thread is joined).
#include "layers/worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "core/engine_hooks.h"
#include "core/engine_state.h"
#include "core/system_facts.h"

namespace zk {
namespace {

constexpr int32_t kJobFillRows = 900;  // a test job: writes a function of (row, column) into its band
constexpr int32_t kJobRecordThread = 901;

struct FillTarget {
    std::vector<uint32_t>* pixels;
    int64_t width;
};

void FillRows(const WorkerJob& job, int) {
    const auto& target = *static_cast<const FillTarget*>(job.context);
    for (int64_t r = job.first_row; r < job.end_row; ++r)
        for (int64_t c = 0; c < target.width; ++c) (*target.pixels)[size_t(r * target.width + c)] += uint32_t(r * 7919 + c * 31 + 1);
}

std::atomic<int> recorded_runs{0};
std::thread::id recorded_threads[kMaxWorkers + 2];
void RecordThread(const WorkerJob& job, int worker) {
    recorded_threads[worker] = std::this_thread::get_id();
    recorded_runs += 1;
    (void)job;
}

class WorkerPoolTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetEngineState();
        RegisterWorkerJob(kJobFillRows, FillRows);
        RegisterWorkerJob(kJobRecordThread, RecordThread);
        recorded_runs = 0;
    }
    void TearDown() override {
        StopWorkerThreads();
        ResetEngineState();
    }
};

TEST_F(WorkerPoolTest, BandsSplitRowsEvenlyByIntegerDivision) {
    struct Case {
        int64_t rows;
        int workers;
        std::vector<RowBand> bands;
    };
    const Case cases[] = {
        {10, 3, {{0, 3}, {3, 6}, {6, 10}}},
        {2, 4, {{0, 0}, {0, 1}, {1, 1}, {1, 2}}},  // empty bands when rows < workers
        {5, 1, {{0, 5}}},
        {0, 2, {{0, 0}, {0, 0}}},
    };
    for (const Case& c : cases) {
        for (int i = 0; i < c.workers; ++i) {
            RowBand band = BandOfRows(c.rows, i, c.workers);
            EXPECT_EQ(band.first, c.bands[size_t(i)].first) << c.rows << " rows, worker " << i << " of " << c.workers;
            EXPECT_EQ(band.end, c.bands[size_t(i)].end);
        }
    }
}

TEST_F(WorkerPoolTest, OneToFourWorkersGiveIdenticalResults) {
    constexpr int64_t kWidth = 37, kRows = 103;
    std::vector<uint32_t> expected(size_t(kWidth * kRows));
    for (int64_t r = 0; r < kRows; ++r)
        for (int64_t c = 0; c < kWidth; ++c) expected[size_t(r * kWidth + c)] = uint32_t(r * 7919 + c * 31 + 1);

    for (int workers = 1; workers <= kMaxWorkers; ++workers) {
        WorkerPool pool(workers);
        ASSERT_TRUE(pool.started());
        EXPECT_EQ(pool.size(), workers);
        for (int64_t rows : {kRows, int64_t{2}, int64_t{0}}) {
            std::vector<uint32_t> pixels(expected.size(), 0);
            FillTarget target{&pixels, kWidth};
            WorkerJob job;
            job.code = kJobFillRows;
            job.context = &target;
            pool.PostRowBands(job, rows);
            // Every row of the band written exactly once, nothing else touched.
            for (int64_t i = 0; i < kWidth * kRows; ++i)
                ASSERT_EQ(pixels[size_t(i)], i < rows * kWidth ? expected[size_t(i)] : 0u)
                    << workers << " workers, " << rows << " rows, index " << i;
        }
    }
}

TEST_F(WorkerPoolTest, JobsBeyondThePoolAndUnknownCodes) {
    WorkerPool pool(2);
    std::vector<WorkerJob> jobs(4);
    for (auto& job : jobs) job.code = kJobRecordThread;
    pool.Post(jobs);
    EXPECT_EQ(recorded_runs.load(), 4);
    EXPECT_NE(recorded_threads[0], std::this_thread::get_id());
    EXPECT_NE(recorded_threads[1], std::this_thread::get_id());
    EXPECT_EQ(recorded_threads[2], std::this_thread::get_id()) << "jobs beyond the workers run on the poster";
    EXPECT_EQ(recorded_threads[3], std::this_thread::get_id());

    WorkerJob unknown;
    unknown.code = 555;  // nothing registered: completes at once
    pool.Post({&unknown, 1});
    unknown.code = -3;
    pool.Post({&unknown, 1});
    EXPECT_FALSE(RegisterWorkerJob(kMaxWorkerJobCode + 1, RecordThread));
    EXPECT_FALSE(RegisterWorkerJob(-1, RecordThread));
}

TEST_F(WorkerPoolTest, WaitingFlagIsSetWhileWorkersIdle) {
    WorkerPool pool(3);
    WorkerJob job;
    job.code = kJobRecordThread;
    pool.Post({&job, 1});
    // The worker goes back to waiting after its job: poll, never sleep long.
    for (int i = 0; i < 2000 && WorkerWaitingFlag.load() != 1; ++i) std::this_thread::yield();
    EXPECT_EQ(WorkerWaitingFlag.load(), 1);
}

TEST_F(WorkerPoolTest, QuitMakesWorkersLeaveInsteadOfRunningAndPostersDoNotHang) {
    WorkerPool pool(3);
    QuitFlag = 1;
    std::vector<WorkerJob> jobs(3);
    for (auto& job : jobs) job.code = kJobRecordThread;
    pool.Post(jobs);
    EXPECT_EQ(pool.RunningWorkers(), 0) << "each started worker saw the flag and left";
    EXPECT_EQ(recorded_runs.load(), 3) << "the poster still gets its results";
    for (int i = 0; i < 3; ++i) EXPECT_EQ(recorded_threads[i], std::this_thread::get_id()) << "no worker ran a job";

    // A later post (a repaint while the engine quits) runs on the poster.
    recorded_runs = 0;
    pool.Post(jobs);
    EXPECT_EQ(recorded_runs.load(), 3);
}  // the destructor joins the threads that have left

// Workers that have gone to sleep between jobs wake for the next one, many
// posts in a row give every band exactly once, and a quit while they sleep
// still makes each started worker leave.
TEST_F(WorkerPoolTest, SleepingWorkersWakeForPostsAndForTheQuit) {
    WorkerPool pool(4);
    std::vector<uint32_t> pixels(16 * 3, 0);
    FillTarget target{&pixels, 3};
    WorkerJob job;
    job.code = kJobFillRows;
    job.context = &target;
    constexpr int kPosts = 2000;
    for (int i = 0; i < kPosts; ++i) {
        if (i % 500 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));  // the workers sleep
        pool.PostRowBands(job, 16);
    }
    for (int64_t r = 0; r < 16; ++r)
        for (int64_t c = 0; c < 3; ++c) EXPECT_EQ(pixels[size_t(r * 3 + c)], uint32_t(r * 7919 + c * 31 + 1) * kPosts);

    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    QuitFlag = 1;
    std::vector<WorkerJob> jobs(4);
    for (auto& j : jobs) j.code = kJobRecordThread;
    pool.Post(jobs);
    EXPECT_EQ(pool.RunningWorkers(), 0);
    EXPECT_EQ(recorded_runs.load(), 4);
}

TEST_F(WorkerPoolTest, EnginePoolStartsThroughTheHooksAndStopsCleanly) {
    RegisterWorkerHooks();
    ASSERT_NE(Hooks().start_worker_threads, nullptr);
    ASSERT_NE(Hooks().stop_worker_threads, nullptr);
    EXPECT_EQ(WorkerCount(), 0);

    // Without a pool a poster runs the job itself, as one band.
    std::vector<uint32_t> pixels(8, 0);
    FillTarget target{&pixels, 2};
    WorkerJob job;
    job.code = kJobFillRows;
    job.context = &target;
    PostRowBandJobs(job, 4);
    EXPECT_EQ(pixels[7], uint32_t(3 * 7919 + 31 + 1));

    TheSystemFacts().worker_count = 4;
    ASSERT_EQ(Hooks().start_worker_threads(), 0);
    EXPECT_EQ(WorkerCount(), 4);
    std::fill(pixels.begin(), pixels.end(), 0);
    PostRowBandJobs(job, 4);
    EXPECT_EQ(pixels[7], uint32_t(3 * 7919 + 31 + 1));

    QuitFlag = 1;  // as shutdown does before it stops the workers
    Hooks().stop_worker_threads();
    EXPECT_EQ(WorkerCount(), 0);
    Hooks().stop_worker_threads();  // again: nothing left to stop
    TheSystemFacts().worker_count = 1;
}

}  // namespace
}  // namespace zk

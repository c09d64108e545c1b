// .zcg, the engine's own image file: a 56-byte header, then the pixel array
// stored as two parts (a top and a bottom band), each raw or compressed, so
// that two workers can unpack them at the same time.
//
// The two paths (two jobs on workers 0 and 1, or both parts on the calling
// thread) check the same things and give the same result: each part must
// fill exactly its share of the pixel array, and the shares must add up to
// the whole image.
#include <algorithm>
#include <array>

#include "base/byte_reader.h"
#include "base/never.h"
#include "core/error_report.h"
#include "base/system_text.h"
#include "layers/cg_image.h"
#include "images/image_codecs.h"
#include "images/image_decoders.h"
#include "layers/pixel_kernels.h"
#include "layers/worker_pool.h"
#include "platform/codec_registry.h"

namespace zk {

namespace {

constexpr size_t kZcgHeaderBytes = 56;  // part 1 starts here
constexpr uint8_t kZcgMagic[4] = {'Z', 'C', 'G', 0};

enum ZcgCompression : uint32_t { kZcgRaw = 0, kZcgZlib = 1, kZcgSnappy = 2, kZcgWebp = 3 };

struct ZcgHeader {
    int32_t width = 0;
    int32_t height = 0;
    uint32_t compression = 0;
    uint32_t part1_unpacked = 0, part1_stored = 0;
    uint32_t part2_unpacked = 0, part2_stored = 0;
};

bool KnownCompression(uint32_t compression) { return compression <= kZcgWebp; }

// True when the parts lie inside the file and fill the pixel array exactly.
bool PartsFit(const ZcgHeader& header, size_t file_size) {
    const uint64_t image_bytes = uint64_t(header.width) * uint64_t(header.height) * 4;
    if (uint64_t{header.part1_unpacked} + header.part2_unpacked != image_bytes) return false;
    if (kZcgHeaderBytes + uint64_t{header.part1_stored} + header.part2_stored > file_size) return false;
    if (header.compression == kZcgRaw &&
        (header.part1_stored != header.part1_unpacked || header.part2_stored != header.part2_unpacked)) {
        return false;
    }
    return true;
}

// Unpacks one part into `destination`: true when it filled exactly that.
bool UnpackZcgPart(uint32_t compression, std::span<const uint8_t> stored, std::span<uint8_t> destination) {
    switch (compression) {
        case kZcgRaw:
            if (stored.size() != destination.size()) return false;
            PixelKernels.copy_bytes(destination.data(), stored.data(), int64_t(destination.size()));
            return true;
        case kZcgZlib: {
            platform::DevodUncompressFn uncompress = platform::Codecs().devod.uncompress;
            if (uncompress == nullptr) return false;
            uint32_t length = static_cast<uint32_t>(destination.size());
            return uncompress(destination.data(), &length, stored.data(), static_cast<uint32_t>(stored.size())) == 0 &&
                   length == destination.size();
        }
        case kZcgSnappy: {
            platform::ZksnpUncompressFn uncompress = platform::Codecs().zksnp.uncompress;
            if (uncompress == nullptr) return false;
            size_t length = destination.size();
            return uncompress(stored.data(), stored.size(), destination.data(), &length) == 0 &&
                   length == destination.size();
        }
        case kZcgWebp: {
            const WebpCodecEntries* codec = BoundWebpCodec();
            if (codec == nullptr) return false;
            int32_t width = 0, height = 0;
            if (codec->get_info(stored.data(), stored.size(), &width, &height) == 0) return false;
            if (width <= 0 || height <= 0 || uint64_t(width) * uint64_t(height) * 4 != destination.size()) return false;
            return codec->decode(stored.data(), destination.data(), stored.size(), width, height) != 0;
        }
        default: return true;  // an unknown compression unpacks nothing
    }
}

// Unpacks part 0 (the top band) or 1 (the bottom band) into its share of
// the pixel block; false also for a part that does not lie inside the file
// and the block, which the decoder checked before posting the job.
bool UnpackZcgJobPart(uint32_t compression, const WorkerZcgParams& params, int part) {
    const uint64_t stored_offset = kZcgHeaderBytes + (part == 0 ? 0 : uint64_t(params.part1_stored));
    const uint64_t stored_size = uint64_t(part == 0 ? params.part1_stored : params.part2_stored);
    const uint64_t unpacked_offset = part == 0 ? 0 : uint64_t(params.part1_unpacked);
    const uint64_t unpacked_size = uint64_t(part == 0 ? params.part1_unpacked : params.part2_unpacked);
    if (ZK_NEVER(stored_offset + stored_size > params.file_bytes.size())) return false;
    if (ZK_NEVER(unpacked_offset + unpacked_size > params.pixel_block.size())) return false;
    return UnpackZcgPart(compression, params.file_bytes.subspan(size_t(stored_offset), size_t(stored_size)),
                         params.pixel_block.subspan(size_t(unpacked_offset), size_t(unpacked_size)));
}

// A job's context: where worker i leaves the result of its part (0 done,
// 1 failed).
struct ZcgJobResults {
    int32_t* status;
};

// Jobs 1000..1003: worker 0 unpacks part 1, worker 1 part 2; any other
// worker has nothing to do.
void RunZcgJob(const WorkerJob& job, int worker) {
    if (worker != 0 && worker != 1) return;
    const uint32_t compression = static_cast<uint32_t>(job.code - kJobZcgRaw);
    const bool done = UnpackZcgJobPart(compression, job.zcg, worker);
    if (job.context != nullptr) static_cast<const ZcgJobResults*>(job.context)->status[worker] = done ? 0 : 1;
}

void ShowFileCheckError() { ShowMessageBox("", "File Check Error."); }

int32_t DecodeZcg(std::span<const uint8_t> bytes, CgImage& image, std::string_view name, bool on_workers);

}  // namespace

void RegisterZcgJobs() {
    for (int32_t code = kJobZcgRaw; code <= kJobZcgWebp; ++code) RegisterWorkerJob(code, RunZcgJob);
}

int32_t DecodeZcgImage(FileSource& source, CgImage& image, std::string_view name) {
    std::vector<uint8_t> bytes;
    if (FetchFileSourceBytes(source, name, bytes) != 0) return -1;
    return DecodeZcgBytes(bytes, image, name);
}

int32_t DecodeZcgBytes(std::span<const uint8_t> bytes, CgImage& image, std::string_view name) {
    return DecodeZcg(bytes, image, name, WorkerCount() >= 2);
}

int32_t DecodeZcgBytesOnCallingThread(std::span<const uint8_t> bytes, CgImage& image, std::string_view name) {
    return DecodeZcg(bytes, image, name, false);
}

namespace {

// The decode, with both parts unpacked as two jobs on workers 0 and 1, or
// one after the other on the calling thread.
int32_t DecodeZcg(std::span<const uint8_t> bytes, CgImage& image, std::string_view name, bool on_workers) {
    ByteReader reader(bytes);
    // A wrong magic is only pointed out; the file is decoded all the same.
    const bool magic = bytes.size() >= 4 && std::equal(bytes.begin(), bytes.begin() + 4, kZcgMagic);
    if (!magic) ShowFileCheckError();
    if (bytes.size() < kZcgHeaderBytes) {
        if (magic) ShowFileCheckError();
        return -1;
    }
    ZcgHeader header;
    header.width = *reader.PeekAt<int32_t>(4);
    header.height = *reader.PeekAt<int32_t>(8);
    header.compression = *reader.PeekAt<uint32_t>(16);
    header.part1_unpacked = *reader.PeekAt<uint32_t>(32);
    header.part1_stored = *reader.PeekAt<uint32_t>(36);
    header.part2_unpacked = *reader.PeekAt<uint32_t>(48);
    header.part2_stored = *reader.PeekAt<uint32_t>(52);
    if (!ImageSizeAcceptable(header.width, header.height)) {
        ReportImageSizeRefused(name);
        return -1;
    }
    const bool known = KnownCompression(header.compression);
    if (header.compression == kZcgWebp && BoundWebpCodec() == nullptr) {
        ShowMessageBox("", Sjis("WebP の読込に対応していません。"));
        return -1;
    }
    if (known && !PartsFit(header, bytes.size())) {
        ShowFileCheckError();
        return -1;
    }
    if (!known) {
        if (!GiveClearedImagePixels(image, header.width, header.height)) return -1;
        image.alpha_in_use = 1;
        return 0;
    }
    if (!GiveImagePixels(image, header.width, header.height)) return -1;
    image.alpha_in_use = 1;

    WorkerZcgParams params;
    params.part1_unpacked = header.part1_unpacked;
    params.part1_stored = header.part1_stored;
    params.part2_unpacked = header.part2_unpacked;
    params.part2_stored = header.part2_stored;
    params.width = header.width;
    params.height = header.height;
    params.pixel_block = std::span<uint8_t>(image.owned_block.data(), image.owned_block.size());
    params.file_bytes = bytes;

    std::array<int32_t, 2> status{1, 1};
    if (on_workers) {
        const ZcgJobResults results{status.data()};
        std::array<WorkerJob, 2> jobs;
        for (WorkerJob& job : jobs) {
            job.code = kJobZcgRaw + static_cast<int32_t>(header.compression);
            job.zcg = params;
            job.context = &results;
        }
        PostWorkerJobs(jobs);
    } else {
        status[0] = UnpackZcgJobPart(header.compression, params, 0) ? 0 : 1;
        if (status[0] == 0) status[1] = UnpackZcgJobPart(header.compression, params, 1) ? 0 : 1;
    }
    if (status[0] != 0) {
        ShowMessageBox(nullptr, "Uncompress Status Error 1.");
        return -1;
    }
    if (status[1] != 0) {
        ShowMessageBox(nullptr, "Uncompress Status Error 2.");
        return -1;
    }
    return 0;
}

}  // namespace

}  // namespace zk

// The CSV field reader (SplitCsvFields) and the field counter over a 4 MB
// file of short quoted and unquoted fields, against a plain split at every
// comma and line end into std::string (no quotes, no CP932) over the same
// bytes, in the same run. Prints MB/s for each and the ratios.
// Informational only: it never fails.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "system/text_file_reader.h"

namespace {

constexpr int kRounds = 5;

double MegabytesPerSecond(std::chrono::steady_clock::duration elapsed, size_t bytes) {
    const double seconds = std::chrono::duration<double>(elapsed).count();
    return seconds > 0 ? static_cast<double>(bytes) * kRounds / seconds / 1e6 : 0.0;
}

// The baseline: fields end at every comma and line end.
std::vector<std::string> PlainSplit(const std::string& data) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t i = 0; i < data.size(); ++i) {
        if (data[i] == ',' || data[i] == '\n') {
            fields.emplace_back(data, start, i - start);
            start = i + 1;
        }
    }
    return fields;
}

}  // namespace

int main() {
    std::string data;
    for (int row = 0; data.size() < 4'000'000; ++row) {
        data += "item" + std::to_string(row) + ", \"a,b\",\x95\x5c" + std::to_string(row * 7) + ",tail\r\n";
    }
    const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(data.data()), data.size());

    size_t reader_fields = 0, plain_fields = 0;
    int64_t counted = 0;
    auto start = std::chrono::steady_clock::now();
    for (int round = 0; round < kRounds; ++round) reader_fields += zk::SplitCsvFields(bytes, SIZE_MAX).size();
    const auto reader_time = std::chrono::steady_clock::now() - start;

    start = std::chrono::steady_clock::now();
    for (int round = 0; round < kRounds; ++round) counted += zk::CountCsvFields(bytes);
    const auto count_time = std::chrono::steady_clock::now() - start;

    start = std::chrono::steady_clock::now();
    for (int round = 0; round < kRounds; ++round) plain_fields += PlainSplit(data).size();
    const auto plain_time = std::chrono::steady_clock::now() - start;

    const double reader = MegabytesPerSecond(reader_time, data.size());
    const double counter = MegabytesPerSecond(count_time, data.size());
    const double plain = MegabytesPerSecond(plain_time, data.size());
    std::printf("csv_reader: %zu bytes, %zu fields a round (%lld counted, plain split %zu)\n", data.size(),
                reader_fields / kRounds, static_cast<long long>(counted / kRounds), plain_fields / kRounds);
    std::printf("csv_reader: SplitCsvFields %.1f MB/s, CountCsvFields %.1f MB/s, plain split %.1f MB/s\n", reader, counter,
                plain);
    if (plain > 0) std::printf("csv_reader: ratio reader/plain %.2f, counter/plain %.2f\n", reader / plain, counter / plain);
    return 0;
}

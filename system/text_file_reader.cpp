#include "system/text_file_reader.h"

#include <algorithm>

#include "base/format.h"
#include "base/sjis.h"

namespace zk {

namespace {

// The file's bytes followed by CR LF, the way the readers see them, read
// where the bytes lie: positions 0..size()-1, the last two being the CR LF.
class LineEndedBytes {
public:
    explicit LineEndedBytes(std::span<const uint8_t> bytes)
        : file_(reinterpret_cast<const char*>(bytes.data()), bytes.size()) {}

    size_t size() const { return file_.size() + 2; }
    char operator[](size_t i) const { return i < file_.size() ? file_[i] : kLineEnd[i - file_.size()]; }

    // The length of a line end at `i` (CR LF 2, CR or LF 1), or 0.
    size_t LineEndLength(size_t i) const {
        const char c = (*this)[i];
        if (c == '\r') return i + 1 < size() && (*this)[i + 1] == '\n' ? 2 : 1;
        return c == '\n' ? 1 : 0;
    }
    // The character at `i`: 2 for a lead byte with a byte behind it, else 1.
    // The appended CR can be the trail byte of a file's last lead byte.
    size_t CharLength(size_t i) const {
        return IsSjisLeadByte(static_cast<uint8_t>((*this)[i])) && i + 1 < size() ? 2 : 1;
    }

    // Bytes from..to, cut to `limit` at a character boundary. Inside the
    // file they are viewed in place; only a text that reaches into the CR
    // LF (never more than `limit` bytes of the file) is put together in
    // `scratch`.
    std::string_view Text(size_t from, size_t to, size_t limit, std::string& scratch) const {
        const std::string_view in_file = file_.substr(std::min(from, file_.size()),
                                                      std::min(to, file_.size()) - std::min(from, file_.size()));
        if (to <= file_.size() || in_file.size() > limit) return in_file.substr(0, CutLength(in_file, limit));
        scratch.assign(in_file);
        for (size_t i = std::max(from, file_.size()); i < to; ++i) scratch += (*this)[i];
        return std::string_view(scratch).substr(0, CutLength(scratch, limit));
    }

private:
    static constexpr char kLineEnd[2] = {'\r', '\n'};
    std::string_view file_;
};

template <typename Reader>
std::vector<std::string> Collect(Reader read) {
    std::vector<std::string> texts;
    read([&](std::string_view text) { texts.emplace_back(text); });
    return texts;
}

}  // namespace

void ReadCsvFields(std::span<const uint8_t> bytes, size_t limit, const TextSink& store) {
    const LineEndedBytes data(bytes);
    const size_t end = data.size();
    std::string scratch;
    size_t stored = 0;
    size_t position = 0;
    size_t field_start = 0;
    bool double_quoted = false;
    bool single_quoted = false;
    bool has_content = false;
    // The line had a comma or a character other than a blank: its last
    // field is stored at its end, as the field count counts it.
    bool line_counts = false;

    auto store_field = [&](size_t from, size_t to) {
        if (stored >= limit) return;
        ++stored;
        store(data.Text(from, to, kMaxFieldBytes, scratch));
    };
    // Commas at the position end fields while no quote protects them; a
    // run of commas gives empty fields.
    auto take_commas = [&] {
        while (position < end && data[position] == ',' && !double_quoted && !single_quoted) {
            store_field(field_start, position);
            ++position;
            field_start = position;
            has_content = false;
            line_counts = true;
        }
    };

    take_commas();  // a first byte ',' is an empty first field
    while (position < end && stored < limit) {
        const char c = data[position];
        if (const size_t line_end = data.LineEndLength(position); line_end != 0) {
            if (line_counts) store_field(field_start, position);
            position += line_end;
            field_start = position;
            double_quoted = false;
            has_content = false;
            line_counts = false;  // the apostrophe's state goes on
        } else if (c == '"') {
            double_quoted = !double_quoted;
            line_counts = true;
            ++position;
        } else if (c == '\'') {
            single_quoted = !single_quoted;
            line_counts = true;
            ++position;
        } else if ((c == ' ' || c == '\t') && !has_content) {
            ++position;
            field_start = position;
        } else {
            // The appended CR LF is always behind a lead byte of the file,
            // so a character never runs past the data.
            position += data.CharLength(position);
            has_content = true;
            line_counts = true;
        }
        take_commas();
    }
}

std::vector<std::string> SplitCsvFields(std::span<const uint8_t> bytes, size_t limit) {
    return Collect([&](const TextSink& store) { ReadCsvFields(bytes, limit, store); });
}

int64_t CountCsvFields(std::span<const uint8_t> bytes) {
    const std::string_view data(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    int64_t count = 0;
    bool double_quoted = false;
    bool single_quoted = false;
    bool line_counts = false;  // a non-blank character or a comma since the line began
    for (size_t i = 0; i < data.size();) {
        const char c = data[i];
        const size_t line_end = c == '\r' ? (i + 1 < data.size() && data[i + 1] == '\n' ? 2 : 1) : c == '\n' ? 1 : 0;
        if (line_end != 0) {
            if (line_counts) ++count;
            line_counts = false;
            double_quoted = false;
            i += line_end;
            continue;
        }
        if (c == ',' && !double_quoted && !single_quoted) ++count;
        if (c == '"') double_quoted = !double_quoted;
        if (c == '\'') single_quoted = !single_quoted;
        if (c != ' ' && c != '\t') line_counts = true;
        i += SjisCharLength(data, i);
    }
    if (line_counts) ++count;  // the end of the data ends the last line
    return count;
}

void ReadTextLines(std::span<const uint8_t> bytes, size_t line_slots, const TextSink& store) {
    const LineEndedBytes data(bytes);
    std::string line;
    size_t stored = 0;
    for (size_t i = 0; i < data.size();) {
        if (const size_t line_end = data.LineEndLength(i); line_end != 0) {
            if (stored >= line_slots) break;
            line += '\r';
            store(line);
            ++stored;
            line.clear();
            i += line_end;
            continue;
        }
        // The line and the CR that follows it fit one text: a character
        // that would not is dropped.
        const size_t length = data.CharLength(i);
        if (line.size() + length <= kMaxFieldBytes - 1) {
            for (size_t k = 0; k < length; ++k) line += data[i + k];
        }
        i += length;
    }
    store(line);
    store(std::string_view());
}

std::vector<std::string> SplitTextLines(std::span<const uint8_t> bytes, size_t line_slots) {
    return Collect([&](const TextSink& store) { ReadTextLines(bytes, line_slots, store); });
}

}  // namespace zk

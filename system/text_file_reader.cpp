#include "system/text_file_reader.h"

#include <string_view>

#include "base/format.h"
#include "base/sjis.h"

namespace zk {

namespace {

// The file's bytes followed by CR LF, the way the readers see them.
std::string WithLineEnd(std::span<const uint8_t> bytes) {
    std::string data(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    data += "\r\n";
    return data;
}

// The length of a line end at `i` (CR LF 2, CR or LF 1), or 0.
size_t LineEndLength(std::string_view data, size_t i) {
    if (data[i] == '\r') return i + 1 < data.size() && data[i + 1] == '\n' ? 2 : 1;
    return data[i] == '\n' ? 1 : 0;
}

std::string Cut(std::string_view text, size_t limit) { return std::string(text.substr(0, CutLength(text, limit))); }

}  // namespace

std::vector<std::string> SplitCsvFields(std::span<const uint8_t> bytes, size_t limit) {
    const std::string data = WithLineEnd(bytes);
    const std::string_view view(data);
    const size_t end = data.size();
    std::vector<std::string> fields;
    size_t position = 0;
    size_t field_start = 0;
    bool double_quoted = false;
    bool single_quoted = false;
    bool has_content = false;
    bool comma_seen = false;
    bool line_empty = true;

    auto store = [&](size_t from, size_t to) {
        if (fields.size() < limit) fields.push_back(Cut(view.substr(from, to - from), kMaxFieldBytes));
    };
    // Commas at the position end fields while no quote protects them; a
    // run of commas gives empty fields.
    auto take_commas = [&] {
        while (position < end && data[position] == ',' && !double_quoted && !single_quoted) {
            store(field_start, position);
            ++position;
            field_start = position;
            comma_seen = true;
            has_content = false;
            line_empty = false;
        }
    };

    take_commas();  // a first byte ',' is an empty first field
    while (position < end && fields.size() < limit) {
        const char c = data[position];
        if (const size_t line_end = LineEndLength(view, position); line_end != 0) {
            if (comma_seen) store(field_start, position);
            else if (line_empty) store(position, position);
            position += line_end;
            field_start = position;
            double_quoted = false;
            has_content = false;
            comma_seen = false;
            line_empty = true;  // the apostrophe's state goes on
        } else if (c == '"') {
            double_quoted = !double_quoted;
            ++position;
        } else if (c == '\'') {
            single_quoted = !single_quoted;
            ++position;
        } else if ((c == ' ' || c == '\t') && !has_content) {
            ++position;
            field_start = position;
        } else {
            // The appended CR LF is always behind a lead byte of the file,
            // so a character never runs past the data.
            position += SjisCharLength(view, position);
            has_content = true;
            line_empty = false;
        }
        take_commas();
    }
    return fields;
}

int64_t CountCsvFields(std::span<const uint8_t> bytes) {
    const std::string_view data(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    int64_t count = 0;
    bool double_quoted = false;
    bool single_quoted = false;
    bool line_counts = false;  // a non-blank character or a comma since the line began
    for (size_t i = 0; i < data.size();) {
        const char c = data[i];
        if (const size_t line_end = LineEndLength(data, i); line_end != 0) {
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

std::vector<std::string> SplitTextLines(std::span<const uint8_t> bytes, size_t line_slots) {
    const std::string data = WithLineEnd(bytes);
    const std::string_view view(data);
    std::vector<std::string> texts;
    std::string line;
    // The line and the CR that follows it fit one text.
    auto append = [&](std::string_view character) {
        if (line.size() + character.size() <= kMaxFieldBytes - 1) line.append(character);
    };
    for (size_t i = 0; i < data.size();) {
        if (const size_t line_end = LineEndLength(view, i); line_end != 0) {
            if (texts.size() >= line_slots) break;
            texts.push_back(line + '\r');
            line.clear();
            i += line_end;
            continue;
        }
        const size_t length = SjisCharLength(view, i);
        append(view.substr(i, length));
        i += length;
    }
    texts.push_back(line);
    texts.emplace_back();
    return texts;
}

}  // namespace zk

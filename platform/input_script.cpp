#include "platform/input_script.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <iterator>
#include <map>

#include "platform/joysticks.h"
#include "platform/virtual_keys.h"

namespace zk::platform {

namespace {

// The wheel delta travels as a signed 16-bit word.
constexpr int32_t kMaxWheelNotches = 32767 / 120;

std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
        size_t end = at;
        while (end < line.size() && line[end] != ' ' && line[end] != '\t') ++end;
        if (end > at) words.push_back(line.substr(at, end - at));
        at = end;
    }
    return words;
}

template <typename T>
std::optional<T> Number(std::string_view word, T min, T max) {
    T value{};
    auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (error != std::errc() || end != word.data() + word.size() || value < min || value > max) return std::nullopt;
    return value;
}

std::optional<bool> DownOrUp(std::string_view word) {
    if (word == "down") return true;
    if (word == "up") return false;
    return std::nullopt;
}

std::optional<int32_t> Button(std::string_view word) {
    if (word == "left") return 1;
    if (word == "right") return 2;
    if (word == "middle") return 4;
    if (word == "x1") return 5;
    if (word == "x2") return 6;
    return std::nullopt;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
    return text;
}

// One line's events (a key tap and a click make two frames' worth);
// false with `error` set when the line is not understood.
bool ParseLine(std::string_view line, std::vector<InputEvent>& out, std::string& error) {
    using Kind = InputEvent::Kind;
    const std::vector<std::string_view> w = Words(line);
    const auto frame = Number<uint64_t>(w[0], 0, UINT64_MAX - 1);
    if (!frame) {
        error = "a frame number first";
        return false;
    }
    if (w.size() < 2) {
        error = "an event after the frame";
        return false;
    }
    auto add = [&](uint64_t at, Kind kind, int32_t a = 0, int32_t b = 0, int32_t c = 0) {
        InputEvent event;
        event.frame = at;
        event.kind = kind;
        event.a = a;
        event.b = b;
        event.c = c;
        out.push_back(std::move(event));
    };
    const std::string_view verb = w[1];
    const size_t n = w.size();

    if (verb == "key" && (n == 3 || n == 4)) {
        const auto key = VirtualKeyFromName(w[2]);
        if (!key) {
            error = "unknown key '" + std::string(w[2]) + "'";
            return false;
        }
        if (n == 3) {
            add(*frame, Kind::kKeyDown, *key);
            add(*frame + 1, Kind::kKeyUp, *key);
            return true;
        }
        const auto down = DownOrUp(w[3]);
        if (!down) {
            error = "key ... down or up";
            return false;
        }
        add(*frame, *down ? Kind::kKeyDown : Kind::kKeyUp, *key);
        return true;
    }
    if ((verb == "move" || verb == "click") && n == 4) {
        const auto x = Number<int32_t>(w[2], -32768, 32767);
        const auto y = Number<int32_t>(w[3], -32768, 32767);
        if (!x || !y) {
            error = "a point of two numbers in -32768..32767";
            return false;
        }
        add(*frame, Kind::kMouseMove, *x, *y);
        if (verb == "click") {
            add(*frame, Kind::kButtonDown, 1);
            add(*frame + 1, Kind::kButtonUp, 1);
        }
        return true;
    }
    if (verb == "button" && n == 4) {
        const auto button = Button(w[2]);
        const auto down = DownOrUp(w[3]);
        if (!button || !down) {
            error = "button left|right|middle|x1|x2 down|up";
            return false;
        }
        add(*frame, *down ? Kind::kButtonDown : Kind::kButtonUp, *button);
        return true;
    }
    if (verb == "wheel" && n == 3) {
        const auto notches = Number<int32_t>(w[2], -kMaxWheelNotches, kMaxWheelNotches);
        if (!notches || *notches == 0) {
            error = "wheel notches, non-zero, at most " + std::to_string(kMaxWheelNotches) + " either way";
            return false;
        }
        add(*frame, Kind::kWheel, *notches * 120);
        return true;
    }
    if (verb == "joy" && n >= 5) {
        const auto joystick = Number<int32_t>(w[2], 0, kMaxJoysticks - 1);
        if (!joystick) {
            error = "a joystick number 0.." + std::to_string(kMaxJoysticks - 1);
            return false;
        }
        if (w[3] == "axis" && n == 6 && (w[4] == "x" || w[4] == "y")) {
            const auto value = Number<int32_t>(w[5], 0, static_cast<int32_t>(kJoystickAxisMax));
            if (!value) {
                error = "an axis value 0..65535";
                return false;
            }
            add(*frame, Kind::kJoystickAxis, *joystick, w[4] == "x" ? 0 : 1, *value);
            return true;
        }
        if (w[3] == "button" && n == 6) {
            const auto button = Number<int32_t>(w[4], 1, 32);
            const auto down = DownOrUp(w[5]);
            if (!button || !down) {
                error = "joy J button 1..32 down|up";
                return false;
            }
            add(*frame, Kind::kJoystickButton, *joystick, *button - 1, *down ? 1 : 0);
            return true;
        }
        error = "joy J axis x|y V, or joy J button B down|up";
        return false;
    }
    if (verb == "drop" && n >= 3) {
        // The path is the rest of the line, spaces and all.
        const size_t at = line.find("drop") + 4;
        InputEvent event;
        event.frame = *frame;
        event.kind = Kind::kDrop;
        event.files.emplace_back(Trim(line.substr(at)));
        out.push_back(std::move(event));
        return true;
    }
    if ((verb == "text" || verb == "compose") && n >= 3) {
        const size_t at = line.find(verb) + verb.size() + 1;
        InputEvent event;
        event.frame = *frame;
        event.kind = verb == "text" ? Kind::kText : Kind::kCompose;
        event.files.emplace_back(line.substr(at));
        out.push_back(std::move(event));
        return true;
    }
    if (n == 2 && (verb == "activate" || verb == "deactivate" || verb == "close")) {
        add(*frame, verb == "activate" ? Kind::kActivate : verb == "deactivate" ? Kind::kDeactivate : Kind::kClose);
        return true;
    }
    error = "unknown event '" + std::string(line.substr(line.find(verb))) + "'";
    return false;
}

}  // namespace

std::optional<std::vector<InputEvent>> ParseInputScript(std::string_view text, std::string& error) {
    std::vector<InputEvent> events;
    size_t line_number = 0;
    while (!text.empty()) {
        ++line_number;
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        line = Trim(line);
        if (line.empty() || line.front() == '#') continue;
        std::string why;
        if (!ParseLine(line, events, why)) {
            error = "line " + std::to_string(line_number) + ": " + why;
            return std::nullopt;
        }
    }
    std::stable_sort(events.begin(), events.end(),
                     [](const InputEvent& a, const InputEvent& b) { return a.frame < b.frame; });
    // The drop lines of one frame are one drop.
    std::vector<InputEvent> merged;
    std::map<uint64_t, size_t> drop_of_frame;
    for (InputEvent& event : events) {
        if (event.kind == InputEvent::Kind::kDrop) {
            auto [it, fresh] = drop_of_frame.emplace(event.frame, merged.size());
            if (!fresh) {
                merged[it->second].files.push_back(std::move(event.files.front()));
                continue;
            }
        }
        merged.push_back(std::move(event));
    }
    return merged;
}

std::optional<std::vector<InputEvent>> ReadInputScript(const std::string& host_path, std::string& error) {
    std::ifstream file(host_path, std::ios::binary);
    if (!file) {
        error = "cannot be read";
        return std::nullopt;
    }
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad()) {
        error = "cannot be read";
        return std::nullopt;
    }
    return ParseInputScript(text, error);
}

}  // namespace zk::platform

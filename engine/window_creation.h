#pragma once

#include <cstdint>
#include <string_view>

namespace zk {

struct WindowRecord;

// 1 created, 0 failed.
int CreateEngineWindow(WindowRecord& record, int show_command, std::string_view class_name, std::string_view title);

// 0 ok, 1 failed.
int CreateCanvas(int window_number, int32_t width, int32_t height);

}  // namespace zk

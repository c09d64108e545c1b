#include "tools/lib/zke_writer.h"

#include "tools/lib/byte_writer.h"

namespace zk::tools {

std::vector<uint8_t> BuildZke(const std::vector<ZkeRecord>& records, const ZkeRawOptions& options) {
    ByteWriter out;
    out.Bytes(options.header);
    out.U32(options.count.value_or(static_cast<uint32_t>(records.size())));
    out.U32(options.reserved);
    for (size_t i = 0; i < records.size(); ++i) {
        out.U32(records[i].code);
        out.Bytes(records[i].text);
        bool last = i + 1 == records.size();
        if (!(last && options.omit_last_terminator)) out.U8(0);
    }
    std::vector<uint8_t> bytes = out.Take();
    if (options.truncate_to && *options.truncate_to < bytes.size()) bytes.resize(*options.truncate_to);
    return bytes;
}

}  // namespace zk::tools

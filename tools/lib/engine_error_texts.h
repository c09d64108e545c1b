// The text of every error number the engine reports, as the compiler
// writes them into zkbin\zke.zbn: a game always carries them, and the
// author's own texts (game.cfg "error" lines) replace single numbers.
// The texts the engine has built in win over these anyway and are
// repeated here as the engine words them.
#pragma once

#include <vector>

#include "tools/lib/zke_writer.h"

namespace zk::tools {

// Every code with its text (CP932), in code order.
const std::vector<ZkeRecord>& EngineErrorTexts();

// The engine's texts with `author`'s records in place of (or added to)
// them; an author's code given twice keeps its last text. Code order.
std::vector<ZkeRecord> MergeErrorTexts(const std::vector<ZkeRecord>& author);

}  // namespace zk::tools

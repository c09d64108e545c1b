// The engine's own data files that start-up and boot read before any
// script runs: the error texts (zkbin\zke.zbn) and the engine
// configuration (zkbin\zkcfg.zbn). Their formats are parsed in core/; this
// is where they are found and read, loose or packed.
#pragma once

namespace zk {

int LoadErrorTexts();  // 0, or -1 after a report
// Loads the table when the file is there and sound; says nothing otherwise
// (start-up reads it early so its own errors have their texts).
void LoadErrorTextsIfPresent();

int LoadEngineConfig();  // 0, -1 file error, 1 bad value

}  // namespace zk

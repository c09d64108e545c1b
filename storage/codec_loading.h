// Start-up's loading of the codec libraries and shutdown's release of them.
// A missing library or entry is reported in a message box and start-up goes
// on; whoever uses an entry tests its pointer first.
#pragma once

namespace zk {

// Loads DEVOD.DLL (ordinals 1 and 2), ZKPNG.DLL (ordinals 1 to 3) and
// ZKSNP.DLL (its four entries by name), in that order, with a message box
// for each failure. Returns whether ZKSNP.DLL loaded: start-up ends without
// it once the pack index is built.
bool LoadCodecLibraries();

// Frees ZKSNP.DLL, ZKPNG.DLL and DEVOD.DLL, each when loaded.
void UnloadCodecLibraries();

}  // namespace zk

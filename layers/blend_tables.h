// Start-up construction of everything the blend kernels read: the four
// kernel tables and the lookup tables of BlendLookupTables.
#pragma once

namespace zk {

// Once, during the start-up tables, after FillBlendLookupTables (the
// product table comes from there). Calling it again rebuilds the same
// values; it must not run while a worker blends.
void BuildBlendTables();

}  // namespace zk

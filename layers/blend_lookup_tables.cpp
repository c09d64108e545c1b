#include "layers/blend_lookup_tables.h"

namespace zk {

BlendLookupTables& TheBlendLookupTables() {
    static BlendLookupTables tables;
    return tables;
}

void FillBlendLookupTables() {
    BlendLookupTables& t = TheBlendLookupTables();
    for (int a = 0; a <= 256; ++a) {
        for (int j = 0; j < 512; ++j) {
            int d = j - 255;
            t.alpha_div256[a][j] = static_cast<int16_t>(a * d / 256);  // C++ division truncates towards zero
            t.alpha_div255[a][j] = static_cast<int16_t>(a * d / 255);
        }
    }
    for (int a = 0; a < 256; ++a)
        for (int b = 0; b < 256; ++b) t.mul255[a][b] = static_cast<uint8_t>(a * b / 255);
}

}  // namespace zk

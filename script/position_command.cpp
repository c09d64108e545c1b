#include "script/position_command.h"

#include <cmath>

#include "script/command_table.h"
#include "script/variables.h"

namespace zk {

namespace {

double Pow2(double value) { return std::pow(2.0, value / 100.0); }

// Element k of a variable, through the getter of the type the command reads
// it as: an array of another type, or one with k or fewer elements, reads 0.
PositionParameters ReadParameters(uint32_t integers, uint32_t reals) {
    PositionParameters parameters;
    for (int k = 0; k < 8; ++k) parameters.integers[k] = GetIntegerElement(integers, k);
    for (int k = 0; k < 31; ++k) parameters.reals[k] = GetRealElement(reals, k);
    return parameters;
}

}  // namespace

PositionResult ComputePosition(const PositionParameters& parameters) {
    const int64_t* I = parameters.integers;
    const double* R = parameters.reals;
    PositionResult out;
    if (I[7] != 0) {
        // Direct placement.
        out.x = R[13] - R[18] * R[16] / 100;
        out.y = R[14] - R[19] * R[17] / 100;
        out.p = R[16];
        out.q = R[17];
        return out;
    }
    const double sx = R[20] / 100;
    const double sy = R[21] / 100;
    const double t = R[5] + R[30];
    const double k = Pow2(R[27] - R[8] + t);
    double l = Pow2(R[27] - R[15] + t);
    double x = static_cast<double>(I[5]) * 0.5 + R[11] * sx + (R[6] - R[9] - sx * (R[3] + R[28])) * k;
    double y = static_cast<double>(I[6]) * 0.5 + R[12] * sy + (R[7] - R[10] - sy * (R[4] + R[29])) * k;
    if (I[1] != I[2]) {
        x = x + R[9] * k;
        y = y + R[10] * k;
        if (I[4] == 0) {
            x = x + (R[13] * sx - R[18]) * l;
            y = y + (R[14] * sy - R[19]) * l;
        } else {
            l = Pow2(R[27] - R[24] + t);
            x = x + ((R[13] + R[22]) * sx - R[18] - R[25]) * l;
            y = y + ((R[14] + R[23]) * sy - R[19] - R[26]) * l;
        }
    }
    x = x + R[18] * (100 - R[16]) * l / 100;
    y = y + R[19] * (100 - R[17]) * l / 100;
    out.x = x;
    out.y = y;
    out.p = R[16] * l;
    out.q = R[17] * l;
    return out;
}

int32_t CmdComputePosition() {
    if (DecodeCommandArgs(kCmdComputePosition) != 0) return -1;
    const CommandArgBlock& args = Args();
    const CommandArgSlot* integer_slot = args.Find(0);
    const CommandArgSlot* real_slot = args.Find(1);
    if (integer_slot == nullptr || real_slot == nullptr) return 0;
    const uint32_t reals = real_slot->var_number;
    const PositionResult result = ComputePosition(ReadParameters(integer_slot->var_number, reals));
    // Each store only where the array has the element; a wrong type reports
    // and the remaining stores still run.
    SetRealElement(reals, 31, result.x);
    SetRealElement(reals, 32, result.y);
    SetRealElement(reals, 33, result.p);
    SetRealElement(reals, 34, result.q);
    return 0;
}

}  // namespace zk

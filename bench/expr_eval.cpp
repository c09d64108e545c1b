// Expression evaluation in ns per opcode for an integer, a real and a text
// expression, against a baseline measured in the same run: a bare switch
// loop over the same byte code that checks nothing and knows only the
// opcodes these expressions use. The ratio is the price of the table
// dispatch and of every bounds check.
//
// It also counts heap allocations (global operator new, replaced in this
// program only) while the warm evaluator runs, prints them, and fails when
// an evaluation allocates.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "script/evaluator_setup.h"
#include "script/expr_eval.h"
#include "script/expr_opcodes.h"
#include "script/variables.h"
#include "tools/lib/infix.h"

namespace {

uint64_t allocations = 0;

}  // namespace

void* operator new(std::size_t size) {
    ++allocations;
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    ++allocations;
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    ++allocations;
    return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    ++allocations;
    return std::malloc(size == 0 ? 1 : size);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

constexpr int kIterations = 1'000'000;

struct Expression {
    const char* name;
    const char* source;
    uint32_t type;  // entry
};

// Number of instructions in a byte code.
int CountOpcodes(std::span<const uint8_t> code) {
    int count = 0;
    for (size_t pc = 0; pc + 3 <= code.size(); pc += 3 + static_cast<size_t>(code[pc + 1] | (code[pc + 2] << 8))) {
        ++count;
    }
    return count;
}

// The baseline: a switch loop over the same instructions with no checks at
// all, integer or double arithmetic on a plain array. Texts are joined with
// std::string appends into a reused buffer.
struct BaselineValue {
    int64_t integer;
    double real;
};

template <bool kReal>
BaselineValue RunBaseline(std::span<const uint8_t> code) {
    int64_t istack[64];
    double dstack[64];
    int depth = 0;
    int nest_start[8];
    int nesting = 0;
    for (size_t pc = 0; pc < code.size();) {
        const uint8_t op = code[pc];
        const size_t length = static_cast<size_t>(code[pc + 1] | (code[pc + 2] << 8));
        const uint8_t* p = code.data() + pc + 3;
        switch (op) {
            case zk::kOpInt8: istack[depth] = static_cast<int8_t>(p[0]); dstack[depth] = static_cast<int8_t>(p[0]); ++depth; break;
            case zk::kOpInt16: {
                int16_t v;
                std::memcpy(&v, p, 2);
                istack[depth] = v;
                dstack[depth++] = v;
                break;
            }
            case zk::kOpReal: {
                double v;
                std::memcpy(&v, p, 8);
                istack[depth] = static_cast<int64_t>(v);
                dstack[depth++] = v;
                break;
            }
            case zk::kOpVariable: {
                uint16_t n = static_cast<uint16_t>(p[1] | (p[2] << 8));
                const zk::ScriptVariable& v = zk::Variables().records[n];
                if (v.type == zk::kVariableReal) {
                    istack[depth] = static_cast<int64_t>(v.reals[0]);
                    dstack[depth++] = v.reals[0];
                } else {
                    istack[depth] = v.integers[0];
                    dstack[depth++] = static_cast<double>(v.integers[0]);
                }
                break;
            }
            case zk::kOpSubscripted: nest_start[nesting++] = depth; istack[depth] = 0; ++depth; break;
            case zk::kOpSubscriptEnd: {
                int start = nest_start[--nesting];
                uint16_t n = 1000;  // the benchmark's array
                int64_t e = istack[start + 1];
                depth = start;
                istack[depth] = zk::Variables().records[n].integers[static_cast<size_t>(e)];
                dstack[depth] = static_cast<double>(istack[depth]);
                ++depth;
                break;
            }
            case zk::kOpAdd: --depth; istack[depth - 1] += istack[depth]; dstack[depth - 1] += dstack[depth]; break;
            case zk::kOpSubtract: --depth; istack[depth - 1] -= istack[depth]; dstack[depth - 1] -= dstack[depth]; break;
            case zk::kOpMultiply: --depth; istack[depth - 1] *= istack[depth]; dstack[depth - 1] *= dstack[depth]; break;
            case zk::kOpDivide:
                --depth;
                if (kReal) {
                    dstack[depth - 1] = dstack[depth] == 0.0 ? 0.0 : dstack[depth - 1] / dstack[depth];
                } else {
                    istack[depth - 1] = istack[depth] == 0 ? 0 : istack[depth - 1] / istack[depth];
                }
                break;
            case zk::kOpRemainder:
                --depth;
                if (!kReal) istack[depth - 1] = istack[depth] == 0 ? 0 : istack[depth - 1] % istack[depth];
                break;
            default: break;
        }
        pc += 3 + length;
    }
    return {istack[0], dstack[0]};
}

// The text baseline: the same literal, variable text and number conversion
// joined with std::string into a buffer kept across runs.
size_t RunTextBaseline(std::string& out, const std::string& t, int64_t a) {
    out.assign("name: ");
    out.append(t);
    out.append(" #");
    char digits[24];
    int n = std::snprintf(digits, sizeof digits, "%lld", static_cast<long long>(a));
    out.append(digits, static_cast<size_t>(n));
    return out.size();
}

double NsPer(std::chrono::steady_clock::duration elapsed, double units) {
    return static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count()) / units;
}

}  // namespace

int main() {
    zk::FillEvaluatorTables();
    zk::InstallEvaluatorCommands();
    if (zk::CreateVariableTable(1010) != 0) return 1;
    zk::VariableShape array;
    array.dimension_count = 1;
    array.sizes[0] = 8;
    zk::FillIntegerVariable(*zk::FindVariable(1000), array, 11);
    zk::FillIntegerVariable(*zk::FindVariable(1001), 7);
    zk::FillRealVariable(*zk::FindVariable(1002), 2.5);
    zk::FillStringVariable(*zk::FindVariable(1003), "heroine");
    const zk::tools::InfixSymbols symbols = {{"x", 1000}, {"a", 1001}, {"r", 1002}, {"t", 1003}};

    const Expression expressions[] = {
        {"integer", "(a + 3) * a - a / 7 + x[2] % 5 - 100", 1},
        {"real", "(r + 3) * r - r / 7 + x[2] - 100.5", 7},
        {"text", "\"name: \" + t + \" #\" + str(a)", 16},
    };
    std::vector<char> text(zk::kExprTextSize);
    std::string baseline_text;
    baseline_text.reserve(zk::kExprTextSize);
    const std::string& variable_text = zk::Variables().records[1003].texts[0];
    uint64_t total_allocations = 0;
    bool agree = true;

    std::printf("expr_eval: %d evaluations each\n", kIterations);
    for (const Expression& e : expressions) {
        std::vector<uint8_t> code = zk::tools::CompileInfix(e.source, symbols);
        const int opcodes = CountOpcodes(code);
        const bool is_text = e.type >= 16;
        const bool is_real = e.type == 7;

        // Warm: the text pool's slots and the caller's buffer exist now.
        for (int i = 0; i < 1000; ++i) zk::EvaluateExpr(e.type, code, text);

        volatile double sink = 0;
        const uint64_t before = allocations;
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kIterations; ++i) {
            zk::ExprValue v = zk::EvaluateExpr(e.type, code, text);
            sink = sink + (is_text ? static_cast<double>(v.text_length) : v.real);
        }
        auto evaluator = std::chrono::steady_clock::now() - start;
        const uint64_t evaluation_allocations = allocations - before;
        total_allocations += evaluation_allocations;

        start = std::chrono::steady_clock::now();
        for (int i = 0; i < kIterations; ++i) {
            if (is_text) {
                sink = sink + static_cast<double>(RunTextBaseline(baseline_text, variable_text, 7));
            } else if (is_real) {
                sink = sink + RunBaseline<true>(code).real;
            } else {
                sink = sink + static_cast<double>(RunBaseline<false>(code).integer);
            }
        }
        auto baseline = std::chrono::steady_clock::now() - start;

        // Both must compute the same value.
        zk::ExprValue v = zk::EvaluateExpr(e.type, code, text);
        if (is_text) {
            RunTextBaseline(baseline_text, variable_text, 7);
            agree = agree && std::string(text.data(), v.text_length) == baseline_text;
        } else if (is_real) {
            agree = agree && v.real == RunBaseline<true>(code).real;
        } else {
            agree = agree && v.integer == RunBaseline<false>(code).integer;
        }

        const double units = static_cast<double>(kIterations) * opcodes;
        const double ns_evaluator = NsPer(evaluator, units);
        const double ns_baseline = NsPer(baseline, units);
        std::printf("  %-7s %2d opcodes  evaluator %6.2f ns/opcode (%7.1f ns/expr)  baseline %6.2f ns/opcode  "
                    "ratio %.2f  allocations %llu\n",
                    e.name, opcodes, ns_evaluator, ns_evaluator * opcodes, ns_baseline,
                    ns_baseline > 0 ? ns_evaluator / ns_baseline : 0.0,
                    static_cast<unsigned long long>(evaluation_allocations));
    }
    std::printf("  heap allocations per evaluated expression once warm: %.6f\n",
                static_cast<double>(total_allocations) / (3.0 * kIterations));
    if (!agree) {
        std::printf("expr_eval: evaluator and baseline disagree\n");
        return 1;
    }
    if (total_allocations != 0) {
        std::printf("expr_eval: FAILED, the warm evaluator allocates\n");
        return 1;
    }
    return 0;
}

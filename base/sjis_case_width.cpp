#include "base/sjis_case_width.h"

namespace zk {

namespace {

// Full-width forms of 0x20..0x7E.
constexpr std::array<uint16_t, 95> kFullAscii = {
    0x8140, 0x8149, 0xFA57, 0x8194, 0x8190, 0x8193, 0x8195, 0xFA56,  // space ! " # $ % & '
    0x8169, 0x816A, 0x8196, 0x817B, 0x8143, 0x817C, 0x8144, 0x815E,  // ( ) * + , - . /
    0x824F, 0x8250, 0x8251, 0x8252, 0x8253, 0x8254, 0x8255, 0x8256,  // 0..7
    0x8257, 0x8258, 0x8146, 0x8147, 0x8183, 0x8181, 0x8184, 0x8148,  // 8 9 : ; < = > ?
    0x8197, 0x8260, 0x8261, 0x8262, 0x8263, 0x8264, 0x8265, 0x8266,  // @ A..G
    0x8267, 0x8268, 0x8269, 0x826A, 0x826B, 0x826C, 0x826D, 0x826E,  // H..O
    0x826F, 0x8270, 0x8271, 0x8272, 0x8273, 0x8274, 0x8275, 0x8276,  // P..W
    0x8277, 0x8278, 0x8279, 0x816D, 0x815F, 0x816E, 0x814F, 0x8151,  // X Y Z [ \ ] ^ _
    0x814D, 0x8281, 0x8282, 0x8283, 0x8284, 0x8285, 0x8286, 0x8287,  // ` a..g
    0x8288, 0x8289, 0x828A, 0x828B, 0x828C, 0x828D, 0x828E, 0x828F,  // h..o
    0x8290, 0x8291, 0x8292, 0x8293, 0x8294, 0x8295, 0x8296, 0x8297,  // p..w
    0x8298, 0x8299, 0x829A, 0x816F, 0x8162, 0x8170, 0x8160,          // x y z { | } ~
};

// Full-width forms of the half-width katakana and marks 0xA1..0xDF.
constexpr std::array<uint16_t, 63> kFullKana = {
    0x8142, 0x8175, 0x8176, 0x8141, 0x8145, 0x8392, 0x8340,          // A1..A7
    0x8342, 0x8344, 0x8346, 0x8348, 0x8383, 0x8385, 0x8387, 0x8362,  // A8..AF
    0x815B, 0x8341, 0x8343, 0x8345, 0x8347, 0x8349, 0x834A, 0x834C,  // B0..B7
    0x834E, 0x8350, 0x8352, 0x8354, 0x8356, 0x8358, 0x835A, 0x835C,  // B8..BF
    0x835E, 0x8360, 0x8363, 0x8365, 0x8367, 0x8369, 0x836A, 0x836B,  // C0..C7
    0x836C, 0x836D, 0x836E, 0x8371, 0x8374, 0x8377, 0x837A, 0x837D,  // C8..CF
    0x837E, 0x8380, 0x8381, 0x8382, 0x8384, 0x8386, 0x8388, 0x8389,  // D0..D7
    0x838A, 0x838B, 0x838C, 0x838D, 0x838F, 0x8393, 0x814A, 0x814B,  // D8..DF
};

constexpr uint8_t kVoicedMark = 0xDE;
constexpr uint8_t kSemiVoicedMark = 0xDF;

// The half-width forms by double-byte code, built once: bytes in the low
// and high half (high 0 for one byte), 0 for none.
struct HalfWidthTable {
    std::array<uint16_t, 0x10000> forms{};

    HalfWidthTable() {
        for (size_t i = 0; i < kFullAscii.size(); ++i) forms[kFullAscii[i]] = static_cast<uint16_t>(0x20 + i);
        // The quotation mark and apostrophe also have NEC-selected codes.
        forms[0xEEFC] = '"';
        forms[0xEEFB] = '\'';
        for (size_t i = 0; i < kFullKana.size(); ++i) forms[kFullKana[i]] = static_cast<uint16_t>(0xA1 + i);
        // Voiced kana follow their base in the code order: カ ガ, ハ バ パ.
        for (unsigned b = 0xB6; b <= 0xC4; ++b) forms[kFullKana[b - 0xA1] + 1] = static_cast<uint16_t>(b | kVoicedMark << 8);
        for (unsigned b = 0xCA; b <= 0xCE; ++b) {
            forms[kFullKana[b - 0xA1] + 1] = static_cast<uint16_t>(b | kVoicedMark << 8);
            forms[kFullKana[b - 0xA1] + 2] = static_cast<uint16_t>(b | kSemiVoicedMark << 8);
        }
        forms[0x8394] = static_cast<uint16_t>(0xB3 | kVoicedMark << 8);  // ヴ: ｳﾞ
    }
};

const HalfWidthTable& HalfWidthForms() {
    static const HalfWidthTable table;
    return table;
}

// Upper-case ranges: [upper, upper + count) pairs with lower codes.
struct CaseRun {
    uint16_t upper;
    uint16_t lower;
    uint16_t count;
};
// Cyrillic lower case skips 0x847F, which is no trail byte.
constexpr std::array<CaseRun, 4> kCaseRuns = {{
    {0x8260, 0x8281, 26},  // Ａ..Ｚ / ａ..ｚ
    {0x839F, 0x83BF, 24},  // Α..Ω / α..ω
    {0x8440, 0x8470, 15},  // А..Н / а..н
    {0x844F, 0x8480, 18},  // О..Я / о..я
}};

}  // namespace

uint16_t Cp932UpperCase(uint16_t code) {
    for (const CaseRun& run : kCaseRuns) {
        if (code >= run.lower && code < run.lower + run.count) return static_cast<uint16_t>(run.upper + (code - run.lower));
    }
    return code;
}

uint16_t Cp932LowerCase(uint16_t code) {
    for (const CaseRun& run : kCaseRuns) {
        if (code >= run.upper && code < run.upper + run.count) return static_cast<uint16_t>(run.lower + (code - run.upper));
    }
    return code;
}

uint16_t Cp932FullWidth(uint8_t byte) {
    if (byte >= 0x20 && byte <= 0x7E) return kFullAscii[byte - 0x20];
    if (byte >= 0xA1 && byte <= 0xDF) return kFullKana[byte - 0xA1];
    return byte;
}

size_t Cp932HalfWidth(uint16_t code, std::array<uint8_t, 2>& out) {
    const uint16_t form = HalfWidthForms().forms[code];
    if (form == 0) return 0;
    out[0] = static_cast<uint8_t>(form & 0xFF);
    out[1] = static_cast<uint8_t>(form >> 8);
    return out[1] != 0 ? 2 : 1;
}

}  // namespace zk

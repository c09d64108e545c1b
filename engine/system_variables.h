// System variables: the numbers below 1000, whose values the engine computes
// when a script reads them. The variable record of such a number (declared
// by zkv.zbn) says only which reader is called: integer, real or text. A few
// numbers can also be written by the assignment command.
//
// Every element index comes from the script. Where a number turns it into
// an array index (an input, a call slot, a parameter, a command-line word,
// a joystick and its button), an index that names nothing reads 0, 0.0 or
// the empty text and a write to it changes nothing.
//
// Threading: script thread. The input arrays and the pause clock are read
// without EngineLock; a read may see a value from just before an update.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace zk {

// The numbers, by the reader that serves them. Ranges give their first and
// last number; i is the element index.
enum SystemVariable : uint32_t {
    // ---- integers ----
    kSysDateTime = 0,            // i 0..7 now, 8..15 start-up: year month day weekday hour minute second ms
    kSysTimer = 1,               // i 0 the millisecond clock, 1..4 pausable timer i
    kSysOsLevel = 2,
    kSysDirectXVersion = 3,
    kSysSoundOn = 4,
    kSysMemoryAvailable = 5,     // bytes, 32-bit (saturated)
    kSysMemoryLoad = 6,          // percent
    kSysMemoryTotal = 7,         // bytes, 32-bit (saturated)
    kSysFolderReadOnly = 9,
    kSysDebugSwitch = 11,
    kSysArgumentCount = 13,      // command-line words after the program, at most 8
    kSysFileNameCount = 15,      // writable: lowers the count
    kSysLoopCounter = 48,        // the current task's innermost open loop
    kSysConstant999 = 49,
    kSysReferenceInteger = 50,   // i a variable reference; writable
    kSysCallInteger = 53,        // integer argument i of the current call; writable
    kSysCallGiven = 56,          // argument i given as any kind
    kSysCallIntegerGiven = 57,   // 57, 58, 59: given as integer, real, text; i 0: the kind has slots
    kSysCallRealGiven = 58,
    kSysCallTextGiven = 59,
    kSysReturnInteger = 60,      // integer return value i
    kSysReturnGiven = 63,
    kSysReturnIntegerGiven = 64, // 64, 65, 66 as 57, 58, 59
    kSysReturnRealGiven = 65,
    kSysReturnTextGiven = 66,
    kSysTaskInteger = 67,        // integer parameter i (0..16) of the current task
    kSysReferenceType = 70,      // type of the variable a reference names
    kSysTableVersion = 108,      // 555
    kSysFrameCount = 109,
    kSysPassCount = 110,
    kSysTimer1 = 111,
    kSysSaveFolderMode = 112,
    kSysGpuPath = 113,
    kSysDisplayDepth = 114,
    kSysDisplayWidth = 115,
    kSysDisplayHeight = 116,
    kSysMaximizeRequest = 117,   // 117..120 writable (low byte)
    kSysMinimizeRequest = 118,
    kSysCloseRequest = 119,
    kSysCaptionDoubleClick = 120,
    kSysUserEntry10 = 121,
    kSysTableValue124 = 124,
    kSysRootTaskCount = 126,
    kSysMenuCommand = 132,       // writable
    kSysMouseX = 133,            // the main window; 134..137 windows 0..3
    kSysMouseX0 = 134,
    kSysMouseY = 138,            // the main window; 139..142 windows 0..3
    kSysMouseY0 = 139,
    kSysInputCounter = 144,      // the counter of input i (1..1023); writable
    kSysLastKey = 145,           // writable
    kSysLastMouseButton = 146,   // writable
    kSysKeyCounterFirst = 147,   // 147..275: counter of script key k = number - 147; writable
    kSysKeyCounterLast = 275,
    kSysJoystickCounterFirst = 276,  // 276..279: joystick i's four directions; writable
    kSysJoystickCounterLast = 279,
    kSysJoystickButtonCounter = 280, // i = 32 j + b; writable
    kSysKeyPressesFirst = 281,   // 281..409: press count of script key k = number - 281; writable
    kSysKeyPressesLast = 409,
    kSysJoystickPressesFirst = 410,  // 410..413; writable
    kSysJoystickPressesLast = 413,
    kSysJoystickButtonPresses = 414, // writable
    kSysKeyInputFirst = 415,     // 415..542: the input index of script key k = number - 415
    kSysKeyInputLast = 542,
    kSysJoystickInputFirst = 543,    // 543..546: the input index of joystick i's directions
    kSysJoystickInputLast = 546,
    kSysJoystickButtonInput = 547,

    // ---- reals ----
    kSysPi = 10,
    kSysReferenceReal = 51,      // writable
    kSysCallReal = 54,           // writable (operators 0..4)
    kSysReturnReal = 61,
    kSysTaskReal = 68,

    // ---- texts ----
    kSysArgumentWord = 12,       // command-line word i (0..8)
    kSysFileName = 14,           // name i of the file-name list
    kSysReferenceText = 52,      // writable
    kSysCallText = 55,
    kSysReturnText = 62,
    kSysTaskText = 69,
    kSysGameFolder = 103,        // folders end in '\'
    kSysProjectFolder = 104,
    kSysSaveFolder = 105,
    kSysAppDataFolder = 106,
    kSysDocumentsFolder = 107,
    kSysTextBufferText = 122,    // writable
    kSysTextBufferKinds = 123,   // writable
    kSysTaskName = 125,
    kSysCharacter = 127,         // the one-byte text of i's low 8 bits
    kSysLayerFolder = 128,       // writable, at most 255 bytes
    kSysSoundFolder = 129,
    kSysTaskFolder = 130,
    kSysMenuFolder = 131,        // writable, at most 255 bytes
};

// The readers. Numbers without a value read 0, 0.0 or the empty text.
int64_t ReadSystemIntegerVariable(uint32_t number, int64_t element);
double ReadSystemRealVariable(uint32_t number, int64_t element);
// Writes a NUL-terminated text into `out` (cut at a character boundary to
// fit) and returns its length.
size_t ReadSystemTextVariable(uint32_t number, std::span<char> out, int64_t element);

// The writes of the assignment command, with its operator (0..8). Each
// returns 0, or -1 after its report: 101150 for a read-only integer or text
// number, 108230 for a reference write to a variable of another type. A
// write to a read-only real number changes nothing and reports nothing.
int32_t WriteSystemIntegerVariable(uint32_t number, int64_t element, uint8_t op, int64_t value);
int32_t WriteSystemRealVariable(uint32_t number, int64_t element, uint8_t op, double value);
int32_t WriteSystemTextVariable(uint32_t number, int64_t element, std::string_view text);

// The input index behind a counter (144, 147..280) or press-count (281..414)
// number and element, as reading and writing use it; -1 when the number has
// no input or the element names none.
int64_t SystemVariableInput(uint32_t number, int64_t element);

// Installs the readers and writers above in the script machine.
void InstallSystemVariables();

}  // namespace zk

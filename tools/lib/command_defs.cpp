#include "tools/lib/command_defs.h"

#include <algorithm>
#include <stdexcept>

namespace zk::tools {

namespace {

constexpr uint8_t kNumber = 0;
constexpr uint8_t kText = 1;
constexpr uint8_t kRaw = 2;

KeywordDef Num(std::string name, uint8_t range = 0) { return {std::move(name), kNumber, range}; }
KeywordDef Txt(std::string name) { return {std::move(name), kText, 0}; }
KeywordDef Raw(std::string name) { return {std::move(name), kRaw, 0}; }

// `count` keywords named prefix1..prefixN of one value kind.
void Numbered(std::vector<KeywordDef>& keywords, std::string_view prefix, int count, uint8_t value_kind) {
    for (int i = 1; i <= count; ++i) keywords.push_back({std::string(prefix) + std::to_string(i), value_kind, 0});
}
// Keyword numbers nothing reads, so that the later ones keep their numbers.
void Unused(std::vector<KeywordDef>& keywords, int up_to) {
    while (static_cast<int>(keywords.size()) < up_to) keywords.push_back(Num("unused" + std::to_string(keywords.size())));
}

std::vector<CommandEntry> BuildEntries() {
    std::vector<CommandEntry> entries;
    auto add = [&](uint8_t code, std::string name, std::vector<KeywordDef> keywords) {
        entries.push_back({code, std::move(name), std::move(keywords)});
    };

    // No-operation slots.
    for (uint8_t code : {0, 9, 77, 80, 82, 83, 84}) add(code, "nop" + std::to_string(code), {});

    // 14: keyword k (3 and up) sets the switch of command k - 2.
    {
        std::vector<KeywordDef> keywords = {Num("k0"), Num("k1"), Num("k2")};
        Numbered(keywords, "sw", 121, kNumber);
        add(14, "switches", std::move(keywords));
    }
    add(15, "check15", {});

    // Layers. 1: create or change a layer; keywords 11..23, 49 and 55 are
    // read by nothing. Width and height take -1 for "not given". Opacity
    // takes up to 512 so that "opacity -= 300" can be written; the command
    // clamps what the operators make, and the compositor any set value.
    {
        std::vector<KeywordDef> keywords = {
            Txt("name"),        Num("no"),          Num("visible", 3),     Num("opacity", 14),
            Num("x"),           Num("y"),           Num("priority"),       Num("saturation", 12),
            Num("tone", 25),    Num("width"),       Num("height")};
        Unused(keywords, 24);
        for (KeywordDef keyword : {Num("texoption"), Num("texture"), Num("capture"), Num("draw"), Num("x100"),
                                   Num("y100"), Num("zoomx"), Num("zoomy")}) {
            keywords.push_back(std::move(keyword));  // 24..31
        }
        Numbered(keywords, "angle", 3, kNumber);  // 32..34
        Numbered(keywords, "place", 5, kNumber);  // 35..39
        for (KeywordDef keyword : {Num("saturation2", 12), Num("tone2", 25), Num("drawoption"), Txt("drawtext"),
                                   Num("drawlevel", 12), Num("keepblock", 3), Txt("file"), Txt("share"),
                                   Txt("masksource")}) {
            keywords.push_back(std::move(keyword));  // 40..48
        }
        Unused(keywords, 50);
        for (KeywordDef keyword : {Num("masklevel", 12), Txt("mask"), Num("maskno"), Num("softness"),
                                   Num("blend", 11)}) {
            keywords.push_back(std::move(keyword));  // 50..54
        }
        Unused(keywords, 56);
        keywords.push_back(Num("user1"));  // 56
        keywords.push_back(Num("user2"));  // 57
        add(1, "layer", std::move(keywords));
    }
    add(3, "dellayer", {Txt("name"), Num("no")});
    // 4: one property, child or pixel of a layer into the result (33); the
    // first selector present in the command's own order decides. 32 is a
    // child position, 34 and 35 a point or the bounding box's parameters.
    add(4, "layerinfo",
        {Txt("name"),   Num("no"),      Num("exists"),   Num("visible"),  Num("opacity"),   Num("x"),
         Num("y"),      Num("priority"), Num("unused8"), Num("masklevel"), Num("mask"),     Num("softness"),
         Num("blend"),  Num("width"),   Num("height"),   Num("zoomx"),    Num("zoomy"),     Num("place3"),
         Num("place4"), Num("place5"),  Num("texture"),  Num("colour"),   Num("alpha"),     Num("pixel"),
         Num("colourat"), Num("bounds"), Num("user1"),   Num("user2"),    Num("find"),      Num("children"),
         Num("childname"), Num("childgroup"), Num("n"),  Num("result"),   Num("px"),        Num("py")});
    // Frame sequences: 109 loads a file into a layer and/or shows a frame,
    // 110 releases it, 111 reads its count or one of its three values.
    add(109, "sequence", {Txt("name"), Num("no"), Txt("file"), Num("frame")});
    add(110, "delsequence", {Txt("name"), Num("no")});
    add(111, "sequenceinfo",
        {Txt("name"), Num("no"), Num("result"), Num("count"), Num("value1"), Num("value2"), Num("value3")});

    // Variables: the sized variable and its initial value are evaluated by
    // the handler; assignment reads both records itself.
    add(25, "real", {Raw("name"), Raw("value")});
    add(50, "int", {Raw("name"), Raw("value")});
    add(92, "str", {Raw("name"), Raw("value")});
    add(53, "let", {Raw("target"), Raw("value")});

    // Control flow.
    add(11, "elseif", {Raw("cond"), Raw("next")});
    add(42, "jump", {Raw("label")});
    {
        // Keyword 0 the label (its type byte may hold a folded label index,
        // so the call evaluates texts with the fixed text entry); 1..16
        // integers; 17..32 reals, evaluated by the call itself as reals;
        // 33..48 texts.
        std::vector<KeywordDef> keywords = {Txt("label")};
        Numbered(keywords, "i", 16, kNumber);
        Numbered(keywords, "r", 16, kRaw);
        Numbered(keywords, "s", 16, kText);
        add(43, "call", std::move(keywords));
    }
    add(44, "if", {Raw("cond"), Raw("next"), Raw("end")});
    add(45, "skip", {});
    add(46, "leave", {Num("n")});
    add(47, "restart", {Num("n")});
    add(48, "endif", {});
    add(52, "haslabel", {Txt("name"), Num("result"), Num("go")});
    add(55, "loop", {Raw("count"), Raw("end")});
    add(56, "break", {Num("n")});
    add(57, "continue", {Num("n")});
    add(58, "endloop", {});
    {
        // Integers 1..16 are keywords 0..15, reals 16..31, texts 32..47.
        std::vector<KeywordDef> keywords;
        Numbered(keywords, "i", 16, kNumber);
        Numbered(keywords, "r", 16, kRaw);
        Numbered(keywords, "s", 16, kText);
        add(79, "return", std::move(keywords));
    }
    add(104, "wait", {Num("frames"), Num("ms")});

    // Save data: 86 builds and writes blocks (file, memory row or 99999
    // for all rows, data number, a variable or element, a layer, and the
    // type-and-group selections), 54 loads one, 87 drops the pending ones.
    {
        std::vector<KeywordDef> keywords = {Txt("file"), Num("row"), Num("no"), Num("var"), Txt("layer"),
                                            Num("layerno")};
        Numbered(keywords, "int", 4, kNumber);   // 6..9
        Numbered(keywords, "real", 4, kNumber);  // 10..13
        Numbered(keywords, "str", 4, kNumber);   // 14..17
        add(86, "save", std::move(keywords));
    }
    add(54, "load", {Txt("file"), Num("row"), Num("no"), Num("var"), Txt("layer"), Num("layerno")});
    add(87, "discard", {});
    add(88, "nop88", {});

    // Input: keyboard polling, gamepad polling, mouse input (each 0 or 1).
    add(49, "input", {Num("keyboard"), Num("gamepad"), Num("mouse")});

    // The engine as a whole: end (and restart), frame rate, screen saver,
    // keep running while inactive, the four game timers (0 stop, 1 resume).
    add(13, "endprogram", {Num("restart")});
    add(28, "framerate", {Num("rate"), Num("skip")});
    add(51, "nop51", {});
    add(93, "engine", {Num("screensaver"), Num("keeprunning"), Num("width"), Num("height"), Num("timer1"),
                       Num("timer2"), Num("timer3"), Num("timer4")});

    // Windows: 105 configures window 0..3 (creating 1..3 on first use), 106
    // hides a sub window, 107 reads one property (the first given) into the
    // result.
    add(105, "window", {Num("no"),       Txt("title"),     Num("alpha"),      Num("shown"),      Num("x"),
                        Num("y"),        Num("zorder"),    Num("width"),      Num("height"),     Num("widthpx"),
                        Num("heightpx"), Num("foreground"), Num("maxbox"),    Num("screenmode"), Num("minimize"),
                        Num("maximize"), Num("maxallowed"), Num("minallowed"), Num("close"),     Num("flashcount"),
                        Num("flashinterval"), Txt("layerset"), Txt("menu"),   Txt("shape"),      Txt("drag"),
                        Num("resizable")});
    add(106, "hidewindow", {Num("no")});
    add(107, "windowinfo", {Num("no"),       Num("result"),   Num("exists"),       Num("alpha"),
                            Num("shown"),    Num("active"),   Num("title"),        Num("x"),
                            Num("y"),        Num("unused9"),  Num("width"),        Num("height"),
                            Num("clientwidth"), Num("clientheight"), Num("device"), Num("fullscreen"),
                            Num("maximized"), Num("minimized")});

    // Image operations. 2: a target layer and up to three others, values,
    // a rectangle, and the mode keywords 24..70 (the first present runs).
    {
        std::vector<KeywordDef> keywords = {Txt("name"),  Txt("other"),   Txt("other2"),  Txt("other3"),
                                            Num("no"),    Num("otherno"), Num("other2no"), Num("other3no"),
                                            Num("unused8"), Raw("value"), Raw("value2"),  Txt("text"),
                                            Num("x1"),    Num("y1"),      Num("x2"),      Num("y2"),
                                            Num("width"), Num("height"),  Num("x1_100"),  Num("y1_100"),
                                            Num("x2_100"), Num("y2_100"), Num("width100"), Num("height100")};
        for (const char* mode : {"scale",     "scale20",  "scale30",   "scale40",   "scale50",    "rotate",
                                 "rotatesmooth", "saturation", "tone",  "sepia",     "draw",       "drawopacity",
                                 "mix",       "nop37",    "keepdiff",  "keepequal", "trim",       "canvas",
                                 "brightness", "threshold", "flip",    "mirror",    "mosaic",     "blur1",
                                 "blur2",     "blur3",    "blur4",     "blur5",     "blur6",      "shuffle",
                                 "wave1",     "wave2",    "wave3",     "negative",  "fill1",      "fill2",
                                 "fill3",     "fade",     "swirl",     "slot",      "drawtext",   "copyattr",
                                 "copy",      "swap",     "swapattr",  "pastesprite", "capture"}) {
            keywords.push_back(Num(mode));  // 24..70
        }
        add(2, "editcg", std::move(keywords));
    }

    // Text style: 26 sets a slot's style, 27 reads it (or the font list,
    // or the size of a character) into the result.
    add(26, "textstyle", {Num("slot"), Num("font"), Txt("face"), Num("smooth"), Num("colour"), Num("colour2"),
                          Num("gradient"), Num("orientation"), Num("mode"), Num("size"), Num("height"),
                          Num("bold")});
    add(27, "textinfo", {Num("font"), Num("name"), Num("smooth"), Num("colour"), Num("colour2"), Num("gradient"),
                         Num("orientation"), Num("mode"), Num("size"), Num("height"), Num("bold"), Num("count"),
                         Num("zero"), Num("japanese"), Num("width"), Num("charheight"), Num("unused16"),
                         Txt("text"), Num("result")});

    // 12: the model player of a model layer. Keywords 15 and 16 name a text
    // array of labels and a real array of values; 17 how many pairs.
    add(12, "emote", {Txt("name"),   Num("no"),     Num("value1"), Num("value2"), Num("value3"), Num("five"),
                      Num("five1"),  Num("five2"),  Num("five3"),  Num("five4"),  Num("five5"),  Num("action"),
                      Txt("text"),   Num("textmode"), Num("time"), Num("labels"), Num("values"), Num("count")});

    // The message text buffer: 81 closes the message, 108 appends the
    // line's own text as written, 112 appends a value.
    add(81, "endmsg", {});
    add(108, "msg", {Raw("text")});
    add(112, "msgvalue", {Raw("value")});
    // Sound: 89 controls a channel or group (a path ending in '/' is a
    // group), 90 deletes one, 91 answers one question into keyword 23.
    add(89, "sound", {Txt("name"), Num("audible"), Txt("file"), Num("play"), Num("pause"), Num("fade"),
                      Num("start"), Num("loopstart"), Num("end"), Num("loop"), Num("volume"), Num("pan"),
                      Num("speed"), Num("sync")});
    add(90, "delsound", {Txt("name")});
    add(91, "soundinfo", {Txt("name"),      Num("loaded"),   Num("audible"),   Num("playing"),  Num("paused"),
                          Num("volume"),    Num("pan"),      Num("speed"),     Num("file"),     Num("format"),
                          Num("start"),     Num("loopstart"), Num("end"),      Num("loop"),     Num("plays"),
                          Num("position"),  Num("length"),   Num("channels"),  Num("bits"),     Num("rate"),
                          Num("peakleft"),  Num("peakright"), Num("datakind"), Num("result")});

    // Movies. 70 plays a movie in the window, 71 stops it, 72 answers one
    // question into keyword 7; 73 plays a Theora movie into a layer, 74 stops
    // it, 75 answers one question into keyword 6, 76 only decodes; 22..24
    // open, close and query a Flash movie.
    add(70, "movie", {Txt("file"), Num("play"), Num("x"), Num("y"), Num("w"), Num("h"), Num("volume")});
    add(71, "stopmovie", {});
    add(72, "movieinfo", {Num("playing"), Num("x"), Num("y"), Num("w"), Num("h"), Num("volume"), Txt("probe"),
                          Num("result")});
    add(73, "layermovie", {Txt("name"), Num("no"), Txt("file"), Num("unused3"), Num("w"), Num("h")});
    add(74, "stoplayermovie", {});
    add(75, "layermovieinfo", {Num("playing"), Num("sample"), Num("height"), Num("volume"), Txt("probe"),
                               Num("unused5"), Num("result")});
    add(76, "layermovie76", {Num("value")});
    add(22, "flash", {Txt("file"), Num("open"), Num("x"), Num("y"), Num("w"), Num("h"), Num("value")});
    add(23, "closeflash", {});
    add(24, "flashinfo", {Num("playing"), Num("variable"), Num("x"), Num("y"), Num("w"), Num("h"), Num("frame"),
                          Num("value"), Num("frames"), Num("result")});

    // Tasks.
    {
        std::vector<KeywordDef> keywords = {Txt("name"), Num("enable_a"), Num("enable_b"), Num("order")};
        Numbered(keywords, "i", 10, kNumber);  // 4..13
        Numbered(keywords, "r", 10, kNumber);  // 14..23, integer values made real
        Unused(keywords, 34);
        keywords.push_back(Txt("label"));     // 34
        keywords.push_back(Txt("position"));  // 35
        Unused(keywords, 37);
        keywords.push_back(Num("rerun"));     // 37
        add(95, "task", std::move(keywords));
    }
    add(96, "endtask", {Txt("name")});
    {
        std::vector<KeywordDef> keywords = {Txt("name"),       Num("result"),      Num("exists"),     Num("enable_a"),
                                            Num("enable_b"),   Num("order"),       Num("file"),       Num("fileno"),
                                            Num("line"),       Num("caller_file"), Num("caller_fileno"),
                                            Num("caller_line"), Num("tag"),        Num("taglen")};
        Unused(keywords, 16);
        keywords.push_back(Num("blocks"));    // 16
        keywords.push_back(Num("calls"));     // 17
        keywords.push_back(Num("loops"));     // 18
        keywords.push_back(Num("position"));  // 19
        add(97, "taskinfo", std::move(keywords));
    }

    // Values and variables. 60: the result, two operands the command
    // evaluates itself, a text, then one flag per option (4..22).
    add(60, "math", {Num("result"), Raw("x"),     Raw("y"),     Txt("text"),   Num("sin"),    Num("asin"),
                     Num("sinh"),   Num("cos"),   Num("acos"),  Num("cosh"),   Num("tan"),    Num("atan"),
                     Num("atan2"),  Num("tanh"),  Num("real"),  Num("abs"),    Num("exp"),    Num("log"),
                     Num("log10"),  Num("pow"),   Num("random"), Num("crc"),   Num("eval")});
    add(61, "position", {Num("ints"), Num("reals")});
    add(94, "fileinfo", {Num("name"), Num("count"), Num("value"), Num("model"), Num("n"), Num("result")});
    {
        std::vector<KeywordDef> keywords = {Num("source"), Num("dest"),     Num("remove"),   Num("substr"),
                                            Num("start"),  Num("count"),    Num("number"),   Num("upper"),
                                            Num("upper932"), Num("lower"),  Num("lower932"), Num("full"),
                                            Num("half"),   Num("resize"),   Num("insert"),   Num("delete"),
                                            Num("reset")};
        Numbered(keywords, "int", 4, kNumber);   // 17..20
        Numbered(keywords, "real", 4, kNumber);  // 21..24
        Numbered(keywords, "str", 4, kNumber);   // 25..28
        add(102, "convert", std::move(keywords));
    }
    {
        std::vector<KeywordDef> keywords = {Num("subject"), Num("result"), Num("type"), Num("width"), Num("dims")};
        Numbered(keywords, "size", 8, kNumber);  // 5..12
        for (KeywordDef keyword : {Num("length"), Num("find"), Num("lowest"), Num("code"), Num("findint"),
                                   Num("findreal"), Txt("findstr"), Num("start"), Num("end")}) {
            keywords.push_back(std::move(keyword));  // 13..21
        }
        add(103, "varinfo", std::move(keywords));
    }

    // Text and CSV files.
    add(7, "readcsv", {Txt("file"), Num("into")});
    add(8, "countcsv", {Txt("file"), Num("unused1"), Num("result")});
    add(98, "readlines", {Txt("file"), Num("into"), Num("clear")});
    add(99, "check99", {});

    // System services. 20: folders, copies, deletes, open or run, layer
    // export and preloads; 21: one question about a folder, file, image or
    // sound; 78: a registry value; 116: the numbered system functions.
    add(20, "fileop", {Txt("path"), Txt("dest"), Txt("folder"), Num("mkdir"), Num("copy"), Num("delete"),
                       Num("open"), Num("run"), Txt("params"), Num("quality"), Txt("layer"), Num("layerno"),
                       Num("format"), Num("png"), Num("jpeg"), Num("webp"), Num("image"), Num("sound")});
    add(21, "filequery", {Txt("folder"), Txt("file"), Txt("image"), Txt("sound"), Num("exists"), Num("size"),
                          Num("program"), Num("result")});
    add(78, "regread", {Txt("key"), Txt("value"), Num("result")});
    {
        std::vector<KeywordDef> keywords = {Num("code"), Num("result")};
        Numbered(keywords, "int", 4, kNumber);  // 2..5
        Unused(keywords, 22);
        Numbered(keywords, "text", 3, kText);   // 22..24
        add(116, "system", std::move(keywords));
    }

    // Menus. 62: define or change an item of the menu tree; 63: a popup
    // menu of a group; 64: delete an item or a group; 65: one question
    // about an item (the first given of exists, shown, enabled, order,
    // checked, id, caption); 66-68 and 101 only check their arguments.
    // 100: the tray icon.
    add(62, "menuitem", {Txt("path"), Txt("caption"), Num("order"), Num("shown"), Num("enabled"), Num("checked"),
                         Num("id")});
    add(63, "popupmenu", {Txt("menu"), Num("show")});
    add(64, "delmenuitem", {Txt("path")});
    add(65, "menuinfo", {Num("result"), Txt("path"), Num("caption"), Num("exists"), Num("order"), Num("shown"),
                         Num("enabled"), Num("checked"), Num("id")});
    for (uint8_t code : {66, 67, 68, 101}) add(code, "check" + std::to_string(code), {});
    add(100, "tray", {Num("show"), Txt("tip"), Txt("icon"), Txt("menu")});

    // The player's dialogs, the clipboard and the cursor. 10: a message box
    // (13, 14, 15 choose the buttons) or, with 16, an input box; 20 skips
    // the command. 69: the cursor's mode, hiding, position and shape.
    {
        std::vector<KeywordDef> keywords = {Txt("caption"), Txt("text")};
        Unused(keywords, 9);
        for (KeywordDef keyword : {Txt("initial"), Num("textresult"), Num("result"), Num("unused12"),
                                   Num("okcancel"), Num("yesno"), Num("yesnocancel"), Num("input"), Num("limit"),
                                   Num("default"), Num("icon"), Num("skip"), Num("unused21"), Num("unused22")}) {
            keywords.push_back(std::move(keyword));  // 9..22
        }
        add(10, "msgbox", std::move(keywords));
    }
    add(5, "copyclip", {Num("flag"), Txt("text")});
    add(6, "pasteclip", {Num("flag"), Num("result")});
    add(69, "cursor", {Num("mode"), Num("delay"), Num("wake1"), Num("wake2"), Num("wake3"), Num("x"), Num("y"),
                       Num("shape"), Num("hotx"), Num("hoty"), Txt("layer")});

    std::sort(entries.begin(), entries.end(), [](const CommandEntry& a, const CommandEntry& b) { return a.code < b.code; });
    return entries;
}

}  // namespace

const std::vector<CommandEntry>& CommandEntries() {
    static const std::vector<CommandEntry> entries = BuildEntries();
    return entries;
}

const CommandEntry* FindCommandEntry(uint8_t code) {
    for (const CommandEntry& entry : CommandEntries()) {
        if (entry.code == code) return &entry;
    }
    return nullptr;
}

const CommandEntry* FindCommandEntry(std::string_view name) {
    for (const CommandEntry& entry : CommandEntries()) {
        if (entry.name == name) return &entry;
    }
    return nullptr;
}

int KeywordNumber(const CommandEntry& command, std::string_view keyword) {
    for (size_t k = 0; k < command.keywords.size(); ++k) {
        if (command.keywords[k].name == keyword) return static_cast<int>(k);
    }
    return -1;
}

uint8_t CommandCode(std::string_view command) {
    const CommandEntry* entry = FindCommandEntry(command);
    if (entry == nullptr) throw std::invalid_argument("no command " + std::string(command));
    return entry->code;
}

uint8_t Keyword(std::string_view command, std::string_view keyword) {
    const CommandEntry* entry = FindCommandEntry(command);
    if (entry == nullptr) throw std::invalid_argument("no command " + std::string(command));
    int k = KeywordNumber(*entry, keyword);
    if (k < 0) throw std::invalid_argument("no keyword " + std::string(keyword) + " in " + std::string(command));
    return static_cast<uint8_t>(k);
}

ZkcFile EngineCommandDefinitions() {
    ZkcFile file;
    for (int code = 0; code <= 120; ++code) {
        const CommandEntry* entry = FindCommandEntry(static_cast<uint8_t>(code));
        CommandDef command;
        command.name = entry != nullptr ? entry->name : "cmd" + std::to_string(code);
        if (entry != nullptr) command.keywords = entry->keywords;
        file.commands.push_back(std::move(command));
    }
    for (size_t n = 0; n < file.errno_texts.size(); ++n) file.errno_texts[n] = "errno " + std::to_string(n);
    for (size_t k = 0; k < file.key_number_map.size(); ++k) file.key_number_map[k] = static_cast<uint8_t>(k);
    return file;
}

}  // namespace zk::tools

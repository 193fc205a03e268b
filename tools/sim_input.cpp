#include "sim_input.h"

#include <algorithm>
#include <cstdio>

#include "framework/messages.h"
#include "framework/window.h"
#include "resources/translations.h"

bool ParseDecimal(const std::string& text, int64_t low, int64_t high, int64_t* out)
{
    size_t at = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) at = 1;
    if (at == text.size()) return false;
    uint64_t value = 0;
    for (; at < text.size(); ++at) {
        if (text[at] < '0' || text[at] > '9') return false;
        value = value * 10 + static_cast<uint64_t>(text[at] - '0');
        if (value > (uint64_t{1} << 62)) return false;
    }
    const int64_t signedValue = negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value);
    if (signedValue < low || signedValue > high) return false;
    *out = signedValue;
    return true;
}

bool ParseSimOptions(int argc, char** argv, SimOptions* options, std::string* error)
{
    SimOptions& o = *options;
    // What the desktop program takes too (--help, --version, --, the
    // scenes, what is refused) is read as it reads it.
    CommandLineRules rules;
    rules.dataHome = false;
    for (const char* name : {"--frames", "--seed", "--png", "--events", "--replay", "--gif", "--gif-every", "--gif-frames", "--language"})
        rules.own.push_back({name, true});
    for (const char* name : {"--bench", "--real-time", "--no-journal", "--menu"}) rules.own.push_back({name, false});
    CommandLine line;
    if (!ParseCommandLine(std::vector<std::string>(argv + std::min(argc, 1), argv + argc), rules, &line, error))
        return false;
    o.help = line.help;
    o.version = line.version;
    o.scene = line.scenes;
    for (const auto& [arg, value] : line.own) {
        int64_t number = 0;
        o.given.push_back(arg);
        if (arg == "--frames") {
            if (!ParseDecimal(value, 1, INT32_MAX, &number)) {
                *error = "--frames takes a whole number from 1";
                return false;
            }
            o.frames = number;
        } else if (arg == "--seed") {
            if (!ParseDecimal(value, 0, UINT32_MAX, &number)) {
                *error = "--seed takes a number from 0 to 4294967295";
                return false;
            }
            o.haveSeed = true;
            o.seed = static_cast<uint32_t>(number);
        } else if (arg == "--png") {
            o.png = value;
        } else if (arg == "--events") {
            o.events = value;
        } else if (arg == "--bench") {
            o.bench = true;
        } else if (arg == "--real-time") {
            o.realTime = true;
        } else if (arg == "--no-journal") {
            o.noJournal = true;
        } else if (arg == "--replay") {
            o.replay = value;
        } else if (arg == "--gif") {
            o.gif = value;
        } else if (arg == "--gif-every") {
            if (!ParseDecimal(value, 1, INT32_MAX, &number)) {
                *error = "--gif-every takes a whole number from 1";
                return false;
            }
            o.gifEvery = static_cast<uint64_t>(number);
        } else if (arg == "--gif-frames") {
            const size_t colon = value.find(':');
            int64_t from = 0, to = INT64_MAX;
            if (colon == std::string::npos || (colon > 0 && !ParseDecimal(value.substr(0, colon), 0, INT64_MAX, &from)) ||
                (colon + 1 < value.size() && !ParseDecimal(value.substr(colon + 1), 0, INT64_MAX, &to)) || from > to) {
                *error = "--gif-frames takes A:B, the first and the last frame (either may be left out)";
                return false;
            }
            o.gifFrom = static_cast<uint64_t>(from);
            o.gifTo = static_cast<uint64_t>(to);
        } else if (arg == "--menu") {
            o.menu = true;
        } else if (arg == "--language") {
            if (value != "en" && !CatalogueFor(value.c_str())) {
                *error = "--language takes a language Talvo has texts in: de, es, fr, ja, zh_CN or en";
                return false;
            }
            o.language = value;
        }
    }
    if (o.help || o.version) return true;
    const auto given = [&o](const char* name) { return std::find(o.given.begin(), o.given.end(), name) != o.given.end(); };
    if (o.gif.empty() && (given("--gif-every") || given("--gif-frames"))) {
        *error = "--gif-every and --gif-frames need --gif";
        return false;
    }
    if (o.replay.empty()) {
        if (o.noJournal && !o.realTime) {
            *error = "--no-journal goes with --real-time: a run in simulated time keeps no journal";
            return false;
        }
        return true;
    }
    // A replay's frames, input and times are the recorded session's.
    for (const char* name : {"--frames", "--seed", "--real-time", "--no-journal", "--events"})
        if (given(name)) {
            *error = std::string("--replay plays a recorded session: it takes no ") + name;
            return false;
        }
    if (o.scene.size() > 1) {
        *error = "--replay saves to one scene at most";
        return false;
    }
    return true;
}

namespace {

// Splits at spaces and tabs; a word that begins with # ends the line.
std::vector<std::string> Words(const std::string& line)
{
    std::vector<std::string> words;
    size_t at = line.find_first_not_of(" \t");
    while (at != std::string::npos && line[at] != '#') {
        const size_t end = line.find_first_of(" \t", at);
        words.push_back(line.substr(at, end == std::string::npos ? std::string::npos : end - at));
        at = end == std::string::npos ? end : line.find_first_not_of(" \t", end);
    }
    return words;
}

// The rest of the line from `at`, spaces included, up to a # that follows a
// space or tab.
std::string RestOfLine(const std::string& line, size_t at)
{
    std::string rest = line.substr(at);
    for (size_t i = 1; i < rest.size(); ++i)
        if (rest[i] == '#' && (rest[i - 1] == ' ' || rest[i - 1] == '\t')) {
            const size_t end = rest.find_last_not_of(" \t", i - 1);
            return rest.substr(0, end == std::string::npos ? 0 : end + 1);
        }
    return rest;
}

} // namespace

bool ParseSimEvents(const std::string& text, std::vector<HeadlessEvent>* events, std::string* error)
{
    int64_t lastFrame = 1;
    uint32_t buttons = 0;
    int lineNumber = 0;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::vector<std::string> words = Words(line);
        if (words.empty()) continue;
        std::string why;
        auto bad = [&](const std::string& reason) {
            *error = std::to_string(lineNumber) + ": " + reason + ": " + QuoteText(line);
            return false;
        };
        if (words.size() < 2) return bad("expected FRAME EVENT ARGS");
        int64_t frame = 0;
        if (!ParseDecimal(words[0], 1, INT32_MAX, &frame)) return bad("the frame must be a whole number from 1");
        if (frame < lastFrame) return bad("frames must not go back");
        lastFrame = frame;
        const std::string& name = words[1];
        auto argsAre = [&](size_t count) {
            if (words.size() == count + 2) return true;
            why = name + " takes " + std::to_string(count) + " argument(s)";
            return false;
        };
        auto number = [&](size_t index, int64_t low, int64_t high, int64_t* value) {
            if (ParseDecimal(words[index], low, high, value)) return true;
            why = "bad number " + QuoteText(words[index], 40);
            return false;
        };
        HeadlessEvent event{frame, HeadlessEvent::Post, 0, 0, 0, {}};
        const struct {
            const char* name;
            uint32_t message;
            uint32_t setButtons;
            uint32_t clearButtons;
        } mouse[] = {
            {"lbuttondown", WmLButtonDown, 1, 0}, {"lbuttonup", WmLButtonUp, 0, 1},
            {"rbuttondown", WmRButtonDown, 2, 0}, {"rbuttonup", WmRButtonUp, 0, 2},
            {"mousemove", WmMouseMove, 0, 0},
        };
        bool known = false, ok = true;
        int64_t a = 0, b = 0;
        // Shift and Ctrl held with a mouse message or a key, and "keyboard"
        // for a mouse message the keyboard's pen made: words after it.
        uint32_t held = 0;
        auto modifiers = [&](size_t from) {
            for (size_t i = from; i < words.size(); ++i) {
                if (words[i] == "shift") {
                    held |= MkShift;
                } else if (words[i] == "ctrl") {
                    held |= MkControl;
                } else if (words[i] == "keyboard") {
                    held |= MkKeyboard;
                } else {
                    why = "unknown modifier " + QuoteText(words[i], 40);
                    return false;
                }
            }
            return true;
        };
        auto argsFrom = [&](size_t count) {
            if (words.size() < count + 2) return argsAre(count);
            return modifiers(count + 2);
        };
        for (const auto& m : mouse) {
            if (name != m.name) continue;
            known = true;
            ok = argsFrom(2) && number(2, -32768, 65535, &a) && number(3, -32768, 65535, &b);
            buttons = (buttons | m.setButtons) & ~m.clearButtons;
            event.message = m.message;
            event.wParam = buttons | held;
            event.lParam = PackPoint(static_cast<int32_t>(a), static_cast<int32_t>(b));
        }
        if (known) {
        } else if (name == "command") {
            ok = argsAre(1) && number(2, 0, UINT32_MAX, &a);
            event.message = WmSysCommand;
            event.wParam = static_cast<uint32_t>(a);
        } else if (name == "key" || name == "keyup") {
            ok = argsFrom(1) && number(2, 0, 255, &a);
            event.message = name == "key" ? WmKeyDown : WmKeyUp;
            event.wParam = static_cast<uint32_t>(a);
            event.lParam = static_cast<int32_t>(held);
        } else if (name == "char") {
            ok = argsAre(1);
            event.message = WmChar;
            if (ok && words[2].size() == 1 && !(words[2][0] >= '0' && words[2][0] <= '9')) {
                event.wParam = static_cast<unsigned char>(words[2][0]);
            } else if (ok) {
                ok = number(2, 0, 255, &a);
                event.wParam = static_cast<uint32_t>(a);
            }
        } else if (name == "drop") {
            ok = words.size() >= 3;
            if (!ok) why = "drop takes a path";
            event.kind = HeadlessEvent::Drop;
            // The path is the rest of the line, spaces included.
            const size_t nameAt = line.find(name, line.find_first_not_of(" \t") + words[0].size());
            if (ok) event.path = RestOfLine(line, line.find(words[2], nameAt + name.size()));
        } else if (name == "close") {
            ok = argsAre(0);
            event.kind = HeadlessEvent::Close;
        } else {
            why = "unknown event " + QuoteText(name, 40);
            ok = false;
        }
        if (!ok) return bad(why);
        events->push_back(event);
    }
    return true;
}

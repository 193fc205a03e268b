#include "ui/key_list.h"

#include "framework/strings.h"
#include "framework/window.h"

const char KeyListCaption[] = N_("Keys");

namespace {

// Every text of the list, in one table. "{Z}" stands for the key whose
// Latin letter is Z, named as the layout labels it.
struct KeyListLine {
    const char* keys;
    const char* does;
};
const KeyListLine KeyListLines[] = {
    {N_("Left button"), N_("draw walls with the pen")},
    {N_("Right button"), N_("erase walls with the eraser")},
    {N_("Shift + a button"), N_("a straight wall (or erasing) from the last stroke to the release")},
    {N_("Ctrl + a button"), N_("a box's outline (the right button: its inside cleared)")},
    {N_("Ctrl+Shift + a button"), N_("a filled box")},
    {N_("Ctrl+{Z}"), N_("undo the last stroke of the pen or eraser, or Clear")},
    {N_("Ctrl+{Y}, Ctrl+Shift+{Z}"), N_("redo what was undone")},
    {N_("Ctrl+{C}"), N_("copy the field, as shown, to the clipboard as a picture")},
    {N_("{P}"), N_("save a PNG picture of the field")},
    {N_("{G}"), N_("save an animated GIF of the last minute of play")},
    {N_(". (period)"), N_("at Stop, run one frame; at any other speed, stop")},
    {N_("Ctrl+plus, Ctrl+minus"), N_("show the field one whole step larger, smaller (1x to 4x)")},
    {N_("Ctrl+0"), N_("show the field at 1x")},
    {N_("Arrow keys (Shift: ten cells)"), N_("move the keyboard's cell cursor over the field")},
    {N_("Space, Delete held"), N_("draw, erase at the keyboard's cursor as the arrows move it")},
    {N_("F1"), N_("this list of the keys")},
};

// The key of `letter` as the layout labels it: its label, the Latin letter
// beside it in brackets where the two differ. A label that is no printable
// text (a control character, a tab) is not shown.
std::string LetterKey(char letter, KeyLabelLookup lookup)
{
    const std::string latin(1, letter);
    if (!lookup) return latin;
    char buffer[32] = "";
    const int32_t length = lookup(static_cast<uint8_t>(letter), buffer, sizeof buffer);
    if (length <= 0 || length >= static_cast<int32_t>(sizeof buffer)) return latin;
    std::string label(buffer, static_cast<size_t>(length));
    for (char& c : label) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return latin;
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    if (label == latin) return latin;
    return label + " (" + latin + ")";
}

} // namespace

std::string KeyListText(KeyLabelLookup lookup)
{
    std::string text;
    for (const KeyListLine& line : KeyListLines) {
        for (const char* at = Translated(line.keys); *at; ++at) {
            if (at[0] == '{' && at[1] >= 'A' && at[1] <= 'Z' && at[2] == '}') {
                text += LetterKey(at[1], lookup);
                at += 2;
            } else {
                text += *at;
            }
        }
        text += '\t';
        text += Translated(line.does);
        text += '\n';
    }
    return text;
}

void ShowKeyList() { ShowKeysList(KeyListText(KeyLabel).c_str(), Translated(KeyListCaption)); }

int32_t OnCommand(WindowHandle window, uint32_t, uint32_t wParam, int32_t)
{
    if (window == MainWindow && wParam == IdKeys) ShowKeyList();
    return 0;
}

#include "framework/window_menu.h"

#include <vector>

#include "framework/platform.h"

namespace {

struct MenuItem {
    uint32_t kind;
    uint32_t id;
    int32_t popup; // menu number, or -1
    std::string text;
    bool checked;
};

// Menu 0 is the window's; a MenuHandle is its number + 1.
std::vector<std::vector<MenuItem>> Menus(1);

int32_t NumberOf(MenuHandle menu)
{
    const uintptr_t number = reinterpret_cast<uintptr_t>(menu);
    return number == 0 || number > Menus.size() ? -1 : static_cast<int32_t>(number - 1);
}

MenuHandle HandleOf(size_t number) { return reinterpret_cast<MenuHandle>(number + 1); }

// The first item with that id, depth first, as Windows finds it by command.
bool Find(int32_t menu, uint32_t id, int32_t* foundMenu, int32_t* position, int depth = 0)
{
    if (menu < 0 || depth > 8) return false;
    const std::vector<MenuItem>& items = Menus[static_cast<size_t>(menu)];
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i].kind == MfPopup) {
            if (Find(items[i].popup, id, foundMenu, position, depth + 1)) return true;
        } else if (items[i].kind == MfString && items[i].id == id) {
            *foundMenu = menu;
            *position = static_cast<int32_t>(i);
            return true;
        }
    }
    return false;
}

void Describe(std::string& out, int32_t menu, int depth)
{
    const std::string indent(static_cast<size_t>(depth) * 2, ' ');
    for (const MenuItem& item : Menus[static_cast<size_t>(menu)]) {
        if (item.kind == MfSeparator) {
            out += indent + "----\n";
        } else if (item.kind == MfPopup) {
            out += indent + item.text + " >\n";
            if (depth < 8) Describe(out, item.popup, depth + 1);
        } else {
            out += indent + (item.checked ? "[x] " : "[ ] ") + std::to_string(item.id) + " " + item.text + "\n";
        }
    }
}

} // namespace

void WindowMenuReset() { Menus.assign(1, {}); }

MenuHandle WindowMenu() { return HandleOf(0); }

MenuHandle MenuCreate()
{
    Menus.emplace_back();
    return HandleOf(Menus.size() - 1);
}

void MenuAppend(MenuHandle menu, uint32_t flags, uintptr_t idOrPopup, const char* text)
{
    const int32_t number = NumberOf(menu);
    if (number < 0) return;
    MenuItem item{MfString, 0, -1, text ? text : "", false};
    if (flags & MfSeparator) {
        item.kind = MfSeparator;
        item.text.clear();
    } else if (flags & MfPopup) {
        item.kind = MfPopup;
        item.popup = NumberOf(reinterpret_cast<MenuHandle>(idOrPopup));
        if (item.popup < 0 || item.popup == number) return;
    } else {
        item.id = static_cast<uint32_t>(idOrPopup);
    }
    Menus[static_cast<size_t>(number)].push_back(item);
    PlatformMenuAdd(number, item.kind, item.id, item.popup, item.text.c_str());
}

void MenuCheck(uint32_t id, uint32_t flags)
{
    int32_t menu = -1, position = -1;
    if (!Find(0, id, &menu, &position)) return;
    const bool marked = (flags & MfChecked) != 0;
    Menus[static_cast<size_t>(menu)][static_cast<size_t>(position)].checked = marked;
    PlatformMenuMark(menu, position, id, marked);
}

int32_t MenuChecked(uint32_t id)
{
    int32_t menu = -1, position = -1;
    if (!Find(0, id, &menu, &position)) return -1;
    return Menus[static_cast<size_t>(menu)][static_cast<size_t>(position)].checked ? 1 : 0;
}

std::string MenuText()
{
    std::string out;
    Describe(out, 0, 0);
    return out;
}

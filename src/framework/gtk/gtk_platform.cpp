// The desktop window on GTK 3: a header bar with the menu button above a
// drawing area that shows the surface unscaled. Input becomes messages in
// the shared queue (framework/queue); the program's waits block in GTK's
// main loop.
#include <glib-unix.h>
#include <libintl.h>
#include <gtk/gtk.h>
#include <pango/pangocairo.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "framework/end_signals.h"
#include "framework/gtk/gtk.h"
#include "framework/platform.h"
#include "framework/queue/message_queue.h"
#include "framework/raster.h"
#include "framework/save_file.h"
#include "framework/strings.h"
#include "resources/about.h"
#include "resources/string_table.h"

namespace {

// The field's size: the player's choice (1 to 4), the window's device
// pixels to a logical one (GDK_SCALE, whole), and the device pixels a cell
// takes, the desktop's whole scale times the choice.
struct ZoomState {
    int32_t choice = 1;
    int32_t scale = 1;
    int32_t cell = 1;
    GtkWidget* button = nullptr;
    GtkWidget* items[4] = {};
};

// The window and everything GTK gave it, in one place.
struct GtkState {
    GtkWidget* Window = nullptr;
    GtkWidget* Area = nullptr;
    GtkWidget* MenuButton = nullptr;

    int32_t SurfaceColumns = 0;
    int32_t SurfaceRows = 0;
    std::vector<uint8_t> Surface;
    uint8_t Colours[256][4] = {};
    // Turned from the surface when GTK paints, at the display's pace: a present
    // only asks for a paint, and a paint of an uncovered window shows the
    // surface as it is, as a repaint does on Windows.
    cairo_surface_t* Picture = nullptr;
    bool DrawQueued = false;

    // The window's menus by the framework's number (0: the window's own) and,
    // for each, the program's items in order.
    std::vector<GtkWidget*> Menus;
    std::vector<std::vector<GtkWidget*>> MenuItems;

    GtkWidget* AboutBox = nullptr;
    // The list of the keys on show: a dialog of its own beside the window,
    // which neither holds the window nor stops the frames.
    GtkWidget* KeysBox = nullptr;
    // The keymap's group in force (the layout the player types with), as the
    // display or else the last key event told it.
    guint KeyGroup = 0;
    // The note below the field, and its text.
    GtkWidget* NoteBar = nullptr;
    GtkWidget* NoteText = nullptr;
    // The error box on show, closed when the session ends; the save dialog
    // likewise.
    GtkWidget* ErrorBox = nullptr;
    GtkFileChooserNative* SaveDialog = nullptr;
    // The progress of the program's long work, below the field, and its parts.
    GtkWidget* ProgressBar = nullptr;
    GtkWidget* ProgressText = nullptr;
    GtkWidget* ProgressFill = nullptr;
    // The header bar's buttons by the character they post, and those the
    // program has greyed out (kept from before the buttons are made).
    GtkWidget* KeyButtons[32] = {};
    bool KeyButtonsOff[32] = {};
    // The display connection is gone: nothing may touch GTK any more.
    bool DisplayLost = false;
    ZoomState Zoom;
    // What the window shows over the surface (PlatformSetOverlay).
    std::vector<int32_t> OverlayAt;
    std::vector<uint8_t> OverlayBytes;
};

GtkState G;

// Ended with this status when the display connection is lost, as GTK
// programs are.
constexpr int DisplayLostStatus = 1;

uint32_t ButtonBits(guint state)
{
    uint32_t bits = 0;
    if (state & GDK_BUTTON1_MASK) bits |= MkLButton;
    if (state & GDK_BUTTON3_MASK) bits |= MkRButton;
    if (state & GDK_SHIFT_MASK) bits |= MkShift;
    if (state & GDK_CONTROL_MASK) bits |= MkControl;
    return bits;
}

// GTK reports logical coordinates, as fractions under some scales: the
// cell under a point is that of its device pixel.
int32_t Whole(double v)
{
    return static_cast<int32_t>(std::floor(v * G.Zoom.scale / G.Zoom.cell));
}

gboolean OnButton(GtkWidget*, GdkEventButton* event, gpointer)
{
    // A double click comes as two presses already; GTK adds a third event.
    if (event->type != GDK_BUTTON_PRESS && event->type != GDK_BUTTON_RELEASE) return TRUE;
    if (event->button != GDK_BUTTON_PRIMARY && event->button != GDK_BUTTON_SECONDARY) return FALSE;
    const bool press = event->type == GDK_BUTTON_PRESS;
    const bool left = event->button == GDK_BUTTON_PRIMARY;
    const uint32_t bit = left ? MkLButton : MkRButton;
    const uint32_t bits = press ? ButtonBits(event->state) | bit : ButtonBits(event->state) & ~bit;
    const uint32_t message = left ? (press ? WmLButtonDown : WmLButtonUp) : (press ? WmRButtonDown : WmRButtonUp);
    if (press) gtk_widget_grab_focus(G.Area);
    QueuePostMouse(message, bits, Whole(event->x), Whole(event->y));
    return TRUE;
}

// While a button is held GTK's implicit grab keeps the events coming here,
// with coordinates beyond the edges: that is the capture.
gboolean OnMotion(GtkWidget*, GdkEventMotion* event, gpointer)
{
    QueuePostMouse(WmMouseMove, ButtonBits(event->state), Whole(event->x), Whole(event->y));
    return TRUE;
}

void OnAreaRealize(GtkWidget* area, gpointer)
{
    // A pen stroke needs every movement, not the last one of each frame.
    gdk_window_set_event_compression(gtk_widget_get_window(area), FALSE);
}

// GTK paints only between two frames (inside a pump), so the surface is
// whole whenever it is shown.

gboolean OnDraw(GtkWidget*, cairo_t* cr, gpointer)
{
    G.DrawQueued = false;
    if (!G.Picture) return TRUE;
    uint32_t rgb[256];
    for (int i = 0; i < 256; ++i)
        rgb[i] = static_cast<uint32_t>(G.Colours[i][2]) << 16 | static_cast<uint32_t>(G.Colours[i][1]) << 8 | G.Colours[i][0];
    cairo_surface_flush(G.Picture);
    uint8_t* data = cairo_image_surface_get_data(G.Picture);
    const int stride = cairo_image_surface_get_stride(G.Picture);
    for (int32_t y = 0; y < G.SurfaceRows; ++y) {
        auto* out = reinterpret_cast<uint32_t*>(data + static_cast<size_t>(y) * static_cast<size_t>(stride));
        const uint8_t* in = &G.Surface[static_cast<size_t>(y) * static_cast<size_t>(G.SurfaceColumns)];
        for (int32_t x = 0; x < G.SurfaceColumns; ++x) out[x] = rgb[in[x]];
    }
    for (size_t i = 0; i < G.OverlayAt.size(); ++i) {
        auto* row = reinterpret_cast<uint32_t*>(data + static_cast<size_t>(G.OverlayAt[i] / G.SurfaceColumns) * static_cast<size_t>(stride));
        row[G.OverlayAt[i] % G.SurfaceColumns] = rgb[G.OverlayBytes[i]];
    }
    cairo_surface_mark_dirty(G.Picture);
    // A cell is Zoom.cell device pixels, whole, whatever the logical scale.
    const double factor = static_cast<double>(G.Zoom.cell) / G.Zoom.scale;
    cairo_scale(cr, factor, factor);
    cairo_set_source_surface(cr, G.Picture, 0, 0);
    // Under a scaled display every cell stays a sharp square.
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    cairo_paint(cr);
    return TRUE;
}

void OpenMenu()
{
    if (G.MenuButton) gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(G.MenuButton), TRUE);
}

// The first of what `of` makes of the entries the keymap has for the
// event's key (each group and level of it), 0 for none.
template <typename Of>
guint FromKeymap(const GdkEventKey* event, Of of)
{
    GdkKeymapKey* keys = nullptr;
    guint* keyvals = nullptr;
    gint count = 0;
    guint found = 0;
    if (gdk_keymap_get_entries_for_keycode(gdk_keymap_get_for_display(gdk_display_get_default()),
                                           event->hardware_keycode, &keys, &keyvals, &count)) {
        for (gint i = 0; i < count && !found; ++i) found = of(keys[i], keyvals[i]);
        g_free(keys);
        g_free(keyvals);
    }
    return found;
}

// X keycodes of the evdev driver: the letter rows of a US keyboard.
constexpr char UsRows[] = "QWERTYUIOP\0\0\0\0ASDFGHJKL\0\0\0\0\0ZXCVBNM";
constexpr guint UsRowsFirst = 24;

// A letter key's Latin meaning, as Win32's virtual keys give it on every
// layout and GTK's own shortcuts find it: the key's keyval where that is a
// Latin letter, else the first Latin letter the same key has in another
// group of the keymap, else the letter at that place of a US keyboard (a
// layout with no Latin group, such as plain Russian). 0 for no letter key.
guint LatinLetter(const GdkEventKey* event)
{
    const auto latin = [](guint keyval) {
        const gunichar c = g_unichar_toupper(gdk_keyval_to_unicode(keyval));
        return c >= 'A' && c <= 'Z' ? c : 0;
    };
    if (const guint c = latin(event->keyval)) return c;
    const guint found = FromKeymap(event, [&](const GdkKeymapKey& key, guint keyval) -> guint {
        return key.level == 0 ? latin(keyval) : 0;
    });
    if (found || gdk_keyval_to_unicode(event->keyval) < 0x80) return found;
    const guint at = event->hardware_keycode;
    return at >= UsRowsFirst && at < UsRowsFirst + sizeof UsRows - 1 ? static_cast<guchar>(UsRows[at - UsRowsFirst]) : 0;
}

// The key whose Latin meaning is `letter`, as LatinLetter finds it: one
// typing it in the group in force, else one with it in another group,
// else its place on a US keyboard. 0 for none.
guint KeycodeOfLetter(GdkKeymap* keymap, guint letter)
{
    GdkKeymapKey* keys = nullptr;
    gint count = 0;
    guint found = 0;
    if (gdk_keymap_get_entries_for_keyval(keymap, gdk_unicode_to_keyval(letter - 'A' + 'a'), &keys, &count)) {
        for (int pass = 0; pass < 2 && !found; ++pass)
            for (gint i = 0; i < count && !found; ++i)
                if (keys[i].level == 0 && (pass == 1 || keys[i].group == static_cast<gint>(G.KeyGroup)))
                    found = keys[i].keycode;
        g_free(keys);
    }
    for (guint i = 0; !found && i < sizeof UsRows - 1; ++i)
        if (static_cast<guchar>(UsRows[i]) == letter) found = UsRowsFirst + i;
    return found;
}

uint32_t VirtualKey(guint keyval)
{
    switch (keyval) {
    case GDK_KEY_Left: case GDK_KEY_KP_Left: return VkLeft;
    case GDK_KEY_Right: case GDK_KEY_KP_Right: return VkRight;
    case GDK_KEY_Up: case GDK_KEY_KP_Up: return VkUp;
    case GDK_KEY_Down: case GDK_KEY_KP_Down: return VkDown;
    case GDK_KEY_Delete: case GDK_KEY_KP_Delete: return VkDelete;
    case GDK_KEY_Return: case GDK_KEY_KP_Enter: return VkReturn;
    case GDK_KEY_Escape: return VkEscape;
    case GDK_KEY_space: return VkSpace;
    case GDK_KEY_Tab: case GDK_KEY_ISO_Left_Tab: return VkTab;
    case GDK_KEY_BackSpace: return VkBack;
    case GDK_KEY_Shift_L: case GDK_KEY_Shift_R: return VkShift;
    case GDK_KEY_Control_L: case GDK_KEY_Control_R: return VkControl;
    default: break;
    }
    if (keyval >= GDK_KEY_F1 && keyval <= GDK_KEY_F12) return VkF1 + (keyval - GDK_KEY_F1);
    const gunichar c = gdk_keyval_to_unicode(gdk_keyval_to_upper(keyval));
    if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return c;
    return 0;
}

// The character Win32 makes of the key: what the keyboard types (shift
// and layout included), a control character for a letter held with Ctrl;
// -1 when none (beyond Latin-1, or Ctrl with anything but a letter).
int32_t KeyCharacter(const GdkEventKey* event, bool control)
{
    switch (event->keyval) {
    case GDK_KEY_Return: case GDK_KEY_KP_Enter: return control ? 10 : 13;
    case GDK_KEY_Escape: return 27;
    case GDK_KEY_Tab: return control ? -1 : 9;
    case GDK_KEY_BackSpace: return control ? 127 : 8;
    default: break;
    }
    const gunichar c = gdk_keyval_to_unicode(event->keyval);
    if (control) {
        // By the key's Latin meaning, as Win32 makes control characters.
        const guint upper = LatinLetter(event);
        // Ctrl+Shift+Z redoes, as Ctrl+Y does.
        if (upper == 'Z' && (event->state & GDK_SHIFT_MASK)) return 25;
        return upper ? static_cast<int32_t>(upper - 'A' + 1) : -1;
    }
    return c >= 0x20 && c <= 0xFF && c != 0x7F ? static_cast<int32_t>(c) : -1;
}

// What a zoom key is called by what it types: the key that types "+" or
// "=", "-" and "0" (and the keypad's).
uint32_t ZoomKeyOf(guint keyval)
{
    switch (keyval) {
    case GDK_KEY_plus: case GDK_KEY_equal: return VkOemPlus;
    case GDK_KEY_KP_Add: return VkAdd;
    case GDK_KEY_minus: return VkOemMinus;
    case GDK_KEY_KP_Subtract: return VkSubtract;
    case GDK_KEY_0: return '0';
    case GDK_KEY_KP_0: return VkNumpad0;
    default: return 0;
    }
}

// A zoom key held with Ctrl, by what it types with the keys held, else by
// what it types at its other levels and in the keymap's other groups
// (Shift+0 types "=" on a German keyboard, the key typing "+" types "1"
// shifted on a Czech one), else by its place on a US keyboard for a layout
// whose keys type nothing of the kind; 0 for any other key.
uint32_t ZoomKey(const GdkEventKey* event)
{
    if (const uint32_t key = ZoomKeyOf(event->keyval)) return key;
    // The active group's other levels first, then the other groups.
    uint32_t found = 0;
    for (int pass = 0; pass < 2 && !found; ++pass)
        found = FromKeymap(event, [&](const GdkKeymapKey& key, guint keyval) -> guint {
            return (key.group == event->group) == (pass == 0) ? ZoomKeyOf(keyval) : 0;
        });
    if (found || gdk_keyval_to_unicode(event->keyval) < 0x80) return found;
    // X keycodes of the evdev driver: 0, minus and equal of a US keyboard.
    switch (event->hardware_keycode) {
    case 19: return '0';
    case 20: return VkOemMinus;
    case 21: return VkOemPlus;
    default: return 0;
    }
}

gboolean OnKey(GtkWidget*, GdkEventKey* event, gpointer)
{
    G.KeyGroup = event->group;
    const guint mods = event->state & gtk_accelerator_get_default_mod_mask();
    // Alt+Space opens the window's menu, where the desktop leaves it to us;
    // F10 is GTK's key for a window's primary menu.
    if ((event->keyval == GDK_KEY_space && mods == GDK_MOD1_MASK) || (event->keyval == GDK_KEY_F10 && mods == 0)) {
        OpenMenu();
        return TRUE;
    }
    // Alt and Super keys are the desktop's (Win32 gives them no WM_KEYDOWN).
    if (mods & (GDK_MOD1_MASK | GDK_SUPER_MASK)) return FALSE;
    if (gtk_window_get_focus(GTK_WINDOW(G.Window)) != G.Area) return FALSE;
    if (mods & GDK_CONTROL_MASK) {
        if (const uint32_t zoom = ZoomKey(event)) {
            QueuePostKey(zoom, -1, MkControl | ((mods & GDK_SHIFT_MASK) ? MkShift : 0u));
            return TRUE;
        }
    }
    const guint letter = LatinLetter(event);
    const uint32_t key = letter ? letter : VirtualKey(event->keyval);
    const int32_t character = KeyCharacter(event, (mods & GDK_CONTROL_MASK) != 0);
    if (!key && character < 0) return FALSE;
    QueuePostKey(key, character, ((mods & GDK_SHIFT_MASK) ? MkShift : 0u) | ((mods & GDK_CONTROL_MASK) ? MkControl : 0u));
    return TRUE;
}

// A key let go: the keyboard's pen lifts what the key held down.
gboolean OnKeyRelease(GtkWidget*, GdkEventKey* event, gpointer)
{
    G.KeyGroup = event->group;
    if (gtk_window_get_focus(GTK_WINDOW(G.Window)) != G.Area) return FALSE;
    const guint letter = LatinLetter(event);
    const uint32_t key = letter ? letter : VirtualKey(event->keyval);
    if (!key) return FALSE;
    QueuePost(WmKeyUp, key, 0);
    return TRUE;
}

gboolean OnFocus(GtkWidget*, GdkEventFocus* event, gpointer)
{
    QueuePost(event->in ? WmSetFocus : WmKillFocus, 0, 0);
    return FALSE;
}

// The close button: the same system command as the menu's Close.
gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer)
{
    QueuePost(WmSysCommand, ScClose, 0);
    return TRUE;
}

void OnDropData(GtkWidget*, GdkDragContext*, gint, gint, GtkSelectionData* data, guint, guint, gpointer)
{
    gchar** uris = gtk_selection_data_get_uris(data);
    if (!uris) return;
    std::vector<std::string> paths;
    for (gchar** uri = uris; *uri; ++uri) {
        gchar* host = nullptr;
        gchar* path = g_filename_from_uri(*uri, &host, nullptr);
        const bool local = !host || std::strcmp(host, "localhost") == 0 || std::strcmp(host, g_get_host_name()) == 0;
        if (path && local) paths.push_back(path);
        g_free(path);
        g_free(host);
    }
    g_strfreev(uris);
    if (!paths.empty()) QueuePostDrop(paths);
}

gulong HandlerOf(GtkWidget* item)
{
    return static_cast<gulong>(reinterpret_cast<uintptr_t>(g_object_get_data(G_OBJECT(item), "talvo-handler")));
}

// Marks belong to the program: GTK's own toggle on activation is undone,
// and a mark set from code must not look like a choice.
void SetMark(GtkWidget* item, bool marked)
{
    g_signal_handler_block(item, HandlerOf(item));
    gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(item), marked);
    g_signal_handler_unblock(item, HandlerOf(item));
}

void OnItemActivate(GtkMenuItem* item, gpointer id)
{
    if (GTK_IS_CHECK_MENU_ITEM(item))
        SetMark(GTK_WIDGET(item), !gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(item)));
    QueuePost(WmSysCommand, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(id)), 0);
}

void AddWidget(GtkWidget* menu, GtkWidget* item)
{
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
    gtk_widget_show(item);
}

GtkWidget* AddCommand(GtkWidget* menu, GtkWidget* item, uint32_t id)
{
    const gulong handler =
        g_signal_connect(item, "activate", G_CALLBACK(OnItemActivate), reinterpret_cast<gpointer>(static_cast<uintptr_t>(id)));
    g_object_set_data(G_OBJECT(item), "talvo-handler", reinterpret_cast<gpointer>(static_cast<uintptr_t>(handler)));
    AddWidget(menu, item);
    return item;
}

// Any item may carry a mark, so every one is a check item; only a mark is
// drawn, a tick, not an empty box beside "Clear" and the rest.
GtkWidget* NewMenu()
{
    static GtkCssProvider* marks = nullptr;
    if (!marks) {
        marks = gtk_css_provider_new();
        gtk_css_provider_load_from_data(marks,
                                        "menu.talvo-marks menuitem check {"
                                        " border: none; background: none; box-shadow: none; }"
                                        "menu.talvo-marks menuitem check:not(:checked) { -gtk-icon-source: none; }",
                                        -1, nullptr);
        gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(marks),
                                                  GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    }
    GtkWidget* menu = gtk_menu_new();
    gtk_style_context_add_class(gtk_widget_get_style_context(menu), "talvo-marks");
    return menu;
}

// The menu with the framework's number, made when first named; a popup is
// kept until it is attached, which then owns it.
GtkWidget* MenuNumbered(int32_t number)
{
    if (number < 0) return nullptr;
    while (static_cast<int32_t>(G.Menus.size()) <= number) {
        GtkWidget* menu = NewMenu();
        g_object_ref_sink(menu);
        G.Menus.push_back(menu);
        G.MenuItems.emplace_back();
    }
    return G.Menus[static_cast<size_t>(number)];
}

void OnAboutResponse(GtkDialog* dialog, gint response, gpointer)
{
    if (response == GTK_RESPONSE_OK) QueuePost(dialog, WmCommand, 1, 0);
    if (response == GTK_RESPONSE_DELETE_EVENT) QueuePost(dialog, WmClose, 0, 0);
}

void OnAboutEscape(GtkDialog* dialog, gpointer)
{
    // GTK would close the dialog; the program decides what Escape does.
    g_signal_stop_emission_by_name(dialog, "close");
    QueuePost(dialog, WmCommand, 2, 0);
}

GtkWidget* AboutLabel(const char* text)
{
    GtkWidget* label = gtk_label_new(text);
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    return label;
}

GdkPixbuf* TalvoIcon()
{
    static GdkPixbuf* icon = gdk_pixbuf_new_from_resource("/org/talvo/talvo.png", nullptr);
    return icon;
}

// A signal asked the program to end: an error box goes with the session,
// and the program saves at its next pump (the About dialog gives way to it).
gboolean OnEndSignal(gint, GIOCondition, gpointer)
{
    if (!EndSignalTake()) return G_SOURCE_CONTINUE;
    if (G.ErrorBox) gtk_dialog_response(GTK_DIALOG(G.ErrorBox), GTK_RESPONSE_DELETE_EVENT);
    if (G.SaveDialog) gtk_native_dialog_hide(GTK_NATIVE_DIALOG(G.SaveDialog));
    QueuePost(WmEndSession, 1, 0);
    return G_SOURCE_CONTINUE;
}

// The display connection is gone and GDK would end the process at once:
// the program saves first, now, since no further pump will come. It must
// not touch GTK again.
[[noreturn]] void EndWithoutDisplay()
{
    static bool ending = false;
    if (!ending) {
        ending = true;
        G.DisplayLost = true;
        QueueSend(WmEndSession, 1, 0);
        std::fprintf(stderr, "talvo: the display connection was lost\n");
    }
    std::fflush(stdout);
    std::fflush(stderr);
    _exit(DisplayLostStatus);
}

void OnDisplayClosed(GdkDisplay*, gboolean isError, gpointer)
{
    if (isError) EndWithoutDisplay();
}

void WatchTheSessionEnd()
{
    const int fd = EndSignalsFd();
    if (fd >= 0) g_unix_fd_add(fd, G_IO_IN, OnEndSignal, nullptr);
    GdkDisplay* display = gdk_display_get_default();
    if (!display) return;
    g_signal_connect(display, "closed", G_CALLBACK(OnDisplayClosed), nullptr);
    GtkOnX11ConnectionLost(display, EndWithoutDisplay);
}

// Buttons beside the menu that post the character their key makes.
struct BarButton {
    const char* icon;
    const char* name;
    const char* tip;
    uint32_t character;
};
const BarButton BarButtons[] = {
    {"edit-undo-symbolic", N_("Undo"), N_("Undo the last stroke or Clear (Ctrl+Z)"), 26},
    {"edit-redo-symbolic", N_("Redo"), N_("Redo what was undone (Ctrl+Y)"), 25},
    {"edit-copy-symbolic", N_("Copy picture"), N_("Copy the picture of the field (Ctrl+C)"), 3},
    {"camera-photo-symbolic", N_("Save picture"), N_("Save a picture of the field (P)"), 'p'},
    {"media-record-symbolic", N_("Save animation"), N_("Save an animation of the last minute (G)"), 'g'},
    {"media-skip-forward-symbolic", N_("One frame"), N_("Stop, then one frame at a time (.)"), '.'},
};

void OnBarButton(GtkButton*, gpointer character)
{
    QueuePost(WmChar, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(character)), 0);
}

void OnKeysButton(GtkButton*, gpointer) { QueuePost(WmCommand, IdKeys, 0); }

void OnKeysResponse(GtkDialog* dialog, gint, gpointer) { gtk_widget_destroy(GTK_WIDGET(dialog)); }

// It goes with the window too.
void OnKeysGone(GtkWidget* dialog, gpointer)
{
    if (G.KeysBox == dialog) G.KeysBox = nullptr;
}

// The zoom item's choices post the framework's zoom command.
void OnZoomItem(GtkCheckMenuItem* item, gpointer choice)
{
    if (gtk_check_menu_item_get_active(item))
        QueuePost(WmCommand, IdZoom + static_cast<uint32_t>(reinterpret_cast<uintptr_t>(choice)), 0);
}

// The desktop's scale as a whole step: GDK's own (GDK_SCALE) times what
// the font resolution says of a fractional one (Xft.dpi, GDK_DPI_SCALE),
// rounded half up, so 150 % shows two device pixels a cell and 125 % one.
int32_t DesktopStep()
{
    double resolution = gdk_screen_get_resolution(gdk_screen_get_default());
    if (resolution <= 0) resolution = 96.0;
    const double scale = G.Zoom.scale * resolution / 96.0;
    const int32_t step = static_cast<int32_t>(std::floor(scale + 0.5));
    return step < 1 ? 1 : step;
}

// The field's size for the choice and the desktop's scale now: the area
// asks for its whole cells, and the window (fixed, not resizable) follows.
void ApplyZoom()
{
    if (!G.Area) return;
    G.Zoom.scale = gtk_widget_get_scale_factor(G.Window);
    if (G.Zoom.scale < 1) G.Zoom.scale = 1;
    G.Zoom.cell = DesktopStep() * G.Zoom.choice;
    const auto logical = [](int32_t cells) {
        return static_cast<gint>((static_cast<int64_t>(cells) * G.Zoom.cell + G.Zoom.scale - 1) / G.Zoom.scale);
    };
    gtk_widget_set_size_request(G.Area, logical(G.SurfaceColumns), logical(G.SurfaceRows));
    for (int32_t i = 0; i < 4; ++i) {
        if (!G.Zoom.items[i]) continue;
        g_signal_handlers_block_by_func(G.Zoom.items[i], reinterpret_cast<gpointer>(OnZoomItem),
                                        reinterpret_cast<gpointer>(static_cast<uintptr_t>(i + 1)));
        gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(G.Zoom.items[i]), i + 1 == G.Zoom.choice);
        g_signal_handlers_unblock_by_func(G.Zoom.items[i], reinterpret_cast<gpointer>(OnZoomItem),
                                          reinterpret_cast<gpointer>(static_cast<uintptr_t>(i + 1)));
    }
    gtk_widget_queue_draw(G.Area);
}

void OnScaleChanged(GObject*, GParamSpec*, gpointer) { ApplyZoom(); }

// The zoom item beside the bar's buttons: 1x to 4x, the keys in the labels.
GtkWidget* NewZoomButton()
{
    GtkWidget* button = gtk_menu_button_new();
    gtk_button_set_image(GTK_BUTTON(button), gtk_image_new_from_icon_name("zoom-in-symbolic", GTK_ICON_SIZE_BUTTON));
    gtk_widget_set_tooltip_text(button, Translated("Zoom (Ctrl+plus, Ctrl+minus, Ctrl+0)"));
    atk_object_set_name(gtk_widget_get_accessible(button), Translated("Zoom"));
    gtk_widget_set_focus_on_click(button, FALSE);
    GtkWidget* menu = gtk_menu_new();
    GSList* group = nullptr;
    static const char* const Labels[4] = {"1\u00d7 (Ctrl+0)", "2\u00d7", "3\u00d7", "4\u00d7"};
    for (int32_t i = 0; i < 4; ++i) {
        GtkWidget* item = gtk_radio_menu_item_new_with_label(group, Labels[i]);
        group = gtk_radio_menu_item_get_group(GTK_RADIO_MENU_ITEM(item));
        gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(item), i == 0);
        g_signal_connect(item, "toggled", G_CALLBACK(OnZoomItem), reinterpret_cast<gpointer>(static_cast<uintptr_t>(i + 1)));
        gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
        gtk_widget_show(item);
        G.Zoom.items[i] = item;
    }
    gtk_menu_button_set_popup(GTK_MENU_BUTTON(button), menu);
    return button;
}

void OnProgressResponse(GtkInfoBar*, gint response, gpointer)
{
    if (response == GTK_RESPONSE_CANCEL) QueuePost(WmCommand, IdCancel, 0);
}

// The text font: a Mincho face where the system has one, else a serif.
constexpr char TextFaces[] = "MS Mincho, IPAMincho, IPAexMincho, Noto Serif CJK JP, Serif";

void OnNoteResponse(GtkInfoBar* bar, gint, gpointer) { gtk_widget_hide(GTK_WIDGET(bar)); }

// A text below the field wraps to the width the field gives it, even within
// a long name, and never asks for more: the window stays as wide as the
// field whatever it says, and the field where it was.
void FitsTheField(GtkWidget* label)
{
    gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
    gtk_label_set_line_wrap_mode(GTK_LABEL(label), PANGO_WRAP_WORD_CHAR);
    gtk_label_set_max_width_chars(GTK_LABEL(label), 8);
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    gtk_widget_set_hexpand(label, TRUE);
}

gboolean OnWaitTimeout(gpointer passed)
{
    *static_cast<bool*>(passed) = true;
    return G_SOURCE_REMOVE;
}

// The user's own folder for files of `kind`, never the program's data
// folder: Pictures for pictures, Documents for a scene, else home.
std::string FolderFor(const char* kind)
{
    const bool picture = std::strncmp(kind, "image/", 6) == 0;
    const char* folder = g_get_user_special_dir(picture ? G_USER_DIRECTORY_PICTURES : G_USER_DIRECTORY_DOCUMENTS);
    if (!folder || !g_file_test(folder, G_FILE_TEST_IS_DIR)) folder = g_get_home_dir();
    return folder ? folder : "";
}

} // namespace

// --- The window and its picture.

PlatformWindow PlatformOpenWindow(const char* title, int32_t width, int32_t height, MessageHandler procedure)
{
    G.Window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWindow* window = GTK_WINDOW(G.Window);
    gtk_window_set_resizable(window, FALSE);
    if (TalvoIcon()) gtk_window_set_icon(window, TalvoIcon());

    GtkWidget* bar = gtk_header_bar_new();
    // The bar is as wide as the field: its buttons leave no room for the
    // title, which the desktop shows for the window anyway.
    gtk_header_bar_set_custom_title(GTK_HEADER_BAR(bar), gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0));
    gtk_header_bar_set_show_close_button(GTK_HEADER_BAR(bar), TRUE);
    G.MenuButton = gtk_menu_button_new();
    gtk_button_set_image(GTK_BUTTON(G.MenuButton), gtk_image_new_from_icon_name("open-menu-symbolic", GTK_ICON_SIZE_BUTTON));
    gtk_widget_set_tooltip_text(G.MenuButton, Translated("Menu"));
    atk_object_set_name(gtk_widget_get_accessible(G.MenuButton), Translated("Menu"));
    // The keys stay with the field when the button is clicked.
    gtk_widget_set_focus_on_click(G.MenuButton, FALSE);
    gtk_header_bar_pack_start(GTK_HEADER_BAR(bar), G.MenuButton);
    // The window's keys, where a person finds them without knowing them.
    for (const BarButton& button : BarButtons) {
        GtkWidget* widget = gtk_button_new_from_icon_name(button.icon, GTK_ICON_SIZE_BUTTON);
        gtk_widget_set_tooltip_text(widget, Translated(button.tip));
        atk_object_set_name(gtk_widget_get_accessible(widget), Translated(button.name));
        gtk_widget_set_focus_on_click(widget, FALSE);
        g_signal_connect(widget, "clicked", G_CALLBACK(OnBarButton),
                         reinterpret_cast<gpointer>(static_cast<uintptr_t>(button.character)));
        gtk_header_bar_pack_start(GTK_HEADER_BAR(bar), widget);
        if (button.character < 32) {
            G.KeyButtons[button.character] = widget;
            gtk_widget_set_sensitive(widget, !G.KeyButtonsOff[button.character]);
        }
    }
    G.Zoom.button = NewZoomButton();
    gtk_header_bar_pack_start(GTK_HEADER_BAR(bar), G.Zoom.button);
    GtkWidget* keys = gtk_button_new_from_icon_name("input-keyboard-symbolic", GTK_ICON_SIZE_BUTTON);
    gtk_widget_set_tooltip_text(keys, Translated("The keys (F1)"));
    atk_object_set_name(gtk_widget_get_accessible(keys), Translated("Keys"));
    gtk_widget_set_focus_on_click(keys, FALSE);
    g_signal_connect(keys, "clicked", G_CALLBACK(OnKeysButton), nullptr);
    gtk_header_bar_pack_start(GTK_HEADER_BAR(bar), keys);
    // Eight buttons and the window's own two in the width of the field.
    GtkCssProvider* compact = gtk_css_provider_new();
    gtk_css_provider_load_from_data(compact,
                                    "headerbar.talvo-bar { padding-left: 3px; padding-right: 3px; }"
                                    "headerbar.talvo-bar button { min-width: 16px; padding-left: 4px; padding-right: 4px; }",
                                    -1, nullptr);
    // For the screen: a provider of the bar's own would not reach its buttons.
    gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(compact),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    gtk_style_context_add_class(gtk_widget_get_style_context(bar), "talvo-bar");
    g_object_set(bar, "spacing", 1, nullptr);
    g_object_unref(compact);
    gtk_window_set_titlebar(window, bar);
    // After the bar: a title set before a bar with a title widget of its own
    // is dropped, and the window goes by the program's name.
    gtk_window_set_title(window, title);

    // The platform's own items that apply to a window of fixed size.
    GtkWidget* own = MenuNumbered(0);
    const struct {
        uint32_t id;
        const char* label;
    } standard[] = {{ScMove, "Move"}, {ScMinimize, "Minimize"}, {0, nullptr}, {ScClose, "Close"}};
    for (const auto& item : standard) {
        if (item.label)
            AddCommand(own, gtk_menu_item_new_with_label(g_dgettext("gtk30", item.label)), item.id);
        else
            AddWidget(own, gtk_separator_menu_item_new());
    }
    gtk_menu_button_set_popup(GTK_MENU_BUTTON(G.MenuButton), own);

    G.Area = gtk_drawing_area_new();
    gtk_widget_set_size_request(G.Area, width, height);
    gtk_widget_set_can_focus(G.Area, TRUE);
    gtk_widget_add_events(G.Area, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_POINTER_MOTION_MASK);
    g_signal_connect(G.Area, "draw", G_CALLBACK(OnDraw), nullptr);
    g_signal_connect(G.Area, "button-press-event", G_CALLBACK(OnButton), nullptr);
    g_signal_connect(G.Area, "button-release-event", G_CALLBACK(OnButton), nullptr);
    g_signal_connect(G.Area, "motion-notify-event", G_CALLBACK(OnMotion), nullptr);
    g_signal_connect(G.Area, "realize", G_CALLBACK(OnAreaRealize), nullptr);
    // Notes show below the field, which they neither cover nor stop.
    GtkWidget* column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_widget_set_halign(G.Area, GTK_ALIGN_CENTER);
    gtk_box_pack_start(GTK_BOX(column), G.Area, FALSE, FALSE, 0);
    G.ProgressBar = gtk_info_bar_new();
    gtk_info_bar_set_message_type(GTK_INFO_BAR(G.ProgressBar), GTK_MESSAGE_OTHER);
    GtkWidget* progress = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
    G.ProgressText = gtk_label_new("");
    gtk_label_set_xalign(GTK_LABEL(G.ProgressText), 0.0f);
    FitsTheField(G.ProgressText);
    G.ProgressFill = gtk_progress_bar_new();
    gtk_box_pack_start(GTK_BOX(progress), G.ProgressText, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(progress), G.ProgressFill, FALSE, FALSE, 0);
    gtk_container_add(GTK_CONTAINER(gtk_info_bar_get_content_area(GTK_INFO_BAR(G.ProgressBar))), progress);
    gtk_info_bar_add_button(GTK_INFO_BAR(G.ProgressBar), Translated("Cancel"), GTK_RESPONSE_CANCEL);
    g_signal_connect(G.ProgressBar, "response", G_CALLBACK(OnProgressResponse), nullptr);
    atk_object_set_name(gtk_widget_get_accessible(G.ProgressBar), Translated("Progress"));
    gtk_box_pack_start(GTK_BOX(column), G.ProgressBar, FALSE, FALSE, 0);
    G.NoteBar = gtk_info_bar_new();
    gtk_info_bar_set_message_type(GTK_INFO_BAR(G.NoteBar), GTK_MESSAGE_INFO);
    gtk_info_bar_set_show_close_button(GTK_INFO_BAR(G.NoteBar), TRUE);
    G.NoteText = gtk_label_new("");
    FitsTheField(G.NoteText);
    gtk_container_add(GTK_CONTAINER(gtk_info_bar_get_content_area(GTK_INFO_BAR(G.NoteBar))), G.NoteText);
    atk_object_set_name(gtk_widget_get_accessible(G.NoteBar), Translated("Note"));
    g_signal_connect(G.NoteBar, "response", G_CALLBACK(OnNoteResponse), nullptr);
    gtk_box_pack_start(GTK_BOX(column), G.NoteBar, FALSE, FALSE, 0);
    gtk_container_add(GTK_CONTAINER(G.Window), column);

    g_signal_connect(G.Window, "key-press-event", G_CALLBACK(OnKey), nullptr);
    g_signal_connect(G.Window, "key-release-event", G_CALLBACK(OnKeyRelease), nullptr);
    g_signal_connect(G.Window, "focus-in-event", G_CALLBACK(OnFocus), nullptr);
    g_signal_connect(G.Window, "focus-out-event", G_CALLBACK(OnFocus), nullptr);
    g_signal_connect(G.Window, "delete-event", G_CALLBACK(OnDelete), nullptr);
    static const GtkTargetEntry uriList = {const_cast<gchar*>("text/uri-list"), 0, 0};
    gtk_drag_dest_set(G.Window, static_cast<GtkDestDefaults>(GTK_DEST_DEFAULT_MOTION | GTK_DEST_DEFAULT_DROP), &uriList, 1,
                      GDK_ACTION_COPY);
    g_signal_connect(G.Window, "drag-data-received", G_CALLBACK(OnDropData), nullptr);

    QueueOpen(G.Window, procedure);
    WatchTheSessionEnd();
    QueueSend(WmSize, 0, PackPoint(width, height));

    PlatformWindow opened{G.Window, nullptr, G.Colours};
    G.Picture = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    if (cairo_surface_status(G.Picture) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(G.Picture);
        G.Picture = nullptr;
        return opened;
    }
    G.SurfaceColumns = width;
    G.SurfaceRows = height;
    G.Surface.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
    opened.pixels = G.Surface.data();
    // A change of the desktop's scale keeps every cell whole.
    g_signal_connect(G.Window, "notify::scale-factor", G_CALLBACK(OnScaleChanged), nullptr);
    g_signal_connect(gtk_settings_get_default(), "notify::gtk-xft-dpi", G_CALLBACK(OnScaleChanged), nullptr);
    ApplyZoom();
    return opened;
}

void PlatformShowWindow()
{
    if (!G.Window) return;
    gtk_widget_show_all(G.Window);
    // The note bar shows only with a note, the progress only with work.
    gtk_widget_hide(G.NoteBar);
    gtk_widget_hide(G.ProgressBar);
    gtk_widget_grab_focus(G.Area);
    QueueRepaint();
}

void PlatformCloseWindow()
{
    if (!G.Window) return;
    GtkWidget* window = G.Window;
    G.Window = G.Area = G.MenuButton = nullptr;
    if (!G.DisplayLost) gtk_widget_destroy(window);
    QueueClose();
}

// Asks for a paint; the conversion waits for GTK's next one, so a frame loop
// without waits is never held to the refresh rate.
void PlatformSetOverlay(const int32_t* positions, const uint8_t* bytes, size_t count)
{
    G.OverlayAt.clear();
    G.OverlayBytes.clear();
    for (size_t i = 0; i < count; ++i)
        if (positions[i] >= 0 && positions[i] < G.SurfaceColumns * G.SurfaceRows) {
            G.OverlayAt.push_back(positions[i]);
            G.OverlayBytes.push_back(bytes[i]);
        }
}

void PlatformPresent(int32_t width, int32_t height)
{
    if (!G.Area || G.Surface.empty() || width <= 0 || height <= 0) return;
    if (!G.DrawQueued && gtk_widget_is_drawable(G.Area)) {
        gtk_widget_queue_draw(G.Area);
        G.DrawQueued = true;
    }
}

int32_t PlatformZoomDefault() { return 1; }

void PlatformSetZoom(int32_t choice)
{
    G.Zoom.choice = choice < 1 ? 1 : choice > 4 ? 4 : choice;
    if (G.Window && !G.DisplayLost) ApplyZoom();
}

// A true-colour display has no palette to match.
int32_t PlatformMatchDisplayColours(const uint8_t (*)[4], int32_t, bool) { return 0; }

// GTK's implicit grab already keeps a held button's events with the window
// until its release.
void PlatformCaptureMouse(bool) {}

// --- Input and time.

bool PlatformNextMessage(PlatformMessage* msg) { return QueueNext(msg); }
void PlatformHandleMessage(const PlatformMessage& msg) { QueueHandle(msg); }
uint32_t PlatformKeyModifiers() { return QueueKeyModifiers(); }
void PlatformPostQuit(uint32_t code) { QueuePostQuit(code); }

void PlatformTakeInput() { PlatformWaitInput(0); }

void PlatformWaitInput(uint32_t milliseconds)
{
    if (milliseconds == 0) {
        // Bounded, so a source that is always ready cannot hold the frame.
        for (int i = 0; i < 100 && g_main_context_iteration(nullptr, FALSE); ++i) {
        }
        return;
    }
    if (QueuePending()) return;
    if (milliseconds == PlatformForever) {
        while (!QueuePending()) g_main_context_iteration(nullptr, TRUE);
        return;
    }
    bool passed = false;
    const guint timer = g_timeout_add_full(G_PRIORITY_DEFAULT, milliseconds, OnWaitTimeout, &passed, nullptr);
    while (!passed && !QueuePending()) g_main_context_iteration(nullptr, TRUE);
    if (!passed) g_source_remove(timer);
}

// The window manager's commands: minimize, and move by keyboard.
bool PlatformDefault(WindowHandle, uint32_t message, uint32_t wParam, int32_t, int32_t* result)
{
    if (message != WmSysCommand || !G.Window) return false;
    switch (wParam & 0xFFF0u) {
    case ScMinimize:
        gtk_window_iconify(GTK_WINDOW(G.Window));
        break;
    case ScMove: {
        // Button 0: the window manager moves it by keyboard.
        gint x = 0, y = 0;
        GdkDevice* pointer = gdk_seat_get_pointer(gdk_display_get_default_seat(gtk_widget_get_display(G.Window)));
        gdk_device_get_position(pointer, nullptr, &x, &y);
        gtk_window_begin_move_drag(GTK_WINDOW(G.Window), 0, x, y, GDK_CURRENT_TIME);
        break;
    }
    default:
        return false;
    }
    *result = 0;
    return true;
}

uint32_t PlatformTicks()
{
    return static_cast<uint32_t>(g_get_monotonic_time() / 1000);
}

// --- The menu.

// The menus go with the window: afterwards the calls do nothing.
void PlatformMenuAdd(int32_t menu, uint32_t kind, uint32_t id, int32_t popup, const char* text)
{
    if (!G.Window) return;
    GtkWidget* target = MenuNumbered(menu);
    if (!target) return;
    GtkWidget* item = nullptr;
    if (kind == MfSeparator) {
        item = gtk_separator_menu_item_new();
        AddWidget(target, item);
    } else if (kind == MfPopup) {
        GtkWidget* submenu = MenuNumbered(popup);
        if (!submenu) return;
        item = gtk_menu_item_new_with_label(text);
        gtk_menu_item_set_submenu(GTK_MENU_ITEM(item), submenu);
        AddWidget(target, item);
    } else {
        // Any of the program's items may carry a mark.
        item = AddCommand(target, gtk_check_menu_item_new_with_label(text), id);
    }
    G.MenuItems[static_cast<size_t>(menu)].push_back(item);
}

void PlatformMenuMark(int32_t menu, int32_t position, uint32_t, bool marked)
{
    if (!G.Window || menu < 0 || menu >= static_cast<int32_t>(G.MenuItems.size())) return;
    const std::vector<GtkWidget*>& items = G.MenuItems[static_cast<size_t>(menu)];
    if (position < 0 || position >= static_cast<int32_t>(items.size())) return;
    if (GTK_IS_CHECK_MENU_ITEM(items[static_cast<size_t>(position)])) SetMark(items[static_cast<size_t>(position)], marked);
}

// --- Dialogs and messages.

// Modal: the window takes no input while it is open, and its input comes
// back as messages for the dialog.
int32_t PlatformAbout(DialogProc, WindowHandle* shown)
{
    GtkWidget* dialog = gtk_dialog_new();
    gtk_window_set_title(GTK_WINDOW(dialog), Translated(TALVO_ABOUT_CAPTION));
    if (G.Window) gtk_window_set_transient_for(GTK_WINDOW(dialog), GTK_WINDOW(G.Window));
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER_ON_PARENT);
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    gtk_window_set_resizable(GTK_WINDOW(dialog), FALSE);
    gtk_window_set_destroy_with_parent(GTK_WINDOW(dialog), TRUE);

    GtkWidget* grid = gtk_grid_new();
    gtk_grid_set_row_spacing(GTK_GRID(grid), 8);
    gtk_grid_set_column_spacing(GTK_GRID(grid), 12);
    gtk_container_set_border_width(GTK_CONTAINER(grid), 12);
    if (TalvoIcon()) gtk_grid_attach(GTK_GRID(grid), gtk_image_new_from_pixbuf(TalvoIcon()), 0, 0, 1, 2);
    const std::string product = TranslatedWith(TALVO_ABOUT_PRODUCT_FORMAT, {TALVO_VERSION});
    gtk_grid_attach(GTK_GRID(grid), AboutLabel(product.c_str()), 1, 0, 1, 1);
    gtk_grid_attach(GTK_GRID(grid), AboutLabel(Translated(TALVO_ABOUT_CREDIT)), 2, 0, 1, 1);
    gtk_grid_attach(GTK_GRID(grid), AboutLabel(Translated(TALVO_ABOUT_CONTACT1)), 1, 1, 2, 1);
    gtk_grid_attach(GTK_GRID(grid), AboutLabel(Translated(TALVO_ABOUT_CONTACT2)), 0, 2, 3, 1);
    gtk_container_add(GTK_CONTAINER(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), grid);
    GtkWidget* ok = gtk_dialog_add_button(GTK_DIALOG(dialog), Translated("OK"), GTK_RESPONSE_OK);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
    g_signal_connect(dialog, "response", G_CALLBACK(OnAboutResponse), nullptr);
    g_signal_connect(dialog, "close", G_CALLBACK(OnAboutEscape), nullptr);
    gtk_widget_show_all(dialog);
    gtk_widget_grab_focus(ok);
    G.AboutBox = dialog;
    *shown = dialog;
    return 0;
}

void PlatformEndAbout(int32_t)
{
    if (G.AboutBox && !G.DisplayLost) gtk_widget_destroy(G.AboutBox);
    G.AboutBox = nullptr;
}

void PlatformShowMessage(const char* text, const char* caption, bool note)
{
    std::fprintf(stderr, "%s: %s\n", caption, text);
    if (!gdk_display_get_default() || G.DisplayLost) return;
    if (note) {
        if (!G.NoteBar || !G.Window) return;
        gtk_label_set_text(GTK_LABEL(G.NoteText), text);
        gtk_widget_show_all(G.NoteBar);
        return;
    }
    GtkWidget* box = gtk_message_dialog_new(G.Window ? GTK_WINDOW(G.Window) : nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR,
                                            GTK_BUTTONS_OK, "%s", text);
    gtk_window_set_title(GTK_WINDOW(box), caption);
    GtkWidget* outer = G.ErrorBox;
    G.ErrorBox = box;
    gtk_dialog_run(GTK_DIALOG(box));
    G.ErrorBox = outer;
    if (!G.DisplayLost) gtk_widget_destroy(box);
}

int32_t PlatformLoadString(uint32_t id, char* buffer, int32_t size) { return CopyTableString(id, buffer, size); }

int32_t PlatformKeyLabel(uint32_t letter, char* buffer, int32_t size)
{
    GdkDisplay* display = gdk_display_get_default();
    if (letter < 'A' || letter > 'Z' || size <= 0 || !display || G.DisplayLost) return 0;
    GdkKeymap* keymap = gdk_keymap_get_for_display(display);
    const int group = GtkX11KeyboardGroup(display);
    if (group >= 0) G.KeyGroup = static_cast<guint>(group);
    const guint keycode = KeycodeOfLetter(keymap, letter);
    guint keyval = 0;
    if (!keycode || !gdk_keymap_translate_keyboard_state(keymap, keycode, static_cast<GdkModifierType>(0),
                                                         static_cast<gint>(G.KeyGroup), &keyval, nullptr, nullptr,
                                                         nullptr))
        return 0;
    const gunichar c = g_unichar_toupper(gdk_keyval_to_unicode(keyval));
    if (!g_unichar_isgraph(c)) return 0;
    gchar text[8] = "";
    const gint length = g_unichar_to_utf8(c, text);
    if (length >= size) return length;
    std::memcpy(buffer, text, static_cast<size_t>(length));
    buffer[length] = 0;
    return length;
}

// Two columns, the keys and what they do, one row a line.
void PlatformShowKeys(const char* text, const char* caption)
{
    if (!G.Window || G.DisplayLost) return;
    if (G.KeysBox) gtk_widget_destroy(G.KeysBox);
    GtkWidget* dialog = gtk_dialog_new_with_buttons(caption, GTK_WINDOW(G.Window), GTK_DIALOG_DESTROY_WITH_PARENT, "OK",
                                                    GTK_RESPONSE_OK, nullptr);
    gtk_window_set_resizable(GTK_WINDOW(dialog), FALSE);
    GtkWidget* grid = gtk_grid_new();
    gtk_grid_set_row_spacing(GTK_GRID(grid), 4);
    gtk_grid_set_column_spacing(GTK_GRID(grid), 16);
    gtk_container_set_border_width(GTK_CONTAINER(grid), 12);
    gint row = 0;
    for (const char* line = text; *line; ++row) {
        const char* end = std::strchr(line, '\n');
        if (!end) end = line + std::strlen(line);
        const std::string whole(line, end);
        const size_t tab = whole.find('\t');
        GtkWidget* keys = AboutLabel(whole.substr(0, tab).c_str());
        gtk_grid_attach(GTK_GRID(grid), keys, 0, row, 1, 1);
        if (tab != std::string::npos) gtk_grid_attach(GTK_GRID(grid), AboutLabel(whole.substr(tab + 1).c_str()), 1, row, 1, 1);
        line = *end ? end + 1 : end;
    }
    gtk_container_add(GTK_CONTAINER(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), grid);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
    g_signal_connect(dialog, "response", G_CALLBACK(OnKeysResponse), nullptr);
    g_signal_connect(dialog, "destroy", G_CALLBACK(OnKeysGone), nullptr);
    // Beside the window, leaving the field in sight.
    GdkWindow* shown = gtk_widget_get_window(G.Window);
    if (shown) {
        GdkRectangle frame = {};
        gdk_window_get_frame_extents(shown, &frame);
        gtk_window_move(GTK_WINDOW(dialog), frame.x + frame.width + 8, frame.y);
    }
    gtk_widget_show_all(dialog);
    G.KeysBox = dialog;
}

// Gettext's catalogues, beside the program in the build folder
// (locale/LANG/LC_MESSAGES/talvo.mo) or installed in share/locale; gettext
// picks the language from LANGUAGE, LC_ALL, LC_MESSAGES and LANG.
const char* PlatformTranslate(const char* english)
{
    static const bool bound = [] {
        gchar* program = g_file_read_link("/proc/self/exe", nullptr);
        gchar* folder = program ? g_path_get_dirname(program) : g_strdup(".");
        gchar* beside = g_build_filename(folder, "locale", nullptr);
        gchar* installed = g_build_filename(folder, "..", "share", "locale", nullptr);
        bindtextdomain("talvo", g_file_test(beside, G_FILE_TEST_IS_DIR) ? beside : installed);
        bind_textdomain_codeset("talvo", "UTF-8");
        g_free(installed);
        g_free(beside);
        g_free(folder);
        g_free(program);
        return true;
    }();
    (void)bound;
    return g_dgettext("talvo", english);
}

uint32_t PlatformTakeDroppedName(uint32_t drop, char* buffer, uint32_t size)
{
    return QueueTakeDroppedName(drop, buffer, size);
}

// --- What the library offers besides.

void PlatformPointer(int32_t* x, int32_t* y, int32_t* buttons)
{
    *x = *y = *buttons = 0;
    if (!G.Area || G.DisplayLost) return;
    GdkWindow* area = gtk_widget_get_window(G.Area);
    if (!area) return;
    GdkDevice* pointer = gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_window_get_display(area)));
    double px = 0, py = 0;
    GdkModifierType mask = static_cast<GdkModifierType>(0);
    gdk_window_get_device_position_double(area, pointer, &px, &py, &mask);
    *x = Whole(px);
    *y = Whole(py);
    *buttons = static_cast<int32_t>(ButtonBits(mask));
}

void PlatformCopyToClipboard(int32_t width, int32_t height)
{
    if (!G.Window || G.DisplayLost || G.Surface.empty()) return;
    const int32_t w = width < G.SurfaceColumns ? width : G.SurfaceColumns, h = height < G.SurfaceRows ? height : G.SurfaceRows;
    GdkPixbuf* picture = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, w, h);
    if (!picture) return;
    guchar* rows = gdk_pixbuf_get_pixels(picture);
    const int stride = gdk_pixbuf_get_rowstride(picture);
    for (int32_t y = 0; y < h; ++y) {
        guchar* out = rows + static_cast<size_t>(y) * static_cast<size_t>(stride);
        for (int32_t x = 0; x < w; ++x) {
            const uint8_t* colour = G.Colours[G.Surface[static_cast<size_t>(y) * static_cast<size_t>(G.SurfaceColumns) + static_cast<size_t>(x)]];
            out[3 * x + 0] = colour[2];
            out[3 * x + 1] = colour[1];
            out[3 * x + 2] = colour[0];
        }
    }
    GtkClipboard* clipboard = gtk_widget_get_clipboard(G.Window, GDK_SELECTION_CLIPBOARD);
    gtk_clipboard_set_image(clipboard, picture);
    // A clipboard manager may keep it once the program has ended.
    gtk_clipboard_set_can_store(clipboard, nullptr, 0);
    g_object_unref(picture);
}

// The desktop's own save dialog (a portal's where the desktop has one).
int32_t PlatformSaveFileStart(const char* name, const char* kind, char* failure, size_t failureSize)
{
    if (!G.Window || G.DisplayLost || G.SaveDialog) return 0;
    GtkFileChooserNative* chooser =
        gtk_file_chooser_native_new(Translated("Save"), GTK_WINDOW(G.Window), GTK_FILE_CHOOSER_ACTION_SAVE,
                                    g_dgettext("gtk30", "_Save"), g_dgettext("gtk30", "_Cancel"));
    GtkFileChooser* files = GTK_FILE_CHOOSER(chooser);
    gtk_file_chooser_set_do_overwrite_confirmation(files, TRUE);
    const std::string folder = FolderFor(kind);
    if (!folder.empty()) gtk_file_chooser_set_current_folder(files, folder.c_str());
    gtk_file_chooser_set_current_name(files, folder.empty() ? name : UnusedName(folder + "/", name).c_str());
    GtkFileFilter* filter = gtk_file_filter_new();
    gtk_file_filter_add_mime_type(filter, kind);
    if (std::strcmp(kind, "image/gif") == 0) {
        gtk_file_filter_set_name(filter, Translated("Animations (GIF)"));
    } else if (std::strcmp(kind, "image/png") == 0) {
        gtk_file_filter_set_name(filter, Translated("Pictures (PNG)"));
    } else {
        gtk_file_filter_add_pattern(filter, "*.talvo");
        gtk_file_filter_set_name(filter, Translated("Talvo scenes"));
    }
    gtk_file_chooser_add_filter(files, filter);
    G.SaveDialog = chooser;
    const gint response = gtk_native_dialog_run(GTK_NATIVE_DIALOG(chooser));
    G.SaveDialog = nullptr;
    gchar* path = response == GTK_RESPONSE_ACCEPT ? gtk_file_chooser_get_filename(files) : nullptr;
    g_object_unref(chooser);
    if (!path) return 0;
    const bool opened = ChosenFileOpen(path, failure, failureSize);
    g_free(path);
    return opened ? 1 : -1;
}

bool PlatformSaveFilePart(const uint8_t* bytes, size_t size, char* failure, size_t failureSize)
{
    return ChosenFileWrite(bytes, size, failure, failureSize);
}

int32_t PlatformSaveFileEnd(bool keep, char* failure, size_t failureSize)
{
    if (!ChosenFileClose(keep, failure, failureSize)) return -1;
    return keep ? 1 : 0;
}

void PlatformShowProgress(const char* text, int32_t permille)
{
    if (!G.ProgressBar || !G.Window || G.DisplayLost) return;
    if (permille < 0) {
        gtk_widget_hide(G.ProgressBar);
        return;
    }
    gtk_label_set_text(GTK_LABEL(G.ProgressText), text ? text : "");
    gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(G.ProgressFill), permille > 1000 ? 1.0 : permille / 1000.0);
    if (!gtk_widget_get_visible(G.ProgressBar)) gtk_widget_show_all(G.ProgressBar);
}

void PlatformEnableButton(uint32_t character, bool enabled)
{
    if (character >= 32) return;
    G.KeyButtonsOff[character] = !enabled;
    if (G.KeyButtons[character] && G.Window && !G.DisplayLost) gtk_widget_set_sensitive(G.KeyButtons[character], enabled);
}

// Pango draws the text, unsmoothed, into a coverage mask that becomes the
// surface's bytes in the two colours' entries.
int32_t PlatformText(const PlatformTextRequest& request)
{
    if (!request.text || G.Surface.empty() || request.height == 0) return 0;
    PangoFontMap* fonts = pango_cairo_font_map_get_default();
    PangoContext* context = pango_font_map_create_context(fonts);
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_NONE);
    pango_cairo_context_set_font_options(context, options);
    cairo_font_options_destroy(options);
    PangoFontDescription* font = pango_font_description_from_string(TextFaces);
    pango_font_description_set_weight(font, PANGO_WEIGHT_THIN);
    // A negative height is the characters' own; a positive one the cell's,
    // which the font's ascent and descent make up.
    const int32_t size = request.height < 0 ? -request.height : request.height;
    pango_font_description_set_absolute_size(font, size * PANGO_SCALE);
    if (request.height > 0) {
        PangoFontMetrics* metrics = pango_context_get_metrics(context, font, nullptr);
        const int cell = pango_font_metrics_get_ascent(metrics) + pango_font_metrics_get_descent(metrics);
        pango_font_metrics_unref(metrics);
        if (cell > 0) pango_font_description_set_absolute_size(font, static_cast<double>(size) * size * PANGO_SCALE * PANGO_SCALE / cell);
    }
    PangoLayout* layout = pango_layout_new(context);
    pango_layout_set_font_description(layout, font);
    gchar* valid = g_utf8_make_valid(request.text, -1);
    pango_layout_set_text(layout, valid, -1);
    g_free(valid);
    PangoRectangle ink, logical;
    pango_layout_get_pixel_extents(layout, &ink, &logical);
    int32_t drawn = 0;
    const int32_t w = logical.width, h = logical.height;
    if (w > 0 && h > 0 && w <= 4 * G.SurfaceColumns && h <= 4 * G.SurfaceRows) {
        cairo_surface_t* mask = cairo_image_surface_create(CAIRO_FORMAT_A8, w, h);
        cairo_t* cr = cairo_create(mask);
        cairo_set_source_rgba(cr, 0, 0, 0, 1);
        cairo_move_to(cr, -logical.x, -logical.y);
        pango_cairo_show_layout(cr, layout);
        cairo_destroy(cr);
        cairo_surface_flush(mask);
        const uint8_t* data = cairo_image_surface_get_data(mask);
        const int stride = cairo_image_surface_get_stride(mask);
        std::vector<uint8_t> coverage(static_cast<size_t>(w) * static_cast<size_t>(h));
        RasterCopyBlock(coverage.data(), w, data, stride, w, h);
        cairo_surface_destroy(mask);
        RasterTextMask(RasterTarget{G.Surface.data(), G.SurfaceColumns, G.SurfaceRows, G.SurfaceColumns}, request.x, request.y, coverage.data(), w, h,
                       request.ink, request.paper);
        drawn = 1;
        if (request.intoWindow) PlatformPresent(G.SurfaceColumns, G.SurfaceRows);
    }
    g_object_unref(layout);
    pango_font_description_free(font);
    g_object_unref(context);
    return drawn;
}

void PlatformShutdown(int32_t)
{
    if (G.Picture) cairo_surface_destroy(G.Picture);
    G.Picture = nullptr;
    std::fflush(stdout);
    EndSignalsFinish();
}

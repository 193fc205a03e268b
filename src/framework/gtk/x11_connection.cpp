// Xlib apart from the rest of the backend: its names (Window, Display,
// Status, None) would clash with ours.
#include "framework/gtk/gtk.h"

#ifdef GDK_WINDOWING_X11
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <gdk/gdkx.h>

namespace {

void (*Lost)() = nullptr;

// Xlib ends the process itself should this return.
int OnConnectionLost(Display*)
{
    if (Lost) Lost();
    return 0;
}

} // namespace

void GtkOnX11ConnectionLost(GdkDisplay* display, void (*lost)())
{
    if (!GDK_IS_X11_DISPLAY(display)) return;
    Lost = lost;
    XSetIOErrorHandler(OnConnectionLost);
}

int GtkX11KeyboardGroup(GdkDisplay* display)
{
    if (!GDK_IS_X11_DISPLAY(display)) return -1;
    XkbStateRec state = {};
    if (XkbGetState(GDK_DISPLAY_XDISPLAY(display), XkbUseCoreKbd, &state) != Success) return -1;
    return state.group;
}
#else
void GtkOnX11ConnectionLost(GdkDisplay*, void (*)()) {}
int GtkX11KeyboardGroup(GdkDisplay*) { return -1; }
#endif

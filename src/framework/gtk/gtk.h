// What the GTK backend's files share.
#pragma once
#include <gdk/gdk.h>

// On an X11 display, calls `lost` (which must not return) when the
// connection to the X server is lost, instead of GDK's handler, which ends
// the process at once. Elsewhere it does nothing.
void GtkOnX11ConnectionLost(GdkDisplay* display, void (*lost)());
// The keyboard's group (layout) in force on an X11 display; -1 elsewhere.
int GtkX11KeyboardGroup(GdkDisplay* display);

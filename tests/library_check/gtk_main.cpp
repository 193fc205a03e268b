// talvo-library-check on GTK: the clipboard read back through GTK.
#include <gtk/gtk.h>

#include "framework/palette_builder.h"
#include "framework/start.h"
#include "framework/window.h"
#include "library_check.h"

bool ClipboardHoldsTheSurface()
{
    GdkPixbuf* picture = gtk_clipboard_wait_for_image(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD));
    bool same = picture && gdk_pixbuf_get_width(picture) == SurfaceWidth &&
                gdk_pixbuf_get_height(picture) == SurfaceHeight && gdk_pixbuf_get_n_channels(picture) >= 3;
    for (int32_t y = 0; same && y < SurfaceHeight; ++y)
        for (int32_t x = 0; same && x < SurfaceWidth; ++x) {
            const guchar* p = gdk_pixbuf_get_pixels(picture) + y * gdk_pixbuf_get_rowstride(picture) +
                              x * gdk_pixbuf_get_n_channels(picture);
            const uint8_t* c = ColourTable[SurfaceBits[y * SurfaceWidth + x]];
            same = p[0] == c[2] && p[1] == c[1] && p[2] == c[0];
        }
    if (picture) g_object_unref(picture);
    return same;
}

int main(int argc, char** argv)
{
    if (!gtk_init_check(&argc, &argv)) return 3;
    return AppStart(CheckMain) == 0 ? 1 : 0;
}

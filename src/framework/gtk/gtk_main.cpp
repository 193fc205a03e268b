// talvo: the program in a GTK window (app/run_talvo.cpp reads the command
// line). GTK's own options (--display, ...) are taken out first, without a
// display, so that --version, --help and a bad command line need none.
#include <gtk/gtk.h>

#include <cstdio>

#include "framework/end_signals.h"
#include "framework/program_entry.h"

namespace {

// Tells scripts/run that there is no screen, as opposed to a failure.
constexpr int NoDisplayStatus = 3;

int OpenDisplay()
{
    if (gtk_init_check(nullptr, nullptr)) return 0;
    std::fprintf(stderr, "talvo: no display to open the window on; talvo-sim runs without one\n");
    return NoDisplayStatus;
}

} // namespace

int main(int argc, char** argv)
{
    // Before anything else: a session that ends from now on saves the scene.
    EndSignalsWatch();
    g_set_prgname("talvo");
    g_set_application_name("Talvo");
    gtk_parse_args(&argc, &argv);
    PlatformEntry entry;
    // The names are the file system's bytes, handed on as they are.
    entry.arguments.assign(argv + 1, argv + argc);
    entry.prepare = OpenDisplay;
    return RunTalvo(entry);
}

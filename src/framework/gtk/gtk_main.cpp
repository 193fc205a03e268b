// talvo: the program in a GTK window.
//   talvo [--data-home] [SCENE]
//   talvo --version
// --data-home works in $XDG_DATA_HOME/talvo (made when missing), as the
// desktop menu starts it; otherwise the current directory is the scene
// folder. TALVO_BENCH=1 prints the frame timing at exit.
#include <gtk/gtk.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/journal.h"
#include "app/main_routine.h"
#include "framework/end_signals.h"
#include "framework/start.h"
#include "framework/window.h"
#include "talvo_version.h"

namespace {

// Tells scripts/run that there is no screen, as opposed to a failure.
constexpr int NoDisplayStatus = 3;

void PrintBenchLine()
{
    std::fputs(FrameStatisticsLine().c_str(), stdout);
}

} // namespace

int main(int argc, char** argv)
{
    // Before anything else: a session that ends from now on saves the scene.
    EndSignalsWatch();
    // Answered before GTK starts, so that it needs no display.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::puts("talvo " TALVO_VERSION);
        return 0;
    }
    g_set_prgname("talvo");
    g_set_application_name("Talvo");
    if (!gtk_init_check(&argc, &argv)) {
        std::fprintf(stderr, "talvo: no display to open the window on; talvo-sim runs without one\n");
        return NoDisplayStatus;
    }

    // The program sees its own arguments only: the scene, or whatever it was given.
    static std::vector<std::string> names;
    bool dataHome = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--data-home") == 0) {
            dataHome = true;
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::puts("usage: talvo [--data-home] [SCENE]\n       talvo --version");
            return 0;
        } else {
            names.push_back(argv[i]);
        }
    }
    if (dataHome) {
        // A scene named on the command line still means the file it named.
        for (std::string& name : names) {
            gchar* full = g_canonicalize_filename(name.c_str(), nullptr);
            name = full;
            g_free(full);
        }
        const std::string folder = std::string(g_get_user_data_dir()) + "/talvo";
        if (g_mkdir_with_parents(folder.c_str(), 0755) != 0 || chdir(folder.c_str()) != 0) {
            std::fprintf(stderr, "talvo: cannot work in %s: %s\n", folder.c_str(), std::strerror(errno));
            return 1;
        }
    }
    static std::vector<char*> programArgs{argv[0]};
    for (std::string& name : names) programArgs.push_back(name.data());
    programArgs.push_back(nullptr);
    SetProgramArguments(static_cast<int>(programArgs.size() - 1), programArgs.data());

    // The window keeps a journal of its session: a crash loses a second.
    SetJournalKept(true);
    const char* bench = std::getenv("TALVO_BENCH");
    if (bench && std::strcmp(bench, "1") == 0) {
        FrameStats.enabled = true;
        std::atexit(PrintBenchLine);
    }
    return AppStart(TalvoMain) == 0 ? 1 : 0;
}

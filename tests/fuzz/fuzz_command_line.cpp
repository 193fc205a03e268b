// Any command line (arguments split at zero bytes) is taken or refused by
// talvo-sim, and the program's own rule names the scene by exactly the one
// argument, or by none at all.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "../../tools/sim_input.h"
#include "app/scene_handlers.h"
#include "files/scene_file.h"
#include "framework/headless/headless.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzStart();
    std::vector<std::string> words(1, "talvo-sim");
    std::string word;
    for (size_t i = 0; i <= size; ++i) {
        if (i == size || data[i] == 0) {
            words.push_back(word);
            word.clear();
        } else {
            word += static_cast<char>(data[i]);
        }
    }
    if (words.size() > 64) return 0;
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    const int argc = static_cast<int>(words.size());

    SimOptions options;
    std::string error;
    if (ParseSimOptions(argc, argv.data(), &options, &error)) {
        if (options.frames < 1 || options.frames > INT32_MAX) std::abort();
    } else if (error.empty()) {
        std::abort();
    }

    std::strcpy(SceneFileName, "Default.talvo");
    const int32_t errors = HeadlessErrorCount();
    ApplyCommandLine(argc, argv.data());
    const std::string name = SceneFileName;
    if (argc != 2) {
        if (name != "Default.talvo" || HeadlessErrorCount() != errors) std::abort();
    } else if (words[1].empty() || words[1].size() >= SceneFileNameSize) {
        if (!name.empty() || HeadlessErrorCount() != errors + 1) std::abort();
    } else if (name != words[1]) {
        std::abort();
    }
    return 0;
}

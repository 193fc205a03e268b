// Any events file is read into events a run can take, or refused with one
// short line that shows no raw control character.
#include <cstdlib>
#include <string>
#include <vector>

#include "../../tools/sim_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<HeadlessEvent> events;
    std::string error;
    if (!ParseSimEvents(text, &events, &error)) {
        if (error.empty() || error.size() > 1200) std::abort();
        for (const char c : error)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) std::abort();
        return 0;
    }
    int64_t last = 1;
    for (const HeadlessEvent& event : events) {
        if (event.frame < last || event.frame > INT32_MAX) std::abort();
        if (event.kind == HeadlessEvent::Drop && (event.path.empty() || event.path.find('\n') != std::string::npos))
            std::abort();
        last = event.frame;
    }
    return 0;
}

#include "framework/surface_bytes.h"

#include <cstring>

#ifdef TALVO_FIELD_AT
extern "C" const char __global_base; // where the linker put the program's data
#endif

void SurfaceBytes::assign(size_t size, uint8_t value)
{
#ifdef TALVO_FIELD_AT
    // The room up to the data is kept free by the link (-sGLOBAL_BASE).
    const uintptr_t room = reinterpret_cast<uintptr_t>(&__global_base);
    if (room > TALVO_FIELD_AT && size <= room - TALVO_FIELD_AT) {
        heap_ = std::vector<uint8_t>();
        bits_ = reinterpret_cast<uint8_t*>(TALVO_FIELD_AT);
        size_ = size;
        std::memset(bits_, value, size);
        return;
    }
#endif
    heap_.assign(size, value);
    bits_ = heap_.data();
    size_ = size;
}

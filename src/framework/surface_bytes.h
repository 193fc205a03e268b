// The bytes of the window's surface, which the program draws into and the
// particle step moves grains in. Where the build names a fixed address for
// them (TALVO_FIELD_AT, the web build), they live there when they fit, so
// that the step can reach each cell at a constant offset from its position;
// elsewhere, and for a surface that does not fit, on the heap. A platform
// keeps one surface at a time; two would share the fixed address.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

class SurfaceBytes {
public:
    // `size` bytes, each `value`; what was there before is gone.
    void assign(size_t size, uint8_t value);
    uint8_t* data() { return bits_; }
    const uint8_t* data() const { return bits_; }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    uint8_t& operator[](size_t i) { return bits_[i]; }
    const uint8_t& operator[](size_t i) const { return bits_[i]; }

private:
    std::vector<uint8_t> heap_;
    uint8_t* bits_ = nullptr;
    size_t size_ = 0;
};

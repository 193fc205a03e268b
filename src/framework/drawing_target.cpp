#include "framework/drawing_target.h"

#include "framework/window.h"

namespace {

struct TargetState {
    bool elsewhere = false;
    DrawingTarget target = {nullptr, nullptr, nullptr};
};

TargetState Target;

} // namespace

void SelectDrawingTarget(const DrawingTarget* target)
{
    Target.elsewhere = target != nullptr;
    Target.target = target ? *target : DrawingTarget{nullptr, nullptr, nullptr};
}

bool DrawingOnWindow() { return !Target.elsewhere; }

uint8_t* TargetBits() { return Target.elsewhere ? Target.target.bits : SurfaceBits; }

uint8_t (*TargetColours())[4] { return Target.elsewhere ? Target.target.colours : SurfaceColours; }

PaletteTables& TargetPalette() { return Target.elsewhere ? *Target.target.palette : WindowPalette; }

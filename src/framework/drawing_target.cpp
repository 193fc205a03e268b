#include "framework/drawing_target.h"

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

const DrawingTarget* SelectedDrawingTarget() { return Target.elsewhere ? &Target.target : nullptr; }

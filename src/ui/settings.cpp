#include "ui/settings.h"

int32_t DrawingEnabled = 1;
int32_t PenSize = 1;
int32_t EraserSize = 2;
int16_t Speed = 4;
int16_t SlotKind1 = 3;
int16_t SlotKind2 = 0;

void SetDefaultSettings()
{
    DrawingEnabled = 1;
    PenSize = 1;
    EraserSize = 2;
    Speed = 4;
    SlotKind1 = 3;
    SlotKind2 = 0;
}

#include "ui/commands.h"

namespace {

void (*Offered[CommandCount])() = {};

} // namespace

void OfferCommand(ProgramCommand command, void (*step)())
{
    if (command > CommandNone && command < CommandCount) Offered[command] = step;
}

void RunCommand(ProgramCommand command)
{
    if (command > CommandNone && command < CommandCount && Offered[command]) Offered[command]();
}

void CommandsReset()
{
    for (auto& step : Offered) step = nullptr;
}

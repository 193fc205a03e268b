// The commands of the window's keys and menu that are the program's to
// carry out, not the interface's: one table, offered at start-up.
#pragma once

enum ProgramCommand {
    CommandNone = -1,
    // "Clear": a new scene.
    CommandClear,
    // A stroke is about to change the field for the first time (the program
    // keeps what the field was, for undo).
    CommandBeforeStroke,
    CommandUndo,
    CommandRedo,
    // Save a picture of the field, an animation of the last minute.
    CommandPicture,
    CommandAnimation,
    // One frame at a time.
    CommandFrame,
    CommandCount
};

// What `command` does from now on (null: nothing).
void OfferCommand(ProgramCommand command, void (*step)());
// Runs it, where the program offered it.
void RunCommand(ProgramCommand command);
// Nothing offered.
void CommandsReset();

#include "sim/rules.h"

// Kind after kind, state after state: letter 16 * state + column of a kind is
// the move for that neighbourhood state and random column.
const char RuleText[RuleTextLength + 1] =
    // 0: Normal sand
    "DDDDDDDDDDDDDDDD" //  0
    "DDDDDDDDDDDDDDDD" //  1
    "DDDDDDDDDDDDDDDR" //  2
    "DDDDDDDDDDDDDDRR" //  3
    "DDDDDDDDDDDDDDDL" //  4
    "DDDDDDDDDDDDDDLL" //  5
    "DDDDDDDDDDDDDDDD" //  6
    "DDDDDDDDDDDDDDDD" //  7
    "RRRRRRLLLLLLXXXX" //  8
    "RRRRRRRLLLLLLLXX" //  9
    "RRRRRRRRRRRRRRUU" // 10
    "RRRRRRRRRRRRRRRR" // 11
    "LLLLLLLLLLLLLLUU" // 12
    "LLLLLLLLLLLLLLLL" // 13
    "XXXXXXXXXXXUUUUU" // 14
    "XXXXXXXXXXXXXXXX" // 15
    // 1: Heavy sand
    "DDDDDDDDDDDDDDDD" //  0
    "DDDDDDDDDDDDDDDD" //  1
    "DDDDDDDDDDDDDRRR" //  2
    "DDDDDDDDDDDDRRRR" //  3
    "DDDDDDDDDDDDDLLL" //  4
    "DDDDDDDDDDDDLLLL" //  5
    "DDDDDDDDDDDDDDDD" //  6
    "DDDDDDDDDDDDDDDD" //  7
    "RLXXXXXXXXXXXXXX" //  8
    "RRRRRRLLLLLLXXXX" //  9
    "RXXXXXXXXXXXXXXX" // 10
    "RRRRRRRRRRRRXXXX" // 11
    "LXXXXXXXXXXXXXXX" // 12
    "LLLLLLLLLLLLXXXX" // 13
    "XXXXXXXXXXXXXXXX" // 14
    "XXXXXXXXXXXXXXXX" // 15
    // 2: Dusty sand
    "DDDDDDDDDURRRLLL" //  0
    "DDDDDDDDDDRRRLLL" //  1
    "DDDDDDDDDDRRRRRR" //  2
    "DDDDDDDDDDRRRRRR" //  3
    "DDDDDDDDDDLLLLLL" //  4
    "DDDDDDDDDDLLLLLL" //  5
    "DDDDDDDDDDDDDDDD" //  6
    "DDDDDDDDDDDDDDDD" //  7
    "RRRRRRLLLLLLUXXX" //  8
    "RRRRRRRLLLLLLLXX" //  9
    "RRRRRRRRRRRRRRUX" // 10
    "RRRRRRRRRRRRRRRX" // 11
    "LLLLLLLLLLLLLLUX" // 12
    "LLLLLLLLLLLLLLLX" // 13
    "XXXXXXXXXXXXUUUU" // 14
    "XXXXXXXXXXXXXXXX" // 15
    // 3: Boiling sand
    "DDDDDDDDDDDDDDDD" //  0
    "DDDDDDDDDDDDDDDD" //  1
    "DDDDDDDDDDDDDRRR" //  2
    "DDDDDDDDDDDDRRRR" //  3
    "DDDDDDDDDDDDDLLL" //  4
    "DDDDDDDDDDDDLLLL" //  5
    "DDDDDDDDDDDDDDDD" //  6
    "DDDDDDDDDDDDDDDD" //  7
    "RRRRRRLLLLLLXXXX" //  8
    "RRRRRRRLLLLLLLXX" //  9
    "RRRRRRRRRRRRUUUU" // 10
    "RRRRRRRRRRRRRRRR" // 11
    "LLLLLLLLLLLLUUUU" // 12
    "LLLLLLLLLLLLLLLL" // 13
    "UUUUUUUUUUUUUUUU" // 14
    "XXXXXXXXXXXXXXXX" // 15
    // 4: Magical sand
    "DDDDDDDDDDDDDDDD" //  0
    "DDDDDDDDDDDDRRLL" //  1
    "DDDDDDDDDDDDDRRR" //  2
    "XXXXXXXXXXXXXXXD" //  3
    "DDDDDDDDDDDDDLLL" //  4
    "XXXXXXXXXXXXXXXD" //  5
    "XXXXXXXXXXXXXXXU" //  6
    "XXXXXXXXXXXXXXXD" //  7
    "RRRRRRLLLLLLXXXX" //  8
    "RRRRRRRLLLLLLLXX" //  9
    "XXXXXXXXXXXRRRRR" // 10
    "XXXXXXXXXXXXXXXR" // 11
    "XXXXXXXXXXXLLLLL" // 12
    "LXXXXXXXXXXXXXXX" // 13
    "XXXXXXXXXXXXXXXX" // 14
    "XXXXXXXXXXXXXXXX" // 15
    ;

int32_t* RuleBlock = nullptr;

static int32_t LetterOffset(char letter)
{
    switch (letter) {
    case 'D': return FieldWidth;
    case 'U': return -FieldWidth;
    case 'L': return -1;
    case 'R': return 1;
    default: return 0;
    }
}

void BuildRuleTable(const char* letters, int32_t* table)
{
    for (int32_t i = 0; i < RuleTableSize; ++i) table[i] = LetterOffset(letters[i]);
}

void BuildAllRuleTables(int32_t* block)
{
    for (int32_t kind = 0; kind < SandKindCount; ++kind)
        BuildRuleTable(RuleText + RuleTableSize * kind, block + RuleTableSize * kind);
}

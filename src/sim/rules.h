// The movement rules of the five sand kinds, as tables of position offsets
// indexed by 16 * neighbourhood state + random column.
#pragma once
#include <cstdint>

#include "sim/field.h"

constexpr int32_t SandKindCount = 5;
constexpr int32_t RuleTableSize = 256;
constexpr int32_t RuleTextLength = SandKindCount * RuleTableSize;

extern const char RuleText[RuleTextLength + 1];
// The five tables back to back, kind k's from entry 256 * k; reserved once by
// the main routine.
extern int32_t* RuleBlock;

void BuildRuleTable(const char* letters, int32_t* table);
void BuildAllRuleTables(int32_t* block);

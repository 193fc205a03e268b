// The list of the keys: each letter key named as the layout labels it,
// and showing it changes nothing of the scene.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "framework/headless/headless.h"
#include "framework/window.h"
#include "test_support.h"
#include "ui/key_list.h"

namespace {

std::map<std::string, std::string> Lines(const std::string& text)
{
    std::map<std::string, std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        const size_t tab = line.find('\t');
        EXPECT_NE(tab, std::string::npos) << line;
        EXPECT_EQ(line.find('\t', tab + 1), std::string::npos) << line;
        lines[line.substr(0, tab)] = tab == std::string::npos ? "" : line.substr(tab + 1);
    }
    return lines;
}

// A Russian keyboard: the letters its keys type at the Latin ones' places.
int32_t Russian(uint32_t letter, char* buffer, int32_t size)
{
    static const std::map<uint32_t, std::string> Labels = {
        {'Z', "\xd0\xaf"}, {'Y', "\xd0\x9d"}, {'C', "\xd0\xa1"}, {'P', "\xd0\x97"}, {'G', "\xd0\x9f"}};
    const auto found = Labels.find(letter);
    if (found == Labels.end()) return 0;
    std::strncpy(buffer, found->second.c_str(), static_cast<size_t>(size));
    return static_cast<int32_t>(found->second.size());
}

// What a platform might answer for Z (nothing for the others): the letter
// itself in small letters, or something that is no label.
const char* Answer = "";
int32_t Answering(uint32_t letter, char* buffer, int32_t size)
{
    if (letter != 'Z') return 0;
    std::strncpy(buffer, Answer, static_cast<size_t>(size) - 1);
    buffer[size - 1] = 0;
    return static_cast<int32_t>(std::strlen(Answer));
}

TEST(KeyList, NamesEveryKeyByItsLatinLetterWhereTheLayoutSaysNothing)
{
    for (const KeyLabelLookup lookup : {static_cast<KeyLabelLookup>(nullptr), static_cast<KeyLabelLookup>(KeyLabel)}) {
        HeadlessReset();
        const auto lines = Lines(KeyListText(lookup));
        EXPECT_EQ(lines.at("Ctrl+Z"), "undo the last stroke of the pen or eraser, or Clear");
        EXPECT_EQ(lines.at("Ctrl+Y, Ctrl+Shift+Z"), "redo what was undone");
        EXPECT_NE(lines.at("Ctrl+C").find("clipboard"), std::string::npos);
        EXPECT_NE(lines.at("P").find("picture"), std::string::npos);
        EXPECT_NE(lines.at("G").find("animated GIF"), std::string::npos);
        for (const char* key : {"Left button", "Right button", "Ctrl+plus, Ctrl+minus", "Ctrl+0", "F1", ". (period)"})
            EXPECT_EQ(lines.count(key), 1u) << key;
    }
}

TEST(KeyList, NamesLetterKeysAsTheLayoutLabelsThemWithTheLatinLetterBeside)
{
    const std::string text = KeyListText(Russian);
    const auto lines = Lines(text);
    EXPECT_EQ(lines.count("Ctrl+\xd0\xaf (Z)"), 1u) << text;
    EXPECT_EQ(lines.count("Ctrl+\xd0\x9d (Y), Ctrl+Shift+\xd0\xaf (Z)"), 1u) << text;
    EXPECT_EQ(lines.count("Ctrl+\xd0\xa1 (C)"), 1u) << text;
    EXPECT_EQ(lines.count("\xd0\x97 (P)"), 1u) << text;
    EXPECT_EQ(lines.count("\xd0\x9f (G)"), 1u) << text;
    // The zoom keys go by what they type, on every layout.
    EXPECT_EQ(lines.count("Ctrl+plus, Ctrl+minus"), 1u) << text;
    EXPECT_EQ(text.find('{'), std::string::npos) << text;
}

TEST(KeyList, ALabelThatIsTheLetterOrNoLabelLeavesTheLatinLetter)
{
    for (const char* answer : {"z", "Z", "\t", "\n", "\x1b", "a label far longer than any key's label is"}) {
        Answer = answer;
        const auto lines = Lines(KeyListText(Answering));
        EXPECT_EQ(lines.count("Ctrl+Z"), 1u) << "answer " << answer;
        EXPECT_EQ(lines.count("Ctrl+Y, Ctrl+Shift+Z"), 1u) << "answer " << answer;
    }
    // Any other letter is the layout's, capitalised.
    Answer = "q";
    EXPECT_EQ(Lines(KeyListText(Answering)).count("Ctrl+Q (Z)"), 1u);
}

TEST(KeyList, TheWindowsKeysButtonShowsTheListAsThePlatformLabelsTheKeys)
{
    HeadlessReset();
    HeadlessSetKeyLabel('Z', "\xd0\xaf");
    OnCommand(MainWindow, WmCommand, IdZoom + 2, 0);
    EXPECT_TRUE(HeadlessKeyLists().empty());
    OnCommand(MainWindow, WmCommand, IdKeys, 0);
    ASSERT_EQ(HeadlessKeyLists().size(), 1u);
    EXPECT_EQ(Lines(HeadlessKeyLists()[0]).count("Ctrl+\xd0\xaf (Z)"), 1u) << HeadlessKeyLists()[0];
    HeadlessReset();
}

// F1 in a run: the list is shown, and the scene is byte for byte the one
// of the same run without it.
TEST(KeyList, F1ShowsTheListAndTheSceneIsTheOneSavedWithoutIt)
{
    TempDir dir;
    const std::string stroke = "2 lbuttondown 30 300\n3 mousemove 300 310\n4 lbuttonup 300 310\n";
    WriteFileText("plain.txt", stroke);
    WriteFileText("f1.txt", stroke + "5 key 112\n20 key 112\n");
    ASSERT_EQ(RunSim("--frames 40 --seed 4 --events plain.txt plain.talvo"), 0) << ReadText("sim.err");
    EXPECT_EQ(ReadText("sim.out").find("Ctrl+Z"), std::string::npos);
    ASSERT_EQ(RunSim("--frames 40 --seed 4 --events f1.txt f1.talvo"), 0) << ReadText("sim.err");
    const std::string shown = ReadText("sim.out");
    EXPECT_NE(shown.find("Keys:\n"), std::string::npos) << shown;
    EXPECT_NE(shown.find("Ctrl+Z\tundo"), std::string::npos) << shown;
    EXPECT_EQ(ReadFileBytes("f1.talvo"), ReadFileBytes("plain.talvo"));
}

} // namespace

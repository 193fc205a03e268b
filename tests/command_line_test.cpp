// The command line every way into Talvo shares (app/command_line.h).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "framework/file_system.h"
#include "test_support.h"

namespace {

using Args = std::vector<std::string>;

CommandLineRules Desktop(bool slashHelp = false)
{
    CommandLineRules rules;
    rules.slashHelp = slashHelp;
    return rules;
}

CommandLine Parsed(const Args& args, const CommandLineRules& rules = Desktop())
{
    CommandLine line;
    std::string error;
    EXPECT_TRUE(ParseCommandLine(args, rules, &line, &error)) << error;
    return line;
}

std::string Refusal(const Args& args, const CommandLineRules& rules = Desktop())
{
    CommandLine line;
    std::string error;
    EXPECT_FALSE(ParseCommandLine(args, rules, &line, &error));
    return error;
}

} // namespace

TEST(CommandLine, EverySharedOptionIsReadWhereverItStands)
{
    const CommandLine plain = Parsed({});
    EXPECT_FALSE(plain.help || plain.version || plain.dataHome);
    EXPECT_TRUE(plain.scenes.empty());

    const CommandLine line = Parsed({"a.talvo", "--data-home", "b.talvo"});
    EXPECT_TRUE(line.dataHome);
    EXPECT_FALSE(line.help || line.version);
    EXPECT_EQ(line.scenes, (Args{"a.talvo", "b.talvo"}));

    EXPECT_TRUE(Parsed({"--help"}).help);
    EXPECT_TRUE(Parsed({"x.talvo", "-h"}).help);
    EXPECT_TRUE(Parsed({"--version", "x.talvo"}).version);
    // A lone "-" is a name, as it is to most programs.
    EXPECT_EQ(Parsed({"-"}).scenes, Args{"-"});
}

TEST(CommandLine, NamesThatBeginWithADashAreReachedAfterTheEndOfOptionsOrAsAPath)
{
    EXPECT_EQ(Parsed({"./-name.talvo"}).scenes, Args{"./-name.talvo"});
    const CommandLine line = Parsed({"--data-home", "--", "-name.talvo", "--version", "--"});
    EXPECT_TRUE(line.dataHome);
    EXPECT_FALSE(line.version);
    EXPECT_EQ(line.scenes, (Args{"-name.talvo", "--version", "--"}));
}

TEST(CommandLine, AnUnknownOptionIsRefusedNeverTakenForAScene)
{
    EXPECT_EQ(Refusal({"--bogus"}), "unknown option \"--bogus\"");
    EXPECT_EQ(Refusal({"x.talvo", "-q"}), "unknown option \"-q\"");
    // Refused even beside a request for help, as a typo is worth saying.
    EXPECT_EQ(Refusal({"--help", "--versoin"}), "unknown option \"--versoin\"");
    // Control characters are shown escaped.
    EXPECT_EQ(Refusal({"--\x1b[2J"}), "unknown option \"--\\x1B[2J\"");
    // /? is help on Windows alone: elsewhere it is a file's name.
    EXPECT_TRUE(Parsed({"/?"}, Desktop(true)).help);
    EXPECT_EQ(Parsed({"/?"}).scenes, Args{"/?"});
}

TEST(CommandLine, AProgramsOwnOptionsComeBackInOrderWithTheirValues)
{
    CommandLineRules rules;
    rules.dataHome = false;
    rules.own = {{"--frames", true}, {"--bench", false}};
    const CommandLine line = Parsed({"--frames", "5", "s.talvo", "--bench", "--frames", "--bench"}, rules);
    ASSERT_EQ(line.own.size(), 3u);
    EXPECT_EQ(line.own[0], (std::pair<std::string, std::string>{"--frames", "5"}));
    EXPECT_EQ(line.own[1], (std::pair<std::string, std::string>{"--bench", ""}));
    // A value is whatever follows, an option's name included.
    EXPECT_EQ(line.own[2], (std::pair<std::string, std::string>{"--frames", "--bench"}));
    EXPECT_EQ(line.scenes, Args{"s.talvo"});

    EXPECT_EQ(Refusal({"s.talvo", "--frames"}, rules), "--frames needs a value");
    // Without --data-home among its options, a program refuses it.
    EXPECT_EQ(Refusal({"--data-home"}, rules), "unknown option \"--data-home\"");
    // The desktop program knows none of them.
    EXPECT_EQ(Refusal({"--frames", "5"}), "unknown option \"--frames\"");
}

// --data-home leaves the current folder: a scene named beside it must still
// mean the file it named, by its names alone (no link is followed).
TEST(FileSystem, ASceneNamedBesideDataHomeKeepsMeaningTheFileItNamed)
{
    TempDir dir;
    char* here = getcwd(nullptr, 0);
    ASSERT_NE(here, nullptr);
    const std::string cwd = here;
    std::free(here);
    EXPECT_EQ(FileFullName("s.talvo"), cwd + "/s.talvo");
    EXPECT_EQ(FileFullName("./-s.talvo"), cwd + "/-s.talvo");
    EXPECT_EQ(FileFullName("a/./b/../c.talvo"), cwd + "/a/c.talvo");
    EXPECT_EQ(FileFullName("/x//y/../z.talvo"), "/x/z.talvo");
    EXPECT_EQ(FileFullName("/.."), "/");
    EXPECT_EQ(FileFullName(""), "");
    ASSERT_TRUE(FileMakeFolders("sub"));
    ASSERT_TRUE(FileEnterFolder("sub"));
    EXPECT_EQ(FileFullName("s.talvo"), cwd + "/sub/s.talvo");
    EXPECT_FALSE(FileEnterFolder("missing"));
    ASSERT_TRUE(FileEnterFolder(".."));
}

// The journal's reader and the scene's hash read through this.
TEST(FileSystem, FilesAreReadWholeOrUpToALimitAndOnlyRegularOnes)
{
    TempDir dir;
    WriteFileBytes("f.bin", {1, 2, 3, 4, 5});
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(FileReadWhole("f.bin", &bytes));
    EXPECT_EQ(bytes, (std::vector<uint8_t>{1, 2, 3, 4, 5}));
    bytes.clear();
    ASSERT_TRUE(FileReadWhole("f.bin", &bytes, 3));
    EXPECT_EQ(bytes, (std::vector<uint8_t>{1, 2, 3}));
    // Past the 64 KiB a read takes at a time.
    std::vector<uint8_t> large(200000);
    for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<uint8_t>(i * 7);
    WriteFileBytes("large.bin", large);
    bytes.clear();
    ASSERT_TRUE(FileReadWhole("large.bin", &bytes));
    EXPECT_EQ(bytes, large);
    bytes.clear();
    ASSERT_TRUE(FileReadWhole("large.bin", &bytes, 70000));
    EXPECT_EQ(bytes, std::vector<uint8_t>(large.begin(), large.begin() + 70000));
    bytes.clear();
    EXPECT_FALSE(FileReadWhole("missing.bin", &bytes));
    ASSERT_TRUE(FileMakeFolders("folder"));
    EXPECT_FALSE(FileReadWhole("folder", &bytes));
    EXPECT_TRUE(bytes.empty());
}

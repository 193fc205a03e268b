#include "test_support.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/journal.h"
#include "app/main_routine.h"
#include "framework/headless/headless.h"
#include "framework/start.h"
#include "framework/window.h"
#include "sim/field.h"
#include "sim/particles.h"
#include "sim/rules.h"
#include "sim_input.h"

// The program ends its process when its window goes away. Inside a test that
// would pass for success; only a death test may end that way.
static void OnUnexpectedExit(int32_t code)
{
    if (testing::internal::InDeathTestChild()) return;
    std::fprintf(stderr, "the program ended the test process (code %d)\n", code);
    std::abort();
}

void StartOn(const char* scene)
{
    StartProgram();
    static char name[64];
    std::snprintf(name, sizeof name, "%s", scene);
    static char* args[] = {nullptr, name, nullptr};
    SetProgramArguments(2, args);
    StartUp();
}

KeptJournal::KeptJournal() { SetJournalKept(true); }
KeptJournal::~KeptJournal()
{
    JournalReset();
    SetJournalKept(false);
}

void StartProgram()
{
    HeadlessReset();
    HeadlessOnExit(OnUnexpectedExit);
    FrameworkReset();
    ProgramReset();
    AppCreateWindow();
    Field = SurfaceBits;
    static std::vector<int32_t> rules(RuleTextLength);
    static std::vector<int32_t> grains(ParticleCapacity);
    RuleBlock = rules.data();
    BuildAllRuleTables(RuleBlock);
    ParticleList = grains.data();
}

void ScheduleEvents(const std::string& text)
{
    std::vector<HeadlessEvent> events;
    std::string error;
    if (!ParseSimEvents(text, &events, &error)) ADD_FAILURE() << error;
    for (HeadlessEvent& event : events) {
        event.frame += HeadlessFrame();
        HeadlessSchedule(event);
    }
}

int32_t CountKind(uint8_t kind)
{
    int32_t n = 0;
    for (int32_t i = 0; i < FieldSize; ++i) n += (Field[i] & KindMask) == kind;
    return n;
}

TempDir::TempDir()
{
    char pattern[] = "/tmp/talvo-test-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (!made) std::abort();
    root_ = made;
    path_ = root_ + "/work";
    std::filesystem::create_directory(path_);
    previous_ = std::filesystem::current_path().string();
    std::filesystem::current_path(path_);
    setenv("XDG_DATA_HOME", (root_ + "/data").c_str(), 1);
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
    std::filesystem::remove_all(root_, ignored);
}

std::vector<std::string> TempDir::Rescued() const
{
    std::vector<std::string> names;
    std::error_code none;
    for (const auto& entry : std::filesystem::directory_iterator(root_ + "/data/talvo", none))
        if (entry.path().filename().string().rfind("rescued-", 0) == 0) names.push_back(entry.path().string());
    std::sort(names.begin(), names.end());
    return names;
}

int RunSim(const std::string& args)
{
    const std::string command =
        std::string("timeout -k 5 60 '") + TALVO_SIM_PATH + "' " + args + " >sim.out 2>sim.err </dev/null";
    const int status = std::system(command.c_str());
    return status == -1 || !WIFEXITED(status) ? -1 : WEXITSTATUS(status);
}

std::string ReadText(const std::string& name)
{
    const std::vector<uint8_t> bytes = ReadFileBytes(name);
    return std::string(bytes.begin(), bytes.end());
}

std::vector<uint8_t> ReadFileBytes(const std::string& name)
{
    std::ifstream in(name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& name, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void WriteFileText(const std::string& name, const std::string& text)
{
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out << text;
}

bool FileExists(const std::string& name)
{
    return std::filesystem::exists(name);
}

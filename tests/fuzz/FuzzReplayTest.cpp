// The fuzz targets over the inputs kept for them: every seed is a valid file
// and must be read without error, and every input a fuzzer once found wrong
// (the regression folder) must now be answered without a finding. Runs in
// every build, so the sanitizer build replays them too.
#include <algorithm>
#include <filesystem>
#include <stdexcept>

#include <gtest/gtest.h>

#include "TestUtil.h"
#include "fuzz/FuzzTargets.h"

namespace fs = std::filesystem;

namespace {

struct TFinding : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

// The files of one folder in name order; none when it does not exist.
std::vector<fs::path> FilesIn(const fs::path& Folder)
{
    std::vector<fs::path> files;
    if (fs::is_directory(Folder)) {
        for (const fs::directory_entry& entry : fs::directory_iterator(Folder)) {
            if (entry.is_regular_file() && entry.path().filename().string().front() != '.')
                files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

class FuzzReplay : public ::testing::TestWithParam<TFuzzTargetInfo>
{
protected:
    void SetUp() override
    {
        SetFuzzFindingHandler([](const std::string& What) { throw TFinding(What); });
    }
    void TearDown() override { SetFuzzFindingHandler(nullptr); }

    // Runs the target on one file; a finding fails the test.
    bool Accepted(const fs::path& File)
    {
        const std::vector<std::uint8_t> bytes = ReadAllBytes(File.string());
        try {
            return GetParam().Run(bytes.data(), bytes.size()) == TFuzzVerdict::Accepted;
        } catch (const TFinding& finding) {
            ADD_FAILURE() << File << ": " << finding.what();
        } catch (const std::exception& e) {
            ADD_FAILURE() << File << ": escaped " << e.what();
        }
        return false;
    }
};

TEST_P(FuzzReplay, SeedsAreAccepted)
{
    const std::vector<fs::path> seeds = FilesIn(fs::path(TARVEX_FUZZ_SEEDS) / GetParam().Name);
    ASSERT_GE(seeds.size(), 4u) << "the seed corpus of " << GetParam().Name << " is missing";
    for (const fs::path& seed : seeds)
        EXPECT_TRUE(Accepted(seed)) << seed << " was refused";
}

TEST_P(FuzzReplay, RegressionsGiveNoFinding)
{
    for (const fs::path& input : FilesIn(fs::path(TARVEX_FUZZ_REGRESSIONS) / GetParam().Name))
        Accepted(input);
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplay,
    ::testing::ValuesIn(FuzzTargets, FuzzTargets + FuzzTargetCount),
    [](const ::testing::TestParamInfo<TFuzzTargetInfo>& info) {
        return std::string(info.param.Name);
    });

} // namespace

// The built quillomark program run as a user runs it, each test in a
// folder of its own under the test output folder.
#pragma once

#include "image.h"
#include "project.h"
#include "record/stored_record.h"
#include "run_program.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

inline std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

class CliTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "." + info->name();
        for (char &c : name)
            if (c == '/')
                c = '_';
        dir_ = fs::path(QM_TEST_OUTPUT_DIR) / "cli" / name;
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }

public:
    std::vector<std::string> command(const std::vector<std::string> &args) const
    {
        std::vector<std::string> argv;
        if (std::string(QM_CLI_EMULATOR).size())
            argv.push_back(QM_CLI_EMULATOR);
        argv.push_back(QM_CLI_PATH);
        argv.insert(argv.end(), args.begin(), args.end());
        return argv;
    }

    RunResult cli(const std::vector<std::string> &args) const { return runProgram(command(args), dir_.string()); }

    std::string path(const std::string &name) const { return (dir_ / name).string(); }

    // The project of a render of `text`, saved again with its record edited;
    // returns where.
    std::string editedProject(const std::string &text, const std::function<void(corvane::record::Fields &)> &edit) const
    {
        const RunResult r = cli({"render", text, "--save-project", path("saved.json")});
        EXPECT_EQ(r.status, 0) << r.err;
        quillomark::Project p = quillomark::projectFromJson(slurp(path("saved.json")), dir_.string());
        corvane::record::Fields record = corvane::record::decode(p.layers.at(0).record);
        edit(record);
        p.layers.at(0).record = corvane::record::encode(record);
        std::ofstream(path("edited.json")) << quillomark::projectToJson(p, dir_.string());
        return path("edited.json");
    }

protected:
    fs::path dir_;
};

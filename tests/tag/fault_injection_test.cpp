// Every primitive call of every tag operation, made to fail, come up short or
// land elsewhere in turn: the file must end up as it was or as intended, and
// the result must say which.
#include <gtest/gtest.h>
#include <string.h>

#include <iostream>
#include <string>
#include <vector>

#include "faulty_file_io.h"
#include "tag/tag_file.h"
#include "temp_file.h"

namespace {

const std::string kAudio(1000, '\x55');
const FaultKind kKinds[] = {FaultKind::Fail, FaultKind::Short, FaultKind::PartialThenFail,
                            FaultKind::Elsewhere};

const char* KindName(FaultKind kind)
{
    switch (kind) {
        case FaultKind::Fail:
            return "fail";
        case FaultKind::Short:
            return "short";
        case FaultKind::PartialThenFail:
            return "partial then fail";
        case FaultKind::Elsewhere:
            return "elsewhere";
    }
    return "?";
}

TagRecord NewRecord()
{
    TagRecord record;
    ClearTagRecord(&record);
    strcpy(record.title, "New title");
    strcpy(record.artist, "New artist");
    strcpy(record.year, "2024");
    record.track = 12;
    record.genre = 80;
    return record;
}

// What MakeBlock() holds, built by hand rather than decoded.
TagRecord OldRecord()
{
    TagRecord record;
    ClearTagRecord(&record);
    strcpy(record.title, "Old title");
    strcpy(record.artist, "Old artist");
    strcpy(record.year, "1999");
    record.track = 7;
    record.genre = 17;
    return record;
}

enum class Op { Read, Write, Remove };

struct Case {
    const char* name;
    Op op;
    std::string before;
    std::string after;  // the intended file; for a read, the file as it was
    bool tagged;        // for a read: TagFound with OldRecord() is intended
};

// Names the case in failure messages instead of dumping its bytes.
void PrintTo(const Case& c, std::ostream* out)
{
    *out << c.name;
}

std::vector<Case> Cases()
{
    const std::string tagged = kAudio + MakeBlock();
    const std::string newTag = Encoded(NewRecord());
    // Shorter than a block and starting with the magic, so taking it for a tag
    // would show.
    const std::string shortFile = "TAG" + std::string(97, 'x');
    return {
        {"ReadOfATaggedFile", Op::Read, tagged, tagged, true},
        {"ReadOfAnUntaggedFile", Op::Read, kAudio, kAudio, false},
        {"OverwriteOfATag", Op::Write, tagged, kAudio + newTag, false},
        {"AppendToAnUntaggedFile", Op::Write, kAudio, kAudio + newTag, false},
        {"WriteToAFileShorterThanABlock", Op::Write, shortFile, shortFile + newTag, false},
        {"WriteToAnEmptyFile", Op::Write, std::string(), newTag, false},
        {"RemovalFromATaggedFile", Op::Remove, tagged, kAudio, false},
        {"RemovalFromAnUntaggedFile", Op::Remove, kAudio, kAudio, false},
        {"RemovalFromAFileShorterThanABlock", Op::Remove, shortFile, shortFile, false},
    };
}

struct Run {
    int calls;
    const char* faulted;
    std::string problem;  // empty when the file and the result are honest
};

Run RunOnce(const Case& c, int n, FaultKind kind)
{
    TempFile file(c.before);
    Run run{0, nullptr, std::string()};
    if (c.op == Op::Read) {
        TagRecord record;
        memset(&record, 0x7F, sizeof record);
        ArmFault(n, kind);
        const ReadTagResult result = ReadTag(file.handle(), &record);
        run.calls = PrimitiveCalls();
        run.faulted = FaultedPrimitive();
        DisarmFault();
        const TagRecord old = OldRecord();
        if (result == TagFound && !c.tagged) {
            run.problem = "TagFound on an untagged file";
        } else if (result == NoTag && c.tagged) {
            run.problem = "NoTag on a tagged file";
        } else if (result == TagFound && memcmp(&record, &old, sizeof record) != 0) {
            run.problem = "TagFound with the wrong record";
        } else if (result != TagFound && !IsZeroFilled(record)) {
            run.problem = "no tag, but the record is not zero-filled";
        }
    } else {
        ArmFault(n, kind);
        const TagRecord record = NewRecord();
        const int result =
            c.op == Op::Write ? WriteTag(file.handle(), &record) : RemoveTag(file.handle());
        run.calls = PrimitiveCalls();
        run.faulted = FaultedPrimitive();
        DisarmFault();
        const std::string contents = file.Contents();
        if (result == 1 && contents != c.after) {
            run.problem = contents == c.before ? "reported success, but the file is unchanged"
                                               : "reported success over a wrong file";
        } else if (result == 0 && contents != c.before) {
            run.problem = contents == c.after ? "reported failure, but the change was made"
                                              : "reported failure over a damaged file";
        } else if (result != 0 && result != 1) {
            run.problem = "result is neither 0 nor 1";
        }
    }
    if (run.problem.empty() && c.op == Op::Read && file.Contents() != c.before) {
        run.problem = "the read changed the file";
    }
    return run;
}

struct Sweep {
    int cleanCalls = 0;
    std::string cleanProblem;
    int faults = 0;
    std::vector<bool> callFaulted;  // by call number, 1-based
    std::vector<std::string> violations;
};

Sweep SweepCase(const Case& c)
{
    Sweep sweep;
    const Run clean = RunOnce(c, 0, FaultKind::Fail);
    sweep.cleanCalls = clean.calls;
    sweep.cleanProblem = clean.problem;
    sweep.callFaulted.assign((size_t)clean.calls + 1, false);
    for (int n = 1; n <= clean.calls; ++n) {
        for (FaultKind kind : kKinds) {
            const Run run = RunOnce(c, n, kind);
            if (!run.faulted) continue;
            ++sweep.faults;
            sweep.callFaulted[(size_t)n] = true;
            const std::string where = std::string("call ") + std::to_string(n) + " (" +
                                      run.faulted + "), " + KindName(kind) + ": ";
            if (!run.problem.empty()) sweep.violations.push_back(where + run.problem);
        }
    }
    return sweep;
}

class FaultAtAnyCall : public ::testing::TestWithParam<Case> {};

TEST_P(FaultAtAnyCall, LeavesTheFileAsItWasOrAsIntendedAndSaysWhich)
{
    const Case& c = GetParam();
    const Sweep sweep = SweepCase(c);
    ASSERT_GT(sweep.cleanCalls, 0);
    ASSERT_EQ(sweep.cleanProblem, "") << "even without a fault";
    for (const std::string& violation : sweep.violations)
        ADD_FAILURE() << violation;
    RecordProperty("faults_injected", sweep.faults);
}

INSTANTIATE_TEST_SUITE_P(EveryOperation, FaultAtAnyCall, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<Case>& param) {
                             return std::string(param.param.name);
                         });

// The total the sweeps inject, counted in one process since ctest runs every
// case in a process of its own; and proof that no call went without a fault.
TEST(FaultInjection, EveryPrimitiveCallOfEveryOperationGetsAFault)
{
    int total = 0;
    for (const Case& c : Cases()) {
        const Sweep sweep = SweepCase(c);
        for (int n = 1; n <= sweep.cleanCalls; ++n) {
            EXPECT_TRUE(sweep.callFaulted[(size_t)n]) << c.name << ", call " << n;
        }
        total += sweep.faults;
    }
    RecordProperty("faults_injected", total);
    std::cout << "faults injected: " << total << std::endl;
}

// The sweeps are only as good as the faults: a short or partial write must
// really leave its half in the file, a short read must really stop early, and
// a seek that lands elsewhere must really move the next transfer.
TEST(FaultInjection, ShortTransfersAndMisplacedSeeksReallyHappen)
{
    const std::string block(128, 'b');
    for (FaultKind kind : {FaultKind::Short, FaultKind::PartialThenFail}) {
        TempFile file(kAudio);
        uint64_t at = 0;
        uint32_t done = 0;
        ArmFault(2, kind);
        ASSERT_EQ(FileSeek(file.handle(), 0, FILE_FROM_END, &at), 1);
        const int ok = FileWrite(file.handle(), block.data(), 128, &done);
        EXPECT_STREQ(FaultedPrimitive(), "FileWrite");
        DisarmFault();
        EXPECT_EQ(ok, kind == FaultKind::Short ? 1 : 0) << KindName(kind);
        EXPECT_EQ(done, kind == FaultKind::Short ? 64u : 0u) << KindName(kind);
        EXPECT_EQ(file.Contents(), kAudio + block.substr(0, 64)) << KindName(kind);
    }

    TempFile file(kAudio);
    char buffer[128];
    uint32_t done = 0;
    ArmFault(1, FaultKind::Short);
    EXPECT_EQ(FileRead(file.handle(), buffer, sizeof buffer, &done), 1);
    EXPECT_EQ(done, 64u);

    for (uint64_t asked : {0u, 500u}) {
        TempFile misplaced(kAudio);
        uint64_t at = asked;
        ArmFault(1, FaultKind::Elsewhere);
        EXPECT_EQ(FileSeek(misplaced.handle(), (int64_t)asked, FILE_FROM_BEGIN, &at), 1);
        EXPECT_NE(at, asked);
        ASSERT_EQ(FileWrite(misplaced.handle(), "x", 1, &done), 1);
        EXPECT_EQ(misplaced.Contents().find('x'), at) << asked;
    }
}

}  // namespace

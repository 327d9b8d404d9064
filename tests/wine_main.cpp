// main() of the Windows test programs. GoogleTest's own printer also sends
// every failure to OutputDebugStringA, which raises an exception to reach a
// debugger; Wine under qemu-i386 crashes dispatching it, so a program would
// die at its first failure and report no other. This printer forwards every
// event to GoogleTest's but prints failures itself.
#include <gtest/gtest.h>

#include <stdio.h>

namespace {

class FailurePrinter : public ::testing::EmptyTestEventListener {
   public:
    explicit FailurePrinter(::testing::TestEventListener* inner) : inner_(inner) {}
    ~FailurePrinter() override { delete inner_; }

    void OnTestProgramStart(const ::testing::UnitTest& u) override
    {
        inner_->OnTestProgramStart(u);
    }
    void OnTestIterationStart(const ::testing::UnitTest& u, int i) override
    {
        inner_->OnTestIterationStart(u, i);
    }
    void OnEnvironmentsSetUpStart(const ::testing::UnitTest& u) override
    {
        inner_->OnEnvironmentsSetUpStart(u);
    }
    void OnEnvironmentsSetUpEnd(const ::testing::UnitTest& u) override
    {
        inner_->OnEnvironmentsSetUpEnd(u);
    }
    void OnTestSuiteStart(const ::testing::TestSuite& s) override { inner_->OnTestSuiteStart(s); }
    void OnTestStart(const ::testing::TestInfo& t) override { inner_->OnTestStart(t); }
    void OnTestPartResult(const ::testing::TestPartResult& r) override
    {
        if (r.type() == ::testing::TestPartResult::kSuccess) return;
        printf("%s:%d: %s\n%s\n", r.file_name() ? r.file_name() : "unknown file", r.line_number(),
               r.failed() ? "Failure" : "Skipped", r.message());
        fflush(stdout);
    }
    void OnTestEnd(const ::testing::TestInfo& t) override { inner_->OnTestEnd(t); }
    void OnTestSuiteEnd(const ::testing::TestSuite& s) override { inner_->OnTestSuiteEnd(s); }
    void OnEnvironmentsTearDownStart(const ::testing::UnitTest& u) override
    {
        inner_->OnEnvironmentsTearDownStart(u);
    }
    void OnEnvironmentsTearDownEnd(const ::testing::UnitTest& u) override
    {
        inner_->OnEnvironmentsTearDownEnd(u);
    }
    void OnTestIterationEnd(const ::testing::UnitTest& u, int i) override
    {
        inner_->OnTestIterationEnd(u, i);
    }
    void OnTestProgramEnd(const ::testing::UnitTest& u) override { inner_->OnTestProgramEnd(u); }

   private:
    ::testing::TestEventListener* inner_;
};

}  // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::TestEventListeners& listeners = ::testing::UnitTest::GetInstance()->listeners();
    listeners.Append(new FailurePrinter(listeners.Release(listeners.default_result_printer())));
    return RUN_ALL_TESTS();
}

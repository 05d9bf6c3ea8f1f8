// The main of every test program here: GoogleTest's run with its printer
// wrapped, and an end without the ordinary teardown.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdio.h>

namespace {

// GoogleTest's own printer, except that failures are only printed: the
// printer also hands each failure to OutputDebugStringA, which crashes this
// program under Wine with the 32-bit loader emulated, at its first skip or
// failure.
class PrinterWithoutDebugOutput : public testing::TestEventListener {
public:
    explicit PrinterWithoutDebugOutput(testing::TestEventListener *printer) : printer_(printer) {}
    ~PrinterWithoutDebugOutput() override { delete printer_; }

    void OnTestPartResult(const testing::TestPartResult &result) override
    {
        if (result.type() == testing::TestPartResult::kSuccess)
            return;
        const char *kind = result.type() == testing::TestPartResult::kSkip ? "Skipped" : "Failure";
        printf("%s:%d: %s\n%s\n", result.file_name() ? result.file_name() : "unknown file",
               result.line_number(), kind, result.message());
        fflush(stdout);
    }

    void OnTestProgramStart(const testing::UnitTest &test) override { printer_->OnTestProgramStart(test); }
    void OnTestIterationStart(const testing::UnitTest &test, int i) override
    {
        printer_->OnTestIterationStart(test, i);
    }
    void OnEnvironmentsSetUpStart(const testing::UnitTest &test) override
    {
        printer_->OnEnvironmentsSetUpStart(test);
    }
    void OnEnvironmentsSetUpEnd(const testing::UnitTest &test) override
    {
        printer_->OnEnvironmentsSetUpEnd(test);
    }
    void OnTestSuiteStart(const testing::TestSuite &suite) override { printer_->OnTestSuiteStart(suite); }
    void OnTestCaseStart(const testing::TestCase &suite) override { printer_->OnTestCaseStart(suite); }
    void OnTestStart(const testing::TestInfo &info) override { printer_->OnTestStart(info); }
    void OnTestDisabled(const testing::TestInfo &info) override { printer_->OnTestDisabled(info); }
    void OnTestEnd(const testing::TestInfo &info) override { printer_->OnTestEnd(info); }
    void OnTestSuiteEnd(const testing::TestSuite &suite) override { printer_->OnTestSuiteEnd(suite); }
    void OnTestCaseEnd(const testing::TestCase &suite) override { printer_->OnTestCaseEnd(suite); }
    void OnEnvironmentsTearDownStart(const testing::UnitTest &test) override
    {
        printer_->OnEnvironmentsTearDownStart(test);
    }
    void OnEnvironmentsTearDownEnd(const testing::UnitTest &test) override
    {
        printer_->OnEnvironmentsTearDownEnd(test);
    }
    void OnTestIterationEnd(const testing::UnitTest &test, int i) override
    {
        printer_->OnTestIterationEnd(test, i);
    }
    void OnTestProgramEnd(const testing::UnitTest &test) override { printer_->OnTestProgramEnd(test); }

private:
    testing::TestEventListener *printer_;
};

} // namespace

// The program ends itself as soon as the results are out: its ordinary
// teardown under the same emulation has been seen to hang for minutes after
// every test had passed, which ctest then reports as a time-out.
int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    testing::TestEventListeners &listeners = testing::UnitTest::GetInstance()->listeners();
    listeners.Append(new PrinterWithoutDebugOutput(listeners.Release(listeners.default_result_printer())));
    int failed = RUN_ALL_TESTS();
    fflush(stdout);
    fflush(stderr);
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(failed));
    return failed;
}

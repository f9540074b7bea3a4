// Runs the tests and ends with one line saying how it went, which CTest looks for: under
// Wine a program that crashed can still end with exit code 0 once its output is not a
// terminal, so the exit code alone proves nothing.

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv)
{
    ::SetUnhandledExceptionFilter([](EXCEPTION_POINTERS* exception) -> LONG {
        std::fprintf(stderr, "korvane_windows_tests: crashed with exception 0x%08lx\n",
                     static_cast<unsigned long>(exception->ExceptionRecord->ExceptionCode));
        std::fflush(stderr);
        ::TerminateProcess(::GetCurrentProcess(), 3);
        return EXCEPTION_EXECUTE_HANDLER;
    });
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    const ::testing::UnitTest& run = *::testing::UnitTest::GetInstance();
    std::printf("korvane_windows_tests: %d passed, %d failed, %d skipped\n", run.successful_test_count(),
                run.failed_test_count(), run.skipped_test_count());
    return result;
}

#pragma once
// Helpers that a test starts as a second process: this test program again,
// with CORVANITH_TEST_HELPER naming the helper. The shared main then runs
// that helper in place of the tests, so a helper is never in the test list
// and never shows as a skipped test.
#include <QString>
#include <QStringList>

#include <functional>

inline constexpr const char* HelperProcessVariable = "CORVANITH_TEST_HELPER";

// The helper's exit code is the process's; Arguments are the command-line
// arguments after the program's name. Registered at static initialisation:
//   const bool registered = RegisterHelperProcess("Name", &Helper);
using THelperProcess = std::function<int(const QStringList& Arguments)>;
bool RegisterHelperProcess(const QString& Name, THelperProcess Helper);

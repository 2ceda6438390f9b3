// Entry of the tests that need a real X server: each run starts an Xvfb of
// its own (the server picks a free display and names it), runs the tests on
// Qt's xcb platform against it, and ends it. Listing the tests needs no
// display.
#include "graphics/imagingcore.h"

#include <gtest/gtest.h>

#include <QApplication>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// An Xvfb of the run's own, ended with the run.
class TXvfb {
public:
    TXvfb()
    {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        FPid = fork();
        if (FPid == 0) {
            // The server ends with the run, also when the run crashes.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        // The server writes its display number once it accepts clients.
        std::string number;
        char c = 0;
        while (FPid > 0 && read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
        close(fds[0]);
        if (!number.empty())
            FDisplay = ":" + number;
    }
    TXvfb(const TXvfb&) = delete;
    TXvfb& operator=(const TXvfb&) = delete;
    ~TXvfb()
    {
        if (FPid > 0) {
            kill(FPid, SIGTERM);
            waitpid(FPid, nullptr, 0);
        }
    }

    // Empty when the server did not start.
    const std::string& Display() const { return FDisplay; }

private:
    pid_t FPid = -1;
    std::string FDisplay;
};

class ImagingCoreEnvironment : public testing::Environment {
public:
    void SetUp() override { Corvanith::Graphics::InitializeImagingCore(); }
    void TearDown() override { Corvanith::Graphics::FinalizeImagingCore(); }
};

} // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();
    const TXvfb server;
    if (server.Display().empty()) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    setenv("DISPLAY", server.Display().c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    int result = 0;
    {
        QApplication app(argc, argv);
        testing::AddGlobalTestEnvironment(new ImagingCoreEnvironment);
        result = RUN_ALL_TESTS();
    }
    return result;
}

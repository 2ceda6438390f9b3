#pragma once
// An X server for the tests that need a real one (the window picker on X11):
// Xvfb picks a free display itself and names it once it accepts clients.
#include <csignal>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

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

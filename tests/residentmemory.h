#pragma once
// The process's resident memory, for the tests and benchmarks that bound what
// an operation holds.
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>

namespace Corvanith::Testing {

// In bytes: the current value ("VmRSS:"), or the peak since the last
// ResetResidentPeak ("VmHWM:").
inline int64_t ResidentBytes(const char* Field = "VmRSS:")
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(Field, 0) == 0)
            return std::stoll(line.substr(std::strlen(Field))) * 1024;
    return 0;
}

inline void ResetResidentPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

// The address sanitizer holds freed blocks in quarantine, up to hundreds of
// megabytes: resident memory then tells nothing of what the code keeps.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool ResidentMemoryTells = false;
#else
inline constexpr bool ResidentMemoryTells = true;
#endif

} // namespace Corvanith::Testing

#pragma once
// Lowers the process's data limit for a scope, so that a test can make an
// allocation fail. Large buffers must come straight from the system for the
// limit to hold: call mallopt(M_MMAP_THRESHOLD, ...) first. The sanitizer's
// own allocator does not follow the limit.
#include <sys/resource.h>

#include <cstdint>
#include <fstream>
#include <string>

// The sanitizers' allocators do not follow the limit (AddressSanitizer), or
// fail outright under it (ThreadSanitizer): tests that need it skip there.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool DataLimitHolds = false;
#else
inline constexpr bool DataLimitHolds = true;
#endif
#define SKIP_UNLESS_DATA_LIMIT_HOLDS()                                                                                \
    if (!DataLimitHolds)                                                                                              \
    GTEST_SKIP() << "runs in the build without sanitizers (the first stage of ./test.sh): the sanitizer's "           \
                    "own allocator does not follow the data limit"

// Sets the process's data limit to what it uses now plus Change bytes.
class TDataLimit {
public:
    explicit TDataLimit(int64_t Change)
    {
        getrlimit(RLIMIT_DATA, &FSaved);
        std::ifstream status("/proc/self/status");
        std::string key;
        rlim_t kilobytes = 0;
        while (status >> key)
            if (key == "VmData:") {
                status >> kilobytes;
                break;
            }
        rlimit lowered = FSaved;
        lowered.rlim_cur = rlim_t(int64_t(kilobytes) * 1024 + Change);
        setrlimit(RLIMIT_DATA, &lowered);
    }
    ~TDataLimit() { setrlimit(RLIMIT_DATA, &FSaved); }

    TDataLimit(const TDataLimit&) = delete;
    TDataLimit& operator=(const TDataLimit&) = delete;

private:
    rlimit FSaved{};
};

#pragma once
// The system's own exception types. Every failure inside the program is one of
// these, so callers can tell our refusals from library faults.
#include <stdexcept>
#include <string>

namespace Corvanith {

class ECorvError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An index, count or size outside what the operation can take.
class ERangeError : public ECorvError {
public:
    using ECorvError::ECorvError;
};

// An argument the operation cannot work with (a mismatched size, a zero count).
class EArgumentError : public ECorvError {
public:
    using ECorvError::ECorvError;
};

// A stream that cannot be read or written as asked, or holds no usable picture.
class EStreamError : public ECorvError {
public:
    using ECorvError::ECorvError;
};

// A pixel buffer that could not be allocated.
class EOutOfMemory : public ECorvError {
public:
    using ECorvError::ECorvError;
};

} // namespace Corvanith

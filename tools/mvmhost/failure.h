// The one way the host reports a problem it cannot go on from: a sentence for standard error.
#pragma once

#include <stdexcept>
#include <string>

namespace mvmhost {

// Thrown inside the host only; never across a module's entry points.
struct Failure : std::runtime_error {
    explicit Failure(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace mvmhost

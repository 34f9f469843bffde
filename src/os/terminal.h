#pragma once
// What a program that prints for people needs to know about where its output
// goes and how the user set up the environment.
#include <optional>
#include <string>

namespace os {

// True when the descriptor is a terminal (so colours and live output make
// sense there).
[[nodiscard]] bool isTerminal(int fd) noexcept;

// The value of an environment variable, or nothing when it is not set.
[[nodiscard]] std::optional<std::string> environmentValue(const std::string& name);

}  // namespace os

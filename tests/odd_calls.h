// SPDX-License-Identifier: MIT
// Test helper for the sender: calls on a line that the kernel refuses, or
// answers in a way of its own, each made by name, so that their outcomes on
// a plain pseudo-terminal and under the virtual panel can be compared.
//
// odd_call  makes the call named on the line at fd (path is the line's
//           path); prints "odd NAME: OUTCOME"; false for an unknown name
#ifndef TESTS_ODD_CALLS_H
#define TESTS_ODD_CALLS_H

#include <string>

bool odd_call(int fd, const char *path, const std::string &name);

#endif

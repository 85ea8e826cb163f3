// The depth-first walk below the start directory.
#pragma once

#include <cstdint>
#include <string>

// Walks the directory and everything below it, emitting every file that lies
// below the start directory. Appends a backslash to the path if it lacks one.
// Returns the first failed write's error number, or 0; the walk goes on after
// a failure.
int32_t walk_tree(std::string& path);

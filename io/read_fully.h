#pragma once
#include <cstddef>

// Reads up to `size` bytes from `fd` into `data`, through short reads and interrupted calls;
// returns how many arrived before the end of the file or an error.
size_t readFully(int fd, void* data, size_t size);

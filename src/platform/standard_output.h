#pragma once

// Writing the process's standard output as raw bytes, from any thread,
// without anything of the C or C++ library's buffering in between. The
// description stays as the parent gave it: nothing here makes it
// non-blocking, so a shell or terminal that shares it is left unchanged.

#include <cstddef>

// Writes all `size` bytes, waiting as long as the reader takes. Returns false
// when the system refuses (the reader has gone, the disk is full, no standard
// output at all). On Windows a redirected standard output keeps its
// text-mode line end, as the C library's streams write it there: each LF
// leaves as CR LF.
bool writeStandardOutput(const char* data, std::size_t size);

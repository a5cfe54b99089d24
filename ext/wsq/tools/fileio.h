/* File helpers shared by the WSQ command-line tools. */
#ifndef WSQ_TOOLS_FILEIO_H
#define WSQ_TOOLS_FILEIO_H

#include <stddef.h>
#include <stdint.h>

/* Reads a whole regular file (at most 1 GiB). Returns 0 or an errno value. */
int read_whole_file(const char* path, uint8_t** data, size_t* len);

/* Writes data under a temporary name in the target's folder, flushes it to disk and
 * renames it over `path`, so that `path` never holds a partial file. On failure the
 * temporary is removed; termination signals are held back meanwhile. Returns 0 or an
 * errno value. */
int write_file_atomic(const char* path, const void* data, size_t len);

/* True when both names refer to one existing file. */
int same_file(const char* a, const char* b);

#endif

#ifndef SHAREDOBJ_H
#define SHAREDOBJ_H
/* Is a file a whole shared object of this machine? A library cut short by an interrupted
 * copy or fetch still starts with a valid ELF header, and the dynamic loader maps it without
 * complaint; the first touch of a page past the end of the file then kills the process with
 * SIGBUS. These checks read the headers the loader relies on and refuse any object whose
 * tables or segments reach beyond the end of its bytes, before anything maps it. */
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

enum {
    SO_OK = 0,
    SO_E_OPEN = -1,       /* the file cannot be opened or read */
    SO_E_TOO_LARGE = -2,  /* larger than SO_MAX_FILE_SIZE */
    SO_E_NOT_ELF = -3,    /* no ELF header */
    SO_E_FOREIGN = -4,    /* another word size, byte order or machine */
    SO_E_NOT_SHARED = -5, /* not a shared object */
    SO_E_TRUNCATED = -6,  /* a header table or a segment lies past the end of the data */
    SO_E_NO_DYNAMIC = -7  /* no loadable segment or no dynamic section */
};

/* Files above this size are not taken for libraries of ours. */
#define SO_MAX_FILE_SIZE ((size_t)256 << 20)

/* Checks size bytes at data; SO_OK or a negative code above. */
int so_check_image(const void* data, size_t size);

/* Reads the file at path and checks it like so_check_image. */
int so_check_file(const char* path);

/* A short English text for a code of this library. */
const char* so_strerror(int code);

#ifdef __cplusplus
}
#endif
#endif

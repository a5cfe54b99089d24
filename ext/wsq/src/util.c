#include <stdint.h>
#include <stdlib.h>
#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "wsq.h"

const char* wsq_strerror(int code) {
    switch (code) {
    case WSQ_OK:
        return "success";
    case WSQ_EINVAL:
        return "invalid argument";
    case WSQ_ENOMEM:
        return "out of memory";
    case WSQ_ETRUNC:
        return "WSQ data ends early";
    case WSQ_ENOTWSQ:
        return "not a WSQ file (no start-of-image marker)";
    case WSQ_EMARKER:
        return "unexpected or unknown marker in WSQ data";
    case WSQ_ESEGMENT:
        return "malformed WSQ segment";
    case WSQ_ETOOSMALL:
        return "image too small for the WSQ transform";
    case WSQ_ELIMIT:
        return "image larger than the decoder's limit";
    case WSQ_ENOTABLE:
        return "WSQ block uses a table that was not defined";
    case WSQ_EHUFFTABLE:
        return "invalid Huffman table";
    case WSQ_EHUFFCODE:
        return "invalid Huffman code in WSQ data";
    case WSQ_ECOUNT:
        return "WSQ coefficient count does not match the image size";
    case WSQ_EUNSUPPORTED:
        return "WSQ feature not supported (even-length filters, restart "
               "intervals or tables changed between blocks)";
    case WSQ_ERANGE:
        return "value out of range for the WSQ stream";
    default:
        return "unknown error";
    }
}

void wsq_free(void* p) {
    free(p);
}

/* Zeroed working memory. Touching fresh memory costs one page fault per 4 KiB page, which for
 * print-sized working buffers is a good part of a short conversion. Buffers of WSQ_BIG_BYTES or
 * more are therefore mapped on 2 MiB boundaries and offered as transparent huge pages: one fault
 * per 2 MiB where the system grants them, ordinary pages where it does not. */
#define WSQ_BIG_BYTES (512u << 10)
/* Sanitizer builds keep malloc, whose blocks the sanitizers watch. */
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) ||                         \
    __has_feature(memory_sanitizer)
#define WSQ_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define WSQ_SANITIZED 1
#endif
#if defined(__linux__) && defined(MADV_HUGEPAGE) && !defined(WSQ_SANITIZED)
#define WSQ_HUGE_PAGES 1
#endif
#define HUGE_PAGE ((size_t)2 << 20)

static size_t big_length(size_t n) {
    return (n + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
}

void* wsq_big_alloc(size_t n) {
#if WSQ_HUGE_PAGES
    if (n >= WSQ_BIG_BYTES && n <= SIZE_MAX / 2) {
        size_t len = big_length(n);
        uint8_t* p =
            mmap(NULL, len + HUGE_PAGE, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED)
            return NULL;
        uint8_t* a = (uint8_t*)(((uintptr_t)p + HUGE_PAGE - 1) & ~(uintptr_t)(HUGE_PAGE - 1));
        if (a > p)
            munmap(p, (size_t)(a - p));
        if (a + len < p + len + HUGE_PAGE)
            munmap(a + len, (size_t)(p + len + HUGE_PAGE - (a + len)));
        madvise(a, len, MADV_HUGEPAGE);
        return a;
    }
#endif
    return calloc(n ? n : 1, 1);
}

void wsq_big_free(void* p, size_t n) {
    if (!p)
        return;
#if WSQ_HUGE_PAGES
    if (n >= WSQ_BIG_BYTES && n <= SIZE_MAX / 2) {
        munmap(p, big_length(n));
        return;
    }
#endif
    free(p);
}

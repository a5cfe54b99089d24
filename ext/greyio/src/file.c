#define _GNU_SOURCE
/* File helpers of the command-line tools: whole-file read, atomic write, and the text of
 * every result code. */
#include "greyio.h"
#include "internal.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#define MAX_FILE_BYTES (1u << 30)

int greyio_read_file(const char* path, uint8_t** data, size_t* len) {
    *data = NULL;
    *len = 0;
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    struct stat st;
    if (fstat(fd, &st) != 0) {
        int e = errno;
        close(fd);
        return e;
    }
    if (!S_ISREG(st.st_mode) || st.st_size > MAX_FILE_BYTES) {
        close(fd);
        return S_ISREG(st.st_mode) ? EFBIG : EINVAL;
    }
    size_t n = (size_t)st.st_size;
    uint8_t* buf = malloc(n ? n : 1);
    if (!buf) {
        close(fd);
        return ENOMEM;
    }
    size_t got = 0;
    while (got < n) {
        ssize_t r = read(fd, buf + got, n - got);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0) {
            int e = r < 0 ? errno : EIO; /* the file shrank while being read */
            free(buf);
            close(fd);
            return e;
        }
        got += (size_t)r;
    }
    close(fd);
    *data = buf;
    *len = n;
    return 0;
}

/* Writes every byte the vectors hold, continuing after short writes. Returns 0 or errno.
 * The vectors are consumed. */
static int write_all(int fd, struct iovec* iov, int n) {
    while (n > 0) {
        ssize_t w = writev(fd, iov, n < IOV_MAX ? n : IOV_MAX);
        if (w < 0 && errno == EINTR)
            continue;
        if (w < 0)
            return errno;
        size_t done = (size_t)w;
        while (n > 0 && done >= iov->iov_len) {
            done -= iov->iov_len;
            ++iov;
            --n;
        }
        if (n > 0) {
            if (w == 0 && iov->iov_len > 0)
                return EIO;
            iov->iov_base = (uint8_t*)iov->iov_base + done;
            iov->iov_len -= done;
        }
    }
    return 0;
}

int greyio_write_atomic_iov(const char* path, struct iovec* iov, int n) {
    size_t plen = strlen(path);
    char* tmp = malloc(plen + 8);
    if (!tmp)
        return ENOMEM;
    memcpy(tmp, path, plen);
    memcpy(tmp + plen, ".XXXXXX", 8);
    /* Termination requests wait until the temporary is renamed or removed, so that an
     * interrupted run leaves no stray file (the write takes well under a second). */
    sigset_t stop, old;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGHUP);
    sigaddset(&stop, SIGQUIT);
    sigprocmask(SIG_BLOCK, &stop, &old);
    int fd = mkostemp(tmp, O_CLOEXEC);
    if (fd < 0) {
        int e = errno;
        sigprocmask(SIG_SETMASK, &old, NULL);
        free(tmp);
        return e;
    }
    int err = 0;
    mode_t mask = umask(0);
    umask(mask);
    if (fchmod(fd, 0666 & ~mask) != 0)
        err = errno;
    if (!err)
        err = write_all(fd, iov, n);
    if (!err && fdatasync(fd) != 0)
        err = errno;
    if (close(fd) != 0 && !err)
        err = errno;
    if (!err && rename(tmp, path) != 0)
        err = errno;
    if (err)
        unlink(tmp);
    free(tmp);
    sigprocmask(SIG_SETMASK, &old, NULL);
    return err;
}

int greyio_write_file_atomic(const char* path, const void* data, size_t len) {
    struct iovec one = {(void*)data, len};
    return greyio_write_atomic_iov(path, &one, 1);
}

int greyio_same_file(const char* a, const char* b) {
    struct stat sa, sb;
    return stat(a, &sa) == 0 && stat(b, &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

const char* greyio_strerror(int code) {
    switch (code) {
    case GREYIO_OK:
        return "success";
    case GREYIO_EINVAL:
        return "invalid argument";
    case GREYIO_ENOMEM:
        return "out of memory";
    case GREYIO_ENOTBMP:
        return "not a BMP file, or the BMP file is truncated";
    case GREYIO_EFORMAT:
        return "BMP is not an 8-bit uncompressed grey image";
    case GREYIO_ESIZE:
        return "BMP dimensions are zero, negative or too large";
    default:
        return code > 0 ? strerror(code) : "unknown error";
    }
}

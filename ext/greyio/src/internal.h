/* Declarations shared by the files of the greyio library. */
#ifndef GREYIO_INTERNAL_H
#define GREYIO_INTERNAL_H

#include <sys/uio.h>

/* greyio_write_file_atomic for data held in several pieces; the vectors are consumed. */
int greyio_write_atomic_iov(const char* path, struct iovec* iov, int n);

#endif

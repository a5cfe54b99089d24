#include <stdlib.h>

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

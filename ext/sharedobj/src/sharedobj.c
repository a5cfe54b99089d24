#include "sharedobj.h"

#include <elf.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#if UINTPTR_MAX == 0xffffffffffffffffu
typedef Elf64_Ehdr Ehdr;
typedef Elf64_Phdr Phdr;
typedef Elf64_Shdr Shdr;
#define OWN_CLASS ELFCLASS64
#else
typedef Elf32_Ehdr Ehdr;
typedef Elf32_Phdr Phdr;
typedef Elf32_Shdr Shdr;
#define OWN_CLASS ELFCLASS32
#endif

#if defined(__x86_64__)
#define OWN_MACHINE EM_X86_64
#elif defined(__aarch64__)
#define OWN_MACHINE EM_AARCH64
#elif defined(__i386__)
#define OWN_MACHINE EM_386
#elif defined(__arm__)
#define OWN_MACHINE EM_ARM
#endif

#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#define OWN_DATA ELFDATA2LSB
#else
#define OWN_DATA ELFDATA2MSB
#endif

/* True when [offset, offset + count * entry) lies inside size bytes, without overflow. */
static int table_inside(uint64_t offset, uint64_t count, uint64_t entry, size_t size) {
    if (offset > size)
        return 0;
    if (entry != 0 && count > (size - offset) / entry)
        return 0;
    return 1;
}

int so_check_image(const void* data, size_t size) {
    const unsigned char* bytes = (const unsigned char*)data;
    Ehdr eh;
    if (!data || size < sizeof eh || memcmp(bytes, ELFMAG, SELFMAG) != 0)
        return SO_E_NOT_ELF;
    memcpy(&eh, bytes, sizeof eh);
    if (eh.e_ident[EI_CLASS] != OWN_CLASS || eh.e_ident[EI_DATA] != OWN_DATA)
        return SO_E_FOREIGN;
#ifdef OWN_MACHINE
    if (eh.e_machine != OWN_MACHINE)
        return SO_E_FOREIGN;
#endif
    if (eh.e_type != ET_DYN)
        return SO_E_NOT_SHARED;
    if (eh.e_phnum == 0 || eh.e_phentsize != sizeof(Phdr))
        return SO_E_NO_DYNAMIC;
    if (!table_inside(eh.e_phoff, eh.e_phnum, sizeof(Phdr), size))
        return SO_E_TRUNCATED;
    /* Section headers are not needed to run, but a table that reaches past the end shows
     * that the tail of the file is missing. */
    if (eh.e_shnum != 0 && (eh.e_shentsize != sizeof(Shdr) ||
                            !table_inside(eh.e_shoff, eh.e_shnum, sizeof(Shdr), size)))
        return SO_E_TRUNCATED;

    int loads = 0, dynamic = 0;
    for (unsigned i = 0; i < eh.e_phnum; ++i) {
        Phdr ph;
        memcpy(&ph, bytes + eh.e_phoff + (uint64_t)i * sizeof ph, sizeof ph);
        if (ph.p_type == PT_LOAD)
            ++loads;
        else if (ph.p_type == PT_DYNAMIC)
            ++dynamic;
        else
            continue;
        if (!table_inside(ph.p_offset, 1, ph.p_filesz, size))
            return SO_E_TRUNCATED;
    }
    return loads > 0 && dynamic > 0 ? SO_OK : SO_E_NO_DYNAMIC;
}

int so_check_file(const char* path) {
    FILE* f = path ? fopen(path, "rb") : NULL;
    if (!f)
        return SO_E_OPEN;
    int result = SO_E_OPEN;
    unsigned char* data = NULL;
    long size = -1;
    if (fseek(f, 0, SEEK_END) == 0)
        size = ftell(f);
    if (size < 0 || fseek(f, 0, SEEK_SET) != 0)
        goto done;
    if ((unsigned long)size > SO_MAX_FILE_SIZE) {
        result = SO_E_TOO_LARGE;
        goto done;
    }
    data = (unsigned char*)malloc(size > 0 ? (size_t)size : 1);
    if (!data || fread(data, 1, (size_t)size, f) != (size_t)size)
        goto done;
    result = so_check_image(data, (size_t)size);
done:
    free(data);
    fclose(f);
    return result;
}

const char* so_strerror(int code) {
    switch (code) {
    case SO_OK:
        return "whole shared object";
    case SO_E_OPEN:
        return "cannot read the file";
    case SO_E_TOO_LARGE:
        return "file too large for a library";
    case SO_E_NOT_ELF:
        return "not an ELF file";
    case SO_E_FOREIGN:
        return "ELF file for another machine";
    case SO_E_NOT_SHARED:
        return "not a shared object";
    case SO_E_TRUNCATED:
        return "file cut short: headers or segments lie past its end";
    case SO_E_NO_DYNAMIC:
        return "no loadable segment or dynamic section";
    default:
        return "unknown code";
    }
}

// msvcrt's stdio records as Windows code sees them, and how the shims map
// them onto this process's streams.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace corvane::pe {

// msvcrt's FILE: 32 bytes on 32-bit Windows. Only `file` is read here.
struct MsvcrtFile {
    char *ptr;
    int32_t cnt;
    char *base;
    int32_t flag;
    int32_t file;
    int32_t charbuf;
    int32_t bufsiz;
    char *tmpfname;
};
static_assert(sizeof(MsvcrtFile) == 32 || sizeof(void *) != 4);

inline constexpr int kMsvcrtStreams = 20;

// The _iob array images import (stdin, stdout, stderr first).
MsvcrtFile *msvcrtStreams();
// The stream behind one of those entries; null for anything else.
FILE *hostStream(const MsvcrtFile *stream);
// Rewrites msvcrt's size prefixes (I64, I32, I) for glibc; false when the
// format cannot be printed faithfully here (wide-character conversions).
bool translateMsvcrtFormat(const char *format, std::string &out);

} // namespace corvane::pe

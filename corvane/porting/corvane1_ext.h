/*
 * Corvane1 extensions: what the stand-in host, the Win32 stand-in and tests
 * need beyond the classic names of porting.h. C linkage, exported from
 * libCorvane1.so beside the classic names.
 *
 * Behaviour the callers rely on:
 *  - Font number 0 is the system font (DejaVu Sans when installed); the other
 *    families follow in case-insensitive name order, so numbers are stable
 *    for a given set of installed fonts. Enumerate with CorvaneFontCount and
 *    CorvaneGetFontDesc(0 .. count-1); entry i has fontNumber i.
 *  - TextSize(0) is the default size, 12. One point is one pixel.
 *  - Ports over 32-bit host worlds draw white as {255,255,255,255} and black
 *    as {255,0,0,0} (HostPixel order alpha, red, green, blue); text paints
 *    only its ink pixels.
 *  - hWndMain points at a static tag inside this library: a stand-in for the
 *    host's main window, to be recognised, never dereferenced.
 *  - Heap scramble: while on, every classic call first moves every unlocked
 *    handle block (and the pixels of every offscreen whose pixels are not
 *    locked) to a new address, poisoning and freeing the old memory.
 *  - Threads: the library's state (current port, font table, glyph cache,
 *    handles, faults) is process-wide and unguarded, as the contract has it.
 *    Call it from one thread at a time; the host calls it only from the
 *    thread running the module's commands, never from its pool threads.
 *    The code-page functions (CorvaneCp1252ToUnicode, CorvaneUnicodeToCp1252,
 *    CorvaneCp1252Fold) keep no state and may be called from any thread.
 */
#ifndef CORVANE1_EXT_H
#define CORVANE1_EXT_H

#include "host/porting.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Live objects of the library. */
typedef struct CorvaneCounts {
    int32_t handles;       /* handles from NewHandle/NewHandleClear not yet disposed */
    int32_t lockedHandles; /* of those, the ones with a lock count above 0 */
    int32_t offscreens;    /* worlds from NewGWorld not yet disposed */
    int32_t ports;         /* ports from CorvaneNewPortOnPixels not yet disposed */
} CorvaneCounts;

/* One font family, as the Win32 stand-in's EnumFontsA reports it.
 * Names in Windows-1252, zero-terminated. */
typedef struct CorvaneFontDesc {
    char faceName[32];  /* family name, as GetFNum takes it */
    char fullName[64];  /* full name of the family's regular face */
    int32_t scalable;   /* 1 outline font, 0 bitmap font */
    int32_t charSet;    /* 0 covers Windows-1252 text, 2 symbol font */
    int16_t fontNumber; /* the number GetFNum gives for faceName */
} CorvaneFontDesc;

/* QDError after a text call when no usable face could be loaded at all. */
enum { corvaneNoFontErr = -32615 };

/* A port over a host 32-bit world; null on failure (QDError says why). The
 * pixels stay the caller's and never move; the port must be disposed before
 * they go. Its pixel map holds rowBytes with the flag bits when the rows fit
 * in 0x3FFF bytes, and 0 with the flag bits otherwise (drawing still uses
 * the full distance). */
GWorldPtr CorvaneNewPortOnPixels(HostPixel *base, int32_t rowBytes, int32_t width, int32_t height);
void CorvaneDisposePort(GWorldPtr port);

int32_t CorvaneFontCount(void);
int32_t CorvaneGetFontDesc(int32_t index, CorvaneFontDesc *out); /* 0 on success, paramErr otherwise */

void CorvaneSetHeapScramble(int32_t on);
/* The Nth NewHandle/NewHandleClear/NewGWorld/port allocation from now fails
 * (once); 0 clears. */
void CorvaneFailAllocationAt(int32_t n);
void CorvaneClearFaults(void);
void CorvaneGetCounts(CorvaneCounts *out);

#ifdef __cplusplus
}
#endif

#endif

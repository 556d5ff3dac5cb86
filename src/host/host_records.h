/*
 * Records exchanged between the Corvane host and an effect module, and the
 * host's service tables.
 *
 * The host lays these records out and owns every byte not named here
 * (kept as explicit padding). On 32-bit x86 the offsets are the ABI and are
 * checked below each record; 64-bit builds widen pointers naturally, and the
 * host and the module share this header on every build so both agree.
 *
 * Calling convention: every service is cdecl with 32-bit argument slots;
 * 16-bit values travel in the low half of a slot.
 */
#ifndef QUILLOMARK_HOST_RECORDS_H
#define QUILLOMARK_HOST_RECORDS_H

#include "types.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct HostInData HostInData;
typedef struct HostOutData HostOutData;
typedef struct EffectWorld EffectWorld;
typedef struct ParamDef ParamDef;
typedef struct HostUtilTable HostUtilTable;
typedef struct SamplingBlock SamplingBlock;

/* Opaque host value handed back as the first argument of most services. */
typedef struct HostEffectRef_ *EffectRef;

/* Value that names a registered string table. 32 bits on every build: the
 * module keeps it in a 4-byte block. */
typedef uint32_t StringTableRef;

/* Pixel function called by `iterate` for each destination pixel; x and y
 * are the destination pixel's coordinates in its world. Non-zero stops the
 * iteration and becomes its result. */
typedef int32_t (*PixelFunc)(void *refcon, int32_t x, int32_t y, HostPixel *src, HostPixel *dst);

/* Command codes sent through `main`. Codes 2, 7, 10 and everything outside
 * 0-11 have no handler and are answered with 0. */
enum {
    CmdAbout = 0,
    CmdGlobalSetup = 1,
    CmdGlobalTeardown = 3,
    CmdParamSetup = 4,
    CmdInstanceSetup = 5,
    CmdInstanceResetup = 6,
    CmdInstanceTeardown = 8,
    CmdOptionsDialog = 9,
    CmdRender = 11
};

/* ---------------------------------------------------------------------
 * EffectWorld: an image of 32-bit HostPixels. The effect never allocates
 * one; for a temporary world it reserves this record and `newWorld` fills
 * it (76 bytes on the 32-bit host).
 */
struct EffectWorld {
    uint8_t host0[12];
    HostPixel *data;   /* first pixel of the top row */
    int32_t rowBytes;  /* signed byte distance between rows */
    int32_t width;     /* pixels per row */
    int32_t height;    /* rows */
    QdRect extent;     /* the part of the output the host needs */
    uint8_t host1[40]; /* host-owned: bytes 36-75 */
};
QM_ABI_SIZE(EffectWorld, 76);
QM_ABI_OFFSET(EffectWorld, data, 12);
QM_ABI_OFFSET(EffectWorld, rowBytes, 16);
QM_ABI_OFFSET(EffectWorld, width, 20);
QM_ABI_OFFSET(EffectWorld, height, 24);
QM_ABI_OFFSET(EffectWorld, extent, 28);

/* ---------------------------------------------------------------------
 * ParamDef: one parameter definition, 148 bytes on the 32-bit host. The
 * effect builds definitions in a record of its own at parameter setup; the
 * host fills records of this kind with current values for every render.
 */
enum { kParamSlider = 1, kParamCheckbox = 4, kParamColor = 5, kParamPoint = 6 };

typedef struct ParamSlider {
    int32_t value;  /* current value; read as its low 16 bits, signed */
    char text1[32]; /* emptied by the effect */
    char text2[32]; /* emptied by the effect */
    int32_t min1;   /* first bound pair */
    int32_t max1;
    int32_t min2; /* second bound pair */
    int32_t max2;
    int32_t dflt; /* default value */
    int32_t unused;
} ParamSlider;

typedef struct ParamPoint {
    Fixed x; /* current x, output pixels */
    Fixed y; /* current y */
    uint8_t pad[3];
    uint8_t flag;
    Fixed dfltX; /* default x */
    Fixed dfltY; /* default y */
} ParamPoint;

typedef struct ParamColor {
    HostPixel value;
    HostPixel dflt;
} ParamColor;

typedef struct ParamCheckbox {
    int32_t value; /* 0 off, non-zero on */
    uint8_t dflt;  /* one byte; 0 off */
    uint8_t pad[3];
    const char *label; /* text shown beside the box, owned by the host's string table */
} ParamCheckbox;

typedef union ParamValue {
    ParamSlider slider;
    ParamPoint point;
    ParamColor color;
    ParamCheckbox checkbox;
    EffectWorld layer; /* parameter 0: the input layer's world */
    uint8_t bytes[92];
} ParamValue;

struct ParamDef {
    uint8_t host0[12];
    int32_t paramType; /* kParam... code */
    char name[40];     /* zero-terminated name from byte 16; the rest is the host's */
    ParamValue u;      /* type-specific fields from byte 56 */
};
QM_ABI_SIZE(ParamDef, 148);
QM_ABI_OFFSET(ParamDef, paramType, 12);
QM_ABI_OFFSET(ParamDef, name, 16);
QM_ABI_OFFSET(ParamDef, u, 56);
QM_ABI_OFFSET(ParamDef, u.slider.value, 56);
QM_ABI_OFFSET(ParamDef, u.slider.text1, 60);
QM_ABI_OFFSET(ParamDef, u.slider.text2, 92);
QM_ABI_OFFSET(ParamDef, u.slider.min1, 124);
QM_ABI_OFFSET(ParamDef, u.slider.max1, 128);
QM_ABI_OFFSET(ParamDef, u.slider.min2, 132);
QM_ABI_OFFSET(ParamDef, u.slider.max2, 136);
QM_ABI_OFFSET(ParamDef, u.slider.dflt, 140);
QM_ABI_OFFSET(ParamDef, u.slider.unused, 144);
QM_ABI_OFFSET(ParamDef, u.point.x, 56);
QM_ABI_OFFSET(ParamDef, u.point.y, 60);
QM_ABI_OFFSET(ParamDef, u.point.flag, 67);
QM_ABI_OFFSET(ParamDef, u.point.dfltX, 68);
QM_ABI_OFFSET(ParamDef, u.point.dfltY, 72);
QM_ABI_OFFSET(ParamDef, u.color.value, 56);
QM_ABI_OFFSET(ParamDef, u.color.dflt, 60);
QM_ABI_OFFSET(ParamDef, u.checkbox.value, 56);
QM_ABI_OFFSET(ParamDef, u.checkbox.dflt, 60);
QM_ABI_OFFSET(ParamDef, u.checkbox.label, 64);
QM_ABI_OFFSET(ParamDef, u.layer.height, 80);

/* ---------------------------------------------------------------------
 * SamplingBlock: the host's sampler parameter block (84 bytes on the
 * 32-bit host). The effect writes only the source world.
 */
struct SamplingBlock {
    uint8_t host0[12];
    EffectWorld *src; /* world to sample */
    uint8_t host1[68];
};
QM_ABI_SIZE(SamplingBlock, 84);
QM_ABI_OFFSET(SamplingBlock, src, 12);

/* ---------------------------------------------------------------------
 * HostUtilTable: the host's utility functions. Slots the effect does not
 * use are host-owned and kept as reserved pointers.
 */
typedef void (*HostReservedFn)(void);

struct HostUtilTable {
    HostReservedFn reserved0;
    /* Writes the pixel of block->src at (x, y) in 16.16; positions outside
     * the world read as transparent. */
    int32_t (*sampleAt)(EffectRef ref, Fixed x, Fixed y, SamplingBlock *block, HostPixel *out);
    HostReservedFn reserved2[6];
    /* Copies pixels; null rectangles mean the whole world. Never writes
     * outside the destination world. */
    int32_t (*copyWorld)(EffectRef ref, EffectWorld *src, EffectWorld *dst, const QdRect *srcRect,
                         const QdRect *dstRect);
    /* Fills a rectangle (null: the whole world) with one colour. */
    int32_t (*fillWorld)(EffectRef ref, const HostPixel *colour, const QdRect *rect, EffectWorld *world);
    HostReservedFn reserved10;
    /* Calls `fn` once per destination pixel of `area` (null: whole world),
     * clipped to the destination, reporting progress base..final; stops on
     * a non-zero return or a cancel. */
    int32_t (*iterate)(HostInData *in, int32_t progressBase, int32_t progressFinal, EffectWorld *src,
                       const QdRect *area, void *refcon, PixelFunc fn, EffectWorld *dst);
    HostReservedFn reserved12[2];
    /* Fills `out` with a new width x height world; flags 1 promises zeroed
     * pixels. */
    int32_t (*newWorld)(EffectRef ref, int32_t width, int32_t height, int32_t flags, EffectWorld *out);
    /* A porting-library port and device over the world, released with it. */
    int32_t (*getWorldPort)(EffectRef ref, EffectWorld *world, void **port, void **device);
    int32_t (*disposeWorld)(EffectRef ref, EffectWorld *world);
    HostReservedFn reserved17[4];
    Handle (*newHandle)(uint32_t size);
    HostReservedFn reserved22[2];
    void (*disposeHandle)(Handle h);
    HostReservedFn reserved25[17];
    /* printf-like; `%ld` reads a 32-bit value on every build. */
    void (*formatString)(char *buffer, const char *format, ...);
    void (*copyString)(char *dst, const char *src);
    HostReservedFn reserved44[4];
};
QM_ABI_OFFSET(HostUtilTable, sampleAt, 4);
QM_ABI_OFFSET(HostUtilTable, copyWorld, 32);
QM_ABI_OFFSET(HostUtilTable, fillWorld, 36);
QM_ABI_OFFSET(HostUtilTable, iterate, 44);
QM_ABI_OFFSET(HostUtilTable, newWorld, 56);
QM_ABI_OFFSET(HostUtilTable, getWorldPort, 60);
QM_ABI_OFFSET(HostUtilTable, disposeWorld, 64);
QM_ABI_OFFSET(HostUtilTable, newHandle, 84);
QM_ABI_OFFSET(HostUtilTable, disposeHandle, 96);
QM_ABI_OFFSET(HostUtilTable, formatString, 168);
QM_ABI_OFFSET(HostUtilTable, copyString, 172);
QM_ABI_SIZE(HostUtilTable, 192);

/* ---------------------------------------------------------------------
 * HostInData: read-only for the effect.
 */
struct HostInData {
    uint8_t host0[8];
    /* Adds a parameter definition; the effect passes index -1. */
    int32_t (*addParam)(EffectRef ref, int32_t index, ParamDef *def);
    /* Non-zero when the user has cancelled. */
    int32_t (*checkAbort)(EffectRef ref);
    uint8_t host1[20];
    int32_t (*openStringTable)(const char *const *table, int32_t id, const char *effectName, int32_t count,
                               StringTableRef *out);
    const char *(*getString)(StringTableRef table, int32_t index);
    void (*closeStringTable)(StringTableRef table);
    uint8_t host2[40];
    HostUtilTable *utils;
    EffectRef effectRef;
    int32_t quality; /* 0: draft; anything else: high quality */
    uint8_t host3[28];
    uint8_t *drawGlobals; /* the fill pattern lies 118 bytes in */
    uint8_t host4[52];
    int32_t downsampleXNum;
    uint32_t downsampleXDen;
    int32_t downsampleYNum;
    uint32_t downsampleYDen;
    uint8_t host5[12];
    Handle globalData;   /* the effect's global block */
    Handle sequenceData; /* this instance's settings record, or null */
    uint8_t host6[32];
};
QM_ABI_OFFSET(HostInData, addParam, 8);
QM_ABI_OFFSET(HostInData, checkAbort, 12);
QM_ABI_OFFSET(HostInData, openStringTable, 36);
QM_ABI_OFFSET(HostInData, getString, 40);
QM_ABI_OFFSET(HostInData, closeStringTable, 44);
QM_ABI_OFFSET(HostInData, utils, 88);
QM_ABI_OFFSET(HostInData, effectRef, 92);
QM_ABI_OFFSET(HostInData, quality, 96);
QM_ABI_OFFSET(HostInData, drawGlobals, 128);
QM_ABI_OFFSET(HostInData, downsampleXNum, 184);
QM_ABI_OFFSET(HostInData, downsampleXDen, 188);
QM_ABI_OFFSET(HostInData, downsampleYNum, 192);
QM_ABI_OFFSET(HostInData, downsampleYDen, 196);
QM_ABI_OFFSET(HostInData, globalData, 212);
QM_ABI_OFFSET(HostInData, sequenceData, 216);
QM_ABI_SIZE(HostInData, 252);

/* ---------------------------------------------------------------------
 * HostOutData: written by the effect, read by the host after a command.
 */
enum { kReturnMessageSize = 256 };

struct HostOutData {
    int32_t effectVersion;
    uint8_t host0[32];
    Handle globalData;
    int32_t numParams;
    Handle sequenceData;
    uint8_t host1[20];
    int32_t outFlags;
    char returnMessage[kReturnMessageSize];
};
QM_ABI_OFFSET(HostOutData, effectVersion, 0);
QM_ABI_OFFSET(HostOutData, globalData, 36);
QM_ABI_OFFSET(HostOutData, numParams, 40);
QM_ABI_OFFSET(HostOutData, sequenceData, 44);
QM_ABI_OFFSET(HostOutData, outFlags, 68);
QM_ABI_OFFSET(HostOutData, returnMessage, 72);

#ifdef __cplusplus
}
#endif

#endif

/*
 * Basic types shared by the module, the host and the porting library.
 *
 * Conventions that hold everywhere these types are used:
 *  - Right and bottom edges of every rectangle are exclusive: a rectangle
 *    covers (right - left) x (bottom - top) pixels and is empty when
 *    right <= left or bottom <= top.
 *  - A Fixed is 16.16: 1.0 is 65536. It becomes whole pixels by adding 0x8000
 *    and shifting right arithmetically by 16 (halves go up), unless a caller
 *    says it rounds outward.
 *  - A Handle is a pointer to a master pointer that names a relocatable
 *    block: two dereferences reach the data. The block may move whenever it
 *    is not locked, so its address is only held across calls while locked.
 *
 * Record layouts are the 32-bit x86 host's ABI. On 32-bit builds every
 * offset is checked; 64-bit builds keep the same fields with pointers
 * naturally widened.
 */
#ifndef QUILLOMARK_HOST_TYPES_H
#define QUILLOMARK_HOST_TYPES_H

#include <stddef.h>
#include <stdint.h>

#if defined(__i386__) || defined(_M_IX86)
#define QM_ABI32 1
#else
#define QM_ABI32 0
#endif

/* Checks an offset only where the 32-bit layout is the real ABI. */
#if QM_ABI32
#define QM_ABI_OFFSET(type, field, off)                                                                                \
    static_assert(offsetof(type, field) == (off), #type "." #field " must sit at byte " #off)
#define QM_ABI_SIZE(type, size) static_assert(sizeof(type) == (size), #type " must be " #size " bytes")
#else
#define QM_ABI_OFFSET(type, field, off) static_assert(true, "")
#define QM_ABI_SIZE(type, size) static_assert(true, "")
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Signed 16.16 fixed point. */
typedef int32_t Fixed;

/* A relocatable block: pointer to its master pointer. */
typedef char **Handle;

/* Whole-pixel rectangle of the host records and the porting library.
 * Field order is top, left, bottom, right (unlike FixedRect). */
typedef struct QdRect {
    int16_t top;
    int16_t left;
    int16_t bottom;
    int16_t right;
} QdRect;
QM_ABI_SIZE(QdRect, 8);
QM_ABI_OFFSET(QdRect, top, 0);
QM_ABI_OFFSET(QdRect, left, 2);
QM_ABI_OFFSET(QdRect, bottom, 4);
QM_ABI_OFFSET(QdRect, right, 6);

/* 16.16 rectangle: left, top, right, bottom. */
typedef struct FixedRect {
    Fixed left;
    Fixed top;
    Fixed right;
    Fixed bottom;
} FixedRect;
QM_ABI_SIZE(FixedRect, 16);

/* One 32-bit host pixel, memory order alpha, red, green, blue. As a
 * little-endian word alpha is bits 0-7 and blue bits 24-31. */
typedef struct HostPixel {
    uint8_t alpha;
    uint8_t red;
    uint8_t green;
    uint8_t blue;
} HostPixel;
QM_ABI_SIZE(HostPixel, 4);
QM_ABI_OFFSET(HostPixel, alpha, 0);
QM_ABI_OFFSET(HostPixel, red, 1);
QM_ABI_OFFSET(HostPixel, green, 2);
QM_ABI_OFFSET(HostPixel, blue, 3);

#ifdef __cplusplus
}
#endif

#endif

/*
 * The host's graphics porting library, Corvane1: handles, string
 * conversion, offscreen worlds, text metrics and drawing, rectangle
 * arithmetic, under the classic drawing-library names. The five names that
 * collide with Win32 carry a leading underscore, and that underscore is part
 * of the symbol on every platform.
 *
 * Calling convention: cdecl, 32-bit argument slots; 16-bit quantities travel
 * in the low half. The current port is process-wide state: code that
 * changes it saves it with GetGWorld first and restores it with SetGWorld.
 *
 * Colours: the classic constants (30 white, 33 black). In a 1-bit world a
 * white pixel is a 0 bit and a black pixel a 1 bit; the most significant
 * bit of each byte is the leftmost pixel.
 */
#ifndef QUILLOMARK_HOST_PORTING_H
#define QUILLOMARK_HOST_PORTING_H

#include "types.h"

#if defined(_WIN32) && defined(QM_BUILDING_MODULE)
#define QM_PORTING_DATA __declspec(dllimport)
#elif defined(_WIN32)
#define QM_PORTING_DATA __declspec(dllexport)
#else
#define QM_PORTING_DATA __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

enum { whiteColor = 30, blackColor = 33 };

/* Face bits, as TextFace takes them and as the settings record stores them. */
enum { kFaceBold = 1, kFaceItalic = 2, kFaceUnderline = 4, kFaceOutline = 8 };

/* Pixel map of a port: base address of the top row, then row bytes whose
 * top two bits are flags (mask with 0x3FFF). */
#pragma pack(push, 2)
typedef struct PixMap {
    char *baseAddr;
    int16_t rowBytes;
    QdRect bounds;
    int16_t pixelSize; /* bits per pixel: 1 or 32 */
} PixMap;
typedef PixMap **PixMapHandle;

/* The public head of a port (offscreen world or port over a host world):
 * the pixel map handle sits at byte 2. The rest is the library's. */
typedef struct GrafPortHead {
    int16_t device;
    PixMapHandle portPixMap;
} GrafPortHead;
#pragma pack(pop)

typedef GrafPortHead *GWorldPtr;
typedef struct GDevice_ **GDHandle;

/* FontMetrics: 16.16 values; the fifth field is the library's. */
typedef struct FMetricRec {
    Fixed ascent;
    Fixed descent;
    Fixed leading;
    Fixed widMax;
    int32_t wTabHandle;
} FMetricRec;

/* GetFontInfo: whole pixels. */
typedef struct FontInfo {
    int16_t ascent;
    int16_t descent;
    int16_t widMax;
    int16_t leading;
} FontInfo;

/* Error codes reported by QDError and NewGWorld. */
enum { noErr = 0, memFullErr = -108, paramErr = -50, cNoMemErr = -152 };

/* Handles */
Handle NewHandleClear(int32_t size);
Handle NewHandle(int32_t size);
void DisposeHandle(Handle h);
void HLock(Handle h);
void HUnlock(Handle h);
int32_t GetHandleSize(Handle h);

/* In-place string conversion, zero-terminated <-> length-prefixed. */
char *c2pstr(char *s);
char *p2cstr(unsigned char *s);

/* Fonts by name; an empty or unknown name gives the system font (0). */
void GetFNum(const unsigned char *pascalName, int16_t *fontNum);

/* Ports */
void GetGWorld(GWorldPtr *port, GDHandle *device);
void SetGWorld(GWorldPtr port, GDHandle device);
int16_t NewGWorld(GWorldPtr *offscreen, int16_t depth, const QdRect *bounds, void *colorTable, GDHandle device,
                  uint32_t flags);
uint8_t LockPixels(PixMapHandle pm);
void UnlockPixels(PixMapHandle pm);
void DisposeGWorld(GWorldPtr world);

/* Text state of the current port */
void TextFont(int16_t font);
void TextSize(int16_t size);
void TextFace(int16_t face);
void TextMode(int16_t mode);
void ForeColor(int32_t colour);
void BackColor(int32_t colour);
void SetFractEnable(uint8_t on);
void FontMetrics(FMetricRec *out);
void GetFontInfo(FontInfo *out);
int16_t TextWidth(const void *text, int16_t firstByte, int16_t byteCount);

/* Drawing in the current port, always clipped to its bounds. */
void _MoveTo(int16_t h, int16_t v);
void _DrawText(const void *text, int16_t firstByte, int16_t byteCount);
void _FillRect(const QdRect *rect, const void *pattern);

int16_t QDError(void);

/* Rectangles */
void _SetRect(QdRect *r, int16_t left, int16_t top, int16_t right, int16_t bottom);
void _OffsetRect(QdRect *r, int16_t dh, int16_t dv);
uint8_t SectRect(const QdRect *a, const QdRect *b, QdRect *out);

/* The host's main window, owner of the module's dialogs. */
extern QM_PORTING_DATA void *hWndMain;

#ifdef __cplusplus
}
#endif

#if QM_ABI32
static_assert(offsetof(GrafPortHead, portPixMap) == 2, "pixel map handle sits at byte 2 of a port");
static_assert(offsetof(PixMap, rowBytes) == 4, "row bytes sit at byte 4 of a pixel map");
#endif
static_assert(sizeof(FontInfo) == 8, "FontInfo is four 16-bit values");

#endif

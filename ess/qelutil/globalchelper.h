/* Text layer of the security library: message texts by catalog id with built-in English defaults,
 * printing and formatting, conversion between UTF-8, UTF-16 and the native encoding, character
 * tests and a password prompt. With a globalization function table installed every operation goes
 * through it; without one (the state of this system) native text is UTF-8 and all is plain libc. */
#ifndef GLOBALCHELPER_H
#define GLOBALCHELPER_H

#include <stdarg.h>
#include <stdio.h>

#include "cmpltfrm.h"

CM_EXTERN_C_BEGIN

typedef unsigned short GCUchar; /* one UTF-16 code unit */

/* Read or write callback of a stream of the globalization library over a C stream: the byte count,
 * -1 at end of file, -2 on error. */
typedef int (*EssGlobalcStreamProc)(void* cstream, char* buf, int len);

/* The globalization library's operations; handles (locales, catalog, streams) are opaque here and
 * kinds, items and flags pass through unchanged. */
typedef struct Globalc_FunctionPtrs {
    int (*pGCCloseCatalog)(void* catalog);
    int (*pGCReleaseLocale)(void* locale);
    int (*pGCTerm)(void);
    int (*pGCInit)(char* dir, void* allocProc, void* freeProc, void* context, unsigned int options);
    int (*pGCSetLocale)(const char* name, unsigned int kind);
    void* (*pGCGetLocale)(const char* name, unsigned int kind, unsigned int* rc);
    int (*pGCGetLocaleTextInfo)(void* locale, int item, char* buf, int size);
    void* (*pGCOpenCatalog)(void* locale, const char* name, const char* path, unsigned int* rc);
    int (*pGCStringToUnicode)(GCUchar* out, int outUnits, void* locale, const char* in, int inLen, unsigned int flags);
    int (*pGCUnicodeToString)(void* locale, char* out, int outSize, const GCUchar* in, int inUnits, unsigned int flags);
    int (*pGCGetMessage)(void* catalog, int set, int id, char* buf, int size);
    int (*pGCGetMessageU)(void* catalog, int set, int id, GCUchar* buf, int units);
    int (*pGCConvertString)(void* dstLocale, char* dst, int dstSize, void* srcLocale, const char* src, int srcLen,
                            unsigned int flags);
    int (*pGCNumChars)(void* locale, const char* str, int len);
    int (*pGCGetCharType)(void* locale, const char* ch, unsigned int charClass);
    char* (*pGCNextChar)(void* locale, const char* str);
    char* (*pGCPrevChar)(void* locale, const char* start, const char* str);
    void* (*pGCOpenStream)(void* locale, void* cstream, EssGlobalcStreamProc proc, unsigned int flags);
    int (*pGCCloseStream)(void* stream);
    int (*pGCReadString)(void* stream, char* buf, int size, unsigned int flags);
    int (*pGCGetEol)(void* locale, char* buf, int size);
    int (*pGCByteLength)(void* locale, const char* ch);
    int (*pGCWriteChar)(void* stream, const char* ch, int len);
    int (*pGCFlushStream)(void* stream);
    int (*pGCVsprintf)(void* locale, char* buf, int size, const char* format, va_list args);
    char* (*pGCStrchr)(void* locale, const char* str, const char* ch, int ignoreCase);
} Globalc_FunctionPtrs;

/* Flags and kinds handed to the table unchanged. */
#define ESS_GC_INIT_OPTIONS 0x80000001u
#define ESS_GC_STREAM_IN 0x80000050u
#define ESS_GC_STREAM_OUT 0x80000051u
#define ESS_GC_CLASS_ALPHA 0x80000010u
#define ESS_GC_READ_FLAGS 3840u
#define ESS_GC_EOL_FLAGS 3848u
#define ESS_GC_LOCALE_NATIVE 2u
#define ESS_GC_LOCALE_NAMED 4u
#define ESS_GC_TERMINATE 8u
#define ESS_CATALOG_SET 1
/* Room of a catalog text and of a formatted line. */
#define ESS_MESSAGE_ROOM 256
#define ESS_FORMAT_ROOM 4096

/* Set-up */
void EssGlobalcSetFunctionPtrs(Globalc_FunctionPtrs* table);
Globalc_FunctionPtrs* EssGlobalcGetFunctionPtrs(void);
void* EssGetUtf8Locale(void);
void* EssGetNativeLocale(void);
void* EssGetCatalog(void);
void EssGlobalcPutEnvironment(Globalc_FunctionPtrs* table, void* utf8Locale, void* nativeLocale, void* catalog);
int EssGlobalcInit(void);
int EssGlobalcTerminate(void);
void EssGlobalcFree(void);
int EssGlobalcLoad(const char* name);

/* Messages: new texts the caller frees. */
char* EssGetUtf8String(int id, const char* def);
char* EssGetNativeString(int id, const char* def);
GCUchar* EssGetUnicodeString(int id, const char* def);
char* EssGetNativeStringExt(int id, const char* def);

/* Printing and formatting (at most 4095 characters a call). */
int EssGlobalcPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
int EssGlobalcVPrintf(const char* format, va_list args) __attribute__((format(printf, 1, 0)));
int EssGlobalcPrintfErr(const char* format, ...) __attribute__((format(printf, 1, 2)));
int EssGlobalcVPrintfErr(const char* format, va_list args) __attribute__((format(printf, 1, 0)));
int EssGlobalcPrintfUtf8(const char* format, ...) __attribute__((format(printf, 1, 2)));
int EssGlobalcVPrintfUtf8(const char* format, va_list args) __attribute__((format(printf, 1, 0)));
int EssGlobalcPrintfUtf8Err(const char* format, ...) __attribute__((format(printf, 1, 2)));
int EssGlobalcVPrintfUtf8Err(const char* format, va_list args) __attribute__((format(printf, 1, 0)));
int EssGlobalcSnprintf(char* buf, int size, const char* format, ...) __attribute__((format(printf, 3, 4)));
int EssGlobalcSVnprintf(char* buf, int size, const char* format, va_list args) __attribute__((format(printf, 3, 0)));
int EssGlobalcSnprintfUtf8(char* buf, int size, const char* format, ...) __attribute__((format(printf, 3, 4)));
int EssGlobalcSVnprintfUtf8(char* buf, int size, const char* format, va_list args)
    __attribute__((format(printf, 3, 0)));
/* The message of id (default def) used as the format. */
int EssGlobalcUtf8Printf(int id, const char* def, ...);
int EssGlobalcNativePrintf(int id, const char* def, ...);
int EssGlobalcUtf8Sprintf(char* buf, int size, int id, const char* def, ...);
int EssGlobalcNativeSprintf(char* buf, int size, int id, const char* def, ...);

/* Output of len bytes as data. */
int EssGlobalcWriteString(const char* buf, int len);
int EssGlobalcWriteStringErr(const char* buf, int len);
int EssGlobalcWriteStringFile(const char* buf, int len, FILE* fp);
int EssGlobalcReadIn(void* cstream, char* buf, int len);
int EssGlobalcWriteOut(void* cstream, char* buf, int len);
void* EssGlobalcOpenStreamIn(FILE* fp);
void* EssGlobalcOpenStreamOut(FILE* fp);
void* EssGlobalcOpenStreamErr(FILE* fp);
int EssGlobalcReadString(char* buf, int size);
int EssGlobalcGetsPsw(char* buf, int size);

/* Conversion: sizes in bytes for UTF-8 and native text, in units for UTF-16. */
int EssUtf8ToNativeString(char* out, int size, const char* in);
int EssNativeStringToUtf8(char* out, int size, const char* in);
int EssUtf8StringToUnicode(GCUchar* out, int size, const char* in);
int EssUnicodeToUtf8String(char* out, int size, const GCUchar* in);
int EssUnicodeToUtf8StringEx(char* out, int size, const GCUchar* in, int length);
int EssNumChars(const char* str);
int EssIsAlpha(const char* str);
char* EssGetNextChar(const char* str);
char* EssStrChr(const char* text, const char* ch, int ignoreCase);
int EssCompareCharUtf8(const char* str, int index, int c);
int EssCompareCharNative(const char* str, int index, int c);

/* UTF-8 and UTF-16 without a table. A length of -1 means up to and including the terminator. */
int UTF16_to_UTF8(char* dst, int size, const GCUchar* src, int length);
int UTF8_to_UTF16(GCUchar* dst, int size, const char* src, int length);
int UTF8_mbslen_bytes(const char* str);
int UTF8_mbslen(const char* src, int length);
int UTF8_wcslen(const GCUchar* units, int count);

CM_EXTERN_C_END

#endif

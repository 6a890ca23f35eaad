/* The globalization library's interface: locale data objects (languages, territories, code pages,
 * sorts) read from locale data files, the library's start and end, the object manager, the file
 * layer, and the layouts of the data files' version 3 sections. */
#ifndef GC_H
#define GC_H

#include <stddef.h>
#include <stdint.h>

#include "cmpltfrm.h"

CM_EXTERN_C_BEGIN

typedef uint16_t GCUchar; /* one UTF-16 code unit */

/* Result codes of the library (returned through a u32* rc or as the result). */
#define GC_OK 0u
#define GC_ERR_OS 1u           /* operating-system failure */
#define GC_ERR_OPTION 2u       /* invalid option */
#define GC_WARN_FALLBACK 10u   /* initialised with a warning: built-in objects only */
#define GC_ERR_DATA 11u        /* fatal data loading error */
#define GC_ERR_NOMEM 20u       /* memory allocation failure */
#define GC_ERR_NOTFREED 21u    /* a block was not freed */
#define GC_ERR_CODEPAGE 30u    /* invalid code page */
#define GC_ERR_LANGUAGE 31u    /* invalid language */
#define GC_ERR_SORT 33u        /* invalid sort */
#define GC_ERR_TERRITORY 34u   /* invalid territory */
#define GC_ERR_ITEM 35u        /* unknown text item */
#define GC_ERR_SEPARATOR 36u   /* a separator cannot be represented */
#define GC_ERR_NOTFOUND 37u    /* object not found, invalid value or name */
#define GC_BUFFER_FULL 52u     /* output buffer full */
#define GC_INCOMPLETE 53u      /* input ends inside a character */
#define GC_REPLACED 73u        /* a character was replaced */
#define GC_ERR_NOFILE 1000u    /* no such file, or the path is a directory */
#define GC_ERR_ACCESS 1001u    /* access denied */
#define GC_ERR_FILEMODE 1002u  /* wrong file mode */
#define GC_ERR_IO 1003u        /* read, seek, map or name failure */
#define GC_ERR_UNMAP 1005u     /* unmap failure */
#define GC_ERR_NOTLOCALE 2000u /* not a locale data file */

/* Object types and their file-name prefixes "la", "te", "cp", "so". */
enum { GC_OBJ_LANGUAGE = 0, GC_OBJ_TERRITORY = 1, GC_OBJ_CODEPAGE = 2, GC_OBJ_SORT = 3 };

/* Options of GCInit: strict (the control file must be found, no built-in fallback). */
#define GC_INIT_STRICT 0x80000001u

/* Entry flags: bit 0 built-in object; bits 1-4 section 1-4 is a heap block of the library. */
#define GC_OBJ_BUILTIN 0x01u
#define GC_OBJ_HEAP(section) (1u << (section)) /* section 1..4 */

typedef void* (*GCAllocFunc)(void* context, size_t size);
typedef int (*GCFreeFunc)(void* context, void* block); /* non-zero on success */

typedef struct GCFile GCFile;

/* One row of the control table: 80 bytes, the same in the file and in memory. The last 40 bytes
 * are zero in the file; at run time they hold the open data file and the four section pointers.
 * An object counts as loaded when its section 1 pointer is set. */
typedef struct GCObjEntry {
    uint16_t id;
    uint8_t type;
    uint8_t flags;
    char name[36];
    GCFile* file;
    void* sect[4];
} GCObjEntry;

/* The object manager: the control table, the first index of each type, the data directory. */
typedef struct GCObjManager {
    GCObjEntry* table;
    uint16_t first[4];  /* first index of language, territory, code page, sort */
    uint16_t end;       /* end of the sort range */
    uint16_t count;     /* number of entries */
    uint8_t nofallback; /* set: a data file that cannot be loaded gets no built-in object */
    char dir[256];      /* data directory in use ("" in fallback mode) */
} GCObjManager;

/* ---- Version 3 section layouts (little-endian, byte-packed) ---- */

#define GC_MAGIC 0x476cf462u
#define GC_VERSION_MAJOR(word) (((word) >> 28) & 0xFu)
#define GC_VERSION_MINOR(word) (((word) >> 19) & 0xFFu)
#define GC_VERSION_WORD(major, minor) ((((uint32_t)(major)) << 28) | (((uint32_t)(minor)) << 19))
#define GC_VERSION_CURRENT 0x30186000u /* major 3, minor 3 */

typedef struct __attribute__((packed)) GCSectDesc {
    uint32_t size;
    uint32_t offset;
} GCSectDesc;

typedef struct __attribute__((packed)) GCFileHdr { /* 80 bytes */
    uint32_t magic;
    uint32_t version;
    uint16_t nsect;
    uint8_t pad1[2];
    GCSectDesc sect[4];
    uint8_t reserved[32];
    uint8_t reserved2;
    uint8_t pad2[3];
} GCFileHdr;

typedef struct __attribute__((packed)) GCSectDescV2 {
    uint16_t size;
    uint8_t pad[2];
    uint32_t offset;
} GCSectDescV2;

typedef struct __attribute__((packed)) GCFileHdrV2 { /* versions 1 and 2: 76 bytes */
    uint32_t magic;
    uint32_t version;
    uint16_t nsect;
    uint16_t size1;
    uint32_t offset1;
    GCSectDescV2 sect[3]; /* sections 2, 3, 4 */
    uint8_t reserved[32];
    uint8_t reserved2;
    uint8_t pad[3];
} GCFileHdrV2;

#define GC_CTL_ROW_SIZE 80u

/* Encoding row of a code page, indexed by the high byte of a UTF-16 value. */
typedef struct __attribute__((packed)) GCCpEncRow {
    uint8_t kind;
    uint8_t mask;
    uint8_t low;
    uint8_t high;
    uint16_t off3; /* byte offset into section 3 */
    uint16_t off4; /* byte offset into section 4 */
} GCCpEncRow;

/* Decoding trie node (section 2). */
typedef struct __attribute__((packed)) GCCpNode {
    uint8_t leaf;
    uint8_t mask;
    uint8_t low;
    uint8_t high;
    uint16_t base;
} GCCpNode;

/* Version 1 decoding node: every byte accepted. */
typedef struct __attribute__((packed)) GCCpNodeV1 {
    uint8_t leaf;
    uint8_t mask;
    uint16_t base;
} GCCpNodeV1;

/* Character-type trie node and record (section 1 of a multi-byte code page). */
typedef struct __attribute__((packed)) GCCpTypeNode {
    uint8_t leaf;
    uint8_t mask;
    uint16_t base;
} GCCpTypeNode;

typedef struct __attribute__((packed)) GCCpTypeRec {
    uint32_t flags;
    int32_t delta;
} GCCpTypeRec;

/* Code-page flags (word at 4364). */
#define GC_CP_ASCII 0x1u    /* ASCII-based */
#define GC_CP_STATEFUL 0x2u /* shift-out / shift-in */
#define GC_CP_LEADBYTE 0x4u /* 0x81-0x84 then a byte >= 0x40 is a two-byte character */

/* Character-type flags of the table at 1292 and of the type records. */
#define GC_CT_UPPER 0x02u
#define GC_CT_LOWER 0x04u
#define GC_CT_DIGIT 0x08u
#define GC_CT_XDIGIT 0x10u
#define GC_CT_ALPHA 0x20u
#define GC_CT_SPACE 0x40u
#define GC_CT_PUNCT 0x80u
#define GC_CT_CNTRL 0x100u

typedef struct __attribute__((packed)) GCCp { /* section 1 fixed part: 4388 bytes */
    uint8_t repl;
    uint8_t ctl[4];
    uint8_t maxlen;
    uint16_t npairs;
    uint8_t so;
    uint8_t si;
    uint8_t len[256];
    uint8_t upper[256];
    uint8_t lower[256];
    uint16_t uni[256];
    uint8_t pad1[2];
    uint32_t ctype[256];
    GCCpEncRow enc[256];
    uint16_t flags;
    uint8_t pad2[2];
    uint32_t mboff;   /* multi-byte part, starting with the 256 full-width values */
    uint32_t pairoff; /* half/full-width pairs */
    uint32_t trieoff; /* character-type trie */
    uint32_t recoff;  /* character-type records */
    uint32_t valoff;  /* in section 2: the UTF-16 value array after the nodes */
} GCCp;

#define GC_CP_FIXED_SIZE 4388u
#define GC_CP_MB_OFFSET 8776u

typedef struct __attribute__((packed)) GCCpV2 { /* 4376 bytes */
    uint8_t head[4364];                         /* as version 3 */
    uint16_t flags;
    uint16_t mboff;
    uint16_t suboff[3];
    uint16_t valoff;
} GCCpV2;

typedef struct __attribute__((packed)) GCCpV1 { /* 4372 bytes */
    uint8_t repl;
    uint8_t ctl[4];
    uint8_t maxlen;
    uint16_t npairs;
    uint8_t len[256];
    uint8_t upper[256];
    uint8_t lower[256];
    uint16_t uni[256];
    uint32_t ctype[256];
    GCCpEncRow enc[256];
    uint16_t flags;
    uint16_t mboff;
    uint16_t suboff[3];
    uint16_t nodesize; /* bytes of the node array in section 2 */
} GCCpV1;

typedef struct __attribute__((packed)) GCSortRow {
    uint8_t flags; /* bit 0 ignorable, bit 1 computed primary, bit 2 computed alternative */
    uint8_t cls;
    uint8_t pad[2];
    uint32_t base;
} GCSortRow;

typedef struct __attribute__((packed)) GCSortRowV1 {
    uint8_t flags;
    uint8_t cls;
    uint16_t base;
} GCSortRowV1;

typedef struct __attribute__((packed)) GCSort { /* 2068 bytes */
    uint8_t head[2];
    uint16_t nexp;
    uint16_t ncomb;
    uint8_t pad[2];
    GCSortRow row[256];
    uint32_t wtoff;
    uint32_t expoff;
    uint32_t comboff;
} GCSort;

#define GC_SORT_FIXED_SIZE 2068u

typedef struct __attribute__((packed)) GCSortV1 { /* 1036 bytes */
    uint8_t head[2];
    uint16_t nexp;
    uint16_t ncomb;
    GCSortRowV1 row[256];
    uint16_t wtoff;
    uint16_t expoff;
    uint16_t comboff;
} GCSortV1;

typedef struct __attribute__((packed)) GCSortWeight {
    uint16_t primary;
    uint8_t secondary;
    uint8_t tertiary;
    uint16_t info; /* bit 15 alternative, bit 14 expansion, bits 10-13 class */
} GCSortWeight;

typedef struct __attribute__((packed)) GCSortExp {
    uint16_t ch;
    uint16_t p1;
    uint8_t s1;
    uint8_t t1;
    uint16_t p2;
    uint8_t s2;
    uint8_t t2;
    uint8_t unused[4];
} GCSortExp;

typedef struct __attribute__((packed)) GCSortComb {
    uint16_t first;
    uint16_t second;
    uint16_t weight;
    uint8_t secondary;
    uint8_t tertiary;
    uint16_t info;
} GCSortComb;

/* Language section: word 0-2 default territory, code page, sort; words 3-4 record counts of the
 * special tables; words 5.. the byte offsets of items 0-45. Territory section: fixed part of 46
 * bytes ending with the text offsets at 22-44. */
#define GC_LANG_ITEMS 46u
#define GC_LANG_FIXED_SIZE (2u * (5u + GC_LANG_ITEMS))
#define GC_TERR_FIXED_SIZE 46u

/* ---- Library start and end ---- */

uint32_t GCInit(const char* dir, GCAllocFunc alloc, GCFreeFunc free_fn, void* context, uint32_t options);
uint32_t GCInitU(const GCUchar* dir, GCAllocFunc alloc, GCFreeFunc free_fn, void* context, uint32_t options);
uint32_t GCTerm(void);

/* ---- Object manager ---- */

GCObjManager* GCInitObjManager(const char* dir, uint32_t options, uint32_t* rc);
uint32_t GCTermObjManager(GCObjManager* manager);
GCObjEntry* GCGetObjFromID(GCObjManager* manager, uint16_t type, uint16_t id, int noload, uint32_t* rc);
GCObjEntry* GCGetObjFromName(GCObjManager* manager, uint16_t type, const char* name, uint32_t length, int noload,
                             uint32_t* rc);
GCObjEntry* GCGetObjFromNameW(GCObjManager* manager, uint16_t type, const uint32_t* name, uint32_t length, int noload,
                              uint32_t* rc);
GCObjEntry* GCLoadObj(GCObjManager* manager, GCObjEntry* entry, uint32_t* rc);
uint32_t GCUnloadObj(GCObjManager* manager, GCObjEntry* entry);
uint32_t GCLoadDefaultObj(GCObjManager* manager, GCObjEntry* entry);

/* ---- File layer ---- */

enum { GC_FILE_READ = 0, GC_FILE_CREATE = 1, GC_FILE_UPDATE = 2 };
enum { GC_SEEK_SET = 10, GC_SEEK_CUR = 11, GC_SEEK_END = 12 };

GCFile* GCOpenFile(int context, const char* path, int mode, int nobackup, uint32_t* rc);
int GCCloseFile(GCFile* file, int discard);
uint32_t GCReadFile(GCFile* file, void* buffer, uint32_t length, uint32_t* rc);
int GCSeekFile(GCFile* file, long offset, uint32_t origin);
const void* GCLoadFile(GCFile* file, uint32_t offset, uint32_t size, uint32_t* rc);
uint32_t GCUnloadFile(const void* view);
uint32_t GCFileSize(GCFile* file);

/* ---- Data directory, file names, environment ---- */

int GCGetDataLocation(char* buffer, uint32_t size, int use_default);
char* GCGetControlFileName(const char* dir, char* buffer, uint32_t size);
char* GCGetDataFileName(const char* dir, uint16_t type, uint16_t id, char* buffer, uint32_t size);
uint32_t GCGetEnv(const char* name, char* buffer, uint32_t size);
int GCmemicmp(const void* a, const void* b, uint32_t length);

/* ---- Memory callbacks ---- */

void* GCDefAlloc(void* context, size_t size);
int GCDefFree(void* context, void* block);

/* ---- Older data versions ---- */

GCFileHdr* GCFileHdrV2toV3(const GCFileHdrV2* header);
void* GCCpV2toV3(const void* section1, uint32_t size);
void* GCCpV1toV3(const void* section1, uint32_t size1, const void* section2, uint32_t size2, void** new_section2);
void* GCSortV1toV3(const void* section1, uint32_t size);

/* ---- Locales ---- */

/* Locale flags. */
#define GC_LOC_CUR_PRECEDES_POS 0x001u
#define GC_LOC_CUR_SPACE_POS 0x002u
#define GC_LOC_CUR_PRECEDES_NEG 0x004u
#define GC_LOC_CUR_SPACE_NEG 0x008u
#define GC_LOC_SINGLEBYTE 0x040u /* the code page's characters are one byte */
#define GC_LOC_BINARY 0x080u     /* no sort object: binary order */
#define GC_LOC_STATEFUL 0x100u   /* the code page uses shift-out / shift-in */

/* A locale: one language, territory, code page and sort (null: binary order) with the territory's
 * conventions in the locale's code page and in UTF-16. Owned by the caller until GCReleaseLocale. */
typedef struct GCLocale {
    GCObjEntry* language;
    GCObjEntry* territory;
    GCObjEntry* codepage;
    GCObjEntry* sort;
    uint32_t modified; /* conventions set by the application (kept across territory changes) */
    uint16_t terrword5;
    uint16_t curdigits;    /* currency fraction digits */
    uint16_t intcurdigits; /* international currency fraction digits */
    uint16_t flags;
    uint8_t psignpos; /* positive sign position */
    uint8_t nsignpos; /* negative sign position */
    uint8_t sep[5];   /* decimal point, thousands, third, monetary decimal, monetary thousands */
    char* text[8];    /* grouping, currency symbol, monetary grouping, positive sign, negative sign,
                         time format, short date format, long date format */
    uint16_t setbits; /* conventions set through GCSetLocaleTextInfo */
    GCUchar usep[5];
    GCUchar* utext[8];
    uint32_t lastrc; /* result of the last operation on this locale */
} GCLocale;

/* One row of the native-locale map: native locale name, language, territory, code page, sort. */
typedef struct GCNativeLocale {
    char native[17];
    char language[32];
    char territory[32];
    char codepage[32];
    char sort[32];
} GCNativeLocale;

#define GC_NATIVE_MAP_ROWS 313
extern const GCNativeLocale GCPlocaleMap[GC_NATIVE_MAP_ROWS];

/* Options of GCGetLocale: 2 the user's locale, 4 unknown parts take defaults. */
GCLocale* GCGetLocale(const char* name, uint32_t options, uint32_t* rc);
uint32_t GCReleaseLocale(GCLocale* locale);
uint32_t GCGetUserLocale(char* buffer, uint32_t size);
char* GCMapNativeLocale(const char* native, char* buffer, uint32_t size);
GCLocale* GCMapNativeInfo(const char* native, GCLocale* locale);
int GCSetLocaleTextInfo(GCLocale* locale, int item, const char* text, long length, long flags);
uint32_t GCLocaleSetModifiable(GCLocale* locale);
uint32_t GCLocaleChangeTerritory(GCLocale* locale, GCObjEntry* territory);
uint32_t GCLocaleChangeCodePage(GCLocale* locale, GCObjEntry* codepage);
uint32_t GCLocaleCnvText(const GCObjEntry* from, const GCObjEntry* to, const char* text, char* out);
void GCLocaleFreeOldText(GCLocale* kept, GCLocale* other);

/* ---- Code-page conversion ---- */

/* A conversion handle: partial characters and shift states kept between GCConvertBuffer calls. */
typedef struct GCCnvDesc {
    GCLocale* from;
    uint8_t inpend[5];
    uint8_t instate; /* 1: double-byte state */
    uint8_t ninpend;
    GCLocale* to;
    uint8_t outpend[5];
    uint8_t outstate;
    uint8_t noutpend;
} GCCnvDesc;

/* String-call flags. */
#define GC_STR_TERMINATE 0x8u
#define GC_STR_CHARS 0x4000u

uint32_t GCCpMbToUnicode(const GCObjEntry* codepage, const unsigned char* bytes);
uint32_t GCCpMbToUnicodeW(const GCObjEntry* codepage, uint32_t wide);
uint32_t GCCpUnicodeToChar(const GCObjEntry* codepage, uint32_t value, unsigned char* out, uint32_t fallback);
uint32_t GCCpUnicodeToCharW(const GCObjEntry* codepage, uint32_t value);
uint32_t GCMbToW(const GCObjEntry* codepage, const unsigned char* bytes);
uint32_t GCMbToWS(const GCObjEntry* codepage, const unsigned char* bytes, int use_maxlen);
uint32_t GCWToMb(unsigned char* out, uint32_t wide);
GCCpTypeRec GCGetMbCtype(const GCObjEntry* codepage, const unsigned char* bytes);
GCCpTypeRec GCGetMbCtypeW(const GCObjEntry* codepage, uint32_t wide);
uint32_t GCCpMbCaseConv(const GCObjEntry* codepage, const unsigned char* in, unsigned char* out, uint32_t mask);
uint32_t GCCpMbCaseConvS(const GCObjEntry* codepage, const unsigned char* in, unsigned char* out, uint32_t mask);
uint32_t GCCpMbCaseConvW(const GCObjEntry* codepage, uint32_t wide, uint32_t mask);
uint32_t GCCpMbHalfToFullW(const GCObjEntry* codepage, uint32_t code);
uint32_t GCCpFullToHalfW(const GCObjEntry* codepage, uint32_t code);
uint32_t GCCpStrByteToCharLen(const GCObjEntry* codepage, const unsigned char* bytes, int start_in_double, int length);
uint32_t GCCpStrCharToByteLen(const GCObjEntry* codepage, const unsigned char* bytes, int start_in_double,
                              int characters);
uint32_t GCOffsetOfLastShftCodeEx(const unsigned char* bytes, uint8_t shift_in, uint8_t shift_out);
int GCCpStrToUnicode(const GCObjEntry* codepage, const unsigned char* bytes, int length, GCUchar* out);
int GCCpUnicodeToStr(const GCObjEntry* codepage, const GCUchar* units, int start_in_double, int count,
                     unsigned char* out);
int GCComStrToUnicode(const unsigned char* bytes, int length, GCUchar* out);
int GCComUnicodeToStr(const GCUchar* units, int count, unsigned char* out);

GCCnvDesc* GCOpenConversion(GCLocale* to, GCLocale* from);
uint32_t GCConvertBuffer(GCCnvDesc* handle, unsigned char** out, uint32_t* out_left, const unsigned char** in,
                         uint32_t* in_left);
uint32_t GCCloseConversion(GCCnvDesc* handle);
int GCConvertString(GCLocale* to, char* dst, int dstlen, GCLocale* from, const char* src, int srclen, uint32_t flags);
int GCStringToUnicode(GCUchar* dst, int dstlen, GCLocale* from, const char* src, int srclen, uint32_t flags);
int GCUnicodeToString(GCLocale* to, char* dst, int dstlen, const GCUchar* src, int srclen, uint32_t flags);

/* ---- Case helpers ---- */

#define GC_SPECIAL_CASING_ROWS 76
extern const uint16_t GC_SpecialCasing_Table[GC_SPECIAL_CASING_ROWS][4];
uint32_t GCGetUnicode3SpecialCase(uint16_t code, uint16_t* r1, uint16_t* r2, uint16_t* r3);
uint32_t GCLangGetSpecial(const GCObjEntry* language, uint16_t c1, uint16_t c2, uint16_t* r1, uint16_t* r2,
                          uint32_t item);

/* ---- Collation ---- */

/* One set of collation weights. */
typedef struct GCWeightSet {
    uint16_t primary;
    uint8_t secondary;
    uint8_t tertiary;
    uint16_t alternative; /* 0 unless the character has an alternative weight */
} GCWeightSet;

uint32_t GCSortGetWeights(const GCObjEntry* sort, uint16_t c, GCWeightSet* first, GCWeightSet* second, uint8_t* cls);
uint32_t GCSortGetCombination(const GCObjEntry* sort, uint16_t c1, uint16_t c2, GCWeightSet* weights, uint8_t* cls);
void GCSortGetAllCombinations(const GCObjEntry* sort, GCUchar* out);
/* Callers size the outputs: up to 65536 characters, three units per combination record. */
uint32_t GCSortGetSamePrimaryWeight(const GCObjEntry* sort, uint16_t c1, uint16_t c2, GCUchar* out, uint16_t* ncomb,
                                    GCUchar* comb_out);

/* ---- UTF-8 ---- */

uint32_t GCUnicodeToUTF8(uint32_t value, unsigned char* out);
uint32_t GCUTF8ToUnicode(const unsigned char* in, uint16_t* length);

CM_EXTERN_C_END

#endif

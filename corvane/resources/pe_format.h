// On-disk and in-memory records of Windows executables (PE32, and PE32+ as
// far as its headers). All fields are little-endian and the records are
// packed, so they are read through detail::readRecord from any offset,
// never by casting a pointer into file bytes.
//
// Addresses inside an image are RVAs (offsets from the image base) unless a
// field says VA (absolute, and therefore subject to base relocation).
#pragma once

#include <cstdint>

namespace corvane::pe {

inline constexpr uint16_t kDosMagic = 0x5A4D;    // "MZ"
inline constexpr uint32_t kPeSignature = 0x4550; // "PE\0\0"
inline constexpr uint16_t kMachineI386 = 0x014C;
inline constexpr uint16_t kMachineAmd64 = 0x8664;
inline constexpr uint16_t kOptionalMagicPe32 = 0x010B;
inline constexpr uint16_t kOptionalMagicPe32Plus = 0x020B;

// COFF characteristics
inline constexpr uint16_t kFileRelocsStripped = 0x0001;
inline constexpr uint16_t kFileExecutable = 0x0002;
inline constexpr uint16_t kFileDll = 0x2000;

// Section characteristics
inline constexpr uint32_t kSectionUninitialized = 0x00000080;
inline constexpr uint32_t kSectionExecute = 0x20000000;
inline constexpr uint32_t kSectionRead = 0x40000000;
inline constexpr uint32_t kSectionWrite = 0x80000000;

// Data directory slots
enum DirectoryIndex : uint32_t {
    kDirExport = 0,
    kDirImport = 1,
    kDirResource = 2,
    kDirSecurity = 4, // a file offset, not an RVA: the one directory outside the image
    kDirBaseReloc = 5,
    kDirTls = 9,
    kDirBoundImport = 11, // lies in the headers
    kDirImportAddresses = 12,
    kDirCount = 16,
};

// Base relocation types (high four bits of each entry)
inline constexpr uint16_t kRelAbsolute = 0; // padding
inline constexpr uint16_t kRelHigh = 1;
inline constexpr uint16_t kRelLow = 2;
inline constexpr uint16_t kRelHighLow = 3;

// Windows page protections
inline constexpr uint32_t kPageSize = 0x1000;
inline constexpr uint32_t kPageNoAccess = 0x01;
inline constexpr uint32_t kPageReadOnly = 0x02;
inline constexpr uint32_t kPageReadWrite = 0x04;
inline constexpr uint32_t kPageWriteCopy = 0x08;
inline constexpr uint32_t kPageExecute = 0x10;
inline constexpr uint32_t kPageExecuteRead = 0x20;
inline constexpr uint32_t kPageExecuteReadWrite = 0x40;
inline constexpr uint32_t kPageExecuteWriteCopy = 0x80;
inline constexpr uint32_t kPageModifiers = 0x700; // guard, no-cache, write-combine

// Entry-point and TLS callback reasons
inline constexpr uint32_t kProcessDetach = 0;
inline constexpr uint32_t kProcessAttach = 1;

inline constexpr uint32_t kImportByOrdinal = 0x80000000u;
inline constexpr uint32_t kResourceSubdirectory = 0x80000000u;
inline constexpr uint32_t kResourceNameIsString = 0x80000000u;

#pragma pack(push, 1)

struct DosHeader {
    uint16_t magic; // kDosMagic
    uint8_t unused[58];
    uint32_t peOffset; // file offset of the PE signature
};
static_assert(sizeof(DosHeader) == 64);

struct FileHeader {
    uint16_t machine;
    uint16_t numberOfSections;
    uint32_t timeDateStamp;
    uint32_t pointerToSymbolTable;
    uint32_t numberOfSymbols;
    uint16_t sizeOfOptionalHeader;
    uint16_t characteristics;
};
static_assert(sizeof(FileHeader) == 20);

struct DataDirectory {
    uint32_t rva;
    uint32_t size;
};

// PE32 optional header up to (not including) the data directories. A PE32+
// header keeps its directory count at offset 108 and its directories at 112.
struct OptionalHeader32 {
    uint16_t magic;
    uint8_t majorLinkerVersion;
    uint8_t minorLinkerVersion;
    uint32_t sizeOfCode;
    uint32_t sizeOfInitializedData;
    uint32_t sizeOfUninitializedData;
    uint32_t addressOfEntryPoint; // RVA, 0 when there is none
    uint32_t baseOfCode;
    uint32_t baseOfData;
    uint32_t imageBase; // preferred load address
    uint32_t sectionAlignment;
    uint32_t fileAlignment;
    uint16_t majorOsVersion;
    uint16_t minorOsVersion;
    uint16_t majorImageVersion;
    uint16_t minorImageVersion;
    uint16_t majorSubsystemVersion;
    uint16_t minorSubsystemVersion;
    uint32_t win32VersionValue;
    uint32_t sizeOfImage;
    uint32_t sizeOfHeaders;
    uint32_t checkSum;
    uint16_t subsystem;
    uint16_t dllCharacteristics;
    uint32_t sizeOfStackReserve;
    uint32_t sizeOfStackCommit;
    uint32_t sizeOfHeapReserve;
    uint32_t sizeOfHeapCommit;
    uint32_t loaderFlags;
    uint32_t numberOfRvaAndSizes;
};
static_assert(sizeof(OptionalHeader32) == 96);
inline constexpr uint32_t kOptionalHeader64Size = 112;

struct SectionHeader {
    char name[8];
    uint32_t virtualSize;
    uint32_t virtualAddress;
    uint32_t sizeOfRawData;
    uint32_t pointerToRawData;
    uint32_t pointerToRelocations;
    uint32_t pointerToLinenumbers;
    uint16_t numberOfRelocations;
    uint16_t numberOfLinenumbers;
    uint32_t characteristics;
};
static_assert(sizeof(SectionHeader) == 40);

struct ImportDescriptor {
    uint32_t originalFirstThunk; // RVA of the lookup table (0: use firstThunk)
    uint32_t timeDateStamp;
    uint32_t forwarderChain;
    uint32_t name;       // RVA of the DLL name
    uint32_t firstThunk; // RVA of the address table the loader fills
};
static_assert(sizeof(ImportDescriptor) == 20);

struct ExportDirectory {
    uint32_t characteristics;
    uint32_t timeDateStamp;
    uint16_t majorVersion;
    uint16_t minorVersion;
    uint32_t name;
    uint32_t base; // ordinal of the first address table entry
    uint32_t numberOfFunctions;
    uint32_t numberOfNames;
    uint32_t addressOfFunctions;    // RVA of uint32_t[numberOfFunctions]
    uint32_t addressOfNames;        // RVA of uint32_t[numberOfNames], sorted
    uint32_t addressOfNameOrdinals; // RVA of uint16_t[numberOfNames]
};
static_assert(sizeof(ExportDirectory) == 40);

struct BaseRelocationBlock {
    uint32_t pageRva;
    uint32_t blockSize; // including this header
};
static_assert(sizeof(BaseRelocationBlock) == 8);

struct TlsDirectory32 {
    uint32_t startAddressOfRawData; // VA
    uint32_t endAddressOfRawData;   // VA
    uint32_t addressOfIndex;        // VA of the uint32_t slot index
    uint32_t addressOfCallbacks;    // VA of a null-terminated VA array
    uint32_t sizeOfZeroFill;
    uint32_t characteristics;
};
static_assert(sizeof(TlsDirectory32) == 24);

struct ResourceDirectory {
    uint32_t characteristics;
    uint32_t timeDateStamp;
    uint16_t majorVersion;
    uint16_t minorVersion;
    uint16_t numberOfNamedEntries;
    uint16_t numberOfIdEntries;
};
static_assert(sizeof(ResourceDirectory) == 16);

struct ResourceDirectoryEntry {
    uint32_t name;   // id, or kResourceNameIsString | offset of a counted UTF-16 name
    uint32_t offset; // kResourceSubdirectory | offset of a directory, else of a data entry
};
static_assert(sizeof(ResourceDirectoryEntry) == 8);

struct ResourceDataEntry {
    uint32_t dataRva; // RVA, not an offset into the resource section
    uint32_t size;
    uint32_t codePage;
    uint32_t reserved;
};
static_assert(sizeof(ResourceDataEntry) == 16);

#pragma pack(pop)

} // namespace corvane::pe

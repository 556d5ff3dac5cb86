// The per-thread block that Windows code reaches through the %fs segment:
// fs:0x18 holds the block's own address, fs:0x2C the static-TLS pointer
// array, fs:0x34 the last error. Each thread that calls into an image gets
// one, made on first use and released when the thread ends.
//
// glibc on i386 keeps its own thread pointer in %gs and leaves %fs alone, so
// the loader points %fs at the block only for the length of a call into an
// image (ThreadBlockScope) and puts the previous selector back afterwards.
#pragma once

#include <cstdint>
#include <span>

namespace corvane::pe {

// Byte offsets inside the block.
inline constexpr uint32_t kTebExceptionList = 0x00;
inline constexpr uint32_t kTebStackBase = 0x04;
inline constexpr uint32_t kTebStackLimit = 0x08;
inline constexpr uint32_t kTebSelf = 0x18;
inline constexpr uint32_t kTebProcessId = 0x20;
inline constexpr uint32_t kTebThreadId = 0x24;
inline constexpr uint32_t kTebTlsPointer = 0x2C;
inline constexpr uint32_t kTebProcessBlock = 0x30;
inline constexpr uint32_t kTebLastError = 0x34;
inline constexpr uint32_t kTebTlsSlots = 0xE10;
inline constexpr uint32_t kTebSize = 0x1000;

// Slots of static TLS (image .tls templates) and of TlsAlloc.
inline constexpr uint32_t kTlsSlotCount = 64;

class ThreadBlock {
public:
    // The calling thread's block; throws PeError if the segment cannot be
    // installed.
    static ThreadBlock &current();

    uintptr_t address() const;
    uint16_t selector() const { return selector_; }
    uint32_t lastError() const;
    void setLastError(uint32_t error);
    // TlsAlloc slots; the index must be below kTlsSlotCount.
    void *slotValue(uint32_t index) const;
    void setSlotValue(uint32_t index, void *value);
    // This thread's copy of an image's TLS data (null when the slot is free).
    void *imageTlsData(uint32_t index);

    ~ThreadBlock();
    struct Impl; // the block's memory and this thread's TLS copies
    ThreadBlock(const ThreadBlock &) = delete;
    ThreadBlock &operator=(const ThreadBlock &) = delete;

private:
    friend class ThreadBlockScope;
    ThreadBlock();
    void syncImageTls(); // brings this thread's TLS copies up to date

    Impl *impl_;
    uint16_t selector_ = 0;
};

// %fs points at the calling thread's block while this lives.
class ThreadBlockScope {
public:
    ThreadBlockScope();
    ~ThreadBlockScope();
    ThreadBlockScope(const ThreadBlockScope &) = delete;
    ThreadBlockScope &operator=(const ThreadBlockScope &) = delete;

private:
    uint16_t saved_;
};

uint16_t currentFsSelector();

// Static TLS of images: the template is copied for every thread that enters
// a ThreadBlockScope. Returns the slot index; throws PeError when all are taken.
uint32_t registerImageTls(std::span<const uint8_t> initialData, uint32_t zeroFill);
void unregisterImageTls(uint32_t index);

// Dynamic TLS (TlsAlloc / TlsFree): process-wide index allocation.
// allocateTlsSlot returns kTlsSlotCount when none is free.
uint32_t allocateTlsSlot();
bool freeTlsSlot(uint32_t index);
bool tlsSlotAllocated(uint32_t index);

} // namespace corvane::pe

// The stand-in Corvane host: loads an effect module by path and drives its
// whole life through `main`, with the records, services, string tables and
// parameter registration the module expects.
//
// Between commands every instance's settings record is kept in stored
// (big-endian) form, exactly as the module leaves it; `storedRecord` and
// `setStoredRecord` read and replace those bytes.
//
// Conventions of the services (what a module may rely on):
//  - Rectangles have exclusive right and bottom edges; every service that
//    takes a rectangle clips it to the world it writes, so a module can
//    never make the host write outside a world.
//  - `sampleAt` treats each pixel as a sample at its integer position and
//    interpolates bilinearly between the four around (x, y), with weights in
//    steps of 1/256 pixel; neighbours outside the source world count as
//    transparent (all four bytes 0).
//  - `copyWorld` copies one to one; when the two rectangles differ in size
//    their common top-left part is copied.
//  - `iterate` shares the rows of a large area among the host's threads
//    (pixel functions keep no state and write only their own pixel, so the
//    order of visits does not change the result). It reports progress as
//    (base + rows done, final) on the calling thread, before the first row
//    and as rows finish, never going down; a cancel (see `requestCancel`)
//    stops every thread before its next row with the cancel value. A pixel
//    function's non-zero return stops the pass, and the error returned is
//    the one a row-by-row visit would meet first. `fillWorld` and
//    `copyWorld` share large areas the same way.
//  - `formatString` and `copyString` write at most kReturnMessageSize bytes
//    including the terminating zero; `%ld` reads a 32-bit value.
#pragma once

#include "host/host_records.h"
#include "host/porting.h"
#include "module_loader.h"
#include "record/stored_record.h"

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

// Most threads a host runs its per-pixel services on.
inline constexpr int32_t kMaxThreads = 256;

struct HostError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// ---------------------------------------------------------------------------
// Images

// The most pixels one world holds (512 MB of pixels).
inline constexpr int64_t kMaxWorldPixels = int64_t(1) << 27;

// A 32-bit world the host owns (pixels in memory order alpha, red, green,
// blue). Its EffectWorld record is what the module sees.
class World {
public:
    // Throws HostError for negative or unreasonably large sizes.
    World(int32_t width, int32_t height, HostPixel fill = {0, 0, 0, 0});
    World(const World &) = delete;
    World &operator=(const World &) = delete;
    // The record moves with the pixels; the moved-from world is empty.
    World(World &&other) noexcept;
    World &operator=(World &&other) noexcept;

    int32_t width() const { return record_.width; }
    int32_t height() const { return record_.height; }
    // Bounds-checked access (throws std::out_of_range).
    HostPixel &at(int32_t x, int32_t y);
    const HostPixel &at(int32_t x, int32_t y) const;
    // Unchecked row access for whole-image work.
    HostPixel *row(int32_t y) { return pixels_.data() + static_cast<size_t>(y) * static_cast<size_t>(width()); }
    const HostPixel *row(int32_t y) const
    {
        return pixels_.data() + static_cast<size_t>(y) * static_cast<size_t>(width());
    }
    std::span<HostPixel> pixels() { return pixels_; }
    std::span<const HostPixel> pixels() const { return pixels_; }
    void fill(HostPixel colour);
    EffectWorld &record() { return record_; }
    const EffectWorld &record() const { return record_; }
    // The part of the world the host needs rendered (defaults to all of it).
    void setExtent(QdRect extent) { record_.extent = extent; }

private:
    std::vector<HostPixel> pixels_;
    EffectWorld record_{};
};

// ---------------------------------------------------------------------------
// Faults and accounting, so tests can prove every path releases what it took.

enum class Service {
    OpenStringTable,
    AddParam,
    NewHandle, // the host's newHandle utility
    NewWorld,
    GetWorldPort,
    DisposeWorld,
    CopyWorld,
    FillWorld,
    Iterate,
    SampleAt,
    // Counted only; these cannot be made to fail (cancel with cancelAtCheck).
    CheckAbort,
    GetString,
    CloseStringTable,
    DisposeHandle,
    FormatString,
    CopyString,
};
inline constexpr int kServiceCount = static_cast<int>(Service::CopyString) + 1;

struct LiveCounts {
    int32_t hostHandles = 0;  // blocks from the host's newHandle
    int32_t worlds = 0;       // worlds from newWorld not yet disposed
    int32_t ports = 0;        // ports from getWorldPort not yet released
    int32_t stringTables = 0; // tables open
    // porting library (Corvane1): handles, locked handles, offscreens, ports
    int32_t portingHandles = 0;
    int32_t portingLocks = 0;
    int32_t offscreens = 0;
    int32_t portingPorts = 0;
    bool operator==(const LiveCounts &) const = default;
    bool empty() const { return *this == LiveCounts{}; }
};
std::ostream &operator<<(std::ostream &os, const LiveCounts &counts);

// ---------------------------------------------------------------------------
// Parameters, decoded from the definitions the module registered.

struct Parameter {
    int32_t index = 0;     // 1-based, as the host numbers them (0 is the layer)
    int32_t type = 0;      // kParam... code
    std::string name;      // name, or the check box label for a nameless box
    ParamDef registered{}; // the bytes exactly as the module passed them
    // Decoded defaults and ranges, by type.
    int32_t sliderMin = 0, sliderMax = 0;   // slider: first bound pair
    int32_t sliderMin2 = 0, sliderMax2 = 0; // slider: second bound pair
    int32_t sliderDefault = 0;              // slider
    Fixed defaultX = 0, defaultY = 0;       // point
    HostPixel defaultColour{};              // colour
    bool defaultOn = false;                 // check box
    const char *labelAddress = nullptr;     // check box: the address as registered
    std::string label;                      // check box: the label text
};

// A string table the module registered.
struct StringTableInfo {
    StringTableRef ref = 0;             // the value handed to the module
    const char *const *table = nullptr; // the module's own table (entries are its addresses)
    int32_t entries = 0;                // counted up to the all-bits-set end mark
    int32_t id = 0;                     // resource id argument
    int32_t countArgument = 0;          // the fourth argument, as passed
    std::string effectName;             // the effect name passed in
};

// Values for one render. The parameters' defaults are the module's to
// give: Host::defaultSettings() reads them from its registration.
struct RenderSettings {
    int32_t size = 0;       // Size slider
    Fixed x = 0, y = 0;     // Position, output pixels
    HostPixel colour = {};  // Text Color
    bool composite = false; // Composite On Original
    int32_t quality = 1;    // 0 draft, else high quality
    int32_t downsampleXNum = 1;
    uint32_t downsampleXDen = 1;
    int32_t downsampleYNum = 1;
    uint32_t downsampleYDen = 1;
};

class Host;

// One applied effect: its settings record lives here between commands.
//
// The lifecycle helpers clear outFlags and returnMessage before the command;
// `command` leaves the output record as the caller set it.
class Instance {
public:
    int32_t setup();    // CmdInstanceSetup
    int32_t resetup();  // CmdInstanceResetup with the current record (or none)
    int32_t teardown(); // CmdInstanceTeardown
    int32_t options();  // CmdOptionsDialog (runs the module's dialog)
    // CmdRender: builds the parameter array from the registered definitions
    // with these values (throws HostError when parameters were never set up).
    int32_t render(const RenderSettings &settings, World &input, World &output);
    // Any command with this instance's record presented; afterwards the
    // instance holds whatever record the output record names.
    int32_t command(int32_t cmd, ParamDef **params = nullptr, EffectWorld *output = nullptr);

    bool hasRecord() const;
    std::vector<uint8_t> storedRecord() const; // stored (big-endian) bytes
    // Replaces them (creates a record if none); throws HostError unless
    // exactly record::kStoredSize bytes are given.
    void setStoredRecord(std::span<const uint8_t> bytes);
    Handle handle() const { return handle_; }
    Host &host() { return host_; }

private:
    friend class Host;
    explicit Instance(Host &host) : host_(host) {}
    Host &host_;
    Handle handle_ = nullptr;
};

// Progress as the host's iterate reports it: (current, total).
using ProgressFn = std::function<void(int32_t current, int32_t total)>;

class Host {
public:
    // Loads the module (throws HostError with a clear message when the file
    // is missing, not a module, or has no `main`). `threads` as in setThreads.
    explicit Host(const std::string &modulePath, int32_t threads = 0);
    ~Host(); // tears down instances and the global state still live
    Host(const Host &) = delete;
    Host &operator=(const Host &) = delete;

    // Command through `main` with the host's records: presents `sequence` in
    // both records' sequenceData and the global block in both globalData
    // fields, as a host does; afterwards keeps the global block the output
    // record names. Leaves outFlags and returnMessage as the caller set them.
    int32_t command(int32_t cmd, Handle sequence, ParamDef **params = nullptr, EffectWorld *output = nullptr);
    // `main` with the records exactly as in() and out() hold them.
    int32_t callMain(int32_t cmd, ParamDef **params = nullptr, EffectWorld *output = nullptr);
    EffectMainFn entry() const;
    HostInData &in();
    HostOutData &out();
    std::string message() const; // out().returnMessage

    int32_t globalSetup();
    int32_t globalTeardown();
    bool globalRegistered() const; // a global block is held
    int32_t paramSetup();          // clears earlier registrations first
    std::string about();           // runs CmdAbout, returns the formatted text
    const std::vector<Parameter> &parameters() const;
    const Parameter *parameter(std::string_view name) const; // by name or label, exact; null if none
    // The first parameter of a kParam... type; throws HostError when the
    // module registered none (or parameters were never set up).
    const Parameter &parameterOfType(int32_t type) const;
    // The registered defaults, the point's taken as output pixels; throws
    // as parameterOfType does.
    RenderSettings defaultSettings() const;
    std::vector<StringTableInfo> stringTables() const; // open tables
    // The last table the module opened (open or closed since); null if none.
    const StringTableInfo *lastStringTable() const;

    Instance &newInstance();                 // owned by the host; call setup() on it
    void removeInstance(Instance &instance); // tears down a record it still holds

    // Cancel: checkAbort answers `value` from its Nth call on (1-based).
    void cancelAtCheck(int32_t n, int32_t value = 1);
    // Cancels now: checkAbort answers `value` and iterate stops before its
    // next row. Safe to call from a signal handler.
    void requestCancel(int32_t value = 1);
    void clearCancel();
    void setProgress(ProgressFn fn);
    // Threads for the per-pixel services, the calling one included; 0 uses
    // every core this process may run on (throws HostError beyond 0 to
    // kMaxThreads). Not while a command runs.
    void setThreads(int32_t threads);
    int32_t threads() const;

    // Fault injection: the service's Nth call from now fails (1-based) with
    // `error` (NewHandle answers null). Counts and faults are exact whatever
    // threads the calls come from; arm faults between commands. DisposeWorld still releases the world
    // it fails for. With `partial`, OpenStringTable opens the table and hands
    // out its value before failing.
    void failAt(Service service, int32_t n, int32_t error = -108, bool partial = false);
    // Porting-library allocations (NewHandleClear, NewGWorld, ports) fail on their Nth call.
    void failPortingAllocationAt(int32_t n);
    // Relocation stress: every porting-library call moves every unlocked block.
    static void setPortingHeapScramble(bool on);
    void clearFaults(); // host and porting faults and any cancel
    int32_t calls(Service service) const;
    void resetCalls();
    LiveCounts live() const;
    // Misuses the host noticed (unknown handles or worlds, double releases,
    // bad string tables), in order; a correct module causes none.
    const std::vector<std::string> &misuses() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
    friend class Instance;
};

} // namespace corvane

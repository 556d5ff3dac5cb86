// The stand-in Corvane host: loads an effect module by path and drives its
// whole life through `main`, with the records, services, string tables and
// parameter registration the module expects.
//
// Between commands every instance's settings record is kept in stored
// (big-endian) form, exactly as the module leaves it; `storedRecord` and
// `setStoredRecord` read and replace those bytes.
#pragma once

#include "host/host_records.h"
#include "host/porting.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace corvane {

struct HostError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// ---------------------------------------------------------------------------
// Images

// A 32-bit world the host owns (pixels in memory order alpha, red, green,
// blue). Its EffectWorld record is what the module sees.
class World {
public:
    World(int32_t width, int32_t height, HostPixel fill = {0, 0, 0, 0});
    World(const World &) = delete;
    World &operator=(const World &) = delete;

    int32_t width() const { return record_.width; }
    int32_t height() const { return record_.height; }
    HostPixel &at(int32_t x, int32_t y);
    const HostPixel &at(int32_t x, int32_t y) const;
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
    NewHandle,   // the host's newHandle utility
    NewWorld,
    GetWorldPort,
    DisposeWorld,
    CopyWorld,
    FillWorld,
    Iterate,
    SampleAt,
};

struct LiveCounts {
    int32_t hostHandles = 0;  // blocks from the host's newHandle
    int32_t worlds = 0;       // worlds from newWorld not yet disposed
    int32_t ports = 0;        // ports from getWorldPort not yet released
    int32_t stringTables = 0; // tables open
    // porting library (Corvane1): handles, locked handles, offscreens
    int32_t portingHandles = 0;
    int32_t portingLocks = 0;
    int32_t offscreens = 0;
    bool operator==(const LiveCounts &) const = default;
};

// ---------------------------------------------------------------------------
// Parameters, decoded from the definitions the module registered.

struct Parameter {
    int32_t index = 0;       // 1-based, as the host numbers them (0 is the layer)
    int32_t type = 0;        // kParam... code
    std::string name;        // name, or the check box label for a nameless box
    ParamDef registered{};   // the bytes exactly as the module passed them
};

// Values for one render; defaults are the registered parameter defaults.
struct RenderSettings {
    int32_t size = 36;                     // Size slider
    Fixed x = 50 << 16, y = 50 << 16;      // Position, output pixels
    HostPixel colour = {0, 255, 0, 0};     // Text Color
    bool composite = false;                // Composite On Original
    int32_t quality = 1;                   // 0 draft, else high quality
    int32_t downsampleXNum = 1;
    uint32_t downsampleXDen = 1;
    int32_t downsampleYNum = 1;
    uint32_t downsampleYDen = 1;
};

class Host;

// One applied effect: its settings record lives here between commands.
class Instance {
public:
    int32_t setup();      // CmdInstanceSetup
    int32_t resetup();    // CmdInstanceResetup with the current record
    int32_t teardown();   // CmdInstanceTeardown
    int32_t options();    // CmdOptionsDialog (runs the module's dialog)
    int32_t render(const RenderSettings &settings, World &input, World &output);

    bool hasRecord() const;
    std::vector<uint8_t> storedRecord() const;        // stored (big-endian) bytes
    void setStoredRecord(std::span<const uint8_t> bytes); // replaces them (creates a record if none)
    Handle handle() const { return handle_; }

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
    // is missing, not a module, or has no `main`).
    explicit Host(const std::string &modulePath);
    ~Host(); // tears down instances and the global state still live
    Host(const Host &) = delete;
    Host &operator=(const Host &) = delete;

    // Raw command through `main` with the host's records; `sequence` is
    // presented in both records as a host would (may be null).
    int32_t command(int32_t cmd, Handle sequence, ParamDef **params = nullptr, EffectWorld *output = nullptr);
    HostInData &in();
    HostOutData &out();
    std::string message() const; // out().returnMessage

    int32_t globalSetup();
    int32_t globalTeardown();
    int32_t paramSetup();
    std::string about(); // runs CmdAbout, returns the formatted text
    const std::vector<Parameter> &parameters() const;

    Instance &newInstance(); // owned by the host; call setup() on it
    void removeInstance(Instance &instance);

    // Cancel: checkAbort answers `value` from its Nth call on (1-based).
    void cancelAtCheck(int32_t n, int32_t value = 1);
    void setProgress(ProgressFn fn);

    // Fault injection: the service's Nth call from now fails (1-based).
    void failAt(Service service, int32_t n, int32_t error = -108);
    // Porting-library allocations (NewHandleClear, NewGWorld) fail on their Nth call.
    void failPortingAllocationAt(int32_t n);
    void clearFaults();
    int32_t calls(Service service) const;
    LiveCounts live() const;

    struct Impl;
private:
    std::unique_ptr<Impl> impl_;
    friend class Instance;
};

// Converts UTF-8 to Windows-1252; throws HostError naming the first
// character 1252 cannot hold.
std::string utf8ToCp1252(const std::string &utf8);
std::string cp1252ToUtf8(const std::string &cp1252);

} // namespace corvane

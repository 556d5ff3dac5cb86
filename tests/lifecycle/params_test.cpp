// Parameter setup through `main`: what the host receives, byte for byte.
#include "lifecycle_support.h"

#include <map>
#include <tuple>

using namespace corvane;
using namespace qmtest;

namespace {

class Params : public ModuleTest {};

TEST_F(Params, FourDefinitionsAreRegisteredAndDecoded)
{
    host.out().numParams = 0;
    ASSERT_EQ(host.paramSetup(), 0);
    EXPECT_EQ(host.out().numParams, 5);
    const auto &p = host.parameters();
    ASSERT_EQ(p.size(), 4u);

    EXPECT_EQ(p[0].name, "Size");
    EXPECT_EQ(p[0].type, kParamSlider);
    EXPECT_EQ(p[0].sliderMin, 0);
    EXPECT_EQ(p[0].sliderMax, 512);
    EXPECT_EQ(p[0].sliderMin2, 0);
    EXPECT_EQ(p[0].sliderMax2, 512);
    EXPECT_EQ(p[0].sliderDefault, 36);

    EXPECT_EQ(p[1].name, "Position");
    EXPECT_EQ(p[1].type, kParamPoint);
    EXPECT_EQ(p[1].defaultX, 50 << 16);
    EXPECT_EQ(p[1].defaultY, 50 << 16);

    EXPECT_EQ(p[2].name, "Text Color");
    EXPECT_EQ(p[2].type, kParamColor);
    EXPECT_EQ(p[2].defaultColour.alpha, 0);
    EXPECT_EQ(p[2].defaultColour.red, 255);
    EXPECT_EQ(p[2].defaultColour.green, 0);
    EXPECT_EQ(p[2].defaultColour.blue, 0);

    // The check box has no name of its own: the host shows its label.
    EXPECT_EQ(p[3].type, kParamCheckbox);
    EXPECT_EQ(p[3].registered.name[0], 0);
    EXPECT_EQ(p[3].label, "Composite On Original");
    EXPECT_EQ(p[3].name, "Composite On Original");
    EXPECT_FALSE(p[3].defaultOn);
    // The label is the registered table's own string, not a copy.
    const StringTableInfo *table = host.lastStringTable();
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(p[3].labelAddress, table->table[4]);

    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(p[i].index, i + 1);
    EXPECT_EQ(host.parameter("Position"), &p[1]);
    EXPECT_EQ(host.parameter("Composite On Original"), &p[3]);
    EXPECT_EQ(host.parameter("Nothing"), nullptr);
    EXPECT_EQ(&host.parameterOfType(kParamPoint), &p[1]);

    // A render's defaults are the registered ones.
    const RenderSettings d = host.defaultSettings();
    EXPECT_EQ(std::tuple(d.size, d.x, d.y, d.composite), std::tuple(36, 50 << 16, 50 << 16, false));
    EXPECT_EQ(std::memcmp(&d.colour, &p[2].defaultColour, sizeof d.colour), 0);
}

TEST_F(Params, ARefusedDefinitionEndsSetupWithItsCode)
{
    for (int32_t refused = 1; refused <= 4; ++refused) {
        host.failAt(Service::AddParam, refused, 7);
        const int32_t before = host.calls(Service::AddParam);
        host.out().numParams = 0x5A5A;
        host.out().outFlags = 0;
        std::memset(host.out().returnMessage, 0, kReturnMessageSize);
        EXPECT_EQ(host.paramSetup(), 7) << refused;
        EXPECT_EQ(host.calls(Service::AddParam) - before, refused) << "no call after the refusal";
        EXPECT_EQ(host.parameters().size(), static_cast<size_t>(refused - 1));
        EXPECT_EQ(host.out().numParams, 0x5A5A) << "numParams is not written on failure";
        EXPECT_EQ(host.out().outFlags, 0);
        EXPECT_EQ(host.message(), "");
        // Only the global block and its table stay.
        LiveCounts live = host.live();
        EXPECT_EQ(live.hostHandles, 1);
        EXPECT_EQ(live.stringTables, 1);
        EXPECT_EQ(live.portingHandles, 0);
    }
}

struct Pattern {
    int def; // 1 Size, 2 Position, 3 Text Color, 4 check box
    size_t at;
    Bytes bytes;
};

Bytes str(const char *s)
{
    return Bytes(s, s + std::strlen(s) + 1);
}

// Size's bounds and default stay in the shared record for every later definition.
const Bytes kSizeTail = {0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 36, 0, 0, 0};
const Bytes kPointDefaults = {0x00, 0x00, 0x32, 0x00, 0x00, 0x00, 0x32, 0x00};

TEST_F(Params, DefinitionsArriveWithTheirCarriedOverBytes)
{
    ASSERT_EQ(host.paramSetup(), 0);
    const size_t labelAt = 64, labelSize = sizeof(const char *);
    const bool wideLabel = labelSize > 4; // 64-bit: the address also covers bytes 68-71

    std::vector<Pattern> rows = {
        {1, 12, {1, 0, 0, 0}},
        {1, 16, str("Size")},
        {1, 56, {36, 0, 0, 0}},
        {1, 124, kSizeTail},
        {2, 12, {6, 0, 0, 0}},
        {2, 16, str("Position")},
        {2, 56, {0, 0, 0, 0, 1, 0, 0, 0}},
        {2, 67, {0}},
        {2, 68, kPointDefaults},
        {2, 124, kSizeTail},
        {3, 12, {5, 0, 0, 0}},
        {3, 16, str("Text Color")},
        {3, 56, {0x00, 0xFF, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x00}},
        {3, 68, kPointDefaults},
        {3, 124, kSizeTail},
        {4, 12, {4, 0, 0, 0}},
        {4, 16, {0}},
        {4, 17, str("ext Color")},
        {4, 56, {0, 0, 0, 0}},
        {4, 60, {0, 0xFF, 0, 0}},
        {4, 124, kSizeTail},
    };
    if (wideLabel)
        rows.push_back({4, 72, Bytes(kPointDefaults.begin() + 4, kPointDefaults.end())});
    else
        rows.push_back({4, 68, kPointDefaults});

    const auto &params = host.parameters();
    ASSERT_EQ(params.size(), 4u);
    for (int def = 1; def <= 4; ++def) {
        const auto *got = reinterpret_cast<const uint8_t *>(&params[def - 1].registered);
        Bytes want(sizeof(ParamDef), 0);
        std::vector<bool> skip(sizeof(ParamDef), false);
        for (const Pattern &r : rows)
            if (r.def == def)
                std::copy(r.bytes.begin(), r.bytes.end(), want.begin() + static_cast<ptrdiff_t>(r.at));
        if (def == 4)
            for (size_t i = labelAt; i < labelAt + labelSize; ++i)
                skip[i] = true;
        for (size_t i = 0; i < sizeof(ParamDef); ++i)
            if (!skip[i]) {
                EXPECT_EQ(got[i], want[i]) << "definition " << def << ", byte " << i;
            }
    }
    const char *label;
    std::memcpy(&label, reinterpret_cast<const uint8_t *>(&params[3].registered) + labelAt, sizeof label);
    EXPECT_EQ(label, host.lastStringTable()->table[4]);
}

} // namespace

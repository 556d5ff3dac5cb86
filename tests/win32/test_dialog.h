// A dialog procedure that records what it receives, and helpers to run a
// template against a script, for the stand-in's own tests.
#pragma once

#include "scripted_user.h"
#include "template_builder.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace qmtest {

struct Message {
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
};

struct ProcBehaviour {
    INT_PTR initResult = 1;                      // what WM_INITDIALOG answers
    std::function<void(HWND)> onInit;            // runs inside WM_INITDIALOG
    std::function<void(HWND, WPARAM)> onCommand; // runs on every WM_COMMAND
    bool endOnOkCancel = true;                   // OK ends with 1, Cancel with 0
};

inline ProcBehaviour gBehaviour;
inline std::vector<Message> gMessages;

inline INT_PTR CALLBACK RecordingProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam)
{
    gMessages.push_back({msg, wParam, lParam});
    if (msg == WM_INITDIALOG) {
        if (gBehaviour.onInit)
            gBehaviour.onInit(dialog);
        return gBehaviour.initResult;
    }
    if (msg == WM_COMMAND) {
        if (gBehaviour.onCommand)
            gBehaviour.onCommand(dialog, wParam);
        const uint16_t id = LOWORD(wParam);
        if (gBehaviour.endOnOkCancel && (id == IDOK || id == IDCANCEL)) {
            EndDialog(dialog, id == IDOK ? 1 : 0);
            return 1;
        }
    }
    return 0;
}

// The WM_COMMAND messages received, as (id, code) pairs.
inline std::vector<std::pair<uint16_t, uint16_t>> commands()
{
    std::vector<std::pair<uint16_t, uint16_t>> out;
    for (const Message &m : gMessages)
        if (m.msg == WM_COMMAND)
            out.emplace_back(LOWORD(m.wParam), HIWORD(m.wParam));
    return out;
}

class StandInTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        corvane::win32::resetStandIn();
        gBehaviour = {};
        gMessages.clear();
    }
    void TearDown() override
    {
        corvane::win32::resetStandIn();
        EXPECT_EQ(corvane::win32::liveWindows(), 0);
        EXPECT_EQ(corvane::win32::liveDeviceContexts(), 0);
    }

    // Runs `dialog` with `script`; unless told otherwise, every step must
    // succeed.
    INT_PTR run(const qmtest::Dialog &dialog, corvane::win32::Script script, bool expectClean = true)
    {
        const auto bytes = qmtest::build(dialog);
        corvane::win32::queueScript(std::move(script));
        const INT_PTR result = corvane::win32::runDialogTemplate(bytes, nullptr, RecordingProc, 0x1234);
        if (expectClean) {
            EXPECT_EQ(corvane::win32::lastDialogReport().error, "");
        }
        return result;
    }

    // Runs the options template with `body` as one step, then the rest of
    // the script (Escape unless the body closes it).
    INT_PTR runOptions(std::function<void(corvane::win32::LiveDialog &)> body)
    {
        return run(qmtest::optionsDialog(), corvane::win32::Script().then("test", std::move(body)));
    }

    const corvane::win32::DialogReport &report() { return corvane::win32::lastDialogReport(); }
};

} // namespace qmtest

// Stand-ins for the winspool calls and the allocator behind the property
// dialogs: outcomes a real driver cannot be made to produce, and counts that
// show the release of handle and buffer on every path.
#pragma once

#include "printer/property_dialogs.h"

constexpr LONG DRIVER_SIZE = sizeof(DEVMODEA) + 8;

struct FakeDialogDriver {
    bool open_fails = false;
    LONG size = DRIVER_SIZE;
    bool allocation_fails = false;
    LONG prompt_answer = IDOK;
    BOOL properties_answer = TRUE;
    DWORD properties_error = 0;

    int opened = 0;
    int closed = 0;
    int allocated = 0;
    int released = 0;
    int prompts = 0;
    int stored = 0;
    void *buffer = nullptr;
};

// What the stand-ins do and what they counted; reset it for each case.
extern FakeDialogDriver dialog_fake;
extern const PropertyDialogCalls FAKE_PROPERTY_DIALOGS;

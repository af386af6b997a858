// The panel record: the host's only handle on a module's custom panel, the panel opcodes, the
// requests a panel sends back through the host's callback, and the panel's plug handle.
// Unlike the ModuleRecord, the dispatcher entry comes before the host handle, and there are no
// process or event entries.
#pragma once

#include <cstdint>
#include <string>

#include "framework/wide_text.h"
#include "host/abi.h"
#include "host/layout.h"
#include "host/module_record.h"

namespace mv {

class PanelBase;
struct PanelRecord;

using PanelDispatcherEntry = intptr_t(MV_CDECL*)(PanelRecord* record, int32_t opcode, int32_t index,
                                                 int32_t value, void* ptr, float opt);

constexpr uint32_t kPanelMagic = fourCC("MVPM");
constexpr int32_t kPanelRecordVersion = 1;

struct PanelRecord {
    uint32_t magic;                        ///< kPanelMagic
    int32_t version;                       ///< kPanelRecordVersion
    PanelDispatcherEntry dispatcherEntry;  ///< opcodes, same function in every panel
    intptr_t hostHandle;                   ///< the host's word from the constructor; never read
    void* instance;                        ///< the PanelBase object
    int32_t reserved[5];                   ///< 0
};

MV_PIN_FIELD(PanelRecord, magic, 0, 0);
MV_PIN_FIELD(PanelRecord, version, 4, 4);
MV_PIN_FIELD(PanelRecord, dispatcherEntry, 8, 8);
MV_PIN_FIELD(PanelRecord, hostHandle, 12, 16);
MV_PIN_FIELD(PanelRecord, instance, 16, 24);
MV_PIN_FIELD(PanelRecord, reserved, 20, 32);
MV_PIN_SIZE(PanelRecord, 40, 56);
static_assert(kPanelMagic == 0x4D56504Du, "MVPM");

// The dispatcher's index and value, handed by value to the hooks of opcodes 3, 4 and 5.
struct IndexValuePair {
    int32_t index;
    int32_t value;
};

MV_PIN_FIELD(IndexValuePair, index, 0, 0);
MV_PIN_FIELD(IndexValuePair, value, 4, 4);
MV_PIN_SIZE(IndexValuePair, 8, 8);

// A panel's handle on one plug of its module: every operation is one host request (two for
// getWideText) about `plugIndex`, made through `panel`. The set operations hand the host's
// answer back uninterpreted.
struct PanelPlugHandle {
    int32_t plugIndex;  ///< the host's number for the plug
    PanelBase* panel;   ///< the panel through which requests are made

    // Request 7. A copy of the host's text; empty when the host answers a null address.
    std::string getText() const;
    // Request 6 with the string's own characters, which the host reads during the call.
    intptr_t setText(const std::string& text) const;
    // Request 14. The word the host wrote; 0 when it wrote nothing (the word starts at 0).
    int32_t getInt() const;
    // Request 15 with the integer in `value`.
    intptr_t setInt(int32_t value) const;
    // Request 14. The word the host wrote, as a float; 0.0 when it wrote nothing.
    float getFloat() const;
    // Request 15 with the float in `opt`.
    intptr_t setFloat(float value) const;
    // Request 17 twice: the count (zero included), then the text into a buffer of that size.
    // Empty, after the first request only, when the count is 0 or less.
    WideString getWideText() const;
};

MV_PIN_FIELD(PanelPlugHandle, plugIndex, 0, 0);
MV_PIN_FIELD(PanelPlugHandle, panel, 4, 8);
MV_PIN_SIZE(PanelPlugHandle, 8, 16);

// Panel opcodes; every other number (negative ones included) answers 0 and does nothing.
enum PanelOpcode : int32_t {
    PanelOp0 = 0,      ///< onOpcode0(index == 1)
    PanelOpClose = 1,  ///< close, then destroy the panel; answers 1
    PanelOp2 = 2,      ///< onOpcode2(index, ptr)
    PanelOp3 = 3,      ///< onOpcode3(ptr, opt, {index, value})
    PanelOp4 = 4,      ///< onOpcode4(ptr, opt, {index, value})
    PanelOp5 = 5,      ///< onOpcode5(ptr, opt, {index, value})
    PanelOp6 = 6,      ///< onOpcode6(value, index, ptr)
    PanelOp7 = 7,      ///< onOpcode7(handle on plug `index`), the handle living for the call
    PanelOp8 = 8,      ///< onOpcode8(ptr)
    PanelOp9 = 9,      ///< onOpcode9(ptr)
    PanelOp10 = 10,    ///< onOpcode10(); answers 1 when it answered true
    PanelOp11 = 11,    ///< onOpcode11(index)
    PanelOp12 = 12     ///< onOpcode12(index)
};

// Requests a panel sends through the host callback, with its PanelRecord as the asking record.
// Requests 8, 18, 19 and 20 share their names with the PanelBase operations that make them.
enum PanelRequest : int32_t {
    panelSetPlugText = 6,       ///< index plug, ptr a zero-terminated 8-bit text
    panelGetPlugText = 7,       ///< index plug; answers a zero-terminated 8-bit text
    panelHostRequest8 = 8,      ///< index, value, ptr the caller's
    panelGetPlugValue = 14,     ///< index plug, ptr a 32-bit word the host fills
    panelSetPlugValue = 15,     ///< index plug, value an integer or opt a float
    panelGetPlugWideText = 17,  ///< index plug; then value count, ptr a buffer of that many
    panelHostRequest18 = 18,    ///< ptr the caller's
    panelHostRequest19 = 19,    ///< ptr the caller's
    panelHostQuery20 = 20       ///< ptr the caller's; non-zero is true
};

}  // namespace mv

// The panel record, its dispatcher, the panel-side host requests and the plug handle.
#include "framework/panel/panel_base.h"

#include <cstring>
#include <vector>

namespace mv {
namespace {

PanelBase* panelOf(void* instance) { return static_cast<PanelBase*>(instance); }

intptr_t MV_CDECL panelDispatcherEntry(PanelRecord* record, int32_t opcode, int32_t index,
                                       int32_t value, void* ptr, float opt) {
    return panelOf(record->instance)->dispatch(opcode, index, value, ptr, opt);
}

// Shared by the whole library; each plugHandle call rewrites it.
PanelPlugHandle sharedPlugHandle;

}  // namespace

PanelBase::PanelBase(HostCallback callback, intptr_t hostHandle) : callback(callback) {
    std::memset(&record, 0, sizeof record);
    record.magic = kPanelMagic;
    record.dispatcherEntry = panelDispatcherEntry;
    record.instance = this;
    record.hostHandle = hostHandle;
    record.version = kPanelRecordVersion;
}

PanelBase::~PanelBase() = default;

intptr_t PanelBase::dispatch(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
    switch (static_cast<uint32_t>(opcode)) {  // unsigned, so negative opcodes fall to default
    case PanelOp0:
        onOpcode0(index == 1);
        return 0;
    case PanelOpClose:  // the panel and its record are gone when this returns
        close();
        delete this;
        return 1;
    case PanelOp2:
        onOpcode2(index, ptr);
        return 0;
    case PanelOp3:
        onOpcode3(ptr, opt, IndexValuePair{index, value});
        return 0;
    case PanelOp4:
        onOpcode4(ptr, opt, IndexValuePair{index, value});
        return 0;
    case PanelOp5:
        onOpcode5(ptr, opt, IndexValuePair{index, value});
        return 0;
    case PanelOp6:
        onOpcode6(value, index, ptr);
        return 0;
    case PanelOp7: {
        PanelPlugHandle handle{index, this};  // lives for this call only
        onOpcode7(&handle);
        return 0;
    }
    case PanelOp8:
        onOpcode8(ptr);
        return 0;
    case PanelOp9:
        onOpcode9(ptr);
        return 0;
    case PanelOp10:
        return onOpcode10() ? 1 : 0;
    case PanelOp11:
        onOpcode11(index);
        return 0;
    case PanelOp12:
        onOpcode12(index);
        return 0;
    default:
        return 0;
    }
}

intptr_t PanelBase::callHost(int32_t request, int32_t index, int32_t value, void* ptr, float opt) {
    return callback ? callback(&record, request, index, value, ptr, opt) : 0;
}

// The member functions of these names hide the request numbers: name them through mv::.
void PanelBase::panelHostRequest8(int32_t index, int32_t value, void* ptr) {
    callHost(mv::panelHostRequest8, index, value, ptr);
}

intptr_t PanelBase::panelHostRequest18(void* ptr) {
    return callHost(mv::panelHostRequest18, 0, 0, ptr);
}

intptr_t PanelBase::panelHostRequest19(void* ptr) {
    return callHost(mv::panelHostRequest19, 0, 0, ptr);
}

bool PanelBase::panelHostQuery20(void* ptr) {
    return callHost(mv::panelHostQuery20, 0, 0, ptr) != 0;
}

PanelPlugHandle* PanelBase::plugHandle(int32_t index) {
    sharedPlugHandle.plugIndex = index;
    sharedPlugHandle.panel = this;
    return &sharedPlugHandle;
}

void PanelBase::onOpcode0(bool) {}
void PanelBase::close() {}
void PanelBase::onOpcode2(int32_t, void*) {}
void PanelBase::onOpcode3(void*, float, IndexValuePair) {}
void PanelBase::onOpcode4(void*, float, IndexValuePair) {}
void PanelBase::onOpcode5(void*, float, IndexValuePair) {}
void PanelBase::onOpcode8(void*) {}
void PanelBase::onOpcode9(void*) {}
bool PanelBase::onOpcode10() { return false; }
void PanelBase::onOpcode11(int32_t) {}
void PanelBase::onOpcode12(int32_t) {}
void PanelBase::onOpcode6(int32_t, int32_t, void*) {}
void PanelBase::onOpcode7(PanelPlugHandle*) {}

// --- the plug handle ----------------------------------------------------------------------

std::string PanelPlugHandle::getText() const {
    const auto* text = reinterpret_cast<const char*>(panel->callHost(panelGetPlugText, plugIndex));
    return text ? std::string(text) : std::string();  // a copy: the host keeps its text
}

intptr_t PanelPlugHandle::setText(const std::string& text) const {
    return panel->callHost(panelSetPlugText, plugIndex, 0, const_cast<char*>(text.c_str()));
}

int32_t PanelPlugHandle::getInt() const {
    int32_t word = 0;  // what the caller gets when the host writes nothing
    panel->callHost(panelGetPlugValue, plugIndex, 0, &word);
    return word;
}

intptr_t PanelPlugHandle::setInt(int32_t value) const {
    return panel->callHost(panelSetPlugValue, plugIndex, value);
}

float PanelPlugHandle::getFloat() const {
    uint32_t word = 0;  // the bits of 0.0f, what the caller gets when the host writes nothing
    panel->callHost(panelGetPlugValue, plugIndex, 0, &word);
    float result;
    std::memcpy(&result, &word, sizeof result);
    return result;
}

intptr_t PanelPlugHandle::setFloat(float value) const {
    return panel->callHost(panelSetPlugValue, plugIndex, 0, nullptr, value);
}

WideString PanelPlugHandle::getWideText() const {
    // The count is a 32-bit word at the boundary, the terminating zero included.
    const auto count = static_cast<int32_t>(panel->callHost(panelGetPlugWideText, plugIndex));
    if (count <= 0) return WideString();
    std::vector<WideChar> buffer(static_cast<size_t>(count), WideChar(0));
    panel->callHost(panelGetPlugWideText, plugIndex, count, buffer.data());
    // Up to the first zero; a host that left out the zero is cut at the count.
    size_t length = 0;
    while (length < buffer.size() && buffer[length] != 0) ++length;
    return WideString(buffer.data(), length);
}

}  // namespace mv

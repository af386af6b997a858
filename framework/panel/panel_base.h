// The base of a module's custom panel: a second object the host drives apart from the module
// instance, through a PanelRecord and a dispatcher of its own, and that talks back to the host
// through the same HostCallback type with the panel's record as the asking record.
//
// A panel class overrides only the hooks it needs; every default does nothing, and
// onOpcode10's answers false. Host opcodes reach the hooks only through the record.
#pragma once

#include <cstdint>

#include "framework/panel/panel_record.h"
#include "host/module_record.h"

namespace mv {

class PanelBase {
public:
    // Makes no host request. A null callback is allowed: every request then answers 0 without
    // a call, as a module's callHost does.
    PanelBase(HostCallback callback, intptr_t hostHandle);
    PanelBase(const PanelBase&) = delete;
    PanelBase& operator=(const PanelBase&) = delete;

    // Virtual operations, in the order of the virtual table (the hooks of opcodes 6 and 7 come
    // last, after those of opcodes 8 to 12).
    virtual ~PanelBase();
    virtual intptr_t dispatch(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt);
    virtual void onOpcode0(bool on);
    virtual void close();
    virtual void onOpcode2(int32_t index, void* ptr);
    virtual void onOpcode3(void* ptr, float opt, IndexValuePair pair);
    virtual void onOpcode4(void* ptr, float opt, IndexValuePair pair);
    virtual void onOpcode5(void* ptr, float opt, IndexValuePair pair);
    virtual void onOpcode8(void* ptr);
    virtual void onOpcode9(void* ptr);
    virtual bool onOpcode10();
    virtual void onOpcode11(int32_t index);
    virtual void onOpcode12(int32_t index);
    virtual void onOpcode6(int32_t value, int32_t index, void* ptr);
    // The handle lives on the dispatcher's call: do not keep it after the hook returns.
    virtual void onOpcode7(PanelPlugHandle* handle);

    PanelRecord* getRecord() { return &record; }

    // Every panel-side host request goes through here; without a callback it answers 0 and
    // calls nothing.
    intptr_t callHost(int32_t request, int32_t index = 0, int32_t value = 0, void* ptr = nullptr,
                      float opt = 0.0f);

    // Panel-side requests named after their numbers; the host gives them their meaning.
    void panelHostRequest8(int32_t index, int32_t value, void* ptr);
    intptr_t panelHostRequest18(void* ptr);  // the host's answer, uninterpreted
    intptr_t panelHostRequest19(void* ptr);  // the host's answer, uninterpreted
    bool panelHostQuery20(void* ptr);        // non-zero answer is true

    // The library's one plug handle, rewritten to (index, this panel) by every call from any
    // panel: finish with it before anyone calls plugHandle again.
    PanelPlugHandle* plugHandle(int32_t index);

private:
    HostCallback callback;
    PanelRecord record;
};

}  // namespace mv

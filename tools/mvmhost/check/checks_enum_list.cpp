// The list plugs' texts, read with the framework's own enumeration-list reader.
#include <climits>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "host/exports.h"
#include "host/plug_info.h"
#include "tools/mvmhost/check/check_list.h"
#include "tools/mvmhost/contract/host_calls.h"

#if __has_include("framework/enum_list/enum_list.h")
#include "framework/enum_list/enum_list.h"
#define MV_HAVE_ENUM_LIST 1
#endif

namespace mvmhost {

#if defined(MV_HAVE_ENUM_LIST)

namespace {

// Walking a range over the whole 32-bit span would take minutes; no host offers that many.
constexpr int32_t kMaxItems = 1 << 20;

// The list text must read as at least one item, every value fit the 16-bit list value a
// host writes, and the default name one of them.
void checkList(const std::string& name, const char* listText, const char* defaultText,
               int32_t* items, std::string& remark) {
    const std::string plug = "the list plug " + name;
    try {
        mv::EnumListIterator list(mv::widen(listText));
        int32_t count = 0;
        for (list.first(); !list.done() && count < kMaxItems; list.next(), ++count) {
            const int32_t value = list.current().value;
            if ((value < INT16_MIN || value > INT16_MAX) && remark.empty())
                remark = plug + " offers the value " + std::to_string(value) +
                         ", beyond a 16-bit list value";
        }
        if (count == 0) fail(plug + "'s list text has no item");
        *items = count;
        if (!defaultText) {
            if (remark.empty()) remark = plug + " gives no default value";
            return;
        }
        char* end = nullptr;
        const long value = std::strtol(defaultText, &end, 10);
        if (end == defaultText || *end != '\0')
            fail(plug + "'s default \"" + defaultText + "\" is not a list value");
        if (value < INT32_MIN || value > INT32_MAX || !list.findValue(static_cast<int32_t>(value)))
            fail(plug + "'s default " + defaultText + " is not one of its " +
                 std::to_string(count) + " values");
    } catch (const Error&) {
        throw;
    } catch (const std::exception& e) {  // the list reader's own refusal
        fail(plug + "'s list text cannot be read: " + e.what());
    }
}

}  // namespace

Outcome enumLists(CheckContext& c) {
    mv::ModuleRecord* record =
        c.entries.makeModule(mv::kModuleIndex, mv::KindModule, QuietHost::callback, 1);
    if (!record) return fail("makeModule(0, 1) answered null");
    const RecordCloser closer{record};
    std::string remark, seen;
    int lists = 0;
    for (int32_t d = 0; d < 4096; ++d) {
        mv::PlugInfo info{};
        if (dispatch(record, mv::OpGetPlugProperties, d, 0, &info) != 1) break;
        if (info.datatype != mv::Enumerated || !info.name || !info.listText) continue;
        int32_t items = 0;
        checkList(info.name, info.listText, info.defaultValue, &items, remark);
        ++lists;
        seen += (seen.empty() ? "" : ", ") + std::string(info.name) + " " + std::to_string(items) +
                " items";
    }
    if (lists == 0) return skip("the module has no list plug");
    if (!remark.empty()) return warn(remark);
    return pass("list texts read and defaults found (" + seen + ")");
}

#else

Outcome enumLists(CheckContext&) { return skip("built without the enumeration-list reader"); }

#endif

}  // namespace mvmhost

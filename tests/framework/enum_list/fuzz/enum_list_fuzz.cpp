// Feeds arbitrary 16-bit text (the input's bytes, little-endian pairs) to the
// list reader and checks what must hold for any text.
#include "framework/enum_list/enum_list.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using mv::EnumListItem;
using mv::EnumListIterator;
using mv::WideString;

// A range may hold 2^32 items; walking them all is correct but would stall
// the fuzzer, so only this many are looked at.
constexpr std::size_t kWalkLimit = 10000;

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();

void check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "enum_list_fuzz: %s\n", what);
    std::abort();
}

bool sameItem(const EnumListItem& a, const EnumListItem& b) {
    return a.index == b.index && a.value == b.value && a.label == b.label;
}

struct Walk {
    std::vector<EnumListItem> items;
    bool complete = false;  // the walk ended within kWalkLimit items
};

Walk walk(EnumListIterator& it) {
    Walk w;
    for (it.first(); !it.done() && w.items.size() < kWalkLimit; it.next()) {
        check(it.current().index == static_cast<std::int32_t>(w.items.size()),
              "indices run 0, 1, 2, ...");
        w.items.push_back(it.current());
    }
    w.complete = it.done();
    return w;
}

bool startsWithRange(const WideString& text) {
    static const char keyword[] = "range";
    if (text.size() < 5) return false;
    for (int i = 0; i < 5; ++i) {
        if (text[i] != static_cast<mv::WideChar>(keyword[i])) return false;
    }
    return true;
}

void checkLabels(const Walk& w, bool isRange) {
    for (std::size_t k = 0; k < w.items.size(); ++k) {
        const EnumListItem& item = w.items[k];
        if (isRange) {
            check(item.label == mv::widen(std::to_string(item.value)),
                  "a range label is its value");
            check(k == 0 || item.value == w.items[k - 1].value + 1, "a range steps by one");
        } else {
            check(item.label.find(',') == WideString::npos, "no label holds a comma");
            check(item.label.empty() || (item.label.front() != ' ' && item.label.back() != ' '),
                  "labels are trimmed");
        }
    }
}

void checkCount(const WideString& text, const Walk& w, std::int32_t count, bool isRange) {
    check(count >= 1, "every text counts at least one item");
    if (!w.complete) return;
    const std::size_t walked = w.items.size();
    if (isRange) {
        check(walked == 0 || static_cast<std::size_t>(count) == walked,
              "a rising range counts what it walks");
        return;
    }
    std::size_t commas = 0;
    for (auto c : text) commas += c == ',';
    const std::size_t lead = !text.empty() && text.front() == ',';
    const std::size_t trail = !text.empty() && text.back() == ',';
    check(walked == (text.empty() ? 0 : commas + 1 - trail),
          "a list walks one item per comma part");
    check(static_cast<std::size_t>(count) == commas + 1 - lead,
          "a list counts commas after the first place");
}

// Finds in a walk that did not end are only asked about its first items: deeper
// ones cost a long walk each and check nothing new.
void checkFinds(const WideString& text, EnumListIterator& it, const Walk& w) {
    std::vector<std::int32_t> probes{0, kMin, kMax};
    std::vector<std::size_t> probedItems{0};
    if (w.complete) probedItems = {0, w.items.size() / 2, w.items.size() - 1};
    if (!w.items.empty()) {
        for (std::size_t k : probedItems) {
            const std::int32_t v = w.items[k].value;
            probes.push_back(v);
            if (v > kMin) probes.push_back(v - 1);
            if (v < kMax) probes.push_back(v + 1);
        }
    }
    for (std::int32_t v : probes) {
        std::size_t at = 0;
        while (at < w.items.size() && w.items[at].value != v) ++at;
        const bool inWalk = at < w.items.size();
        if (!inWalk && !w.complete) continue;

        check(it.findValue(v) == inWalk, "findValue agrees with the walk");
        if (inWalk)
            check(sameItem(it.current(), w.items[at]), "findValue stands on the first match");
        else
            check(it.done(), "a failed findValue ends the walk");

        check(mv::isValidEnumValue(text, v) == inWalk, "isValidEnumValue agrees with the walk");
        const std::int32_t forced = mv::forceValidEnumValue(text, v);
        const std::int32_t expected = inWalk ? v : w.items.empty() ? 0 : w.items[0].value;
        check(forced == expected, "forceValidEnumValue gives the value, the first value or 0");
    }

    const std::int32_t walked = static_cast<std::int32_t>(w.items.size());
    for (std::int32_t i : {-1, 0, 1, walked / 2, walked - 1, walked}) {
        const bool inWalk = i >= 0 && i < walked;
        if (!w.complete && i > 1) continue;
        check(it.findIndex(i) == inWalk, "findIndex agrees with the walk");
        if (inWalk)
            check(sameItem(it.current(), w.items[i]), "findIndex stands on its item");
        else
            check(it.done(), "a failed findIndex ends the walk");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    WideString text;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        text.push_back(static_cast<mv::WideChar>(data[i] | (data[i + 1] << 8)));
    }

    if (text == mv::widen("range")) {
        bool threw = false;
        try {
            EnumListIterator it(text);
        } catch (const std::out_of_range&) {
            threw = true;
        }
        check(threw, "the bare keyword is an out-of-range error");
        return 0;
    }

    EnumListIterator it(text);
    const bool isRange = startsWithRange(text);
    const Walk w = walk(it);
    checkLabels(w, isRange);
    checkCount(text, w, it.itemCount(), isRange);

    if (w.complete) {
        for (int i = 0; i < 3; ++i) {
            it.next();
            check(it.done(), "a finished walk stays finished");
        }
    }

    const Walk again = walk(it);
    check(again.complete == w.complete && again.items.size() == w.items.size(), "walks repeat");
    for (std::size_t k = 0; k < w.items.size(); ++k) {
        check(sameItem(again.items[k], w.items[k]), "walks repeat item by item");
    }

    checkFinds(text, it, w);
    return 0;
}

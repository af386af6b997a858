// `mvmhost info`: what a library says about itself and its plugs, before any instance opens.
#include <algorithm>
#include <cstdio>

#include "tools/mvmhost/base/user_text.h"
#include "tools/mvmhost/commands/commands.h"
#include "tools/mvmhost/commands/render.h"
#include "tools/mvmhost/runtime/hosted_module.h"
#include "tools/mvmhost/runtime/list_text.h"
#include "tools/mvmhost/runtime/module_library.h"
#include "tools/mvmhost/signal_io/csv.h"

namespace mvmhost {
namespace {

std::string datatypeName(int32_t datatype) {
    switch (datatype) {
    case mv::Enumerated:
        return "Enumerated";
    case mv::Signal:
        return "Signal";
    default:
        return "code " + std::to_string(datatype);
    }
}

std::string directionName(int32_t direction) {
    switch (direction) {
    case mv::PlugInput:
        return "input";
    case mv::PlugOutput:
        return "output";
    default:
        return "code " + std::to_string(direction);
    }
}

struct Row {
    std::string plug, name, direction, datatype, initial, items, first, last, flags;
};

// Every text in the table is the module's own, shown escaped where it is not printable.
Row describe(const PlugDescription& d) {
    Row row{d.plugIndex < 0 ? "-" : std::to_string(d.plugIndex),
            printable(d.name),
            directionName(d.direction),
            datatypeName(d.datatype),
            "-",
            "",
            "",
            "",
            ""};
    if (d.datatype == mv::Enumerated && d.listText) {
        const ListText list(*d.listText);
        row.items = std::to_string(list.count());
        row.first = printable(list.firstLabel().value_or(""));
        row.last = printable(list.lastLabel().value_or(""));
        if (d.defaultValue) {
            const int32_t value = readListNumber(*d.defaultValue);
            row.initial = printable(list.labelOf(value).value_or("value " + std::to_string(value)));
        }
    } else if (d.defaultValue) {
        float units;
        row.initial = d.datatype == mv::Signal && parseSample(*d.defaultValue, units)
                          ? volts(units)
                          : "\"" + printable(*d.defaultValue) + "\"";
    }
    if (d.flags != 0) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%x", static_cast<unsigned>(d.flags));
        row.flags = hex;
    }
    return row;
}

}  // namespace

int infoCommand(const std::string& path) {
    const ModuleLibrary library(path);
    const ModuleIdentity identity = readIdentity(library.entries());
    HostedModule host(library.entries(), HostSettings{});

    std::printf("%s \"%s\", framework version %d\n", printable(identity.identifier).c_str(),
                printable(identity.name).c_str(), identity.frameworkVersion);
    std::printf("library: %s\n\n", printable(path).c_str());
    std::printf("%s\n\n", printable(identity.aboutText, true).c_str());

    std::vector<Row> rows = {{"plug", "name", "direction", "datatype", "default", "list items",
                              "first", "last", "flags"}};
    for (const PlugDescription& d : host.descriptions()) rows.push_back(describe(d));
    const bool anyFlags =
        std::any_of(rows.begin() + 1, rows.end(), [](const Row& r) { return !r.flags.empty(); });
    const size_t columns = anyFlags ? 9 : 8;  // a flags column only when some plug has flags
    auto cells = [](const Row& r) {
        return std::vector<const std::string*>{&r.plug,     &r.name,    &r.direction,
                                               &r.datatype, &r.initial, &r.items,
                                               &r.first,    &r.last,    &r.flags};
    };
    std::vector<size_t> width(columns, 0);
    for (const Row& row : rows)
        for (size_t i = 0; i < columns; ++i) width[i] = std::max(width[i], cells(row)[i]->size());
    for (const Row& row : rows) {
        std::string line;
        for (size_t i = 0; i < columns; ++i) {
            const std::string& cell = *cells(row)[i];
            const std::string pad(width[i] - cell.size(), ' ');
            const bool numeric = i == 0 || i == 5;
            line += (i == 0 ? "" : "  ") + (numeric ? pad + cell : cell + pad);
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        std::printf("%s\n", line.c_str());
    }
    return 0;
}

}  // namespace mvmhost

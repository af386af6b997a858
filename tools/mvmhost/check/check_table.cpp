// Every check, once: adding a check is a row here and its function.
#include "tools/mvmhost/check/check_list.h"

namespace mvmhost {

const std::vector<CheckDefinition>& checkTable() {
    static const std::vector<CheckDefinition> table = {
        {"identity-index-0",
         "getModuleProperties(0) answers 1, writes only its fields, and the three texts are "
         "non-empty and "
         "zero-terminated",
         false, identityIndexZero},
        {"identity-other-indices",
         "other indices (1, 2, -1, 100, the extremes) answer 0 and write the framework version, "
         "and only it",
         false, identityOtherIndices},
        {"make-module-refusals",
         "makeModule answers null for other indices and kinds, without calling the host or keeping "
         "memory",
         false, makeModuleRefusals},
        {"make-module-records",
         "each instance has its own record: magic MVPL, version 1, the host handle, its instance, "
         "non-null entries; "
         "opcode 1 answers 1; its reserved words are 0 (warns; fails under --strict)",
         false, makeModuleRecords},
        {"make-module-requests",
         "makeModule makes no host request: the host has no record to answer for before it "
         "returns",
         false, makeModuleRequests},
        {"process-binding-info",
         "opcode 13's record is 1, 16, a binding, 0, and the binding's routine is the record's "
         "processEntry, before "
         "and after open",
         false, processBindingInfo},
        {"process-entry-order",
         "the record's processEntry changes only before request 22 tells the host, which reads it "
         "there",
         false, processEntryOrder},
        {"texts-stay-valid",
         "the identity and description texts read the same after other plugs were described and "
         "the instances that "
         "gave them closed",
         false, textsStayValid},
        {"opcode-answers",
         "opcodes 0, 2, 3, 8 and 12 answer 0 and 13 its record, before open, after it and while "
         "running",
         false, opcodeAnswers},
        {"record-words",
         "the record's fixed words never change, and its sample rate and block size are what "
         "opcodes 2 and 3 last sent; under --strict also block sizes 0, -1, 2^31-1 and rates 0, "
         "-1, "
         "inf and NaN, after which ordinary inputs give no NaN (warns)",
         false, recordWords},
        {"plug-descriptions",
         "opcode 6 answers only 0 or 1, describes indices 0, 1, ... without a gap, leaves the "
         "host's record untouched "
         "where it answers 0; every description has a name, a direction and a known datatype",
         false, plugDescriptions},
        {"enum-lists",
         "every list plug's text reads with the framework's list reader, and its default is one of "
         "its values",
         false, enumLists},
        {"lifecycle-cycles",
         "many create/close, create/open/process/close and create/describe/close cycles", false,
         lifecycleCycles},
        {"lifecycle-memory", "no heap block is kept over those cycles", false, lifecycleMemory},
        {"stretch-geometry",
         "stretches of 0 to 1024 samples at offsets 0, 5 and the end: every output sample inside "
         "written, nothing "
         "outside, no input changed, no guard sample touched",
         false, stretchGeometry},
        {"stretch-reads",
         "input stretches laid flush against unreadable pages, end and start in turn, and the "
         "stretch after an "
         "event laid out before it: nothing is read outside them",
         false, stretchReads},
        {"split-determinism",
         "a block cut into random stretches gives what it gives in one call; two fresh instances "
         "agree",
         false, splitDeterminism},
        {"long-stretches",
         "after opcode 3 announces 65536, stretches that long are processed whole, as the same "
         "samples in short ones",
         false, longStretches},
        {"block-size-independence",
         "the output does not depend on the block size opcode 3 announced (64, 1024, 65536)", true,
         blockSizeIndependence},
        {"instance-isolation", "sixteen instances processed in turn give what each gives alone",
         false, instanceIsolation},
        {"buffer-layouts",
         "each output on each input's buffer in turn (in place, which the module guide makes a "
         "rule, so checked by default) gives what separate buffers give",
         false, bufferLayouts},
        {"output-values",
         "from ordinary inputs (0, magnitudes 2^-20 to 16) no output is NaN; a denormal warns "
         "(fails under --strict)",
         false, outputValues},
        {"realtime-allocation",
         "the process and event entries neither allocate nor free heap memory", false,
         realtimeAllocation},
        {"process-requests",
         "the process entry makes no host request, and buffers are asked for (request 7) only "
         "while opening",
         false, processRequests},
        {"request-plugs",
         "every host request that names a plug (0, 1, 4, 7, 8) names one the host made, with as "
         "many plugs as described, fewer and more",
         false, requestPlugs},
        {"state-announcements",
         "stream-state changes on several inputs at once make the module announce only valid "
         "states for outputs it has",
         false, stateAnnouncements},
        {"static-stability",
         "an output last announced Static (or never announced) holds its value from 4 samples "
         "after "
         "the last stream-state change, event, opcode, list value or announcement; a Streaming "
         "input's samples restart nothing",
         false, staticStability},
        {"state-clocks", "no announcement names a clock before the host's", false, stateClocks},
        {"state-change-determinism",
         "with stream-state changes, fresh instances and other stretches give the same output and "
         "announcements",
         false, stateChangeDeterminism},
        {"unknown-events",
         "events of unknown types, some naming a real plug and state, make no request and change "
         "neither the record nor the output nor the announcements that follow",
         false, unknownEvents},
        {"unknown-opcodes",
         "opcodes without an operation answer 0, ask the host nothing and change nothing: not the "
         "record, the output or the announcements that follow",
         false, unknownOpcodes},
        {"reopen", "a second open keeps no memory, and processing goes on", true, reopen},
        {"pointers-before-open",
         "Signal buffer pointers the host writes after opcode 6 and before open are kept by open",
         true, pointersBeforeOpen},
        {"negative-counts", "calls for a negative number of samples write nothing", true,
         negativeCounts},
        {"null-callback", "an instance made without a callback opens, processes and closes", true,
         nullCallback},
        {"plug-counts", "plug counts of 0, 1, one fewer and three more than described do no harm",
         true, plugCounts},
        {"events-before-open", "events delivered before open do no harm", true, eventsBeforeOpen},
        {"stack-alignment",
         "on 32-bit Windows, every export and entry called with the stack 4, 8 and 12 bytes past "
         "a 16-byte boundary works as with an aligned one (not applicable elsewhere)",
         false, stackAlignment},
    };
    return table;
}

}  // namespace mvmhost

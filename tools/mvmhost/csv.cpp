#include "tools/mvmhost/csv.h"

#include <charconv>
#include <filesystem>
#include <fstream>

#include "tools/mvmhost/failure.h"

namespace mvmhost {
namespace {

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

// Commas inside double quotes belong to the field (a header name may hold one).
std::vector<std::string_view> splitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    bool quoted = false;
    size_t start = 0;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"') quoted = !quoted;
        if (line[i] != ',' || quoted) continue;
        fields.push_back(trimBlanks(line.substr(start, i - start)));
        start = i + 1;
    }
    fields.push_back(trimBlanks(line.substr(start)));
    return fields;
}

std::string headerName(std::string_view field) {
    if (field.size() < 2 || field.front() != '"' || field.back() != '"') return std::string(field);
    std::string name;
    for (size_t i = 1; i + 1 < field.size(); ++i) {
        name += field[i];
        if (field[i] == '"' && field[i + 1] == '"') ++i;  // a doubled quote stands for one
    }
    return name;
}

}  // namespace

char* formatSample(char* out, float value) {
    return std::to_chars(out, out + kSampleTextMax, value).ptr;
}

std::string formatSample(float value) {
    char text[kSampleTextMax];
    return std::string(text, formatSample(text, value));
}

bool parseSample(std::string_view text, float& value) {
    text = trimBlanks(text);
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && (text.front() == '-' || text.front() == '+')) return false;
    }
    if (text.empty()) return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

CsvTable readCsv(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) throw Failure("cannot read " + path + ": no such file");
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Failure("cannot read " + path + ": permission denied");
    CsvTable table;
    std::string line;
    size_t lineNumber = 0;
    auto where = [&] { return path + ":" + std::to_string(lineNumber) + ": "; };
    while (std::getline(in, line)) {
        ++lineNumber;
        if (trimBlanks(line).empty()) continue;  // blank lines, such as one at the very end
        const std::vector<std::string_view> fields = splitFields(line);
        if (table.names.empty()) {
            for (std::string_view field : fields) {
                std::string name = headerName(field);
                if (name.empty()) throw Failure(where() + "a column has no name");
                for (const std::string& other : table.names)
                    if (other == name) throw Failure(where() + "column '" + name + "' appears twice");
                table.names.push_back(std::move(name));
            }
            table.columns.resize(table.names.size());
            continue;
        }
        if (fields.size() != table.names.size())
            throw Failure(where() + "expected " + std::to_string(table.names.size()) +
                          " values, found " + std::to_string(fields.size()));
        for (size_t c = 0; c < fields.size(); ++c) {
            float value;
            if (!parseSample(fields[c], value))
                throw Failure(where() + "'" + std::string(fields[c]) + "' is not a number");
            table.columns[c].push_back(value);
        }
    }
    if (in.bad()) throw Failure("cannot read " + path + ": read error");
    if (table.names.empty()) throw Failure(path + " has no header row of plug names");
    return table;
}

std::string csvHeader(const std::vector<std::string>& names) {
    std::string header;
    for (const std::string& name : names) {
        if (!header.empty()) header += ',';
        if (name.find_first_of(",\"\r\n") == std::string::npos) {
            header += name;
            continue;
        }
        header += '"';
        for (char c : name) header += c == '"' ? std::string("\"\"") : std::string(1, c);
        header += '"';
    }
    return header;
}

}  // namespace mvmhost

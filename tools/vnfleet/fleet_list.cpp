#include "fleet_list.h"

#include <cstdio>
#include <map>

#include "fleet_address.h"
#include "fleet_csv.h"
#include "image/image_kinds.h"
#include "platform/text_names.h"
#include "saved_text.h"
#include "whole_file.h"
#include "companion_cli.h"

namespace {
enum Column { COL_ADDRESS, COL_PASSWORD, COL_FILE, COL_TYPE, COL_WHOLE, COLUMN_COUNT };
const char* const columnNames[COLUMN_COUNT] = {"address", "password", "file", "type", "whole"};

std::string lowerCase(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// A header cell as a column name: any case, spaces around it dropped.
std::string headerName(const std::string& cell)
{
    std::size_t first = cell.find_first_not_of(" \t");
    std::size_t last = cell.find_last_not_of(" \t");
    return first == std::string::npos ? "" : lowerCase(cell.substr(first, last - first + 1));
}

bool parseWhole(const std::string& text, bool* whole)
{
    static const char* const yes[] = {"1", "yes", "true", "y"};
    static const char* const no[] = {"0", "no", "false", "n"};
    const std::string word = lowerCase(text);
    for (int i = 0; i < 4; ++i)
        if (word == yes[i] || word == no[i]) {
            *whole = word == yes[i];
            return true;
        }
    return false;
}

// A file cell relative to the list's folder; -f stays relative to the
// current folder.
std::string fromListFolder(const std::string& listPath, const std::string& file)
{
    std::size_t slash = listPath.find_last_of("/\\");
    bool absolute = file.empty() || file[0] == '/' || file[0] == '\\' ||
                    (file.size() > 1 && file[1] == ':');
    if (slash == std::string::npos || absolute)
        return file;
    return listPath.substr(0, slash + 1) + file;
}

// Column index of each known name in the header, -1 when absent.
bool readHeader(const CsvRecord& header, int* where, std::string* problem)
{
    for (int c = 0; c < COLUMN_COUNT; ++c)
        where[c] = -1;
    for (std::size_t i = 0; i < header.fields.size(); ++i) {
        if (headerName(header.fields[i]).empty()) {
            *problem = "column " + std::to_string(i + 1) + " of the header has no name";
            return false;
        }
        int found = -1;
        for (int c = 0; c < COLUMN_COUNT; ++c)
            if (headerName(header.fields[i]) == columnNames[c])
                found = c;
        if (found < 0) {
            *problem = "unknown column: " + header.fields[i];
            return false;
        }
        if (where[found] >= 0) {
            *problem = "column named twice: " + header.fields[i];
            return false;
        }
        where[found] = static_cast<int>(i);
    }
    if (where[COL_ADDRESS] < 0) {
        *problem = "no address column";
        return false;
    }
    return true;
}

// One row into a device; false with *problem set.
bool readRow(const CsvRecord& row, const int* where, const FleetOptions& options,
             DeviceEntry* device, std::string* problem)
{
    auto cell = [&](Column c) -> std::string {
        return where[c] < 0 ? std::string() : row.fields[static_cast<std::size_t>(where[c])];
    };
    device->line = row.line;
    device->address = cell(COL_ADDRESS);
    if (!parseDeviceAddress(device->address, &device->ip, problem))
        return false;
    // -P is already in the device's bytes; a cell is UTF-8 and goes the same way.
    device->password = options.password;
    if (!cell(COL_PASSWORD).empty() && !platformPasswordBytes(cell(COL_PASSWORD), &device->password)) {
        *problem = "the password has a character that " + platformPasswordEncoding() + " cannot hold";
        return false;
    }
    device->file = cell(COL_FILE).empty() ? options.file
                                          : fromListFolder(options.listPath, cell(COL_FILE));
    if (device->file.empty()) {
        *problem = "no file: give a file column or -f";
        return false;
    }
    std::string type = cell(COL_TYPE);
    device->typeLetter = type.empty() ? options.typeLetter : type[0];
    if (type.size() > 1 || (device->typeLetter && !imageKindOfLetter(device->typeLetter))) {
        *problem = "not a type letter (M, D, L, J or H): " + type;
        return false;
    }
    std::string whole = cell(COL_WHOLE);
    device->wholeEnciphered = options.wholeEnciphered;
    if (!whole.empty() && !parseWhole(whole, &device->wholeEnciphered)) {
        *problem = "whole must be 1 or 0, yes or no: " + whole;
        return false;
    }
    device->image = -1;
    return true;
}

// A '#' line shaped as a device row with a device's address: most likely a
// device whose first cell begins with '#', not a comment.
bool holdsDevice(const CsvRecord& comment, const CsvRecord& header, const int* where)
{
    std::uint32_t ip = 0;
    std::string ignored;
    return comment.fields.size() == header.fields.size() &&
           parseDeviceAddress(comment.fields[static_cast<std::size_t>(where[COL_ADDRESS])], &ip,
                              &ignored);
}
}  // namespace

void reportListProblem(const std::string& listPath, int line, const std::string& what)
{
    companionError("VNfleet: %s line %d: %s\n", listPath.c_str(), line, what.c_str());
}

bool readDeviceList(const FleetOptions& options, std::vector<DeviceEntry>* devices)
{
    std::string text;
    if (!readWholeFile(options.listPath, &text)) {
        companionError("VNfleet: cannot read the device list: %s\n", options.listPath.c_str());
        return false;
    }
    int badLine = 0;
    std::string problem;
    if (!takeSavedText(&text, "the list", &badLine, &problem)) {
        reportListProblem(options.listPath, badLine, problem);
        return false;
    }
    std::vector<CsvRecord> records;
    CsvProblem broken{};
    if (!parseCsv(text, csvSeparator(text), &records, &broken)) {
        reportListProblem(options.listPath, broken.line, broken.what);
        return false;
    }
    std::size_t first = 0;
    while (first < records.size() && records[first].comment)
        ++first;
    if (first == records.size()) {
        reportListProblem(options.listPath, 1, "no header row");
        return false;
    }
    const CsvRecord& header = records[first];
    int where[COLUMN_COUNT];
    if (!readHeader(header, where, &problem)) {
        reportListProblem(options.listPath, header.line, problem);
        return false;
    }
    std::map<std::uint32_t, int> firstLine;
    for (std::size_t r = 0; r < records.size(); ++r) {
        const CsvRecord& row = records[r];
        if (row.comment && holdsDevice(row, header, where)) {
            reportListProblem(options.listPath, row.line,
                              "starts with # but holds a device: quote the cell or remove the line");
            return false;
        }
        if (row.comment || r <= first)
            continue;
        if (row.fields.size() != header.fields.size()) {
            reportListProblem(options.listPath, row.line,
                              "has " + std::to_string(row.fields.size()) + " fields, the header " +
                                  std::to_string(header.fields.size()));
            return false;
        }
        DeviceEntry device{};
        if (!readRow(row, where, options, &device, &problem)) {
            reportListProblem(options.listPath, row.line, problem);
            return false;
        }
        auto seen = firstLine.find(device.ip);
        if (seen != firstLine.end()) {
            reportListProblem(options.listPath, row.line,
                              "duplicate address " + device.address + " (first on line " +
                                  std::to_string(seen->second) + ")");
            return false;
        }
        firstLine[device.ip] = row.line;
        devices->push_back(device);
    }
    if (devices->empty()) {
        reportListProblem(options.listPath, header.line, "no devices after the header");
        return false;
    }
    return true;
}

// The link rows as they are stored in the settings file: all rows packed into
// the one value of the key "Entry". Pure functions over rows of five texts, so
// that the packing can be checked without a window.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "app/state.h"

// The five cells of a row, indexed by ColumnUrl ... ColumnTried.
using LinkRow = std::array<std::string, LinkColumns>;

// One record per row, top row first: the five cells and savedAt, separated by
// FieldSeparator and ended by RecordTerminator. No row gives "".
std::string PackLinkRecords(const std::vector<LinkRow>& rows, DateValue savedAt);

// The rows of a packed value: one per RecordTerminator, text after the last one
// ignored; missing fields are empty, the sixth field is ignored, and a status
// of "Trying" comes back as "Idle". "DONE!" rows are returned like any other.
std::vector<LinkRow> UnpackLinkRecords(std::string_view value);

// A link as it may stand in a cell: every byte below 0x20, 0x7F and every byte
// of 0x80 and above written as %XX, so that a cell never holds a packing byte
// or a line break. Plain ASCII comes back unchanged.
std::string AsciiLink(std::string_view link);

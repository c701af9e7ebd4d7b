// Several numeric fields of a table read in one pass over its rows, the rows
// split between two threads, each reading its half of the file by blocks
// through a descriptor of its own (the table's lock stays with the table).
#pragma once

#include <atomic>
#include <vector>

namespace kestrune {

class DbfTable;
struct DbfField;

// For each field (null: none), its number in every row the table holds, by
// row (index = row - 1): NaN for a blank, or for a row the file no longer
// holds whole. False when the table is not open or cancel was raised (the
// values are then incomplete). percent, when given, goes from 0 to 100 as the
// first half is read.
bool ReadNumberColumns(const DbfTable& table, const std::vector<const DbfField*>& fields,
                       std::vector<std::vector<double>>& values, const std::atomic<bool>* cancel = nullptr,
                       std::atomic<int>* percent = nullptr);

// The same into buffers the caller holds, each of the table's row count
// (null for a null field); every value of them is written, NaN for a blank
// or a missing row, unless cancel was raised.
bool ReadNumberColumnsInto(const DbfTable& table, const std::vector<const DbfField*>& fields,
                           const std::vector<double*>& into, const std::atomic<bool>* cancel = nullptr,
                           std::atomic<int>* percent = nullptr);

}  // namespace kestrune

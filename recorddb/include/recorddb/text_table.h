#pragma once
// The table of texts that SqliteDataset::ReadAll returns: rows first, then columns, every cell an
// owned text. The empty table has no rows, no columns and no cells.

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

class TextTable {
public:
    TextTable() = default;
    // rows x columns empty texts; either count at or below 0 gives the empty table.
    TextTable(int rows, int columns) {
        if (rows > 0 && columns > 0) {
            rows_ = rows;
            columns_ = columns;
            cells_.resize(static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns));
        }
    }

    int Rows() const { return rows_; }
    int Columns() const { return columns_; }
    bool Empty() const { return cells_.empty(); }
    std::size_t Size() const { return cells_.size(); }

    // The cell at a 0-based row and column; a cell outside the table reads as the empty text.
    const std::string& Cell(int row, int column) const {
        static const std::string empty;
        return Inside(row, column) ? cells_[Index(row, column)] : empty;
    }
    // Writes a cell; false (nothing written) outside the table.
    bool SetCell(int row, int column, std::string text) {
        if (!Inside(row, column)) return false;
        cells_[Index(row, column)] = std::move(text);
        return true;
    }
    // Adds one row of empty texts at the end (a table with columns only).
    void AddRow() {
        if (columns_ <= 0) return;
        cells_.resize(cells_.size() + static_cast<std::size_t>(columns_));
        ++rows_;
    }

private:
    bool Inside(int row, int column) const { return row >= 0 && row < rows_ && column >= 0 && column < columns_; }
    std::size_t Index(int row, int column) const {
        return static_cast<std::size_t>(row) * static_cast<std::size_t>(columns_) + static_cast<std::size_t>(column);
    }

    int rows_ = 0;
    int columns_ = 0;
    std::vector<std::string> cells_;
};

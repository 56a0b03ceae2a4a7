#include "filterplugin/filter_tables.h"

#include <cstring>

bool FilterHost::Complete() const
{
    return getDeviceInfo && getPluginParam && getValue && setValue && getTabRow && setTabRow && addTabRow && delTabRow
        && findTabRow;
}

bool FilterGetRow(
    const FilterHost& host, const char* table, int32_t row, int32_t columns, std::vector<std::string>* cells)
{
    int32_t size = 256;
    for (;;) {
        std::vector<std::vector<char>> storage(static_cast<size_t>(columns), std::vector<char>(size));
        std::vector<char*> buffers;
        std::vector<int32_t> sizes(static_cast<size_t>(columns), size);
        for (auto& b : storage)
            buffers.push_back(b.data());
        int32_t count = host.getTabRow(host.context, table, row, columns - 1, buffers.data(), sizes.data());
        if (count <= 0)
            return false;
        bool whole = true;
        cells->assign(static_cast<size_t>(columns), std::string());
        for (int32_t c = 0; c < columns && c < count; ++c) {
            size_t length = strnlen(buffers[c], static_cast<size_t>(size));
            // A cell that filled its buffer may be longer: read again with larger ones.
            if (length + 1 >= static_cast<size_t>(size))
                whole = false;
            (*cells)[static_cast<size_t>(c)].assign(buffers[c], length);
        }
        if (whole)
            return true;
        if (size >= (1 << 24))
            return true;
        size *= 4;
    }
}

int32_t FilterFindObjectRow(const FilterHost& host, const std::string& name)
{
    int32_t row = host.findTabRow(host.context, FilterObjectTable, 0, name.c_str());
    if (row < 0)
        return -1;
    std::vector<std::string> cells;
    for (; FilterGetRow(host, FilterObjectTable, row, 1, &cells); ++row)
        if (cells[0] == name)
            return row;
    return -1;
}

bool FilterFindObject(const FilterHost& host, const std::string& name, std::string* definition)
{
    int32_t row = FilterFindObjectRow(host, name);
    std::vector<std::string> cells;
    if (row < 0 || !FilterGetRow(host, FilterObjectTable, row, 2, &cells))
        return false;
    *definition = cells[1];
    return true;
}

int32_t FilterCountRows(const FilterHost& host, const char* table)
{
    char cell[1];
    char* buffers[1] = { cell };
    int32_t sizes[1] = { 1 };
    int32_t rows = 0;
    while (host.getTabRow(host.context, table, rows, 0, buffers, sizes) > 0)
        ++rows;
    return rows;
}

#include "cli/qorvexal/qvjson.h"

#include "cli/qorvexal/jobfront.h"
#include "common/text.h"

std::string QvJson(std::string_view ansi)
{
    return StrQuote(Utf8FromAnsi(ansi), true);
}

std::string QvDeviceJson(const DeviceRow& row, bool withMark)
{
    std::string out = "{\"name\": " + QvJson(row.name) + ", \"folder\": " + QvJson(row.folder) + ", \"link\": "
        + QvJson(row.link) + ", \"address\": " + QvJson(row.address) + ", \"type\": " + QvJson(row.type)
        + ", \"firmware\": " + QvJson(row.firmware) + ", \"serial\": " + QvJson(row.serial)
        + ", \"mac\": " + QvJson(row.mac) + ", \"status\": " + QvJson(row.status)
        + StrFormat(", \"status_code\": %d", row.status_code) + ", \"description\": " + QvJson(row.description);
    if (withMark)
        out += ", \"mark\": " + QvJson(row.mark);
    return out + "}";
}

int QvPrintDeviceList(const std::vector<std::pair<DeviceEntry*, std::string>>& shown, bool json, bool csv, bool check,
    std::string (*where)(const DeviceEntry&))
{
    if (check && !shown.empty()) {
        QvJobFront front;
        if (int rc = front.Start(false))
            return rc;
        std::vector<DeviceEntry*> entries;
        for (const auto& [e, folder] : shown)
            entries.push_back(e);
        front.Job(JobCheck, entries, 0);
    }
    std::vector<DeviceRow> rows;
    for (const auto& [e, folder] : shown)
        rows.push_back(DeviceRowOf(*e, folder, where(*e)));
    std::string out;
    if (json) {
        out = "{\"devices\": [";
        for (size_t i = 0; i < rows.size(); ++i)
            out += std::string(i ? ",\n  " : "\n  ") + QvDeviceJson(rows[i]);
        out += (rows.empty() ? "]" : "\n]") + StrFormat(", \"count\": %u}\n", static_cast<unsigned>(rows.size()));
    } else if (csv) {
        out = DeviceListCsv(rows);
    } else {
        for (const DeviceRow& r : rows)
            out += CliText(StrFormat("%-24s %-21s %-16s %-18s %-10s %-15s %-12s %s", r.name.c_str(), r.address.c_str(),
                       r.folder.c_str(), r.type.c_str(), r.firmware.c_str(), r.serial.c_str(), r.mac.c_str(),
                       r.status.c_str()))
                + "\n";
        out += StrFormat("%u device(s)\n", static_cast<unsigned>(rows.size()));
    }
    std::fputs(out.c_str(), stdout);
    return 0;
}

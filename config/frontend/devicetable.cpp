#include "config/frontend/devicetable.h"

#include "common/text.h"
#include "device/deviceentry.h"
#include "device/devicelist.h"
#include "device/devstatus.h"
#include "device/dialup.h"

std::string DeviceWhereText(const DeviceEntry& e)
{
    if (e.link == LinkSerial)
        return e.line_name.str();
    if (e.link == LinkDialUp)
        return e.ras_entry.str() + " (" + e.phone_number.str() + ")";
    return e.AddressText();
}

std::string DeviceStatusLine(const DeviceEntry& e)
{
    int32_t status = e.status.load();
    if (status == DevStatusDialUpError)
        return DevStatusText(status) + ": " + DialupErrorText(e.ras_error);
    if (status != DevStatusOk && !e.status_text.empty())
        return DevStatusText(status) + ": " + e.status_text;
    return DevStatusText(status);
}

DeviceRow DeviceRowOf(const DeviceEntry& e, std::string_view folder, std::string_view where)
{
    static const char* const links[] = { "ip", "dialup", "serial" };
    DeviceRow row;
    row.name = e.name.str();
    row.folder = std::string(folder);
    row.link = e.link >= 0 && e.link <= 2 ? links[e.link] : "unknown";
    row.address = std::string(where);
    row.type = e.device_type.str();
    row.firmware = e.fw_version.str();
    row.serial = e.serial_no.str();
    row.mac = e.mac_address.str();
    row.status_code = e.status.load();
    row.status = row.status_code == 0 ? std::string() : DeviceStatusLine(e);
    row.description = e.description.str();
    return row;
}

std::string CsvField(std::string_view ansi)
{
    std::string text = Utf8FromAnsi(ansi);
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"')
            out += '"';
        out += c;
    }
    return out + "\"";
}

std::string DeviceListCsv(const std::vector<DeviceRow>& rows)
{
    std::string out = "name,folder,address,type,firmware,serial number,MAC address,status,description\r\n";
    for (const DeviceRow& r : rows)
        out += CsvField(r.name) + "," + CsvField(r.folder) + "," + CsvField(r.address) + "," + CsvField(r.type) + ","
            + CsvField(r.firmware) + "," + CsvField(r.serial) + "," + CsvField(r.mac) + "," + CsvField(r.status) + ","
            + CsvField(r.description) + "\r\n";
    return out;
}

std::vector<DeviceRow> DeviceListRows(DeviceList& list)
{
    std::vector<DeviceRow> rows;
    list.ForEach([&](DeviceFolder& f, DeviceEntry& e) {
        std::string path = DeviceList::FolderPath(f);
        rows.push_back(DeviceRowOf(e, path.empty() ? "/" : path, DeviceWhereText(e)));
    });
    return rows;
}

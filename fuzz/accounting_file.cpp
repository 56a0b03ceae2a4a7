// The accounting file reader: any text either is no accounting file (no rows) or gives rows whose
// fields keep their widths; writing those rows and reading the file again gives the same rows.
#include "monitor/views/table_rows.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {
void Check(bool ok)
{
    if (!ok)
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<AccountingRow> rows;
    if (!AccountingFileParse(text, &rows)) {
        Check(rows.empty());
        return 0;
    }
    for (const AccountingRow& r : rows)
        Check(r.identifier.size() <= kAccIdentifierMax && r.user.size() <= kAccTextMax
            && r.remoteSite.size() <= kAccTextMax);
    std::string saved = AccountingFileText(rows, { 3, 0, 1 });
    std::vector<AccountingRow> again;
    Check(AccountingFileParse(saved, &again));
    // A text with ";" or a line break is saved with blanks instead: those rows read back changed once,
    // and from then on stay the same.
    std::vector<AccountingRow> third;
    Check(AccountingFileParse(AccountingFileText(again, { 3, 0, 1 }), &third));
    Check(third == again);
    Check(again.size() == rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        const AccountingRow& a = rows[i];
        const AccountingRow& b = again[i];
        Check(a.type == b.type && a.received == b.received && a.transmitted == b.transmitted
            && a.onlineTime == b.onlineTime && a.connections == b.connections);
        Check(a.identifier.size() == b.identifier.size() && a.user.size() == b.user.size());
    }
    return 0;
}

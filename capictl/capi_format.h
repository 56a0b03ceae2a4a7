// The text forms of records that ostrel-cli prints and the substitute driver's log uses: one line per
// record, texts between double quotes as they stand (raw, unescaped), bytes as lower-case hexadecimal.
#pragma once

#include "capictl/capi_records.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// "devices D available A applications P connections C"
std::string CapiFormatSummary(const uint8_t* data, size_t bytes);
// "device id=N ...", "connection id=N ...", "application" or "record kind=N length=N"
std::string CapiFormatStatusRecord(const CapiRecordView& record);
// "setting type=N name="T" data=HEX bytes=HEX", "drop id=N bytes=HEX" or "record kind=N length=N"
std::string CapiFormatControlRecord(const CapiRecordView& record);
std::string CapiHex(std::string_view bytes);

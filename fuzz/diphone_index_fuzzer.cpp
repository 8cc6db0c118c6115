// The diphone index: any bytes give at most 2001 records with names of at most
// 8 characters; encoding them and reading them again gives the same records;
// the halving search finds a record of every name listed when the index is
// sorted as the database writes it.
#include <algorithm>
#include <vector>

#include "fuzz_input.h"
#include "speech/diphone_database.h"

using ondaria::DiphoneIndexRecord;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::vector<DiphoneIndexRecord> records = ondaria::parseDiphoneIndex(bytes);
  FUZZ_CHECK(records.size() <= ondaria::kDiphoneRecordMax);
  FUZZ_CHECK(records.size() <= size / ondaria::kDiphoneRecordSize);
  for (const DiphoneIndexRecord& r : records) FUZZ_CHECK(r.name.size() <= ondaria::kDiphoneNameMax);

  const std::vector<DiphoneIndexRecord> again = ondaria::parseDiphoneIndex(ondaria::encodeDiphoneIndex(records));
  FUZZ_CHECK(again.size() == records.size());
  for (size_t i = 0; i < records.size(); ++i) {
    FUZZ_CHECK(again[i].name == records[i].name);
    FUZZ_CHECK(again[i].length == records[i].length);
    FUZZ_CHECK(again[i].offset == records[i].offset);
  }

  // Unsorted input is searched too (a damaged file): any answer must be in range.
  for (const DiphoneIndexRecord& r : records) {
    const int found = ondaria::findDiphoneRecord(records, r.name);
    FUZZ_CHECK(found >= -1 && found < static_cast<int>(records.size()));
  }
  std::stable_sort(records.begin(), records.end(), [](const auto& a, const auto& b) {
    return ondaria::diphoneNameLess(a.name, b.name);
  });
  for (const DiphoneIndexRecord& r : records) {
    const int found = ondaria::findDiphoneRecord(records, r.name);
    FUZZ_CHECK(found >= 0 && records[static_cast<size_t>(found)].name == r.name);
  }
  return 0;
}

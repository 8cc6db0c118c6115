// The diphone database: index decoding and encoding, the halving search and
// sample reads by offset.
#include "speech/diphone_database.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

namespace ondaria {

namespace {

uint16_t readU16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

int32_t readI32(const unsigned char* p) {
  uint32_t v = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
               (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
  return static_cast<int32_t>(v);
}

}  // namespace

std::vector<DiphoneIndexRecord> parseDiphoneIndex(std::string_view bytes) {
  std::vector<DiphoneIndexRecord> records;
  size_t count = std::min(bytes.size() / kDiphoneRecordSize, kDiphoneRecordMax);
  records.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + i * kDiphoneRecordSize);
    DiphoneIndexRecord r;
    size_t n = std::min<size_t>(p[0], kDiphoneNameMax);
    r.name.assign(reinterpret_cast<const char*>(p + 1), n);
    r.length = readU16(p + 9);
    r.offset = readI32(p + 11);
    records.push_back(std::move(r));
  }
  return records;
}

std::string encodeDiphoneIndex(const std::vector<DiphoneIndexRecord>& records) {
  std::string out;
  out.reserve(records.size() * kDiphoneRecordSize);
  for (const DiphoneIndexRecord& r : records) {
    unsigned char rec[kDiphoneRecordSize] = {};
    size_t n = std::min(r.name.size(), kDiphoneNameMax);
    rec[0] = static_cast<unsigned char>(n);
    std::memcpy(rec + 1, r.name.data(), n);
    rec[9] = static_cast<unsigned char>(r.length & 0xFF);
    rec[10] = static_cast<unsigned char>(r.length >> 8);
    auto off = static_cast<uint32_t>(r.offset);
    for (int k = 0; k < 4; ++k) rec[11 + k] = static_cast<unsigned char>((off >> (8 * k)) & 0xFF);
    out.append(reinterpret_cast<const char*>(rec), sizeof rec);
  }
  return out;
}

bool diphoneNameLess(std::string_view a, std::string_view b) {
  // string_view compares through char_traits<char>, which orders bytes as
  // unsigned values; a prefix sorts first.
  return a.compare(b) < 0;
}

int findDiphoneRecord(const std::vector<DiphoneIndexRecord>& records, std::string_view name) {
  int low = 0;
  int high = static_cast<int>(records.size()) - 1;
  while (low <= high) {
    int mid = low + (high - low) / 2;
    int c = std::string_view(records[static_cast<size_t>(mid)].name).compare(name);
    if (c == 0) return mid;
    if (c < 0) low = mid + 1;
    else high = mid - 1;
  }
  return -1;
}

DiphoneDatabase::~DiphoneDatabase() { close(); }

bool DiphoneDatabase::open(const std::string& directory, const std::string& name) {
  close();
  std::ifstream index(directory + name + ".IND", std::ios::binary);
  if (!index) return false;
  std::string bytes((std::istreambuf_iterator<char>(index)), std::istreambuf_iterator<char>());
  std::FILE* f = std::fopen((directory + name + ".DIF").c_str(), "rb");
  if (f == nullptr) return false;
  if (std::fseek(f, 0, SEEK_END) != 0) {
    std::fclose(f);
    return false;
  }
  long size = std::ftell(f);
  if (size < 0) {
    std::fclose(f);
    return false;
  }
  records_ = parseDiphoneIndex(bytes);
  samples_ = f;
  sampleSize_ = static_cast<uint64_t>(size);
  return true;
}

void DiphoneDatabase::close() {
  if (samples_ != nullptr) std::fclose(samples_);
  samples_ = nullptr;
  sampleSize_ = 0;
  records_.clear();
}

std::optional<DiphoneUnit> DiphoneDatabase::findUnit(std::string_view name) const {
  int i = findDiphoneRecord(records_, name);
  if (i < 0) return std::nullopt;
  const DiphoneIndexRecord& r = records_[static_cast<size_t>(i)];
  if (r.offset < 0) return std::nullopt;  // a damaged record names no samples
  return DiphoneUnit{static_cast<uint32_t>(r.offset), r.length};
}

size_t DiphoneDatabase::readSamples(uint32_t offset, size_t count, uint8_t* out) const {
  if (samples_ == nullptr || offset >= sampleSize_ || count == 0) return 0;
  count = static_cast<size_t>(std::min<uint64_t>(count, sampleSize_ - offset));
  if (std::fseek(samples_, static_cast<long>(offset), SEEK_SET) != 0) return 0;
  return std::fread(out, 1, count, samples_);
}

}  // namespace ondaria

// The diphone database: an index file of 15-byte records ("DIFONES2.IND") and
// a file of raw 8-bit unsigned samples at 11025 per second ("DIFONES2.DIF").
//
// Index record: name length (0..8), 8 name bytes (upper case, bytes after the
// name undefined), unit length in samples (unsigned 16-bit little-endian),
// offset of the first sample in the sample file (signed 32-bit little-endian).
// Records are sorted by name in byte order, a shorter name before a longer one
// that begins with it; at most 2001 records are read.
//
// The index is held in memory and searched by halving; samples are read from
// the open sample file by offset, so no sample data is kept.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "speech/diphone_speech.h"

namespace ondaria {

struct DiphoneIndexRecord {
  std::string name;      // at most 8 characters
  uint16_t length = 0;   // samples
  int32_t offset = 0;    // first sample in the sample file
};

inline constexpr size_t kDiphoneRecordSize = 15;
inline constexpr size_t kDiphoneNameMax = 8;
inline constexpr size_t kDiphoneRecordMax = 2001;

// Decodes index bytes: size / 15 records (a trailing partial record is
// ignored), at most kDiphoneRecordMax; a name length above 8 is read as 8.
std::vector<DiphoneIndexRecord> parseDiphoneIndex(std::string_view bytes);
// Encodes records (names cut to 8 characters, unused name bytes zero).
std::string encodeDiphoneIndex(const std::vector<DiphoneIndexRecord>& records);
// Byte order of names as the halving search needs it.
bool diphoneNameLess(std::string_view a, std::string_view b);
// Halving search over records sorted by diphoneNameLess; -1 when absent.
int findDiphoneRecord(const std::vector<DiphoneIndexRecord>& records, std::string_view name);

// An open database: the index in memory and the sample file kept open.
class DiphoneDatabase {
 public:
  DiphoneDatabase() = default;
  ~DiphoneDatabase();
  DiphoneDatabase(const DiphoneDatabase&) = delete;
  DiphoneDatabase& operator=(const DiphoneDatabase&) = delete;

  // Opens directory + name + ".IND" and ".DIF" (the directory ends with a
  // separator or is empty). False, with nothing open, when either cannot be read.
  bool open(const std::string& directory, const std::string& name);
  void close();
  bool isOpen() const { return samples_ != nullptr; }

  const std::vector<DiphoneIndexRecord>& records() const { return records_; }
  // Size of the sample file in bytes.
  uint64_t sampleFileSize() const { return sampleSize_; }

  // Upper-case unit name -> unit, through the halving search.
  std::optional<DiphoneUnit> findUnit(std::string_view name) const;
  // Reads up to `count` samples from `offset`; returns how many were read
  // (fewer at the end of the file, 0 for an offset outside it).
  size_t readSamples(uint32_t offset, size_t count, uint8_t* out) const;

 private:
  std::vector<DiphoneIndexRecord> records_;
  std::FILE* samples_ = nullptr;
  uint64_t sampleSize_ = 0;
};

}  // namespace ondaria

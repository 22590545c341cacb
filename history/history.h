#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

struct sqlite3;

namespace brelin::history {

// A history that could not be opened, read or written. what() names the file and says why; the
// file is then as it was before the call.
class HistoryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One stored reading: raw, as the instrument recorded it. Its texts are made when it is shown.
struct Reading {
  std::int32_t time;  // seconds since 1970, shown as UTC
  std::uint8_t sensorType;
  std::uint16_t raw;
};

// What the history holds for one point of one instrument.
struct PointSummary {
  std::int32_t serial;
  int point;
  std::int64_t readings;
  std::int32_t first;  // time of the oldest reading
  std::int32_t last;   // time of the newest
};

// What an import did: measurement records of the image, and how many of them were new.
struct ImportCounts {
  std::uint64_t seen = 0;
  std::uint64_t added = 0;
};

// $XDG_DATA_HOME/brelin/history.sqlite3, or ~/.local/share/brelin/history.sqlite3 without it.
std::string DefaultPath();

// Every reading downloaded from every instrument, in an SQLite file that other programs may read
// at the same time (write-ahead log). Opening checks that the file is a history of this program
// and brings an older one up to date; a file that is not one is never written.
class History {
 public:
  enum class Mode {
    kRead,   // the file must exist; nothing is written
    kWrite,  // the file and its folder are made when missing
  };
  struct Options {
    int busyTimeoutMs = 5000;  // how long to wait for another program's lock
  };

  // Throws HistoryError when the file cannot be opened, is not a history, or is locked.
  History(const std::string& path, Mode mode, Options options);
  History(const std::string& path, Mode mode) : History(path, mode, Options{}) {}
  ~History();
  History(const History&) = delete;
  History& operator=(const History&) = delete;

  const std::string& path() const { return path_; }

  // Adds the measurement records of the image at `imagePath` as readings of instrument `serial`,
  // in one transaction: a reading already stored (same point, time, sensor type and raw value) is
  // not added again, and on any failure nothing is. Records with time 0 are no readings and are
  // skipped. `afterRow`, when set, is called after each row is written, with the rows written so
  // far. Throws report::FileError when the image cannot be read, HistoryError when the history
  // cannot be written.
  ImportCounts Import(std::int32_t serial, const std::string& imagePath,
                      const std::function<void(std::uint64_t rows)>& afterRow = {});

  // Every instrument and point with readings, by serial number, then point.
  std::vector<PointSummary> Points() const;

  // The serial numbers of the instruments with readings of `point`, ascending.
  std::vector<std::int32_t> Serials(int point) const;

  // The readings of `point` of instrument `serial` with since <= time < until, oldest first.
  std::vector<Reading> Readings(
      std::int32_t serial, int point, std::int64_t since = std::numeric_limits<std::int64_t>::min(),
      std::int64_t until = std::numeric_limits<std::int64_t>::max()) const;

 private:
  void Prepare(Mode mode);

  std::string path_;
  sqlite3* db_ = nullptr;
};

}  // namespace brelin::history

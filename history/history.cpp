#include "history/history.h"

#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <tuple>

#include "report/analysis.h"

namespace brelin::history {
namespace {

// "BRLN": tells a history from any other SQLite file before anything is written to it.
constexpr int kApplicationId = 0x42524C4E;

// Each entry brings a history from the version of its index to the next; user_version holds the
// number applied. Entries are only ever added at the end.
constexpr const char* kMigrations[] = {
    // The key tells readings apart and orders them by instrument, point and time, which is
    // what Readings asks for: no separate index, no row id.
    "CREATE TABLE reading("
    "  serial INTEGER NOT NULL,"
    "  point INTEGER NOT NULL,"
    "  time INTEGER NOT NULL,"
    "  sensor_type INTEGER NOT NULL,"
    "  raw INTEGER NOT NULL,"
    "  PRIMARY KEY (serial, point, time, sensor_type, raw)"
    ") WITHOUT ROWID",
};
constexpr int kSchemaVersion = static_cast<int>(std::size(kMigrations));

struct StatementDeleter {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementDeleter>;

struct Header {
  int applicationId = 0;
  int version = 0;
  int objects = 0;  // tables and indexes; none in a file nobody has written yet

  bool fresh() const { return applicationId == 0 && version == 0 && objects == 0; }
};

class HistoryAccess {
 public:
  explicit HistoryAccess(const History& history, sqlite3* db) : history_(history), db_(db) {}

  Statement Compile(const char* sql, const char* doing) const {
    sqlite3_stmt* statement = nullptr;
    const int code = sqlite3_prepare_v2(db_, sql, -1, &statement, nullptr);
    if (code != SQLITE_OK) Fail(code, doing);
    return Statement(statement);
  }
  // Steps once; true while rows come.
  bool Step(sqlite3_stmt* statement, const char* doing) const {
    const int code = sqlite3_step(statement);
    if (code == SQLITE_ROW) return true;
    if (code != SQLITE_DONE) Fail(code, doing);
    return false;
  }
  void Execute(const char* sql, const char* doing) const {
    const Statement statement = Compile(sql, doing);
    while (Step(statement.get(), doing)) {
    }
  }
  int Integer(const char* sql, const char* doing) const {
    const Statement statement = Compile(sql, doing);
    return Step(statement.get(), doing) ? sqlite3_column_int(statement.get(), 0) : 0;
  }
  Header ReadHeader() const {
    const char* doing = "open it";
    return {.applicationId = Integer("PRAGMA application_id", doing),
            .version = Integer("PRAGMA user_version", doing),
            .objects = Integer("SELECT count(*) FROM sqlite_schema", doing)};
  }
  [[noreturn]] void Fail(int code, const std::string& doing) const;

 private:
  const History& history_;
  sqlite3* db_;
};

void HistoryAccess::Fail(int code, const std::string& doing) const {
  const std::string& path = history_.path();
  switch (code & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      throw HistoryError(path + " is locked by another program; try again when it is done");
    case SQLITE_NOTADB:
      throw HistoryError(path + " is not a Brelin history; it was left as it is");
    case SQLITE_CORRUPT:
      throw HistoryError(path + " is damaged (" + sqlite3_errmsg(db_) + "); it was left as it is");
    case SQLITE_FULL:
      throw HistoryError(path + ": the disk is full; could not " + doing + ", nothing was changed");
    default:
      break;
  }
  const int error = sqlite3_system_errno(db_);
  throw HistoryError(path + ": could not " + doing + " (" +
                     (error != 0 ? std::strerror(error) : sqlite3_errmsg(db_)) + ")");
}

}  // namespace

std::string DefaultPath() {
  namespace fs = std::filesystem;
  const char* data = std::getenv("XDG_DATA_HOME");
  fs::path folder;
  if (data != nullptr && *data == '/') {
    folder = data;
  } else {
    const char* home = std::getenv("HOME");
    folder = fs::path(home != nullptr ? home : ".") / ".local" / "share";
  }
  return (folder / "brelin" / "history.sqlite3").string();
}

History::History(const std::string& path, Mode mode, Options options) : path_(path) {
  namespace fs = std::filesystem;
  std::error_code error;
  if (mode == Mode::kRead && !fs::exists(path, error)) {
    throw HistoryError(path + ": there is no history yet; Get Data makes one");
  }
  if (mode == Mode::kWrite) {
    const fs::path folder = fs::path(path).parent_path();
    if (!folder.empty() && !fs::create_directories(folder, error) && error) {
      throw HistoryError(path + ": could not make its folder (" + error.message() + ")");
    }
    // SQLite says only that it cannot open a file it may not create.
    const std::string where = folder.empty() ? "." : folder.string();
    if (!fs::exists(path, error) && access(where.c_str(), W_OK | X_OK) != 0) {
      throw HistoryError(path + ": could not create it (" + std::strerror(errno) + ")");
    }
  }
  const int flags =
      SQLITE_OPEN_NOMUTEX |
      (mode == Mode::kRead ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  const int code = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
  try {
    const HistoryAccess access(*this, db_);
    if (code != SQLITE_OK) access.Fail(code, "open it");
    sqlite3_busy_timeout(db_, options.busyTimeoutMs);
    sqlite3_extended_result_codes(db_, 1);
    Prepare(mode);
  } catch (...) {
    sqlite3_close(db_);
    throw;
  }
}

History::~History() {
  sqlite3_close(db_);
}

void History::Prepare(Mode mode) {
  const HistoryAccess access(*this, db_);
  // Checked before anything is written: a file of another program is never touched.
  const Header header = access.ReadHeader();
  if (!header.fresh() && header.applicationId != kApplicationId) {
    throw HistoryError(path_ + " is not a Brelin history; it was left as it is");
  }
  if (header.version > kSchemaVersion) {
    throw HistoryError(path_ + " was made by a newer version of Brelin; it was left as it is");
  }
  if (mode == Mode::kRead) {
    if (header.fresh()) throw HistoryError(path_ + " holds no readings yet");
    if (header.version < kSchemaVersion) {
      throw HistoryError(path_ + " is of an older version; the next import brings it up to date");
    }
    return;
  }
  // The log lets the window and the command line read while a download imports.
  access.Execute("PRAGMA journal_mode=WAL", "switch it to a write-ahead log");
  // A power cut may lose the last import but never damages the file.
  access.Execute("PRAGMA synchronous=NORMAL", "set it up");
  if (header.version == kSchemaVersion) return;

  access.Execute("BEGIN IMMEDIATE", "bring it up to date");
  try {
    // Another program may have set it up while this one waited for the lock.
    const Header locked = access.ReadHeader();
    if (!locked.fresh() && locked.applicationId != kApplicationId) {
      throw HistoryError(path_ + " is not a Brelin history; it was left as it is");
    }
    for (int version = locked.version; version < kSchemaVersion; ++version) {
      access.Execute(kMigrations[version], "bring it up to date");
    }
    const std::string stamp = "PRAGMA application_id=" + std::to_string(kApplicationId) +
                              "; PRAGMA user_version=" + std::to_string(kSchemaVersion);
    char* message = nullptr;
    const int code = sqlite3_exec(db_, stamp.c_str(), nullptr, nullptr, &message);
    sqlite3_free(message);
    if (code != SQLITE_OK) access.Fail(code, "bring it up to date");
    access.Execute("COMMIT", "bring it up to date");
  } catch (...) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

ImportCounts History::Import(std::int32_t serial, const std::string& imagePath,
                             const std::function<void(std::uint64_t rows)>& afterRow) {
  struct Row {
    int point;
    std::int32_t time;
    std::uint8_t sensorType;
    std::uint16_t raw;
  };
  // The image is read whole before the history is touched, and written in key order: the tree
  // then only grows at its right edge, which keeps its pages full and the import quick.
  ImportCounts counts;
  std::vector<Row> rows;
  report::ForEachMeasurement(imagePath, [&](const report::Measurement& m) {
    ++counts.seen;
    if (m.timestamp != 0) rows.push_back({m.point, m.timestamp, m.sensorType, m.raw});
  });
  const auto key = [](const Row& r) { return std::tie(r.point, r.time, r.sensorType, r.raw); };
  std::sort(rows.begin(), rows.end(), [&](const Row& a, const Row& b) { return key(a) < key(b); });

  const HistoryAccess access(*this, db_);
  const char* doing = "import the readings";
  access.Execute("BEGIN IMMEDIATE", doing);
  try {
    const Statement insert =
        access.Compile("INSERT OR IGNORE INTO reading VALUES (?1, ?2, ?3, ?4, ?5)", doing);
    sqlite3_stmt* s = insert.get();
    sqlite3_bind_int(s, 1, serial);
    std::uint64_t written = 0;
    for (const Row& row : rows) {
      sqlite3_bind_int(s, 2, row.point);
      sqlite3_bind_int(s, 3, row.time);
      sqlite3_bind_int(s, 4, row.sensorType);
      sqlite3_bind_int(s, 5, row.raw);
      access.Step(s, doing);
      counts.added += static_cast<std::uint64_t>(sqlite3_changes(db_));
      sqlite3_reset(s);
      if (afterRow) afterRow(++written);
    }
    access.Execute("COMMIT", doing);
  } catch (...) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
  return counts;
}

std::vector<PointSummary> History::Points() const {
  const HistoryAccess access(*this, db_);
  const char* doing = "read it";
  const Statement select = access.Compile(
      "SELECT serial, point, count(*), min(time), max(time) FROM reading "
      "GROUP BY serial, point ORDER BY serial, point",
      doing);
  std::vector<PointSummary> points;
  while (access.Step(select.get(), doing)) {
    sqlite3_stmt* s = select.get();
    points.push_back({.serial = sqlite3_column_int(s, 0),
                      .point = sqlite3_column_int(s, 1),
                      .readings = sqlite3_column_int64(s, 2),
                      .first = sqlite3_column_int(s, 3),
                      .last = sqlite3_column_int(s, 4)});
  }
  return points;
}

std::vector<std::int32_t> History::Serials(int point) const {
  const HistoryAccess access(*this, db_);
  const char* doing = "read it";
  // A few instruments over many rows: hop from one serial number to the next along the key
  // instead of scanning every reading.
  const Statement next =
      access.Compile("SELECT serial FROM reading WHERE serial > ?1 ORDER BY serial LIMIT 1", doing);
  const Statement has =
      access.Compile("SELECT 1 FROM reading WHERE serial = ?1 AND point = ?2 LIMIT 1", doing);
  std::vector<std::int32_t> serials;
  sqlite3_int64 after = std::numeric_limits<sqlite3_int64>::min();
  for (;;) {
    sqlite3_reset(next.get());
    sqlite3_bind_int64(next.get(), 1, after);
    if (!access.Step(next.get(), doing)) break;
    const std::int32_t serial = sqlite3_column_int(next.get(), 0);
    sqlite3_reset(has.get());
    sqlite3_bind_int(has.get(), 1, serial);
    sqlite3_bind_int(has.get(), 2, point);
    if (access.Step(has.get(), doing)) serials.push_back(serial);
    after = serial;
  }
  return serials;
}

std::vector<Reading> History::Readings(std::int32_t serial, int point, std::int64_t since,
                                       std::int64_t until) const {
  const HistoryAccess access(*this, db_);
  const char* doing = "read it";
  const Statement select = access.Compile(
      "SELECT time, sensor_type, raw FROM reading "
      "WHERE serial = ?1 AND point = ?2 AND time >= ?3 AND time < ?4 ORDER BY time",
      doing);
  sqlite3_stmt* s = select.get();
  sqlite3_bind_int(s, 1, serial);
  sqlite3_bind_int(s, 2, point);
  sqlite3_bind_int64(s, 3, since);
  sqlite3_bind_int64(s, 4, until);
  std::vector<Reading> readings;
  while (access.Step(s, doing)) {
    readings.push_back({.time = sqlite3_column_int(s, 0),
                        .sensorType = static_cast<std::uint8_t>(sqlite3_column_int(s, 1)),
                        .raw = static_cast<std::uint16_t>(sqlite3_column_int(s, 2))});
  }
  return readings;
}

}  // namespace brelin::history

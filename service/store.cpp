#include "service/store.h"

#include "core/protocol.h"

#include <sqlite3.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

constexpr int BusyTimeoutMs = 5000; // `preserve` may write while the server reads
// A reader waits at most this long for a writer, so that one answer cannot hold a stop up.
constexpr int ReaderBusyTimeoutMs = 1000;
// With 64 random bits a second draw is already next to impossible; more only guard against a
// broken random source.
constexpr int OrderAttempts = 5;
// Records kept in memory at most; beyond it the copy starts afresh.
constexpr std::size_t FoundLimit = 16 * 1024;

// Databases made before keep the range their table was created with: a change is a migration.
static_assert(protocol::FirstType == 1 && protocol::LastType == 18,
              "the table's CHECK spells the type range");
const char CreateTable[] = "CREATE TABLE IF NOT EXISTS evidence ("
                           " order_no TEXT PRIMARY KEY NOT NULL,"
                           " type INTEGER NOT NULL CHECK (type BETWEEN 1 AND 18),"
                           " digest TEXT NOT NULL CHECK (length(digest) = 64),"
                           " user_name TEXT NOT NULL,"
                           " location TEXT NOT NULL,"
                           " preserved_at TEXT NOT NULL)";
const char SelectColumns[] = "SELECT order_no, type, digest, user_name, location, preserved_at FROM evidence";

bool fileExists(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

std::string lastError(sqlite3 *db, const std::string &path)
{
    if (!db)
        return path + ": out of memory";
    std::string message = path + ": " + sqlite3_errmsg(db);
    // "unable to open database file" alone does not say whether the folder is missing, the
    // path is a directory or writing is not allowed.
    const int code = sqlite3_errcode(db);
    const int systemError = sqlite3_system_errno(db);
    if ((code == SQLITE_CANTOPEN || code == SQLITE_IOERR) && systemError != 0)
        message += std::string(" (") + std::strerror(systemError) + ")";
    return message;
}

std::string text(sqlite3_stmt *stmt, int column)
{
    const unsigned char *value = sqlite3_column_text(stmt, column);
    return value ? std::string(reinterpret_cast<const char *>(value)) : std::string();
}

EvidenceRecord readRow(sqlite3_stmt *stmt)
{
    EvidenceRecord record;
    record.order = text(stmt, 0);
    record.type = sqlite3_column_int(stmt, 1);
    record.digest = text(stmt, 2);
    record.user = text(stmt, 3);
    record.location = text(stmt, 4);
    record.time = text(stmt, 5);
    return record;
}

// The folder a path names a file in.
std::string folderOf(const std::string &path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// SQLite's own message for all of these is "unable to open database file".
std::string cannotCreate(const std::string &path, bool existed)
{
    struct stat st;
    if (existed)
        return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? "is a directory" : std::string();
    const std::string folder = folderOf(path);
    if (::stat(folder.c_str(), &st) != 0)
        return "the folder " + folder + " does not exist";
    if (!S_ISDIR(st.st_mode))
        return folder + " is not a folder";
    if (::access(folder.c_str(), W_OK) != 0)
        return "cannot create a file in " + folder + ": " + std::strerror(errno);
    return {};
}

// The single integer a query yields, -1 on error.
int queryInt(sqlite3 *db, const char *sql)
{
    sqlite3_stmt *stmt = nullptr;
    int value = -1;
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW)
        value = sqlite3_column_int(stmt, 0);
    sqlite3_finalize(stmt);
    return value;
}

void closeLookup(sqlite3_stmt *lookup)
{
    sqlite3 *db = sqlite3_db_handle(lookup);
    sqlite3_finalize(lookup);
    sqlite3_close(db);
}

// Removes a database file this process has just made, so that a failed command leaves nothing.
void removeNewDatabase(const std::string &path)
{
    for (const char *suffix : {"", "-wal", "-shm", "-journal"})
        std::remove((path + suffix).c_str());
}

} // namespace

std::string orderNumber(int year, int month, int day, std::uint64_t random)
{
    static const char Alphabet[] = "0123456789ABCDEFGHJKMNPQRSTVWXYZ";
    char buffer[40];
    int n = std::snprintf(buffer, sizeof buffer, "QV%04d%02d%02d", year, month, day);
    // 13 characters of 5 bits: the 64 bits, most significant first, with one leading zero bit.
    for (int shift = 60; shift >= 0; shift -= 5)
        buffer[n++] = Alphabet[(random >> shift) & 0x1F];
    return std::string(buffer, static_cast<std::size_t>(n));
}

std::string newOrderNumber()
{
    std::uint64_t random = 0;
    if (::getrandom(&random, sizeof random, 0) != static_cast<ssize_t>(sizeof random))
        return {};
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return orderNumber(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, random);
}

EvidenceStore::EvidenceStore(std::string path, sqlite3 *db)
    : m_path(std::move(path)), m_db(db), m_watchFd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
{
    // The folder's entries for a file moved over the path, created or removed; the file's own
    // writes are watched from the file on (see follow()).
    if (m_watchFd >= 0 && ::inotify_add_watch(m_watchFd, folderOf(m_path).c_str(),
                                              IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                                  IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR) < 0) {
        ::close(m_watchFd);
        m_watchFd = -1;
    }
    follow();
}

EvidenceStore::~EvidenceStore()
{
    if (m_headerFd >= 0)
        ::close(m_headerFd);
    if (m_watchFd >= 0)
        ::close(m_watchFd);
    for (const Pooled &lookup : m_lookups)
        closeLookup(lookup.stmt);
    sqlite3_close(m_db);
}

std::unique_ptr<EvidenceStore> EvidenceStore::open(const std::string &path, Mode mode, std::string *error)
{
    const bool existed = fileExists(path);
    if (mode == Mode::ReadOnly && !existed) {
        *error = path + ": no such database";
        return nullptr;
    }
    if (mode != Mode::ReadOnly) {
        const std::string problem = cannotCreate(path, existed);
        if (!problem.empty()) {
            *error = path + ": " + problem;
            return nullptr;
        }
    }
    // It holds names and places: made 0600 whatever the umask, and SQLite gives its journal the
    // same mode. An empty file is an empty database.
    if (mode != Mode::ReadOnly && !existed) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::fchmod(fd, 0600);
            ::close(fd);
        }
    }
    // Read-write even to read (see the class); SQLite falls back to read-only where it may not write.
    const int flags =
        SQLITE_OPEN_READWRITE | (mode == Mode::ReadOnly ? 0 : SQLITE_OPEN_CREATE) | SQLITE_OPEN_NOMUTEX;
    sqlite3 *db = nullptr;
    const auto fail = [&](const std::string &message) {
        *error = message;
        sqlite3_close(db);
        if (!existed && mode == Mode::Create)
            removeNewDatabase(path);
        return nullptr;
    };
    if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK)
        return fail(lastError(db, path));
    sqlite3_busy_timeout(db, BusyTimeoutMs);
    const bool readOnly = sqlite3_db_readonly(db, "main") == 1;
    if (mode == Mode::Create && readOnly)
        return fail(path + ": the database is read-only");
    if (mode == Mode::ReadOnly &&
        sqlite3_exec(db, "PRAGMA query_only = 1", nullptr, nullptr, nullptr) != SQLITE_OK)
        return fail(lastError(db, path));

    const int ours =
        queryInt(db, "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'evidence'");
    if (ours < 0)
        return fail(lastError(db, path));
    if (ours == 0) {
        const int others = queryInt(db, "SELECT count(*) FROM sqlite_master");
        if (others != 0 || mode == Mode::ReadOnly || readOnly)
            return fail(path + ": not an evidence database of filehash-service");
    }
    if (mode != Mode::ReadOnly && !readOnly) {
        // A rollback journal exists only while a write is under way, so `list` and the server's
        // readers leave no -wal or -shm files; writes are short enough for readers to wait.
        if (sqlite3_exec(db, "PRAGMA journal_mode = DELETE", nullptr, nullptr, nullptr) != SQLITE_OK ||
            sqlite3_exec(db, CreateTable, nullptr, nullptr, nullptr) != SQLITE_OK)
            return fail(lastError(db, path));
    }
    return std::unique_ptr<EvidenceStore>(new EvidenceStore(path, db));
}

bool EvidenceStore::insert(EvidenceRecord *record, std::string *error)
{
    sqlite3_stmt *stmt = nullptr;
    const char sql[] = "INSERT INTO evidence (order_no, type, digest, user_name, location, preserved_at)"
                       " VALUES (?, ?, ?, ?, ?, ?)";
    if (sqlite3_prepare_v2(m_db, sql, -1, &stmt, nullptr) != SQLITE_OK) {
        *error = lastError(m_db, m_path);
        return false;
    }
    int rc = SQLITE_ERROR;
    // Order numbers are random, so a collision is possible but rare: draw another.
    for (int attempt = 0; attempt < OrderAttempts; ++attempt) {
        record->order = newOrderNumber();
        if (record->order.empty()) {
            sqlite3_finalize(stmt);
            *error = "cannot draw an order number: the system's random source failed";
            return false;
        }
        sqlite3_bind_text(stmt, 1, record->order.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(stmt, 2, record->type);
        sqlite3_bind_text(stmt, 3, record->digest.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(stmt, 4, record->user.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(stmt, 5, record->location.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(stmt, 6, record->time.c_str(), -1, SQLITE_TRANSIENT);
        rc = sqlite3_step(stmt);
        sqlite3_reset(stmt);
        if (rc != SQLITE_CONSTRAINT || sqlite3_extended_errcode(m_db) != SQLITE_CONSTRAINT_PRIMARYKEY)
            break;
    }
    if (rc == SQLITE_CONSTRAINT && sqlite3_extended_errcode(m_db) == SQLITE_CONSTRAINT_PRIMARYKEY) {
        *error = "no free order number found in " + std::to_string(OrderAttempts) + " draws";
        record->order.clear();
    } else if (rc != SQLITE_DONE) {
        *error = lastError(m_db, m_path);
        record->order.clear();
    }
    sqlite3_finalize(stmt);
    return rc == SQLITE_DONE;
}

bool EvidenceStore::list(std::vector<EvidenceRecord> *records, std::string *error)
{
    sqlite3_stmt *stmt = nullptr;
    const std::string sql = std::string(SelectColumns) + " ORDER BY preserved_at, order_no";
    if (sqlite3_prepare_v2(m_db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
        *error = lastError(m_db, m_path);
        return false;
    }
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW)
        records->push_back(readRow(stmt));
    if (rc != SQLITE_DONE)
        *error = lastError(m_db, m_path);
    sqlite3_finalize(stmt);
    return rc == SQLITE_DONE;
}

sqlite3_stmt *EvidenceStore::borrowLookup(unsigned file, std::string *error)
{
    {
        std::lock_guard<std::mutex> lock(m_poolMutex);
        while (!m_lookups.empty()) {
            const Pooled lookup = m_lookups.back();
            m_lookups.pop_back();
            if (lookup.file == file)
                return lookup.stmt;
            closeLookup(lookup.stmt); // on a file the path no longer names
        }
    }
    sqlite3 *db = nullptr;
    sqlite3_stmt *lookup = nullptr;
    const std::string sql = std::string(SelectColumns) + " WHERE order_no = ?";
    const bool opened = sqlite3_open_v2(m_path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                                        nullptr) == SQLITE_OK;
    // Before preparing: reading the schema may meet a writer too.
    if (opened)
        sqlite3_busy_timeout(db, ReaderBusyTimeoutMs);
    // Prepared once per connection: a lookup then only binds, steps and resets.
    if (!opened || sqlite3_prepare_v2(db, sql.c_str(), -1, &lookup, nullptr) != SQLITE_OK) {
        *error = lastError(db, m_path);
        sqlite3_close(db);
        return nullptr;
    }
    return lookup;
}

void EvidenceStore::giveBack(sqlite3_stmt *lookup, unsigned file)
{
    sqlite3_reset(lookup);
    sqlite3_clear_bindings(lookup);
    std::lock_guard<std::mutex> lock(m_poolMutex);
    m_lookups.push_back({lookup, file});
}

// Under the unique lock: the file the path names now, and whether its records may be kept. An
// operator may move a new database over the path (mv new.db db): the header and the lookups move to
// the new file. While the path names no file, the last one is read.
void EvidenceStore::follow()
{
    struct stat st;
    if (::stat(m_path.c_str(), &st) == 0 &&
        (st.st_dev != m_device || st.st_ino != m_inode || m_headerFd < 0)) {
        const int fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0 && ::fstat(fd, &st) == 0) {
            if (m_headerFd >= 0)
                ::close(m_headerFd);
            m_headerFd = fd;
            m_device = st.st_dev;
            m_inode = st.st_ino;
            ++m_file;
            // The old file's watch ends by itself once it is gone; while it stays, its writes only
            // cost a look more.
            if (m_watchFd >= 0 && ::inotify_add_watch(m_watchFd, m_path.c_str(), IN_MODIFY) < 0) {
                ::close(m_watchFd);
                m_watchFd = -1;
            }
        } else if (fd >= 0) {
            ::close(fd);
        }
    }
    // In WAL mode (bytes 18 and 19 of the header are 2) commits go to the -wal file, which is not
    // watched: records are then read from the database every time.
    unsigned char header[20];
    m_keepable = m_watchFd >= 0 && m_headerFd >= 0 &&
                 ::pread(m_headerFd, header, sizeof header, 0) == static_cast<ssize_t>(sizeof header) &&
                 header[18] == 1 && header[19] == 1;
}

// A commit writes the database file, and a file moved over the path changes the folder: either shows
// as an event on the watch, queued before the writer's call returns. While no event waits, nothing
// has changed since the state was last taken, and a record read since is still the record: one
// ioctl per lookup instead of a stat and a read. Events are only taken off the queue under the
// unique lock, together with the move to a new state, so that no lookup sees the queue empty
// while the state is still the old one.
EvidenceStore::State EvidenceStore::state()
{
    {
        std::shared_lock<std::shared_mutex> lock(m_fileMutex);
        int waiting = 0;
        if (m_watchFd >= 0 && ::ioctl(m_watchFd, FIONREAD, &waiting) == 0 && waiting == 0)
            return {m_generation, m_file, m_keepable};
    }
    std::unique_lock<std::shared_mutex> lock(m_fileMutex);
    if (m_watchFd >= 0) {
        alignas(inotify_event) char events[4096];
        while (::read(m_watchFd, events, sizeof events) > 0) {
        }
    }
    ++m_generation;
    follow();
    return {m_generation, m_file, m_keepable};
}

EvidenceStore::Lookup EvidenceStore::find(const std::string &order, EvidenceRecord *record,
                                          std::string *error)
{
    // Taken before the lookup, so that a record kept under a state was read in that state or later;
    // it is used only while the state lasts.
    const State now = state();
    if (now.keepable) {
        std::shared_lock<std::shared_mutex> lock(m_foundMutex);
        const auto it = m_found.find(order);
        if (m_foundGeneration == now.generation && it != m_found.end()) {
            *record = it->second;
            return Lookup::Found;
        }
    }
    sqlite3_stmt *stmt = borrowLookup(now.file, error);
    if (!stmt)
        return Lookup::Failed;
    Lookup result = Lookup::Failed;
    if (sqlite3_bind_text(stmt, 1, order.data(), static_cast<int>(order.size()), SQLITE_TRANSIENT) ==
        SQLITE_OK) {
        const int rc = sqlite3_step(stmt);
        if (rc == SQLITE_ROW) {
            *record = readRow(stmt);
            result = Lookup::Found;
        } else if (rc == SQLITE_DONE) {
            result = Lookup::NotFound;
        }
    }
    if (result == Lookup::Failed)
        *error = lastError(sqlite3_db_handle(stmt), m_path);
    giveBack(stmt, now.file);
    // Only records found are kept: an unknown order is asked of the database each time, so that a
    // record preserved a moment ago is found whenever the state was taken.
    if (result == Lookup::Found && now.keepable) {
        std::unique_lock<std::shared_mutex> lock(m_foundMutex);
        if (m_foundGeneration != now.generation || m_found.size() >= FoundLimit) {
            m_found.clear();
            m_foundGeneration = now.generation;
        }
        m_found.emplace(order, *record);
    }
    return result;
}

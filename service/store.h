#ifndef FILEHASH_SERVICE_STORE_H
#define FILEHASH_SERVICE_STORE_H

#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <sys/types.h>
#include <unordered_map>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

// One preserved file: what `preserve` stored and what the service answers from.
struct EvidenceRecord {
    std::string order;    // e.g. "QV20261206K3F9ZQ2M7TB0X"
    int type = 0;         // evidence type code, 1..18
    std::string digest;   // SHA-256, 64 lower-case hexadecimal characters
    std::string user;     // the applicant
    std::string location; // where the file was preserved
    std::string time;     // "yyyy-MM-dd HH:mm:ss", local time
};

// The evidence database (SQLite, rollback journal, so that a reader leaves no files behind).
// find() may be called from many threads at once: each call borrows a connection of its own, with
// its lookup prepared, from a small pool, so readers never wait for each other; the other calls are
// for a single thread. Records found are kept in memory for as long as an inotify watch shows the
// database and its folder unchanged (without a watch, as when the user has used up inotify
// instances, each lookup reads the database). find() follows the path: a database moved over it
// is read from the next lookup on.
// Connections are opened read-write wherever the file allows, even only to read: a reader can then
// roll back the journal a crashed writer left, and remove the WAL files it opened.
class EvidenceStore
{
public:
    enum class Mode {
        ReadOnly, // the database must exist already; nothing is written to it
        Create,   // made with its table (mode 0600) when missing; must be writable
        Serve,    // as Create, but a database that may not be written is opened read-only
    };
    enum class Lookup { Found, NotFound, Failed };

    // nullptr with *error set when the database cannot be opened as asked.
    static std::unique_ptr<EvidenceStore> open(const std::string &path, Mode mode, std::string *error);
    ~EvidenceStore();
    EvidenceStore(const EvidenceStore &) = delete;
    EvidenceStore &operator=(const EvidenceStore &) = delete;

    // Stores the record under a new, unused order number, which it writes into record->order.
    bool insert(EvidenceRecord *record, std::string *error);
    bool list(std::vector<EvidenceRecord> *records, std::string *error);
    Lookup find(const std::string &order, EvidenceRecord *record, std::string *error);

private:
    struct Pooled {
        sqlite3_stmt *stmt;
        unsigned file; // the m_file it was opened on
    };
    EvidenceStore(std::string path, sqlite3 *db);
    sqlite3_stmt *borrowLookup(unsigned file, std::string *error);
    void giveBack(sqlite3_stmt *lookup, unsigned file);
    struct State {
        unsigned generation; // changes whenever the file or the path may have changed
        unsigned file;       // the m_file lookups are to be made on
        bool keepable;       // whether records found may be kept for the generation
    };
    State state();
    void follow();

    std::string m_path;
    sqlite3 *m_db = nullptr; // the connection for insert() and list(), on the file first opened
    std::mutex m_poolMutex;
    std::vector<Pooled> m_lookups; // each on a connection of its own
    std::shared_mutex m_fileMutex; // guards the members down to m_keepable, and reading m_watchFd
    int m_watchFd = -1;            // inotify on the file and its folder; -1: no watch, nothing kept
    int m_headerFd = -1;           // the database file, for its journal mode
    dev_t m_device = 0;            // and its identity, to see it replaced
    ino_t m_inode = 0;
    unsigned m_file = 0; // counts the files the path has named
    unsigned m_generation = 0;
    bool m_keepable = false;
    std::shared_mutex m_foundMutex;
    unsigned m_foundGeneration = 0; // the state the records below were read in or after
    std::unordered_map<std::string, EvidenceRecord> m_found;
};

// A new order number: "QV", today's date (yyyyMMdd) and 13 characters of Crockford's base 32
// (digits and capitals without I, L, O, U) carrying 64 bits from the system's random source, so
// that order numbers cannot be enumerated. Empty if the random source failed.
std::string newOrderNumber();
// The same from given date and random bits.
std::string orderNumber(int year, int month, int day, std::uint64_t random);

#endif

// The client table against SQLite on a configuration table of 100,000 rows
// (Section, Key, Value): loading the file, 100,000 key lookups, saving the
// file. Each side runs in a forked child of its own so that its peak memory
// (ru_maxrss) is its own; a child that does nothing gives the baseline.
//
// SQLite's open reads only the file header and fetches pages during the
// lookups, while the table reads and checks the whole file when it loads; the
// line "load + lookups" compares the two roads whole.
//
// Usage: table_bench [rows]

#include "data/ClientDataSet.h"

#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace velkaro;
using Clock = std::chrono::steady_clock;

namespace {

struct Result {
    double loadMs = 0;
    double lookupMs = 0;
    double saveMs = 0;
    long peakKiB = 0;
    long found = 0;
    long long checksum = 0;
    int ok = 0;
};

double Ms(Clock::time_point from)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - from).count();
}

long PeakKiB()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

QString SectionOf(int i)
{
    return QStringLiteral("Section%1").arg(i / 100, 4, 10, QLatin1Char('0'));
}
QString KeyOf(int i)
{
    return QStringLiteral("Key%1").arg(i, 6, 10, QLatin1Char('0'));
}
QString ValueOf(int i)
{
    return QStringLiteral("value %1 of the settings").arg(i * 7919 % 100003);
}

// Runs Work in a child process and returns what it reports.
Result InChild(const std::function<Result()>& work)
{
    int fds[2];
    if (pipe(fds) != 0)
        std::exit(2);
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        Result r = work();
        r.peakKiB = PeakKiB();
        if (write(fds[1], &r, sizeof r) != sizeof r)
            _exit(3);
        _exit(0);
    }
    close(fds[1]);
    Result r {};
    if (read(fds[0], &r, sizeof r) != sizeof r)
        r.ok = 0;
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return r;
}

std::vector<int> LookupOrder(int rows)
{
    std::vector<int> order(static_cast<size_t>(rows));
    for (int i = 0; i < rows; ++i)
        order[size_t(i)] = i;
    std::shuffle(order.begin(), order.end(), std::mt19937(42));
    return order;
}

void Check(int rc, sqlite3* db, const char* what)
{
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
        std::fprintf(stderr, "%s: %s\n", what, sqlite3_errmsg(db));
        std::exit(4);
    }
}

void Exec(sqlite3* db, const char* sql)
{
    Check(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), db, sql);
}

const char* CreateSql = "CREATE TABLE config (Section TEXT NOT NULL, Key TEXT NOT NULL, Value TEXT,"
                        " PRIMARY KEY (Section, Key)) WITHOUT ROWID";

// Both files, written by a child so the parent stays small.
Result Prepare(int rows, const QString& dir)
{
    TClientDataSet t;
    t.FieldDefs() = {{QStringLiteral("Section"), TFieldType::ftString, 20},
        {QStringLiteral("Key"), TFieldType::ftString, 20}, {QStringLiteral("Value"), TFieldType::ftString, 255}};
    t.CreateDataSet();
    for (int i : LookupOrder(rows)) {
        t.Append();
        t.Fields(0)->SetAsString(SectionOf(i));
        t.Fields(1)->SetAsString(KeyOf(i));
        t.Fields(2)->SetAsString(ValueOf(i));
        t.Post();
    }
    t.SaveToFile(dir + QStringLiteral("/unsorted.cds"));
    t.SetIndexFieldNames(QStringLiteral("Section;Key"));
    t.SaveToFile(dir + QStringLiteral("/Config.cds"));

    sqlite3* db = nullptr;
    Check(sqlite3_open((dir + QStringLiteral("/config.db")).toUtf8().constData(), &db), db, "open");
    Exec(db, CreateSql);
    Exec(db, "BEGIN");
    sqlite3_stmt* insert = nullptr;
    Check(sqlite3_prepare_v2(db, "INSERT INTO config VALUES (?, ?, ?)", -1, &insert, nullptr), db, "prepare");
    for (int i = 0; i < rows; ++i) {
        const QByteArray s = SectionOf(i).toUtf8(), k = KeyOf(i).toUtf8(), v = ValueOf(i).toUtf8();
        sqlite3_bind_text(insert, 1, s.constData(), int(s.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 2, k.constData(), int(k.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 3, v.constData(), int(v.size()), SQLITE_TRANSIENT);
        Check(sqlite3_step(insert), db, "insert");
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    Exec(db, "COMMIT");
    sqlite3_close(db);
    Result r;
    r.ok = 1;
    return r;
}

Result Ours(int rows, const QString& dir, const QString& file)
{
    Result r;
    // Key texts are made before the clock starts, as SQLite's are.
    std::vector<std::pair<QString, QString>> keys;
    keys.reserve(size_t(rows));
    for (int i : LookupOrder(rows))
        keys.emplace_back(SectionOf(i), KeyOf(i));

    TClientDataSet t;
    t.SetIndexFieldNames(QStringLiteral("Section;Key"));
    auto start = Clock::now();
    t.LoadFromFile(dir + u'/' + file);
    r.loadMs = Ms(start);

    const TField* value = t.FieldByName(QStringLiteral("Value"));
    start = Clock::now();
    for (const auto& [section, key] : keys) {
        if (t.FindKey({Variant(section), Variant(key)})) {
            ++r.found;
            r.checksum += value->AsString().size();
        }
    }
    r.lookupMs = Ms(start);

    start = Clock::now();
    t.SaveToFile(dir + QStringLiteral("/saved.cds"));
    r.saveMs = Ms(start);
    r.ok = t.RecordCount() == rows;
    return r;
}

Result Sqlite(int rows, const QString& dir)
{
    Result r;
    std::vector<std::pair<QByteArray, QByteArray>> keys;
    keys.reserve(size_t(rows));
    for (int i : LookupOrder(rows))
        keys.emplace_back(SectionOf(i).toUtf8(), KeyOf(i).toUtf8());

    sqlite3* db = nullptr;
    auto start = Clock::now();
    Check(
        sqlite3_open_v2((dir + QStringLiteral("/config.db")).toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr),
        db, "open");
    sqlite3_stmt* find = nullptr;
    Check(sqlite3_prepare_v2(db, "SELECT Value FROM config WHERE Section = ? AND Key = ?", -1, &find, nullptr), db,
        "prepare");
    r.loadMs = Ms(start);

    start = Clock::now();
    for (const auto& [section, key] : keys) {
        sqlite3_bind_text(find, 1, section.constData(), int(section.size()), SQLITE_STATIC);
        sqlite3_bind_text(find, 2, key.constData(), int(key.size()), SQLITE_STATIC);
        if (sqlite3_step(find) == SQLITE_ROW) {
            ++r.found;
            // The text as the caller gets it, as the table's AsString gives it.
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(find, 0));
            r.checksum += QString::fromUtf8(text, sqlite3_column_bytes(find, 0)).size();
        }
        sqlite3_reset(find);
    }
    r.lookupMs = Ms(start);
    sqlite3_finalize(find);

    start = Clock::now();
    sqlite3* out = nullptr;
    const QString savedPath = dir + QStringLiteral("/saved.db");
    QFile::remove(savedPath);
    Check(sqlite3_open(savedPath.toUtf8().constData(), &out), out, "open saved");
    Exec(out, CreateSql);
    Exec(out, "BEGIN");
    sqlite3_stmt* all = nullptr;
    sqlite3_stmt* insert = nullptr;
    Check(sqlite3_prepare_v2(db, "SELECT Section, Key, Value FROM config", -1, &all, nullptr), db, "prepare all");
    Check(sqlite3_prepare_v2(out, "INSERT INTO config VALUES (?, ?, ?)", -1, &insert, nullptr), out, "prepare insert");
    long written = 0;
    while (sqlite3_step(all) == SQLITE_ROW) {
        for (int c = 0; c < 3; ++c)
            sqlite3_bind_value(insert, c + 1, sqlite3_column_value(all, c));
        Check(sqlite3_step(insert), out, "insert");
        sqlite3_reset(insert);
        ++written;
    }
    sqlite3_finalize(all);
    sqlite3_finalize(insert);
    Exec(out, "COMMIT");
    sqlite3_close(out);
    r.saveMs = Ms(start);
    sqlite3_close(db);
    r.ok = written == rows;
    return r;
}

void Line(const char* name, double ours, double theirs, const char* unit)
{
    std::printf("%-28s %12.1f %12.1f %10.2f   %s\n", name, ours, theirs, theirs > 0 ? ours / theirs : 0.0, unit);
}

} // namespace

int main(int argc, char** argv)
{
    const int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
    QTemporaryDir temp;
    const QString dir = temp.path();

    if (!InChild([&] { return Prepare(rows, dir); }).ok) {
        std::fprintf(stderr, "preparing the files failed\n");
        return 1;
    }
    const Result base = InChild([] { return Result {0, 0, 0, 0, 0, 0, 1}; });
    const Result ours = InChild([&] { return Ours(rows, dir, QStringLiteral("Config.cds")); });
    const Result theirs = InChild([&] { return Sqlite(rows, dir); });
    const Result unsorted = InChild([&] { return Ours(rows, dir, QStringLiteral("unsorted.cds")); });
    if (!ours.ok || !theirs.ok || !unsorted.ok || ours.found != rows || theirs.found != rows
        || ours.checksum != theirs.checksum) {
        std::fprintf(stderr, "a side failed or the sides disagree (found %ld / %ld)\n", ours.found, theirs.found);
        return 1;
    }

    std::printf("configuration table, %d rows (Section, Key, Value); %d lookups in random order\n", rows, rows);
    std::printf("file sizes: table %lld bytes, SQLite %lld bytes\n",
        (long long)QFile(dir + QStringLiteral("/Config.cds")).size(),
        (long long)QFile(dir + QStringLiteral("/config.db")).size());
    std::printf("%-28s %12s %12s %10s\n", "", "table", "SQLite", "ratio");
    Line("load / open (ms)", ours.loadMs, theirs.loadMs, "ms");
    Line("lookups (ms)", ours.lookupMs, theirs.lookupMs, "ms");
    Line("load + lookups (ms)", ours.loadMs + ours.lookupMs, theirs.loadMs + theirs.lookupMs, "ms");
    Line("save to a new file (ms)", ours.saveMs, theirs.saveMs, "ms");
    Line("peak RSS (MiB)", ours.peakKiB / 1024.0, theirs.peakKiB / 1024.0, "MiB");
    Line("peak RSS above baseline", (ours.peakKiB - base.peakKiB) / 1024.0, (theirs.peakKiB - base.peakKiB) / 1024.0,
        "MiB");
    std::printf("baseline process: %.1f MiB\n", base.peakKiB / 1024.0);
    std::printf("table from a file in random order: load %.1f ms (sorted on load), lookups %.1f ms\n", unsorted.loadMs,
        unsorted.lookupMs);
    return 0;
}

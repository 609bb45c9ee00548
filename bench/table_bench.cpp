// The client table against SQLite on a configuration table of 100,000 rows
// (Section, Key, Value): loading the file, 100,000 key lookups, saving the
// file. Each side runs in a forked child of its own so that its peak memory
// (ru_maxrss) is its own; a child that does nothing gives the baseline.
//
// SQLite's open reads only the file header and fetches pages during the
// lookups, while the table reads and checks the whole file when it loads; the
// line "load + lookups" compares the two roads whole.
//
// Then a fetched query result of 1,000,000 rows (an INT, a VARCHAR(20) in
// UTF-8 and a DATETIME), as a record set receives it: each row's packet of
// the text protocol is made, read and decoded, and its values appended to a
// dataset in their stored form (RowAppender); against the same rows through
// AddRow (values as Variants), into an in-memory SQLite table, and against
// reading the packets alone. Peak memory per row is set against the bytes of
// the rows on the wire.
//
// Usage: table_bench [rows] [fetched rows]

#include "data/ClientDataSet.h"

#include <QDate>
#include <QFile>
#include <QString>
#include <QStringDecoder>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
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
    double lookupCpuMs = 0;
};

double Ms(Clock::time_point from)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - from).count();
}

// The processor time this process has used, in milliseconds: steadier than
// the clock on a shared machine, and it counts the page faults of growing.
double CpuMs()
{
    timespec t {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
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

// The lookups as the configuration store makes them: two texts handed to
// FindKey, the Value read as text (building the lookup table, which the first
// of them do, included). Kept out of line so that a profiler can count them
// alone: valgrind --tool=callgrind --toggle-collect='*LookUpAll*'.
[[gnu::noinline]] void LookUpAll(TClientDataSet& t, const std::vector<std::pair<QString, QString>>& keys, Result& r)
{
    const TField* value = t.FieldByName(QStringLiteral("Value"));
    for (const auto& [section, key] : keys) {
        if (t.FindKey({Variant(section), Variant(key)})) {
            ++r.found;
            r.checksum += value->AsString().size();
        }
    }
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

    start = Clock::now();
    const double cpu = CpuMs();
    LookUpAll(t, keys, r);
    r.lookupMs = Ms(start);
    r.lookupCpuMs = CpuMs() - cpu;

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
    const double cpu = CpuMs();
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
    r.lookupCpuMs = CpuMs() - cpu;
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

// Rows of a query result as the server sends them in the text protocol:
// packet header, then each value as a one-byte length and its text. Made
// cheaply, so that reading them weighs little beside storing them.
class WireRows {
public:
    // The packet of row I (valid until the next call).
    QByteArrayView Row(int i)
    {
        size_ = 4;
        Number(i + 1, 0);
        // Names of 4 to 20 characters; every eighth one in Thai (3 bytes a
        // character in UTF-8).
        static const QByteArray thai = QByteArray("ลูกค้า ");
        static const QByteArray latin = QByteArray("Customer ");
        const QByteArray& prefix = i % 8 == 0 ? thai : latin;
        const qsizetype lengthAt = size_++;
        Put(prefix);
        Digits(i * 7919 % (1 + i % 100000), 0);
        if (i % 8 != 0)
            size_ = std::min(size_, lengthAt + 1 + 4 + i % 17);
        packet_[lengthAt] = char(size_ - lengthAt - 1);
        // yyyy-mm-dd hh:mm:ss
        packet_[size_++] = 19;
        Digits(2000 + i % 25, 4);
        packet_[size_++] = '-';
        Digits(1 + i / 28 % 12, 2);
        packet_[size_++] = '-';
        Digits(1 + i % 28, 2);
        packet_[size_++] = ' ';
        Digits(i % 24, 2);
        packet_[size_++] = ':';
        Digits(i / 24 % 60, 2);
        packet_[size_++] = ':';
        Digits(i * 7 % 60, 2);
        const int payload = int(size_ - 4);
        packet_[0] = char(payload & 0xFF);
        packet_[1] = char(payload >> 8);
        packet_[2] = 0;
        packet_[3] = char(i & 0xFF);
        return QByteArrayView(packet_, size_);
    }

private:
    void Put(const QByteArray& bytes)
    {
        std::memcpy(packet_ + size_, bytes.constData(), size_t(bytes.size()));
        size_ += bytes.size();
    }
    // V in decimal, at least Width digits.
    void Digits(int v, int width)
    {
        char digits[12];
        int n = 0;
        do {
            digits[n++] = char('0' + v % 10);
            v /= 10;
        } while (v > 0 || n < width);
        while (n > 0)
            packet_[size_++] = digits[--n];
    }
    // A value holding V in decimal.
    void Number(int v, int width)
    {
        const qsizetype lengthAt = size_++;
        Digits(v, width);
        packet_[lengthAt] = char(size_ - lengthAt - 1);
    }

    char packet_[128];
    qsizetype size_ = 0;
};

// One row read from its packet and decoded as the record set decodes it.
struct FetchedRow {
    qint32 id = 0;
    QStringView name;
    double stamp = 0; // days since 30 December 1899

    // Reads Packet; the name's characters go to Buffer (reused from row to row).
    void Read(QByteArrayView packet, QChar* buffer)
    {
        qsizetype at = 4;
        const auto next = [&] {
            const qsizetype n = quint8(packet[at]);
            const QByteArrayView value = packet.sliced(at + 1, n);
            at += 1 + n;
            return value;
        };
        id = 0;
        for (const char c : next())
            id = id * 10 + (c - '0');
        QStringDecoder utf8(QStringDecoder::Utf8);
        name = QStringView(buffer, utf8.appendToBuffer(buffer, next()) - buffer);
        const QByteArrayView t = next();
        const auto number = [&t](int from, int digits) {
            int v = 0;
            for (int k = from; k < from + digits; ++k)
                v = v * 10 + (t[k] - '0');
            return v;
        };
        static const QDate epoch(1899, 12, 30);
        stamp = double(epoch.daysTo(QDate(number(0, 4), number(5, 2), number(8, 2))))
            + (number(11, 2) * 3600 + number(14, 2) * 60 + number(17, 2)) / 86400.0;
    }
};

enum class Road { PacketsOnly, Stored, Variants };

// A query dataset that fetches its rows from the packets.
class FetchedResult : public TDataSet {
public:
    FetchedResult(int rows, Road road)
        : rows_(rows)
        , road_(road)
    {
    }
    long long checksum = 0;

protected:
    void InternalOpen() override
    {
        FieldDefs() = {{QStringLiteral("ID"), TFieldType::ftInteger},
            {QStringLiteral("Name"), TFieldType::ftWideString, 20}, {QStringLiteral("Stamp"), TFieldType::ftDateTime}};
        WireRows wire;
        QChar buffer[64];
        FetchedRow row;
        for (int i = 0; i < rows_; ++i) {
            row.Read(wire.Row(i), buffer);
            switch (road_) {
            case Road::PacketsOnly:
                checksum += row.id + row.name.size() + qint64(row.stamp);
                break;
            case Road::Stored: {
                RowAppender& out = AppendRows();
                out.AddInteger(row.id);
                out.AddText(row.name);
                out.AddFloat(row.stamp);
                out.EndRow();
                break;
            }
            case Road::Variants:
                AddRow({Variant(row.id), Variant(row.name.toString()), Variant::FromDate(row.stamp)});
                break;
            }
        }
    }

private:
    int rows_;
    Road road_;
};

Result Fetch(int rows, Road road)
{
    Result r;
    FetchedResult result(rows, road);
    const double start = CpuMs();
    result.Open();
    r.loadMs = CpuMs() - start;
    if (road == Road::PacketsOnly) {
        r.checksum = result.checksum;
        r.ok = 1;
        return r;
    }
    // The same sum read back from the table.
    for (result.First(); !result.Eof(); result.Next()) {
        r.checksum += result.Fields(0)->AsInteger() + result.Fields(1)->AsString().size()
            + qint64(result.Fields(2)->AsFloat());
    }
    r.ok = result.RecordCount() == rows;
    return r;
}

Result FetchIntoSqlite(int rows)
{
    Result r;
    sqlite3* db = nullptr;
    Check(sqlite3_open(":memory:", &db), db, "open");
    const double start = CpuMs();
    Exec(db, "CREATE TABLE result (ID INTEGER, Name TEXT, Stamp REAL)");
    Exec(db, "BEGIN");
    sqlite3_stmt* insert = nullptr;
    Check(sqlite3_prepare_v2(db, "INSERT INTO result VALUES (?, ?, ?)", -1, &insert, nullptr), db, "prepare");
    WireRows wire;
    QChar buffer[64];
    FetchedRow row;
    for (int i = 0; i < rows; ++i) {
        row.Read(wire.Row(i), buffer);
        sqlite3_bind_int(insert, 1, row.id);
        sqlite3_bind_text16(insert, 2, row.name.utf16(), int(row.name.size() * 2), SQLITE_STATIC);
        sqlite3_bind_double(insert, 3, row.stamp);
        Check(sqlite3_step(insert), db, "insert");
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    Exec(db, "COMMIT");
    r.loadMs = CpuMs() - start;
    sqlite3_stmt* all = nullptr;
    Check(sqlite3_prepare_v2(db, "SELECT ID, length(Name), Stamp FROM result", -1, &all, nullptr), db, "select");
    long written = 0;
    while (sqlite3_step(all) == SQLITE_ROW) {
        r.checksum += sqlite3_column_int(all, 0) + sqlite3_column_int(all, 1) + qint64(sqlite3_column_double(all, 2));
        ++written;
    }
    sqlite3_finalize(all);
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
    const int fetched = argc > 2 ? std::atoi(argv[2]) : 1000000;
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
    Line("lookups, processor time (ms)", ours.lookupCpuMs, theirs.lookupCpuMs, "ms");
    Line("load + lookups (ms)", ours.loadMs + ours.lookupMs, theirs.loadMs + theirs.lookupMs, "ms");
    Line("save to a new file (ms)", ours.saveMs, theirs.saveMs, "ms");
    Line("peak RSS (MiB)", ours.peakKiB / 1024.0, theirs.peakKiB / 1024.0, "MiB");
    Line("peak RSS above baseline", (ours.peakKiB - base.peakKiB) / 1024.0, (theirs.peakKiB - base.peakKiB) / 1024.0,
        "MiB");
    std::printf("baseline process: %.1f MiB\n", base.peakKiB / 1024.0);
    std::printf("table from a file in random order: load %.1f ms (sorted on load), lookups %.1f ms\n", unsorted.loadMs,
        unsorted.lookupMs);

    // A baseline of its own: the process has grown since the first.
    const Result fetchBase = InChild([] { return Result {0, 0, 0, 0, 0, 0, 1}; });
    const Result packets = InChild([&] { return Fetch(fetched, Road::PacketsOnly); });
    const Result stored = InChild([&] { return Fetch(fetched, Road::Stored); });
    const Result variants = InChild([&] { return Fetch(fetched, Road::Variants); });
    const Result sqlite = InChild([&] { return FetchIntoSqlite(fetched); });
    if (!packets.ok || !stored.ok || !variants.ok || !sqlite.ok || stored.checksum != packets.checksum
        || variants.checksum != packets.checksum || sqlite.checksum != packets.checksum) {
        std::fprintf(stderr, "a fetch failed or the roads disagree\n");
        return 1;
    }
    WireRows wire;
    double wireBytes = 0;
    for (int i = 0; i < fetched; ++i)
        wireBytes += double(wire.Row(i).size());
    const auto perRow = [&](const Result& r) { return (r.peakKiB - fetchBase.peakKiB) * 1024.0 / fetched; };
    std::printf("\nfetched result, %d rows (INT, VARCHAR(20) UTF-8, DATETIME); %.1f bytes a row on the wire\n", fetched,
        wireBytes / fetched);
    std::printf("%-34s %12s %14s %12s\n", "", "CPU ns a row", "bytes a row", "x wire");
    const auto fetchLine = [&](const char* name, const Result& r) {
        std::printf("%-34s %12.0f %14.1f %12.2f\n", name, r.loadMs * 1e6 / fetched, perRow(r),
            perRow(r) / (wireBytes / fetched));
    };
    fetchLine("reading the packets alone", packets);
    fetchLine("table, stored values (RowAppender)", stored);
    fetchLine("table, Variants (AddRow)", variants);
    fetchLine("SQLite in memory", sqlite);
    std::printf("(bytes a row: peak RSS above the baseline process, divided by the rows)\n");
    return 0;
}

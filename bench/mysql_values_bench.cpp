// Decoding the cells of 1,000,000 text-protocol rows (an INT, a VARCHAR(20)
// UTF-8 with Thai text and a DATETIME) into stored field values, against
// the same conversions done with Qt's own text functions (QByteArray::toInt,
// QString::fromUtf8, QDate/QTime::fromString) in the same run. The cells are
// laid out one after another in one buffer, as they arrive in row packets.
//
// Usage: mysql_values_bench [rows]

#include "mysql/MySQLFieldValue.h"

#include <QDate>
#include <QTime>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace velkaro;
using Clock = std::chrono::steady_clock;

namespace {

struct Span {
    qsizetype offset;
    qsizetype length;
};

double Ms(Clock::time_point from)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - from).count();
}

TMySQLFieldDesc Column(const char* name, quint8 type, quint32 length)
{
    TMySqlFieldInfo info;
    info.Name = name;
    info.Table = info.OrgTable = "t";
    info.Type = type;
    info.Length = length;
    info.CharsetNr = 33;
    return MakeFieldDesc(info, 1, TMySQLFieldOptions());
}

} // namespace

int main(int argc, char** argv)
{
    const qsizetype rows = argc > 1 ? std::atoll(argv[1]) : 1000000;
    const TMySQLFieldDesc columns[3]
        = {Column("id", mtLong, 11), Column("name", mtVarString, 60), Column("at", mtDateTime, 19)};

    QByteArray wire;
    std::vector<Span> cells;
    cells.reserve(size_t(rows) * 3);
    const QByteArray names[] = {
        QString::fromUtf8("สมชาย ใจดี").toUtf8(), QByteArray("Version 1.2.3"), QString::fromUtf8("ทดสอบ test").toUtf8()};
    for (qsizetype r = 0; r < rows; ++r) {
        const QByteArray values[3] = {QByteArray::number(r * 7 - 3000000), names[r % 3],
            QStringLiteral("2024-%1-%2 %3:%4:%5")
                .arg(QString::number(r % 12 + 1).rightJustified(2, u'0'),
                    QString::number(r % 28 + 1).rightJustified(2, u'0'),
                    QString::number(r % 24).rightJustified(2, u'0'), QString::number(r % 60).rightJustified(2, u'0'),
                    QString::number(r % 59).rightJustified(2, u'0'))
                .toLatin1()};
        for (const QByteArray& v : values) {
            cells.push_back({wire.size(), v.size()});
            wire += v;
        }
    }
    std::printf("%lld rows, %lld cells, %.1f MiB of values\n", (long long)rows, (long long)cells.size(),
        wire.size() / 1048576.0);

    auto view = [&](size_t i) { return QByteArrayView(wire.constData() + cells[i].offset, cells[i].length); };

    // Each column on its own: ours, then Qt's text functions doing the same
    // work (the date-time read as a QDate and a QTime, no time zone).
    const char* titles[3] = {"INT", "VARCHAR(20) utf8", "DATETIME"};
    const QString dateFormat = QStringLiteral("yyyy-MM-dd");
    const QString timeFormat = QStringLiteral("HH:mm:ss");
    const QDate epoch(1899, 12, 30);
    double oursTotal = 0;
    double qtTotal = 0;
    for (int c = 0; c < 3; ++c) {
        double checksum = 0;
        Clock::time_point start = Clock::now();
        for (size_t i = size_t(c); i < cells.size(); i += 3) {
            const StoredValue v = DecodeValue(columns[c], view(i));
            checksum += double(v.integer) + v.real + double(v.text.size());
        }
        const double oursMs = Ms(start);

        double qtChecksum = 0;
        start = Clock::now();
        for (size_t i = size_t(c); i < cells.size(); i += 3) {
            StoredValue v;
            v.isNull = false;
            if (c == 0) {
                v.integer = view(i).toByteArray().toInt();
            } else if (c == 1) {
                v.text = QString::fromUtf8(view(i)).left(20);
            } else {
                const QString text = QString::fromLatin1(view(i));
                const QDate d = QDate::fromString(text.left(10), dateFormat);
                const QTime t = QTime::fromString(text.mid(11), timeFormat);
                v.real = double(epoch.daysTo(d)) + t.msecsSinceStartOfDay() / 86400000.0;
            }
            qtChecksum += double(v.integer) + v.real + double(v.text.size());
        }
        const double qtMs = Ms(start);
        oursTotal += oursMs;
        qtTotal += qtMs;
        const double n = double(rows);
        std::printf("%-17s DecodeValue %7.1f ms (%5.1f ns/cell)   Qt %7.1f ms (%6.1f ns/cell)   checksums %s\n",
            titles[c], oursMs, oursMs * 1e6 / n, qtMs, qtMs * 1e6 / n,
            std::abs(checksum - qtChecksum) <= 1e-6 * std::abs(checksum) ? "agree" : "DIFFER");
    }
    std::printf("all cells         DecodeValue %7.1f ms                  Qt %7.1f ms   ratio %.2f\n", oursTotal,
        qtTotal, oursTotal / qtTotal);
    return 0;
}

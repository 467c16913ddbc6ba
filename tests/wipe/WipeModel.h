#pragma once

// A byte-level model of the three methods, written the slow, literal way: one write per
// step, in the documented order. The real methods must leave exactly these bytes.

#include <QByteArray>

namespace ov::test {

class ModelFile
{
public:
    explicit ModelFile(QByteArray content) : bytes(std::move(content)) {}
    void writeAt(qsizetype offset, const QByteArray& data)
    {
        if (bytes.size() < offset + data.size())
            bytes.resize(offset + data.size(), '\0');
        bytes.replace(offset, data.size(), data);
        position = offset + data.size();
    }
    void write(const QByteArray& data) { writeAt(position, data); }
    QByteArray bytes;
    qsizetype position = 0;
};

inline qsizetype halfToEven(qsizetype length, qsizetype divisor)
{
    // Worked in floating point as the old platform's integer rounding did.
    double exact = double(length) / double(divisor);
    double floorPart = double(qsizetype(exact));
    double fraction = exact - floorPart;
    qsizetype result = qsizetype(floorPart);
    if (fraction > 0.5 || (fraction == 0.5 && (result % 2) == 1))
        ++result;
    return result;
}

inline QByteArray modelLeast(const QByteArray& original)
{
    ModelFile file(original);
    for (char byte : {'\x00', '\xff', '\x00'})
        file.writeAt(0, QByteArray(original.size(), byte));
    return file.bytes;
}

inline QByteArray modelMedium(const QByteArray& original)
{
    ModelFile file(original);
    qsizetype blocks = file.bytes.size() / 4096 + 1;
    for (qsizetype k = 0; k < blocks; ++k) {
        file.writeAt(4096 * k, QByteArray(4096, 'X'));
        file.writeAt(4096 * k, QByteArray(4096, '0'));
    }
    for (int pass = 0; pass < 4; ++pass) {
        file.position = 0;
        blocks = file.bytes.size() / 4096 + 1;
        qsizetype p = 0;
        for (qsizetype k = 0; k < blocks; ++k) {
            p = file.position;
            file.writeAt(p, "Ombrevault by Tallowbrookworks");
            file.writeAt(p, "x");
        }
        file.writeAt(p, QByteArray(10000, 'u'));
    }
    return file.bytes;
}

// With the tail of each phase written up to the length, so no original byte survives.
inline QByteArray modelHigh(const QByteArray& original, int passes)
{
    ModelFile file(original);
    const qsizetype length = original.size();
    auto phase = [&](char byte, qsizetype chunk, qsizetype count) {
        for (qsizetype k = 1; k <= count; ++k)
            file.writeAt(chunk * (k - 1), QByteArray(chunk, byte));
        if (chunk * count < length)
            file.writeAt(chunk * count, QByteArray(length - chunk * count, byte));
    };
    for (int pass = 0; pass < passes; ++pass) {
        phase('\x00', 14, halfToEven(length, 14));
        phase('\xff', 14, halfToEven(length, 14));
        phase('\x00', 10, halfToEven(length, 10));
    }
    return file.bytes;
}

} // namespace ov::test

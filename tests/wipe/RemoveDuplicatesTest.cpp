#include "wipe/RemoveDuplicates.h"
#include "support/RecordingLoop.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

namespace ov {
namespace {

using List = std::vector<QByteArray>;

// The list box's exact search: starts after `start`, wraps, ends at `start` itself; an
// invalid start searches from the first entry; an empty text finds nothing.
int findExact(const List& list, const QByteArray& text, int start)
{
    const int size = int(list.size());
    if (text.isEmpty() || size == 0)
        return -1;
    if (start < 0 || start >= size)
        start = size - 1;
    for (int step = 1; step <= size; ++step) {
        int at = (start + step) % size;
        if (list[size_t(at)] == text)
            return at;
    }
    return -1;
}

// The steps as documented, entry by entry, with no cleverness.
int referenceRemoveDuplicates(List& list)
{
    if (list.size() < 2)
        return 0;
    const int last = int(list.size()) - 1;
    int removed = 0;
    for (int i = 0; i <= last; ++i) {
        for (;;) {
            QByteArray s = i < int(list.size()) ? list[size_t(i)] : QByteArray();
            int b = findExact(list, s, i);
            int e = findExact(list, s, b + 1);
            if (e < 0 || e == b)
                break;
            list.erase(list.begin() + e);
            ++removed;
        }
    }
    return removed;
}

List run(List list, int* removed = nullptr)
{
    test::RecordingLoop loop;
    int count = RemoveDuplicates(list, loop);
    if (removed)
        *removed = count;
    return list;
}

TEST(RemoveDuplicates, DocumentedExamples)
{
    int removed = 0;
    EXPECT_EQ(run({"A", "B", "A"}, &removed), (List{"B", "A"}));
    EXPECT_EQ(removed, 1);
    EXPECT_EQ(run({"A", "A", "B", "A"}, &removed), (List{"A", "B"}));
    EXPECT_EQ(removed, 2);
    EXPECT_EQ(run({"A", "A", "A"}, &removed), (List{"A"}));
    EXPECT_EQ(removed, 2);
    EXPECT_EQ(run({"/a.txt", "/b.txt", "/a.txt"}), (List{"/b.txt", "/a.txt"}));
}

TEST(RemoveDuplicates, CaseAndBytesMatter)
{
    // Two files on Linux, both must be destroyed.
    EXPECT_EQ(run({"/tmp/a.txt", "/tmp/A.TXT"}), (List{"/tmp/a.txt", "/tmp/A.TXT"}));
    EXPECT_EQ(run({"/tmp/\xff", "/tmp/\xfe", "/tmp/\xff"}), (List{"/tmp/\xfe", "/tmp/\xff"}));
}

TEST(RemoveDuplicates, EmptyAndShortLists)
{
    int removed = -1;
    EXPECT_EQ(run({}, &removed), List{});
    EXPECT_EQ(removed, 0);
    EXPECT_EQ(run({"only"}, &removed), List{"only"});
    EXPECT_EQ(removed, 0);
    // An empty text is never found, so blank entries are never merged.
    EXPECT_EQ(run({"", "", "x"}, &removed), (List{"", "", "x"}));
    EXPECT_EQ(removed, 0);
}

TEST(RemoveDuplicates, AgreesWithTheDocumentedStepsOnRandomLists)
{
    QRandomGenerator random(20261207);
    for (int round = 0; round < 4000; ++round) {
        const int size = int(random.bounded(40));
        const int alphabet = 1 + int(random.bounded(12));
        List list;
        for (int i = 0; i < size; ++i) {
            int pick = int(random.bounded(alphabet + 1));
            list.push_back(pick == alphabet ? QByteArray() : "/dir/f" + QByteArray::number(pick));
        }
        List expected = list;
        const int expectedRemoved = referenceRemoveDuplicates(expected);
        int removed = -1;
        ASSERT_EQ(run(list, &removed), expected) << "round " << round;
        ASSERT_EQ(removed, expectedRemoved) << "round " << round;
    }
}

TEST(RemoveDuplicates, LargeListKeepsOneOfEach)
{
    List list;
    const QByteArray prefix = "/home/user/" + QByteArray(200, 'p') + "/";
    for (int i = 0; i < 32767; ++i)
        list.push_back(prefix + QByteArray::number(i % 16384));
    int removed = 0;
    List result = run(list, &removed);
    EXPECT_EQ(removed, 32767 - 16384);
    ASSERT_EQ(result.size(), 16384u);
    std::sort(result.begin(), result.end());
    EXPECT_EQ(std::unique(result.begin(), result.end()), result.end());
}

} // namespace
} // namespace ov

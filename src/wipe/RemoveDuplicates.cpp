#include "wipe/RemoveDuplicates.h"

#include <QHash>

#include <set>

namespace ov {

namespace {

// Counts the entries still in the list, by original position, so that "the entry at
// position i" is found in O(log n) while entries go.
class AliveIndex
{
public:
    explicit AliveIndex(int size) : m_tree(size_t(size) + 1, 0)
    {
        for (int i = 0; i < size; ++i)
            add(i, 1);
    }
    void add(int index, int delta)
    {
        for (size_t i = size_t(index) + 1; i < m_tree.size(); i += i & (~i + 1))
            m_tree[i] += delta;
    }
    // The original index of the entry now at position k (0-based).
    int find(int k) const
    {
        size_t at = 0;
        size_t step = 1;
        while (step * 2 < m_tree.size())
            step *= 2;
        int left = k + 1;
        for (; step > 0; step /= 2) {
            if (at + step < m_tree.size() && m_tree[at + step] < left) {
                at += step;
                left -= m_tree[at];
            }
        }
        return int(at);
    }

private:
    std::vector<int> m_tree;
};

} // namespace

// The list box's exact search starts after a given entry, wraps around and ends at that
// entry itself. For entry i with text s, b is the next entry with text s after i, and
// e the next after b; e is removed whenever the two differ, and entry i is looked at
// again. In a group of equal texts that means: the member after b (cyclically) goes,
// until i's group has one member left. The positions are kept as original indices in
// one ordered set per group, so nothing is searched twice.
int RemoveDuplicates(std::vector<QByteArray>& list, BlockingRunner& runner)
{
    const int size = int(list.size());
    if (size < 2)
        return 0;

    QHash<QByteArray, int> groupOf;
    std::vector<int> group(size_t(size), -1);
    std::vector<std::set<int>> members;
    for (int i = 0; i < size; ++i) {
        const QByteArray& text = list[size_t(i)];
        if (text.isEmpty())
            continue; // an empty text is never found
        auto it = groupOf.find(text);
        if (it == groupOf.end()) {
            it = groupOf.insert(text, int(members.size()));
            members.emplace_back();
        }
        group[size_t(i)] = it.value();
        members[size_t(it.value())].insert(i);
    }

    AliveIndex alive(size);
    int removed = 0;
    const int last = size - 1;
    for (int i = 0; i <= last; ++i) {
        for (;;) {
            runner.yield();
            if (i >= size - removed)
                break;
            const int current = alive.find(i);
            const int g = group[size_t(current)];
            if (g < 0 || members[size_t(g)].size() < 2)
                break;
            std::set<int>& same = members[size_t(g)];
            auto next = [&same](int after) {
                auto it = same.upper_bound(after);
                return it == same.end() ? *same.begin() : *it;
            };
            const int b = next(current);
            const int e = next(b);
            same.erase(e);
            alive.add(e, -1);
            group[size_t(e)] = -2;
            ++removed;
        }
    }

    if (removed > 0) {
        std::vector<QByteArray> kept;
        kept.reserve(size_t(size - removed));
        for (int i = 0; i < size; ++i) {
            if (group[size_t(i)] != -2)
                kept.push_back(std::move(list[size_t(i)]));
        }
        list = std::move(kept);
    }
    return removed;
}

} // namespace ov
